#include "platform/WebBrowser.h"

#include "platform/Clock.h"
#include "platform/Network.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <QPointer>
#include <QSet>

namespace quillax {

namespace {

QPointer<QWebEngineProfile>& profileSlot() {
    static QPointer<QWebEngineProfile> profile;
    return profile;
}

// When the HTTP cache was last asked to clear, on the monotonic clock; -1: never.
qint64 g_cacheClearedAtMs = -1;
// Clearing runs on the engine's threads with no signal when done (Qt 6.4); it takes
// milliseconds (longer under load), and the profile's end waits this long after the last request.
constexpr qint64 kCacheClearSettleMs = 2000;

// Every page of the profile still alive, so that the profile can outlive them all.
QSet<BrowserPage*>& livePages() {
    static QSet<BrowserPage*> pages;
    return pages;
}

} // namespace

QWebEngineProfile* BrowserProfile() {
    QPointer<QWebEngineProfile>& profile = profileSlot();
    if (profile.isNull()) {
        // Parented to the application only as a last resort: EndBrowserProfile ends it earlier.
        auto* p = new QWebEngineProfile(QCoreApplication::applicationName(),
                                        QCoreApplication::instance());
        const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                             QStringLiteral("/browser");
        p->setPersistentStoragePath(base + QStringLiteral("/storage"));
        p->setCachePath(base + QStringLiteral("/cache"));
        p->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        p->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
        SetUserAgent(p->httpUserAgent());

        // A login made in a browser must be carried by every fetch and download too.
        QWebEngineCookieStore* store = p->cookieStore();
        QObject::connect(store, &QWebEngineCookieStore::cookieAdded, p,
                         [](const QNetworkCookie& cookie) {
                             NetworkManager().cookieJar()->insertCookie(cookie);
                         });
        QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, p,
                         [](const QNetworkCookie& cookie) {
                             NetworkManager().cookieJar()->deleteCookie(cookie);
                         });
        store->loadAllCookies();
        profile = p;
    }
    return profile;
}

void ClearBrowserHttpCache() {
    BrowserProfile()->clearHttpCache();
    g_cacheClearedAtMs = MonotonicMs();
}

void EndBrowserProfile() {
    // Windows closed with deleteLater go now, with their views and pages.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<QPointer<QWidget>> views;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets) {
        if (qobject_cast<QWebEngineView*>(widget) != nullptr) {
            views.append(widget);
        }
    }
    for (const QPointer<QWidget>& view : views) {
        delete view.data(); // a view inside another one went with it and is null here
    }
    const QSet<BrowserPage*> pages = livePages();
    qDeleteAll(pages);
    if (g_cacheClearedAtMs >= 0 && !profileSlot().isNull()) {
        // A cache still being cleared when the profile goes makes the engine read freed memory.
        QEventLoop settle;
        while (MonotonicMs() - g_cacheClearedAtMs < kCacheClearSettleMs) {
            QTimer::singleShot(50, &settle, &QEventLoop::quit);
            settle.exec();
        }
    }
    delete profileSlot().data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

BrowserPage::BrowserPage(QObject* parent) : QWebEnginePage(BrowserProfile(), parent) {
    livePages().insert(this);
}

BrowserPage::~BrowserPage() {
    livePages().remove(this);
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType /*type*/,
                                          bool isMainFrame) {
    if (isMainFrame) {
        Q_EMIT beforeNavigate(url.toString());
    }
    return true;
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType /*type*/) {
    // A page that opens a new window loads it here: no second window ever opens.
    Q_EMIT newWindowRequested();
    return this;
}

void BrowserPage::javaScriptAlert(const QUrl& origin, const QString& message) {
    if (!silent_) {
        QWebEnginePage::javaScriptAlert(origin, message);
    }
}

bool BrowserPage::javaScriptConfirm(const QUrl& origin, const QString& message) {
    return silent_ ? false : QWebEnginePage::javaScriptConfirm(origin, message);
}

bool BrowserPage::javaScriptPrompt(const QUrl& origin, const QString& message,
                                   const QString& defaultValue, QString* result) {
    return silent_ ? false
                   : QWebEnginePage::javaScriptPrompt(origin, message, defaultValue, result);
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel /*level*/,
                                           const QString& /*message*/, int /*line*/,
                                           const QString& /*source*/) {
    // The pages' own script messages and errors are not ours to show.
}

WebBrowser::WebBrowser(QWidget* parent) : QWebEngineView(parent), page_(new BrowserPage(this)) {
    setPage(page_);
    connect(page_, &BrowserPage::beforeNavigate, this, &WebBrowser::BeforeNavigate2);
    connect(page_, &BrowserPage::newWindowRequested, this, &WebBrowser::NewWindow2);
    connect(page_, &QWebEnginePage::loadStarted, this, [this] { busy_ = true; });
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        busy_ = false;
        Q_EMIT DocumentComplete(page_->url().toString(), ok);
    });
    connect(page_, &QWebEnginePage::linkHovered, this, &WebBrowser::StatusTextChange);
    connect(page_, &QWebEnginePage::titleChanged, this, &WebBrowser::TitleChange);
    // A page script cannot close the browser: the request is reported and otherwise ignored.
    connect(page_, &QWebEnginePage::windowCloseRequested, this, &WebBrowser::WindowClosing);
}

void WebBrowser::Navigate(const QString& address) {
    busy_ = true; // from the request on, not only once the engine reports the start
    load(QUrl::fromUserInput(address));
}
void WebBrowser::GoBack() {
    back();
}
void WebBrowser::GoForward() {
    forward();
}
void WebBrowser::Refresh() {
    busy_ = true;
    reload();
}

} // namespace quillax
