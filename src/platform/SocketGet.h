#pragma once
// A GET read straight from the socket, for a body that comes without a length. Qt's HTTP stack
// (6.4) can take a connection closed in the middle of a chunk for the end of the body and
// report the cut body as complete; here every chunk is counted, and a body is whole only when
// its last chunk, or all of its announced length, has arrived. Redirects are followed as the
// downloads follow them (never from https to http), cookies come from and go to the given jar.

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QUrl>

class QNetworkCookieJar;
class QTcpSocket;

namespace quillax {

class SocketGet : public QObject {
    Q_OBJECT
public:
    enum class Result {
        Running,
        Whole,  ///< the body ended as its framing says
        Cut,    ///< the connection ended inside the body
        TooBig, ///< the body grew past the limit; the read was stopped
        Failed, ///< no answer, a broken answer, a refused redirect, a network error
        Aborted,
    };

    explicit SocketGet(QObject* parent = nullptr);
    ~SocketGet() override;

    /// Sends the GET. `jar` (may be null) gives the Cookie header and takes Set-Cookie.
    void start(const QUrl& url, const QByteArray& referrer, QNetworkCookieJar* jar,
               const QNetworkProxy& proxy, qint64 maxBodyBytes);
    void abort();

    Result result() const { return result_; }
    bool isFinished() const { return result_ != Result::Running; }
    /// The status of the final answer (0 before its head arrived).
    int status() const { return status_; }
    QByteArray rawHeader(const QByteArray& name) const;
    /// The final answer's reason phrase and headers, as they came.
    QByteArray reasonPhrase() const { return reason_; }
    const QList<QPair<QByteArray, QByteArray>>& headers() const { return headers_; }
    /// The answer announced two different lengths (the read then fails).
    bool conflictingLengths() const { return conflictingLengths_; }
    /// The announced length, or -1.
    qint64 contentLength() const { return contentLength_; }
    /// Body bytes received so far, read or not.
    qint64 received() const { return received_; }
    /// Body bytes received and not yet read. At most about `kMaxBufferedBytes` wait here: the
    /// socket is read on only as they are taken, so a slow reader slows the server.
    qint64 bytesAvailable() const { return buffer_.size() - readPos_; }
    qint64 read(char* data, qint64 maxSize);
    QByteArray read(qint64 maxSize);
    QByteArray readAll();
    /// What failed, in the terms of a network reply (NoError unless the result is Failed).
    QNetworkReply::NetworkError error() const { return error_; }

    /// Longest head accepted; a longer one fails the read.
    static constexpr qsizetype kMaxHeadBytes = 64 * 1024;
    static constexpr qint64 kMaxBufferedBytes = 1024 * 1024;

Q_SIGNALS:
    /// A connection is being made (also for each redirect).
    void connecting();
    /// The request has been written to the connection.
    void requestSent();
    /// The final answer's status and headers have arrived.
    void headReady();
    /// Body bytes are waiting to be read.
    void readyRead();
    /// `total` is the announced length, or -1.
    void progress(qint64 received, qint64 total);
    /// The read has ended (see `result`); body bytes may still wait to be read.
    void finished();

private:
    void connectTo(const QUrl& url);
    void onConnected();
    void onReadyRead();
    void pull(bool toTheEnd);
    void append(const QByteArray& data);
    void onClosed();
    bool readHead();
    bool readBody();
    bool readChunked();
    void end(Result result, QNetworkReply::NetworkError error = QNetworkReply::NoError);

    QPointer<QTcpSocket> socket_;
    QUrl url_;
    QByteArray referrer_;
    QPointer<QNetworkCookieJar> jar_;
    QNetworkProxy proxy_;
    bool viaProxy_ = false; ///< a plain address asked of an HTTP proxy
    qint64 maxBody_ = -1;
    int redirects_ = 0;
    Result result_ = Result::Running;
    QNetworkReply::NetworkError error_ = QNetworkReply::NoError;
    QByteArray in_; ///< bytes read from the socket and not yet taken apart
    bool headDone_ = false;
    int status_ = 0;
    QByteArray reason_;
    bool conflictingLengths_ = false;
    QList<QPair<QByteArray, QByteArray>> headers_;
    bool chunked_ = false;
    qint64 contentLength_ = -1;
    qint64 chunkLeft_ = -1; ///< bytes of the current chunk still to come; -1: a size line next
    bool inTrailers_ = false;
    qint64 trailerBytes_ = 0;
    bool bodyDone_ = false; ///< the last chunk and the trailers have arrived
    QByteArray buffer_;     ///< body bytes; those before `readPos_` have been read
    qsizetype readPos_ = 0;
    qint64 received_ = 0;
};

/// Abandons `get`: `receiver` hears nothing more of it, the read is stopped, the object deleted
/// from the event loop, and the pointer cleared.
void AbandonGet(QPointer<SocketGet>& get, QObject* receiver);

} // namespace quillax
