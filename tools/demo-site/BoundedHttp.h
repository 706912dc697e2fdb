#pragma once
// The demo site's sockets, bounded: users run it on their own machines for as long as they
// like, so no client may make it hold an endless request head, an endless body or a log of
// every request ever made.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QTcpServer>
#include <functional>
#include <memory>

class QTcpSocket;

namespace quillax::demo {

/// The request line and headers of one request may take this many bytes ...
inline constexpr qsizetype kMaxRequestHeadBytes = 32 * 1024;
/// ... and its body this many (the login form is a few dozen).
inline constexpr qint64 kMaxRequestBodyBytes = 1024 * 1024;

struct RequestHead {
    QByteArray method;
    QByteArray target; ///< path and query, as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QString peer; ///< the client's address, as ClientKey() gives it
};

/// The name a client goes by: its address, an IPv4 client the same whichever way it came in.
QString ClientKey(const QHostAddress& address);

/// Follows the bytes a client sends, request by request, and says when one goes past the caps,
/// holding no more than one head of at most kMaxRequestHeadBytes itself.
class RequestFramer {
public:
    enum class Verdict {
        Fine,
        HeadTooLarge,   ///< 431
        BodyTooLarge,   ///< 413
        LengthRequired, ///< 411: a body without a length cannot be held to the cap
        BadRequest,     ///< 400
    };
    /// Takes the next bytes; the heads they complete are appended to `heads` when given. Once
    /// it has said something other than Fine, it keeps saying so.
    Verdict feed(const QByteArray& bytes, QList<RequestHead>* heads = nullptr);

private:
    Verdict finishHead(const QByteArray& head, QList<RequestHead>* heads);

    QByteArray head_;
    qint64 bodyLeft_ = 0;
    Verdict verdict_ = Verdict::Fine;
};

/// The whole answer that refuses a request, closing the connection.
QByteArray RefusalResponse(RequestFramer::Verdict verdict);

/// Answers the refusal, drops whatever else the client sends and closes the connection; nothing
/// else reads the socket after this.
void RefuseAndClose(QTcpSocket* socket, RequestFramer::Verdict verdict);

/// A listening socket that looks at every byte a client sends before the HTTP server behind it
/// (bound to it) reads them, and refuses requests past the caps.
class GuardedTcpServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override;
};

/// What the full-text server sends for one request.
struct Reply {
    int status = 200;
    QByteArray reason = "OK";
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool chunked = false;        ///< chunked transfer encoding instead of a length
    int delayHeadersMs = 0;      ///< wait before answering
    qint64 closeAfterBytes = -1; ///< close the connection after this many body bytes
    int dripBytes = 0;           ///< send the body this many bytes at a time ...
    int dripIntervalMs = 0;      ///< ... with this pause between the pieces
};

/// A one-request-per-connection HTTP server for the answers that need control of the socket
/// (late headers, a slow drip, a body cut short). Request heads are held to the caps.
class FullTextServer {
public:
    using Resolver = std::function<Reply(const RequestHead&)>;
    explicit FullTextServer(Resolver resolver);
    ~FullTextServer();
    FullTextServer(const FullTextServer&) = delete;
    FullTextServer& operator=(const FullTextServer&) = delete;

    /// Listens on 127.0.0.1 on a free port; false when it cannot.
    bool listen();
    quint16 port() const;

private:
    class Connection;
    Resolver resolver_;
    std::unique_ptr<QTcpServer> server_;
};

} // namespace quillax::demo
