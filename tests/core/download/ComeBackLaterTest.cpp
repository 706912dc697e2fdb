// A server that keeps saying "come back later": each wait of a row is at least a second and at
// least twice its last one (the server's longer wait wins), and after ten such answers, or when
// the row would wait more than an hour in all, the row fails with its reason. 404 and 410 are
// final whatever headers come with them. The pause clock is a fake one the test moves, so the
// counts below are of requests per stretch of that clock.

#include "TestHttpServer.h"
#include "TestSupport.h"
#include "core/download/DownloadScheduler.h"
#include "core/download/ListOperations.h"
#include "core/download/ServerPauses.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

using namespace quillax;
using namespace quillax::test;

namespace {

const QByteArray kPdf = "%PDF-1.4\n" + QByteArray(4000, 'c') + "\n%%EOF";
constexpr qint64 kStart = 1'796'904'000'000; // 2026-12-10 12:00:00 UTC
const QString kGaveUp = QStringLiteral("服务器多次要求稍后再试，已放弃");

Route refusal(int status, const QByteArray& retryAfter) {
    Route r = Serve("<html><body>later</body></html>", "text/html");
    r.status = status;
    r.reason = "Later";
    if (!retryAfter.isNull()) {
        r.headers.append({"Retry-After", retryAfter});
    }
    return r;
}

class ComeBackLaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPauseClock([this] { return now; }, [] { return 0.5; });
        timeouts.tickMs = 20;
        timeouts.headerWaitMs = 3000;
        timeouts.asyncStallMs = 3000;
        timeouts.stallCheckMs = 50;
        options.threadCount = 3;
    }
    void TearDown() override { SetPauseClock({}); }

    /// A fresh list, scheduler and folder for one case under `method`.
    int fresh(int method, const QByteArray& path, const Route& answer) {
        if (scheduler) {
            scheduler->StopTimers();
        }
        scheduler.reset();
        list.clear();
        options.method = method;
        now = kStart;
        server.route(path, answer);
        const QString folder = tmp.path() + QStringLiteral("/case%1/").arg(++cases);
        list.addItem(server.url(QString::fromLatin1(path)), QStringLiteral("Paper"),
                     QStringLiteral("pdf"), folder, QString());
        return list.count() - 1;
    }
    DownloadScheduler& s() {
        if (!scheduler) {
            scheduler = std::make_unique<DownloadScheduler>(list, state, options, timeouts);
            scheduler->pdfChecks().setAutomatic(false);
        }
        return *scheduler;
    }
    bool settled() {
        for (int k = 1; k <= ParallelDownloads::kMaxThreads; ++k) {
            if (s().threads().IsControlLoaded(k)) {
                return false;
            }
        }
        return !s().inet().StillExecuting();
    }
    /// One start-timer tick past the interval, and whatever it sent has been answered.
    void step() {
        state.LastFinishMonotonicMs = MonotonicMs() - 1;
        s().timerDownTick();
        ASSERT_TRUE(QTest::qWaitFor([&] { return settled(); }, 5000));
    }
    /// Sends the row each time its wait is over until it no longer waits (at most `most`
    /// times); returns the waits it was given, in order.
    std::vector<qint64> waitsUntilSettled(int row, int most) {
        std::vector<qint64> waits;
        for (int i = 0; i < most && list.item(row).status == ItemStatus::Waiting; ++i) {
            now = std::max(now, list.item(row).notBefore);
            step();
            if (list.item(row).status == ItemStatus::Waiting) {
                waits.push_back(list.item(row).notBefore - now);
            }
        }
        return waits;
    }

    qint64 now = kStart;
    int cases = 0;
    QTemporaryDir tmp;
    TestHttpServer server;
    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    DownloadTimeouts timeouts;
    std::unique_ptr<DownloadScheduler> scheduler;
    RecordingMessageBoxes boxes;
};

// "Come back at once" in its three spellings: the row is never sent again at round-trip speed.
// In 30 s of the pause clock, with the start timer running, the waits of 1, 2, 4 and 8 s leave
// room for five requests (at 0, 1, 3, 7 and 15 s); the waits go on doubling and the tenth answer
// fails the row.
TEST_F(ComeBackLaterTest, AZeroWaitIsNeverATightLoop) {
    struct Case {
        const char* what;
        Route answer;
    };
    const Case answers[] = {
        {"503, Retry-After: 0", refusal(503, "0")},
        {"503, a date in the past", refusal(503, "Wed, 09 Dec 2026 12:00:00 GMT")},
        {"503, the server's own now", refusal(503, "Thu, 10 Dec 2026 12:00:00 GMT")},
        {"429, Retry-After: 0", refusal(429, "0")},
    };
    int n = 0;
    for (const int method : {1, 2}) {
        for (const Case& c : answers) {
            SCOPED_TRACE(std::string(c.what) + ", method " + std::to_string(method));
            const QByteArray path = "/z" + QByteArray::number(++n);
            const int row = fresh(method, path, c.answer);
            s().Start();
            for (; now < kStart + 30'000; now += 100) {
                step();
                QTest::qWait(1); // the timers run meanwhile
            }
            EXPECT_EQ(server.requestCount(path), 5);
            EXPECT_EQ(list.item(row).status, ItemStatus::Waiting);

            const std::vector<qint64> later = waitsUntilSettled(row, 20);
            EXPECT_EQ(later, (std::vector<qint64>{32'000, 64'000, 128'000, 256'000}));
            EXPECT_EQ(server.requestCount(path), 10);
            EXPECT_EQ(list.item(row).status, ItemStatus::Failed);
            EXPECT_EQ(list.item(row).reason, kGaveUp);
            EXPECT_EQ(list.item(row).size, QStringLiteral("下载失败"));
            s().StopTimers();
        }
    }
}

// Waits that are not zero double as well, the server's longer one wins, and the row gives up
// before its waiting would pass an hour in all.
TEST_F(ComeBackLaterTest, RepeatedWaitsDoubleAndEndWithinTheHour) {
    struct Case {
        const char* what;
        QList<Route> answers; ///< the last one repeats
        std::vector<qint64> waits;
        int requests;
    };
    const Case cases[] = {
        {"503 without Retry-After, for good",
         {refusal(503, QByteArray())},
         {10'000, 20'000, 40'000, 80'000, 160'000, 320'000, 640'000, 1'280'000},
         9},
        {"the server's longer wait wins",
         {refusal(503, "0"), refusal(503, "0"), refusal(503, "30"), refusal(503, "0")},
         {1'000, 2'000, 30'000, 60'000, 120'000, 240'000, 480'000, 960'000},
         9},
        {"502 asking for 15 minutes each time", {refusal(502, "900")}, {900'000, 1'800'000}, 3},
    };
    int n = 0;
    for (const int method : {1, 2}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", method " + std::to_string(method));
            const QByteArray path = "/w" + QByteArray::number(++n);
            const int row = fresh(method, path, c.answers.first());
            server.routeSequence(path, c.answers);
            EXPECT_EQ(waitsUntilSettled(row, 20), c.waits);
            EXPECT_EQ(server.requestCount(path), c.requests);
            EXPECT_EQ(list.item(row).status, ItemStatus::Failed);
            EXPECT_EQ(list.item(row).reason, kGaveUp);
        }
    }
}

// 404 and 410 say the file is not there: the row fails at once, whatever Retry-After says.
TEST_F(ComeBackLaterTest, NotFoundAndGoneAreFinalEvenWithRetryAfter) {
    int n = 0;
    for (const int method : {1, 2}) {
        for (const int status : {404, 410}) {
            SCOPED_TRACE(std::to_string(status) + ", method " + std::to_string(method));
            const QByteArray path = "/g" + QByteArray::number(++n);
            const int row = fresh(method, path, refusal(status, "3"));
            step();
            EXPECT_EQ(list.item(row).status, ItemStatus::Failed);
            EXPECT_EQ(list.item(row).reason, QStringLiteral("服务器返回%1").arg(status));
            EXPECT_FALSE(
                s().pauses().isPaused(OriginOf(QUrl(server.url(QStringLiteral("/")))), now));
            now += 60'000;
            for (int i = 0; i < 3; ++i) {
                step();
            }
            EXPECT_EQ(server.requestCount(path), 1);
        }
    }
}

// The count is the row's: an automatic re-download does not start it again (one request, and
// the row fails at once), the user's request does (the first wait is a second again).
TEST_F(ComeBackLaterTest, OnlyTheUsersRequestStartsTheCountAgain) {
    for (const int method : {1, 2}) {
        SCOPED_TRACE(method);
        const QByteArray path = "/u" + QByteArray::number(method);
        bool document = false;
        const int row = fresh(method, path, refusal(503, "0"));
        server.setResolver([&](const ReceivedRequest& request) -> std::optional<Route> {
            if (request.path == path && document) {
                return Serve(kPdf, "application/pdf");
            }
            return std::nullopt;
        });
        waitsUntilSettled(row, 20);
        ASSERT_EQ(list.item(row).status, ItemStatus::Failed);
        ASSERT_EQ(server.requestCount(path), 10);

        options.autoRedownload = true;
        options.autoRedownloadKind = static_cast<int>(AutoRedownloadKind::Failed);
        s().monitorTick();
        ASSERT_EQ(list.item(row).status, ItemStatus::Waiting);
        EXPECT_EQ(list.item(row).autoAttempts, 1);
        now = list.item(row).notBefore;
        step();
        EXPECT_EQ(server.requestCount(path), 11);
        EXPECT_EQ(list.item(row).status, ItemStatus::Failed);
        EXPECT_EQ(list.item(row).reason, kGaveUp);
        s().StopTimers();
        options.autoRedownload = false;

        EXPECT_EQ(menu重新下载出错项(list), 1);
        now += 1'000; // the server's own pause: its "0" counts as a second
        step();
        EXPECT_EQ(server.requestCount(path), 12);
        EXPECT_EQ(list.item(row).status, ItemStatus::Waiting);
        EXPECT_EQ(list.item(row).notBefore, now + 1'000);
        EXPECT_EQ(list.item(row).comeBack.answers, 1);

        // A document ends the row's run of refusals.
        document = true;
        now = list.item(row).notBefore;
        step();
        EXPECT_EQ(server.requestCount(path), 13);
        EXPECT_EQ(list.item(row).status, ItemStatus::Finished);
        EXPECT_EQ(list.item(row).comeBack, ComeBackStreak{});
        server.setResolver({});
    }
}

} // namespace
