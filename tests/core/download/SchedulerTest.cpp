#include "core/download/DownloadScheduler.h"

#include "core/download/ListOperations.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;
using Col = DownloadListModel::Column;

namespace {

const QByteArray kPdf = "%PDF-1.4\n" + QByteArray(3000, 'p') + "\n%%EOF";

Route stalled() {
    Route r = Serve(kPdf, "application/pdf");
    r.stallAfterBytes = 100;
    return r;
}

} // namespace

class SchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        timeouts.tickMs = 20;
        timeouts.headerWaitMs = 1500;
        timeouts.stallMs = 1500;
        timeouts.asyncStallMs = 400;
        timeouts.stallCheckMs = 50;
        folder = tmp.path() + QLatin1Char('/');
        options.method = 2;
        options.threadCount = 3;
    }

    int add(const QByteArray& path, const Route& route, const QString& name) {
        server.route(path, route);
        list.addItem(server.url(QString::fromLatin1(path)), name, QStringLiteral("pdf"), folder,
                     QString());
        return list.count() - 1;
    }
    ItemStatus status(int row) const { return list.item(row).status; }
    bool waitFor(const std::function<bool()>& condition, int ms = 5000) {
        return QTest::qWaitFor(condition, ms);
    }
    /// The monotonic clock has moved on since the last download ended.
    void pastInterval() { state.LastFinishMonotonicMs = MonotonicMs() - 1; }

    QTemporaryDir tmp;
    QString folder;
    TestHttpServer server;
    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    DownloadTimeouts timeouts;
    std::unique_ptr<DownloadScheduler> scheduler;
    RecordingMessageBoxes boxes;

    DownloadScheduler& s() {
        if (!scheduler) {
            scheduler = std::make_unique<DownloadScheduler>(list, state, options, timeouts);
            // The bodies here are a PDF signature over filler: these tests are about bytes.
            scheduler->pdfChecks().setAutomatic(false);
        }
        return *scheduler;
    }
};

TEST_F(SchedulerTest, ThreeThreadsTakeTheFirstRowsAndAFreedThreadTakesTheNext) {
    for (int i = 0; i < 10; ++i) {
        const QByteArray path = "/r" + QByteArray::number(i);
        add(path, i == 1 ? Serve(kPdf, "application/pdf") : stalled(),
            QStringLiteral("R%1").arg(i));
    }
    pastInterval();
    s().timerDownTick();
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(status(row), row < 3 ? ItemStatus::Downloading : ItemStatus::Waiting) << row;
    }
    EXPECT_EQ(s().threads().统计下载控件数目(), 4); // member 0 and threads 1 to 3
    EXPECT_EQ(state.ThreadItemIndex[1], 1);
    EXPECT_EQ(state.ThreadItemIndex[2], 2);
    EXPECT_EQ(state.ThreadItemIndex[3], 3);
    EXPECT_TRUE(state.IsDownloading);

    ASSERT_TRUE(waitFor([&] { return status(1) == ItemStatus::Finished; }));
    EXPECT_FALSE(s().threads().IsControlLoaded(2));
    EXPECT_EQ(test::ReadFile(folder + QStringLiteral("R1.pdf")), kPdf);
    QTest::qWait(2);
    s().timerDownTick();
    EXPECT_EQ(status(3), ItemStatus::Downloading);
    EXPECT_EQ(state.ThreadItemIndex[2], 4);
    EXPECT_EQ(status(4), ItemStatus::Waiting);
    s().Stop();
}

TEST_F(SchedulerTest, TheIntervalCountsFromTheEndOfTheLastDownload) {
    add("/a", stalled(), QStringLiteral("A"));
    options.intervalSeconds = 10;
    state.LastFinishMonotonicMs = MonotonicMs() - 9'000;
    s().timerDownTick();
    EXPECT_EQ(status(0), ItemStatus::Waiting);
    state.LastFinishMonotonicMs = MonotonicMs() - 10'001;
    s().timerDownTick();
    EXPECT_EQ(status(0), ItemStatus::Downloading);
    s().Stop();
}

TEST_F(SchedulerTest, ASkippedRowIsPassedOverInTheSameTick) {
    options.policy = DuplicateNamePolicy::Skip;
    options.threadCount = 1;
    add("/a", stalled(), QStringLiteral("Exists"));
    add("/b", stalled(), QStringLiteral("New"));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Exists.pdf"), "mine"));
    pastInterval();
    s().timerDownTick();
    EXPECT_EQ(status(0), ItemStatus::Finished);
    EXPECT_EQ(list.item(0).percent, QStringLiteral("已存在，跳过"));
    EXPECT_EQ(status(1), ItemStatus::Downloading);
    EXPECT_EQ(server.requestCount("/a"), 0);
    EXPECT_EQ(test::ReadFile(folder + QStringLiteral("Exists.pdf")), QByteArray("mine"));
    s().Stop();
}

TEST_F(SchedulerTest, SameNamesInOneTickFollowThePolicy) {
    struct Case {
        DuplicateNamePolicy policy;
        QStringList names;
        QList<ItemStatus> statuses;
    };
    const Case cases[] = {
        {DuplicateNamePolicy::Rename,
         {QStringLiteral("Same"), QStringLiteral("Same[001]"), QStringLiteral("Same[002]")},
         {ItemStatus::Finished, ItemStatus::Finished, ItemStatus::Finished}},
        {DuplicateNamePolicy::Skip,
         {QStringLiteral("Same"), QStringLiteral("Same"), QStringLiteral("Same")},
         {ItemStatus::Finished, ItemStatus::Finished, ItemStatus::Finished}},
        {DuplicateNamePolicy::Overwrite,
         {QStringLiteral("Same"), QStringLiteral("Same"), QStringLiteral("Same")},
         {ItemStatus::Finished, ItemStatus::Finished, ItemStatus::Finished}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        folder = dir.path() + QLatin1Char('/');
        list.clear();
        scheduler.reset();
        options.policy = c.policy;
        for (int i = 0; i < 3; ++i) {
            add("/same" + QByteArray::number(i),
                Serve(kPdf + QByteArray::number(i), "application/pdf"), QStringLiteral("Same"));
        }
        pastInterval();
        s().timerDownTick();
        ASSERT_TRUE(waitFor([&] { return list.检测是否下载列表完毕(); }));
        QStringList names;
        QList<ItemStatus> statuses;
        for (int row = 0; row < 3; ++row) {
            names << list.item(row).name;
            statuses << status(row);
        }
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(statuses, c.statuses);
        if (c.policy == DuplicateNamePolicy::Rename) {
            EXPECT_EQ(test::ReadFile(folder + QStringLiteral("Same[002].pdf")), kPdf + "2");
        } else if (c.policy == DuplicateNamePolicy::Overwrite) {
            // All three write the one file: the last to complete leaves its body there.
            EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("Same.pdf")});
            EXPECT_TRUE(test::ReadFile(folder + QStringLiteral("Same.pdf")).startsWith(kPdf));
        } else {
            EXPECT_EQ(list.item(1).percent, QStringLiteral("已存在，跳过"));
            EXPECT_EQ(test::ReadFile(folder + QStringLiteral("Same.pdf")), kPdf + "0");
        }
    }
}

TEST_F(SchedulerTest, MethodOneRunsTheListOneByOneAndTheMonitorEndsIt) {
    options.method = 1;
    options.sounds = true;
    for (int i = 0; i < 3; ++i) {
        add("/m" + QByteArray::number(i), Serve(kPdf, "application/pdf"),
            QStringLiteral("M%1").arg(i));
    }
    QSignalSpy sounds(&s(), &DownloadScheduler::soundRequested);
    QSignalSpy summaries(&s(), &DownloadScheduler::summaryChanged);
    pastInterval();
    s().StartMonitor();
    s().Start();
    ASSERT_TRUE(waitFor([&] { return !s().isRunning(); }));
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(status(row), ItemStatus::Finished);
    }
    ASSERT_FALSE(sounds.isEmpty());
    EXPECT_EQ(sounds.last()[0].toInt(), 102);
    EXPECT_TRUE(waitFor([&] {
        return !summaries.isEmpty() &&
               summaries.last()[0].toString() ==
                   QStringLiteral("总数:3 正在下载:0 等待:0 已完成:3 失败:0");
    }));
    EXPECT_FALSE(state.IsDownloading);
    s().StopTimers();
}

TEST_F(SchedulerTest, StopDuringMethodOneCancelsAndDeletesThePartialFile) {
    options.method = 1;
    Route drip = Serve(kPdf, "application/pdf");
    drip.dripBytes = 100;
    drip.dripIntervalMs = 40;
    add("/drip", drip, QStringLiteral("D"));
    QSignalSpy cleared(&s(), &DownloadScheduler::automaticOptionsCleared);
    options.autoStart = true;
    QTimer::singleShot(300, [this] { s().Stop(); });
    pastInterval();
    s().timerDownTick(); // returns when the transfer is over
    EXPECT_EQ(status(0), ItemStatus::Failed);
    EXPECT_EQ(list.item(0).size, QStringLiteral("下载取消"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("D.pdf")));
    EXPECT_FALSE(options.autoStart);
    EXPECT_EQ(cleared.size(), 1);
}

TEST_F(SchedulerTest, MonitorTicksDuringAMethodOneTransferDoNotCancelIt) {
    options.method = 1;
    Route drip = Serve(kPdf, "application/pdf");
    drip.dripBytes = 500;
    drip.dripIntervalMs = 20;
    add("/drip", drip, QStringLiteral("D"));
    // The start timer is off (as after the five-failures rule) while the transfer goes on.
    QTimer monitor;
    QObject::connect(&monitor, &QTimer::timeout, &s(), &DownloadScheduler::monitorTick);
    monitor.start(15);
    pastInterval();
    s().timerDownTick();
    monitor.stop();
    EXPECT_EQ(status(0), ItemStatus::Finished);
    EXPECT_EQ(test::ReadFile(folder + QStringLiteral("D.pdf")), kPdf);
}

// Stop takes the placeholders with it: two bytes under the title would be skipped as the paper.
TEST_F(SchedulerTest, StopDuringMethodTwoRemovesThePlaceholderAndSilencesLateNotices) {
    add("/s", stalled(), QStringLiteral("S"));
    pastInterval();
    s().timerDownTick();
    ASSERT_TRUE(waitFor([&] { return server.requestCount("/s") == 1; }));
    s().Stop();
    EXPECT_EQ(status(0), ItemStatus::Failed);
    EXPECT_EQ(s().threads().统计下载控件数目(), 1);
    QTest::qWait(timeouts.asyncStallMs + 200); // a stall notice would have come by now
    EXPECT_EQ(status(0), ItemStatus::Failed);
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("S.pdf")));
    EXPECT_FALSE(list.item(0).createdFile);
}

TEST_F(SchedulerTest, MethodTwoOutcomes) {
    options.maxFileSizeMB = 0.25;
    options.threadCount = 6;
    Route big;
    big.generatedBytes = 1024 * 1024;
    Route bigNoLength = big;
    bigNoLength.sendLength = false;
    Route noLength = Serve(kPdf, "application/pdf");
    noLength.sendLength = false;
    Route shortBody = Serve(kPdf, "application/pdf");
    shortBody.closeAfterBytes = 1000;
    Route resetNoLength = noLength;
    resetNoLength.closeAfterBytes = 0;
    resetNoLength.resetOnClose = true;
    const int b = add("/big", big, QStringLiteral("Big"));
    const int bn = add("/bign", bigNoLength, QStringLiteral("BigN"));
    const int nl = add("/nolen", noLength, QStringLiteral("NoLen"));
    const int sb = add("/short", shortBody, QStringLiteral("Short"));
    const int st = add("/stall", stalled(), QStringLiteral("Stall"));
    const int rn = add("/reset", resetNoLength, QStringLiteral("Reset"));
    pastInterval();
    s().timerDownTick();
    ASSERT_TRUE(waitFor([&] { return list.检测是否下载列表完毕(); }));

    EXPECT_EQ(status(b), ItemStatus::Finished);
    EXPECT_EQ(list.item(b).percent, QStringLiteral("大文件，跳过"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("Big.pdf"))); // no placeholder left
    EXPECT_EQ(status(bn), ItemStatus::Finished);
    EXPECT_EQ(list.item(bn).percent, QStringLiteral("大文件，跳过"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("BigN.pdf")));

    EXPECT_EQ(status(nl), ItemStatus::Finished);
    EXPECT_EQ(list.item(nl).percent, QStringLiteral("100%"));
    EXPECT_EQ(test::ReadFile(folder + QStringLiteral("NoLen.pdf")), kPdf);

    EXPECT_EQ(status(sb), ItemStatus::Failed); // shorter than announced: nothing is kept
    EXPECT_EQ(list.item(sb).size, QStringLiteral("下载失败"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("Short.pdf")));

    EXPECT_EQ(status(st), ItemStatus::Failed); // stalled: "超时", placeholder removed
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("Stall.pdf")));

    EXPECT_EQ(status(rn), ItemStatus::Failed);   // nothing came, twice
    EXPECT_GE(server.requestCount("/reset"), 2); // the read, then the fallback fetch
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("Reset.pdf"))); // no placeholder left
    EXPECT_EQ(s().threads().统计下载控件数目(), 1);
}

TEST_F(SchedulerTest, MonitorAppliesTheAutomaticOptions) {
    options.sounds = true;
    QSignalSpy sounds(&s(), &DownloadScheduler::soundRequested);

    // Automatic start: only waiting rows are work. A finished or failed row with empty progress
    // texts (its file deleted, or failed before any header) once restarted the timer every tick
    // and played the end sound every second.
    add("/x", stalled(), QStringLiteral("X"));
    options.autoStart = true;
    s().monitorTick();
    EXPECT_TRUE(s().isRunning());
    for (const ItemStatus done : {ItemStatus::Failed, ItemStatus::Finished}) {
        list.setStatus(0, done);
        sounds.clear();
        s().monitorTick(); // the list is finished: off, with sound 102
        EXPECT_FALSE(s().isRunning());
        for (int tick = 0; tick < 3; ++tick) {
            s().monitorTick();
        }
        EXPECT_FALSE(s().isRunning());
        EXPECT_EQ(sounds.size(), 1);
        list.setStatus(0, ItemStatus::Waiting);
        s().monitorTick();
        EXPECT_TRUE(s().isRunning());
    }
    s().StopTimers();
    options.autoStart = false;

    // Automatic re-download of failed rows puts them back and starts.
    list.clear();
    list.addItem(QStringLiteral("u1|u2"), QStringLiteral("F"), QStringLiteral("pdf"), folder,
                 QString());
    list.setStatus(0, ItemStatus::Failed);
    list.setText(0, Col::ColSize, QStringLiteral("下载失败"));
    options.autoRedownload = true;
    options.autoRedownloadKind = 0;
    s().monitorTick();
    EXPECT_TRUE(s().isRunning());
    EXPECT_EQ(status(0), ItemStatus::Waiting);
    EXPECT_EQ(list.item(0).key, QStringLiteral("u2|u1"));
    EXPECT_TRUE(list.item(0).size.isEmpty());
    options.autoRedownload = false;

    // Five failures or web pages stop the start timer.
    list.clear();
    for (int i = 0; i < 5; ++i) {
        list.addItem(QStringLiteral("w%1").arg(i), QStringLiteral("W"), QStringLiteral("htm"),
                     folder, QString());
        list.setStatus(i, ItemStatus::Finished);
    }
    list.addItem(QStringLiteral("wait"), QStringLiteral("W"), QStringLiteral("pdf"), folder,
                 QString());
    options.stopAtFiveFailures = true;
    sounds.clear();
    s().monitorTick();
    EXPECT_FALSE(s().isRunning());
    EXPECT_EQ(sounds.size(), 1);
}

TEST_F(SchedulerTest, BusyThreadsKeepTheFlagAfterTheTimerStops) {
    add("/s", stalled(), QStringLiteral("S"));
    pastInterval();
    s().Start();
    s().timerDownTick();
    options.stopAtFiveFailures = true;
    for (int i = 0; i < 5; ++i) {
        list.addItem(QStringLiteral("f%1").arg(i), QStringLiteral("F"), QStringLiteral("pdf"),
                     folder, QString());
        list.setStatus(i + 1, ItemStatus::Failed);
    }
    s().monitorTick();
    EXPECT_FALSE(s().isRunning());
    EXPECT_TRUE(state.IsDownloading); // row 1 still downloads on thread 1
    s().Stop();
    s().monitorTick();
    EXPECT_FALSE(state.IsDownloading);
}

TEST_F(SchedulerTest, CancelSelectedIsRefusedWhileDownloading) {
    add("/a", stalled(), QStringLiteral("A"));
    add("/b", stalled(), QStringLiteral("B"));
    list.setSelected(0, true);
    state.IsDownloading = true;
    s().CancelSelected();
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("停止下载后方可设置！")});
    EXPECT_EQ(status(0), ItemStatus::Waiting);
    state.IsDownloading = false;
    s().CancelSelected();
    EXPECT_EQ(status(0), ItemStatus::Failed);
    EXPECT_EQ(status(1), ItemStatus::Waiting);
    EXPECT_EQ(list.统计未下载项数目(), 2);
}

TEST_F(SchedulerTest, MemberZeroNeverChangesAnything) {
    add("/a", stalled(), QStringLiteral("A"));
    Downloader* zero = s().threads().member(0);
    ASSERT_NE(zero, nullptr);
    Q_EMIT zero->DownloadError(QStringLiteral("超时"), QString());
    Q_EMIT zero->DownloadComplete(5, 5, QString());
    EXPECT_EQ(status(0), ItemStatus::Waiting);
}

// A re-download keeps the row's own file until a whole new body replaces it: it is marked as the
// file to replace, never deleted on the spot.
TEST(RedownloadOperations, ResetKeepAndRotate) {
    QTemporaryDir tmp;
    const QString folder = tmp.path() + QLatin1Char('/');
    DownloadListModel list;
    list.addItem(QStringLiteral("a|b|c"), QStringLiteral("Page"), QStringLiteral("HTM"), folder,
                 QString());
    list.addItem(QStringLiteral("d"), QStringLiteral("Doc"), QStringLiteral("pdf"), folder,
                 QString());
    list.addItem(QStringLiteral("e"), QStringLiteral("Xml"), QStringLiteral("xml"), folder,
                 QString());
    list.addItem(QStringLiteral("f"), QStringLiteral("Wait"), QStringLiteral("htm"), folder,
                 QString());
    list.setStatus(0, ItemStatus::Finished);
    list.setStatus(1, ItemStatus::Failed);
    list.setStatus(2, ItemStatus::Finished);
    list.setText(0, Col::ColPercent, QStringLiteral("100%"));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Page.HTM"), "<html>"));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Doc.pdf"), "\x01"));
    // The rows stored these files themselves: only such a file is removed on a re-download.
    list.setCreatedFile(0, true);
    list.setCreatedFile(1, true);

    EXPECT_EQ(menu重新下载出错项(list), 1);
    EXPECT_EQ(list.item(1).status, ItemStatus::Waiting);
    EXPECT_EQ(test::ReadFile(folder + QStringLiteral("Doc.pdf")), QByteArray("\x01"));
    EXPECT_EQ(list.item(1).replacesPath, folder + QStringLiteral("Doc.pdf"));
    EXPECT_EQ(list.item(1).type, QStringLiteral("pdf"));

    EXPECT_EQ(menu重新下载文件类型为HTM和HTML项(list), 2);
    EXPECT_EQ(list.item(0).status, ItemStatus::Waiting);
    EXPECT_EQ(list.item(0).type, QStringLiteral("xxx"));
    EXPECT_EQ(list.item(0).key, QStringLiteral("c|a|b"));
    EXPECT_TRUE(list.item(0).percent.isEmpty());
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("Page.HTM")));
    EXPECT_EQ(list.item(0).replacesPath, folder + QStringLiteral("Page.HTM"));
    EXPECT_TRUE(list.item(2).replacesPath.isEmpty()); // not its file: nothing to replace
    EXPECT_EQ(list.item(2).type, QStringLiteral("xxx"));
    EXPECT_EQ(list.item(3).status, ItemStatus::Waiting); // waiting rows are never reset
    EXPECT_EQ(list.item(3).type, QStringLiteral("htm"));
}

// A thread that finishes takes the next item at once: with a start timer that never fires
// during the test, one tick is enough for the whole list under either method.
TEST_F(SchedulerTest, AFreedThreadTakesTheNextItemWithoutWaitingForTheTick) {
    timeouts.tickMs = 600'000;
    for (const int method : {2, 1}) {
        SCOPED_TRACE(method);
        options.method = method;
        options.threadCount = 3;
        scheduler.reset();
        list.clear();
        for (int i = 0; i < 9; ++i) {
            add("/m" + QByteArray::number(method) + "f" + QByteArray::number(i),
                Serve(kPdf, "application/pdf"), QStringLiteral("M%1F%2").arg(method).arg(i));
        }
        s().Start();
        pastInterval();
        s().timerDownTick(); // the only tick: the timer's own comes after ten minutes
        ASSERT_TRUE(waitFor([&] { return list.statusCounts().finished == 9; }))
            << list.summaryText().toStdString();
        s().Stop();
    }
}
