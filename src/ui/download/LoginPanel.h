#pragma once
// The download window's login panel: a second view on the program's browser profile, so a
// login made here is carried by every download; it fills in and submits the institution's
// login form, presses its IP-login button, and keeps the login alive.

#include <QFrame>
#include <QStringList>
#include <QTimer>

class QCheckBox;
class QComboBox;
class QLabel;
class QUrl;
class QLineEdit;
class QVBoxLayout;
class QPushButton;
class QRadioButton;

namespace quillax {

enum class SecretStatus;
class SettingsStore;
class WebBrowser;

/// The panel's waits; tests shorten them.
struct LoginTimeouts {
    int pageWaitMs = 10'000;  ///< longest wait for the login page or the page after a submit
    int pauseMs = 5'000;      ///< pause at the end of a login run
    int keepAliveMs = 60'000; ///< the login page is loaded this often while keep-alive is on
    int formWaitMs = 3'000;   ///< how long a loaded login page may take to show its form fields
};

/// Where the panel remembers its login between runs: address and account in the settings store,
/// the password only in the desktop's keyring.
namespace login_keys {
inline const QString kSection = QStringLiteral("登录");
inline const QString kAddress = QStringLiteral("网址");
inline const QString kAccount = QStringLiteral("账号");
inline const QString kRememberPassword = QStringLiteral("记住密码");
/// The one keyring entry that held the password before each login site had its own; read
/// once for the remembered address and moved to that site's entry.
inline const QString kOldPasswordSecret = QStringLiteral("login-password");
/// Keyring entries whose removal has not been confirmed, asked again at the next start.
inline const QString kSecretsToRemove = QStringLiteral("待删除的密码");
/// The login page offered when none is remembered.
inline constexpr char kLoginPageVariable[] = "QUILLAX_LOGIN_PAGE";
} // namespace login_keys

/// The login site of an address as typed (read the way the browser reads it): scheme, host and
/// port, as "https://lib.example.edu:443"; empty for an address without a host.
QString LoginSite(const QString& loginAddress);
/// The keyring entry that holds the password for the login site of `loginAddress`; empty when
/// the address names no site.
QString PasswordSecretKey(const QString& loginAddress);

/// Whether the document at `page` belongs to the login address `loginAddress` (as typed, read
/// the way the browser reads it): the same scheme, the same non-empty host and the same port, or
/// the same host moved from plain http to https on the standard ports. Credentials are filled in
/// and the IP-login button is pressed on no other site.
bool IsOnLoginSite(const QUrl& page, const QString& loginAddress);

class LoginPanel : public QFrame {
    Q_OBJECT
public:
    /// With `settings` (not owned, outliving the panel) the address and the account are
    /// restored now and remembered as they change; without, nothing is remembered.
    explicit LoginPanel(QWidget* parent = nullptr, const LoginTimeouts& timeouts = {},
                        SettingsStore* settings = nullptr);
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
    /// The panel's browser, made on first use.
    WebBrowser* browser() { return web(); }
    /// Whether the browser view has been made yet.
    bool hasBrowser() const { return Web1 != nullptr; }

Q_SIGNALS:
    /// The login page's title, for the window's status bar.
    void titleChanged(const QString& title);
    /// An automatic login (one without messages) has ended; `message` says how, in the words
    /// the panel would show.
    void automaticLoginEnded(bool ok, const QString& message);
    /// An automatic login has sent its form and the answer has loaded; it still ends with the
    /// pause that lets the page settle, and `automaticLoginEnded` then says how it went.
    void automaticLoginSent();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    class Busy;
    class ButtonsBusy;
    enum class Outcome { NotOpened, OffSite, NoForm, NoIpButton, StillAsksPassword, LoggedIn };
    Outcome judge(bool opened, bool onLoginSite, bool sent);
    static QString outcomeText(Outcome outcome);
    bool pageAsksForPassword();
    WebBrowser* web();
    void restoreLogin();
    /// Stores what changed since the last time: address and account, and the password when
    /// it is to be remembered.
    void rememberLogin();
    void rememberPassword();
    void onRememberPasswordClicked(bool checked);
    void keyringUnavailable();
    /// The password box follows the site the address box names, filled from the keyring when
    /// passwords are remembered. `addressLeft`: the user has just left the address box, and a
    /// password shown for another site goes; otherwise (an address set without the user leaving
    /// the box) the password shown is taken for the site now named.
    void followAddress(bool addressLeft);
    /// A password typed belongs to the site the address box names.
    void onPasswordEdited();
    void switchPasswordSite(const QString& site);
    /// Reads the kept password of the site the password box belongs to; with `oldEntry`, the
    /// entry every address shared before stands in when the site has none of its own.
    void readPassword(bool oldEntry);
    void passwordRead(SecretStatus status, const QString& secret);
    void moveOldPassword(const QString& site, const QString& secret);
    /// Removes a keyring entry; until the keyring confirms it, the settings note it as owed.
    void forgetSecret(const QString& key, bool sayIfUnavailable);
    /// Asks again for the removals still owed.
    void retryRemovals();
    QStringList secretsToRemove() const;
    void noteSecretToRemove(const QString& key, bool owed);
    bool waitForPage(qint64 startMs);
    bool openPage(const QString& address);
    void onAutoLoginToggled(bool checked);
    void keepAlive();

    LoginTimeouts timeouts_;
    SettingsStore* settings_ = nullptr;
    bool restoring_ = false;
    bool loginEdited_ = false;   ///< address or account changed since they were stored
    bool secretKnown_ = false;   ///< whether storedSecret_ is what the keyring holds
    bool readPending_ = false;   ///< the kept password is being read
    quint64 readGeneration_ = 0; ///< tells the latest read's answer from earlier ones
    int removalsAsked_ = 0;      ///< owed removals asked again and not yet answered
    QString passwordSite_;       ///< the login site the password box belongs to
    QString storedSecret_;
    bool lastLoadOk_ = true;
    bool WebBusy = false;
    int busy_ = 0;
    WebBrowser* Web1 = nullptr; ///< made by web()
    QVBoxLayout* layout_ = nullptr;
    QLineEdit* Text1 = nullptr;
    QRadioButton* Option4 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QCheckBox* CheckRememberPassword = nullptr;
    QLabel* LabelLoginNote = nullptr;
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
