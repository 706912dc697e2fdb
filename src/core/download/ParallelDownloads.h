#pragma once
// The download window's side of method 2: members 1 to 6 of the downloader array, one per busy
// thread, and the handlers that write their events into the list. Member 0 exists from the
// start and never downloads. The members read the network on a thread of their own, so six
// bodies never slow the window; only their events come back, progress at most ten times a
// second for all of them together.

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadOptions.h"
#include "core/download/Downloader.h"

#include <QObject>
#include <array>
#include <vector>

class QThread;

namespace quillax {

class ParallelDownloads : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxThreads = 6;
    /// Progress of all threads reaches the list at most once in this time.
    static constexpr int kProgressBatchMs = 100;

    ParallelDownloads(DownloadListModel& list, DownloadWindowState& state,
                      const DownloadOptions& options, const DownloadTimeouts& timeouts,
                      QObject* parent = nullptr);
    ~ParallelDownloads() override;

    /// Gives thread `k` (1 to 6) the row at 1-based list `position`.
    void 多线程下载(int k, int position, const QString& address, const QString& path);
    /// True while member `k` exists, that is while thread `k` is busy (member 0: always).
    bool IsControlLoaded(int k) const;
    /// Existing members, member 0 included.
    int 统计下载控件数目() const;
    /// Removes members 1 to 6; their transfers end without an event.
    void UnloadAll();
    /// Member `k`, or nullptr. Members 1 to 6 live on the network thread: their identity only.
    Downloader* member(int k) const;

Q_SIGNALS:
    void statusPanelText(int panel, const QString& text);
    void soundRequested(int number);
    void scrollToRow(int row);
    /// See the single-stream engine's signals of the same names.
    void comeBackLater(int row, int httpStatus, qint64 waitMs);
    void transferEnded(int row);
    /// A thread let go of its member, whatever the outcome: it can take the next item.
    void threadFreed();

private:
    class NetworkSide;
    struct Progress {
        int k = 0;
        quint64 generation = 0;
        qint64 received = 0;
        qint64 expected = 0;
    };

    int rowOf(int k) const;
    /// True while `generation` is the download slot `k` holds: events of an ended one are stale.
    bool current(int k, quint64 generation) const;
    /// Ends member `k`. `early`: the window ends it before it ended itself, so the placeholder
    /// it made, if any, is removed here.
    void removeMember(int k, bool early);
    void writeProgress(int row, qint64 received, qint64 expected);
    void onProgressBatch(const std::vector<Progress>& batch);
    void onProgress(int k, qint64 received, qint64 expected);
    void onComplete(int k, qint64 received, qint64 expected, const QString& path);
    void onError(int k, const QString& message, const QString& reason);
    void onComeBackLater(int k, int httpStatus, qint64 waitMs);
    void onOversize(int k);
    void forgetPlaceholder(int k, int row);
    void stamp();
    NetworkSide& networkSide();

    DownloadListModel& list_;
    DownloadWindowState& state_;
    const DownloadOptions& options_;
    const DownloadTimeouts& timeouts_;
    std::array<Downloader*, kMaxThreads + 1> members_{};
    std::array<quint64, kMaxThreads + 1> generations_{};
    std::array<bool, kMaxThreads + 1> madePlaceholder_{};
    std::array<QString, kMaxThreads + 1> paths_;
    quint64 lastGeneration_ = 0;
    QThread* thread_ = nullptr;
    NetworkSide* side_ = nullptr; ///< lives on `thread_`
};

} // namespace quillax
