#include "ui/search/fWebSearch.h"

#include "core/search/AddressInput.h"
#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"
#include "platform/UserDialogs.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/ResultPageReader.h"
#include "ui/search/fIEcache.h"
#include "ui/shell/AboutBoxActions.h"
#include "ui/shell/WindowHelpers.h"
#include "ui/shell/fCover.h"
#include "ui/shell/fOption.h"
#include "ui/shell/fSeleFileSavePath.h"
#include "ui/shell/frmAbout.h"

#include "core/download/DownloadOptions.h"

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QEventLoop>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>

namespace quillax {

namespace {

constexpr int kMinWidth = 600;    // 9000 twips
constexpr int kMinHeight = 333;   // 5000 twips
constexpr int kBarLowestGap = 80; // 1200 twips: the bar stays this far above the bottom edge
// The browser's and the list's shares of the height when the window opens: the list shows a
// dozen rows, not three.
constexpr int kBrowserShare = 3;
constexpr int kListShare = 2;
const QString kAddAllCaption = QStringLiteral("加入全部到列表");
const QString kStopAddAllCaption = QStringLiteral("停止加入全部");

QPointer<fWebSearch>& current() {
    static QPointer<fWebSearch> window;
    return window;
}

} // namespace

/// Counts the window's procedures that yield to the event queue: the window is deleted only
/// once none of them is on the stack.
class fWebSearch::LoopGuard {
public:
    explicit LoopGuard(fWebSearch* w) : window_(w) { ++window_->loops_; }
    ~LoopGuard() {
        if (window_ != nullptr) {
            --window_->loops_;
            window_->deleteWhenIdle();
        }
    }
    LoopGuard(const LoopGuard&) = delete;
    LoopGuard& operator=(const LoopGuard&) = delete;

private:
    QPointer<fWebSearch> window_;
};

fWebSearch::fWebSearch(SettingsStore& settings, AppValues& values, QWidget* parent,
                       const SearchTimeouts& timeouts)
    : QMainWindow(parent), settings_(settings), values_(values), timeouts_(timeouts) {
    setObjectName(QStringLiteral("fWebSearch"));
    buildUi();
    buildMenus();
    connectBrowser();
    load();
}

fWebSearch::~fWebSearch() = default;

void fWebSearch::buildUi() {
    setWindowTitle(QStringLiteral("EBSCO数据检索分析-") + QString::fromUtf8(config::kProductTitle));
    setMinimumSize(kMinWidth, kMinHeight);

    PicBar = new QSplitter(Qt::Vertical, this);
    PicBar->setObjectName(QStringLiteral("PicBar"));
    PicBar->setChildrenCollapsible(false);
    PicBar->setHandleWidth(6);

    PicPanWeb = new QWidget(PicBar);
    PicPanWeb->setObjectName(QStringLiteral("PicPanWeb"));
    auto* web = new QVBoxLayout(PicPanWeb);
    web->setContentsMargins(2, 2, 2, 0);
    auto* addressRow = new QHBoxLayout;
    Combo1 = new QComboBox(PicPanWeb);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The box shows the page on display and opens what is typed into it; its list holds the
    // visited addresses, which only page loads add to.
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setCompleter(nullptr);
    Combo1->setToolTip(QStringLiteral("输入网址后按回车打开，下拉可选访问过的网址"));
    Command1 = new QPushButton(QStringLiteral("清空"), PicPanWeb);
    Command1->setObjectName(QStringLiteral("Command1"));
    Check2 = new QCheckBox(QStringLiteral("禁止浏览器弹出脚本提示"), PicPanWeb);
    Check2->setObjectName(QStringLiteral("Check2"));
    addressRow->addWidget(Combo1, 1);
    addressRow->addWidget(Command1);
    addressRow->addWidget(Check2);
    web->addLayout(addressRow);
    WebBrowser1 = new WebBrowser(PicPanWeb);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    web->addWidget(WebBrowser1, 1);

    PicPanList = new QWidget(PicBar);
    PicPanList->setObjectName(QStringLiteral("PicPanList"));
    auto* listLayout = new QVBoxLayout(PicPanList);
    listLayout->setContentsMargins(2, 0, 2, 2);
    auto* countRow = new QHBoxLayout;
    Label2 = new QLabel(QStringLiteral("待下载列表："), PicPanList);
    Label1 = new QLabel(QStringLiteral("0"), PicPanList);
    Label1->setObjectName(QStringLiteral("Label1"));
    countRow->addWidget(Label2);
    countRow->addWidget(Label1);
    countRow->addStretch();
    listLayout->addLayout(countRow);
    ListView1 = new QTreeView(PicPanList);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(&list_);
    ListView1->setSelectionModel(list_.selectionModel());
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    // The title takes the room the other columns leave and is cut short, so the status stays in
    // view however long a title is; the whole title is its tool tip.
    ListView1->setTextElideMode(Qt::ElideRight);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionResizeMode(AnalysisListModel::ColTitle, QHeaderView::Stretch);
    PaintListStripes(ListView1);
    listLayout->addWidget(ListView1, 1);

    auto* buttons = new QHBoxLayout;
    Command9 = new QPushButton(QStringLiteral("加入本页到列表"), PicPanList);
    Command9->setObjectName(QStringLiteral("Command9"));
    Command4 = new QPushButton(kAddAllCaption, PicPanList);
    Command4->setObjectName(QStringLiteral("Command4"));
    Label4 = new QLabel(QStringLiteral("限速延时："), PicPanList);
    Combo2 = new QComboBox(PicPanList);
    Combo2->setObjectName(QStringLiteral("Combo2"));
    for (int s = 0; s <= 60; ++s) {
        Combo2->addItem(QString::number(s));
    }
    Command2 = new QPushButton(QStringLiteral("分析下载"), PicPanList);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command7 = new QPushButton(QStringLiteral("导出数据..."), PicPanList);
    Command7->setObjectName(QStringLiteral("Command7"));
    buttons->addWidget(Command9);
    buttons->addWidget(Command4);
    buttons->addSpacing(12);
    buttons->addWidget(Label4);
    buttons->addWidget(Combo2);
    buttons->addWidget(new QLabel(QStringLiteral("秒"), PicPanList));
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command7);
    listLayout->addLayout(buttons);

    // The progress panel covers the list pane's buttons while an analysis runs.
    PicPanPrograss = new QFrame(PicPanList);
    PicPanPrograss->setObjectName(QStringLiteral("PicPanPrograss"));
    PicPanPrograss->setFrameShape(QFrame::Panel);
    PicPanPrograss->setFrameShadow(QFrame::Raised);
    PicPanPrograss->setAutoFillBackground(true);
    auto* progress = new QHBoxLayout(PicPanPrograss);
    Label11 = new QLabel(QStringLiteral("正在分析，请稍候..."), PicPanPrograss);
    Label11->setObjectName(QStringLiteral("Label11"));
    Command5 = new QPushButton(QStringLiteral("停止"), PicPanPrograss);
    Command5->setObjectName(QStringLiteral("Command5"));
    progress->addWidget(Label11, 1);
    progress->addWidget(Command5);
    PicPanPrograss->hide();

    PicBar->setStretchFactor(0, kBrowserShare);
    PicBar->setStretchFactor(1, kListShare);
    setCentralWidget(PicBar);

    panel1_ = new QLabel(this);
    panel1_->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(panel1_);
    // Page addresses can be of any length: these panels elide them rather than widen the window.
    panel2_ = new ElidedLabel(this);
    statusBar()->addWidget(panel2_, 3);
    panel3_ = new ElidedLabel(this);
    panel3_->setObjectName(QStringLiteral("noticePanel"));
    statusBar()->addWidget(panel3_, 2);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    panel1_->setText(QString::fromUtf8(config::kProductTitle));

    connect(Command1, &QPushButton::clicked, this, [this] {
        Combo1->clear();
        showAddress(); // emptying the history leaves the page's address in the box
    });
    connect(Combo1->lineEdit(), &QLineEdit::returnPressed, this, [this] { 打开输入的网址(); });
    connect(Combo1, &QComboBox::activated, this, [this](int index) {
        // The box also reports the page on display as chosen when it loses the focus: that is
        // no reason to load the page again under a running take or analysis.
        if (Combo1->count() > 0 && index >= 0 &&
            Combo1->itemText(index) != WebBrowser1->url().toString()) {
            WebBrowser1->Navigate(Combo1->itemText(index));
        }
    });
    connect(Check2, &QCheckBox::toggled, this,
            [this](bool checked) { WebBrowser1->setSilent(checked); });
    connect(Command9, &QPushButton::clicked, this, [this] { 加入本页到列表(); });
    connect(Command4, &QPushButton::clicked, this, [this] { 加入全部到列表(); });
    connect(Command2, &QPushButton::clicked, this, [this] { 分析下载(); });
    connect(Command7, &QPushButton::clicked, this, [this] { 导出数据(); });
    connect(Command5, &QPushButton::clicked, this, [this] { 停止分析(); });
    connect(PicBar, &QSplitter::splitterMoved, this, [this] { layoutPanes(); });
    connect(&list_, &QAbstractItemModel::modelReset, this, [this] { refreshCount(); });
    connect(&list_, &QAbstractItemModel::rowsInserted, this, [this] { refreshCount(); });
    fitColumns();
}

void fWebSearch::buildMenus() {
    menu加入 = new QMenu(QStringLiteral("加入"), this);
    menu加入->setObjectName(QStringLiteral("menu加入"));
    menu加入->addAction(QStringLiteral("分析未分析项"), this,
                        [this] { runAnalysis(AnalysisRun::Unanalysed); });
    menu加入->addAction(QStringLiteral("分析失败项"), this,
                        [this] { runAnalysis(AnalysisRun::Failed); });
    menu加入->addAction(QStringLiteral("分析选中项"), this,
                        [this] { runAnalysis(AnalysisRun::Selected); });
    menu加入->addAction(QStringLiteral("分析全部"), this,
                        [this] { runAnalysis(AnalysisRun::All); });
    // Dismissed without a choice: the button comes back. A chosen run has started by the time
    // this arrives, and gives the button back when it ends.
    connect(menu加入, &QMenu::aboutToHide, this, [this] {
        QTimer::singleShot(0, this, [this] {
            if (AnalysisStopped) {
                Command2->setEnabled(true);
            }
        });
    });

    QMenu* browse = menuBar()->addMenu(QStringLiteral("浏览(&B)"));
    browse->addAction(QStringLiteral("打开EBSCO首页"), this, [this] { 打开EBSCO首页(); });
    browse->addAction(QStringLiteral("打开指定网址..."), this, [this] { 打开指定网址(); });
    browse->addSeparator();
    browse->addAction(QStringLiteral("后退"), this, [this] { WebBrowser1->GoBack(); });
    browse->addAction(QStringLiteral("前进"), this, [this] { WebBrowser1->GoForward(); });
    browse->addSeparator();
    browse->addAction(QStringLiteral("关闭本窗口"), this, [this] { close(); });

    menu清除 = menuBar()->addMenu(QStringLiteral("清除(&C)"));
    menu清除->addAction(QStringLiteral("清除选中项"), this,
                        [this] { clearRows(ClearKind::Selected); });
    menu清除->addAction(QStringLiteral("清除分析成功项"), this,
                        [this] { clearRows(ClearKind::Succeeded); });
    menu清除->addAction(QStringLiteral("清除标题含指定字符项"), this,
                        [this] { clearRows(ClearKind::TitleContains); });
    menu清除->addAction(QStringLiteral("清除标题不含指定字符项"), this,
                        [this] { clearRows(ClearKind::TitleLacks); });
    menu清除->addAction(QStringLiteral("清空全部"), this, [this] { clearRows(ClearKind::All); });
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { menu清除->popup(ListView1->viewport()->mapToGlobal(at)); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->addAction(QStringLiteral("设置"), this, [this] {
        LoopGuard guard(this);
        fOption::Show(this, settings_, values_);
    });
    tools->addAction(QStringLiteral("打开下载窗口"), this, [] {
        fFileDownload* window = EnsureDownloadWindow();
        window->show();
        window->raise();
    });
    tools->addSeparator();
    tools->addAction(QStringLiteral("查看IE浏览器缓存"), this, [this] {
        LoopGuard guard(this);
        ShowBrowserCacheViewer(this);
    });
    tools->addAction(QStringLiteral("清空IE浏览器缓存"), this, [] { ClearBrowserCache(true); });
    tools->addAction(QStringLiteral("网页另存为"), this, [this] { 网页另存为(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(QStringLiteral("关于(&A)"), this, [this] {
        LoopGuard guard(this);
        ShowAboutBox(this);
    });
    help->addSeparator();
    AddMakerPageEntry(help, QStringLiteral("最新版本"), MakerPage::Product);
    QMenu* sites = help->addMenu(QStringLiteral("作者网站"));
    AddMakerPageEntry(sites, QStringLiteral("岚舟软件"), MakerPage::Site);
    AddMakerPageEntry(sites, QStringLiteral("青禾软件"), MakerPage::SecondSite);
    AddMakerPageEntry(help, QStringLiteral("软件定制"), MakerPage::Customise);
}

void fWebSearch::connectBrowser() {
    connect(WebBrowser1, &WebBrowser::BeforeNavigate2, this,
            [this](const QString& address) { statusBar()->setVisible(!isMakerAddress(address)); });
    connect(WebBrowser1, &WebBrowser::StatusTextChange, this,
            [this](const QString& text) { panel2_->setFullText(text); });
    connect(WebBrowser1, &WebBrowser::TitleChange, this,
            [this](const QString& title) { onTitleChange(title); });
    // Only the top-level document's completion ends a page wait.
    connect(WebBrowser1, &WebBrowser::DocumentComplete, this,
            [this](const QString&, bool) { PageLoading = false; });
    connect(WebBrowser1, &QWebEngineView::urlChanged, this, [this] { showAddress(); });
    // A page that cannot be reached is told in the status bar too, besides the browser's own
    // error page. A load that another navigation cut short is no failure.
    connect(WebBrowser1->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus) {
                    showNotice(PageFailedNotice(info.url().toString()));
                    pageFailedShown_ = true;
                } else if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus &&
                           pageFailedShown_) {
                    showNotice(QString());
                }
            });
}

void fWebSearch::showAddress() {
    QLineEdit* edit = Combo1->lineEdit();
    // What the user is typing stays until Enter.
    if (edit->hasFocus() && edit->isModified()) {
        return;
    }
    const QString address = WebBrowser1->url().toString();
    // The history entry of the page, when there is one, becomes the box's current item: a box
    // whose text names another entry than its current one reports that entry as chosen when it
    // loses the focus.
    const int entry = Combo1->findText(address, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (entry >= 0) {
        Combo1->setCurrentIndex(entry);
    }
    edit->setText(address.compare(QLatin1String("about:blank"), Qt::CaseInsensitive) == 0
                      ? QString()
                      : address);
}

void fWebSearch::showNotice(const QString& text) {
    panel3_->setFullText(text);
    pageFailedShown_ = false;
}

void fWebSearch::打开输入的网址() {
    const TypedAddress typed = ReadTypedAddress(Combo1->currentText());
    if (typed.kind == TypedAddress::Empty) {
        return;
    }
    if (typed.kind != TypedAddress::Web) {
        // The typed text stays in the box, to be put right.
        LoopGuard guard(this);
        ShowMessage(TypedAddressMessage(typed.kind), MsgIcon::Error);
        return;
    }
    Combo1->lineEdit()->setText(typed.url.toString());
    WebBrowser1->Navigate(typed.url.toString(QUrl::FullyEncoded));
}

void fWebSearch::load() {
    using namespace settings_keys;
    settings_.readSmallInt(kSettings, kPromptSavePath, kPromptSavePathDefault,
                           values_.PromptSavePath);
    Combo2->setCurrentIndex(10);
    int delay = 10;
    if (settings_.readSmallInt(kWebSearch, kSearchDelay, kSearchDelayDefault, delay, 0, 60)) {
        Combo2->setCurrentIndex(delay);
    }
    Check2->setChecked(true);
    WebBrowser1->setSilent(true);
    WebBrowser1->Navigate(QStringLiteral("about:blank"));
    AnalysisStopped = true;
}

void fWebSearch::Open() {
    // A size that leaves the browser room; the panes share it when the window first shows.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        resize(std::max(kMinWidth, std::min(1200, area.width() * 9 / 10)),
               std::max(kMinHeight, std::min(820, area.height() * 9 / 10)));
    }
    show();
    打开EBSCO首页();
}

void fWebSearch::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (panesShared_) {
        return;
    }
    // Left to the splitter, the list would get whatever the browser leaves: three rows.
    panesShared_ = true;
    if (QLayout* own = layout()) {
        own->activate();
    }
    const int total = PicBar->height();
    const int browser = total * kBrowserShare / (kBrowserShare + kListShare);
    PicBar->setSizes({browser, total - browser});
    fitColumns();
}

bool fWebSearch::isMakerAddress(const QString& address) const {
    for (const QString& site : {config::makerSite(), config::makerSecondSite()}) {
        const QString host = QUrl(site).host();
        if (!host.isEmpty() && address.contains(host, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

bool fWebSearch::查找Combo1(const QString& address) const {
    for (int i = 0; i < Combo1->count(); ++i) {
        if (Combo1->itemText(i).compare(address, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

void fWebSearch::onTitleChange(const QString& title) {
    if (title.toLower() == QLatin1String("about:blank")) {
        return;
    }
    const QString address = TrimSpaces(WebBrowser1->url().toString());
    if (address.isEmpty() || address.toLower() == QLatin1String("about:blank") ||
        查找Combo1(address) || isMakerAddress(address)) {
        return;
    }
    Combo1->addItem(address);
    showAddress(); // the first entry would otherwise become the box's text
}

QString fWebSearch::statusPanelText(int panel) const {
    switch (panel) {
    case 1:
        return panel1_->text();
    case 2:
        return panel2_->fullText();
    case 3:
        return panel3_->fullText();
    default:
        return {};
    }
}

void fWebSearch::refreshCount() {
    Label1->setText(list_.rowCountText());
}

void fWebSearch::fitColumns() {
    // The title stretches; the others fit their contents and header. A long save folder gets at
    // most a third of the width, its tool tip shows it whole.
    for (const int column :
         {AnalysisListModel::ColType, AnalysisListModel::ColStatus, AnalysisListModel::ColFolder}) {
        SetListColumnWidth(ListView1, column + 1, kFitContentsAndHeader);
    }
    const int folderCap =
        std::max(ListView1->header()->minimumSectionSize(), ListView1->viewport()->width() / 3);
    if (ListView1->columnWidth(AnalysisListModel::ColFolder) > folderCap) {
        ListView1->setColumnWidth(AnalysisListModel::ColFolder, folderCap);
    }
}

QString fWebSearch::actionFolder() const {
    return values_.PromptSavePath == 1 ? values_.SaveFolder : QString();
}

void fWebSearch::showSaveFolderChooser() {
    LoopGuard guard(this);
    fSeleFileSavePath::Show(this, settings_, values_);
}

void fWebSearch::加入本页到列表() {
    LoopGuard guard(this);
    TakeTally tally(list_);
    if (values_.PromptSavePath == 1) {
        showSaveFolderChooser();
    }
    ExtractResultPage(WebBrowser1->page(), list_, actionFolder());
    fitColumns();
    showNotice(tally.message());
}

void fWebSearch::setAddAllIdle(bool idle) {
    addAllRunning_ = !idle;
    Command4->setText(idle ? kAddAllCaption : kStopAddAllCaption);
    Command4->setStyleSheet(idle ? QString() : QStringLiteral("background-color: rgb(255, 0, 0);"));
}

void fWebSearch::加入全部到列表() {
    if (Command4->text() != kAddAllCaption) {
        StopAddAll = true; // the running loop ends at its next check
        fitColumns();
        return;
    }
    LoopGuard guard(this);
    TakeTally tally(list_);
    setAddAllIdle(false);
    StopAddAll = false;
    if (values_.PromptSavePath == 1) {
        showSaveFolderChooser();
    }
    do {
        YieldOnce();
        if (StopAddAll || !下一页()) {
            break;
        }
        YieldOnce();
    } while (!StopAddAll);
    ExtractResultPage(WebBrowser1->page(), list_, actionFolder());
    setAddAllIdle(true);
    fitColumns();
    showNotice(tally.message());
}

bool fWebSearch::下一页() {
    LoopGuard guard(this);
    const QString folder = actionFolder();
    ExtractResultPage(WebBrowser1->page(), list_, folder);
    const auto finish = [&](bool result) {
        ExtractResultPage(WebBrowser1->page(), list_, folder);
        return result;
    };
    const DomDocument doc = WebBrowser1->Document();
    if (doc.isNull()) {
        return false;
    }
    const QList<DomHandle> footers =
        doc.getElementsByClassName(kDocumentScope, QStringLiteral("content-footer"));
    if (footers.isEmpty()) {
        return finish(false);
    }
    const QList<DomHandle> links = doc.getElementsByTagName(footers.first(), QStringLiteral("A"));
    DomHandle next = kNoElement;
    for (qsizetype i = links.size() - 1; i >= 0; --i) {
        if (TrimSpaces(doc.innerText(links[i]).toLower()) == QStringLiteral("下一个")) {
            next = links[i];
            break;
        }
    }
    if (next == kNoElement) {
        return finish(false);
    }
    const qint64 start = MonotonicMs();
    PageLoading = true;
    if (!doc.click(next)) {
        PageLoading = false;
        return finish(false);
    }
    YieldOnce();
    do {
        if (!WebBrowser1->Busy() && !PageLoading) {
            break;
        }
        YieldOnce();
        if (MonotonicMs() - start > timeouts_.pageLoadMs) {
            return finish(false);
        }
    } while (!StopAddAll);
    const qint64 pauseStart = MonotonicMs();
    const qint64 pause =
        static_cast<qint64>(Combo2->currentText().toInt()) * 1000 + timeouts_.pauseExtraMs;
    do {
        YieldOnce();
        if (MonotonicMs() - pauseStart >= pause) {
            break;
        }
    } while (!StopAddAll);
    return finish(true);
}

bool fWebSearch::加入下载列表(int row) {
    return analyseRow(row) != AnalysisOutcome::Failed;
}

AnalysisOutcome fWebSearch::analyseRow(int row) {
    LoopGuard guard(this);
    // A window closed during the fetch hands over only to a download window that is still open.
    return AnalyseRecordCounted(
        list_, row,
        [this]() -> DownloadListModel* {
            if (closing_) {
                fFileDownload* open = LoadedDownloadWindow();
                return open != nullptr ? &open->list() : nullptr;
            }
            return &EnsureDownloadWindow()->list();
        },
        values_);
}

void fWebSearch::runAnalysis(AnalysisRun run) {
    // One run at a time: a second one would hide the panel and stop the first when it ends.
    if (!AnalysisStopped) {
        return;
    }
    LoopGuard guard(this);
    AnalysisStopped = false;
    Command2->setEnabled(false);
    Label11->setText(QStringLiteral("正在分析,请稍候..."));
    PicPanPrograss->setGeometry(0, PicPanList->height() - 48, PicPanList->width(), 48);
    PicPanPrograss->show();
    PicPanPrograss->raise();
    YieldOnce();
    bool go = list_.count() > 0;
    if (go) {
        if (values_.PromptSavePath == 1) {
            values_.SaveFolderCancelled = false;
        } else {
            showSaveFolderChooser();
            go = !values_.SaveFolderCancelled;
        }
    }
    AnalysisTally tally;
    bool stopped = false;
    if (go) {
        const int n = list_.count();
        for (int row = 0; row < n && row < list_.count(); ++row) {
            if (RunVisits(run, list_, row, list_.selectionModel()->isRowSelected(row, {}))) {
                if (RunClearsStatus(run)) {
                    list_.setStatus(row, QString());
                }
                tally.count(analyseRow(row));
                YieldOnce();
            }
            if (AnalysisStopped) {
                stopped = row + 1 < n;
                break;
            }
        }
    }
    PicPanPrograss->hide();
    AnalysisStopped = true;
    Command2->setEnabled(true);
    if (go) {
        showNotice(tally.message(stopped));
    }
    显示下载窗口(false);
}

void fWebSearch::分析下载() {
    LoopGuard guard(this);
    Command2->setEnabled(false);
    if (list_.count() == 0) {
        ShowMessage(QStringLiteral("列表没有数据哦！"), MsgIcon::Information);
    } else if (!list_.selectionModel()->hasSelection()) {
        runAnalysis(AnalysisRun::All);
    } else {
        // The button stays off until the chosen run ends, or the menu closes without a choice.
        menu加入->popup(QCursor::pos());
        return;
    }
    Command2->setEnabled(true);
}

void fWebSearch::显示下载窗口(bool restore) {
    fFileDownload* window = LoadedDownloadWindow();
    if (window == nullptr || closing_) {
        return;
    }
    window->listView()->viewport()->update();
    if (window->isHidden()) {
        window->show();
    }
    if (restore && window->isMinimized()) {
        window->showNormal();
    }
}

void fWebSearch::clearRows(ClearKind kind) {
    if (!AnalysisStopped) {
        ShowMessage(QStringLiteral("正在分析，不能清除！"), MsgIcon::Error);
        return;
    }
    LoopGuard guard(this);
    QString text;
    if (kind == ClearKind::TitleContains || kind == ClearKind::TitleLacks) {
        const std::optional<QString> answer = Dialogs().text(
            this, QStringLiteral("请输入指定字符："), QString::fromUtf8(config::kProductTitle));
        if (!answer || answer->isEmpty()) {
            return;
        }
        text = *answer;
    }
    if (kind == ClearKind::All &&
        ShowMessage(QStringLiteral("您确定要清空辛辛苦苦搜索的列表数据吗？"), MsgIcon::Question,
                    MsgButtons::YesNo) != MsgResult::Yes) {
        return;
    }
    ClearAnalysisRows(list_, kind, text);
    refreshCount();
}

void fWebSearch::导出数据() {
    if (list_.count() == 0) {
        return;
    }
    LoopGuard guard(this);
    const QString path =
        Dialogs().saveFileName(this, QStringLiteral("*.txt"), QStringLiteral("txt"));
    if (path.isEmpty() || !ConfirmReplace(path)) {
        return;
    }
    QSaveFile file(path);
    const QByteArray bytes = AnalysisExportText(list_).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        // The user must learn that the list is not on disk.
        ShowMessage(SaveFailedMessage(path, file.errorString()), MsgIcon::Error);
        return;
    }
    ShowMessage(ExportDoneMessage(QFileInfo(path).size()), MsgIcon::Information);
}

void fWebSearch::网页另存为() {
    LoopGuard guard(this);
    const QString source = WebBrowser1->Document().outerHTML();
    if (source.isEmpty()) {
        return; // no document
    }
    const QString path =
        Dialogs().saveFileName(this, QStringLiteral("*.htm"), QStringLiteral("htm"));
    if (path.isEmpty() || !ConfirmReplace(path)) {
        return;
    }
    QSaveFile file(path);
    // The source is written as UTF-8 and says so: a page that declared another charset would
    // otherwise open garbled.
    const QByteArray bytes = WithUtf8Charset(source).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ShowMessage(SaveFailedMessage(path, file.errorString()), MsgIcon::Error);
        return;
    }
    ShowMessage(QStringLiteral("已经保存！"), MsgIcon::Information);
}

void fWebSearch::打开EBSCO首页() {
    Check2->setChecked(true);
    WebBrowser1->setSilent(true);
    WebBrowser1->Navigate(config::searchHomePage());
}

void fWebSearch::打开指定网址() {
    LoopGuard guard(this);
    const std::optional<QString> answer =
        Dialogs().text(this, QStringLiteral("请输入需要打开的网址："), QStringLiteral("请输入..."));
    // A cancelled box answers with the empty text: the box is checked, nothing opens.
    const QString address = TrimSpaces(answer.value_or(QString()));
    Check2->setChecked(address.left(8).toLower() != QLatin1String("https://"));
    if (!address.isEmpty()) {
        WebBrowser1->Navigate(address);
    }
}

void fWebSearch::layoutPanes() {
    if (isMinimized()) {
        return;
    }
    const QList<int> sizes = PicBar->sizes();
    if (sizes.size() == 2) {
        const int total = sizes[0] + sizes[1];
        const int barTop = sizes[0];
        if (barTop > height() - kBarLowestGap || barTop < 0) {
            const int top = total * 4 / 5;
            PicBar->setSizes({top, total - top});
        }
    }
    if (PicPanPrograss->isVisible()) {
        PicPanPrograss->setGeometry(0, PicPanList->height() - 48, PicPanList->width(), 48);
    }
    PaintListStripes(ListView1);
}

void fWebSearch::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layoutPanes();
}

void fWebSearch::closeEvent(QCloseEvent* event) {
    if (!closing_) {
        // Rows not analysed yet are lost with the window: the user decides. A close asked for
        // again while the question shows is that same close.
        const int waiting = list_.unanalysedCount();
        if (askingToClose_) {
            event->ignore();
            return;
        }
        if (waiting > 0) {
            LoopGuard guard(this);
            askingToClose_ = true;
            const MsgResult answer =
                ShowMessage(UnanalysedCloseQuestion(waiting), MsgIcon::Question, MsgButtons::YesNo);
            askingToClose_ = false;
            if (answer != MsgResult::Yes) {
                event->ignore();
                return;
            }
        }
    }
    StopAddAll = true;
    AnalysisStopped = true;
    settings_.writeNumber(settings_keys::kWebSearch, settings_keys::kSearchDelay,
                          Combo2->currentIndex());
    event->accept();
    if (closing_) {
        return;
    }
    closing_ = true;
    // No longer loaded from now on, though the object waits for its loops to return.
    setObjectName(QString());
    // A download window that a hand-over created hidden would otherwise be out of reach.
    if (fFileDownload* downloads = LoadedDownloadWindow();
        downloads != nullptr && downloads->isHidden()) {
        downloads->show();
    }
    Q_EMIT closed();
    QTimer::singleShot(0, this, [this] { deleteWhenIdle(); });
}

void fWebSearch::deleteWhenIdle() {
    if (closing_ && loops_ == 0 && !deleting_) {
        deleting_ = true;
        deleteLater();
    }
}

fWebSearch* LoadedSearchWindow() {
    fWebSearch* window = current();
    return window != nullptr && IsWindowLoaded(QStringLiteral("fWebSearch")) ? window : nullptr;
}

fWebSearch* OpenSearchWindow() {
    if (fWebSearch* window = LoadedSearchWindow()) {
        window->show();
        window->raise();
        return window;
    }
    static SettingsStore settings;
    auto* window = new fWebSearch(settings, Values());
    current() = window;
    if (fCover* cover = fCover::instance()) {
        cover->registerWorkWindow(window);
    }
    window->Open();
    return window;
}

} // namespace quillax
