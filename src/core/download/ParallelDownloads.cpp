#include "core/download/ParallelDownloads.h"

#include "core/download/InetEngine.h"
#include "core/download/ListOperations.h"
#include "core/download/StoredTypeCorrection.h"
#include "core/files/FileNaming.h"
#include "core/files/HeaderTypes.h"
#include "core/files/TypeRecognition.h"
#include "core/settings/ShellHelpers.h"

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

ParallelDownloads::ParallelDownloads(DownloadListModel& list, DownloadWindowState& state,
                                     const DownloadOptions& options,
                                     const DownloadTimeouts& timeouts, QObject* parent)
    : QObject(parent), list_(list), state_(state), options_(options), timeouts_(timeouts) {
    keepStreamBuffersMapped();
    members_[0] = new Downloader(timeouts_, this); // exists from the start, never downloads
}

ParallelDownloads::~ParallelDownloads() {
    UnloadAll();
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
    auto* m = new Downloader(timeouts_, this);
    m->setSizeLimit(options_.maxFileBytes());
    members_[static_cast<std::size_t>(k)] = m;
    // Handlers reach the window only while the member is the one in slot k.
    connect(m, &Downloader::DownloadProgress, this,
            [this, k](qint64 r, qint64 e, const QString&) { onProgress(k, r, e); });
    connect(m, &Downloader::DownloadComplete, this,
            [this, k](qint64 r, qint64 e, const QString& path) { onComplete(k, r, e, path); });
    connect(m, &Downloader::DownloadError, this,
            [this, k](const QString& message, const QString&) { onError(k, message); });
    connect(m, &Downloader::DownloadOversize, this,
            [this, k](qint64, const QString&) { onOversize(k); });
    connect(
        m, &Downloader::DownloadComeBackLater, this,
        [this, k](int status, qint64 wait, const QString&) { onComeBackLater(k, status, wait); });

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
    m->BeginDownload(address, path, referrer);
    if (row >= 0 && row < list_.count() && m->placeholderWritten()) {
        const DownloadItem& item = list_.item(row);
        list_.setCreatedFile(row, ItemFilePath(item.folder, item.name, item.type) == path);
    }
}

void ParallelDownloads::removeMember(int k) {
    Downloader* m = member(k);
    if (m == nullptr || k == 0) {
        return;
    }
    members_[static_cast<std::size_t>(k)] = nullptr;
    m->disconnect(this);
    m->Terminate();
    // Removal from inside the member's own event takes effect once the handler has returned.
    m->deleteLater();
    Q_EMIT threadFreed();
}

void ParallelDownloads::UnloadAll() {
    for (int k = 1; k <= kMaxThreads; ++k) {
        if (IsControlLoaded(k) && rowOf(k) >= 0) {
            forgetPlaceholder(k, rowOf(k));
        }
        removeMember(k);
    }
}

void ParallelDownloads::writeProgress(int row, qint64 received, qint64 expected) {
    list_.setText(row, Col::ColSize, QString::number(expected));
    list_.setText(row, Col::ColReceived, QString::number(received));
    list_.setText(row, Col::ColPercent,
                  PercentText(static_cast<double>(received), static_cast<double>(expected)));
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
            removeMember(k);
        }
    }
}

void ParallelDownloads::onComplete(int k, qint64 received, qint64 expected, const QString& path) {
    const int row = rowOf(k);
    if (k == 0 || row < 0) {
        return;
    }
    // The body now stands at the path: the row stored that file, also where it replaced one.
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
    removeMember(k);
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

void ParallelDownloads::onError(int k, const QString& message) {
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
    if (const Downloader* m = member(k)) {
        list_.setReason(row, m->reason());
    }
    Q_EMIT statusPanelText(2, QStringLiteral("下载失败:") + list_.item(row).name);
    if (!list_.item(row).reason.isEmpty()) {
        Q_EMIT statusPanelText(3, list_.item(row).reason);
    }
    list_.setStatus(row, ItemStatus::Failed);
    removeMember(k);
    stamp();
}

void ParallelDownloads::onComeBackLater(int k, int httpStatus, qint64 waitMs) {
    const int row = rowOf(k);
    if (k == 0 || row < 0) {
        return;
    }
    forgetPlaceholder(k, row);
    removeMember(k);
    stamp();
    Q_EMIT comeBackLater(row, httpStatus, waitMs);
}

void ParallelDownloads::forgetPlaceholder(int k, int row) {
    // The member removed its placeholder: the row owns no file there any more. A file that was
    // there before (one being downloaded again) is still the row's.
    const Downloader* m = member(k);
    if (m != nullptr && m->madePlaceholder()) {
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
    removeMember(k);
    stamp();
}

} // namespace quillax
