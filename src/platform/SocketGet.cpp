#include "platform/SocketGet.h"

#include "platform/Network.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quillax {

namespace {

constexpr int kMaxRedirects = 5;
constexpr qsizetype kMaxChunkLine = 4096;

QNetworkReply::NetworkError errorOf(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return QNetworkReply::ProxyConnectionRefusedError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

SocketGet::SocketGet(QObject* parent) : QObject(parent) {}

SocketGet::~SocketGet() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        delete socket_;
    }
}

void SocketGet::start(const QUrl& url, const QByteArray& referrer, QNetworkCookieJar* jar,
                      const QNetworkProxy& proxy, qint64 maxBodyBytes) {
    referrer_ = referrer;
    jar_ = jar;
    proxy_ = proxy;
    maxBody_ = maxBodyBytes;
    redirects_ = 0;
    result_ = Result::Running;
    error_ = QNetworkReply::NoError;
    connectTo(url);
}

void SocketGet::abort() {
    if (result_ == Result::Running) {
        end(Result::Aborted, QNetworkReply::OperationCanceledError);
    }
}

QByteArray SocketGet::rawHeader(const QByteArray& name) const {
    for (const auto& [key, value] : headers_) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

void SocketGet::connectTo(const QUrl& url) {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    url_ = url;
    in_.clear();
    headDone_ = false;
    status_ = 0;
    reason_.clear();
    conflictingLengths_ = false;
    headers_.clear();
    chunked_ = false;
    contentLength_ = -1;
    chunkLeft_ = -1;
    inTrailers_ = false;
    trailerBytes_ = 0;
    bodyDone_ = false;
    buffer_.clear();
    readPos_ = 0;
    received_ = 0;
    const bool tls = url.scheme() == QLatin1String("https");
    if (!tls && url.scheme() != QLatin1String("http")) {
        end(Result::Failed, QNetworkReply::ProtocolUnknownError);
        return;
    }
    QTcpSocket* socket = tls ? new QSslSocket(this) : new QTcpSocket(this);
    socket_ = socket;
    // Through an HTTP proxy a plain address is asked of the proxy itself, in absolute form, as
    // proxies expect; https goes through a tunnel the proxy opens.
    viaProxy_ = !tls && proxy_.type() == QNetworkProxy::HttpProxy;
    socket->setProxy(viaProxy_ ? QNetworkProxy(QNetworkProxy::NoProxy) : proxy_);
    socket->setReadBufferSize(kMaxBufferedBytes);
    connect(socket, &QTcpSocket::readyRead, this, &SocketGet::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &SocketGet::onClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (e == QAbstractSocket::RemoteHostClosedError) {
            onClosed();
        } else {
            end(Result::Failed, errorOf(e));
        }
    });
    const quint16 port = static_cast<quint16>(url.port(tls ? 443 : 80));
    if (tls) {
        auto* ssl = static_cast<QSslSocket*>(socket);
        // The same trust as every download request.
        ssl->setSslConfiguration(DownloadRequest(url, true).sslConfiguration());
        connect(ssl, &QSslSocket::encrypted, this, &SocketGet::onConnected);
        connect(ssl, &QSslSocket::sslErrors, this,
                [this] { end(Result::Failed, QNetworkReply::SslHandshakeFailedError); });
        ssl->connectToHostEncrypted(url.host(), port);
    } else if (viaProxy_) {
        connect(socket, &QTcpSocket::connected, this, &SocketGet::onConnected);
        socket->connectToHost(proxy_.hostName(), proxy_.port());
    } else {
        connect(socket, &QTcpSocket::connected, this, &SocketGet::onConnected);
        socket->connectToHost(url.host(), port);
    }
    Q_EMIT connecting();
}

void SocketGet::onConnected() {
    QByteArray target =
        viaProxy_
            ? url_.toEncoded(QUrl::RemoveFragment | QUrl::RemoveUserInfo)
            : url_.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty() || target.startsWith('?')) {
        target.prepend('/');
    }
    QByteArray host = QUrl::toAce(url_.host());
    if (url_.port() != -1) {
        host += ':' + QByteArray::number(url_.port());
    }
    QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: " + host +
                         "\r\nUser-Agent: " + UserAgent().toUtf8() +
                         "\r\nAccept: */*\r\nAccept-Encoding: identity\r\n";
    if (!referrer_.isEmpty()) {
        request += "Referer: " + referrer_ + "\r\n";
    }
    if (jar_) {
        QByteArray cookies;
        for (const QNetworkCookie& cookie : jar_->cookiesForUrl(url_)) {
            cookies += (cookies.isEmpty() ? "" : "; ") +
                       cookie.toRawForm(QNetworkCookie::NameAndValueOnly);
        }
        if (!cookies.isEmpty()) {
            request += "Cookie: " + cookies + "\r\n";
        }
    }
    request += "Connection: close\r\n\r\n";
    socket_->write(request);
    Q_EMIT requestSent();
}

void SocketGet::onReadyRead() {
    pull(false);
}

void SocketGet::pull(bool toTheEnd) {
    if (!socket_ || result_ != Result::Running) {
        return;
    }
    // While the reader lags, the bytes wait in the socket, and the server waits.
    while (result_ == Result::Running && socket_ && socket_->bytesAvailable() > 0 &&
           (toTheEnd || bytesAvailable() < kMaxBufferedBytes)) {
        in_ += socket_->read(64 * 1024);
        if (!headDone_ && !readHead()) {
            continue;
        }
        if (headDone_) {
            readBody();
        }
    }
}

qint64 SocketGet::read(char* data, qint64 maxSize) {
    const qint64 n = std::min(maxSize, bytesAvailable());
    if (n <= 0) {
        return 0;
    }
    std::memcpy(data, buffer_.constData() + readPos_, static_cast<std::size_t>(n));
    readPos_ += n;
    if (readPos_ == buffer_.size()) {
        buffer_.clear();
        readPos_ = 0;
    } else if (readPos_ >= kMaxBufferedBytes) {
        buffer_.remove(0, readPos_);
        readPos_ = 0;
    }
    if (socket_ && socket_->bytesAvailable() > 0) {
        // Room again: go on reading the socket from the event loop.
        QMetaObject::invokeMethod(
            this, [this] { pull(false); }, Qt::QueuedConnection);
    }
    return n;
}

QByteArray SocketGet::read(qint64 maxSize) {
    QByteArray data(static_cast<qsizetype>(std::min(maxSize, bytesAvailable())), Qt::Uninitialized);
    data.resize(static_cast<qsizetype>(read(data.data(), data.size())));
    return data;
}

QByteArray SocketGet::readAll() {
    QByteArray all = buffer_.mid(readPos_);
    buffer_.clear();
    readPos_ = 0;
    if (socket_ && socket_->bytesAvailable() > 0) {
        QMetaObject::invokeMethod(
            this, [this] { pull(false); }, Qt::QueuedConnection);
    }
    return all;
}

void SocketGet::append(const QByteArray& data) {
    if (data.isEmpty()) {
        return;
    }
    buffer_ += data;
    received_ += data.size();
}

void SocketGet::onClosed() {
    if (!socket_ || result_ != Result::Running) {
        return;
    }
    pull(true); // what arrived before the close belongs to the answer
    if (result_ != Result::Running) {
        return; // ended by its framing, or failed
    }
    if (!headDone_) {
        end(Result::Failed, QNetworkReply::RemoteHostClosedError);
        return;
    }
    // The connection ended: only a body without framing ends that way whole.
    if (chunked_ || (contentLength_ >= 0 && received_ < contentLength_)) {
        end(Result::Cut);
    } else {
        end(Result::Whole);
    }
}

bool SocketGet::readHead() {
    while (true) {
        const qsizetype endOfHead = in_.indexOf("\r\n\r\n");
        if (endOfHead > kMaxHeadBytes || (endOfHead < 0 && in_.size() > kMaxHeadBytes)) {
            end(Result::Failed, QNetworkReply::ProtocolFailure);
            return false;
        }
        if (endOfHead < 0) {
            return false;
        }
        const QList<QByteArray> lines = in_.left(endOfHead).split('\n');
        in_.remove(0, endOfHead + 4);
        const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
        bool ok = false;
        status_ = statusLine.value(1).toInt(&ok);
        const QByteArray first = lines.value(0).trimmed();
        const qsizetype afterCode = first.indexOf(' ', first.indexOf(' ') + 1);
        reason_ = afterCode < 0 ? QByteArray() : first.mid(afterCode + 1);
        if (!statusLine.value(0).startsWith("HTTP/1.") || !ok || status_ < 100) {
            end(Result::Failed, QNetworkReply::ProtocolFailure);
            return false;
        }
        headers_.clear();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0) {
                headers_.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
        }
        if (status_ >= 200 || status_ == 101) {
            break;
        }
        // An interim answer (100 Continue): the real head follows.
    }
    if (jar_) {
        for (const auto& [name, value] : headers_) {
            if (name.compare("Set-Cookie", Qt::CaseInsensitive) == 0) {
                jar_->setCookiesFromUrl(QNetworkCookie::parseCookies(value), url_);
            }
        }
    }
    if (isRedirect(status_) && !rawHeader("Location").isEmpty()) {
        const QUrl next = url_.resolved(QUrl::fromEncoded(rawHeader("Location")));
        if (++redirects_ > kMaxRedirects) {
            end(Result::Failed, QNetworkReply::TooManyRedirectsError);
        } else if (url_.scheme() == QLatin1String("https") &&
                   next.scheme() != QLatin1String("https")) {
            end(Result::Failed, QNetworkReply::InsecureRedirectError);
        } else {
            connectTo(next);
        }
        return false;
    }
    headDone_ = true;
    chunked_ = rawHeader("Transfer-Encoding").toLower().contains("chunked");
    if (!chunked_) {
        // Two different lengths cannot both be true: neither is trusted.
        QByteArray first;
        for (const auto& [name, value] : headers_) {
            if (name.compare("Content-Length", Qt::CaseInsensitive) != 0) {
                continue;
            }
            for (const QByteArray& v : value.split(',')) {
                if (first.isNull()) {
                    first = v.trimmed();
                } else if (v.trimmed() != first) {
                    conflictingLengths_ = true;
                    end(Result::Failed, QNetworkReply::ProtocolFailure);
                    return false;
                }
            }
        }
        // A length that is no plain number counts as none: the body runs to the close.
        const bool digits = !first.isEmpty() && std::all_of(first.begin(), first.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        bool ok = false;
        const qint64 length = digits ? first.toLongLong(&ok) : -1;
        contentLength_ = ok ? length : -1;
    }
    Q_EMIT headReady();
    if (result_ != Result::Running) {
        return false; // the reader gave up on this answer
    }
    if (status_ == 204 || status_ == 304 || contentLength_ == 0) {
        end(Result::Whole);
        return false;
    }
    return true;
}

bool SocketGet::readBody() {
    if (result_ != Result::Running) {
        return true;
    }
    const qint64 before = received_;
    bool ended = false;
    if (chunked_) {
        ended = readChunked();
    } else {
        qsizetype take = in_.size();
        if (contentLength_ >= 0) {
            take = static_cast<qsizetype>(std::min<qint64>(take, contentLength_ - received_));
        }
        append(in_.left(take));
        in_.clear();
    }
    if (received_ != before) {
        Q_EMIT progress(received_, contentLength_);
        Q_EMIT readyRead();
    }
    if (result_ != Result::Running) {
        return true;
    }
    if (maxBody_ >= 0 && received_ > maxBody_) {
        end(Result::TooBig);
        return true;
    }
    if (ended || (!chunked_ && contentLength_ >= 0 && received_ >= contentLength_)) {
        end(Result::Whole);
        return true;
    }
    return false;
}

bool SocketGet::readChunked() {
    while (true) {
        if (inTrailers_) {
            const qsizetype eol = in_.indexOf("\r\n");
            trailerBytes_ += eol < 0 ? 0 : eol + 2;
            // Trailers are headers: as bounded as the head.
            if (trailerBytes_ > kMaxHeadBytes || (eol < 0 && in_.size() > kMaxHeadBytes)) {
                end(Result::Failed, QNetworkReply::ProtocolFailure);
                return true;
            }
            if (eol < 0) {
                return false;
            }
            const bool last = eol == 0;
            in_.remove(0, eol + 2);
            if (last) {
                bodyDone_ = true; // whole: ended once the bytes of this pass are announced
                in_.clear();
                return true;
            }
            continue; // a trailer line
        }
        if (chunkLeft_ < 0) {
            const qsizetype eol = in_.indexOf("\r\n");
            if (eol < 0) {
                if (in_.size() > kMaxChunkLine) {
                    end(Result::Failed, QNetworkReply::ProtocolFailure);
                    return true;
                }
                return false;
            }
            QByteArray sizeText = in_.left(eol);
            if (const qsizetype semicolon = sizeText.indexOf(';'); semicolon >= 0) {
                sizeText.truncate(semicolon);
            }
            sizeText = sizeText.trimmed();
            bool ok = !sizeText.isEmpty() && sizeText.size() <= 15 &&
                      std::all_of(sizeText.begin(), sizeText.end(), [](char c) {
                          return std::isxdigit(static_cast<unsigned char>(c));
                      });
            const qint64 size = ok ? sizeText.toLongLong(&ok, 16) : -1;
            if (!ok || size < 0) {
                end(Result::Failed, QNetworkReply::ProtocolFailure);
                return true;
            }
            in_.remove(0, eol + 2);
            if (size == 0) {
                inTrailers_ = true;
                continue;
            }
            chunkLeft_ = size;
        }
        if (chunkLeft_ > 0) {
            const auto take = static_cast<qsizetype>(std::min<qint64>(chunkLeft_, in_.size()));
            append(in_.left(take));
            in_.remove(0, take);
            chunkLeft_ -= take;
            if (chunkLeft_ > 0) {
                return false; // the rest of the chunk is still to come
            }
        }
        if (in_.size() < 2) {
            return false; // the line end after the chunk
        }
        if (!in_.startsWith("\r\n")) {
            end(Result::Failed, QNetworkReply::ProtocolFailure);
            return true;
        }
        in_.remove(0, 2);
        chunkLeft_ = -1;
    }
}

void SocketGet::end(Result result, QNetworkReply::NetworkError error) {
    if (result_ != Result::Running) {
        return;
    }
    result_ = result;
    error_ = error;
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
    Q_EMIT finished();
}

void AbandonGet(QPointer<SocketGet>& get, QObject* receiver) {
    if (SocketGet* g = get) {
        get = nullptr;
        g->disconnect(receiver);
        g->abort();
        g->deleteLater();
    }
}

} // namespace quillax
