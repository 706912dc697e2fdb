#include "core/download/Downloader.h"

#include "core/download/BodyWriter.h"
#include "core/download/DownloadListModel.h"
#include "core/download/DownloadNeeded.h"
#include "core/download/ServerPauses.h"
#include "platform/Network.h"
#include "platform/SocketGet.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <utility>

namespace quillax {

const QByteArray Downloader::kPlaceholder = QByteArray("\x01\x00", 2);

Downloader::Downloader(const DownloadTimeouts& timeouts, QObject* parent)
    : QObject(parent), timeouts_(timeouts) {
    stallTimer_.setParent(this); // moves with the download to its thread
    stallTimer_.setInterval(timeouts_.stallCheckMs);
    connect(&stallTimer_, &QTimer::timeout, this, &Downloader::stallTick);
}

Downloader::~Downloader() {
    Terminate();
}

bool Downloader::WritePlaceholder(const QString& path) {
    QFile placeholder(path);
    return placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
           placeholder.write(kPlaceholder) == kPlaceholder.size();
}

bool Downloader::RemovePlaceholder(const QString& path) {
    // Only our two bytes: another download of the same path may have stored its file since.
    return IsPlaceholderFile(path) && QFile::remove(path);
}

void Downloader::BeginDownload(const QString& address, const QString& savePath,
                               const QString& referrer) {
    BeginWithPlaceholder(address, savePath, referrer, WritePlaceholder(savePath));
}

void Downloader::BeginWithPlaceholder(const QString& address, const QString& savePath,
                                      const QString& referrer, bool placeholderWritten) {
    savePath_ = savePath;
    referrer_ = referrer;
    placeholderWritten_ = placeholderWritten;
    markTimeMs_ = MonotonicMs();
    stallTimer_.start();
    // The key was decoded when the record was analysed: decoding again would turn an address
    // that holds "&amp;" itself into another one.
    address_ = address.trimmed();
    startRead(false);
}

void Downloader::startRead(bool fallback) {
    fallback_ = fallback;
    httpStatus_ = 0;
    bytesRead_ = 0;
    unwritten_ = 0;
    readFinished_ = false;
    networkError_ = false;
    total_ = 0;
    pending_ = Outcome::None;
    // The body goes to a file beside the save file, written on the writer thread, and replaces
    // the placeholder only when complete: memory stays bounded and the window never waits for
    // the disk.
    dropWriter(true);
    writer_ = new BodyWriter(savePath_, ownOldFile_);
    writer_->moveToThread(WriterThread());
    connect(writer_, &BodyWriter::pieceWritten, this, &Downloader::takeBackPiece);
    connect(writer_, &BodyWriter::written, this, [this](qint64 bytes) {
        unwritten_ -= bytes;
        if (unwritten_ < kMaxPendingBytes / 2) {
            onReadyRead(); // resumes a read that paused for the disk
        }
    });
    connect(writer_, &BodyWriter::committed, this, &Downloader::onCommitted);
    QMetaObject::invokeMethod(writer_, &BodyWriter::open, Qt::QueuedConnection);

    // Read from the socket directly: Qt's own reader can take a chunked body cut by a closed
    // connection for a whole one (see SocketGet).
    QNetworkCookieJar* jar = jar_ != nullptr ? jar_ : &ProgramCookies();
    reply_ = new SocketGet(this);
    connect(reply_, &SocketGet::readyRead, this, &Downloader::onReadyRead);
    connect(reply_, &SocketGet::finished, this, &Downloader::onFinished);
    // A refusal is known from its headers, so its page is not read on. Queued: the head is
    // still being taken apart when this is raised.
    connect(
        reply_, &SocketGet::headReady, this, [this] { comeBackLater(); }, Qt::QueuedConnection);
    if (!fallback) {
        connect(reply_, &SocketGet::progress, this, &Downloader::onProgress);
    }
    // Servers that check where a download comes from refuse it without the record page.
    reply_->start(QUrl(address_), referrer_.toUtf8(), jar,
                  QNetworkProxy(QNetworkProxy::DefaultProxy), -1);
}

void Downloader::dropReply() {
    AbandonGet(reply_, this);
}

void Downloader::dropWriter(bool discard) {
    if (writer_ == nullptr) {
        return;
    }
    BodyWriter* writer = writer_;
    writer_ = nullptr;
    writer->disconnect(this);
    if (discard) {
        QMetaObject::invokeMethod(writer, &BodyWriter::discard, Qt::QueuedConnection);
    }
    writer->deleteLater(); // in its own thread, after the calls queued before
}

bool Downloader::CancelAsyncRead() {
    dropReply();
    return false;
}

void Downloader::Terminate() {
    terminated_ = true;
    stallTimer_.stop();
    dropReply();
    dropWriter(true);
    removeOwnPlaceholder();
}

void Downloader::onReadyRead() {
    if (!reply_ || terminated_) {
        return;
    }
    // While the disk lags behind, the data waits in the reply (bounded), and the server waits.
    while (unwritten_ < kMaxPendingBytes && reply_->bytesAvailable() > 0) {
        QByteArray data = nextPiece();
        if (data.isEmpty()) {
            takeBackPiece(std::move(data));
            break;
        }
        bytesRead_ += data.size();
        unwritten_ += data.size();
        // The buffer goes to the writer whole and comes back through `pieceWritten`: it is
        // never written here while the writer thread may still read it.
        QMetaObject::invokeMethod(
            writer_,
            [w = writer_, piece = std::move(data)]() mutable { w->writePiece(std::move(piece)); },
            Qt::QueuedConnection);
        if (sizeLimit_ >= 0 && static_cast<double>(bytesRead_) > sizeLimit_ &&
            reply_->contentLength() < 0) {
            // Without an announced length the size rule is applied to what arrives.
            dropReply();
            stallTimer_.stop();
            dropWriter(true);
            removeOwnPlaceholder();
            Q_EMIT DownloadOversize(bytesRead_, savePath_);
            return;
        }
    }
    if (readFinished_ && reply_->bytesAvailable() == 0) {
        finishRead();
    }
}

QByteArray Downloader::nextPiece() {
    // Pieces are copied out of the reply into buffers that come back once written: fresh
    // allocations cost a page fault per page, and small pieces are still in the cache when the
    // writer copies them to the file.
    QByteArray piece;
    if (!freePieces_.empty()) {
        piece = std::move(freePieces_.back());
        freePieces_.pop_back();
    }
    piece.resize(kPieceBytes);
    const qint64 got = reply_->read(piece.data(), kPieceBytes);
    piece.resize(got > 0 ? got : 0);
    return piece;
}

void Downloader::takeBackPiece(QByteArray piece) {
    // Enough buffers for the pieces that may be on their way to the disk at once.
    if (freePieces_.size() < static_cast<std::size_t>(kMaxPendingBytes / kPieceBytes) + 2) {
        freePieces_.push_back(std::move(piece));
    }
}

void Downloader::onProgress(qint64 received, qint64 total) {
    if (total < 1 || terminated_) {
        return;
    }
    Q_EMIT DownloadProgress(received, total, savePath_);
}

bool Downloader::comeBackLater() {
    if (!reply_ || terminated_) {
        return false;
    }
    const int code = reply_->status();
    const bool hasRetryAfter = !reply_->rawHeader("Retry-After").isNull();
    if (code == 0 || !IsComeBackLater(code, hasRetryAfter)) {
        return false;
    }
    const qint64 wait = ComeBackLaterWaitMs(
        code, ParseRetryAfter(reply_->rawHeader("Retry-After"), PauseNowEpochMs()));
    dropReply();
    stallTimer_.stop();
    dropWriter(true);
    removeOwnPlaceholder();
    Q_EMIT DownloadComeBackLater(code, wait, savePath_);
    return true;
}

void Downloader::onFinished() {
    if (!reply_ || terminated_ || comeBackLater()) {
        return;
    }
    readFinished_ = true;
    // A body whose framing did not end (a chunked body cut by a closed connection) is a
    // broken read, whatever arrived.
    networkError_ = reply_->result() != SocketGet::Result::Whole;
    networkErrorCode_ = reply_->result() == SocketGet::Result::Cut
                            ? QNetworkReply::RemoteHostClosedError
                            : reply_->error();
    httpStatus_ = reply_->status();
    total_ = reply_->contentLength() >= 0 ? reply_->contentLength() : 0;
    onReadyRead(); // reads what is left, or waits for the disk, then finishes the read
}

void Downloader::finishRead() {
    const bool conflicting = reply_ && reply_->conflictingLengths();
    dropReply();
    if (conflicting) {
        // A server that announces two lengths cannot be trusted with either: no second try.
        fail(QStringLiteral("下载失败"), reasons::kConflictingLengths);
        return;
    }
    // An error page, or a body cut short of its announced length, is never stored: the row
    // fails and no file is left under the title.
    const bool cutShort = !fallback_ && total_ >= 1 && bytesRead_ >= 1 && bytesRead_ < total_;
    if (FailedHttpStatus(httpStatus_) || cutShort) {
        fail(QStringLiteral("下载失败"), FailedHttpStatus(httpStatus_)
                                             ? reasons::HttpStatus(httpStatus_)
                                             : reasons::CutShort(bytesRead_, total_));
        return;
    }
    if (fallback_) {
        if (bytesRead_ >= 2 && !networkError_) {
            pending_ = Outcome::FallbackDone;
            QMetaObject::invokeMethod(writer_, &BodyWriter::commit, Qt::QueuedConnection);
        } else {
            fail(QStringLiteral("无法下载"), networkError_
                                                 ? reasons::NetworkError(networkErrorCode_)
                                                 : reasons::kNothingArrived);
        }
        return;
    }
    if (total_ < 1 || bytesRead_ < 1) {
        // Without a length the whole body is what the fallback fetch would store; it is
        // fetched again only when the read failed or brought nothing.
        if (!networkError_ && bytesRead_ >= 2) {
            pending_ = Outcome::CompleteAsWhole;
            QMetaObject::invokeMethod(writer_, &BodyWriter::commit, Qt::QueuedConnection);
            return;
        }
        DownloadByInet();
        return;
    }
    pending_ = Outcome::Complete;
    QMetaObject::invokeMethod(writer_, &BodyWriter::commit, Qt::QueuedConnection);
}

void Downloader::onCommitted(bool ok, const QString& path) {
    if (terminated_) {
        return;
    }
    if (ok && path != savePath_) {
        // The body may not take the name (a web page for a document, or another type than
        // the file there): it stands beside it, and the placeholder that reserved it goes.
        removeOwnPlaceholder();
        savePath_ = path;
    }
    const Outcome outcome = std::exchange(pending_, Outcome::None);
    dropWriter(false);
    stallTimer_.stop();
    if (outcome == Outcome::None) {
        return;
    }
    if (ok) {
        placeholderWritten_ = false; // the body has replaced it
    } else {
        // A body that could not be written or moved into place is a failed download, whatever
        // arrived over the network.
        removeOwnPlaceholder();
        reason_ = reasons::kWriteFailed;
        Q_EMIT DownloadError(QStringLiteral("下载失败"), savePath_);
        return;
    }
    if (outcome == Outcome::Complete) {
        // The row's percentage decides whether a body shorter than announced counts.
        Q_EMIT DownloadComplete(bytesRead_, total_, savePath_);
        return;
    }
    // The whole body is the stored file: its size is what arrived.
    Q_EMIT DownloadComplete(bytesRead_, bytesRead_, savePath_);
}

void Downloader::fail(const QString& message, const QString& reason) {
    stallTimer_.stop();
    dropWriter(true);
    removeOwnPlaceholder();
    reason_ = reason;
    Q_EMIT DownloadError(message, savePath_);
}

void Downloader::removeOwnPlaceholder() {
    if (placeholderWritten_) {
        RemovePlaceholder(savePath_);
    }
    placeholderWritten_ = false;
}

void Downloader::DownloadByInet() {
    startRead(true);
}

void Downloader::stallTick() {
    if (pending_ != Outcome::None) {
        return; // the body is being stored
    }
    // Any byte that arrives counts as progress, announced length or not.
    if (bytesRead_ == seenMark_) {
        if (MonotonicMs() - markTimeMs_ >= timeouts_.asyncStallMs) {
            CancelAsyncRead();
            fail(QStringLiteral("超时"), reasons::kStalled);
        }
        return;
    }
    seenMark_ = bytesRead_;
    markTimeMs_ = MonotonicMs();
}

} // namespace quillax
