#pragma once
// The embedded browser both windows use: one persistent profile whose cookies every request of
// the program carries, pages that never open a second window or close the browser, and a silent
// mode without the page's own dialogs.

#include "platform/DomDocument.h"

#include <QWebEnginePage>
#include <QWebEngineView>

class QWebEngineProfile;

namespace quillax {

/// The program's one browser profile: disk cache and cookies in the per-user data folder. Its
/// cookies are mirrored into the program's network manager, whose requests also carry the
/// browser's User-Agent.
QWebEngineProfile* BrowserProfile();

/// Asks the browser to forget its HTTP cache. The engine clears in the background, and a
/// profile deleted while it does reads freed memory; EndBrowserProfile gives it time first.
void ClearBrowserHttpCache();

/// Deletes every browser view and page still alive, then the profile, while the application
/// object still lives: the profile's teardown must not run in the application's exit routines,
/// after the engine's own objects are gone. Called once, before the application object goes.
void EndBrowserProfile();

class BrowserPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit BrowserPage(QObject* parent = nullptr);
    ~BrowserPage() override;

    bool silent() const { return silent_; }
    void setSilent(bool silent) { silent_ = silent; }

Q_SIGNALS:
    void beforeNavigate(const QString& address);
    void newWindowRequested();

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int line, const QString& source) override;

private:
    bool silent_ = false;
};

class WebBrowser : public QWebEngineView {
    Q_OBJECT
public:
    explicit WebBrowser(QWidget* parent = nullptr);

    void Navigate(const QString& address);
    void GoBack();
    void GoForward();
    void Refresh();
    bool Silent() const { return page_->silent(); }
    void setSilent(bool silent) { page_->setSilent(silent); }
    /// True while a page is loading.
    bool Busy() const { return busy_; }
    /// The current page's document.
    DomDocument Document() const { return DomDocument(page_); }
    BrowserPage* browserPage() const { return page_; }

Q_SIGNALS:
    void BeforeNavigate2(const QString& address);
    void NewWindow2();
    /// The top-level page has loaded (`ok` false when it failed).
    void DocumentComplete(const QString& address, bool ok);
    void StatusTextChange(const QString& text);
    void TitleChange(const QString& title);
    /// A page script asked to close the browser; it stays open.
    void WindowClosing();

private:
    BrowserPage* page_;
    bool busy_ = false;
};

} // namespace quillax
