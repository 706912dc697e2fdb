#pragma once
// Download method 1: one item at a time, its body written to disk in 2048-byte chunks while the
// transfer loop yields to the event queue, so the window stays responsive and Stop works.

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadOptions.h"

#include <QObject>
#include <QPointer>

class QNetworkProxy;

namespace quillax {

class SocketGet;

class InetEngine : public QObject {
    Q_OBJECT
public:
    static constexpr int kChunkBytes = 2048;

    InetEngine(DownloadListModel& list, DownloadWindowState& state, const DownloadOptions& options,
               const DownloadTimeouts& timeouts, QObject* parent = nullptr);
    ~InetEngine() override;

    /// Downloads the item at `row`, or puts it back to waiting with "等待重新下载" when a
    /// transfer is already running. Returns when the transfer is over.
    bool Inet下载当前文件(int row);
    /// The transfer itself; true when the item ended stored or skipped as too big.
    bool Inet下载文件(int row);
    /// Fetches the item's address as a whole into `path` (no Referer sent).
    bool Inet整体下载文件(int row, const QString& path);

    /// True while a request is in progress.
    bool StillExecuting() const;
    /// Aborts the request in progress; the transfer loop then ends as its rules say.
    void Cancel();

    /// The text of connection state `state` for the status bar.
    static QString StateText(int state, int responseCode, const QString& responseText);

Q_SIGNALS:
    /// Text for status panel 2 or 3.
    void statusPanelText(int panel, const QString& text);
    void soundRequested(int number);
    /// The server answered "come back later" for the row: nothing was stored, and the row is
    /// the scheduler's to put back.
    void comeBackLater(int row, int httpStatus, qint64 waitMs);
    /// The row's transfer ended, whatever its result.
    void transferEnded(int row);

private:
    struct Transfer;
    QNetworkProxy transferProxy() const;
    SocketGet* send(const QUrl& url, const QString& referrer);
    void watchStates(SocketGet* get);
    bool waitForHeaders(SocketGet* get);
    void dropReply();
    void finish(int row);

    DownloadListModel& list_;
    DownloadWindowState& state_;
    const DownloadOptions& options_;
    const DownloadTimeouts& timeouts_;
    QPointer<SocketGet> reply_;
    bool transferring_ = false; ///< inside a transfer started by `Inet下载当前文件`
};

/// Whole part of received / size × 100, computed in single precision.
qint64 WholePercent(double received, double size);
/// `WholePercent` followed by "%".
QString PercentText(double received, double size);

} // namespace quillax
