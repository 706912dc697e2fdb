#include "core/download/DownloadScheduler.h"

#include "core/download/DownloadNeeded.h"
#include "core/download/ListOperations.h"
#include "core/files/FileNaming.h"
#include "core/files/HeaderTypes.h"
#include "core/settings/ShellHelpers.h"
#include "platform/MessageBoxes.h"

#include <QCoreApplication>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace quillax {

namespace {
using Col = DownloadListModel::Column;
}

DownloadScheduler::DownloadScheduler(DownloadListModel& list, DownloadWindowState& state,
                                     DownloadOptions& options, const DownloadTimeouts& timeouts,
                                     QObject* parent)
    : QObject(parent), list_(list), state_(state), options_(options),
      inet_(list, state, options, timeouts, this), threads_(list, state, options, timeouts, this),
      pdfChecks_(list, this) {
    Timer_Down.setInterval(timeouts.tickMs);
    Timer1.setInterval(timeouts.tickMs);
    connect(&Timer_Down, &QTimer::timeout, this, &DownloadScheduler::timerDownTick);
    wake_.setSingleShot(true);
    // A coarse timer may fire 5 % late: a twentieth of every turn a throttle grants.
    wake_.setTimerType(Qt::PreciseTimer);
    connect(&wake_, &QTimer::timeout, this, [this] {
        if (Timer_Down.isActive()) {
            timerDownTick();
        }
    });
    connect(&Timer1, &QTimer::timeout, this, &DownloadScheduler::monitorTick);
    connect(&inet_, &InetEngine::statusPanelText, this, &DownloadScheduler::statusPanelText);
    connect(&inet_, &InetEngine::soundRequested, this, &DownloadScheduler::soundRequested);
    connect(&threads_, &ParallelDownloads::statusPanelText, this,
            &DownloadScheduler::statusPanelText);
    connect(&threads_, &ParallelDownloads::soundRequested, this,
            &DownloadScheduler::soundRequested);
    connect(&threads_, &ParallelDownloads::scrollToRow, this, &DownloadScheduler::scrollToRow);
    connect(&inet_, &InetEngine::comeBackLater, this, &DownloadScheduler::onComeBackLater);
    connect(&threads_, &ParallelDownloads::comeBackLater, this,
            &DownloadScheduler::onComeBackLater);
    connect(&inet_, &InetEngine::transferEnded, this, &DownloadScheduler::onTransferEnded);
    connect(&threads_, &ParallelDownloads::threadFreed, this, &DownloadScheduler::startSoon);
    connect(&threads_, &ParallelDownloads::transferEnded, this,
            &DownloadScheduler::onTransferEnded);
    // A PDF that turns out broken fails its row: the counts change.
    connect(&pdfChecks_, &PdfChecks::checked, this,
            [this] { Q_EMIT summaryChanged(list_.summaryText()); });
}

DownloadScheduler::~DownloadScheduler() {
    // The engines end after the timers they report to: what they say while they end (a thread
    // freed by the last unload) must not reach this half-destroyed object.
    threads_.disconnect(this);
    inet_.disconnect(this);
    pdfChecks_.disconnect(this);
}

bool DownloadScheduler::mayStartNow(int row, qint64 now) const {
    const DownloadItem& item = list_.item(row);
    if (item.notBefore > now) {
        noteRelease(item.notBefore);
        return false;
    }
    const QString origin = OriginOf(QUrl(选择url(item.key)));
    if (const qint64 at = pauses_.nextSendAt(origin); at > now) {
        noteRelease(at);
        return false;
    }
    if (options_.method == 1) {
        return true;
    }
    const int limit = pauses_.transferLimit(origin, options_.threadCount);
    int running = 0;
    for (int k = 1; k <= ParallelDownloads::kMaxThreads; ++k) {
        const int busy = state_.ThreadItemIndex[static_cast<std::size_t>(k)] - 1;
        if (threads_.IsControlLoaded(k) && busy >= 0 && busy < list_.count() &&
            OriginOf(QUrl(选择url(list_.item(busy).key))) == origin) {
            ++running;
        }
    }
    return running < limit;
}

void DownloadScheduler::onComeBackLater(int row, int httpStatus, qint64 waitMs) {
    if (row < 0 || row >= list_.count()) {
        return;
    }
    const qint64 now = PauseNowEpochMs();
    const QString origin = OriginOf(QUrl(选择url(list_.item(row).key)));
    list_.setText(row, Col::ColSize, QString());
    list_.setText(row, Col::ColReceived, QString());
    ComeBackStreak streak = list_.item(row).comeBack;
    const std::optional<qint64> rowWait =
        waitMs > kMaxServerWaitMs ? std::nullopt : NextComeBackWaitMs(streak, waitMs);
    list_.setComeBack(row, streak);
    if (!rowWait) {
        // Parking the whole queue for hours, or asking again and again, helps nobody: the row
        // fails and says why.
        list_.setText(row, Col::ColSize, status_words::kFailed);
        list_.setText(row, Col::ColPercent, QString());
        list_.setReason(row, waitMs > kMaxServerWaitMs ? reasons::ServerWaitTooLong(waitMs)
                                                       : reasons::kComeBackGaveUp);
        list_.setStatus(row, ItemStatus::Failed);
        Q_EMIT statusPanelText(3, list_.item(row).reason);
        return;
    }
    // The server is held for what it asked (a "0" counting as a second); the row, for longer
    // each time it meets such an answer.
    pauses_.pause(origin, now + std::max(waitMs, kMinServerWaitMs), httpStatus == 429);
    list_.setNotBefore(row, now + *rowWait);
    list_.setReason(row, reasons::HttpStatus(httpStatus));
    list_.setStatus(row, ItemStatus::Waiting);
    list_.setText(row, Col::ColPercent, status_words::kWaitServer);
    showPause();
}

void DownloadScheduler::onTransferEnded(int row) {
    if (row < 0 || row >= list_.count()) {
        return;
    }
    const DownloadItem& item = list_.item(row);
    if (item.status != ItemStatus::Finished) {
        return;
    }
    if (IsWebPageType(item.type, true)) {
        if (options_.autoLogin) {
            onLoginPage(row);
        }
        if (list_.item(row).status == ItemStatus::Finished &&
            list_.item(row).autoAttempts >= kMaxAutoAttempts) {
            // Its last automatic attempt brought a page again: nothing more comes by itself,
            // and a page is not the paper. A failed row leaves no file of its own behind.
            删除下载项文件(list_, row, ListRequest::Automatic);
            list_.setReason(row, reasons::kLoginPageInstead);
            list_.setStatus(row, ItemStatus::Failed);
        }
        return;
    }
    if (item.percent != status_words::kBigFileSkipped &&
        item.percent != status_words::kExistsSkipped) {
        // The session works: a page after this is a new lapse, which any row may report.
        documentSinceLogin_ = true;
        requeuedForLogin_.clear();
    }
    list_.setComeBack(row, {}); // a real answer: the server's refusals count afresh
    pdfChecks_.checkFinished(row);
    pauses_.succeeded(OriginOf(QUrl(选择url(item.key))));
}

void DownloadScheduler::startSoon() {
    if (!Timer_Down.isActive()) {
        return;
    }
    qint64 delay = 0;
    if (options_.intervalSeconds > 0) {
        const qint64 due =
            state_.LastFinishMonotonicMs + static_cast<qint64>(options_.intervalSeconds) * 1000 + 1;
        delay = std::max<qint64>(0, due - MonotonicMs());
    }
    // From the event loop, after the handler that freed the thread has returned: the row it
    // ended is settled first.
    tickWithin(delay);
}

void DownloadScheduler::tickWithin(qint64 ms) {
    if (!wake_.isActive() || wake_.remainingTime() > ms) {
        wake_.start(static_cast<int>(ms));
    }
}

void DownloadScheduler::noteStart(int row) {
    startedMs_.insert(list_.item(row).key, MonotonicMs());
    pauses_.sent(OriginOf(QUrl(选择url(list_.item(row).key))), PauseNowEpochMs());
}

void DownloadScheduler::noteRelease(qint64 atEpochMs) const {
    if (nextRelease_ == 0 || atEpochMs < nextRelease_) {
        nextRelease_ = atEpochMs;
    }
}

void DownloadScheduler::wakeAtNextRelease() {
    // A pause or a pace ends between two ticks: the row goes then, not up to a tick later,
    // which against a server that lets one request through a second would lose a turn each time.
    if (nextRelease_ == 0 || !Timer_Down.isActive()) {
        return;
    }
    const qint64 wait = nextRelease_ - PauseNowEpochMs();
    if (wait > 0 && wait < Timer_Down.remainingTime()) {
        tickWithin(wait + 1);
    }
}

void DownloadScheduler::onLoginPage(int row) {
    const QString key = list_.item(row).key;
    if (requeuedForLogin_.contains(key)) {
        return; // a page even after a login: it stays as it came
    }
    const bool sentBeforeLastLogin = startedMs_.value(key, -1) <= lastLoginEndMs_;
    requeuedForLogin_.insert(key);
    RequeueForLogin(list_, row);
    if (loginRunning_ || sentBeforeLastLogin) {
        return; // the login that runs, or that ran after the row was sent, covers it
    }
    if (!documentSinceLogin_) {
        Stop();
        Q_EMIT statusPanelText(3, QStringLiteral("自动登录后仍收到登录页面，已停止下载"));
        return;
    }
    loginRunning_ = true;
    documentSinceLogin_ = false;
    Q_EMIT autoLoginRequested();
}

void DownloadScheduler::loginSent() {
    if (loginRunning_ && !loginSent_) {
        loginSent_ = true;
        startSoon();
    }
}

void DownloadScheduler::loginEnded(bool ok, const QString& message) {
    if (!loginRunning_) {
        return;
    }
    loginRunning_ = false;
    loginSent_ = false;
    lastLoginEndMs_ = MonotonicMs();
    if (!ok) {
        // No loop: the rows keep their pages and the run stops with the panel's words.
        Stop();
        Q_EMIT statusPanelText(3, message);
    }
}

void DownloadScheduler::showPause() {
    const qint64 left = pauses_.longestRemainingMs(PauseNowEpochMs());
    if (left > 0) {
        pauseShown_ = true;
        Q_EMIT statusPanelText(3, PauseText(left));
    } else if (pauseShown_) {
        pauseShown_ = false;
        Q_EMIT statusPanelText(3, QString());
    }
}

void DownloadScheduler::setTimerDown(bool on) {
    if (on == Timer_Down.isActive()) {
        return;
    }
    if (on) {
        Timer_Down.start();
    } else {
        Timer_Down.stop();
        wake_.stop();
    }
    Q_EMIT runningChanged(on);
}

void DownloadScheduler::setStartEnabled(bool enabled) {
    if (enabled != startEnabled_) {
        startEnabled_ = enabled;
        Q_EMIT startEnabledChanged(enabled);
    }
}

void DownloadScheduler::playSound(int number) {
    if (options_.sounds) {
        Q_EMIT soundRequested(number);
    }
}

void DownloadScheduler::Start() {
    // A new run: a login page now means the session lapsed since, not that the last login
    // failed, so it gets a login of its own.
    documentSinceLogin_ = true;
    requeuedForLogin_.clear();
    setTimerDown(true);
}

void DownloadScheduler::StartMonitor() {
    Timer1.start();
}

void DownloadScheduler::StopTimers() {
    Timer1.stop();
    setTimerDown(false);
}

int DownloadScheduler::takeNextRow(bool createFolders) {
    if (loginRunning_ && !loginSent_) {
        return -1; // every row would only get the login page
    }
    const qint64 now = PauseNowEpochMs();
    nextRelease_ = 0;
    for (int row = 0; row < list_.count(); ++row) {
        if (list_.item(row).status != ItemStatus::Waiting || !mayStartNow(row, now)) {
            continue;
        }
        list_.setText(row, Col::ColName,
                      ItemNameOrFallback(list_.item(row).name, 选择url(list_.item(row).key)));
        QString folder = list_.item(row).folder;
        if (createFolders) {
            // Nowhere to store it: marked failed before anything is fetched, rather than
            // written somewhere else or fetched in vain.
            const QString why = FailRowWithoutFolder(list_, row, &folder);
            if (!why.isEmpty()) {
                Q_EMIT statusPanelText(3, why);
                continue;
            }
        }
        list_.setText(row, Col::ColFolder, WithTrailingSlash(folder));
        if (确定是需要下载(list_, row, options_.policy)) {
            return row;
        }
    }
    return -1;
}

void DownloadScheduler::timerDownTick() {
    if (list_.count() == 0) {
        setTimerDown(false);
        return;
    }
    showPause();
    // The interval counts from the end of the last download, on the monotonic clock.
    const qint64 sinceLastEnd = MonotonicMs() - state_.LastFinishMonotonicMs;
    if (options_.intervalSeconds > 0 &&
        sinceLastEnd <= static_cast<qint64>(options_.intervalSeconds) * 1000) {
        return;
    }
    if (options_.method == 1) {
        if (state_.IsDownloading) {
            return;
        }
        const int row = takeNextRow(false);
        if (row < 0) {
            wakeAtNextRelease();
            return;
        }
        list_.startRow(row);
        noteStart(row);
        if (options_.autoLocate) {
            Q_EMIT scrollToRow(row);
        }
        inet_.Inet下载当前文件(row);
        startSoon(); // the transfer has ended: the next one need not wait for the tick
        return;
    }
    for (int k = 1; k <= options_.threadCount && k <= ParallelDownloads::kMaxThreads; ++k) {
        if (threads_.IsControlLoaded(k)) {
            continue;
        }
        const int row = takeNextRow(true);
        if (row < 0) {
            wakeAtNextRelease();
            continue;
        }
        // The thread marks the row as started and scrolls to it.
        const DownloadItem& item = list_.item(row);
        QString newName;
        // A re-download goes over the row's own file, whatever the same-name policy says.
        const DuplicateNamePolicy policy =
            ItemFilePath(item.folder, item.name, item.type) == item.replacesPath
                ? DuplicateNamePolicy::Overwrite
                : options_.policy;
        const QString path = 重命名保存路径(item.folder, item.name, item.type, policy, &newName);
        list_.setText(row, Col::ColName, newName);
        state_.ThreadItemIndex[static_cast<std::size_t>(k)] = row + 1;
        noteStart(row);
        threads_.多线程下载(k, row + 1, 选择url(list_.item(row).key), path);
    }
}

void DownloadScheduler::monitorTick() {
    // A row skipped behind another's placeholder goes itself when that download failed: before
    // the run is judged finished.
    SettleSkipsBehindPlaceholders(list_);
    if (list_.检测是否下载列表完毕()) {
        setStartEnabled(true);
        if (Timer_Down.isActive()) {
            setTimerDown(false);
            playSound(kSoundAllDone);
        }
    } else {
        setStartEnabled(!Timer_Down.isActive());
    }
    Q_EMIT runningChanged(Timer_Down.isActive());

    // The flag means that some engine writes rows by position. Busy threads keep it set, also
    // after a switch to method 1 and after the start timer went off, so that the list is not
    // reordered under them; it is cleared once neither engine has work, whichever method is
    // current (method 1 would otherwise wait forever for threads that have long finished).
    bool threadsBusy = false;
    for (int k = 1; k <= ParallelDownloads::kMaxThreads; ++k) {
        threadsBusy = threadsBusy || threads_.IsControlLoaded(k);
    }
    if (threadsBusy) {
        state_.IsDownloading = true;
    } else if (!inet_.StillExecuting() && (options_.method == 1 || !Timer_Down.isActive())) {
        state_.IsDownloading = false;
    }

    Q_EMIT summaryChanged(list_.summaryText());

    // Only waiting rows are work: a finished or failed row whose progress texts are empty (its
    // file deleted, or failed before any header) would restart the timer every tick.
    if (options_.autoStart && list_.statusCounts().waiting > 0) {
        setTimerDown(true);
    }
    if (options_.autoRedownload && !Timer_Down.isActive()) {
        int requeued = 0;
        switch (options_.autoRedownloadKind) {
        case static_cast<int>(AutoRedownloadKind::Failed):
            requeued += menu重新下载出错项(list_, ListRequest::Automatic);
            break;
        case static_cast<int>(AutoRedownloadKind::WebPages):
            requeued += menu重新下载文件类型为HTM和HTML项(list_, ListRequest::Automatic);
            break;
        case static_cast<int>(AutoRedownloadKind::FailedAndWebPages):
            requeued += menu重新下载出错项(list_, ListRequest::Automatic);
            requeued += menu重新下载文件类型为HTM和HTML项(list_, ListRequest::Automatic);
            break;
        default:
            break;
        }
        // Rows that used up their attempts stay failed: nothing to start, no restart each tick.
        if (requeued > 0) {
            setTimerDown(true);
        }
    }
    if (options_.stopAtFiveFailures && list_.统计出错和网页项数目() >= 5 && Timer_Down.isActive()) {
        setTimerDown(false);
        playSound(kSoundAllDone);
    }
}

void DownloadScheduler::Stop() {
    loginRunning_ = false; // a login still running ends without restarting anything
    options_.autoStart = false;
    options_.autoRedownload = false;
    Q_EMIT automaticOptionsCleared();
    inet_.Cancel();
    setTimerDown(false);
    state_.IsDownloading = false;
    inet_.Cancel();
    threads_.UnloadAll();
    for (int row = 0; row < list_.count(); ++row) {
        if (list_.item(row).status == ItemStatus::Downloading) {
            list_.setStatus(row, ItemStatus::Failed);
        }
    }
    state_.IsDownloading = false;
}

void DownloadScheduler::CancelSelected() {
    QCoreApplication::processEvents();
    if (state_.IsDownloading) {
        ShowMessage(QStringLiteral("停止下载后方可设置！"), MsgIcon::Error);
        return;
    }
    for (int row = 0; row < list_.count(); ++row) {
        if (list_.isSelected(row) && list_.item(row).status == ItemStatus::Waiting) {
            list_.setStatus(row, ItemStatus::Failed);
        }
    }
}

} // namespace quillax
