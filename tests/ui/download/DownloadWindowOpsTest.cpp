// The download window's list operations, guards, lifecycle and login panel, driven as a user
// would, the login against the demo library site.

#include "core/download/ListOperations.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/UrlReplace.h"
#include "ui/download/fFileDownload.h"

#include "DemoSite.h"
#include "TestHttpServer.h"
#include "TestSupport.h"

#include "core/download/DownloadScheduler.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "platform/Network.h"
#include "platform/SecretStore.h"
#include "platform/WebBrowser.h"
#include "ui/shell/WindowHelpers.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkReply>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QUrlQuery>
#include <QWebEngineCertificateError>
#include <gtest/gtest.h>
#include <random>

using namespace quillax;
using namespace quillax::test;
using Col = DownloadListModel::Column;

namespace {

void fill(DownloadListModel& list, int row, ItemStatus status, const QString& size,
          const QString& received) {
    list.setStatus(row, status);
    list.setText(row, Col::ColSize, size);
    list.setText(row, Col::ColReceived, received);
}

bool keysTrue(const DownloadListModel& list) {
    for (int row = 0; row < list.count(); ++row) {
        if (list.rowOfKey(list.item(row).key) != row) {
            return false;
        }
    }
    return true;
}

QByteArray sha(const QByteArray& b) {
    return QCryptographicHash::hash(b, QCryptographicHash::Sha256).toHex();
}

/// A login site on 127.0.0.1 that keeps every request it gets, bodies included. GET of a page
/// set with `page` serves it; anything posted is answered with a short page.
class FormSite {
public:
    struct Received {
        bool post = false;
        QString path;
        QByteArray body;
    };
    FormSite() {
        server_.route(
            QStringLiteral("/<arg>"), [this](const QString& name, const QHttpServerRequest& r) {
                const bool post = r.method() == QHttpServerRequest::Method::Post;
                received_.append({post, r.url().path(), r.body()});
                if (post) {
                    return QHttpServerResponse("text/html; charset=utf-8",
                                               QByteArray("<html><body>ok</body></html>"));
                }
                if (!pages_.contains(name)) {
                    return QHttpServerResponse(QHttpServerResponder::StatusCode::NotFound);
                }
                return QHttpServerResponse("text/html; charset=utf-8", pages_.value(name));
            });
        port_ = server_.listen(QHostAddress::LocalHost);
    }
    void page(const QString& name, const QByteArray& html) { pages_.insert(name, html); }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
    }
    QList<Received> posts() const {
        QList<Received> result;
        for (const Received& r : received_) {
            if (r.post) {
                result.append(r);
            }
        }
        return result;
    }
    int gets(const QString& path) const {
        return int(std::count_if(received_.cbegin(), received_.cend(),
                                 [&](const Received& r) { return !r.post && r.path == path; }));
    }

private:
    QHttpServer server_;
    quint16 port_ = 0;
    QHash<QString, QByteArray> pages_;
    QList<Received> received_;
};

/// An account form and an IP-login button, as a library's login page has them.
const QByteArray kLoginForm = R"(<html><body>
<form action="/sent" method="post"><input id="a" name="userid"><input id="p" name="password"
type="password"><input type="submit" value="登录"></form>
<form action="/sentip" method="post"><input type="submit" id="submitip" value="IP"></form>
</body></html>)";

/// A page script that hands the fields to its own server at every click (sent as a POST).
const QByteArray kBeaconScript = R"(<script>document.addEventListener("click", function() {
  navigator.sendBeacon("/beacon",
      document.getElementById("a").value + ":" + document.getElementById("p").value);
}, true);</script>)";

/// A posted form field, decoded.
QString formField(const QByteArray& body, const QString& name) {
    QByteArray form = body;
    form.replace('+', ' ');
    return QUrlQuery(QString::fromUtf8(form)).queryItemValue(name, QUrl::FullyDecoded);
}

/// The desktop's keyring, in memory. Answers from the event loop, in order, as the real one
/// does; when not `available`, every request answers Unavailable.
class FakeKeyring final : public SecretStore {
public:
    FakeKeyring() { previous_ = SetSecretStore(this); }
    ~FakeKeyring() override { SetSecretStore(previous_); }
    void read(const QString& key, Done done) override {
        ++requests;
        if (!available) {
            answer(std::move(done), SecretStatus::Unavailable, {});
        } else if (secrets.contains(key)) {
            answer(std::move(done), SecretStatus::Ok, secrets.value(key));
        } else {
            answer(std::move(done), SecretStatus::NotFound, {});
        }
    }
    void write(const QString& key, const QString& secret, Done done) override {
        ++requests;
        if (available) {
            secrets.insert(key, secret);
        }
        answer(std::move(done), available ? SecretStatus::Ok : SecretStatus::Unavailable, {});
    }
    void remove(const QString& key, Done done) override {
        ++requests;
        if (available) {
            secrets.remove(key);
        }
        answer(std::move(done), available ? SecretStatus::Ok : SecretStatus::Unavailable, {});
    }

    QHash<QString, QString> secrets;
    bool available = true;
    int requests = 0;

private:
    void answer(Done done, SecretStatus status, const QString& secret) {
        QTimer::singleShot(0, &context_,
                           [done = std::move(done), status, secret] { done(status, secret); });
    }
    SecretStore* previous_ = nullptr;
    QObject context_;
};

} // namespace

TEST(DownloadListOperations, ReDownloadRules) {
    QTemporaryDir tmp;
    const QString folder = tmp.path() + QLatin1Char('/');
    DownloadListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    list.addItem(QStringLiteral("a|b"), QStringLiteral("Page"), QStringLiteral("html"), folder, {});
    list.addItem(QStringLiteral("c"), QStringLiteral("Small"), QStringLiteral("pdf"), folder, {});
    list.addItem(QStringLiteral("d"), QStringLiteral("Partial"), QStringLiteral("pdf"), folder, {});
    list.addItem(QStringLiteral("e"), QStringLiteral("Exact"), QStringLiteral("pdf"), folder, {});
    list.addItem(QStringLiteral("f"), QStringLiteral("Busy"), QStringLiteral("pdf"), folder, {});
    fill(list, 0, ItemStatus::Failed, QStringLiteral("下载失败"), {});
    fill(list, 1, ItemStatus::Finished, QStringLiteral("2,048"), QStringLiteral("2048"));
    fill(list, 2, ItemStatus::Finished, QStringLiteral("4096"), QStringLiteral("2048"));
    fill(list, 3, ItemStatus::Finished, QStringLiteral("10240"), QStringLiteral("10240"));
    fill(list, 4, ItemStatus::Downloading, QStringLiteral("100"), QStringLiteral("100"));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Page.html"), "<html>login</html>"));
    list.setCreatedFile(0, true);

    // Selected items that wait or download are never reset.
    list.setSelected(4, true);
    EXPECT_EQ(menu重新下载选中项(list), 0);
    EXPECT_EQ(list.item(4).status, ItemStatus::Downloading);

    EXPECT_EQ(menu重新下载文件大小小于指定数字的项(list, 10240), 1);
    EXPECT_EQ(list.item(1).status, ItemStatus::Waiting);
    EXPECT_EQ(list.item(2).status, ItemStatus::Finished); // received differs from size
    EXPECT_EQ(list.item(3).status, ItemStatus::Finished); // not smaller

    EXPECT_EQ(menu重新下载出错项(list), 1);
    EXPECT_EQ(list.item(0).status, ItemStatus::Waiting);
    EXPECT_EQ(list.item(0).type, QStringLiteral("xxx"));
    EXPECT_EQ(list.item(0).key, QStringLiteral("b|a"));
    EXPECT_TRUE(list.item(0).size.isEmpty());
    // Kept until a whole new body replaces it, then removed as the row's old file.
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("Page.html")));
    EXPECT_EQ(list.item(0).replacesPath, folder + QStringLiteral("Page.html"));
    EXPECT_TRUE(keysTrue(list));
}

TEST(DownloadListOperations, ClearSortShuffleAndReplaceKeepTheKeysTrue) {
    DownloadListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const struct {
        const char* key;
        ItemStatus status;
        const char* size;
    } rows[] = {
        {"x://OLDHOST/a.pdf", ItemStatus::Failed, "300"},
        {"x://oldhost/b.pdf", ItemStatus::Failed, "未知"},
        {"x://newhost/a.pdf", ItemStatus::Finished, "20"},
        {"x://oldhost/c.pdf", ItemStatus::Waiting, "1000"},
        {"x://other/d.pdf", ItemStatus::Failed, "5"},
    };
    for (const auto& r : rows) {
        list.addItem(QString::fromUtf8(r.key), QStringLiteral("n"), QStringLiteral("pdf"),
                     QStringLiteral("/f/"), QStringLiteral("http://OldHost/ref"));
        fill(list, list.count() - 1, r.status, QString::fromUtf8(r.size), {});
    }
    // Replacing ignores case; the item whose new key another item holds keeps its old one.
    EXPECT_EQ(ReplaceInAddresses(list, QStringLiteral("OLDHOST"), QStringLiteral("newhost")), 2);
    EXPECT_EQ(list.item(0).key, QStringLiteral("x://OLDHOST/a.pdf"));
    EXPECT_EQ(list.item(1).key, QStringLiteral("x://newhost/b.pdf"));
    EXPECT_EQ(list.item(3).key, QStringLiteral("x://newhost/c.pdf"));
    EXPECT_EQ(list.item(0).referrer, QStringLiteral("http://newhost/ref"));
    EXPECT_TRUE(keysTrue(list));

    // Sizes sort by number in both directions; "未知" sorts as text among the padded numbers.
    SortDownloadList(list, Col::ColSize, false);
    QStringList sizes;
    for (int row = 0; row < list.count(); ++row) {
        sizes << list.item(row).size;
    }
    EXPECT_EQ(sizes, (QStringList{"5", "20", "300", "1000", "未知"}));
    SortDownloadList(list, Col::ColSize, true);
    EXPECT_EQ(list.item(0).size, QStringLiteral("未知"));
    EXPECT_EQ(list.item(4).size, QStringLiteral("5"));
    EXPECT_TRUE(keysTrue(list));

    随机排序下载列表(list, [](int n) { return n - 1; });
    EXPECT_EQ(list.count(), 5);
    EXPECT_TRUE(keysTrue(list));

    // Adjacent failed rows all go.
    SortDownloadList(list, Col::ColName, false);
    EXPECT_EQ(ClearListItems(list, ListClear::Failed), 3);
    EXPECT_EQ(list.count(), 2);
    EXPECT_TRUE(keysTrue(list));
    EXPECT_TRUE(list.addItem(QStringLiteral("x://other/d.pdf"), {}, {}, {}, {}));
}

TEST(DownloadListOperations, FittingAColumnMeasuresEveryRow) {
    DownloadListModel list;
    for (int i = 0; i < 3000; ++i) {
        list.addItem(QStringLiteral("k%1").arg(i),
                     i == 2999 ? QString(300, QLatin1Char('W')) : QStringLiteral("short"),
                     QStringLiteral("pdf"), QStringLiteral("/f/"), {});
    }
    QTreeView view;
    view.setModel(&list);
    SetAllListColumnWidths(&view, kFitContentsAndHeader);
    EXPECT_GE(view.columnWidth(0), view.fontMetrics().horizontalAdvance(QString(300, u'W')));
}

class DownloadWindowTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        saved = Values();
        // The first page of a run starts the browser's renderer, which takes seconds on a loaded
        // machine; the tests that need a wait to run out set their own.
        login.pageWaitMs = 20'000;
        login.pauseMs = 100;
    }
    void TearDown() override {
        if (window) {
            boxes.answer = MsgResult::Yes;
            window->close();
        }
        QTest::qWait(60);
        Values() = saved;
    }
    fFileDownload& w() {
        if (!window) {
            DownloadTimeouts timeouts;
            timeouts.tickMs = 50;
            timeouts.headerWaitMs = 3000;
            window = new fFileDownload(settings, Values(), nullptr, timeouts, &login);
            window->resize(900, 600);
            window->show();
        }
        return *window;
    }
    template <typename T> T* child(const char* name) { return w().findChild<T*>(name); }

    QTemporaryDir tmp;
    SettingsStore settings{tmp.path() + QStringLiteral("/s.ini")};
    LoginTimeouts login;
    AppValues saved;
    QPointer<fFileDownload> window;
    RecordingMessageBoxes boxes;
    RecordingShell shell;
};

using DownloadWindowOpsTest = DownloadWindowTestBase;

TEST_F(DownloadWindowOpsTest, GuardsStoredSettingsAndTheCloseQuestion) {
    settings.write(QStringLiteral("专利下载"), QStringLiteral("重复文件名设置"),
                   QStringLiteral(" 跳过 "));
    settings.write(QStringLiteral("设置"), QStringLiteral("下载方式"), QStringLiteral("1"));
    settings.write(QStringLiteral("下载"), QStringLiteral("线程"), QStringLiteral("4"));
    // The stored text is compared as it is: " 跳过 " is no caption, so 重命名 is chosen.
    EXPECT_TRUE(child<QRadioButton>("Option3")->isChecked());
    w().list().addItem(QStringLiteral("http://127.0.0.1:9/x.pdf"), QStringLiteral("A"),
                       QStringLiteral("pdf"), tmp.path(), {});

    w().scheduler().Start();
    w().columnClicked(0);
    w().清除(ListClear::All);
    w().检查并纠正磁盘文件类型();
    EXPECT_EQ(boxes.texts(), (QStringList{QStringLiteral("停止下载后方可排序！"),
                                          QStringLiteral("停止下载以后，才能执行此操作！"),
                                          QStringLiteral("停止下载以后，才能执行此操作！")}));
    EXPECT_EQ(w().list().count(), 1);
    w().prepareListMenu();
    w().scheduler().StopTimers();

    // A waiting row: the close question; No keeps the window, but the settings are stored.
    child<QRadioButton>("Option2")->setChecked(true);
    boxes.answer = MsgResult::No;
    w().close();
    EXPECT_TRUE(w().isVisible());
    EXPECT_EQ(boxes.texts().last(),
              QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？"));
    EXPECT_EQ(settings.read(QStringLiteral("专利下载"), QStringLiteral("重复文件名设置"), {}),
              QStringLiteral("覆盖"));
    // Yes: closed, no longer loaded at once, deleted soon after; under method 1 the stored
    // thread count is left as it was.
    boxes.answer = MsgResult::Yes;
    w().close();
    EXPECT_FALSE(IsWindowLoaded(QStringLiteral("fFileDownload")));
    EXPECT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 3000));
    EXPECT_EQ(settings.read(QStringLiteral("下载"), QStringLiteral("线程"), {}),
              QStringLiteral("4"));
}

// Click row 4, then ctrl-click row 2: the single-item tools act on row 2, the row the user
// clicked last, not on the first selected row in list order.
TEST_F(DownloadWindowOpsTest, SingleItemToolsActOnTheCurrentRow) {
    const QString folder = tmp.path() + QLatin1Char('/');
    DownloadListModel& list = w().list();
    for (int i = 0; i < 5; ++i) {
        list.addItem(QStringLiteral("http://x/%1").arg(i), QStringLiteral("R%1").arg(i),
                     QStringLiteral("pdf"), folder, {});
    }
    w().show();
    QTreeView* view = w().listView();
    const auto click = [view](int row, Qt::KeyboardModifiers modifiers) {
        const QRect cell = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, cell.center());
    };
    click(4, Qt::NoModifier);
    click(2, Qt::ControlModifier);
    ASSERT_TRUE(list.isSelected(4));
    ASSERT_TRUE(list.isSelected(2));
    w().复制名称();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("R2"));
    // With the current row deselected, the first selected row is taken.
    click(2, Qt::ControlModifier);
    ASSERT_FALSE(list.isSelected(2));
    w().复制名称();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("R4"));
}

TEST_F(DownloadWindowOpsTest, DoubleClickAndClickOnRows) {
    const QString folder = tmp.path() + QLatin1Char('/');
    DownloadListModel& list = w().list();
    list.addItem(QStringLiteral("u1|u2"), QStringLiteral("Failed"), QStringLiteral("pdf"), folder,
                 {});
    list.addItem(QStringLiteral("u3"), QStringLiteral("Other"), QStringLiteral("pdf"), folder, {});
    list.addItem(QStringLiteral("u4"), QStringLiteral("Done"), QStringLiteral("pdf"), folder, {});
    fill(list, 0, ItemStatus::Failed, QStringLiteral("下载失败"), {});
    fill(list, 1, ItemStatus::Failed, QStringLiteral("下载失败"), {});
    fill(list, 2, ItemStatus::Finished, QStringLiteral("5"), QStringLiteral("5"));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Failed.pdf"), "partial"));
    list.setCreatedFile(0, true);
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Other.pdf"), "the user's own file"));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Done.pdf"), "%PDF-"));

    w().itemDoubleClicked(0);
    EXPECT_EQ(list.item(0).status, ItemStatus::Waiting);
    EXPECT_EQ(list.item(0).key, QStringLiteral("u1|u2")); // not rotated
    // The row's own file stays until the retry's whole body replaces it.
    EXPECT_EQ(ReadFile(folder + QStringLiteral("Failed.pdf")), QByteArray("partial"));
    EXPECT_EQ(list.item(0).replacesPath, folder + QStringLiteral("Failed.pdf"));
    w().itemDoubleClicked(1); // a file the row did not store stays
    EXPECT_EQ(ReadFile(folder + QStringLiteral("Other.pdf")), QByteArray("the user's own file"));
    w().itemDoubleClicked(2);
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened.first().toLocalFile(), folder + QStringLiteral("Done.pdf"));

    w().itemClicked(2);
    EXPECT_EQ(w().statusPanelText(2), QStringLiteral("u4"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("u4"));
}

class LoginPanelTest : public DownloadWindowTestBase {
protected:
    void SetUp() override {
        DownloadWindowTestBase::SetUp();
        demo::DemoOptions options;
        options.records = 12;
        options.password = QString::fromLatin1(kPassword);
        site = std::make_unique<demo::DemoSite>(options);
        ASSERT_TRUE(site->start());
    }
    /// Whether the program's network manager now gets the PDF of record `n`.
    bool pdfReachable(int n) {
        QNetworkReply* reply = NetworkManager().get(QNetworkRequest(QUrl(site->pdfAddress(n))));
        const bool done = QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000);
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return done && sha(body) == sha(demo::PdfBytes(n));
    }
    void setUpLogin(bool account, const QString& address) {
        child<QPushButton>("Command1")->click();
        child<QLineEdit>("Text1")->setText(address);
        if (account) {
            child<QRadioButton>("Option4")->setChecked(true);
            child<QLineEdit>("Text2")->setText(QStringLiteral(" demo "));
            child<QLineEdit>("Text3")->setText(QString::fromLatin1(kPassword));
        } else {
            child<QRadioButton>("Option5")->setChecked(true);
        }
    }
    QByteArray iniBytes() const { return ReadFile(tmp.path() + QStringLiteral("/s.ini")); }
    /// The demo site's password: a text found nowhere else in a settings file.
    static constexpr char kPassword[] = "Pw-7f3kQ9x";
    FakeKeyring keyring;
    std::unique_ptr<demo::DemoSite> site;
};

TEST_F(LoginPanelTest, AccountAndIpLoginAgainstTheDemoSite) {
    // Checks run before anything loads, with messages only because the user asked.
    w().loginPanel()->自动登录网站(true);
    EXPECT_EQ(boxes.texts().last(), QStringLiteral("必须先设置登录网址！"));
    EXPECT_TRUE(child<QLineEdit>("Text3")->echoMode() == QLineEdit::Password);

    EXPECT_FALSE(pdfReachable(2));
    setUpLogin(true, site->loginUrl());
    EXPECT_TRUE(w().loginPanel()->isVisible());
    child<QPushButton>("Command5")->click(); // returns when the run is over
    EXPECT_TRUE(child<QPushButton>("Command5")->isEnabled());
    EXPECT_TRUE(site->requestLog().contains(QStringLiteral("POST /login 200")));
    EXPECT_TRUE(pdfReachable(2));
}

TEST_F(LoginPanelTest, IpLoginAndAFormWhoseSubmitComesFirst) {
    TestHttpServer server;
    server.route("/early", Serve(R"(<html><body><form action="/sent" method="post">
<input type="submit" value="go"><input name="USERNAME"><input name="PassWord" type="password">
</form></body></html>)",
                                 "text/html"));
    setUpLogin(true, server.url(QStringLiteral("/early")));
    child<QPushButton>("Command5")->click();
    EXPECT_EQ(server.requestCount("/sent"), 0); // filled, but the submit came too early
    EXPECT_EQ(w().loginPanel()->browser()->url(), QUrl(server.url(QStringLiteral("/early"))));

    setUpLogin(false, site->loginUrl());
    child<QPushButton>("Command5")->click();
    EXPECT_TRUE(site->requestLog().contains(QStringLiteral("POST /login/ip 200")));
    EXPECT_TRUE(pdfReachable(5));
}

// Login pages that build their form with script after loading: the run waits for the fields.
TEST_F(LoginPanelTest, AFormBuiltAfterThePageLoadedIsFilledAndSent) {
    TestHttpServer server;
    server.route("/late", Serve(R"(<html><body><div id="box"></div><script>
setTimeout(function() {
  document.getElementById('box').innerHTML = '<form action="/sent" method="post">' +
    '<input name="userid"><input name="password" type="password">' +
    '<input type="submit" value="go"></form>';
}, 700);
</script></body></html>)",
                                "text/html"));
    server.route("/sent", Serve("<html><body>ok</body></html>", "text/html"));
    setUpLogin(true, server.url(QStringLiteral("/late")));
    child<QPushButton>("Command5")->click();
    EXPECT_EQ(server.requestCount("/sent"), 1);
}

TEST_F(LoginPanelTest, ALoginPageInsteadOfAPdfLogsInAndTheRetryStoresThePdf) {
    settings.write(QStringLiteral("设置"), QStringLiteral("下载方式"), QStringLiteral("1"));
    const QString folder = tmp.path() + QStringLiteral("/papers/");
    w().list().addItem(site->pdfAddress(2), QStringLiteral("Paper"), QStringLiteral("pdf"), folder,
                       {});
    setUpLogin(true, site->loginUrl());
    child<QCheckBox>("Check2")->click();
    EXPECT_TRUE(w().loginPanel()->automaticLogin());
    child<QCheckBox>("Check3")->setChecked(true);   // automatic re-download
    child<QComboBox>("Combo4")->setCurrentIndex(1); // of web-page items
    child<QPushButton>("Command4")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [this] {
            return w().list().item(0).status == ItemStatus::Finished &&
                   w().list().item(0).type == QStringLiteral("pdf");
        },
        30000))
        << static_cast<int>(w().list().item(0).status) << " "
        << w().list().item(0).type.toStdString() << " " << w().list().item(0).size.toStdString()
        << " " << w().list().item(0).reason.toStdString() << "\n"
        << site->requestLog().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(site->requestLog().contains(QStringLiteral("POST /login 200")));
    EXPECT_EQ(sha(ReadFile(folder + QStringLiteral("Paper.pdf"))), sha(demo::PdfBytes(2)));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("Paper.htm")));
    child<QPushButton>("Command31")->click();
}

TEST(LoginSite, OnlyTheLoginAddressSchemeHostAndPortCount) {
    struct Case {
        const char* page;
        const char* login;
        bool onSite;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/sent", "http://127.0.0.1:8080/login", true},
        {"http://lib.example.edu/login?x=1", " lib.example.edu/login ", true}, // typed bare
        {"https://LIB.Example.edu/a", "https://lib.example.edu/login", true},
        {"http://lib.example.edu:80/a", "http://lib.example.edu/login", true},
        {"https://lib.example.edu/a", "https://lib.example.edu:443/login", true},
        // Another port is another server.
        {"http://127.0.0.1:8081/login", "http://127.0.0.1:8080/login", false},
        {"http://lib.example.edu:8080/login", "http://lib.example.edu/login", false},
        {"https://lib.example.edu:8443/login", "https://lib.example.edu/login", false},
        // A site that moved to https: the plain address typed, bare or not, still leads there.
        {"https://lib.example.edu/login", " lib.example.edu/login ", true},
        {"https://lib.example.edu/login", "http://lib.example.edu/login", true},
        {"https://lib.example.edu:443/login", "http://lib.example.edu:80/login", true},
        {"https://lib.example.edu:8443/login", "http://lib.example.edu:8080/login", false},
        {"https://lib.example.edu:8080/login", "http://lib.example.edu:8080/login", false},
        {"https://other.example/login", "http://lib.example.edu/login", false},
        // Never the other way round.
        {"http://lib.example.edu/login", "https://lib.example.edu/login", false},
        {"https://other.example/login", "https://lib.example.edu/login", false},
        {"https://lib.example.edu.other.example/", "https://lib.example.edu/login", false},
        {"https://lib.example.edu@other.example/", "https://lib.example.edu/login", false},
        {"https://other.example/?https://lib.example.edu/", "https://lib.example.edu/", false},
        {"about:blank", "about:blank", false},
        {"file:///tmp/login.html", "file:///tmp/login.html", false},
        {"chrome-error://chromewebdata/", "https://lib.example.edu/login", false},
        {"", "https://lib.example.edu/login", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsOnLoginSite(QUrl(QString::fromUtf8(c.page)), QString::fromUtf8(c.login)),
                  c.onSite)
            << c.page << " / " << c.login;
    }
}

TEST_F(LoginPanelTest, TheFormGetsThePasswordAsTypedAndTheAccountTrimmed) {
    FormSite form;
    form.page(QStringLiteral("login"), kLoginForm);
    setUpLogin(true, form.url(QStringLiteral("/login")));
    child<QLineEdit>("Text3")->setText(QStringLiteral("  pa ss 密 "));
    child<QPushButton>("Command5")->click();
    const QList<FormSite::Received> posts = form.posts();
    ASSERT_EQ(posts.size(), 1);
    EXPECT_EQ(posts[0].path, QStringLiteral("/sent"));
    EXPECT_EQ(formField(posts[0].body, QStringLiteral("userid")), QStringLiteral("demo"));
    EXPECT_EQ(formField(posts[0].body, QStringLiteral("password")), QStringLiteral("  pa ss 密 "));
}

TEST_F(LoginPanelTest, OnlyAFormThatGotAccountAndPasswordIsSubmitted) {
    struct Case {
        const char* why;
        const char* inputs;
        bool submitted;
    };
    const Case cases[] = {
        {"names and types in any case",
         R"(<input name="UserName"><input name="PassWord" type="password"><input type="SUBMIT">)",
         true},
        {"no password field", R"(<input name="userid"><input type="submit">)", false},
        {"two account fields, no password",
         R"(<input name="user"><input name="useruid"><input type="submit">)", false},
        {"no account field", R"(<input name="passwd" type="password"><input type="submit">)",
         false},
    };
    FormSite form;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const QString name = QStringLiteral("form%1").arg(++n);
        form.page(name, QByteArray(R"(<html><body><form action="/sent" method="post">)") +
                            c.inputs + "</form></body></html>");
        const qsizetype before = form.posts().size();
        setUpLogin(true, form.url(QLatin1Char('/') + name));
        child<QPushButton>("Command5")->click();
        EXPECT_EQ(form.posts().size() - before, c.submitted ? 1 : 0);
        EXPECT_EQ(form.gets(QLatin1Char('/') + name), 1); // the run did load the form
    }
}

TEST_F(LoginPanelTest, NoCredentialsAndNoClickOnAPageOffTheLoginSite) {
    login.pageWaitMs = 2000;
    FormSite form;
    form.page(QStringLiteral("login"),
              QByteArray(kLoginForm).replace("</body>", kBeaconScript + "</body>"));
    const QString formPage = form.url(QStringLiteral("/login"));
    TestHttpServer plain;
    plain.route("/away", RedirectTo(formPage));
    Route never;
    never.delayHeadersMs = -1;
    plain.route("/never", never);
    TestHttpServer tls(true);
    tls.route("/away", RedirectTo(formPage));
    WebBrowser* browser = w().loginPanel()->browser();
    // The https login address presents the test certificate; this browser trusts it.
    QObject::connect(browser->page(), &QWebEnginePage::certificateError,
                     [](const QWebEngineCertificateError& error) {
                         QWebEngineCertificateError accepted = error;
                         accepted.acceptCertificate();
                     });

    struct Case {
        const char* why;
        QString shownBefore;
        QString loginAddress;
    };
    const Case cases[] = {
        {"redirected to another host",
         {},
         QStringLiteral("http://localhost:%1/away").arg(plain.port())},
        {"redirected from https to http", {}, tls.url(QStringLiteral("/away"))},
        {"redirected to another port of the same host", {}, plain.url(QStringLiteral("/away"))},
        // Same scheme and host, but the login page never came: the page held is not it.
        {"wait ran out", formPage, plain.url(QStringLiteral("/never"))},
    };
    for (const bool account : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.why) + (account ? ", account" : ", IP"));
            if (!c.shownBefore.isEmpty()) {
                browser->Navigate(c.shownBefore);
                ASSERT_TRUE(QTest::qWaitFor(
                    [&] { return !browser->Busy() && browser->url() == QUrl(c.shownBefore); },
                    10000));
            }
            setUpLogin(account, c.loginAddress);
            const qsizetype posts = form.posts().size();
            child<QPushButton>("Command5")->click();
            // The form was at hand, and was neither filled in, nor sent, nor clicked.
            const DomDocument doc = browser->Document();
            EXPECT_EQ(doc.URL(), formPage);
            EXPECT_EQ(doc.inputValue(doc.getElementById(QStringLiteral("a"))), QString());
            EXPECT_EQ(doc.inputValue(doc.getElementById(QStringLiteral("p"))), QString());
            EXPECT_EQ(form.posts().size(), posts) << form.posts().last().path.toStdString();
        }
    }
}

TEST_F(LoginPanelTest, KeepAliveLoadsTheLoginPageAndNeverPostsTheFormAgain) {
    login.keepAliveMs = 100;
    FormSite form;
    form.page(QStringLiteral("login"), kLoginForm);
    setUpLogin(true, form.url(QStringLiteral("/login")));
    child<QPushButton>("Command5")->click();
    ASSERT_EQ(form.posts().size(), 1); // the browser now shows the answer to the POST

    const int gets = form.gets(QStringLiteral("/login"));
    child<QCheckBox>("Check1")->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form.gets(QStringLiteral("/login")) >= gets + 3 || form.posts().size() > 1; },
        15000));
    child<QCheckBox>("Check1")->click();
    EXPECT_EQ(form.posts().size(), 1);

    // Without a login address the answer page shown is fetched again, by GET as well.
    child<QPushButton>("Command5")->click();
    ASSERT_EQ(form.posts().size(), 2);
    child<QLineEdit>("Text1")->clear();
    child<QCheckBox>("Check1")->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return form.gets(QStringLiteral("/sent")) >= 2 || form.posts().size() > 2; }, 15000));
    child<QCheckBox>("Check1")->click();
    EXPECT_EQ(form.posts().size(), 2);
}

// The panel built afresh (as each new download window builds it) finds the address and the
// account in the settings file, and the password only in the keyring, only when asked to keep it.
TEST_F(LoginPanelTest, ThePasswordIsKeptOnlyInTheKeyringAndOnlyWhenAsked) {
    const QString password = QString::fromLatin1(kPassword);
    const QString secretKey = PasswordSecretKey(site->loginUrl());
    std::unique_ptr<LoginPanel> panel;
    const auto build = [&] {
        panel.reset();
        panel = std::make_unique<LoginPanel>(nullptr, login, &settings);
        QTest::qWait(20); // a keyring answer would come now
    };
    const auto box = [&](const char* name) { return panel->findChild<QLineEdit*>(name); };
    const auto remember = [&] { return panel->findChild<QCheckBox*>("CheckRememberPassword"); };

    build();
    ASSERT_NE(remember(), nullptr);
    EXPECT_EQ(remember()->text(), QStringLiteral("记住密码"));
    EXPECT_FALSE(remember()->isChecked());
    box("Text1")->setText(site->loginUrl());
    box("Text2")->setText(QStringLiteral("demo"));
    box("Text3")->setText(password);
    panel->show();
    panel->hide(); // closing the panel keeps what was typed
    QTest::qWait(20);
    EXPECT_TRUE(iniBytes().contains(site->loginUrl().toUtf8()));
    EXPECT_FALSE(iniBytes().contains(kPassword));
    EXPECT_TRUE(keyring.secrets.isEmpty());

    build();
    EXPECT_EQ(box("Text1")->text(), site->loginUrl());
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("demo"));
    EXPECT_EQ(box("Text3")->text(), QString());
    EXPECT_EQ(keyring.requests, 0); // nobody asked to keep a password: the keyring is not asked

    box("Text3")->setText(password);
    remember()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return keyring.secrets.value(secretKey) == password; }));
    EXPECT_FALSE(iniBytes().contains(kPassword));

    build();
    EXPECT_TRUE(remember()->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return box("Text3")->text() == password; }));
    // A changed password replaces the kept one when the user is done with it.
    box("Text3")->setText(QStringLiteral("new-Pw-2"));
    panel->show();
    panel->hide();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return keyring.secrets.value(secretKey) == u"new-Pw-2"_qs; }));

    remember()->click(); // unticked: the keyring forgets it
    EXPECT_TRUE(QTest::qWaitFor([&] { return keyring.secrets.isEmpty(); }));
    build();
    EXPECT_FALSE(remember()->isChecked());
    EXPECT_EQ(box("Text3")->text(), QString());
    EXPECT_FALSE(iniBytes().contains(kPassword));
    EXPECT_FALSE(iniBytes().contains("new-Pw-2"));
}

// Through the window: closing it and opening a new one brings back the address and the
// account; the password comes back from the keyring, never from the settings file.
TEST_F(LoginPanelTest, AReopenedWindowOffersTheLastLogin) {
    setUpLogin(true, site->loginUrl());
    child<QCheckBox>("CheckRememberPassword")->click();
    child<QPushButton>("Command5")->click();
    ASSERT_EQ(boxes.texts().last(), QStringLiteral("登录成功"));
    w().close();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window.isNull(); }, 3000));
    EXPECT_FALSE(iniBytes().contains(kPassword));
    EXPECT_EQ(keyring.secrets.value(PasswordSecretKey(site->loginUrl())),
              QString::fromLatin1(kPassword));

    EXPECT_EQ(child<QLineEdit>("Text1")->text(), site->loginUrl());
    EXPECT_EQ(child<QLineEdit>("Text2")->text(), QStringLiteral("demo"));
    EXPECT_TRUE(child<QCheckBox>("CheckRememberPassword")->isChecked());
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return child<QLineEdit>("Text3")->text() == QString::fromLatin1(kPassword); }));
}

TEST_F(LoginPanelTest, TheAddressBoxOffersTheRememberedAddressElseTheEnvironmentsLoginPage) {
    struct Case {
        const char* why;
        const char* remembered;
        const char* variable; // nullptr: not set
        const char* shown;
    };
    const Case cases[] = {
        {"nothing known", "", nullptr, ""},
        {"only the variable", "", " http://127.0.0.1:8/login ", "http://127.0.0.1:8/login"},
        {"the remembered address wins", "http://127.0.0.1:7/in", "http://127.0.0.1:8/login",
         "http://127.0.0.1:7/in"},
        {"remembered, no variable", "http://127.0.0.1:7/in", nullptr, "http://127.0.0.1:7/in"},
    };
    const char* variable = login_keys::kLoginPageVariable;
    const bool wasSet = qEnvironmentVariableIsSet(variable);
    const QByteArray before = qgetenv(variable);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SettingsStore store(tmp.path() + QStringLiteral("/env%1.ini").arg(++n));
        if (*c.remembered != '\0') {
            store.write(login_keys::kSection, login_keys::kAddress,
                        QString::fromUtf8(c.remembered));
        }
        if (c.variable != nullptr) {
            qputenv(variable, c.variable);
        } else {
            qunsetenv(variable);
        }
        LoginPanel panel(nullptr, login, &store);
        EXPECT_EQ(panel.findChild<QLineEdit*>("Text1")->text(), QString::fromUtf8(c.shown));
        // Offering the variable's page is no choice of the user's: nothing is stored for it.
        panel.show();
        panel.hide();
        EXPECT_EQ(store.read(login_keys::kSection, login_keys::kAddress, QString()),
                  QString::fromUtf8(c.remembered));
    }
    if (wasSet) {
        qputenv(variable, before);
    } else {
        qunsetenv(variable);
    }
}

// No keyring (a machine without a secret service): said once, in the panel, without a message
// box; logging in works on, and the choice stays stored for a session that has one.
TEST_F(LoginPanelTest, WithoutAKeyringThePanelSaysSoAndLogsInWithoutIt) {
    keyring.available = false;
    settings.write(login_keys::kSection, login_keys::kRememberPassword, QStringLiteral("1"));
    settings.write(login_keys::kSection, login_keys::kAddress, site->loginUrl());
    LoginPanel panel(nullptr, login, &settings);
    auto* note = panel.findChild<QLabel*>("LabelLoginNote");
    auto* remember = panel.findChild<QCheckBox*>("CheckRememberPassword");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !note->text().isEmpty(); }));
    EXPECT_EQ(note->text(), QStringLiteral("系统密钥环不可用，密码不会被记住"));
    EXPECT_FALSE(remember->isChecked());
    EXPECT_FALSE(remember->isEnabled()); // not asked again this run
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(settings.read(login_keys::kSection, login_keys::kRememberPassword, {}),
              QStringLiteral("1"));

    // The window: ticking the box is what finds out.
    setUpLogin(true, site->loginUrl());
    child<QCheckBox>("CheckRememberPassword")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return !child<QCheckBox>("CheckRememberPassword")->isEnabled(); }));
    EXPECT_FALSE(child<QCheckBox>("CheckRememberPassword")->isChecked());
    EXPECT_EQ(child<QLabel>("LabelLoginNote")->text(),
              QStringLiteral("系统密钥环不可用，密码不会被记住"));
    EXPECT_TRUE(child<QLabel>("LabelLoginNote")->isVisible());
    EXPECT_TRUE(boxes.shown.isEmpty());
    child<QPushButton>("Command5")->click();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("登录成功")});
    EXPECT_TRUE(pdfReachable(3));
}

TEST_F(LoginPanelTest, TestLoginSaysWhetherTheLoginWorked) {
    login.pageWaitMs = 2000;
    TestHttpServer plain;
    Route never;
    never.delayHeadersMs = -1;
    plain.route("/never", never);
    plain.route("/home", Serve("<html><body><p>图书馆主页</p></body></html>", "text/html"));
    QTcpServer closed; // a port where nothing listens any more
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString refused = QStringLiteral("http://127.0.0.1:%1/login").arg(closed.serverPort());
    closed.close();

    struct Case {
        const char* why;
        bool account;
        QString address;
        QString password;
        QString message;
        MsgIcon icon;
    };
    const QString right = QString::fromLatin1(kPassword);
    const Case cases[] = {
        {"right password", true, site->loginUrl(), right, QStringLiteral("登录成功"),
         MsgIcon::Information},
        {"wrong password", true, site->loginUrl(), QStringLiteral("wrong"),
         QStringLiteral("登录失败：页面仍要求输入密码"), MsgIcon::Error},
        {"IP login", false, site->loginUrl(), {}, QStringLiteral("登录成功"), MsgIcon::Information},
        {"nothing listens", true, refused, right, QStringLiteral("登录失败：登录网址无法打开"),
         MsgIcon::Error},
        {"no answer in time", true, plain.url(QStringLiteral("/never")), right,
         QStringLiteral("登录失败：登录网址无法打开"), MsgIcon::Error},
        {"a page without a form", true, plain.url(QStringLiteral("/home")), right,
         QStringLiteral("登录失败：页面上没有找到登录表单"), MsgIcon::Error},
        {"no IP-login button",
         false,
         plain.url(QStringLiteral("/home")),
         {},
         QStringLiteral("登录失败：页面上没有找到IP登录按钮"),
         MsgIcon::Error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        setUpLogin(c.account, c.address);
        if (c.account) {
            child<QLineEdit>("Text3")->setText(c.password);
        }
        const qsizetype before = boxes.shown.size();
        child<QPushButton>("Command5")->click();
        ASSERT_EQ(boxes.shown.size(), before + 1);
        EXPECT_EQ(boxes.shown.last().text, c.message);
        EXPECT_EQ(boxes.shown.last().icon, c.icon);
        // Every way out gives the buttons back.
        EXPECT_EQ(child<QPushButton>("Command5")->text(), QStringLiteral("测试登录"));
        for (const char* name : {"Command2", "Command3", "Command5"}) {
            EXPECT_TRUE(child<QPushButton>(name)->isEnabled()) << name;
        }
    }
    // An automatic login says nothing.
    setUpLogin(true, refused);
    w().loginPanel()->自动登录网站(false);
    EXPECT_EQ(boxes.shown.size(), qsizetype(std::size(cases)));
}

TEST_F(LoginPanelTest, TheButtonsShowARunningLogin) {
    login.pauseMs = 300;
    setUpLogin(true, site->loginUrl());
    struct Seen {
        bool browse, test, close;
        QString caption;
    };
    QList<Seen> seen;
    QTimer sample;
    sample.setInterval(5);
    QObject::connect(&sample, &QTimer::timeout, [&] {
        seen.append({child<QPushButton>("Command2")->isEnabled(),
                     child<QPushButton>("Command5")->isEnabled(),
                     child<QPushButton>("Command3")->isEnabled(),
                     child<QPushButton>("Command5")->text()});
    });
    sample.start();
    child<QPushButton>("Command5")->click();
    sample.stop();
    ASSERT_FALSE(seen.isEmpty());
    for (const Seen& s : seen) {
        EXPECT_FALSE(s.browse);
        EXPECT_FALSE(s.test);
        EXPECT_FALSE(s.close);
        EXPECT_EQ(s.caption, QStringLiteral("正在登录..."));
    }
    EXPECT_TRUE(child<QPushButton>("Command2")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("Command3")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("Command5")->isEnabled());
    EXPECT_EQ(child<QPushButton>("Command5")->text(), QStringLiteral("测试登录"));
    EXPECT_EQ(boxes.texts().last(), QStringLiteral("登录成功"));
}

// The desktop's keyring as this machine has it (none on a headless machine): whatever it says,
// each request is answered once, in the order asked, and never inside the call that asked.
TEST(KeychainSecretStore, EveryRequestIsAnsweredOnceInOrder) {
    KeychainSecretStore store(10'000);
    const QString key = QStringLiteral("quillax-test-%1").arg(QCoreApplication::applicationPid());
    QStringList answered;
    bool inCall = false;
    const auto answer = [&](const QString& what) {
        return [&, what](SecretStatus status, const QString& secret) {
            EXPECT_FALSE(inCall) << what.toStdString();
            EXPECT_TRUE(status != SecretStatus::Ok || secret.isEmpty()) << what.toStdString();
            answered << what;
        };
    };
    inCall = true;
    store.read(key, answer(QStringLiteral("read")));
    store.remove(key, answer(QStringLiteral("remove")));
    store.read(key, answer(QStringLiteral("read again")));
    inCall = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.size() == 3; }, 40000));
    QTest::qWait(50);
    EXPECT_EQ(answered, (QStringList{QStringLiteral("read"), QStringLiteral("remove"),
                                     QStringLiteral("read again")}));
}

// A panel closed before the keyring has answered does not take the still empty password box
// for a wish to forget the kept password.
TEST_F(LoginPanelTest, AnEmptyBoxBeforeTheKeyringAnswersForgetsNothing) {
    settings.write(login_keys::kSection, login_keys::kRememberPassword, QStringLiteral("1"));
    settings.write(login_keys::kSection, login_keys::kAddress, site->loginUrl());
    const QString key = PasswordSecretKey(site->loginUrl());
    keyring.secrets.insert(key, QString::fromLatin1(kPassword));
    LoginPanel panel(nullptr, login, &settings);
    panel.show();
    panel.hide();
    auto* password = panel.findChild<QLineEdit*>("Text3");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return password->text() == QString::fromLatin1(kPassword); }));
    QTest::qWait(20);
    EXPECT_EQ(keyring.secrets.value(key), QString::fromLatin1(kPassword));
}

// Each login site (scheme, host and port) has a keyring entry of its own: a password typed for
// one library is never filled in for another address, and each comes back with its own.
TEST_F(LoginPanelTest, EachLoginSiteKeepsItsOwnPassword) {
    const QString addressA = site->loginUrl();
    const int portA = QUrl(addressA).port();
    const QString addressB = QStringLiteral("http://127.0.0.1:%1/login").arg(portA == 9 ? 10 : 9);
    const QString elsewhere = QStringLiteral("http://127.0.0.3:%1/login").arg(portA);
    const QString passwordA = QString::fromLatin1(kPassword);
    const QString passwordB = QStringLiteral("Pw-B-41x");
    std::unique_ptr<LoginPanel> panel;
    const auto build = [&] {
        panel.reset();
        panel = std::make_unique<LoginPanel>(nullptr, login, &settings);
    };
    const auto box = [&](const char* name) { return panel->findChild<QLineEdit*>(name); };
    // The user is done with a box: Return, as leaving it.
    const auto enter = [&](const char* name, const QString& text) {
        box(name)->setText(text);
        QTest::keyClick(box(name), Qt::Key_Return);
    };
    // The password box shows `password`, and still does once a keyring answer would have come.
    const auto shows = [&](const QString& password) {
        (void)QTest::qWaitFor([&] { return box("Text3")->text() == password; });
        QTest::qWait(20);
        return box("Text3")->text() == password;
    };

    build();
    // Not kept: a new address still starts with an empty password, and the keyring is not asked.
    box("Text1")->setText(addressA);
    enter("Text3", passwordA);
    enter("Text1", addressB);
    EXPECT_TRUE(shows({})) << box("Text3")->text().toStdString();
    EXPECT_EQ(keyring.requests, 0);

    // Kept: each site under its own entry.
    enter("Text1", addressA);
    enter("Text3", passwordA);
    panel->findChild<QCheckBox*>("CheckRememberPassword")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return keyring.secrets.value(PasswordSecretKey(addressA)) == passwordA; }));
    enter("Text1", addressB);
    EXPECT_TRUE(shows({})) << box("Text3")->text().toStdString();
    enter("Text3", passwordB);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return keyring.secrets.value(PasswordSecretKey(addressB)) == passwordB; }));
    EXPECT_EQ(keyring.secrets.value(PasswordSecretKey(addressA)), passwordA);

    struct Case {
        const char* why;
        QString from;
        QString address;
        QString shown;
    };
    const Case cases[] = {
        {"back to the first site", addressB, addressA, passwordA},
        {"another page of the same site", elsewhere,
         QStringLiteral("http://127.0.0.1:%1/other?x=1").arg(portA), passwordA},
        {"the same site typed without a scheme", elsewhere,
         QStringLiteral("127.0.0.1:%1/login").arg(portA), passwordA},
        {"the same host and port over https",
         addressA,
         QStringLiteral("https://127.0.0.1:%1/login").arg(portA),
         {}},
        {"another host", addressA, elsewhere, {}},
        {"another port", addressA, addressB, passwordB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        enter("Text1", c.from);
        enter("Text1", c.address);
        EXPECT_TRUE(shows(c.shown)) << box("Text3")->text().toStdString();
    }

    // The next start offers the remembered address with its own password.
    enter("Text1", addressB);
    build();
    EXPECT_EQ(box("Text1")->text(), addressB);
    EXPECT_TRUE(shows(passwordB)) << box("Text3")->text().toStdString();
    EXPECT_FALSE(iniBytes().contains(kPassword));
    EXPECT_FALSE(iniBytes().contains("Pw-B-41x"));
}

// An upgrade keeps the password of the one entry that every address shared before: it belongs
// to the remembered address, moves to that site's entry, and is offered to no other address.
TEST_F(LoginPanelTest, TheOldSharedPasswordMovesToTheRememberedSite) {
    using namespace login_keys;
    const QString old = QStringLiteral("old-Pw-5");
    const QString address = site->loginUrl();
    const QString key = PasswordSecretKey(address);
    struct Case {
        const char* why;
        QString remembered;
        QString keptForSite;
        QString shown;
        bool moved;
    };
    const Case cases[] = {
        {"the remembered address", address, {}, old, true},
        {"the site has its own already", address, QStringLiteral("site-Pw-6"),
         QStringLiteral("site-Pw-6"), false},
        {"no remembered address", {}, {}, {}, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        SettingsStore store(tmp.path() + QStringLiteral("/old%1.ini").arg(++n));
        store.write(kSection, kRememberPassword, QStringLiteral("1"));
        if (!c.remembered.isEmpty()) {
            store.write(kSection, kAddress, c.remembered);
        }
        keyring.secrets.clear();
        keyring.secrets.insert(kOldPasswordSecret, old);
        if (!c.keptForSite.isEmpty()) {
            keyring.secrets.insert(key, c.keptForSite);
        }
        for (const char* start : {"first start", "second start"}) {
            SCOPED_TRACE(start);
            LoginPanel panel(nullptr, login, &store);
            auto* password = panel.findChild<QLineEdit*>("Text3");
            (void)QTest::qWaitFor([&] { return password->text() == c.shown; });
            QTest::qWait(20);
            EXPECT_EQ(password->text(), c.shown);
            if (c.moved) {
                EXPECT_FALSE(keyring.secrets.contains(kOldPasswordSecret));
                EXPECT_EQ(keyring.secrets.value(key), old);
            } else {
                EXPECT_EQ(keyring.secrets.value(kOldPasswordSecret), old); // kept for later
            }
        }
        if (c.moved) {
            LoginPanel panel(nullptr, login, &store);
            auto* address = panel.findChild<QLineEdit*>("Text1");
            address->setText(QStringLiteral("http://127.0.0.3/login"));
            QTest::keyClick(address, Qt::Key_Return);
            QTest::qWait(20);
            EXPECT_EQ(panel.findChild<QLineEdit*>("Text3")->text(), QString());
        }
    }
}

// Unticking 记住密码 while the keyring does not answer leaves the password there: the removal is
// asked again when the panel opens next and at the next start, until the keyring confirms it,
// and never takes a password kept again for the site afterwards.
TEST_F(LoginPanelTest, ARemovalTheKeyringMissedIsAskedAgain) {
    using namespace login_keys;
    const QString address = site->loginUrl();
    const QString key = PasswordSecretKey(address);
    const QString password = QString::fromLatin1(kPassword);
    settings.write(kSection, kAddress, address);
    std::unique_ptr<LoginPanel> panel;
    const auto remember = [&] { return panel->findChild<QCheckBox*>("CheckRememberPassword"); };
    const auto text3 = [&] { return panel->findChild<QLineEdit*>("Text3"); };
    // A start with the password kept, whose 记住密码 is then unticked without an answer.
    const auto untickUnanswered = [&] {
        keyring.secrets.insert(key, password);
        settings.write(kSection, kRememberPassword, QStringLiteral("1"));
        panel.reset();
        panel = std::make_unique<LoginPanel>(nullptr, login, &settings);
        EXPECT_TRUE(QTest::qWaitFor([&] { return text3()->text() == password; }));
        keyring.available = false;
        remember()->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !remember()->isEnabled(); })); // said so
        EXPECT_EQ(keyring.secrets.value(key), password);
        keyring.available = true;
    };

    untickUnanswered();
    panel->show(); // opened again
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keyring.secrets.contains(key); }));
    QTest::qWait(20); // the keyring's answer comes now
    panel->hide();

    untickUnanswered();
    panel.reset();
    panel = std::make_unique<LoginPanel>(nullptr, login, &settings); // the next start
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keyring.secrets.contains(key); }));
    QTest::qWait(20);

    // Missed again at the next start too; the user then keeps a new password for the site.
    untickUnanswered();
    keyring.available = false;
    panel.reset();
    panel = std::make_unique<LoginPanel>(nullptr, login, &settings);
    QTest::qWait(20);
    keyring.available = true;
    text3()->setText(QStringLiteral("new-Pw-3"));
    remember()->click();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return keyring.secrets.value(key) == QStringLiteral("new-Pw-3"); }));
    QTest::qWait(20);
    panel.reset();
    panel = std::make_unique<LoginPanel>(nullptr, login, &settings);
    EXPECT_TRUE(QTest::qWaitFor([&] { return text3()->text() == QStringLiteral("new-Pw-3"); }));
    QTest::qWait(20);
    EXPECT_EQ(keyring.secrets.value(key), QStringLiteral("new-Pw-3"));
    EXPECT_FALSE(iniBytes().contains(kPassword));
    EXPECT_FALSE(iniBytes().contains("new-Pw-3"));
}
