#pragma once
// One download thread of method 2: an asynchronous read of one address whose body replaces a
// two-byte placeholder file when the read completes, with a fallback fetch and a stall timer.

#include "core/download/DownloadOptions.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <vector>

class QNetworkCookieJar;

namespace quillax {

class BodyWriter;
class SocketGet;

class Downloader : public QObject {
    Q_OBJECT
public:
    /// The placeholder written when a download starts: a 16-bit 1, little-endian.
    static const QByteArray kPlaceholder;
    /// Body bytes handed to the writer thread and not yet on disk, above which reading pauses.
    static constexpr qint64 kMaxPendingBytes = 1024 * 1024;
    /// Size of the pieces the body is handed to the writer in.
    static constexpr qsizetype kPieceBytes = 64 * 1024;

    explicit Downloader(const DownloadTimeouts& timeouts, QObject* parent = nullptr);
    ~Downloader() override;

    /// Starts a download of `address` into `savePath`, sending `referrer` when it is not empty.
    /// The two-byte placeholder reserves the name only where no file is: a file already there
    /// (one being downloaded again) stays as it is until the new body replaces it whole.
    void BeginDownload(const QString& address, const QString& savePath, const QString& referrer);
    /// `BeginDownload` for a caller that tried to write the placeholder itself, with its result.
    void BeginWithPlaceholder(const QString& address, const QString& savePath,
                              const QString& referrer, bool placeholderWritten);
    /// Writes the placeholder where no file is; true when it did.
    static bool WritePlaceholder(const QString& path);
    /// Removes the file at `path` when it is exactly a placeholder, nothing else; true when it
    /// did.
    static bool RemovePlaceholder(const QString& path);
    /// The caller has taken care of the placeholder: this download no longer removes it.
    void disownPlaceholder() { placeholderWritten_ = false; }
    /// The jar the reads take their cookies from and give new ones to (the program's one when
    /// not set); it must be safe to use from this object's thread.
    void setCookieJar(QNetworkCookieJar* jar) { jar_ = jar; }
    /// Cancels the reads of this control; returns false.
    bool CancelAsyncRead();
    /// Abandons the download silently: nothing is raised afterwards. The placeholder goes.
    void Terminate();
    /// Bytes above which a body of unknown length is given up (the window's size limit).
    void setSizeLimit(double bytes) { sizeLimit_ = bytes; }
    /// The row's earlier file, which a body of its type may replace (see `PlaceForBody`).
    void setOwnOldFile(const QString& path) { ownOldFile_ = path; }

    QString savePath() const { return savePath_; }
    /// Why the download failed, in words for the user, once it raised `DownloadError`.
    QString reason() const { return reason_; }

Q_SIGNALS:
    void DownloadProgress(qint64 received, qint64 expected, const QString& savePath);
    void DownloadComplete(qint64 received, qint64 expected, const QString& savePath);
    /// The read failed ("无法下载", "超时"), or the body could not be stored ("下载失败"). The
    /// placeholder has been removed: a later run under 跳过 would take it for the paper.
    void DownloadError(const QString& message, const QString& savePath);
    /// A body without announced length grew past the size limit; the read has been cancelled.
    void DownloadOversize(qint64 received, const QString& savePath);
    /// The server answered "come back later" (429, 503, or a failure with Retry-After): the
    /// read was cancelled, nothing is stored and the placeholder is gone.
    void DownloadComeBackLater(int httpStatus, qint64 waitMs, const QString& savePath);

private:
    /// What the end of a read leads to once the body is on disk.
    enum class Outcome { None, Complete, CompleteAsWhole, FallbackDone };

    void startRead(bool fallback);
    void onReadyRead();
    QByteArray nextPiece();
    void takeBackPiece(QByteArray piece);
    void onProgress(qint64 received, qint64 total);
    void onFinished();
    /// True, after cleaning up and reporting, when the answer's headers say "come back later".
    bool comeBackLater();
    void finishRead();
    void onCommitted(bool ok, const QString& path);
    void stallTick();
    void DownloadByInet();
    void dropReply();
    void dropWriter(bool discard);
    void removeOwnPlaceholder();
    /// Ends the download as failed: no body stays, no placeholder, and `DownloadError` says why.
    void fail(const QString& message, const QString& reason);

    const DownloadTimeouts timeouts_; ///< a copy: the download may run on another thread
    QNetworkCookieJar* jar_ = nullptr;
    QString savePath_;
    QString ownOldFile_;
    QString address_;
    QPointer<SocketGet> reply_;
    BodyWriter* writer_ = nullptr; ///< lives in the writer thread
    QTimer stallTimer_;
    /// Buffers the writer has handed back, reused for the next pieces.
    std::vector<QByteArray> freePieces_;
    double sizeLimit_ = -1;
    QString referrer_;
    QString reason_;
    bool fallback_ = false;
    bool placeholderWritten_ = false;
    int httpStatus_ = 0;
    bool terminated_ = false;
    bool readFinished_ = false;
    bool networkError_ = false;
    int networkErrorCode_ = 0;
    Outcome pending_ = Outcome::None;
    qint64 total_ = 0;
    qint64 unwritten_ = 0; ///< bytes handed to the writer and not yet written
    qint64 bytesRead_ = 0;
    qint64 seenMark_ = 0;
    qint64 markTimeMs_ = 0;
};

} // namespace quillax
