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
