#pragma once
// How the program's requests go out: one network manager, HTTP/1.1, bounded read buffers,
// and the browser's user agent.

#include <QList>
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
/// A reply holds at most this much unread data; the rest waits in the socket, so a slow
/// reader never buffers a whole file in memory.
inline constexpr qint64 kReplyReadBufferBytes = 1024 * 1024;

/// The program's one network manager (created on first use).
QNetworkAccessManager& NetworkManager();
/// Replaces the program's manager (not owned); nullptr returns to the default one.
void SetNetworkManager(QNetworkAccessManager* manager);

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
