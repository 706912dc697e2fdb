#include "TestHttpServer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace quillax::test {

namespace {

QByteArray dataFile(const char* name) {
    QFile f(QStringLiteral(QUILLAX_TEST_DATA_DIR "/") + QString::fromLatin1(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

constexpr qint64 kWriteWindow = 256 * 1024;
constexpr qint64 kPiece = 64 * 1024;

} // namespace

QByteArray TestCertificatePem() {
    return dataFile("test-cert.pem");
}

// One client connection: reads one request, then sends the route's response piece by piece,
// keeping at most kWriteWindow unsent so that big bodies never sit in memory.
class TestHttpServer::Connection : public QObject {
public:
    Connection(TestHttpServer* server, QTcpSocket* socket)
        : QObject(socket), server_(server), socket_(socket) {
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
        if (started_) {
            socket_->readAll();
            return;
        }
        buffer_ += socket_->readAll();
        const qsizetype end = buffer_.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        started_ = true;
        ReceivedRequest request;
        const QList<QByteArray> lines = buffer_.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0) {
                request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                       lines[i].mid(colon + 1).trimmed());
            }
        }
        server_->requests_.append(request);
        Route missing;
        missing.status = 404;
        missing.reason = "Not Found";
        missing.body = "missing";
        route_ = server_->routes_.value(request.path, missing);
        if (route_.delayHeadersMs < 0) {
            return; // never answers
        }
        QTimer::singleShot(route_.delayHeadersMs, this, [this] { sendHead(); });
    }

    void sendHead() {
        if (!route_.raw.isEmpty()) {
            socket_->write(route_.raw);
            socket_->disconnectFromHost();
            return;
        }
        total_ = route_.generatedBytes >= 0 ? route_.generatedBytes : route_.body.size();
        QByteArray head = "HTTP/1.1 " + QByteArray::number(route_.status) + ' ' + route_.reason +
                          "\r\nConnection: close\r\n";
        for (const auto& [name, value] : route_.headers) {
            head += name + ": " + value + "\r\n";
        }
        if (route_.chunked) {
            head += "Transfer-Encoding: chunked\r\n";
        } else if (route_.sendLength) {
            head += "Content-Length: " + QByteArray::number(total_) + "\r\n";
        }
        socket_->write(head + "\r\n");
        headSent_ = true;
        pump();
    }

    QByteArray bodyPiece(qint64 from, qint64 length) const {
        if (route_.generatedBytes < 0) {
            return route_.body.mid(from, length);
        }
        QByteArray piece(length, Qt::Uninitialized);
        for (qint64 i = 0; i < length; ++i) {
            piece[i] = static_cast<char>('a' + (from + i) % 26);
        }
        return piece;
    }

    void pump() {
        if (!headSent_ || finished_) {
            return;
        }
        while (sent_ < total_ && socket_->bytesToWrite() < kWriteWindow) {
            qint64 length = std::min(kPiece, total_ - sent_);
            if (route_.dripBytes > 0) {
                if (!dripReady_) {
                    if (!drip_.isActive()) {
                        drip_.start(route_.dripIntervalMs);
                    }
                    return;
                }
                dripReady_ = false;
                length = std::min<qint64>(length, route_.dripBytes);
            }
            for (qint64 limit : {route_.stallAfterBytes, route_.closeAfterBytes}) {
                if (limit >= 0) {
                    length = std::min(length, limit - sent_);
                }
            }
            if (length > 0) {
                const QByteArray piece = bodyPiece(sent_, length);
                socket_->write(route_.chunked
                                   ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                                   : piece);
                sent_ += length;
            }
            if (route_.closeAfterBytes >= 0 && sent_ >= route_.closeAfterBytes) {
                finished_ = true;
                if (route_.resetOnClose) {
                    // Let what was written reach the client first, then reset.
                    QTimer::singleShot(100, socket_, [s = socket_] { s->abort(); });
                } else {
                    socket_->disconnectFromHost();
                }
                return;
            }
            if (route_.stallAfterBytes >= 0 && sent_ >= route_.stallAfterBytes) {
                finished_ = true; // keeps the connection open and silent
                return;
            }
            if (route_.dripBytes > 0) {
                return; // the drip timer sends the next piece
            }
        }
        if (sent_ >= total_) {
            finished_ = true;
            if (route_.chunked) {
                socket_->write("0\r\n\r\n");
            }
            socket_->disconnectFromHost();
        }
    }

    TestHttpServer* server_;
    QTcpSocket* socket_;
    QByteArray buffer_;
    Route route_;
    QTimer drip_;
    bool dripReady_ = true;
    bool started_ = false;
    bool headSent_ = false;
    bool finished_ = false;
    qint64 total_ = 0;
    qint64 sent_ = 0;
};

TestHttpServer::TestHttpServer(bool tls, QObject* parent) : QObject(parent), tls_(tls) {
    if (tls) {
        auto* server = new QSslServer;
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(TestCertificatePem()));
        config.setPrivateKey(QSslKey(dataFile("test-key.pem"), QSsl::Rsa));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setSslConfiguration(config);
        connect(server, &QSslServer::pendingConnectionAvailable, this, [this] {
            while (server_->hasPendingConnections()) {
                accept(server_->nextPendingConnection());
            }
        });
        server_.reset(server);
    } else {
        server_ = std::make_unique<QTcpServer>();
        connect(server_.get(), &QTcpServer::newConnection, this, [this] {
            while (server_->hasPendingConnections()) {
                accept(server_->nextPendingConnection());
            }
        });
    }
    server_->listen(QHostAddress::LocalHost, 0);
}

TestHttpServer::~TestHttpServer() = default;

void TestHttpServer::accept(QTcpSocket* socket) {
    socket->setParent(this);
    new Connection(this, socket);
    if (socket->bytesAvailable() > 0) {
        QMetaObject::invokeMethod(socket, &QTcpSocket::readyRead, Qt::QueuedConnection);
    }
}

quint16 TestHttpServer::port() const {
    return server_->serverPort();
}

QString TestHttpServer::url(const QString& path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(port())
        .arg(path);
}

void TestHttpServer::route(const QByteArray& path, const Route& route) {
    routes_.insert(path, route);
}

int TestHttpServer::requestCount(const QByteArray& path) const {
    int n = 0;
    for (const ReceivedRequest& r : requests_) {
        n += r.path == path ? 1 : 0;
    }
    return n;
}

Route Serve(const QByteArray& body, const QByteArray& contentType) {
    Route r;
    r.body = body;
    r.headers = {{"Content-Type", contentType}};
    return r;
}

Route RedirectTo(const QString& location) {
    Route r;
    r.status = 302;
    r.reason = "Found";
    r.headers = {{"Location", location.toUtf8()}};
    r.body = "moved";
    return r;
}

} // namespace quillax::test
