#include "ui/shell/Form_Copy_Move.h"

#include "core/files/CopyFiles.h"
#include "core/files/FileNaming.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"
#include "ui/shell/FolderListCombo.h"
#include "ui/shell/fSeleFileSavePath.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace quillax {

namespace {

const QString kStart = QStringLiteral("开始");
const QString kStop = QStringLiteral("停止");

} // namespace

void ShowCopyFilesDialog(QWidget* parent, const QStringList& files) {
    Form_Copy_Move dialog(parent);
    dialog.FileList = files;
    dialog.setWindowTitle(QStringLiteral("复制文件：") + QString::number(files.size()) +
                          QStringLiteral(" 个文件..."));
    dialog.exec();
}

Form_Copy_Move::Form_Copy_Move(QWidget* parent, SettingsStore* store, const QString& folderListPath)
    : QDialog(parent), store_(store),
      folderListPath_(folderListPath.isEmpty() ? SaveListPath() : folderListPath) {
    if (store_ == nullptr) {
        ownStore_ = std::make_unique<SettingsStore>();
        store_ = ownStore_.get();
    }
    setObjectName(QStringLiteral("Form_Copy_Move"));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("目的文件夹："), this);
    Combo1 = new QComboBox(this);
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    Command3 = new QPushButton(QStringLiteral("浏览"), this);

    Frame1 = new QGroupBox(QStringLiteral("如果同名文件已经存在"), this);
    auto* frameLayout = new QVBoxLayout(Frame1);
    const QStringList captions = {
        QStringLiteral("跳过"), QStringLiteral("覆盖"), QStringLiteral("自动重命名"),
        QStringLiteral("文件大小和修改时间均相同：覆盖；否则：自动重命名"),
        QStringLiteral("文件大小相同：覆盖；否则：自动重命名")};
    for (int i = 0; i < 5; ++i) {
        Option1[i] = new QRadioButton(captions.at(i), Frame1);
        frameLayout->addWidget(Option1[i]);
        connect(Option1[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) {
                OpIndex = i + 1;
            }
        });
    }

    Label2 = new QLabel(QStringLiteral("进度;"), this);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Label4 = new QLabel(QStringLiteral("当前文件："), this);
    Label3 = new QLabel(this);
    Label3->setTextFormat(Qt::PlainText);
    Label3->setMinimumWidth(300);
    Command1 = new QPushButton(kStart, this);
    Command2 = new QPushButton(QStringLiteral("关闭"), this);
    Command1->setDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(Combo1, 0, 1);
    grid->addWidget(Command3, 0, 2);
    grid->addWidget(Frame1, 1, 0, 1, 3);
    grid->addWidget(Label2, 2, 0);
    grid->addWidget(ProgressBar1, 2, 1, 1, 2);
    grid->addWidget(Label4, 3, 0);
    grid->addWidget(Label3, 3, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());

    connect(Command3, &QPushButton::clicked, this, [this] { browse(); });
    connect(Command1, &QPushButton::clicked, this, [this] { 执行(); });
    connect(Command2, &QPushButton::clicked, this, [this] { close(); });

    // Form_Load.
    using namespace settings_keys;
    LoadFolderList(Combo1, folderListPath_);
    const QString downloads =
        WithTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    DestFolder = store_->read(kCopyMove, kCopyDestination, downloads);
    int option = kDefaultSameNameOption;
    store_->readSmallInt(kCopyMove, kCopyOption, kCopyOptionDefault, option, 1, 5);
    OpIndex = option;
    FitComboDropWidth(Combo1);
    Combo1->setEditText(DestFolder);
    Option1.at(OpIndex - 1)->setChecked(true);
}

Form_Copy_Move::~Form_Copy_Move() = default;

void Form_Copy_Move::browse() {
    Combo1->setEditText(BrowseForFolder(this, Combo1->currentText(),
                                        QStringLiteral("请选择要浏览的文件夹:"), false));
}

void Form_Copy_Move::执行() {
    // A click while a run is under way is the stop button: nothing else of the run may happen.
    if (Copying) {
        Command1->setText(kStart);
        Copying = false;
        return;
    }
    if (running_) {
        return; // a stopped run is still finishing its current file
    }
    const QString folder = EnsureFolderPath(TrimSpaces(Combo1->currentText()));
    Combo1->setEditText(folder);
    if (folder.isEmpty()) {
        ShowMessage(QStringLiteral("创建文件夹出错！"), MsgIcon::Error);
        return;
    }
    DestFolder = WithTrailingSlash(folder);
    using namespace settings_keys;
    store_->write(kCopyMove, kCopyDestination, DestFolder);
    store_->write(kCopyMove, kCopyOption, QString::number(OpIndex));

    const QString trimmed = TrimSpaces(Combo1->currentText());
    // Newest first, so that the list keeps the folders in use, not the first hundred ever used.
    RememberFolder(Combo1, trimmed);
    Combo1->setEditText(trimmed);
    SaveFolderList(Combo1, folderListPath_);

    Label3->clear();
    FileList.removeIf([](const QString& path) { return !FileExists(path); });
    if (FileList.isEmpty()) {
        return;
    }

    Command1->setText(kStop);
    Copying = true;
    running_ = true;
    // The list may change while the queue runs (the dialog closing empties it).
    const QStringList files = FileList;
    const auto option = static_cast<SameNameOption>(OpIndex);
    const QString destination = DestFolder;
    ProgressBar1->setRange(0, static_cast<int>(files.size()) + 1);
    ProgressBar1->setValue(0);
    CopyRunTally tally;
    qsizetype done = 0;
    for (; done < files.size() && Copying; ++done) {
        ProgressBar1->setValue(static_cast<int>(done + 1));
        const QString& source = files.at(done);
        if (SameResolvedFolder(QFileInfo(source).absolutePath(), destination)) {
            tally.add(CopyOutcome::SameFolder, QString());
            continue;
        }
        QString extension;
        QString baseName;
        SplitFilePath(source, &extension, &baseName);
        const QString name = JoinFileName(baseName, extension);
        Label3->setText(name);
        Q_EMIT fileShown(static_cast<int>(done + 1));
        QCoreApplication::processEvents();
        // A failed file does not stop the run; it is counted and named at the end.
        tally.add(CopyIntoFolder(source, destination, option), name);
    }
    tally.notReached = static_cast<int>(files.size() - done);
    ProgressBar1->setValue(0);
    Label3->clear();
    Command1->setText(kStart);
    Copying = false;
    running_ = false;
    ShowMessage(CopyRunMessage(tally, tally.notReached > 0),
                tally.failed > 0 ? MsgIcon::Error : MsgIcon::Information);
}

void Form_Copy_Move::done(int result) {
    // Closing during a run stops it, like 停止.
    if (Copying) {
        Copying = false;
        Command1->setText(kStart);
    }
    FileList.clear();
    QDialog::done(result);
}

} // namespace quillax
