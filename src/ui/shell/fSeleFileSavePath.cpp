#include "ui/shell/fSeleFileSavePath.h"

#include "core/files/FileNaming.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"
#include "platform/UserDialogs.h"
#include "ui/shell/FolderListCombo.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace quillax {

QString BrowseStartFolder(const QString& start) {
    if (TrimSpaces(start).isEmpty()) {
        return QDir::homePath() + QLatin1Char('/');
    }
    QString folder = start;
    if (folder.startsWith(QLatin1String("~/"))) {
        folder = QDir::homePath() + folder.mid(1);
    }
    const qsizetype slash = folder.lastIndexOf(QLatin1Char('/'), folder.size() - 2);
    if (slash >= 0) {
        folder = folder.left(slash + 1); // the parent: /data/Papers/2023/ opens on /data/Papers/
    }
    if (!QFileInfo(folder).isDir()) {
        folder = QDir::homePath() + QLatin1Char('/');
    }
    return folder;
}

QString BrowseForFolder(QWidget* owner, const QString& start, const QString& title,
                        bool includeFiles) {
    Q_UNUSED(includeFiles); // the desktop's folder dialog shows the files it needs
    QString result = Dialogs().folder(owner, title, BrowseStartFolder(start));
    if (result.isEmpty()) {
        result = start;
    }
    return WithTrailingSlash(result);
}

fSeleFileSavePath::fSeleFileSavePath(SettingsStore& settings, AppValues& values, QWidget* parent)
    : QDialog(parent), settings_(settings), values_(values) {
    setObjectName(QStringLiteral("fSeleFileSavePath"));
    setWindowTitle(QStringLiteral("选择下载保存路径－岚舟软件"));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("保存到文件夹："), this), 0, 0);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setMinimumWidth(320);
    grid->addWidget(Combo1, 0, 1);
    auto* Command1 = new QPushButton(QStringLiteral("..."), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setMaximumWidth(36);
    grid->addWidget(Command1, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("保存文件名为："), this), 1, 0);
    auto* names = new QHBoxLayout;
    Option1 = new QRadioButton(QStringLiteral("原文件名"), this);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("文章标题名称"), this);
    Option2->setObjectName(QStringLiteral("Option2"));
    Option2->setChecked(true);
    names->addWidget(Option1);
    names->addWidget(Option2);
    names->addStretch();
    grid->addLayout(names, 1, 1, 1, 2);
    auto* buttons = new QHBoxLayout;
    auto* Command2 = new QPushButton(QStringLiteral("确定"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    auto* Command3 = new QPushButton(QStringLiteral("取消"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command3);
    grid->addLayout(buttons, 2, 0, 1, 3);
    connect(Command1, &QPushButton::clicked, this, [this] { 浏览(); });
    connect(Command2, &QPushButton::clicked, this, [this] { 确定(); });
    connect(Command3, &QPushButton::clicked, this, [this] { 取消(); });

    if (values_.UseOriginalFileName) {
        Option1->setChecked(true);
    }
    LoadFolderList(Combo1, SaveListPath());
    values_.SaveFolder =
        settings_.read(settings_keys::kSettings, settings_keys::kSaveFolder, DefaultSaveFolder());
    Combo1->setEditText(values_.SaveFolder);
    FitComboDropWidth(Combo1);
}

void fSeleFileSavePath::Show(QWidget* parent, SettingsStore& settings, AppValues& values) {
    fSeleFileSavePath dialog(settings, values, parent);
    dialog.exec();
}

void fSeleFileSavePath::浏览() {
    Combo1->setEditText(BrowseForFolder(this, Combo1->currentText(),
                                        QStringLiteral("请选择要浏览的文件夹:"), false));
}

bool fSeleFileSavePath::确定() {
    values_.UseOriginalFileName = Option1->isChecked();
    QString folder = TrimSpaces(Combo1->currentText());
    if (folder.startsWith(QLatin1String("~/"))) {
        folder = QDir::homePath() + folder.mid(1);
    } else if (!folder.isEmpty() && QDir::isRelativePath(folder)) {
        folder = QDir::homePath() + QLatin1Char('/') + folder; // relative to the home folder
    }
    const QString made = folder.isEmpty() ? QString() : EnsureFolderPath(WithTrailingSlash(folder));
    if (made.isEmpty()) {
        // What the user typed stays, to be corrected, and the message says what is wrong.
        const QString why = FolderCreateProblem(folder);
        ShowMessage(QStringLiteral("文件夹设置错误！") +
                        (why.isEmpty() ? QString() : QLatin1Char('\n') + why),
                    MsgIcon::Error);
        return false;
    }
    Combo1->setEditText(made);
    values_.SaveFolder = WithTrailingSlash(made);
    settings_.write(settings_keys::kSettings, settings_keys::kSaveFolder, values_.SaveFolder);
    values_.SaveFolderCancelled = false;
    // Newest first, so that the list keeps the folders in use, not the first hundred ever used.
    RememberFolder(Combo1, TrimSpaces(made));
    SaveFolderList(Combo1, SaveListPath());
    accept();
    return true;
}

void fSeleFileSavePath::取消() {
    values_.SaveFolderCancelled = true;
    reject();
}

} // namespace quillax
