#include "ui/search/fWebSearch.h"

#include "core/search/AddressInput.h"
#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "core/store/QueueKeeper.h"
#include "platform/MessageBoxes.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/shell/QueueKeeping.h"
#include "ui/shell/RepaintBatcher.h"
#include "ui/shell/WindowHelpers.h"
#include "ui/shell/fCover.h"

#include "core/download/DownloadOptions.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
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

QPointer<fWebSearch>& current() {
    static QPointer<fWebSearch> window;
    return window;
}

} // namespace

fWebSearch::LoopGuard::LoopGuard(fWebSearch* w) : window_(w) {
    ++window_->loops_;
}

fWebSearch::LoopGuard::~LoopGuard() {
    if (window_ != nullptr) {
        --window_->loops_;
        window_->deleteWhenIdle();
    }
}

fWebSearch::fWebSearch(SettingsStore& settings, AppValues& values, QWidget* parent,
                       const SearchTimeouts& timeouts)
    : QMainWindow(parent), settings_(settings), values_(values), timeouts_(timeouts) {
    setObjectName(QStringLiteral("fWebSearch"));
    buildUi();
    buildMenus();
    if (QueueKeeper* keeper = ActiveQueueKeeper()) {
        keeper->attachRecords(&list_);
    }
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
    // The window holds the browser: each repaint is composed through OpenGL.
    new RepaintBatcher(ListView1);
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
    Command4 = new QPushButton(addAllCaption(true), PicPanList);
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
    if (QueueKeeper* keeper = ActiveQueueKeeper()) {
        keeper->flushNow();
    }
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
    ShowDownloadWindow(DownloadWindowShow::IfHidden);
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
    // The first search window of the run takes back the kept analysis list, whichever window
    // opened it: the first record added later then joins those rows instead of overwriting them.
    RestoreRecordsInto(window->list());
    if (fCover* cover = fCover::instance()) {
        cover->registerWorkWindow(window);
    }
    window->Open();
    return window;
}

} // namespace quillax
