#pragma once
// When downloads start and stop: the one-second start timer picks waiting items and hands
// them to the engine of the current method; the one-second monitor keeps the busy flag and
// the summary up to date and applies the automatic options.

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadOptions.h"
#include "core/download/InetEngine.h"
#include "core/download/ParallelDownloads.h"
#include "core/download/PdfChecks.h"
#include "core/download/ServerPauses.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

namespace quillax {

class DownloadScheduler : public QObject {
    Q_OBJECT
public:
    DownloadScheduler(DownloadListModel& list, DownloadWindowState& state, DownloadOptions& options,
                      const DownloadTimeouts& timeouts, QObject* parent = nullptr);
    ~DownloadScheduler() override;

    InetEngine& inet() { return inet_; }
    ParallelDownloads& threads() { return threads_; }
    /// The checks of stored PDFs; every finished PDF row goes through them.
    PdfChecks& pdfChecks() { return pdfChecks_; }
    const ServerPauses& pauses() const { return pauses_; }

    /// Switches the start timer on; the next tick does the work.
    void Start();
    /// Stops everything: automatic options off, requests cancelled, threads removed, every
    /// row being downloaded marked failed.
    void Stop();
    /// Marks the selected waiting rows failed; refused with a message while downloading.
    void CancelSelected();
    /// Switches the monitor on (the window does this when it has loaded).
    void StartMonitor();
    /// Switches both timers off (the window does this when it closes).
    void StopTimers();

    /// True while the start timer is on.
    bool isRunning() const { return Timer_Down.isActive(); }
    /// Whether "开始下载" is offered, as the monitor last decided.
    bool startEnabled() const { return startEnabled_; }

    /// The automatic login that `autoLoginRequested` asked for has ended. A failure stops the
    /// run with `message`, the login panel's own words.
    void loginEnded(bool ok, const QString& message);
    /// The running automatic login has sent its form and the answer has come: the session is
    /// there, and rows go again while the login panel lets the page settle before judging it.
    void loginSent();
    /// Whether an automatic login is running; nothing is started meanwhile until it has sent
    /// its form.
    bool loginRunning() const { return loginRunning_; }

    /// One tick of the start timer and of the monitor (the timers call these).
    void timerDownTick();
    void monitorTick();

Q_SIGNALS:
    void runningChanged(bool running);
    void startEnabledChanged(bool enabled);
    void summaryChanged(const QString& summary);
    /// Stop switched automatic start and automatic re-download off.
    void automaticOptionsCleared();
    void scrollToRow(int row);
    void soundRequested(int number);
    void statusPanelText(int panel, const QString& text);
    /// Rows came back as a login page: the site's login should run, once for the whole list.
    void autoLoginRequested();

private:
    /// The first waiting row that must be downloaded now, preparing each on the way; -1 when
    /// there is none. `createFolders` makes the folder exist first (method 2).
    int takeNextRow(bool createFolders);
    /// Whether the row may be sent now: its own wait is over, its server is not paused and,
    /// under method 2, the server has room for another transfer.
    bool mayStartNow(int row, qint64 now) const;
    /// A server answered "come back later" for the row: the server pauses for what it asked, the
    /// row waits longer each time it meets such an answer and fails after too many.
    void onComeBackLater(int row, int httpStatus, qint64 waitMs);
    /// A transfer ended; a finished document counts for its server.
    void onTransferEnded(int row);
    /// Status panel 3 counts down a server's pause.
    void showPause();
    /// A row came back as a web page while automatic login is on.
    void onLoginPage(int row);
    /// Marks the row as started now (for the login rules and its server's pace).
    void noteStart(int row);
    /// A waiting row is held until this time; the earliest such time of a pass is kept.
    void noteRelease(qint64 atEpochMs) const;
    /// After a pass that started nothing: runs the next pass when the first held row is free.
    void wakeAtNextRelease();
    /// A thread is free: the next item starts at once, or when the interval has passed, instead
    /// of at the next tick.
    void startSoon();
    /// The next pass runs within `ms`, from the event loop (one wake-up timer for every reason).
    void tickWithin(qint64 ms);
    void setTimerDown(bool on);
    void setStartEnabled(bool enabled);
    void playSound(int number);

    DownloadListModel& list_;
    DownloadWindowState& state_;
    DownloadOptions& options_;
    InetEngine inet_;
    ParallelDownloads threads_;
    PdfChecks pdfChecks_;
    ServerPauses pauses_;
    bool pauseShown_ = false;
    // Automatic login: one at a time for the whole list; a row goes back for it only once; a
    // login is asked for only by a row sent after the last one ended, and a second one with no
    // document in between stops the run instead of looping.
    bool loginRunning_ = false;
    bool loginSent_ = false;
    bool documentSinceLogin_ = true;
    qint64 lastLoginEndMs_ = -1;
    QHash<QString, qint64> startedMs_;
    QSet<QString> requeuedForLogin_;
    QTimer Timer_Down;
    QTimer Timer1;
    QTimer wake_;
    mutable qint64 nextRelease_ = 0; ///< earliest end of a hold seen by the last pass; 0: none
    bool startEnabled_ = true;
};

} // namespace quillax
