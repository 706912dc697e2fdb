#pragma once
// How the program's requests go out: one network manager, HTTP/1.1,
// and the browser's user agent.

#include <QList>
#include <QMutex>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QString>

class QNetworkAccessManager;

namespace quillax {

/// Downloads use HTTP/1.1: HTTP/2 in Qt 6.4 has known hangs, and with one multiplexed
/// connection per host the thread count would stop meaning that many connections.
inline constexpr bool kDownloadsUseHttp2 = false;

/// The program's cookies, usable from any thread: the browser's logins land here, and the
/// managers of other threads read and add to it through a view of their own.
class SharedCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;
    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override;
    bool insertCookie(const QNetworkCookie& cookie) override;
    bool updateCookie(const QNetworkCookie& cookie) override;
    bool deleteCookie(const QNetworkCookie& cookie) override;

private:
    // Recursive: the base class's setCookiesFromUrl calls the other overrides.
    mutable QRecursiveMutex mutex_;
};

/// The program's network manager for the window thread (created on first use).
QNetworkAccessManager& NetworkManager();
/// The cookie jar of `NetworkManager()`; call on the window thread.
SharedCookieJar& ProgramCookies();

/// The User-Agent every request carries (the embedded browser's, once it has told it).
QString UserAgent();
void SetUserAgent(const QString& userAgent);

/// Certificates trusted in addition to the system's (tests trust their own this way).
void SetExtraTrustedCertificates(const QList<QSslCertificate>& certificates);

/// Abandons `reply`: `receiver` hears nothing more of it, the request is aborted and the reply
/// deleted (at once when `now`, else from the event loop), and the pointer is cleared.
void AbandonReply(QPointer<QNetworkReply>& reply, QObject* receiver, bool now = false);

/// A GET request for a download: HTTP/1.1, redirects followed except to a less safe scheme,
/// the user agent, and, when `alwaysNetwork`, never answered from a cache.
QNetworkRequest DownloadRequest(const QUrl& url, bool alwaysNetwork);

} // namespace quillax
