#include "ui/download/fFileDownload.h"

#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"
#include "ui/shell/WindowHelpers.h"

#include "core/download/DownloadScheduler.h"
#include "core/download/StoredTypeCorrection.h"
#include "core/files/FileNaming.h"
#include "core/files/FileTools.h"
#include "core/files/HeaderTypes.h"
#include "core/files/TypeRecognition.h"
#include "platform/DesktopShell.h"
#include "platform/UserDialogs.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/UrlReplace.h"
#include "ui/search/fIEcache.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/AboutBoxActions.h"
#include "ui/shell/fOption.h"
#include "ui/shell/frmAbout.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

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
#include <QMenuBar>
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
    ListView3->header()->setStretchLastSection(true);
    const int widths[] = {320, 50, 90, 90, 70, 200};
    for (int column = 0; column < DownloadListModel::ColumnCount; ++column) {
        ListView3->setColumnWidth(column, widths[column]);
    }
    PaintListStripes(ListView3);
    ListView3->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView3->header()->setSectionsClickable(true);
    listGrid->addWidget(ListView3, 0, 0);
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

void fFileDownload::buildMenus() {
    menu下载 = menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    QMenu* m = menu下载;
    menu全选 = m->addAction(QStringLiteral("全选"), this, [this] { list_.selectAll(); });
    m->addAction(QStringLiteral("全不选"), this,
                 [this] { list_.selectionModel()->clearSelection(); });
    m->addAction(QStringLiteral("随机排序列表(打乱)"), this, [this] { 随机排序列表(); });
    m->addAction(QStringLiteral("自动调整列宽"), this, [this] {
        SetAllListColumnWidths(ListView3, kFitContentsAndHeader);
        PaintListStripes(ListView3);
    });
    m->addSeparator();
    // Re-downloads change rows in place and never touch one that is downloading.
    QMenu* again = m->addMenu(QStringLiteral("重新下载"));
    const auto redo = [this](const std::function<int(DownloadListModel&)>& op) {
        QCoreApplication::processEvents();
        ListView3->setUpdatesEnabled(false);
        op(list_);
        ListView3->setUpdatesEnabled(true);
        显示下载统计();
    };
    again->addAction(QStringLiteral("选中项"), this, [redo] { redo(menu重新下载选中项); });
    again->addAction(QStringLiteral("出错项"), this,
                     [redo] { redo([](DownloadListModel& l) { return menu重新下载出错项(l); }); });
    again->addAction(QStringLiteral("网页类型文件(HTM/HTML/xml)项"), this, [redo] {
        redo([](DownloadListModel& l) { return menu重新下载文件类型为HTM和HTML项(l); });
    });
    again->addAction(QStringLiteral("重新下载出错项和网页类型文件项"), this,
                     [redo] { redo(menu重新下载出错项和网页项); });
    again->addAction(QStringLiteral("文件大小小于指定数字的项"), this,
                     [this] { 文件大小小于指定数字的项(); });
    m->addSeparator();
    QMenu* clearMenu = m->addMenu(QStringLiteral("清除"));
    menu清除 = clearMenu->menuAction();
    clearMenu->addAction(QStringLiteral("选中项"), this, [this] { 清除(ListClear::Selected); });
    clearMenu->addAction(QStringLiteral("全部出错项"), this, [this] { 清除(ListClear::Failed); });
    clearMenu->addAction(QStringLiteral("完成项"), this, [this] { 清除(ListClear::Finished); });
    menu清空 = m->addAction(QStringLiteral("清空"), this, [this] { 清除(ListClear::All); });
    QMenu* deleteMenu = m->addMenu(QStringLiteral("删除文件"));
    deleteMenu->addAction(QStringLiteral("网页类型文件(HTM/HTML/xml)项"), this,
                          [this] { DeleteItemFiles(list_, true); });
    deleteMenu->addAction(QStringLiteral("出错项"), this,
                          [this] { DeleteItemFiles(list_, false); });
    m->addSeparator();
    menu下载全部 = m->addAction(QStringLiteral("开始下载"), this, [this] { scheduler_->Start(); });
    menu停止下载 = m->addAction(QStringLiteral("停止下载"), this, [this] { scheduler_->Stop(); });
    m->addAction(QStringLiteral("取消下载选中项"), this, [this] { scheduler_->CancelSelected(); });
    m->addSeparator();
    m->addAction(QStringLiteral("打开下载文件"), this, [this] { 打开下载文件(); });
    m->addAction(QStringLiteral("打开所在文件夹"), this, [this] { 打开所在文件夹(); });
    m->addAction(QStringLiteral("用记事本打开文件"), this, [this] { 用记事本打开文件(); });
    m->addSeparator();
    m->addAction(QStringLiteral("复制名称"), this, [this] { 复制名称(); });
    m->addAction(QStringLiteral("批量替换网址"), this, [this] { 批量替换网址(); });
    QMenu* exportMenu = m->addMenu(QStringLiteral("导出名称"));
    exportMenu->addAction(QStringLiteral("全部"), this, [this] { 导出名称(false); });
    exportMenu->addAction(QStringLiteral("未完成项"), this, [this] { 导出名称(true); });
    m->addSeparator();
    m->addAction(QStringLiteral("关闭本下载窗口"), this, &QWidget::close);

    QMenu* windows = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    windows->addAction(QStringLiteral("资料检索分析窗口"), this, [] { OpenSearchWindow(); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->addAction(QStringLiteral("设置"), this,
                     [this] { fOption::Show(this, settings_, values_); });
    menu自动定位到下载项 = tools->addAction(QStringLiteral("自动定位到下载项"));
    menu自动定位到下载项->setCheckable(true);
    connect(menu自动定位到下载项, &QAction::toggled, this, [this] { syncOptions(); });
    tools->addSeparator();
    tools->addAction(QStringLiteral("检查文件是否存在"), this, [this] { 检查文件是否存在(list_); });
    tools->addAction(QStringLiteral("检查并纠正磁盘文件类型"), this,
                     [this] { 检查并纠正磁盘文件类型(); });
    tools->addSeparator();
    tools->addAction(QStringLiteral("清空IE浏览器缓存"), this, [] { ClearBrowserCache(true); });
    tools->addAction(QStringLiteral("打开文件判断类型"), this, [this] { 打开文件判断类型(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(QStringLiteral("关于"), this, [this] { ShowAboutBox(this); });
    help->addSeparator();
    AddMakerPageEntry(help, QStringLiteral("最新版本"), MakerPage::Product);
    AddMakerPageEntry(help, QStringLiteral("岚舟软件淘宝店"), MakerPage::Shop);
    QMenu* sites = help->addMenu(QStringLiteral("作者网站"));
    connect(sites, &QMenu::aboutToShow, this, [] { OpenMakerPage(MakerPage::SecondSite); });
    AddMakerPageEntry(sites, QStringLiteral("岚舟软件"), MakerPage::Site);
    AddMakerPageEntry(sites, QStringLiteral("青禾软件"), MakerPage::SecondSite);
    AddMakerPageEntry(help, QStringLiteral("软件教程和问答"), MakerPage::Help);
    AddMakerPageEntry(help, QStringLiteral("软件定制"), MakerPage::Customise);
    AddSuggestionMailEntry(help, this);

    connect(ListView3, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        prepareListMenu();
        menu下载->popup(ListView3->viewport()->mapToGlobal(at));
    });
    connect(ListView3->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { columnClicked(column); });
    connect(ListView3, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { itemDoubleClicked(index.row()); });
    connect(ListView3, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { itemClicked(index.row()); });
    // A failed row, once selected, says why in panel 3 (by mouse or by keys).
    connect(ListView3->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                const int row = current.row();
                if (row >= 0 && row < list_.count() &&
                    list_.item(row).status == ItemStatus::Failed &&
                    !list_.item(row).reason.isEmpty()) {
                    setStatusPanelText(3, list_.item(row).reason);
                }
            });
    connect(Command1, &QPushButton::clicked, this, [this] {
        const int row = selectedRow();
        PicWebBK->网页登录(row >= 0 ? 选择url(list_.item(row).key) : QString());
    });
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
    connect(s, &DownloadScheduler::autoLoginRequested, this, [this] {
        if (PicWebBK->automaticLogin()) {
            PicWebBK->自动登录网站(false);
        }
    });
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

namespace {
const QString kStopFirst = QStringLiteral("停止下载以后，才能执行此操作！");
}

void fFileDownload::清除(ListClear kind) {
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    if (kind == ListClear::All && ShowMessage(QStringLiteral("您确定要清空列表的所有信息吗？"),
                                              MsgIcon::None, MsgButtons::YesNo) != MsgResult::Yes) {
        return;
    }
    // Downloads may have started while the question was open.
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    ClearListItems(list_, kind);
    refreshRowCount();
    显示下载统计();
}

void fFileDownload::随机排序列表() {
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    随机排序下载列表(
        list_, [](int n) { return static_cast<int>(QRandomGenerator::global()->bounded(n)); });
    ShowMessage(QStringLiteral("随机排序完成！"), MsgIcon::Information);
}

void fFileDownload::检查并纠正磁盘文件类型() {
    if (downloadRunning()) {
        ShowMessage(kStopFirst, MsgIcon::Information);
        return;
    }
    const int corrected = CorrectStoredFileTypes(list_);
    ShowMessage(QStringLiteral("纠正文件类型：") + QString::number(corrected) +
                    QStringLiteral("个."),
                MsgIcon::Information);
}

void fFileDownload::打开文件判断类型() {
    // "*" offers every file: downloads without a type have no dot in their names.
    const QString path = Dialogs().openFileName(this, QStringLiteral("* (*)"));
    if (path.isEmpty()) {
        return;
    }
    const QString type = 打开文件判断文件类型(path);
    ShowMessage(type.isEmpty() ? QStringLiteral("目前还无法判断。")
                               : QStringLiteral("文件类型为：") + type,
                MsgIcon::Information);
}

void fFileDownload::文件大小小于指定数字的项() {
    const std::optional<QString> answer = Dialogs().text(this, QStringLiteral("请输入数字："),
                                                         QString::fromUtf8(config::kProductTitle));
    double bytes = 0;
    if (!answer || TrimSpaces(*answer).isEmpty() || !ParseStoredNumber(*answer, bytes)) {
        return;
    }
    QCoreApplication::processEvents();
    menu重新下载文件大小小于指定数字的项(list_, bytes);
    显示下载统计();
}

void fFileDownload::导出名称(bool unfinishedOnly) {
    if (list_.count() == 0) {
        return;
    }
    const QString path =
        Dialogs().saveFileName(this, QStringLiteral("*.txt"), QStringLiteral("txt"));
    if (path.isEmpty() || !ConfirmReplace(path)) {
        return;
    }
    QSaveFile file(path);
    const QByteArray bytes = ExportNamesText(list_, unfinishedOnly).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ShowMessage(file.errorString(), MsgIcon::Error);
    }
}

QString fFileDownload::selectedFile() {
    const int row = selectedRow();
    if (row < 0) {
        return {};
    }
    const DownloadItem& item = list_.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (!FileExists(path)) {
        ShowMessage(QStringLiteral("该文件不存在！"), MsgIcon::Error);
        return {};
    }
    return path;
}

void fFileDownload::打开下载文件() {
    const QString path = selectedFile();
    if (!path.isEmpty()) {
        OpenWithDefaultProgram(path);
    }
}

void fFileDownload::打开所在文件夹() {
    const int row = selectedRow();
    if (row < 0) {
        return;
    }
    const DownloadItem& item = list_.item(row);
    if (!QFileInfo(item.folder).isDir()) {
        ShowMessage(QStringLiteral("文件夹不存在！"), MsgIcon::Error);
        return;
    }
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (!FileExists(path)) {
        Shell().openUrl(QUrl::fromLocalFile(QFileInfo(item.folder).absoluteFilePath()));
        return;
    }
    // The file manager may take its time to answer: the window does not wait for it.
    QPointer<fFileDownload> self(this);
    ShowFileInFolderAsync(path, [self](bool shown) {
        if (!shown && self) {
            ShowMessage(QStringLiteral("打开失败！"), MsgIcon::Error);
        }
    });
}

void fFileDownload::用记事本打开文件() {
    const QString path = selectedFile();
    if (path.isEmpty()) {
        return;
    }
    if (QFileInfo(path).size() > 2048LL * 1024) {
        ShowMessage(QStringLiteral("该文件太大，超过了2M，不便于用记事本打开！"), MsgIcon::Error);
        return;
    }
    OpenInTextEditor(path);
}

void fFileDownload::复制名称() {
    const int row = selectedRow();
    if (row < 0) {
        return;
    }
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(list_.item(row).name);
}

void fFileDownload::批量替换网址() {
    UrlReplace dialog(list_, this);
    dialog.exec();
}

void fFileDownload::columnClicked(int column) {
    if (busyGuard()) {
        ShowMessage(QStringLiteral("停止下载后方可排序！"), MsgIcon::Information);
        return;
    }
    sortDescending_ = !sortDescending_;
    SortDownloadList(list_, column, sortDescending_);
}

void fFileDownload::itemDoubleClicked(int row) {
    if (row < 0 || row >= list_.count()) {
        return;
    }
    const DownloadItem& item = list_.item(row);
    if (item.status == ItemStatus::Finished) {
        OpenWithDefaultProgram(ItemFilePath(item.folder, item.name, item.type));
    } else if (item.status == ItemStatus::Failed) {
        // Only a file the row itself stored, and no other row owns, is removed.
        RetryFailedItem(list_, row);
        显示下载统计();
    }
}

void fFileDownload::itemClicked(int row) {
    if (row < 0 || row >= list_.count()) {
        return;
    }
    const DownloadItem& item = list_.item(row);
    // The item click would show the file's path, but the list's click that follows replaces it
    // with the key, which is also copied: only the key stays.
    setStatusPanelText(2, item.key);
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(item.key);
}

void fFileDownload::prepareListMenu() {
    const bool busy = busyGuard();
    menu清除->setEnabled(!busy);
    menu清空->setEnabled(!busy);
    menu全选->setEnabled(!busy);
    menu停止下载->setEnabled(busy);
}

} // namespace quillax
