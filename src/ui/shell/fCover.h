#pragma once
// The start window: the first window of a run and the last to close. It describes the system,
// prepares the browser emulation entry, reads the options and checks the maker's update notice,
// then opens the search window. It hides while a work window is open and comes back when every
// work window has closed; closing it ends the program.

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QPushButton;
class QThread;

namespace quillax {

class SettingsStore;
class uXMLHTTP;
struct AppValues;

/// The start window's waits, which tests shorten.
struct StartWindowTiming {
    int updateDelayMs = 100;      ///< from the end of loading to the update request
    int updateTimeoutMs = 30'000; ///< a notice not complete by then counts as failed
};

class fCover : public QWidget {
    Q_OBJECT
public:
    using Timing = StartWindowTiming;
    /// What 资料检索下载 runs: shows the search window, creating it if needed, and returns it
    /// (nullptr when there is none to show). The start window registers what it returns.
    using SearchWindowOpener = std::function<QWidget*()>;

    fCover(SettingsStore& settings, AppValues& values, QWidget* parent = nullptr,
           Timing timing = Timing());
    ~fCover() override;

    /// The load sequence: caption and version, shown and painted, then the system description,
    /// bitness and emulation entry off the window thread, the update check's timer, the
    /// options, and 资料检索下载 enabled. Returns once the window is painted; `loadFinished`
    /// follows.
    void Form_Load();
    bool isLoadFinished() const { return loadFinished_; }

    void setSearchWindowOpener(SearchWindowOpener opener) { opener_ = std::move(opener); }

    /// A work window (the search window, the download window) counts as open from now until
    /// its close is accepted or it is destroyed, and again whenever it is shown. The start
    /// window hides while one is shown and shows itself again once none is open. The start
    /// window owns the registered windows from now on: those still alive when it is destroyed
    /// go with it, without their closing steps. It watches them through an event filter that
    /// lets the window answer its own close first; event filters installed on the window
    /// before it was registered do not see close events.
    void registerWorkWindow(QWidget* window);
    /// Whether a registered work window is open.
    bool hasOpenWorkWindow() const;

    void CheckForUpdate();
    /// Shows 有最新版本 and opens the product page when `notice` names a newer version.
    void ShowUpdateNotice(const QString& notice);

    /// The start window of the run, or nullptr.
    static fCover* instance();

Q_SIGNALS:
    void loadFinished();
    /// The update check is over: a notice compared, a failure reported, or nothing to do.
    void updateCheckDone();
    /// The start window closed: the program ends.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct StartupFacts;
    struct WorkWindow {
        QPointer<QWidget> window;
        bool open = true;
    };

    void buildUi();
    void finishLoad();
    void Timer1_Timer();
    void Command1_Click();
    void Label3_Click();
    void onNoticeArrived();
    void onRequestFailed();
    void onReadyStateChanged();
    void scheduleReturnCheck();
    void showIfNoWorkWindow();
    WorkWindow* findWorkWindow(const QObject* window);

    SettingsStore& settings_;
    AppValues& values_;
    Timing timing_;
    SearchWindowOpener opener_;

    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command3 = nullptr;
    QTimer Timer1;
    uXMLHTTP* uXMLHTTP2 = nullptr;
    QTimer updateDeadline_;
    bool noticeHandled_ = true;

    std::shared_ptr<StartupFacts> facts_;
    QThread* probe_ = nullptr;
    bool loadFinished_ = false;
    bool closing_ = false;
    std::vector<WorkWindow> workWindows_;
};

/// Registers `window` with the run's start window (see `fCover::registerWorkWindow`); without
/// a start window nothing happens.
void RegisterWorkWindow(QWidget* window);

} // namespace quillax
