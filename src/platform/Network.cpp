#include "platform/Network.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSslConfiguration>

namespace quillax {

namespace {
QPointer<QNetworkAccessManager> g_default;
QString g_userAgent;
QList<QSslCertificate> g_extraTrusted;
} // namespace

void SetExtraTrustedCertificates(const QList<QSslCertificate>& certificates) {
    g_extraTrusted = certificates;
    // Connections are cached per host and port, with the trust they were opened under.
    NetworkManager().clearConnectionCache();
}

namespace {
/// Another thread's window on the program's jar: a manager owns its jar, so each thread's
/// manager gets one of these, and every cookie stays in the one shared jar.
class CookieJarView : public QNetworkCookieJar {
public:
    CookieJarView(SharedCookieJar& shared, QObject* parent)
        : QNetworkCookieJar(parent), shared_(shared) {}
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override {
        return shared_.cookiesForUrl(url);
    }
    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override {
        return shared_.setCookiesFromUrl(cookies, url);
    }
    bool insertCookie(const QNetworkCookie& cookie) override {
        return shared_.insertCookie(cookie);
    }
    bool updateCookie(const QNetworkCookie& cookie) override {
        return shared_.updateCookie(cookie);
    }
    bool deleteCookie(const QNetworkCookie& cookie) override {
        return shared_.deleteCookie(cookie);
    }

private:
    SharedCookieJar& shared_;
};
} // namespace

QList<QNetworkCookie> SharedCookieJar::cookiesForUrl(const QUrl& url) const {
    const QMutexLocker<QRecursiveMutex> lock(&mutex_);
    return QNetworkCookieJar::cookiesForUrl(url);
}

bool SharedCookieJar::setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) {
    const QMutexLocker<QRecursiveMutex> lock(&mutex_);
    return QNetworkCookieJar::setCookiesFromUrl(cookies, url);
}

bool SharedCookieJar::insertCookie(const QNetworkCookie& cookie) {
    const QMutexLocker<QRecursiveMutex> lock(&mutex_);
    return QNetworkCookieJar::insertCookie(cookie);
}

bool SharedCookieJar::updateCookie(const QNetworkCookie& cookie) {
    const QMutexLocker<QRecursiveMutex> lock(&mutex_);
    return QNetworkCookieJar::updateCookie(cookie);
}

bool SharedCookieJar::deleteCookie(const QNetworkCookie& cookie) {
    const QMutexLocker<QRecursiveMutex> lock(&mutex_);
    return QNetworkCookieJar::deleteCookie(cookie);
}

QNetworkAccessManager& NetworkManager() {
    if (!g_default) {
        g_default = new QNetworkAccessManager(QCoreApplication::instance());
        g_default->setCookieJar(new SharedCookieJar(g_default));
    }
    return *g_default;
}

SharedCookieJar& ProgramCookies() {
    return *static_cast<SharedCookieJar*>(NetworkManager().cookieJar());
}

QNetworkAccessManager* NewManagerSharingCookies(SharedCookieJar& cookies, QObject* parent) {
    auto* manager = new QNetworkAccessManager(parent);
    manager->setCookieJar(new CookieJarView(cookies, manager));
    return manager;
}

QString UserAgent() {
    if (!g_userAgent.isEmpty()) {
        return g_userAgent;
    }
    // The program's name and version, as the application set them at start-up.
    return QStringLiteral("Mozilla/5.0 (X11; Linux x86_64) %1/%2")
        .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
}

void SetUserAgent(const QString& userAgent) {
    g_userAgent = userAgent;
}

void AbandonReply(QPointer<QNetworkReply>& reply, QObject* receiver, bool now) {
    if (!reply) {
        return;
    }
    QNetworkReply* r = reply;
    reply = nullptr;
    r->disconnect(receiver);
    r->abort();
    if (now) {
        delete r;
    } else {
        r->deleteLater();
    }
}

QNetworkRequest DownloadRequest(const QUrl& url, bool alwaysNetwork) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, kDownloadsUseHttp2);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    if (!g_extraTrusted.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(g_extraTrusted);
        request.setSslConfiguration(tls);
    }
    if (alwaysNetwork) {
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    return request;
}

} // namespace quillax
