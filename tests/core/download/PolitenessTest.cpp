// A server that pushes back: "come back later" answers pause the server and keep nothing, a
// server that answered 429 gets one transfer at a time, and automatic re-download waits longer
// each time and gives up after five attempts. The pause clock is a fake one the test moves.

#include "TestHttpServer.h"
#include "TestSupport.h"
#include "core/download/DownloadScheduler.h"
#include "core/download/ListOperations.h"
#include "core/download/ServerPauses.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

const QByteArray kPdf = "%PDF-1.4\n" + QByteArray(5000, 'q') + "\n%%EOF";
constexpr qint64 kStart = 1'796'904'000'000; // 2026-12-10 12:00:00 UTC

Route refusal(int status, const QByteArray& retryAfter) {
    Route r = Serve("<html><body>slow down</body></html>", "text/html");
    r.status = status;
    r.reason = "Refused";
    if (!retryAfter.isNull()) {
        r.headers.append({"Retry-After", retryAfter});
    }
    return r;
}

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

class PolitenessTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPauseClock([this] { return now; }, [] { return 0.5; });
        timeouts.tickMs = 20;
        timeouts.headerWaitMs = 3000;
        timeouts.asyncStallMs = 3000;
        timeouts.stallCheckMs = 50;
        folder = tmp.path() + QLatin1Char('/');
        options.threadCount = 3;
    }
    void TearDown() override { SetPauseClock({}); }

    int add(TestHttpServer& on, const QByteArray& path, const QString& name) {
        list.addItem(on.url(QString::fromLatin1(path)), name, QStringLiteral("pdf"), folder,
                     QString());
        return list.count() - 1;
    }
    DownloadScheduler& s() {
        if (!scheduler) {
            scheduler = std::make_unique<DownloadScheduler>(list, state, options, timeouts);
            // The bodies here are a PDF signature over filler: these tests are about bytes.
            scheduler->pdfChecks().setAutomatic(false);
        }
        return *scheduler;
    }
    /// One start-timer tick past the interval.
    void tick() {
        state.LastFinishMonotonicMs = MonotonicMs() - 1;
        s().timerDownTick();
    }
    bool settled() {
        for (int k = 1; k <= ParallelDownloads::kMaxThreads; ++k) {
            if (s().threads().IsControlLoaded(k)) {
                return false;
            }
        }
        return !s().inet().StillExecuting();
    }
    QStringList files() const {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    qint64 now = kStart;
    QTemporaryDir tmp;
    QString folder;
    TestHttpServer server;
    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    DownloadTimeouts timeouts;
    std::unique_ptr<DownloadScheduler> scheduler;
    RecordingMessageBoxes boxes;
};

// Each "come back later" answer, under each method: the row waits with nothing stored, nothing
// is sent before the wait is over, and after it the paper arrives whole.
TEST_F(PolitenessTest, ComeBackLaterAnswersKeepNothingAndWaitTheirTime) {
    struct Case {
        const char* what;
        Route answer;
        qint64 waitMs;
    };
    const Case cases[] = {
        {"429 without Retry-After", refusal(429, QByteArray()), 30'000},
        {"429 with seconds", refusal(429, "7"), 7'000},
        {"503 without Retry-After", refusal(503, QByteArray()), 10'000},
        {"500 with an HTTP date", refusal(500, "Thu, 10 Dec 2026 12:00:20 GMT"), 20'000},
        {"502 with Retry-After", refusal(502, "3"), 3'000},
    };
    int n = 0;
    for (const int method : {1, 2}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", method " + std::to_string(method));
            options.method = method;
            now = kStart;
            scheduler.reset(); // a fresh list of server pauses
            list.clear();
            folder = tmp.path() + QStringLiteral("/case%1/").arg(n + 1); // made by the engine
            const QByteArray path = "/p" + QByteArray::number(++n);
            server.routeSequence(path, {c.answer, Serve(kPdf, "application/pdf")});
            const int row = add(server, path, QStringLiteral("Paper%1").arg(n));

            tick();
            ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
            EXPECT_EQ(list.item(row).status, ItemStatus::Waiting);
            EXPECT_EQ(list.item(row).percent, QStringLiteral("等待服务器"));
            EXPECT_EQ(list.item(row).notBefore, kStart + c.waitMs);
            EXPECT_TRUE(QTest::qWaitFor([&] { return files().isEmpty(); }, 3000))
                << files().join(QLatin1Char(',')).toStdString();

            now = kStart + c.waitMs - 1; // still inside the wait: nothing goes out
            for (int i = 0; i < 3; ++i) {
                tick();
            }
            EXPECT_EQ(server.requestCount(path), 1);

            now = kStart + c.waitMs;
            tick();
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return list.item(row).status == ItemStatus::Finished && settled(); }, 5000));
            EXPECT_EQ(server.requestCount(path), 2);
            EXPECT_EQ(sha256(ReadFile(folder + QStringLiteral("Paper%1.pdf").arg(n))),
                      sha256(kPdf));
        }
    }
}

// The whole server pauses, and only that server: another port is another server.
TEST_F(PolitenessTest, OnlyTheServerThatAskedPauses) {
    options.method = 2;
    TestHttpServer other;
    server.routeSequence("/a1", {refusal(429, "60"), Serve(kPdf, "application/pdf")});
    server.route("/a2", Serve(kPdf, "application/pdf"));
    other.route("/b1", Serve(kPdf, "application/pdf"));
    other.route("/b2", Serve(kPdf, "application/pdf"));
    const int a1 = add(server, "/a1", QStringLiteral("A1"));
    add(server, "/a2", QStringLiteral("A2"));
    const int b1 = add(other, "/b1", QStringLiteral("B1"));
    const int b2 = add(other, "/b2", QStringLiteral("B2"));
    options.threadCount = 1;
    tick(); // A1 alone: refused
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    ASSERT_EQ(list.item(a1).status, ItemStatus::Waiting);
    options.threadCount = 3;
    for (int i = 0; i < 20 && list.item(b2).status != ItemStatus::Finished; ++i) {
        tick();
        QTest::qWait(30);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    EXPECT_EQ(list.item(b1).status, ItemStatus::Finished);
    EXPECT_EQ(list.item(b2).status, ItemStatus::Finished);
    EXPECT_EQ(server.requestCount("/a2"), 0); // the paused server got nothing new
    EXPECT_EQ(server.requestCount("/a1"), 1);

    // Status panel 3 counts the pause down.
    QSignalSpy texts(&s(), &DownloadScheduler::statusPanelText);
    now += 15'000;
    tick();
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_EQ(texts.last().at(1).toString(), QStringLiteral("服务器要求暂停下载，还需45秒"));
}

TEST_F(PolitenessTest, AWaitOverFifteenMinutesFailsTheRowWithoutPausingTheServer) {
    for (const int method : {1, 2}) {
        options.method = method;
        list.clear();
        scheduler.reset();
        server.route("/long", refusal(503, "901"));
        const int row = add(server, "/long", QStringLiteral("Long"));
        tick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
        EXPECT_EQ(list.item(row).status, ItemStatus::Failed) << method;
        EXPECT_EQ(list.item(row).reason,
                  QStringLiteral("服务器要求等待16分钟，超过15分钟，已放弃"));
        EXPECT_FALSE(s().pauses().isPaused(OriginOf(QUrl(server.url(QStringLiteral("/")))), now));
        EXPECT_TRUE(QTest::qWaitFor([&] { return files().isEmpty(); }, 3000));
    }
}

// After a 429, one transfer at a time to that server until ten downloads from it succeeded in a
// row; then the user's thread count again.
TEST_F(PolitenessTest, AfterTooManyRequestsOneTransferAtATimeUntilTenSucceed) {
    options.method = 2;
    options.threadCount = 3;
    Route slow = Serve(kPdf, "application/pdf");
    slow.delayHeadersMs = 150;
    server.routeSequence("/first", {refusal(429, "1"), slow});
    add(server, "/first", QStringLiteral("First"));
    for (int i = 0; i < 14; ++i) {
        const QByteArray path = "/n" + QByteArray::number(i);
        server.route(path, slow);
        add(server, path, QStringLiteral("N%1").arg(i));
    }
    options.threadCount = 1;
    tick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    options.threadCount = 3;
    now += 1'000;

    int finishedBefore = 0;
    int mostAtOnce = 0;
    int mostAtOnceLater = 0;
    for (int guard = 0; guard < 400 && !list.检测是否下载列表完毕(); ++guard) {
        tick();
        int running = 0;
        for (int k = 1; k <= ParallelDownloads::kMaxThreads; ++k) {
            running += s().threads().IsControlLoaded(k) ? 1 : 0;
        }
        if (finishedBefore < 10) {
            mostAtOnce = std::max(mostAtOnce, running);
        } else {
            mostAtOnceLater = std::max(mostAtOnceLater, running);
        }
        QTest::qWait(20);
        finishedBefore = list.statusCounts().finished;
    }
    ASSERT_TRUE(list.检测是否下载列表完毕());
    EXPECT_EQ(list.statusCounts().finished, 15);
    EXPECT_EQ(mostAtOnce, 1);
    EXPECT_GT(mostAtOnceLater, 1);
}

// A row that keeps failing: five automatic attempts, 5 s, 10 s, 20 s, 40 s and 80 s after each
// failure, one request each, then it stays failed with its reason. The user's request acts at
// once and starts the count again.
TEST_F(PolitenessTest, AutomaticRedownloadBacksOffAndStopsAfterFiveAttempts) {
    options.method = 2;
    options.autoRedownload = true;
    options.autoRedownloadKind = static_cast<int>(AutoRedownloadKind::Failed);
    Route gone = Serve("<html>gone</html>", "text/html");
    gone.status = 404;
    server.route("/gone", gone);
    const int row = add(server, "/gone", QStringLiteral("Gone"));
    s().Start();
    tick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    ASSERT_EQ(list.item(row).status, ItemStatus::Failed);

    const qint64 steps[] = {5'000, 10'000, 20'000, 40'000, 80'000};
    for (int attempt = 1; attempt <= 5; ++attempt) {
        SCOPED_TRACE(attempt);
        s().StopTimers(); // the monitor re-queues only while the start timer is off
        s().monitorTick();
        ASSERT_EQ(list.item(row).status, ItemStatus::Waiting);
        EXPECT_EQ(list.item(row).autoAttempts, attempt);
        EXPECT_EQ(list.item(row).notBefore, now + steps[attempt - 1]);
        EXPECT_EQ(list.item(row).percent, QStringLiteral("等待重新下载"));
        for (int i = 0; i < 5; ++i) {
            tick(); // inside the wait: nothing is sent
        }
        EXPECT_EQ(server.requestCount("/gone"), attempt);
        now += steps[attempt - 1];
        tick();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return list.item(row).status == ItemStatus::Failed && settled(); }, 5000));
        EXPECT_EQ(server.requestCount("/gone"), attempt + 1);
    }
    s().StopTimers();
    for (int i = 0; i < 5; ++i) {
        s().monitorTick();
        now += 3'600'000;
        tick();
    }
    EXPECT_EQ(list.item(row).status, ItemStatus::Failed);
    EXPECT_EQ(list.item(row).reason, QStringLiteral("服务器返回404"));
    EXPECT_EQ(server.requestCount("/gone"), 6);
    EXPECT_FALSE(s().isRunning()); // nothing left to start: the timer is not switched on again

    EXPECT_EQ(menu重新下载出错项(list), 1);
    EXPECT_EQ(list.item(row).autoAttempts, 0);
    EXPECT_EQ(list.item(row).notBefore, 0);
    tick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    EXPECT_EQ(server.requestCount("/gone"), 7);
}

// A session that expires: rows come back as the login page. One login serves the whole list,
// the rows that met the page go again after it, and a failed login stops the run instead of
// looping.
class LoginOnceTest : public PolitenessTest {
protected:
    void SetUp() override {
        PolitenessTest::SetUp();
        options.method = 2;
        options.threadCount = 3;
        options.autoLogin = true;
        server.setResolver([this](const ReceivedRequest& request) -> std::optional<Route> {
            if (!request.path.startsWith("/doc")) {
                return std::nullopt;
            }
            return loggedIn ? Serve(pdfFor(request.path), "application/pdf")
                            : Serve(kLoginPage, "text/html");
        });
        for (int i = 0; i < 9; ++i) {
            add(server, "/doc" + QByteArray::number(i), QStringLiteral("Doc%1").arg(i));
        }
        QObject::connect(&s(), &DownloadScheduler::autoLoginRequested, &s(), [this] {
            ++logins;
            QTimer::singleShot(100, &s(), [this] {
                loggedIn = loginWorks;
                if (settleMs > 0) {
                    // The form is sent; the panel lets the page settle before it judges it.
                    s().loginSent();
                }
                QTimer::singleShot(settleMs, &s(), [this] {
                    s().loginEnded(loginWorks,
                                   loginWorks ? QStringLiteral("登录成功")
                                              : QStringLiteral("登录失败：页面仍要求输入密码"));
                });
            });
        });
    }
    static QByteArray pdfFor(const QByteArray& path) { return kPdf + path; }
    int docRequests() const {
        int n = 0;
        for (const ReceivedRequest& r : server.requests()) {
            n += r.path.startsWith("/doc") ? 1 : 0;
        }
        return n;
    }
    void runFor(const std::function<bool()>& done) {
        for (int guard = 0; guard < 300 && !done(); ++guard) {
            tick();
            QTest::qWait(20);
        }
    }

    static inline const QByteArray kLoginPage =
        "<html><body><form><input name=\"user\"><input type=\"password\" name=\"pass\">"
        "</form></body></html>";
    bool loggedIn = false;
    bool loginWorks = true;
    int logins = 0;
    int settleMs = 0; ///< 0: the login says nothing between its start and its end
};

TEST_F(LoginOnceTest, OneLoginServesTheWholeListAndEveryPaperArrives) {
    s().Start();
    runFor([&] { return list.检测是否下载列表完毕() && list.statusCounts().finished == 9; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    EXPECT_EQ(logins, 1);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(list.item(i).status, ItemStatus::Finished) << i;
        EXPECT_EQ(list.item(i).type, QStringLiteral("pdf")) << i;
        EXPECT_EQ(sha256(ReadFile(folder + QStringLiteral("Doc%1.pdf").arg(i))),
                  sha256(pdfFor("/doc" + QByteArray::number(i))))
            << i;
    }
    // The rows in flight when the session was found gone met the page once; the rest never.
    EXPECT_LE(docRequests(), 9 + 3);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QDir(folder).entryList({QStringLiteral("*.htm")}, QDir::Files).isEmpty(); },
        3000));
}

// Once the login has sent its form, the rows need not sit out the panel's closing pause: the
// session is there.
TEST_F(LoginOnceTest, RowsGoAgainOnceTheFormIsSentNotAfterThePause) {
    settleMs = 60'000;
    s().Start();
    runFor([&] { return list.statusCounts().finished == 9 && settled(); });
    EXPECT_EQ(logins, 1);
    EXPECT_TRUE(s().loginRunning()); // still in its pause
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(list.item(i).type, QStringLiteral("pdf")) << i;
    }
    EXPECT_LE(docRequests(), 9 + 3);
}

// The session lapses again after the first login had served the list: the rows asked for
// again get a login of their own and end as PDFs, not as pages nor with the run stopped.
TEST_F(LoginOnceTest, ALaterLapseGetsALoginOfItsOwn) {
    s().Start();
    runFor([&] { return list.检测是否下载列表完毕() && list.statusCounts().finished == 9; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    ASSERT_EQ(logins, 1);
    loggedIn = false; // the session has lapsed meanwhile
    list.selectAll();
    ASSERT_EQ(menu重新下载选中项(list), 9);
    QSignalSpy texts(&s(), &DownloadScheduler::statusPanelText);
    s().Start();
    runFor([&] { return list.检测是否下载列表完毕() && list.statusCounts().finished == 9; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    EXPECT_EQ(logins, 2);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(list.item(i).type, QStringLiteral("pdf")) << i;
        EXPECT_EQ(sha256(ReadFile(folder + QStringLiteral("Doc%1.pdf").arg(i))),
                  sha256(pdfFor("/doc" + QByteArray::number(i))))
            << i;
    }
    for (const auto& args : texts) {
        EXPECT_NE(args.at(1).toString(), QStringLiteral("自动登录后仍收到登录页面，已停止下载"));
    }
}

TEST_F(LoginOnceTest, AFailedLoginStopsTheRunWithThePanelsWords) {
    loginWorks = false;
    QSignalSpy texts(&s(), &DownloadScheduler::statusPanelText);
    s().Start();
    runFor([&] { return logins > 0 && !s().loginRunning() && settled(); });
    EXPECT_EQ(logins, 1);
    EXPECT_FALSE(s().isRunning());
    bool said = false;
    for (const auto& args : texts) {
        said = said || args.at(1).toString() == QStringLiteral("登录失败：页面仍要求输入密码");
    }
    EXPECT_TRUE(said);
    // No loop: the monitor with automatic options does not start it again.
    const int requests = docRequests();
    for (int i = 0; i < 5; ++i) {
        s().monitorTick();
        QTest::qWait(20);
    }
    EXPECT_FALSE(s().isRunning());
    EXPECT_EQ(docRequests(), requests);
    EXPECT_EQ(logins, 1);
}

TEST_F(LoginOnceTest, PagesEvenAfterALoginStopTheRunInsteadOfLoggingInAgain) {
    // The login says it worked, but the site still answers with its login page.
    server.setResolver([](const ReceivedRequest& request) -> std::optional<Route> {
        if (!request.path.startsWith("/doc")) {
            return std::nullopt;
        }
        return Serve(kLoginPage, "text/html");
    });
    QSignalSpy texts(&s(), &DownloadScheduler::statusPanelText);
    s().Start();
    runFor([&] { return logins > 0 && !s().isRunning() && settled(); });
    EXPECT_EQ(logins, 1);
    EXPECT_FALSE(s().isRunning());
    bool said = false;
    for (const auto& args : texts) {
        said =
            said || args.at(1).toString() == QStringLiteral("自动登录后仍收到登录页面，已停止下载");
    }
    EXPECT_TRUE(said);
    EXPECT_LE(docRequests(), 9 + 3 + 3);
}

} // namespace
