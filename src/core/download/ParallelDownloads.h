#pragma once
// The download window's side of method 2: members 1 to 6 of the downloader array, one per busy
// thread, and the handlers that write their events into the list. Member 0 exists from the
// start and never downloads.

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadOptions.h"
#include "core/download/Downloader.h"

#include <QObject>
#include <array>

namespace quillax {

class ParallelDownloads : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxThreads = 6;

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
    /// Member `k`, or nullptr.
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
    int rowOf(int k) const;
    void removeMember(int k);
    void writeProgress(int row, qint64 received, qint64 expected);
    void onProgress(int k, qint64 received, qint64 expected);
    void onComplete(int k, qint64 received, qint64 expected, const QString& path);
    void onError(int k, const QString& message);
    void onComeBackLater(int k, int httpStatus, qint64 waitMs);
    void onOversize(int k);
    void forgetPlaceholder(int k, int row);
    void stamp();

    DownloadListModel& list_;
    DownloadWindowState& state_;
    const DownloadOptions& options_;
    const DownloadTimeouts& timeouts_;
    std::array<Downloader*, kMaxThreads + 1> members_{};
};

} // namespace quillax
