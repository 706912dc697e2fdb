#include "BoundedHttp.h"

#include <QTcpSocket>
#include <QTimer>

namespace quillax::demo {

namespace {

/// A socket never holds more unread bytes than one request may have, whoever reads it.
constexpr qint64 kReadBufferBytes = kMaxRequestHeadBytes + kMaxRequestBodyBytes + 64 * 1024;
/// A refused client that neither reads the answer nor closes is cut off after this long.
constexpr int kRefusalLingerMs = 5000;
/// The full-text server keeps at most this much of a body waiting in the socket.
constexpr qint64 kWriteWindow = 256 * 1024;
constexpr qint64 kPiece = 64 * 1024;

/// Where the head ends: the index just past its blank line ("\r\n\r\n", or bare "\n\n" as
/// lenient clients send), searching from `from`; -1 when not there yet.
qsizetype headEnd(const QByteArray& head, qsizetype from) {
    for (qsizetype i = from; i < head.size(); ++i) {
        if (head.at(i) != '\n') {
            continue;
        }
        qsizetype j = i + 1;
        if (j < head.size() && head.at(j) == '\r') {
            ++j;
        }
        if (j < head.size() && head.at(j) == '\n') {
            return j + 1;
        }
    }
    return -1;
}

bool allDigits(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

RequestFramer::Verdict RequestFramer::feed(const QByteArray& bytes, QList<RequestHead>* heads) {
    qsizetype pos = 0;
    while (verdict_ == Verdict::Fine && pos < bytes.size()) {
        if (bodyLeft_ > 0) {
            const qint64 take = std::min<qint64>(bodyLeft_, bytes.size() - pos);
            bodyLeft_ -= take;
            pos += take;
            continue;
        }
        if (head_.isEmpty()) {
            // Blank lines before a request line are allowed and mean nothing.
            while (pos < bytes.size() && (bytes.at(pos) == '\r' || bytes.at(pos) == '\n')) {
                ++pos;
            }
            if (pos == bytes.size()) {
                break;
            }
        }
        const qsizetype before = head_.size();
        // Only what fits under the cap is ever held.
        head_ += bytes.mid(pos, kMaxRequestHeadBytes - before);
        const qsizetype end = headEnd(head_, std::max<qsizetype>(0, before - 2));
        if (end < 0) {
            if (head_.size() >= kMaxRequestHeadBytes) {
                verdict_ = Verdict::HeadTooLarge;
                head_.clear();
                break;
            }
            pos = bytes.size();
            break;
        }
        pos += end - before;
        const QByteArray head = head_.left(end);
        head_.clear();
        verdict_ = finishHead(head, heads);
    }
    return verdict_;
}

RequestFramer::Verdict RequestFramer::finishHead(const QByteArray& head,
                                                 QList<RequestHead>* heads) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine.at(0).isEmpty() || requestLine.at(1).isEmpty() ||
        !requestLine.at(2).startsWith("HTTP/")) {
        return Verdict::BadRequest;
    }
    RequestHead parsed;
    parsed.method = requestLine.at(0);
    parsed.target = requestLine.at(1);
    QByteArray length;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        // A folded line, or white space between a name and its colon, is read one way here and
        // another by the server behind: a length that only one of them sees would let a head
        // past the cap as a body.
        if (line.startsWith(' ') || line.startsWith('\t')) {
            return Verdict::BadRequest;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            continue;
        }
        const QByteArray name = line.left(colon);
        if (name.endsWith(' ') || name.endsWith('\t')) {
            return Verdict::BadRequest;
        }
        const QByteArray value = line.mid(colon + 1).trimmed();
        parsed.headers.append({name, value});
        if (name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0 &&
            value.compare("identity", Qt::CaseInsensitive) != 0) {
            return Verdict::LengthRequired;
        }
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            // Two lengths that disagree would frame the stream two ways.
            if (!allDigits(value) || (!length.isNull() && value != length)) {
                return Verdict::BadRequest;
            }
            length = value;
        }
    }
    const qint64 bodyBytes = length.isNull() ? 0 : length.toLongLong();
    if (bodyBytes > kMaxRequestBodyBytes) {
        return Verdict::BodyTooLarge;
    }
    bodyLeft_ = bodyBytes;
    if (heads != nullptr) {
        heads->append(parsed);
    }
    return Verdict::Fine;
}

QByteArray RefusalResponse(RequestFramer::Verdict verdict) {
    QByteArray status;
    QByteArray text;
    switch (verdict) {
    case RequestFramer::Verdict::HeadTooLarge:
        status = "431 Request Header Fields Too Large";
        text = "请求头过长";
        break;
    case RequestFramer::Verdict::BodyTooLarge:
        status = "413 Content Too Large";
        text = "请求内容过大";
        break;
    case RequestFramer::Verdict::LengthRequired:
        status = "411 Length Required";
        text = "请求内容须注明长度";
        break;
    case RequestFramer::Verdict::BadRequest:
    case RequestFramer::Verdict::Fine:
        status = "400 Bad Request";
        text = "请求格式错误";
        break;
    }
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(text.size()) + "\r\n\r\n" + text;
}

QString ClientKey(const QHostAddress& address) {
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
}

void RefuseAndClose(QTcpSocket* socket, RequestFramer::Verdict verdict) {
    // Nothing else may read this client again: its request is not one the site answers.
    QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
    if (socket->isTransactionStarted()) {
        socket->commitTransaction();
    }
    socket->readAll();
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket] { socket->readAll(); });
    socket->write(RefusalResponse(verdict));
    socket->disconnectFromHost();
    QTimer::singleShot(kRefusalLingerMs, socket, [socket] { socket->abort(); });
}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setReadBufferSize(kReadBufferBytes);
    // An answer goes out in more than one write; without this, on a kept-alive connection each
    // one waits for the client's delayed acknowledgement (some 40 ms).
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto framer = std::make_shared<RequestFramer>();
    // Connected before the HTTP server's own reader, so it sees each new byte first. That
    // reader reads inside a transaction: peek() then shows only the bytes not yet taken.
    connect(socket, &QIODevice::readyRead, socket, [socket, framer] {
        const RequestFramer::Verdict verdict = framer->feed(socket->peek(socket->bytesAvailable()));
        if (verdict != RequestFramer::Verdict::Fine) {
            RefuseAndClose(socket, verdict);
        }
    });
    addPendingConnection(socket);
}

// One client: reads one request head, then sends the reply piece by piece, keeping at most
// kWriteWindow unsent so that big bodies never pile up in the socket.
class FullTextServer::Connection : public QObject {
public:
    Connection(FullTextServer* server, QTcpSocket* socket)
        : QObject(socket), server_(server), socket_(socket) {
        socket->setReadBufferSize(kReadBufferBytes);
        connect(socket, &QTcpSocket::readyRead, this, [this] { onRead(); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        drip_.setSingleShot(true);
        connect(&drip_, &QTimer::timeout, this, [this] {
            dripReady_ = true;
            pump();
        });
    }

private:
    void onRead() {
        const QByteArray bytes = socket_->readAll();
        if (answering_) {
            return; // one request per connection: the rest is not looked at
        }
        QList<RequestHead> heads;
        const RequestFramer::Verdict verdict = framer_.feed(bytes, &heads);
        if (verdict != RequestFramer::Verdict::Fine) {
            RefuseAndClose(socket_, verdict);
            return;
        }
        if (heads.isEmpty()) {
            return;
        }
        answering_ = true;
        heads.first().peer = ClientKey(socket_->peerAddress());
        reply_ = server_->resolver_(heads.first());
        QTimer::singleShot(std::max(0, reply_.delayHeadersMs), this, [this] { sendHead(); });
    }

    void sendHead() {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply_.status) + ' ' + reply_.reason +
                          "\r\nConnection: close\r\n";
        for (const auto& [name, value] : reply_.headers) {
            head += name + ": " + value + "\r\n";
        }
        head += reply_.chunked
                    ? QByteArray("Transfer-Encoding: chunked\r\n")
                    : "Content-Length: " + QByteArray::number(reply_.body.size()) + "\r\n";
        socket_->write(head + "\r\n");
        headSent_ = true;
        pump();
    }

    void pump() {
        if (!headSent_ || finished_) {
            return;
        }
        const qint64 total = reply_.body.size();
        while (sent_ < total && socket_->bytesToWrite() < kWriteWindow) {
            qint64 length = std::min(kPiece, total - sent_);
            if (reply_.dripBytes > 0) {
                if (!dripReady_) {
                    if (!drip_.isActive()) {
                        drip_.start(reply_.dripIntervalMs);
                    }
                    return;
                }
                dripReady_ = false;
                length = std::min<qint64>(length, reply_.dripBytes);
            }
            if (reply_.closeAfterBytes >= 0) {
                length = std::min(length, reply_.closeAfterBytes - sent_);
            }
            if (length > 0) {
                const QByteArray piece = reply_.body.mid(sent_, length);
                socket_->write(reply_.chunked
                                   ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                                   : piece);
                sent_ += length;
            }
            if (reply_.closeAfterBytes >= 0 && sent_ >= reply_.closeAfterBytes) {
                finished_ = true;
                socket_->disconnectFromHost();
                return;
            }
            if (reply_.dripBytes > 0) {
                return; // the drip timer sends the next piece
            }
        }
        if (sent_ >= total) {
            finished_ = true;
            if (reply_.chunked) {
                socket_->write("0\r\n\r\n");
            }
            socket_->disconnectFromHost();
        }
    }

    FullTextServer* server_;
    QTcpSocket* socket_;
    RequestFramer framer_;
    Reply reply_;
    QTimer drip_;
    bool dripReady_ = true;
    bool answering_ = false;
    bool headSent_ = false;
    bool finished_ = false;
    qint64 sent_ = 0;
};

FullTextServer::FullTextServer(Resolver resolver) : resolver_(std::move(resolver)) {}

FullTextServer::~FullTextServer() = default;

bool FullTextServer::listen() {
    server_ = std::make_unique<QTcpServer>();
    QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            new Connection(this, socket);
            if (socket->bytesAvailable() > 0) {
                QMetaObject::invokeMethod(socket, &QTcpSocket::readyRead, Qt::QueuedConnection);
            }
        }
    });
    return server_->listen(QHostAddress::LocalHost, 0);
}

quint16 FullTextServer::port() const {
    return server_ ? server_->serverPort() : 0;
}

} // namespace quillax::demo
