#pragma once
// The download window's login panel: a second view on the program's browser profile, so a
// login made here is carried by every download; it fills in and submits the institution's
// login form, presses its IP-login button, and keeps the login alive.

#include <QFrame>
#include <QTimer>

class QCheckBox;
class QComboBox;
class QUrl;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quillax {

class WebBrowser;

/// The panel's waits; tests shorten them.
struct LoginTimeouts {
    int pageWaitMs = 10'000;  ///< longest wait for the login page or the page after a submit
    int pauseMs = 5'000;      ///< pause at the end of a login run
    int keepAliveMs = 60'000; ///< the login page is loaded this often while keep-alive is on
};

/// Whether the document at `page` belongs to the login address `loginAddress` (as typed, read
/// the way the browser reads it): the same scheme and the same, non-empty host. Credentials are
/// filled in and the IP-login button is pressed on no other site.
bool IsOnLoginSite(const QUrl& page, const QString& loginAddress);

class LoginPanel : public QFrame {
    Q_OBJECT
public:
    explicit LoginPanel(QWidget* parent = nullptr, const LoginTimeouts& timeouts = {});
    ~LoginPanel() override;

    /// "浏览": opens the login page and waits for it, at most `pageWaitMs`; false when the page
    /// had not finished loading by then.
    bool 浏览();
    /// Logs in with the account or by the network's address; messages only when the user asked.
    void 自动登录网站(bool showMessages);
    /// "网页登录": shows the panel; without keep-alive or automatic login it opens `address`
    /// (the selected item's address) when there is one.
    void 网页登录(const QString& address);
    /// "关闭(隐藏)".
    void 关闭();

    bool automaticLogin() const;
    /// Ends the keep-alive refreshes (the window is closing).
    void stopKeepAlive() { Timer2.stop(); }
    /// True while one of the panel's waits is running.
    bool busy() const { return busy_ > 0; }
    WebBrowser* browser() const { return Web1; }

Q_SIGNALS:
    /// The login page's title, for the window's status bar.
    void titleChanged(const QString& title);

private:
    class Busy;
    bool waitForPage(qint64 startMs);
    bool openPage(const QString& address);
    void onAutoLoginToggled(bool checked);
    void keepAlive();

    LoginTimeouts timeouts_;
    bool WebBusy = false;
    int busy_ = 0;
    WebBrowser* Web1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QRadioButton* Option4 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QRadioButton* Option5 = nullptr;
    QCheckBox* Check2 = nullptr;
    QComboBox* Combo3 = nullptr;
    QCheckBox* Check1 = nullptr;
    QTimer Timer2;
    QPushButton* Command2 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command3 = nullptr;
};

} // namespace quillax
