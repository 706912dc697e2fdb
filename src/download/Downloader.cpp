#include "download/Downloader.h"

#include "platform/Network.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <cstdio>

namespace quillax {

const QByteArray Downloader::kPlaceholder = QByteArray("\x01\x00", 2);

Downloader::Downloader(const DownloadTimeouts& timeouts, QObject* parent)
    : QObject(parent), timeouts_(timeouts) {
    stallTimer_.setInterval(timeouts_.stallCheckMs);
    connect(&stallTimer_, &QTimer::timeout, this, &Downloader::stallTick);
}

Downloader::~Downloader() {
    Terminate();
}

void Downloader::BeginDownload(const QString& address, const QString& savePath,
                               const QString& /*referrer*/) {
    savePath_ = savePath;
    {
        QFile placeholder(savePath_);
        if (placeholder.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            placeholder.write(kPlaceholder);
        }
    }
    markTimeMs_ = MonotonicMs();
    stallTimer_.start();
    address_ = QString(address)
                   .replace(QLatin1String("&amp;"), QLatin1String("&"), Qt::CaseInsensitive)
                   .trimmed();
    startRead(false);
}

void Downloader::startRead(bool fallback) {
    fallback_ = fallback;
    bytesRead_ = 0;
    // The body goes to a temporary file beside the save file and replaces the placeholder
    // only when complete, so memory stays bounded whatever the file's size.
    discardBody();
    body_ = std::make_unique<QFile>(savePath_ + QStringLiteral(".quillax-part"));
    bodyBroken_ = !body_->open(QIODevice::WriteOnly | QIODevice::Truncate);
    reply_ = NetworkManager().get(DownloadRequest(QUrl(address_), true));
    reply_->setReadBufferSize(kReplyReadBufferBytes);
    connect(reply_, &QNetworkReply::readyRead, this, &Downloader::onReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &Downloader::onFinished);
    if (!fallback) {
        connect(reply_, &QNetworkReply::downloadProgress, this, &Downloader::onProgress);
    }
}

void Downloader::dropReply() {
    if (reply_) {
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

bool Downloader::CancelAsyncRead() {
    dropReply();
    return false;
}

void Downloader::Terminate() {
    terminated_ = true;
    stallTimer_.stop();
    dropReply();
    discardBody(); // the placeholder stays
}

void Downloader::discardBody() {
    if (body_) {
        body_->close();
        body_->remove();
        body_.reset();
    }
}

bool Downloader::commitBody() {
    if (!body_ || bodyBroken_) {
        discardBody();
        return false;
    }
    body_->close();
    // rename() replaces the placeholder in one step. No fsync: like any download tool, the
    // file reaches the disk when the system writes it, and the window does not wait for that.
    const bool moved = std::rename(QFile::encodeName(body_->fileName()).constData(),
                                   QFile::encodeName(savePath_).constData()) == 0;
    if (!moved) {
        body_->remove();
    }
    body_.reset();
    return moved;
}

void Downloader::onReadyRead() {
    if (!reply_) {
        return;
    }
    const QByteArray data = reply_->readAll();
    bytesRead_ += data.size();
    if (body_ && !bodyBroken_ && body_->write(data) != data.size()) {
        bodyBroken_ = true; // disk full or similar: the download cannot be stored
    }
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid() && sizeLimit_ >= 0 && static_cast<double>(bytesRead_) > sizeLimit_) {
        // Without an announced length the size rule is applied to what arrives.
        dropReply();
        stallTimer_.stop();
        Q_EMIT DownloadOversize(bytesRead_, savePath_);
    }
}

void Downloader::onProgress(qint64 received, qint64 total) {
    if (total < 1 || terminated_) {
        return;
    }
    expected_ = total;
    receivedMark_ = received;
    Q_EMIT DownloadProgress(received, total, savePath_);
}

void Downloader::onFinished() {
    if (!reply_ || terminated_) {
        return;
    }
    onReadyRead();
    if (!reply_ || terminated_) {
        return; // given up inside (size limit)
    }
    const bool networkError = reply_->error() != QNetworkReply::NoError;
    const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
    const qint64 total = length.isValid() ? length.toLongLong() : 0;
    dropReply();

    if (fallback_) {
        stallTimer_.stop();
        if (bytesRead_ >= 2 && !networkError && commitBody()) {
            const qint64 size = QFileInfo(savePath_).size();
            Q_EMIT DownloadComplete(size, size, savePath_);
        } else {
            discardBody();
            Q_EMIT DownloadError(QStringLiteral("无法下载"), savePath_);
        }
        return;
    }
    if (total < 1 || bytesRead_ < 1) {
        // Without a length the whole body is what the fallback fetch would store; it is
        // fetched again only when the read failed or brought nothing.
        if (!networkError && bytesRead_ >= 2 && commitBody()) {
            stallTimer_.stop();
            const qint64 size = QFileInfo(savePath_).size();
            Q_EMIT DownloadComplete(size, size, savePath_);
            return;
        }
        DownloadByInet();
        return;
    }
    stallTimer_.stop();
    commitBody();
    Q_EMIT DownloadComplete(bytesRead_, total, savePath_);
}

void Downloader::DownloadByInet() { startRead(true); }

void Downloader::stallTick() {
    // Any byte that arrives counts as progress, announced length or not.
    if (bytesRead_ == seenMark_) {
        if (MonotonicMs() - markTimeMs_ >= timeouts_.asyncStallMs) {
            CancelAsyncRead();
            stallTimer_.stop();
            Q_EMIT DownloadError(QStringLiteral("超时"), savePath_);
        }
        return;
    }
    seenMark_ = bytesRead_;
    markTimeMs_ = MonotonicMs();
}

} // namespace quillax
