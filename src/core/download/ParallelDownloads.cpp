#include "core/download/ParallelDownloads.h"

#include "core/download/InetEngine.h"
#include "core/download/ListOperations.h"
#include "core/download/StoredTypeCorrection.h"
#include "core/files/FileNaming.h"
#include "core/files/HeaderTypes.h"
#include "core/files/TypeRecognition.h"
#include "core/settings/ShellHelpers.h"
#include "platform/Network.h"

#include <QThread>
#include <QTimer>
#include <malloc.h>

namespace quillax {

namespace {
using Col = DownloadListModel::Column;

// Qt's network thread reads each socket into buffers of whatever size has arrived, up to
// megabytes, and frees them soon after. With the allocator's defaults such buffers are mapped
// and unmapped, or the heap is trimmed, over and over, so every page of every body costs a
// page fault: with six bodies at once that was the network thread's largest cost. Keeping
// freed memory in the heap (it is reused at once) removes it.
void keepStreamBuffersMapped() {
    static const bool once = [] {
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
        return true;
    }();
    Q_UNUSED(once);
}
} // namespace

/// The members' side on the network thread: the program's cookies handed to them, their events
/// sent on to the window, and the progress of all of them gathered into one report
/// at most every `kProgressBatchMs`.
class ParallelDownloads::NetworkSide : public QObject {
public:
    NetworkSide(ParallelDownloads& window, SharedCookieJar& cookies)
        : window_(&window), cookies_(cookies) {
        batch_.setParent(this); // moves to the network thread with this object
        batch_.setSingleShot(true);
        batch_.setInterval(kProgressBatchMs);
        connect(&batch_, &QTimer::timeout, this, &NetworkSide::sendProgress);
    }

    void begin(Downloader* m, int k, quint64 generation, const QString& address,
               const QString& path, const QString& referrer, bool placeholderWritten) {
        m->setCookieJar(&cookies_); // the program's jar is safe from any thread
        connect(m, &Downloader::DownloadProgress, this,
                [this, k, generation](qint64 r, qint64 e, const QString&) {
                    pending_[static_cast<std::size_t>(k)] = Progress{k, generation, r, e};
                    if (!batch_.isActive()) {
                        batch_.start();
                    }
                });
        connect(m, &Downloader::DownloadComplete, this,
                [this, k, generation](qint64 r, qint64 e, const QString& p) {
                    send(k, generation,
                         [k, r, e, p](ParallelDownloads& w) { w.onComplete(k, r, e, p); });
                });
        connect(m, &Downloader::DownloadError, this,
                [this, m, k, generation](const QString& message, const QString&) {
                    send(k, generation, [k, message, reason = m->reason()](ParallelDownloads& w) {
                        w.onError(k, message, reason);
                    });
                });
        connect(m, &Downloader::DownloadOversize, this,
                [this, k, generation](qint64, const QString&) {
                    send(k, generation, [k](ParallelDownloads& w) { w.onOversize(k); });
                });
        connect(m, &Downloader::DownloadComeBackLater, this,
                [this, k, generation](int status, qint64 wait, const QString&) {
                    send(k, generation, [k, status, wait](ParallelDownloads& w) {
                        w.onComeBackLater(k, status, wait);
                    });
                });
        m->BeginWithPlaceholder(address, path, referrer, placeholderWritten);
    }

    /// Ends `m` silently; the window has settled its placeholder.
    void end(Downloader* m, int k) {
        pending_[static_cast<std::size_t>(k)] = {};
        m->disconnect(this);
        m->disownPlaceholder();
        m->Terminate();
        delete m;
    }

private:
    /// Sends a member's last event, after dropping its progress not yet reported.
    template <class F> void send(int k, quint64 generation, F apply) {
        pending_[static_cast<std::size_t>(k)] = {};
        QMetaObject::invokeMethod(
            window_,
            [w = window_, k, generation, apply = std::move(apply)] {
                if (w->current(k, generation)) {
                    apply(*w);
                }
            },
            Qt::QueuedConnection);
    }

    void sendProgress() {
        std::vector<Progress> batch;
        for (Progress& p : pending_) {
            if (p.generation != 0) {
                batch.push_back(p);
                p = {};
            }
        }
        if (!batch.empty()) {
            QMetaObject::invokeMethod(
                window_, [w = window_, batch] { w->onProgressBatch(batch); }, Qt::QueuedConnection);
        }
    }

    ParallelDownloads* window_;
    SharedCookieJar& cookies_;
    QTimer batch_;
    std::array<Progress, kMaxThreads + 1> pending_{};
};

ParallelDownloads::ParallelDownloads(DownloadListModel& list, DownloadWindowState& state,
                                     const DownloadOptions& options,
                                     const DownloadTimeouts& timeouts, QObject* parent)
    : QObject(parent), list_(list), state_(state), options_(options), timeouts_(timeouts) {
    keepStreamBuffersMapped();
    members_[0] = new Downloader(timeouts_, this); // exists from the start, never downloads
}

ParallelDownloads::~ParallelDownloads() {
    UnloadAll();
    if (thread_ != nullptr) {
        // The members' ends queued above run first; then the manager goes with its replies.
        QMetaObject::invokeMethod(
            side_, [side = side_] { delete side; }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
        delete thread_;
    }
}

ParallelDownloads::NetworkSide& ParallelDownloads::networkSide() {
    if (thread_ == nullptr) {
        thread_ = new QThread;
        thread_->setObjectName(QStringLiteral("downloads"));
        side_ = new NetworkSide(*this, ProgramCookies());
        side_->moveToThread(thread_);
        thread_->start();
    }
    return *side_;
}

bool ParallelDownloads::current(int k, quint64 generation) const {
    return k >= 1 && k <= kMaxThreads && members_[static_cast<std::size_t>(k)] != nullptr &&
           generations_[static_cast<std::size_t>(k)] == generation;
}

bool ParallelDownloads::IsControlLoaded(int k) const {
    return k >= 0 && k <= kMaxThreads && members_[static_cast<std::size_t>(k)] != nullptr;
}

Downloader* ParallelDownloads::member(int k) const {
    return IsControlLoaded(k) ? members_[static_cast<std::size_t>(k)] : nullptr;
}

int ParallelDownloads::统计下载控件数目() const {
    int n = 0;
    for (const Downloader* m : members_) {
        n += m != nullptr ? 1 : 0;
    }
    return n;
}

int ParallelDownloads::rowOf(int k) const {
    const int row = state_.ThreadItemIndex[static_cast<std::size_t>(k)] - 1;
    return row >= 0 && row < list_.count() ? row : -1;
}

void ParallelDownloads::stamp() {
    state_.LastFinishTime = SecondsSinceMidnight();
    state_.LastFinishMonotonicMs = MonotonicMs();
}

void ParallelDownloads::多线程下载(int k, int position, const QString& address,
                                   const QString& path) {
    if (k < 1 || k > kMaxThreads || IsControlLoaded(k)) {
        return;
    }
    const auto slot = static_cast<std::size_t>(k);
    auto* m = new Downloader(timeouts_);
    m->setSizeLimit(options_.maxFileBytes());
    const int forRow = position - 1;
    if (forRow >= 0 && forRow < list_.count()) {
        m->setOwnOldFile(list_.item(forRow).replacesPath);
    }
    members_[slot] = m;
    generations_[slot] = ++lastGeneration_;
    paths_[slot] = path;

    state_.IsDownloading = true;
    const int row = position - 1;
    if (row >= 0 && row < list_.count()) {
        list_.startRow(row);
        if (options_.autoLocate) {
            Q_EMIT scrollToRow(row);
        }
    }
    // The same referrer as a single-stream download: the record page, else the site's root.
    QString referrer = row >= 0 && row < list_.count() ? list_.item(row).referrer : QString();
    if (referrer.isEmpty()) {
        referrer = SiteRootOfUrl(address);
    }
    // The placeholder is written here, so the row knows at once whether it made the file.
    madePlaceholder_[slot] = Downloader::WritePlaceholder(path);
    if (row >= 0 && row < list_.count() && madePlaceholder_[slot]) {
        const DownloadItem& item = list_.item(row);
        list_.setCreatedFile(row, ItemFilePath(item.folder, item.name, item.type) == path);
    }
    NetworkSide& side = networkSide();
    m->moveToThread(thread_);
    QMetaObject::invokeMethod(
        &side,
        [side = &side, m, k, generation = generations_[slot], address, path, referrer,
         made = madePlaceholder_[slot]] {
            side->begin(m, k, generation, address, path, referrer, made);
        },
        Qt::QueuedConnection);
}

void ParallelDownloads::removeMember(int k, bool early) {
    Downloader* m = member(k);
    if (m == nullptr || k == 0) {
        return;
    }
    const auto slot = static_cast<std::size_t>(k);
    members_[slot] = nullptr;
    if (early && madePlaceholder_[slot]) {
        // Removed here and now, so the window never sees it after the row was reset; it is
        // removed only while it is still the two bytes.
        Downloader::RemovePlaceholder(paths_[slot]);
    }
    QMetaObject::invokeMethod(
        side_, [side = side_, m, k] { side->end(m, k); }, Qt::QueuedConnection);
    Q_EMIT threadFreed();
}

void ParallelDownloads::UnloadAll() {
    for (int k = 1; k <= kMaxThreads; ++k) {
        if (IsControlLoaded(k) && rowOf(k) >= 0) {
            forgetPlaceholder(k, rowOf(k));
        }
        removeMember(k, true);
    }
}

void ParallelDownloads::writeProgress(int row, qint64 received, qint64 expected) {
    list_.setText(row, Col::ColSize, QString::number(expected));
    list_.setText(row, Col::ColReceived, QString::number(received));
    list_.setText(row, Col::ColPercent,
                  PercentText(static_cast<double>(received), static_cast<double>(expected)));
}

void ParallelDownloads::onProgressBatch(const std::vector<Progress>& batch) {
    for (const Progress& p : batch) {
        if (current(p.k, p.generation)) {
            onProgress(p.k, p.received, p.expected);
        }
    }
}

void ParallelDownloads::onProgress(int k, qint64 received, qint64 expected) {
    const int row = rowOf(k);
    if (k == 0 || row < 0) {
        return;
    }
    if (expected > 0 && expected >= received) {
        writeProgress(row, received, expected);
        if (static_cast<double>(expected) / 1024.0 / 1024.0 > options_.maxFileSizeMB) {
            list_.setStatus(row, ItemStatus::Finished);
            list_.setText(row, Col::ColPercent, status_words::kBigFileSkipped);
            stamp();
            forgetPlaceholder(k, row);
            removeMember(k, true);
        }
    }
}

void ParallelDownloads::onComplete(int k, qint64 received, qint64 expected, const QString& path) {
    const int row = rowOf(k);
    if (k == 0 || row < 0) {
        return;
    }
    // The body now stands at the path: the row stored that file, also where it replaced one.
    // A body that could not take the row's name (a web page instead of a document) stands
    // beside it, and the row follows it.
    FollowStoredFile(list_, row, path);
    {
        const DownloadItem& item = list_.item(row);
        if (ItemFilePath(item.folder, item.name, item.type) == path) {
            list_.setCreatedFile(row, true);
        }
    }
    if (expected > 0 && expected >= received) {
        writeProgress(row, received, expected);
    }
    list_.setStatus(row, list_.item(row).percent == QLatin1String("100%") ? ItemStatus::Finished
                                                                          : ItemStatus::Failed);
    removeMember(k, false);
    纠正下载项类型(list_, row);
    SettleReplacedFile(list_, row);
    list_.flushProgressNotices();
    // A body shorter than announced fails the row: never announced as finished.
    Q_EMIT statusPanelText(2, (list_.item(row).status == ItemStatus::Failed
                                   ? QStringLiteral("下载失败:")
                                   : QStringLiteral("完成下载:")) +
                                  list_.item(row).name);
    const bool webPage = IsWebPageType(list_.item(row).type);
    if (options_.sounds) {
        if (webPage) {
            Q_EMIT soundRequested(kSoundItemDone);
        }
        if (list_.item(row).status == ItemStatus::Failed) {
            Q_EMIT soundRequested(kSoundFailed);
        }
    }
    stamp();
    Q_EMIT transferEnded(row);
}

void ParallelDownloads::onError(int k, const QString& message, const QString& reason) {
    const int row = rowOf(k);
    if (k == 0 || row < 0) {
        return;
    }
    if (message == status_words::kFailed) {
        // The body arrived but could not be stored.
        list_.setText(row, Col::ColSize, status_words::kFailed);
        list_.setText(row, Col::ColReceived, QString());
        list_.setText(row, Col::ColPercent, QString());
    }
    forgetPlaceholder(k, row);
    list_.setReason(row, reason);
    Q_EMIT statusPanelText(2, QStringLiteral("下载失败:") + list_.item(row).name);
    if (!list_.item(row).reason.isEmpty()) {
        Q_EMIT statusPanelText(3, list_.item(row).reason);
    }
    list_.setStatus(row, ItemStatus::Failed);
    removeMember(k, false);
    stamp();
}

void ParallelDownloads::onComeBackLater(int k, int httpStatus, qint64 waitMs) {
    const int row = rowOf(k);
    if (k == 0 || row < 0) {
        return;
    }
    forgetPlaceholder(k, row);
    removeMember(k, false);
    stamp();
    Q_EMIT comeBackLater(row, httpStatus, waitMs);
}

void ParallelDownloads::forgetPlaceholder(int k, int row) {
    // The member removed its placeholder: the row owns no file there any more. A file that was
    // there before (one being downloaded again) is still the row's.
    if (IsControlLoaded(k) && madePlaceholder_[static_cast<std::size_t>(k)]) {
        list_.setCreatedFile(row, false);
    }
}

void ParallelDownloads::onOversize(int k) {
    const int row = rowOf(k);
    if (k == 0 || row < 0) {
        return;
    }
    forgetPlaceholder(k, row);
    list_.setStatus(row, ItemStatus::Finished);
    list_.setText(row, Col::ColPercent, status_words::kBigFileSkipped);
    removeMember(k, false);
    stamp();
}

} // namespace quillax
