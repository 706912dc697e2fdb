#include "ui/download/fFileDownload.h"

#include "core/download/DownloadNeeded.h"

#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "core/store/QueueKeeper.h"
#include "platform/MessageBoxes.h"
#include "ui/shell/QueueKeeping.h"
#include "ui/shell/RepaintBatcher.h"
#include "ui/shell/WindowHelpers.h"
#include "ui/shell/WindowLinks.h"

#include "core/download/DownloadScheduler.h"
#include "core/files/HeaderTypes.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/PdfPreview.h"

#include <QTimer>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace quillax {

fFileDownload::fFileDownload(SettingsStore& settings, AppValues& values, QWidget* parent,
                             const DownloadTimeouts& timeouts, const LoginTimeouts* loginTimeouts)
    : QMainWindow(parent), settings_(settings), values_(values), timeouts_(timeouts) {
    setObjectName(QStringLiteral("fFileDownload"));
    scheduler_ = std::make_unique<DownloadScheduler>(list_, state_, options_, timeouts_);
    buildUi();
    {
        // The login panel lies over the list, in the same place.
        auto* listArea = ListView3->parentWidget();
        PicWebBK = new LoginPanel(
            listArea, loginTimeouts != nullptr ? *loginTimeouts : LoginTimeouts(), &settings_);
        qobject_cast<QGridLayout*>(listArea->layout())->addWidget(PicWebBK, 0, 0);
        connect(PicWebBK, &LoginPanel::titleChanged, this,
                [this](const QString& title) { setStatusPanelText(3, title); });
        connect(PicWebBK->findChild<QCheckBox*>(QStringLiteral("Check2")), &QCheckBox::toggled,
                this, [this] { syncOptions(); });
    }
    buildMenus();
    connectScheduler();
    load();
}

fFileDownload::~fFileDownload() {
    // The engines write into the list and the window state: they go first.
    scheduler_.reset();
}

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
    // The list is kept on disk as it changes, so that a crash loses nothing.
    if (QueueKeeper* keeper = ActiveQueueKeeper()) {
        keeper->attachDownloads(&list_);
    }
    connect(&OptionsNotifier::instance(), &OptionsNotifier::downloadMethodChanged, this,
            &fFileDownload::ApplyDownloadMethod);
    connect(&OptionsNotifier::instance(), &OptionsNotifier::optionsChanged, this,
            &fFileDownload::RefreshOptions);
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

    grid->addWidget(new QLabel(QStringLiteral("两个文件下载间隔："), Picture3), 2, 0);
    auto* intervalRow = new QHBoxLayout;
    Combo2 = new QComboBox(Picture3);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    for (int n = 0; n <= 600; ++n) {
        Combo2->addItem(QString::number(n));
    }
    intervalRow->addWidget(Combo2);
    intervalRow->addWidget(new QLabel(QStringLiteral("秒"), Picture3));
    intervalRow->addStretch();
    grid->addLayout(intervalRow, 2, 1, 1, 3);

    auto* autoRow = new QHBoxLayout;
    Check3 = new QCheckBox(QStringLiteral("自动重新下载："), Picture3);
    Check3->setObjectName(QStringLiteral("Check3"));
    Combo4 = new QComboBox(Picture3);
    Combo4->setObjectName(QStringLiteral("Combo4"));
    Combo4->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                      QStringLiteral("出错项和文件类型为HTM和HTML项!")});
    Combo4->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    autoRow->addWidget(Check3);
    autoRow->addWidget(Combo4);
    autoRow->addStretch();
    grid->addLayout(autoRow, 3, 0, 1, 4);

    Check4 = new QCheckBox(QStringLiteral("当有待下载项时，自动启动下载"), Picture3);
    Check4->setObjectName(QStringLiteral("Check4"));
    Check5 = new QCheckBox(QStringLiteral("有5个以上下载出错或者网页文件，就停止下载"), Picture3);
    Check5->setObjectName(QStringLiteral("Check5"));
    Check6 = new QCheckBox(QStringLiteral("声音提示"), Picture3);
    Check6->setObjectName(QStringLiteral("Check6"));
    grid->addWidget(Check4, 4, 0, 1, 2);
    grid->addWidget(Check5, 4, 2, 1, 3);
    grid->addWidget(Check6, 5, 0);

    auto* buttons = new QHBoxLayout;
    Command4 = new QPushButton(QStringLiteral("开始下载"), Picture3);
    Command4->setObjectName(QStringLiteral("Command4"));
    Command31 = new QPushButton(QStringLiteral("停止下载"), Picture3);
    Command31->setObjectName(QStringLiteral("Command31"));
    Command31->setToolTip(QStringLiteral("停止下载"));
    Shape1 = new QLabel(Picture3);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setFixedSize(14, 14);
    Shape1->setStyleSheet(QStringLiteral("background-color: #2fb34a; border-radius: 7px;"));
    Shape1->setVisible(false);
    buttons->addWidget(Command4);
    buttons->addWidget(Command31);
    buttons->addWidget(Shape1);
    buttons->addStretch();
    grid->addLayout(buttons, 5, 1, 1, 4);

    Command1 = new QPushButton(QStringLiteral("网页登录"), Picture3);
    Command1->setObjectName(QStringLiteral("Command1"));
    buttons->insertWidget(3, Command1);

    auto* listRow = new QHBoxLayout;
    listRow->addWidget(new QLabel(QStringLiteral("下载列表："), Picture3));
    Label1 = new QLabel(QStringLiteral("0条"), Picture3);
    Label1->setObjectName(QStringLiteral("Label1"));
    listRow->addWidget(Label1);
    listRow->addStretch();
    grid->addLayout(listRow, 6, 0, 1, 4);
    grid->setColumnStretch(4, 1);
    layout->addWidget(Picture3);

    auto* listArea = new QWidget(central);
    auto* listGrid = new QGridLayout(listArea);
    listGrid->setContentsMargins(0, 0, 0, 0);
    ListView3 = new QTreeView(listArea);
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
    new RepaintBatcher(ListView3);
    ListView3->header()->setStretchLastSection(true);
    const int widths[] = {320, 50, 90, 90, 70, 200};
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) {
        ListView3->setColumnWidth(column, widths[column]);
    }
    PaintListStripes(ListView3);
    ListView3->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView3->header()->setSectionsClickable(true);
    listGrid->addWidget(ListView3, 0, 0);
    preview_ = new PdfPreview(listArea);
    preview_->hide();
    listGrid->addWidget(preview_, 0, 1);
    layout->addWidget(listArea, 1);
    setCentralWidget(central);

    auto* StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    const int stretches[] = {2, 3, 2, 3};
    for (int i = 0; i < 4; ++i) {
        // Long texts are elided: they must never widen the window past the screen.
        panels_[i] = new ElidedLabel(StatusBar1);
        panels_[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        panels_[i]->installEventFilter(this);
        StatusBar1->addWidget(panels_[i], stretches[i]);
    }
    panels_[0]->setFullText(QString::fromUtf8(config::kPromotionText));
    panels_[0]->setCursor(Qt::PointingHandCursor);
    setStatusBar(StatusBar1);
}

void fFileDownload::load() {
    using namespace settings_keys;
    state_.LastFinishTime = SecondsSinceMidnight();
    state_.LastFinishMonotonicMs = MonotonicMs();
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
    // The stored text is compared as it is with the trimmed captions.
    setDuplicatePolicy(values_.DuplicateNamePolicy == PolicyCaption(DuplicateNamePolicy::Skip)
                           ? DuplicateNamePolicy::Skip
                       : values_.DuplicateNamePolicy ==
                               PolicyCaption(DuplicateNamePolicy::Overwrite)
                           ? DuplicateNamePolicy::Overwrite
                           : DuplicateNamePolicy::Rename);

    values_.ProxyAddress = TrimSpaces(settings_.read(kSettings, kProxyAddress, QString()));
    values_.ProxyPort = TrimSpaces(settings_.read(kSettings, kProxyPort, QString()));
    settings_.readSmallInt(kSettings, kProxyEnabled, kProxyEnabledDefault, values_.ProxyEnabled, 0,
                           1);
    settings_.readReal(kSettings, kMaxFileSize, kMaxFileSizeDefault, values_.MaxFileSizeMB);

    RestoreWindowPlacement(settings_, this);
    Combo2->setCurrentIndex(0);
    syncOptions();
    显示下载统计();
    scheduler_->StartMonitor();
}

void fFileDownload::connectScheduler() {
    DownloadScheduler* s = scheduler_.get();
    connect(Command4, &QPushButton::clicked, s, &DownloadScheduler::Start);
    connect(Command31, &QPushButton::clicked, s, &DownloadScheduler::Stop);
    connect(s, &DownloadScheduler::runningChanged, Shape1, &QWidget::setVisible);
    connect(s, &DownloadScheduler::startEnabledChanged, menu下载全部, &QAction::setEnabled);
    connect(s, &DownloadScheduler::summaryChanged, this,
            [this](const QString& text) { setStatusPanelText(4, text); });
    connect(s, &DownloadScheduler::statusPanelText, this, &fFileDownload::setStatusPanelText);
    connect(s, &DownloadScheduler::soundRequested, this,
            [](int number) { PlaySoundResource(number); });
    // The count follows the list, not only the window's activation: hand-overs add rows to a
    // window that is already active.
    connect(&list_, &QAbstractItemModel::rowsInserted, this, [this] { refreshRowCount(); });
    connect(&list_, &QAbstractItemModel::modelReset, this, [this] { refreshRowCount(); });
    // One automatic login for the whole list; the scheduler holds the rows until it ends.
    connect(s, &DownloadScheduler::autoLoginRequested, this, [this, s] {
        if (PicWebBK->automaticLogin()) {
            PicWebBK->自动登录网站(false);
        } else {
            s->loginEnded(true, QString());
        }
    });
    connect(PicWebBK, &LoginPanel::automaticLoginEnded, s, &DownloadScheduler::loginEnded);
    connect(PicWebBK, &LoginPanel::automaticLoginSent, s, &DownloadScheduler::loginSent);
    connect(s, &DownloadScheduler::scrollToRow, this,
            [this](int row) { ListView3->scrollTo(list_.index(row, 0)); });
    connect(s, &DownloadScheduler::automaticOptionsCleared, this, [this] {
        Check3->setChecked(false);
        Check4->setChecked(false);
    });
    for (QCheckBox* box : {Check3, Check4, Check5, Check6}) {
        connect(box, &QCheckBox::toggled, this, [this] { syncOptions(); });
    }
    for (QComboBox* box : {Combo1, Combo2, Combo4}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this] { syncOptions(); });
    }
    for (QRadioButton* option : {Option1, Option2, Option3}) {
        connect(option, &QRadioButton::toggled, this, [this] { syncOptions(); });
    }
}

void fFileDownload::syncOptions() {
    options_.method = values_.DownloadMethod;
    options_.threadCount = Combo1->currentIndex() + 1;
    options_.intervalSeconds = std::max(0, Combo2->currentIndex());
    options_.policy = duplicatePolicy();
    options_.autoRedownload = Check3->isChecked();
    options_.autoRedownloadKind = Combo4->currentIndex();
    options_.autoStart = Check4->isChecked();
    options_.stopAtFiveFailures = Check5->isChecked();
    options_.sounds = Check6->isChecked();
    options_.autoLocate = menu自动定位到下载项 != nullptr && menu自动定位到下载项->isChecked();
    options_.autoLogin = PicWebBK != nullptr && PicWebBK->automaticLogin();
    options_.maxFileSizeMB = values_.MaxFileSizeMB;
    options_.proxyEnabled = values_.ProxyEnabled;
    options_.proxyAddress = values_.ProxyAddress;
    options_.proxyPort = values_.ProxyPort;
}

void fFileDownload::初始化下载列表() {
    list_.clear();
    refreshRowCount();
}

void fFileDownload::showDownloadMethod() {
    Label7->setText(QStringLiteral("下载方式：") + QString::number(values_.DownloadMethod));
}

void fFileDownload::RefreshOptions() {
    syncOptions();
}

void fFileDownload::ApplyDownloadMethod(int method) {
    values_.DownloadMethod = method == 1 ? 1 : 2;
    Combo1->setEnabled(values_.DownloadMethod == 2);
    if (values_.DownloadMethod == 2) {
        Combo1->setCurrentIndex(0);
    }
    showDownloadMethod();
    syncOptions(); // running downloads go on; the next start uses the new method
}

void fFileDownload::switchDownloadMethod() {
    values_.DownloadMethod = values_.DownloadMethod == 2 ? 1 : 2;
    Combo1->setCurrentIndex(0);
    Combo1->setEnabled(values_.DownloadMethod == 2);
    showDownloadMethod();
    syncOptions(); // running downloads go on; the next start uses the new method
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
    panels_[3]->setFullText(list_.summaryText());
}

void fFileDownload::refreshRowCount() {
    Label1->setText(list_.rowCountText());
}

QString fFileDownload::statusPanelText(int panel) const {
    return panel >= 1 && panel <= 4 ? panels_[panel - 1]->fullText() : QString();
}

void fFileDownload::setStatusPanelText(int panel, const QString& text) {
    if (panel >= 1 && panel <= 4) {
        panels_[panel - 1]->setFullText(text);
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
        if (watched == panels_[1]) {
            // The panel shows a key ("a|b"), a progress text or a path: only a web address of it
            // is opened, never another scheme.
            const QString address = BrowsableAddress(panels_[1]->fullText());
            if (!address.isEmpty()) {
                OpenInBrowser(address, true);
            }
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::closeEvent(QCloseEvent* event) {
    using namespace settings_keys;
    if (closing_) {
        event->accept();
        return;
    }
    // Stored even when the user then keeps the window open.
    values_.DuplicateNamePolicy = PolicyCaption(duplicatePolicy());
    settings_.write(kPatentDownload, kDuplicatePolicy, values_.DuplicateNamePolicy);
    settings_.writeNumber(kSettings, kDownloadMethod, values_.DownloadMethod);

    const bool busy = scheduler_->inet().StillExecuting() ||
                      scheduler_->threads().统计下载控件数目() > 1 ||
                      !list_.检测是否下载列表完毕() || scheduler_->isRunning();
    if (busy && ShowMessage(QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"),
                            MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes) {
        event->ignore();
        return;
    }
    scheduler_->StopTimers();
    PicWebBK->stopKeepAlive();
    scheduler_->Stop();
    scheduler_->inet().Cancel();
    if (QueueKeeper* keeper = ActiveQueueKeeper()) {
        keeper->flushNow(); // the list goes with the window soon
    }
    SaveWindowPlacement(settings_, this);
    // Under method 1 the box shows a disabled "1": the user's thread count stays as stored.
    if (values_.DownloadMethod == 2) {
        settings_.writeNumber(kDownload, kThreads, Combo1->currentIndex());
    }
    event->accept();
    // Not loaded from now on; the object goes once the transfer loop and the login waits that
    // may still be on the stack have returned.
    closing_ = true;
    setObjectName(QString());
    idleCheck_ = new QTimer(this);
    idleCheck_->setInterval(50);
    connect(idleCheck_, &QTimer::timeout, this, [this] { deleteWhenIdle(); });
    idleCheck_->start();
}

void fFileDownload::deleteWhenIdle() {
    if (!closing_ || scheduler_->inet().StillExecuting() || PicWebBK->busy()) {
        return;
    }
    idleCheck_->stop();
    deleteLater();
}

int fFileDownload::selectedRow() const {
    // The row the user clicked last, when it is selected: with ctrl-clicks the first selected
    // row in list order is not the one the user means.
    const QModelIndex current = ListView3->currentIndex();
    if (current.isValid() && ListView3->selectionModel()->isRowSelected(current.row(), {})) {
        return current.row();
    }
    const QModelIndexList rows = ListView3->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

bool fFileDownload::downloadRunning() {
    return scheduler_->isRunning() || scheduler_->inet().StillExecuting() ||
           scheduler_->threads().统计下载控件数目() > 1;
}

bool fFileDownload::busyGuard() {
    return scheduler_->isRunning() || state_.IsDownloading;
}

} // namespace quillax
