#include "platform/HttpRequest.h"

#include "platform/Network.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimer>

namespace quillax {

namespace {
constexpr int kServerReceiveTimeoutMs = 60'000;
}

HttpRequest::HttpRequest(bool serverKind, QObject* parent)
    : QObject(parent), serverKind_(serverKind) {}

HttpRequest::~HttpRequest() {
    abort();
}

bool HttpRequest::open(const QString& method, const QString& address) {
    abort();
    const QUrl url(address);
    if (!url.isValid() || url.scheme().isEmpty()) {
        return false;
    }
    method_ = method.toUpper();
    address_ = address;
    requestHeaders_.clear();
    status_ = 0;
    statusText_.clear();
    responseHeaders_.clear();
    body_.clear();
    tooLarge_ = false;
    readyState_ = 1;
    return true;
}

void HttpRequest::SetRequestHeader(const QString& name, const QString& value) {
    if (readyState_ == 1) {
        // A null value would remove the header; an empty text is still sent, as an empty value.
        QByteArray bytes = value.toUtf8();
        if (bytes.isNull()) {
            bytes = QByteArray("");
        }
        requestHeaders_.append({name.toLatin1(), bytes});
    }
}

void HttpRequest::send(const QByteArray& body) {
    if (readyState_ != 1) {
        return;
    }
    QNetworkRequest request = DownloadRequest(QUrl(address_), false);
    for (const auto& [name, value] : requestHeaders_) {
        request.setRawHeader(name, value);
    }
    if (serverKind_) {
        request.setTransferTimeout(kServerReceiveTimeoutMs);
    }
    reply_ = NetworkManager().sendCustomRequest(request, method_.toLatin1(), body);
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this] { readyState_ = 3; });
    connect(reply_, &QNetworkReply::readyRead, this, &HttpRequest::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &HttpRequest::onFinished);
    readyState_ = 2;
}

void HttpRequest::onReadyRead() {
    if (!reply_ || tooLarge_) {
        return;
    }
    body_ += reply_->readAll();
    if (body_.size() > kMaxResponseBytes) {
        tooLarge_ = true;
        body_ = QByteArray();
        reply_->abort(); // finishes the request as failed
    }
}

void HttpRequest::onFinished() {
    if (!reply_) {
        return;
    }
    if (tooLarge_) {
        status_ = kNetworkErrorBase + static_cast<int>(QNetworkReply::OperationCanceledError);
        statusText_ = QStringLiteral("response too large");
        responseHeaders_ = reply_->rawHeaderPairs();
        reply_->deleteLater();
        reply_ = nullptr;
        readyState_ = 4;
        Q_EMIT completed();
        return;
    }
    const QVariant code = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (code.isValid()) {
        status_ = code.toInt();
        statusText_ = QString::fromLatin1(
            reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
    } else {
        status_ = kNetworkErrorBase + static_cast<int>(reply_->error());
        statusText_ = reply_->errorString();
    }
    responseHeaders_ = reply_->rawHeaderPairs();
    body_ += reply_->readAll();
    if (body_.size() > kMaxResponseBytes) {
        tooLarge_ = true;
        body_ = QByteArray();
    }
    reply_->deleteLater();
    reply_ = nullptr;
    readyState_ = 4;
    Q_EMIT completed();
}

bool HttpRequest::waitForResponse(int ms) {
    if (!serverKind_) {
        return false; // the client kind cannot wait; callers poll
    }
    if (readyState_ != 4 && reply_) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        connect(this, &HttpRequest::completed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return readyState_ == 4;
}

QString HttpRequest::GetResponseHeader(const QString& name) const {
    for (const auto& [key, value] : responseHeaders_) {
        if (QString::fromLatin1(key).compare(name, Qt::CaseInsensitive) == 0) {
            return QString::fromLatin1(value);
        }
    }
    return {};
}

QString HttpRequest::GetAllResponseHeaders() const {
    QString all;
    for (const auto& [key, value] : responseHeaders_) {
        all += QString::fromLatin1(key) + QStringLiteral(": ") + QString::fromLatin1(value) +
               QStringLiteral("\r\n");
    }
    return all;
}

QString HttpRequest::ResponseText() const {
    const QString type = GetResponseHeader(QStringLiteral("Content-Type"));
    const qsizetype at = type.indexOf(QLatin1String("charset="), 0, Qt::CaseInsensitive);
    QString charset = QStringLiteral("utf-8");
    if (at >= 0) {
        charset = type.mid(at + 8).section(QLatin1Char(';'), 0, 0).trimmed();
        charset.remove(QLatin1Char('"'));
    }
    const QString text = BytesToText(body_, charset);
    return text.isEmpty() ? BytesToText(body_, QStringLiteral("utf-8")) : text;
}

void HttpRequest::abort() {
    AbandonReply(reply_, this);
    readyState_ = 0;
}

std::unique_ptr<HttpRequest> CreateHttpRequest(bool serverKind) {
    return std::make_unique<HttpRequest>(serverKind);
}

QString BytesToText(const QByteArray& bytes, const QString& charset) {
    QStringDecoder decoder(charset.trimmed().toLatin1().constData());
    if (!decoder.isValid()) {
        return {};
    }
    return decoder.decode(bytes);
}

bool WriteBytesToFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace quillax
