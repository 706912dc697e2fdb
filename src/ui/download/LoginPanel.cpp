#include "ui/download/LoginPanel.h"

#include "core/download/DownloadOptions.h"
#include "core/settings/SettingsStore.h"
#include "core/settings/ShellHelpers.h"
#include "core/settings/TextUtil.h"
#include "platform/MessageBoxes.h"
#include "platform/SecretStore.h"
#include "platform/WebBrowser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

namespace quillax {

namespace {

const QStringList kAccountNames = {QStringLiteral("userid"), QStringLiteral("user"),
                                   QStringLiteral("username"), QStringLiteral("useruid")};
const QStringList kPasswordNames = {QStringLiteral("pass"), QStringLiteral("password"),
                                    QStringLiteral("passwd")};

const QString kLoggingIn = QStringLiteral("正在登录...");
const QString kKeyringUnavailable = QStringLiteral("系统密钥环不可用，密码不会被记住");

int DefaultPort(const QString& scheme) {
    if (scheme == QLatin1String("http")) {
        return 80;
    }
    return scheme == QLatin1String("https") ? 443 : -1;
}

QUrl LoginUrl(const QString& loginAddress) {
    return QUrl::fromUserInput(TrimSpaces(loginAddress));
}

QString SiteSecretKey(const QString& site) {
    return QStringLiteral("login-password:") + site;
}

} // namespace

QString LoginSite(const QString& loginAddress) {
    const QUrl url = LoginUrl(loginAddress);
    if (!url.isValid() || url.host().isEmpty()) {
        return {};
    }
    QUrl site;
    site.setScheme(url.scheme());
    site.setHost(url.host());
    site.setPort(url.port(DefaultPort(url.scheme())));
    return site.toString(QUrl::FullyEncoded);
}

QString PasswordSecretKey(const QString& loginAddress) {
    const QString site = LoginSite(loginAddress);
    return site.isEmpty() ? QString() : SiteSecretKey(site);
}

bool IsOnLoginSite(const QUrl& page, const QString& loginAddress) {
    const QUrl login = LoginUrl(loginAddress);
    // QUrl keeps scheme and host lower-cased; an address without a host (about:blank, file:,
    // the browser's error page) is no site of anybody's.
    if (!page.isValid() || !login.isValid() || login.host().isEmpty() ||
        page.host() != login.host()) {
        return false;
    }
    const int pagePort = page.port(DefaultPort(page.scheme()));
    const int loginPort = login.port(DefaultPort(login.scheme()));
    if (page.scheme() == login.scheme()) {
        return pagePort == loginPort;
    }
    // A site that moved to https sends its plain address there, typed without a scheme too;
    // never the other way round.
    return login.scheme() == QLatin1String("http") && loginPort == 80 &&
           page.scheme() == QLatin1String("https") && pagePort == 443;
}

/// Marks the panel busy while one of its waits runs, so the window is not deleted under it.
class LoginPanel::Busy {
public:
    explicit Busy(LoginPanel* panel) : panel_(panel) { ++panel_->busy_; }
    ~Busy() {
        if (panel_) {
            --panel_->busy_;
        }
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    QPointer<LoginPanel> panel_;
};

/// Disables buttons while a wait runs, the running one saying what goes on, and puts each back
/// as it was on every way out. Nested waits restore in turn.
class LoginPanel::ButtonsBusy {
public:
    ButtonsBusy(std::initializer_list<QPushButton*> buttons, QPushButton* running = nullptr,
                const QString& runningText = {}) {
        for (QPushButton* button : buttons) {
            saved_.append({button, button->isEnabled(), button->text()});
            button->setEnabled(false);
        }
        if (running != nullptr && !runningText.isEmpty()) {
            running->setText(runningText);
        }
    }
    ~ButtonsBusy() {
        for (const Saved& s : saved_) {
            if (s.button) {
                s.button->setText(s.text);
                s.button->setEnabled(s.enabled);
            }
        }
    }
    ButtonsBusy(const ButtonsBusy&) = delete;
    ButtonsBusy& operator=(const ButtonsBusy&) = delete;

private:
    struct Saved {
        QPointer<QPushButton> button;
        bool enabled;
        QString text;
    };
    QList<Saved> saved_;
};

LoginPanel::LoginPanel(QWidget* parent, const LoginTimeouts& timeouts, SettingsStore* settings)
    : QFrame(parent), timeouts_(timeouts), settings_(settings) {
    setObjectName(QStringLiteral("PicWebBK"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("网址："), this), 0, 0);
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    grid->addWidget(Text1, 0, 1, 1, 5);
    Command2 = new QPushButton(QStringLiteral("浏览"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    grid->addWidget(Command2, 0, 6);

    Option4 = new QRadioButton(QStringLiteral("帐号登录："), this);
    Option4->setObjectName(QStringLiteral("Option4"));
    Option4->setChecked(true);
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text3 = new QLineEdit(this);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text3->setEchoMode(QLineEdit::Password); // never shown as typed
    CheckRememberPassword = new QCheckBox(QStringLiteral("记住密码"), this);
    CheckRememberPassword->setObjectName(QStringLiteral("CheckRememberPassword"));
    Option5 = new QRadioButton(QStringLiteral("IP登录"), this);
    Option5->setObjectName(QStringLiteral("Option5"));
    grid->addWidget(Option4, 1, 0);
    grid->addWidget(Text2, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("密码："), this), 1, 2);
    grid->addWidget(Text3, 1, 3);
    grid->addWidget(CheckRememberPassword, 1, 4);
    grid->addWidget(Option5, 1, 5);
    Command5 = new QPushButton(QStringLiteral("测试登录"), this);
    Command5->setObjectName(QStringLiteral("Command5"));
    grid->addWidget(Command5, 1, 6);

    Check2 = new QCheckBox(QStringLiteral("自动登录"), this);
    Check2->setObjectName(QStringLiteral("Check2"));
    Combo3 = new QComboBox(this);
    Combo3->setObjectName(QStringLiteral("Combo3"));
    Combo3->addItem(QStringLiteral("下载到网页文件(htm/html/asp)文件"));
    Combo3->setCurrentIndex(0);
    Check1 = new QCheckBox(QStringLiteral("自动刷新(每分钟)"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Command3 = new QPushButton(QStringLiteral("关闭(隐藏)"), this);
    Command3->setObjectName(QStringLiteral("Command3"));
    auto* row = new QHBoxLayout;
    row->addWidget(Check2);
    row->addWidget(new QLabel(QStringLiteral("自动登录条件："), this));
    row->addWidget(Combo3);
    row->addWidget(Check1);
    row->addStretch();
    row->addWidget(Command3);
    grid->addLayout(row, 2, 0, 1, 7);
    // A note about the keyring, shown only when there is something to say.
    LabelLoginNote = new QLabel(this);
    LabelLoginNote->setObjectName(QStringLiteral("LabelLoginNote"));
    LabelLoginNote->setTextFormat(Qt::PlainText);
    LabelLoginNote->hide();
    grid->addWidget(LabelLoginNote, 3, 0, 1, 7);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    // The buttons keep their width while they say "正在登录...".
    for (QPushButton* button : {Command2, Command5}) {
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(kLoggingIn) +
                                button->fontMetrics().averageCharWidth() * 4);
    }
    layout->addLayout(grid);

    // The browser view comes when the panel is first shown or a login needs it: until then the
    // download window is a plain widget window, which costs nothing to compose.
    layout_ = layout;

    Timer2.setInterval(timeouts_.keepAliveMs);
    connect(&Timer2, &QTimer::timeout, this, [this] { keepAlive(); });
    connect(Check1, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            Timer2.start();
        } else {
            Timer2.stop();
        }
    });
    connect(Check2, &QCheckBox::clicked, this,
            [this](bool checked) { onAutoLoginToggled(checked); });
    connect(Command2, &QPushButton::clicked, this, [this] { 浏览(); });
    connect(Command5, &QPushButton::clicked, this, [this] { 自动登录网站(true); });
    connect(Command3, &QPushButton::clicked, this, [this] { 关闭(); });

    restoreLogin();
    const auto edited = [this] {
        if (!restoring_) {
            loginEdited_ = true;
        }
    };
    connect(Text1, &QLineEdit::textChanged, this, edited);
    connect(Text2, &QLineEdit::textChanged, this, edited);
    connect(Text3, &QLineEdit::textChanged, this, [this] { onPasswordEdited(); });
    connect(Text1, &QLineEdit::editingFinished, this, [this] {
        followAddress(true);
        rememberLogin();
    });
    for (QLineEdit* box : {Text2, Text3}) {
        connect(box, &QLineEdit::editingFinished, this, [this] { rememberLogin(); });
    }
    connect(CheckRememberPassword, &QCheckBox::clicked, this,
            [this](bool checked) { onRememberPasswordClicked(checked); });
    hide();
}

LoginPanel::~LoginPanel() = default;

void LoginPanel::restoreLogin() {
    using namespace login_keys;
    restoring_ = true;
    QString remembered;
    if (settings_ != nullptr) {
        remembered = TrimSpaces(settings_->read(kSection, kAddress, QString()));
        Text2->setText(settings_->read(kSection, kAccount, QString()));
    }
    const QString address =
        remembered.isEmpty() ? qEnvironmentVariable(kLoginPageVariable).trimmed() : remembered;
    Text1->setText(address);
    restoring_ = false;
    passwordSite_ = LoginSite(address);
    retryRemovals();
    if (settings_ == nullptr ||
        settings_->read(kSection, kRememberPassword, QStringLiteral("0")) != QLatin1String("1")) {
        return; // the keyring is not asked for a password nobody chose to keep
    }
    CheckRememberPassword->setChecked(true);
    // The entry every address shared before belonged to the remembered one.
    readPassword(!remembered.isEmpty());
}

void LoginPanel::readPassword(bool oldEntry) {
    const QString site = passwordSite_;
    if (site.isEmpty()) {
        return;
    }
    readPending_ = true;
    const quint64 generation = ++readGeneration_;
    QPointer<LoginPanel> self(this);
    // An answer for a site left since, or after the user has chosen, is dropped.
    const auto current = [self, generation] {
        return self && self->readPending_ && self->readGeneration_ == generation;
    };
    Secrets().read(SiteSecretKey(site), [self, current, site, oldEntry](SecretStatus status,
                                                                        const QString& secret) {
        if (!current()) {
            return;
        }
        if (status != SecretStatus::NotFound || !oldEntry) {
            self->passwordRead(status, secret);
            return;
        }
        Secrets().read(login_keys::kOldPasswordSecret,
                       [self, current, site](SecretStatus oldStatus, const QString& oldSecret) {
                           if (!current()) {
                               return;
                           }
                           if (oldStatus == SecretStatus::Ok) {
                               self->moveOldPassword(site, oldSecret);
                           }
                           self->passwordRead(oldStatus, oldSecret);
                       });
    });
}

void LoginPanel::passwordRead(SecretStatus status, const QString& secret) {
    readPending_ = false;
    if (status == SecretStatus::Unavailable) {
        keyringUnavailable();
        return;
    }
    secretKnown_ = true;
    storedSecret_ = secret;
    // A password typed meanwhile, or a box unticked meanwhile, wins.
    if (CheckRememberPassword->isChecked() && Text3->text().isEmpty()) {
        Text3->setText(secret);
    }
}

void LoginPanel::moveOldPassword(const QString& site, const QString& secret) {
    QPointer<LoginPanel> self(this);
    Secrets().write(SiteSecretKey(site), secret, [self](SecretStatus status, const QString&) {
        if (!self) {
            return;
        }
        // The old entry goes only once the site's own holds the password.
        if (status == SecretStatus::Ok) {
            self->forgetSecret(login_keys::kOldPasswordSecret, false);
        } else {
            self->keyringUnavailable();
        }
    });
}

void LoginPanel::followAddress(bool addressLeft) {
    const QString site = LoginSite(Text1->text());
    if (site == passwordSite_) {
        return;
    }
    // A password typed before the address named any site is taken for it; another site's is
    // not offered to this one.
    const bool fromOtherSite = addressLeft && !passwordSite_.isEmpty();
    switchPasswordSite(site);
    if (fromOtherSite) {
        Text3->clear();
    }
    if (CheckRememberPassword->isChecked() && CheckRememberPassword->isEnabled() &&
        Text3->text().isEmpty()) {
        readPassword(false);
    }
}

void LoginPanel::onPasswordEdited() {
    const QString site = LoginSite(Text1->text());
    if (site != passwordSite_) {
        switchPasswordSite(site);
    }
}

void LoginPanel::switchPasswordSite(const QString& site) {
    passwordSite_ = site;
    secretKnown_ = false;
    storedSecret_.clear();
    readPending_ = false; // an answer for the site left behind is dropped
}

void LoginPanel::rememberLogin() {
    using namespace login_keys;
    followAddress(false);
    if (settings_ != nullptr && loginEdited_) {
        loginEdited_ = false;
        settings_->write(kSection, kAddress, TrimSpaces(Text1->text()));
        settings_->write(kSection, kAccount, TrimSpaces(Text2->text()));
    }
    rememberPassword();
}

void LoginPanel::rememberPassword() {
    // Until the kept password has come, an empty box means "not read yet", not "forget it";
    // a password for no site has nothing to be kept under yet.
    if (!CheckRememberPassword->isChecked() || !CheckRememberPassword->isEnabled() ||
        readPending_ || passwordSite_.isEmpty()) {
        return;
    }
    const QString password = Text3->text();
    if (secretKnown_ && password == storedSecret_) {
        return;
    }
    // Taken as stored at once, so that the same password is not sent again while the keyring
    // works; a keyring that fails is not used again anyway.
    secretKnown_ = true;
    storedSecret_ = password;
    const QString key = SiteSecretKey(passwordSite_);
    if (password.isEmpty()) {
        forgetSecret(key, true);
        return;
    }
    QPointer<LoginPanel> self(this);
    Secrets().write(key, password, [self, key](SecretStatus status, const QString&) {
        if (!self) {
            return;
        }
        if (status == SecretStatus::Unavailable) {
            self->keyringUnavailable();
            return;
        }
        // Kept again: a removal still owed would take the new password.
        self->noteSecretToRemove(key, false);
    });
}

void LoginPanel::onRememberPasswordClicked(bool checked) {
    if (settings_ != nullptr) {
        settings_->write(login_keys::kSection, login_keys::kRememberPassword,
                         checked ? QStringLiteral("1") : QStringLiteral("0"));
    }
    followAddress(false);
    if (checked && Text3->text().isEmpty()) {
        // Nothing typed: the site's kept password, if there is one, is offered.
        if (!readPending_) {
            readPassword(false);
        }
        return;
    }
    readPending_ = false; // the user's choice overrides what the keyring will answer
    if (checked) {
        secretKnown_ = false; // whatever the keyring holds, the password shown replaces it
        rememberPassword();
        return;
    }
    secretKnown_ = true;
    storedSecret_.clear();
    if (!passwordSite_.isEmpty()) {
        forgetSecret(SiteSecretKey(passwordSite_), true);
    }
}

void LoginPanel::forgetSecret(const QString& key, bool sayIfUnavailable) {
    // Noted before asking: a keyring that does not answer in time, or a program that ends
    // first, leaves the removal to the next start.
    noteSecretToRemove(key, true);
    QPointer<LoginPanel> self(this);
    Secrets().remove(key, [self, key, sayIfUnavailable](SecretStatus status, const QString&) {
        if (!self) {
            return;
        }
        if (status == SecretStatus::Ok) {
            self->noteSecretToRemove(key, false);
        } else if (sayIfUnavailable) {
            self->keyringUnavailable();
        }
    });
}

void LoginPanel::retryRemovals() {
    if (removalsAsked_ > 0) {
        return;
    }
    QPointer<LoginPanel> self(this);
    for (const QString& key : secretsToRemove()) {
        ++removalsAsked_;
        // Quietly: the user is told about the keyring when a password is to be kept or read.
        Secrets().remove(key, [self, key](SecretStatus status, const QString&) {
            if (!self) {
                return;
            }
            --self->removalsAsked_;
            if (status == SecretStatus::Ok) {
                self->noteSecretToRemove(key, false);
            }
        });
    }
}

QStringList LoginPanel::secretsToRemove() const {
    if (settings_ == nullptr) {
        return {};
    }
    // Entry names hold no spaces.
    return settings_->read(login_keys::kSection, login_keys::kSecretsToRemove, QString())
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

void LoginPanel::noteSecretToRemove(const QString& key, bool owed) {
    if (settings_ == nullptr) {
        return;
    }
    QStringList keys = secretsToRemove();
    if (keys.contains(key) == owed) {
        return;
    }
    if (owed) {
        keys.append(key);
    } else {
        keys.removeAll(key);
    }
    settings_->write(login_keys::kSection, login_keys::kSecretsToRemove,
                     keys.join(QLatin1Char(' ')));
}

void LoginPanel::keyringUnavailable() {
    // Said once, in the panel; the login works on without a remembered password. The stored
    // choice stays, so a later session with a keyring restores the password again.
    CheckRememberPassword->setChecked(false);
    CheckRememberPassword->setEnabled(false);
    CheckRememberPassword->setToolTip(kKeyringUnavailable);
    LabelLoginNote->setText(kKeyringUnavailable);
    LabelLoginNote->show();
}

WebBrowser* LoginPanel::web() {
    if (Web1 != nullptr) {
        return Web1;
    }
    Web1 = new WebBrowser(this);
    Web1->setObjectName(QStringLiteral("Web1"));
    layout_->addWidget(Web1, 1);
    Web1->setSilent(true);
    // Only the top-level document's completion ends a wait; the browser keeps pop-ups in itself
    // and refuses to be closed by a page.
    connect(Web1, &WebBrowser::DocumentComplete, this, [this](const QString&, bool ok) {
        lastLoadOk_ = ok;
        WebBusy = false;
    });
    connect(Web1, &WebBrowser::TitleChange, this, [this](const QString& title) {
        if (TrimSpaces(title).toLower() != QLatin1String("about:blank")) {
            Q_EMIT titleChanged(title);
        }
    });
    Web1->Navigate(QStringLiteral("about:blank"));
    return Web1;
}

void LoginPanel::showEvent(QShowEvent* event) {
    retryRemovals();
    web();
    QFrame::showEvent(event);
}

void LoginPanel::hideEvent(QHideEvent* event) {
    // Closing the panel or the window keeps what was typed.
    rememberLogin();
    QFrame::hideEvent(event);
}

bool LoginPanel::automaticLogin() const {
    return Check2->isChecked();
}

bool LoginPanel::waitForPage(qint64 startMs) {
    do {
        YieldOnce();
    } while ((web()->Busy() || WebBusy) && MonotonicMs() - startMs <= timeouts_.pageWaitMs);
    return !web()->Busy() && !WebBusy;
}

bool LoginPanel::openPage(const QString& address) {
    if (address.isEmpty()) {
        return false;
    }
    Busy busy(this);
    ButtonsBusy buttons({Command2});
    const qint64 start = MonotonicMs();
    WebBusy = true;
    lastLoadOk_ = true;
    web()->Navigate(address);
    return waitForPage(start);
}

bool LoginPanel::浏览() {
    rememberLogin();
    return openPage(TrimSpaces(Text1->text()));
}

void LoginPanel::keepAlive() {
    if (busy_ > 0) {
        return; // a login run or a page wait is loading the page already
    }
    // Always a plain GET of an address: reloading the answer to the login form would post the
    // credentials again.
    const QString address = TrimSpaces(Text1->text());
    if (!address.isEmpty()) {
        web()->Navigate(address);
        return;
    }
    const QUrl current = web()->url();
    if (current.scheme() == QLatin1String("http") || current.scheme() == QLatin1String("https")) {
        web()->Navigate(current.toString(QUrl::FullyEncoded));
    }
}

void LoginPanel::onAutoLoginToggled(bool checked) {
    if (!checked) {
        return;
    }
    if (TrimSpaces(Text1->text()).isEmpty()) {
        ShowMessage(QStringLiteral("必须先设置登录网址！"), MsgIcon::Error);
        Check2->setChecked(false);
    } else if (Option4->isChecked() &&
               (TrimSpaces(Text2->text()).isEmpty() || TrimSpaces(Text3->text()).isEmpty())) {
        ShowMessage(QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！"), MsgIcon::Error);
        Check2->setChecked(false);
    }
}

void LoginPanel::自动登录网站(bool showMessages) {
    if (TrimSpaces(Text1->text()).isEmpty()) {
        if (showMessages) {
            ShowMessage(QStringLiteral("必须先设置登录网址！"), MsgIcon::Error);
        } else {
            Q_EMIT automaticLoginEnded(false, QStringLiteral("必须先设置登录网址！"));
        }
        Check2->setChecked(false);
        return;
    }
    // Trimming only decides whether a field is empty: the password is filled in as typed.
    if (Option4->isChecked() &&
        (TrimSpaces(Text2->text()).isEmpty() || TrimSpaces(Text3->text()).isEmpty())) {
        if (showMessages) {
            ShowMessage(QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！"), MsgIcon::Error);
        } else {
            Q_EMIT automaticLoginEnded(false,
                                       QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！"));
        }
        Check2->setChecked(false);
        return;
    }
    if (!Command5->isEnabled()) {
        // A login is running already: the rows go again and meet its result.
        if (!showMessages) {
            Q_EMIT automaticLoginEnded(true, QString());
        }
        return;
    }
    Busy busy(this);
    QPointer<LoginPanel> self(this);
    // Lets the window live for `ms`; the panel may go meanwhile (then `self` is null).
    const auto pauseFor = [&self](qint64 ms) {
        const qint64 start = MonotonicMs();
        while (self && MonotonicMs() - start <= ms) {
            YieldOnce();
        }
    };
    rememberLogin();
    Outcome outcome = Outcome::NotOpened;
    {
        ButtonsBusy buttons({Command2, Command5, Command3}, Command5, kLoggingIn);
        // The address the credentials belong to, as it was when the run began.
        const QString loginAddress = TrimSpaces(Text1->text());
        const bool loaded = openPage(loginAddress);
        if (!self) {
            return;
        }
        const bool opened = loaded && lastLoadOk_;
        const DomDocument doc = web()->Document();
        // A wait that ran out leaves whatever page was there before, and a redirect may have
        // led to another site: neither gets the credentials or the click. The elements are
        // taken before the address is checked; they belong to their own document and do
        // nothing in a later one.
        const bool onLoginSite = opened && IsOnLoginSite(QUrl(doc.URL()), loginAddress);
        bool sent = false;
        const auto clickAndWait = [&](DomHandle element) {
            const qint64 start = MonotonicMs();
            WebBusy = true;
            if (!doc.click(element)) {
                WebBusy = false;
                return;
            }
            sent = true;
            waitForPage(start);
        };
        if (Option4->isChecked()) {
            QList<DomHandle> inputs;
            // A form that the page's script builds after loading, or a document still being
            // put in place on a busy machine, shows no fields at first: look again a while.
            // Each look takes the fields first and then checks the address again, as above.
            const qint64 lookStart = MonotonicMs();
            for (int look = 0; onLoginSite && self; ++look) {
                inputs = doc.getElementsByTagName(kDocumentScope, QStringLiteral("INPUT"));
                if (look > 0 && !IsOnLoginSite(QUrl(doc.URL()), loginAddress)) {
                    inputs.clear();
                    break;
                }
                if (!inputs.isEmpty() || MonotonicMs() - lookStart > timeouts_.formWaitMs) {
                    break;
                }
                pauseFor(100);
            }
            if (!self) {
                return;
            }
            bool accountFilled = false;
            bool passwordFilled = false;
            for (DomHandle input : inputs) {
                const QString name = doc.inputName(input).toLower();
                if (kAccountNames.contains(name)) {
                    accountFilled = true;
                    doc.setInputValue(input, TrimSpaces(Text2->text()));
                }
                if (kPasswordNames.contains(name)) {
                    passwordFilled = true;
                    doc.setInputValue(input, Text3->text());
                }
                // Only a form that got both the account and the password is sent; a submit
                // met before that is passed over.
                if (doc.inputType(input).toLower() == QLatin1String("submit") && accountFilled &&
                    passwordFilled) {
                    clickAndWait(input);
                    break;
                }
            }
        } else if (Option5->isChecked() && onLoginSite) {
            const DomHandle ip = doc.getElementById(QStringLiteral("submitip"));
            if (ip != kNoElement) {
                clickAndWait(ip);
            }
        }
        if (sent && !showMessages) {
            // The session cookie has come with the answer: the waiting rows need not sit out
            // the pause as well.
            Q_EMIT automaticLoginSent();
        }
        pauseFor(timeouts_.pauseMs);
        if (!self) {
            return;
        }
        // Judged on the page the run ends on, after the pause has let it settle.
        outcome = judge(opened, onLoginSite, sent);
    }
    if (!showMessages) {
        // The download list waits for this answer: a failed login stops the run, no loop.
        Q_EMIT automaticLoginEnded(outcome == Outcome::LoggedIn, outcomeText(outcome));
        return;
    }
    ShowMessage(outcomeText(outcome),
                outcome == Outcome::LoggedIn ? MsgIcon::Information : MsgIcon::Error);
}

QString LoginPanel::outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::NotOpened:
        return QStringLiteral("登录失败：登录网址无法打开");
    case Outcome::OffSite:
        return QStringLiteral("登录失败：登录网址转到了其他网站");
    case Outcome::NoForm:
        return QStringLiteral("登录失败：页面上没有找到登录表单");
    case Outcome::NoIpButton:
        return QStringLiteral("登录失败：页面上没有找到IP登录按钮");
    case Outcome::StillAsksPassword:
        return QStringLiteral("登录失败：页面仍要求输入密码");
    case Outcome::LoggedIn:
        break;
    }
    return QStringLiteral("登录成功");
}

LoginPanel::Outcome LoginPanel::judge(bool opened, bool onLoginSite, bool sent) {
    if (!opened) {
        return Outcome::NotOpened;
    }
    // A page that still asks for a password is no login, whatever led to it.
    if (pageAsksForPassword()) {
        return Outcome::StillAsksPassword;
    }
    if (sent) {
        return Outcome::LoggedIn;
    }
    // Nothing was sent: success would be a guess.
    if (!onLoginSite) {
        return Outcome::OffSite;
    }
    return Option5->isChecked() ? Outcome::NoIpButton : Outcome::NoForm;
}

bool LoginPanel::pageAsksForPassword() {
    const DomDocument doc = web()->Document();
    const QList<DomHandle> inputs =
        doc.getElementsByTagName(kDocumentScope, QStringLiteral("INPUT"));
    for (DomHandle input : inputs) {
        if (doc.inputType(input).toLower() == QLatin1String("password") ||
            kPasswordNames.contains(doc.inputName(input).toLower())) {
            return true;
        }
    }
    return false;
}

void LoginPanel::网页登录(const QString& address) {
    show();
    raise();
    if (!Check1->isChecked() && !Check2->isChecked() && !address.isEmpty()) {
        web()->Navigate(address);
    }
}

void LoginPanel::关闭() {
    hide();
    if (!Check1->isChecked() && Web1 != nullptr) {
        Web1->Navigate(QStringLiteral("about:blank"));
    }
}

} // namespace quillax
