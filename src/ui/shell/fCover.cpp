#include "ui/shell/fCover.h"

#include "core/search/uXMLHTTP.h"
#include "core/settings/AppConfig.h"
#include "core/settings/AppValues.h"
#include "core/settings/BrowserEmulation.h"
#include "core/settings/ShellHelpers.h"
#include "platform/HttpRequest.h"
#include "platform/MessageBoxes.h"
#include "platform/SystemInfo.h"
#include "ui/shell/ProgramIcon.h"
#include "ui/shell/UpdateNotice.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QNetworkReply>
#include <QPainter>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace quillax {

namespace {

fCover* g_cover = nullptr;

const QString kIntroduction =
    QStringLiteral("EBSCO 是全球知名的学术文献数据库提供商。它的两个主要全文数据库："
                   "Academic Search Premier（学术期刊集成全文数据库）收录近 4,700 种期刊的全文，"
                   "Business Source Premier（商业资源集成全文数据库）收录 2,300 多种期刊的全文。"
                   "本软件帮助您检索 EBSCO 数据库，并把检索到的文献全文下载到本机。");

/// A band of the start window's colours, for the decoration above and below.
QPixmap band(int width, int height, bool top) {
    QPixmap pixmap(width, height);
    QPainter painter(&pixmap);
    QLinearGradient gradient(0, 0, width, 0);
    gradient.setColorAt(0, top ? QColor(0x1b, 0x44, 0x77) : QColor(0x2f, 0xb3, 0x4a));
    gradient.setColorAt(1, top ? QColor(0x2f, 0x6f, 0xb0) : QColor(0x2f, 0x6f, 0xb0));
    painter.fillRect(pixmap.rect(), gradient);
    return pixmap;
}

} // namespace

struct fCover::StartupFacts {
    QString bitness;
    QString versionText;
};

fCover::fCover(SettingsStore& settings, AppValues& values, QWidget* parent, Timing timing)
    : QWidget(parent), settings_(settings), values_(values), timing_(timing),
      facts_(std::make_shared<StartupFacts>()) {
    setObjectName(QStringLiteral("fCover"));
    g_cover = this;
    buildUi();

    Timer1.setSingleShot(true);
    Timer1.setInterval(timing_.updateDelayMs);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });

    uXMLHTTP2 = new uXMLHTTP(this);
    uXMLHTTP2->setObjectName(QStringLiteral("uXMLHTTP2"));
    connect(uXMLHTTP2, &uXMLHTTP::OnDateArrived, this, [this] { onNoticeArrived(); });
    connect(uXMLHTTP2, &uXMLHTTP::OnDateErr, this, [this] { onRequestFailed(); });
    // A request that ends without an HTTP status raises neither event; the check after each
    // poll, once the poll is over, sees it.
    connect(
        uXMLHTTP2, &uXMLHTTP::OnReadyStateChange, this, [this] { onReadyStateChanged(); },
        Qt::QueuedConnection);
    updateDeadline_.setSingleShot(true);
    connect(&updateDeadline_, &QTimer::timeout, this, [this] {
        uXMLHTTP2->Abort_();
        onRequestFailed();
    });
}

fCover::~fCover() {
    if (g_cover == this) {
        g_cover = nullptr;
    }
    if (probe_ != nullptr) {
        probe_->wait(); // bounded: small regular files and one system call
        delete probe_;
    }
    // The program is ending: work windows still alive go without their closing steps.
    for (WorkWindow& work : workWindows_) {
        delete work.window.data();
    }
}

fCover* fCover::instance() {
    return g_cover;
}

void RegisterWorkWindow(QWidget* window) {
    if (fCover* cover = fCover::instance()) {
        cover->registerWorkWindow(window);
    }
}

void fCover::buildUi() {
    setWindowIcon(ProgramIcon());
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    const int width = 560;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setPixmap(band(width, 6, true));
    layout->addWidget(Image2);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(24, 18, 24, 18);
    body->setSpacing(10);

    auto* header = new QHBoxLayout;
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(ProgramIcon().pixmap(64, 64));
    header->addWidget(Image1, 0, Qt::AlignTop);
    auto* title = new QLabel(QString::fromUtf8(config::kProductTitle), this);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.9);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: #1b4477;"));
    header->addSpacing(8);
    header->addWidget(title, 1, Qt::AlignVCenter);
    body->addLayout(header);

    Label1 = new QLabel(kIntroduction, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    body->addWidget(Label1);

    auto* versionRow = new QHBoxLayout;
    Label2 = new QLabel(QStringLiteral("版本："), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3 = new QLabel(QStringLiteral("最新版本："), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setTextFormat(Qt::PlainText);
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->setStyleSheet(QStringLiteral("color: #c0392b; text-decoration: underline;"));
    Label3->setVisible(false);
    Label3->installEventFilter(this);
    versionRow->addWidget(Label2);
    versionRow->addSpacing(16);
    versionRow->addWidget(Label3);
    versionRow->addStretch();
    body->addLayout(versionRow);

    Label4 = new QLabel(
        QStringLiteral("(该软件仅用于科研人员辅助少量下载；请不要恶意下载和大量下载！)"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setWordWrap(true);
    Label4->setStyleSheet(QStringLiteral("color: #8a4b08;"));
    body->addWidget(Label4);

    Label5 = new QLabel(QStringLiteral("正在加载组件，请稍候..."), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    body->addWidget(Label5);
    body->addStretch();

    auto* buttons = new QHBoxLayout;
    Command1 = new QPushButton(QStringLiteral("资料检索下载"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setEnabled(false);
    Command1->setDefault(true);
    Command1->setMinimumHeight(34);
    Command3 = new QPushButton(QStringLiteral("退出软件"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setMinimumHeight(34);
    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command3, &QPushButton::clicked, this, &QWidget::close);
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addSpacing(12);
    buttons->addWidget(Command3);
    buttons->addStretch();
    body->addLayout(buttons);
    layout->addLayout(body, 1);

    Image3 = new QLabel(this);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setPixmap(band(width, 4, false));
    layout->addWidget(Image3);

    setFixedWidth(width);
    setFixedHeight(sizeHint().height() + 20);
}

void fCover::Form_Load() {
    // 1. Caption and version.
    setWindowTitle(QString::fromUtf8(config::kProductTitle));
    Label2->setText(QStringLiteral("版本:") + config::versionText());
    // 2. Shown and painted before the slow steps.
    show();
    QCoreApplication::processEvents();
    // 3-5. The system description, the bitness and the emulation entry read files and the
    // kernel: off the window thread, and before any embedded browser exists, since
    // 资料检索下载 is enabled only once they are done.
    probe_ = QThread::create([facts = facts_] {
        facts->bitness = GetOsBitness();
        facts->versionText = WithBitness(GetSystemVersionText(), facts->bitness);
        SetBrowserEmulation(QStringLiteral("IE10"), true);
    });
    connect(probe_, &QThread::finished, this, [this] { finishLoad(); });
    probe_->start();
}

void fCover::finishLoad() {
    SystemValues().OsBitness = facts_->bitness;
    SystemValues().SystemVersionText = facts_->versionText;
    // 6. The update check runs once the load sequence is over.
    Timer1.start();
    // 7. The options.
    ReadStartupSettings(settings_, values_);
    // 8. Ready.
    Label5->setVisible(false);
    Command1->setEnabled(true);
    loadFinished_ = true;
    Q_EMIT loadFinished();
}

void fCover::Timer1_Timer() {
    Timer1.stop();
    CheckForUpdate();
}

void fCover::CheckForUpdate() {
    // Without a configured maker's site there is nothing to ask and nothing to say.
    const QString address = config::updateNoticeAddress();
    if (address.isEmpty() || !uXMLHTTP2->Open_(QStringLiteral("GET"), address, QString())) {
        Q_EMIT updateCheckDone();
        return;
    }
    noticeHandled_ = false;
    uXMLHTTP2->Send_();
    updateDeadline_.start(timing_.updateTimeoutMs);
}

void fCover::onNoticeArrived() {
    if (noticeHandled_) {
        return;
    }
    noticeHandled_ = true;
    updateDeadline_.stop();
    // A notice is a few bytes: anything larger is not one and is not even decoded.
    if (uXMLHTTP2->ResponseBody().size() <= kMaxNoticeBytes) {
        const QString notice = AcceptedNoticeText(uXMLHTTP2->ResponseText());
        if (!notice.isEmpty()) {
            ShowUpdateNotice(notice);
        }
    }
    Q_EMIT updateCheckDone();
}

void fCover::onReadyStateChanged() {
    if (noticeHandled_ || !uXMLHTTP2->DownOK()) {
        return;
    }
    // Complete without either event: the network failed, or the answer was cut off for its
    // size, which is no notice and no network failure either.
    const int cutOff = HttpRequest::kNetworkErrorBase + QNetworkReply::OperationCanceledError;
    if (uXMLHTTP2->Status() == cutOff) {
        noticeHandled_ = true;
        updateDeadline_.stop();
        Q_EMIT updateCheckDone();
        return;
    }
    onRequestFailed();
}

void fCover::onRequestFailed() {
    if (noticeHandled_) {
        return;
    }
    noticeHandled_ = true;
    updateDeadline_.stop();
    ShowMessage(QStringLiteral("请保持网络畅通！"), MsgIcon::Error);
    Q_EMIT updateCheckDone();
}

void fCover::ShowUpdateNotice(const QString& notice) {
    if (!IsNewerVersion(notice, config::kVersionMajor, config::kVersionMinor,
                        config::kVersionRevision)) {
        return;
    }
    Label3->setText(UpdateNoticeCaption(notice));
    Label3->setVisible(true);
    OpenInBrowser(config::productPage(), false);
}

void fCover::Label3_Click() {
    OpenInBrowser(config::productPage(), false);
}

void fCover::Command1_Click() {
    hide();
    QWidget* window = opener_ ? opener_() : nullptr;
    if (window == nullptr) {
        show();
        return;
    }
    registerWorkWindow(window);
}

void fCover::registerWorkWindow(QWidget* window) {
    if (window == nullptr) {
        return;
    }
    if (WorkWindow* known = findWorkWindow(window)) {
        known->open = true;
    } else {
        workWindows_.push_back({window, true});
        window->installEventFilter(this);
        connect(window, &QObject::destroyed, this, [this] { scheduleReturnCheck(); });
    }
    if (window->isVisible()) {
        hide();
    }
}

bool fCover::hasOpenWorkWindow() const {
    for (const WorkWindow& work : workWindows_) {
        if (!work.window.isNull() && work.open) {
            return true;
        }
    }
    return false;
}

fCover::WorkWindow* fCover::findWorkWindow(const QObject* window) {
    for (WorkWindow& work : workWindows_) {
        if (work.window == window) {
            return &work;
        }
    }
    return nullptr;
}

bool fCover::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease) {
        Label3_Click();
        return true;
    }
    WorkWindow* work = findWorkWindow(watched);
    if (work == nullptr) {
        return QWidget::eventFilter(watched, event);
    }
    if (event->type() == QEvent::Show) {
        work->open = true;
        if (isVisible()) {
            hide();
        }
    } else if (event->type() == QEvent::Close) {
        // The window decides first, so that a close it refuses (downloads still running)
        // leaves everything as it was; its answer is then known here.
        static_cast<QObject*>(watched)->event(event);
        if (event->isAccepted()) {
            if (WorkWindow* still = findWorkWindow(watched)) {
                still->open = false;
            }
            scheduleReturnCheck();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void fCover::scheduleReturnCheck() {
    // After the closing window has hidden or gone.
    QTimer::singleShot(0, this, [this] { showIfNoWorkWindow(); });
}

void fCover::showIfNoWorkWindow() {
    std::erase_if(workWindows_, [](const WorkWindow& work) { return work.window.isNull(); });
    if (closing_ || hasOpenWorkWindow() || isVisible()) {
        return;
    }
    // Shown as it was left: the load sequence does not run again.
    show();
    raise();
    activateWindow();
}

void fCover::closeEvent(QCloseEvent* event) {
    closing_ = true;
    updateDeadline_.stop();
    uXMLHTTP2->Abort_();
    event->accept();
    Q_EMIT closed();
}

} // namespace quillax
