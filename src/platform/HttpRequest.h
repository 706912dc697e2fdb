#pragma once
// The request object and byte stream the search side works with: an asynchronous HTTP request
// that callers poll, and the conversion of bytes to text and to files.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <memory>

class QNetworkReply;

namespace quillax {

class HttpRequest : public QObject {
    Q_OBJECT
public:
    /// Status reported in place of an HTTP status when the network failed: 12000 plus Qt's
    /// error code, above every HTTP status, as the platform's request objects do.
    static constexpr int kNetworkErrorBase = 12000;
    /// A page or a small answer is never larger: a response that grows past this is cut off
    /// and counts as failed, so a lying server cannot fill the memory.
    static constexpr qint64 kMaxResponseBytes = 8 * 1024 * 1024;

    /// `serverKind` requests can wait for their response and time out on their own
    /// (receive limit 60 s); client-kind requests are only polled.
    explicit HttpRequest(bool serverKind, QObject* parent = nullptr);
    ~HttpRequest() override;

    /// Prepares a request; false (and nothing prepared) for an address that is no URL.
    bool open(const QString& method, const QString& address);
    void SetRequestHeader(const QString& name, const QString& value);
    /// Starts the request and returns at once.
    void send(const QByteArray& body = QByteArray());
    /// 0 unsent, 1 opened, 2 sent, 3 receiving, 4 complete.
    int ReadyState() const { return readyState_; }
    /// Waits up to `ms` for completion (server kind only); true when complete.
    bool waitForResponse(int ms);
    int Status() const { return status_; }
    QString StatusText() const { return statusText_; }
    QString GetResponseHeader(const QString& name) const;
    QString GetAllResponseHeaders() const;
    QByteArray ResponseBody() const { return body_; }
    /// True when the response grew past `kMaxResponseBytes`; it is then complete, failed and
    /// without a body.
    bool TooLarge() const { return tooLarge_; }
    /// The body decoded with the response's charset (UTF-8 when it names none).
    QString ResponseText() const;
    void abort();

Q_SIGNALS:
    void completed();

private:
    void onFinished();
    void onReadyRead();

    bool serverKind_;
    int readyState_ = 0;
    QString method_;
    QString address_;
    QList<QPair<QByteArray, QByteArray>> requestHeaders_;
    QPointer<QNetworkReply> reply_;
    int status_ = 0;
    QString statusText_;
    QList<QPair<QByteArray, QByteArray>> responseHeaders_;
    QByteArray body_;
    bool tooLarge_ = false;
};

/// A request object of the client kind, or (`serverKind`) of the server kind.
std::unique_ptr<HttpRequest> CreateHttpRequest(bool serverKind);

/// The bytes decoded as text of the named character set; empty for an unknown character set.
/// Invalid bytes decode by the decoder's rules (replacement characters), never failing.
QString BytesToText(const QByteArray& bytes, const QString& charset);

/// Creates or replaces `path` so that it holds exactly `bytes`; false when it cannot.
bool WriteBytesToFile(const QString& path, const QByteArray& bytes);

} // namespace quillax
