#include "download/fFileDownload.h"

#include "platform/MessageBoxes.h"
#include "shell/AppConfig.h"
#include "shell/AppValues.h"
#include "shell/SettingsStore.h"
#include "shell/ShellHelpers.h"
#include "shell/TextUtil.h"
#include "shell/WindowHelpers.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace quillax {

namespace {

constexpr int kMonitorIntervalMs = 1000;

float secondsSinceMidnight() {
    return static_cast<float>(QTime::currentTime().msecsSinceStartOfDay()) / 1000.0F;
}

} // namespace

fFileDownload::fFileDownload(SettingsStore& settings, AppValues& values, QWidget* parent)
    : QMainWindow(parent), settings_(settings), values_(values) {
    setObjectName(QStringLiteral("fFileDownload"));
    buildUi();
    load();
}

fFileDownload::~fFileDownload() = default;

void fFileDownload::buildUi() {
    setWindowTitle(QStringLiteral("文件下载-") + QString::fromUtf8(config::kProductTitle));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(2, 2, 2, 0);

    auto* Picture3 = new QFrame(central);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    Picture3->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(Picture3);

    Label7 = new QLabel(Picture3);
    Label7->setObjectName(QStringLiteral("Label7"));
    Command26 = new QPushButton(QStringLiteral("切换"), Picture3);
    Command26->setObjectName(QStringLiteral("Command26"));
    Command26->setToolTip(QStringLiteral("更改下载方式"));
    connect(Command26, &QPushButton::clicked, this, [this] { switchDownloadMethod(); });
    grid->addWidget(Label7, 0, 0);
    grid->addWidget(Command26, 0, 1);

    grid->addWidget(new QLabel(QStringLiteral("线程数："), Picture3), 0, 2);
    Combo1 = new QComboBox(Picture3);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    for (int n = 1; n <= 6; ++n) {
        Combo1->addItem(QString::number(n));
    }
    grid->addWidget(Combo1, 0, 3);

    grid->addWidget(new QLabel(QStringLiteral("同名文件："), Picture3), 1, 0);
    auto* policyRow = new QHBoxLayout;
    Option1 = new QRadioButton(PolicyCaption(DuplicateNamePolicy::Skip), Picture3);
    Option2 = new QRadioButton(PolicyCaption(DuplicateNamePolicy::Overwrite), Picture3);
    Option3 = new QRadioButton(PolicyCaption(DuplicateNamePolicy::Rename), Picture3);
    auto* policyGroup = new QButtonGroup(this);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2->setObjectName(QStringLiteral("Option2"));
    Option3->setObjectName(QStringLiteral("Option3"));
    for (QRadioButton* option : {Option1, Option2, Option3}) {
        policyGroup->addButton(option);
        policyRow->addWidget(option);
    }
    policyRow->addStretch();
    grid->addLayout(policyRow, 1, 1, 1, 3);

    auto* listRow = new QHBoxLayout;
    listRow->addWidget(new QLabel(QStringLiteral("下载列表："), Picture3));
    Label1 = new QLabel(QStringLiteral("0条"), Picture3);
    Label1->setObjectName(QStringLiteral("Label1"));
    listRow->addWidget(Label1);
    listRow->addStretch();
    grid->addLayout(listRow, 2, 0, 1, 4);
    grid->setColumnStretch(4, 1);
    layout->addWidget(Picture3);

    ListView3 = new QTreeView(central);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setToolTip(QStringLiteral("双击鼠标：下载当前项或者打开文件"));
    ListView3->setRootIsDecorated(false);
    ListView3->setUniformRowHeights(true);
    ListView3->setItemsExpandable(false);
    ListView3->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView3->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView3->setModel(&list_);
    ListView3->setSelectionModel(list_.selectionModel());
    ListView3->header()->setStretchLastSection(true);
    const int widths[] = {320, 50, 90, 90, 70, 200};
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) {
        ListView3->setColumnWidth(column, widths[column]);
    }
    PaintListStripes(ListView3);
    layout->addWidget(ListView3, 1);
    setCentralWidget(central);

    auto* StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    const int stretches[] = {2, 3, 2, 3};
    for (int i = 0; i < 4; ++i) {
        panels_[i] = new QLabel(StatusBar1);
        panels_[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        panels_[i]->setTextFormat(Qt::PlainText);
        panels_[i]->installEventFilter(this);
        StatusBar1->addWidget(panels_[i], stretches[i]);
    }
    panels_[0]->setText(QString::fromUtf8(config::kPromotionText));
    panels_[0]->setCursor(Qt::PointingHandCursor);
    setStatusBar(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kMonitorIntervalMs);
    connect(Timer1, &QTimer::timeout, this, [this] { 显示下载统计(); });
}

void fFileDownload::load() {
    using namespace settings_keys;
    state_.LastFinishTime = secondsSinceMidnight();
    初始化下载列表();

    settings_.readSmallInt(kSettings, kDownloadMethod, kDownloadMethodDefault,
                           values_.DownloadMethod, 1, 2);
    Combo1->setCurrentIndex(0);
    if (values_.DownloadMethod == 1) {
        Combo1->setEnabled(false);
    } else {
        Combo1->setEnabled(true);
        int index = Combo1->currentIndex();
        settings_.readSmallInt(kDownload, kThreads, kThreadsDefault, index, 0, Combo1->count() - 1);
        Combo1->setCurrentIndex(index);
    }
    showDownloadMethod();

    values_.DuplicateNamePolicy =
        settings_.read(kPatentDownload, kDuplicatePolicy, kDuplicatePolicyDefault);
    setDuplicatePolicy(PolicyFromCaption(values_.DuplicateNamePolicy));

    values_.ProxyAddress = TrimSpaces(settings_.read(kSettings, kProxyAddress, QString()));
    values_.ProxyPort = TrimSpaces(settings_.read(kSettings, kProxyPort, QString()));
    settings_.readSmallInt(kSettings, kProxyEnabled, kProxyEnabledDefault, values_.ProxyEnabled, 0,
                           1);
    settings_.readReal(kSettings, kMaxFileSize, kMaxFileSizeDefault, values_.MaxFileSizeMB);

    RestoreWindowPlacement(settings_, this);
    显示下载统计();
    Timer1->start();
}

void fFileDownload::初始化下载列表() {
    list_.clear();
    refreshRowCount();
}

void fFileDownload::showDownloadMethod() {
    Label7->setText(QStringLiteral("下载方式：") + QString::number(values_.DownloadMethod));
}

void fFileDownload::switchDownloadMethod() {
    values_.DownloadMethod = values_.DownloadMethod == 2 ? 1 : 2;
    Combo1->setCurrentIndex(0);
    Combo1->setEnabled(values_.DownloadMethod == 2);
    showDownloadMethod();
}

DuplicateNamePolicy fFileDownload::duplicatePolicy() const {
    if (Option1->isChecked()) {
        return DuplicateNamePolicy::Skip;
    }
    if (Option2->isChecked()) {
        return DuplicateNamePolicy::Overwrite;
    }
    return DuplicateNamePolicy::Rename;
}

void fFileDownload::setDuplicatePolicy(DuplicateNamePolicy policy) {
    switch (policy) {
    case DuplicateNamePolicy::Skip:
        Option1->setChecked(true);
        break;
    case DuplicateNamePolicy::Overwrite:
        Option2->setChecked(true);
        break;
    case DuplicateNamePolicy::Rename:
        Option3->setChecked(true);
        break;
    }
}

bool fFileDownload::确定是需要下载(int row) {
    return quillax::确定是需要下载(list_, row, duplicatePolicy());
}

QString fFileDownload::重命名保存路径(const QString& folder, const QString& name,
                                      const QString& type, QString* newName) const {
    return quillax::重命名保存路径(folder, name, type, duplicatePolicy(), newName);
}

void fFileDownload::显示下载统计() {
    panels_[3]->setText(list_.summaryText());
}

void fFileDownload::refreshRowCount() {
    Label1->setText(list_.rowCountText());
}

QString fFileDownload::statusPanelText(int panel) const {
    return panel >= 1 && panel <= 4 ? panels_[panel - 1]->text() : QString();
}

void fFileDownload::setStatusPanelText(int panel, const QString& text) {
    if (panel >= 1 && panel <= 4) {
        panels_[panel - 1]->setText(text);
    }
}

void fFileDownload::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        refreshRowCount();
    }
    QMainWindow::changeEvent(event);
}

bool fFileDownload::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == panels_[0]) {
            OpenInBrowser(config::makerSecondSite(), false);
            return true;
        }
        if (watched == panels_[1] && !panels_[1]->text().isEmpty()) {
            OpenInBrowser(panels_[1]->text(), true);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::closeEvent(QCloseEvent* event) {
    using namespace settings_keys;
    values_.DuplicateNamePolicy = PolicyCaption(duplicatePolicy());
    settings_.write(kPatentDownload, kDuplicatePolicy, values_.DuplicateNamePolicy);
    settings_.writeNumber(kSettings, kDownloadMethod, values_.DownloadMethod);

    if (!list_.检测是否下载列表完毕() &&
        ShowMessage(QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"),
                    MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes) {
        event->ignore();
        return;
    }
    Timer1->stop();
    state_.IsDownloading = false;
    SaveWindowPlacement(settings_, this);
    settings_.writeNumber(kDownload, kThreads, Combo1->currentIndex());
    event->accept();
}

} // namespace quillax
