// Faults that lose or corrupt a user's file while the list shows success, or stop the queue:
// each case drives the engines against the local server and checks the rows and the exact
// bytes left on disk.

#include "core/download/DownloadScheduler.h"
#include "core/download/ListOperations.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QCryptographicHash>
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

QByteArray hashOf(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray fileHash(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? hashOf(f.readAll()) : QByteArray("missing");
}

/// A body of `size` bytes that differs from any other `seed`'s at every position.
QByteArray body(qsizetype size, char seed) {
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        b[i] = static_cast<char>(seed + (i % 7) * 13);
    }
    return b;
}

Route pdf(const QByteArray& bytes) {
    return Serve(bytes, "application/pdf");
}

} // namespace

class EngineFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        timeouts.tickMs = 20;
        timeouts.headerWaitMs = 1500;
        timeouts.stallMs = 1500;
        timeouts.asyncStallMs = 1500;
        timeouts.stallCheckMs = 50;
        timeouts.fallbackWaitMs = 3000;
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
    void pastInterval() { state.LastFinishMonotonicMs = MonotonicMs() - 1; }
    /// Runs the start timer and the monitor until every row has ended.
    bool runToEnd(int ms = 10000) {
        pastInterval();
        s().StartMonitor();
        s().Start();
        const bool done = QTest::qWaitFor([&] { return list.检测是否下载列表完毕(); }, ms);
        s().StopTimers();
        return done;
    }
    QStringList filesIn(const QString& dir) const {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

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

// Two same-title rows under 覆盖 write one path at the same time: the one that completes last
// leaves its whole body there, and nothing of the other is mixed in.
TEST_F(EngineFaultsTest, SameNameBodiesUnderOverwriteNeverMix) {
    options.policy = DuplicateNamePolicy::Overwrite;
    const QByteArray big = body(3 * 1024 * 1024, 'A');
    const QByteArray small = body(1024 * 1024, 'b');
    Route slow = pdf(big);
    slow.dripBytes = 256 * 1024;
    slow.dripIntervalMs = 40; // about half a second: the small body completes meanwhile
    const int first = add("/big", slow, QStringLiteral("Editorial"));
    const int second = add("/small", pdf(small), QStringLiteral("Editorial"));
    ASSERT_TRUE(runToEnd());
    for (int row : {first, second}) {
        EXPECT_EQ(status(row), ItemStatus::Finished) << row;
        EXPECT_EQ(list.item(row).percent, QStringLiteral("100%")) << row;
    }
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("Editorial.pdf")});
    EXPECT_EQ(fileHash(folder + QStringLiteral("Editorial.pdf")), hashOf(big));
}

// A body that cannot be stored under method 2 is a failure, not 已完成 100 %.
TEST_F(EngineFaultsTest, AFailedStoreUnderMethodTwoFailsTheRow) {
    struct Case {
        const char* what;
        std::function<QString(const QString& dir)> prepare; ///< returns the path to save to
        std::function<void(const QString& dir)> during;     ///< runs once bytes arrive
    };
    const Case cases[] = {
        {"a folder where the file should go",
         [](const QString& dir) {
             QDir(dir).mkpath(QStringLiteral("Paper.pdf"));
             return dir + QStringLiteral("/Paper.pdf");
         },
         [](const QString&) {}},
        {"the folder vanishes while the body arrives",
         [](const QString& dir) {
             QDir(dir).mkpath(QStringLiteral("sub"));
             return dir + QStringLiteral("/sub/Paper.pdf");
         },
         [](const QString& dir) { QDir(dir + QStringLiteral("/sub")).removeRecursively(); }},
    };
    const QByteArray bytes = body(600 * 1024, 'q');
    Route drip = pdf(bytes);
    drip.dripBytes = 64 * 1024;
    drip.dripIntervalMs = 20;
    server.route("/p", drip);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        list.clear();
        list.addItem(server.url(QStringLiteral("/p")), QStringLiteral("Paper"),
                     QStringLiteral("pdf"), dir.path(), QString());
        ParallelDownloads threads(list, state, options, timeouts);
        state.ThreadItemIndex[1] = 1;
        threads.多线程下载(1, 1, server.url(QStringLiteral("/p")), c.prepare(dir.path()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !list.item(0).received.isEmpty(); }, 5000));
        c.during(dir.path());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !threads.IsControlLoaded(1); }, 8000));
        EXPECT_EQ(status(0), ItemStatus::Failed);
        EXPECT_EQ(list.item(0).size, QStringLiteral("下载失败"));
        EXPECT_NE(list.item(0).percent, QStringLiteral("100%"));
        EXPECT_FALSE(list.item(0).createdFile);
        // Nothing of the body, no placeholder and no part file stays behind.
        QTest::qWait(50);
        EXPECT_TRUE(filesIn(dir.path()).isEmpty()) << filesIn(dir.path()).join(u' ').toStdString();
        if (QFileInfo::exists(dir.path() + QStringLiteral("/sub"))) {
            EXPECT_TRUE(filesIn(dir.path() + QStringLiteral("/sub")).isEmpty());
        }
    }
}

// The first read brings too little, so the body is fetched again as a whole: the clean-up of
// the first read must never remove the second read's file.
TEST_F(EngineFaultsTest, TheWholeFileFallbackStoresItsBodyEveryTime) {
    const QByteArray bytes = body(200 * 1024, 'f');
    Route tooLittle = Serve("x", "application/pdf"); // one byte, no length
    tooLittle.sendLength = false;
    Route whole = pdf(bytes);
    whole.sendLength = false;
    options.threadCount = 1;
    constexpr int kRuns = 20;
    for (int i = 0; i < kRuns; ++i) {
        const QByteArray path = "/fb" + QByteArray::number(i);
        server.routeSequence(path, {tooLittle, whole});
        list.addItem(server.url(QString::fromLatin1(path)), QStringLiteral("FB%1").arg(i),
                     QStringLiteral("pdf"), folder, QString());
    }
    ASSERT_TRUE(runToEnd(30000));
    QStringList expected;
    for (int i = 0; i < kRuns; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(status(i), ItemStatus::Finished);
        EXPECT_EQ(list.item(i).percent, QStringLiteral("100%"));
        EXPECT_EQ(fileHash(folder + QStringLiteral("FB%1.pdf").arg(i)), hashOf(bytes));
        EXPECT_EQ(server.requestCount("/fb" + QByteArray::number(i)), 2);
        expected << QStringLiteral("FB%1.pdf").arg(i);
    }
    expected.sort();
    EXPECT_EQ(filesIn(folder), expected);
}

// Method 1 fetches a body as a whole when the headers give neither a length nor "200 OK":
// only a complete body may be stored.
TEST_F(EngineFaultsTest, MethodOneWholeFileFetchStoresOnlyACompleteBody) {
    options.method = 1;
    timeouts.fallbackWaitMs = 600;
    const QByteArray bytes = body(200'015, 'w');
    Route probe = Serve("partial", "application/pdf");
    probe.status = 203;
    probe.reason = "Non-Authoritative Information";
    probe.sendLength = false;
    Route drip = pdf(bytes);
    drip.dripBytes = 10'000;
    drip.dripIntervalMs = 60; // about 1.2 s for the whole body
    Route cut = pdf(bytes);
    cut.closeAfterBytes = 100'000;
    struct Case {
        const char* what;
        Route fetch;
        bool stop;
        ItemStatus status;
        QString size;
        bool stored;
    };
    const Case cases[] = {
        {"complete", pdf(bytes), false, ItemStatus::Finished, QStringLiteral("200015"), true},
        {"stopped during the fetch", drip, true, ItemStatus::Failed, QStringLiteral("下载取消"),
         false},
        {"time limit passed", drip, false, ItemStatus::Failed, QString(), false},
        {"closed before the announced length", cut, false, ItemStatus::Failed, QString(), false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray path = "/w" + QByteArray::number(n);
        const QString name = QStringLiteral("W%1").arg(n++);
        server.routeSequence(path, {probe, c.fetch});
        list.addItem(server.url(QString::fromLatin1(path)), name, QStringLiteral("pdf"), folder,
                     QString());
        const int row = list.count() - 1;
        if (c.stop) {
            QTimer::singleShot(300, [this] { s().Stop(); });
        }
        pastInterval();
        s().timerDownTick();                     // returns when the transfer is over
        EXPECT_GE(server.requestCount(path), 2); // Qt may repeat a request on a closed connection
        EXPECT_EQ(status(row), c.status);
        EXPECT_EQ(list.item(row).size, c.size);
        if (c.stored) {
            EXPECT_EQ(list.item(row).percent, QStringLiteral("100%"));
            EXPECT_EQ(fileHash(folder + name + QStringLiteral(".pdf")), hashOf(bytes));
        } else {
            EXPECT_TRUE(list.item(row).received.isEmpty());
            EXPECT_TRUE(list.item(row).percent.isEmpty());
            EXPECT_FALSE(QFile::exists(folder + name + QStringLiteral(".pdf")));
        }
    }
}

// A re-download removes only a file that the row itself stored and no live row shares.
TEST_F(EngineFaultsTest, ReDownloadDeletesOnlyTheRowsOwnFile) {
    options.method = 1;
    options.policy = DuplicateNamePolicy::Rename;
    timeouts.headerWaitMs = 300;
    const QByteArray done = body(5000, 'd');
    const QByteArray yesterday = "the user's own file";
    Route silent = pdf(done);
    silent.delayHeadersMs = -1; // fails before its headers, so before its numbered name
    const int finished = add("/done", pdf(done), QStringLiteral("Title"));
    const int sameTitle = add("/silent1", silent, QStringLiteral("Title"));
    const int usersFile = add("/silent2", silent, QStringLiteral("Yesterday"));
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Yesterday.pdf"), yesterday));
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(status(finished), ItemStatus::Finished);
    ASSERT_EQ(status(sameTitle), ItemStatus::Failed);
    ASSERT_EQ(status(usersFile), ItemStatus::Failed);
    EXPECT_EQ(list.item(sameTitle).name, QStringLiteral("Title"));

    EXPECT_EQ(menu重新下载出错项(list), 2);
    EXPECT_EQ(status(sameTitle), ItemStatus::Waiting);
    EXPECT_EQ(fileHash(folder + QStringLiteral("Title.pdf")), hashOf(done));
    EXPECT_EQ(test::ReadFile(folder + QStringLiteral("Yesterday.pdf")), yesterday);

    // A method-2 download that stalls takes its placeholder with it: under 跳过 a later run
    // would take the two bytes for the paper and never fetch it.
    options.method = 2;
    timeouts.asyncStallMs = 300;
    list.clear();
    Route stall = pdf(done);
    stall.stallAfterBytes = 100;
    const int stalled = add("/stall", stall, QStringLiteral("Stalled"));
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(status(stalled), ItemStatus::Failed);
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("Stalled.pdf")));
    EXPECT_EQ(menu重新下载出错项(list), 1);
    server.route("/stall", pdf(done));
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(status(stalled), ItemStatus::Finished);
    EXPECT_EQ(fileHash(folder + QStringLiteral("Stalled.pdf")), hashOf(done));
}

// Switching from method 2 to method 1 while a thread works: the thread finishes its row and
// the rest of the list goes on under method 1.
TEST_F(EngineFaultsTest, SwitchingToMethodOneMidDownloadGoesOn) {
    options.threadCount = 1;
    const QByteArray bytes = body(100'000, 's');
    Route drip = pdf(bytes);
    drip.dripBytes = 10'000;
    drip.dripIntervalMs = 30;
    const int first = add("/first", drip, QStringLiteral("First"));
    const int second = add("/second", pdf(bytes), QStringLiteral("Second"));
    pastInterval();
    s().StartMonitor();
    s().Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status(first) == ItemStatus::Downloading; }, 3000));
    options.method = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.检测是否下载列表完毕(); }, 8000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !s().isRunning(); }, 3000));
    s().StopTimers();
    EXPECT_EQ(status(first), ItemStatus::Finished);
    EXPECT_EQ(status(second), ItemStatus::Finished);
    EXPECT_EQ(fileHash(folder + QStringLiteral("Second.pdf")), hashOf(bytes));
    EXPECT_FALSE(state.IsDownloading);
}

// Positions past 32767 are ordinary positions: the thread finishes the row and is freed.
TEST_F(EngineFaultsTest, AThreadFinishesARowPastPosition32767) {
    options.threadCount = 1;
    constexpr int kRows = 32'770;
    for (int i = 0; i < kRows - 1; ++i) {
        list.addItem(QStringLiteral("done%1").arg(i), QStringLiteral("D"), QStringLiteral("pdf"),
                     folder, QString());
        list.setStatus(i, ItemStatus::Finished);
    }
    const QByteArray bytes = body(3000, 'l');
    const int last = add("/last", pdf(bytes), QStringLiteral("Last"));
    ASSERT_EQ(last, kRows - 1);
    pastInterval();
    s().timerDownTick();
    EXPECT_EQ(state.ThreadItemIndex[1], kRows);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status(last) == ItemStatus::Finished; }, 5000));
    EXPECT_FALSE(s().threads().IsControlLoaded(1));
    EXPECT_EQ(fileHash(folder + QStringLiteral("Last.pdf")), hashOf(bytes));
}

// A title made only of forbidden characters is saved under the address's last segment, not
// as a hidden ".pdf".
TEST_F(EngineFaultsTest, ANameThatCleansToEmptyFallsBackUnderMethodTwo) {
    const QByteArray bytes = body(3000, 'n');
    const int row = add("/paper-42.pdf", pdf(bytes), QStringLiteral("?*:<>|"));
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(status(row), ItemStatus::Finished);
    EXPECT_EQ(list.item(row).name, QStringLiteral("paper-42"));
    EXPECT_EQ(fileHash(folder + QStringLiteral("paper-42.pdf")), hashOf(bytes));
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("paper-42.pdf")});
}

// A re-download never costs the user the file they had: under either method and whatever the
// same-name policy, a retry that fails leaves the old file whole, and only a complete new body
// replaces it. A file the row found already there (skipped under 跳过) is the row's when the
// user asks for it again; a file a live row stored is never touched.
TEST_F(EngineFaultsTest, ReDownloadReplacesTheRowsFileOnlyWithAWholeBody) {
    struct Case {
        int method;
        DuplicateNamePolicy policy;
    };
    const Case cases[] = {{1, DuplicateNamePolicy::Skip},
                          {2, DuplicateNamePolicy::Skip},
                          {1, DuplicateNamePolicy::Rename},
                          {2, DuplicateNamePolicy::Overwrite}};
    const QByteArray broken = "%PDF-1.4 cut";
    const QByteArray good = QByteArray("%PDF-1.4\n") + body(200 * 1024, 'g');
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method * 10 + static_cast<int>(c.policy));
        options.method = c.method;
        options.policy = c.policy;
        list.clear();
        const QString sub = folder + QStringLiteral("c%1/").arg(n);
        QDir().mkpath(sub);
        const QString path = sub + QStringLiteral("Title.pdf");
        ASSERT_TRUE(WriteFile(path, broken));
        const QByteArray route = "/p" + QByteArray::number(n++);
        Route notFound;
        notFound.status = 404;
        notFound.reason = "Not Found";
        notFound.body = "<html><body>gone</body></html>";
        server.route(route, notFound);
        list.addItem(server.url(QString::fromLatin1(route)), QStringLiteral("Title"),
                     QStringLiteral("pdf"), sub, QString());
        if (c.policy == DuplicateNamePolicy::Skip) {
            // Skipped: the row adopts the small, broken file it found.
            ASSERT_TRUE(runToEnd());
            ASSERT_EQ(list.item(0).percent, status_words::kExistsSkipped);
        } else {
            list.setStatus(0, ItemStatus::Finished);
            list.setCreatedFile(0, true);
        }
        list.setSelected(0, true);
        EXPECT_EQ(menu重新下载选中项(list), 1);
        EXPECT_EQ(fileHash(path), hashOf(broken)); // kept until a whole body arrives
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(status(0), ItemStatus::Failed);
        EXPECT_EQ(fileHash(path), hashOf(broken)); // the failed retry left it as it was

        server.route(route, pdf(good));
        EXPECT_EQ(menu重新下载出错项(list), 1);
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(status(0), ItemStatus::Finished);
        EXPECT_EQ(list.item(0).name, QStringLiteral("Title")); // replaced, not renamed
        EXPECT_EQ(fileHash(path), hashOf(good));
        EXPECT_EQ(filesIn(sub), QStringList{QStringLiteral("Title.pdf")});
        EXPECT_TRUE(list.item(0).replacesPath.isEmpty());
    }

    // Another row's finished file under the same name is never replaced on this row's behalf.
    options.method = 2;
    options.policy = DuplicateNamePolicy::Skip;
    list.clear();
    const QString shared = folder + QStringLiteral("shared/");
    const QByteArray first = QByteArray("%PDF-1.4\n") + body(50 * 1024, 'f');
    const int a = add("/first", pdf(first), QStringLiteral("Same"));
    list.setText(a, Col::ColFolder, shared);
    ASSERT_TRUE(runToEnd());
    const int b = add("/second", pdf(good), QStringLiteral("Same"));
    list.setText(b, Col::ColFolder, shared);
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(list.item(b).percent, status_words::kExistsSkipped);
    list.setSelected(b, true);
    EXPECT_EQ(menu重新下载选中项(list), 1);
    EXPECT_TRUE(list.item(b).replacesPath.isEmpty());
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(list.item(b).percent, status_words::kExistsSkipped);
    EXPECT_EQ(fileHash(shared + QStringLiteral("Same.pdf")), hashOf(first));
    EXPECT_EQ(server.requestCount("/second"), 0);
}

// Automatic re-download never adopts: a skipped row's file stays the user's.
TEST_F(EngineFaultsTest, AutomaticReDownloadLeavesAnAdoptedFileAlone) {
    options.policy = DuplicateNamePolicy::Skip;
    const QByteArray mine = "my own notes";
    ASSERT_TRUE(WriteFile(folder + QStringLiteral("Notes.pdf"), mine));
    const int row =
        add("/notes", pdf(QByteArray("%PDF-1.4\n") + body(1000, 'n')), QStringLiteral("Notes"));
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(list.item(row).percent, status_words::kExistsSkipped);
    list.setStatus(row, ItemStatus::Failed);
    EXPECT_EQ(menu重新下载出错项(list, ListRequest::Automatic), 1);
    EXPECT_TRUE(list.item(row).replacesPath.isEmpty());
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(list.item(row).percent, status_words::kExistsSkipped);
    EXPECT_EQ(fileHash(folder + QStringLiteral("Notes.pdf")), hashOf(mine));
    // Deleting files of failed rows, asked by the user, takes only the row's own.
    list.setStatus(row, ItemStatus::Failed);
    list.setAdoptedFile(row, false);
    EXPECT_EQ(DeleteItemFiles(list, false), 1);
    EXPECT_EQ(fileHash(folder + QStringLiteral("Notes.pdf")), hashOf(mine));
}

// Servers that check where a download comes from see the record page under both methods, and
// an address is decoded once only: the key holds it decoded already.
TEST_F(EngineFaultsTest, BothMethodsSendTheReferrerAndTheAddressAsItStands) {
    for (const int method : {1, 2}) {
        SCOPED_TRACE(method);
        options.method = method;
        list.clear();
        server.route("/r?a=1&amp;b=2", pdf(QByteArray("%PDF-1.4\n") + body(1000, 'r')));
        const QString address = server.url(QStringLiteral("/r?a=1&amp;b=2"));
        list.addItem(address, QStringLiteral("Ref%1").arg(method), QStringLiteral("pdf"), folder,
                     QStringLiteral("http://records.example/detail?rec=3"));
        const qsizetype before = server.requests().size();
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(status(0), ItemStatus::Finished);
        ASSERT_GT(server.requests().size(), before);
        const ReceivedRequest& sent = server.requests().at(before);
        EXPECT_EQ(sent.headers.value("referer"), QByteArray("http://records.example/detail?rec=3"));
        EXPECT_EQ(sent.path, QByteArray("/r?a=1&amp;b=2"));
    }
}

// Failures say why, on the row and in status panel 3, and are never announced as finished; a
// folder that cannot take the file fails the row before anything is fetched.
TEST_F(EngineFaultsTest, FailuresSayWhyAndAFolderThatCannotBeMadeFetchesNothing) {
    const QString inTheWay = folder + QStringLiteral("file-in-the-way");
    ASSERT_TRUE(WriteFile(inTheWay, "not a folder"));
    for (const int method : {1, 2}) {
        SCOPED_TRACE(method);
        options.method = method;
        list.clear();
        const QByteArray m = QByteArray::number(method);
        Route notFound;
        notFound.status = 404;
        notFound.reason = "Not Found";
        notFound.body = "<html><body>gone</body></html>";
        Route cut = pdf(body(400 * 1024, 'c'));
        cut.closeAfterBytes = 210 * 1024;
        const int gone = add("/gone" + m, notFound, QStringLiteral("Gone"));
        const int broken = add("/cut" + m, cut, QStringLiteral("Cut"));
        const int nowhere = add("/ok" + m, pdf("%PDF-1.4 fine"), QStringLiteral("Nowhere"));
        list.setText(nowhere, Col::ColFolder, inTheWay + QStringLiteral("/sub/"));
        QSignalSpy panels(&s(), &DownloadScheduler::statusPanelText);
        ASSERT_TRUE(runToEnd());

        EXPECT_EQ(status(gone), ItemStatus::Failed);
        EXPECT_EQ(list.item(gone).reason, QStringLiteral("服务器返回404"));
        EXPECT_EQ(status(broken), ItemStatus::Failed);
        EXPECT_TRUE(list.item(broken).reason.startsWith(QStringLiteral("连接中断（已收到")))
            << list.item(broken).reason.toStdString();
        EXPECT_TRUE(list.item(broken).reason.endsWith(QStringLiteral("共400KB）")));
        EXPECT_EQ(status(nowhere), ItemStatus::Failed);
        EXPECT_EQ(list.item(nowhere).reason, reasons::kFolderNotCreated);
        EXPECT_EQ(server.requestCount("/ok" + m), 0); // nothing asked for in vain
        EXPECT_EQ(list.data(list.index(gone, 0), Qt::ToolTipRole).toString(),
                  list.item(gone).reason);

        QStringList panelTwo;
        QStringList panelThree;
        for (const QList<QVariant>& signal : panels) {
            (signal.at(0).toInt() == 2 ? panelTwo : panelThree) << signal.at(1).toString();
        }
        for (const QString& name : {QStringLiteral("Gone"), QStringLiteral("Cut")}) {
            EXPECT_FALSE(panelTwo.contains(QStringLiteral("完成下载:") + name))
                << name.toStdString();
            EXPECT_TRUE(panelTwo.contains(QStringLiteral("下载失败:") + name))
                << name.toStdString();
        }
        EXPECT_TRUE(panelThree.contains(QStringLiteral("服务器返回404")));
        EXPECT_TRUE(panelThree.contains(reasons::kFolderNotCreated));
        // The writer thread removes a discarded part file soon after the row has ended.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return filesIn(folder) == QStringList{QStringLiteral("file-in-the-way")}; },
            3000))
            << filesIn(folder).join(QLatin1Char(' ')).toStdString();
    }
}

// A row's file may be named by another row that is finished or still downloading: two
// same-title rows under 覆盖 both stored it, the later body stands there. When the first row
// fails and is downloaded again or has its files deleted, the other row's file keeps its bytes,
// whatever same-name policy the re-download runs under.
TEST_F(EngineFaultsTest, AnotherLiveRowsFileSurvivesReDownloadsAndDeletes) {
    struct Operation {
        const char* what;
        std::function<int(DownloadListModel&, int row)> run;
        bool downloads; ///< the row is downloaded again afterwards
    };
    const Operation operations[] = {
        {"重新下载出错项", [](DownloadListModel& l, int) { return menu重新下载出错项(l); }, true},
        {"重新下载选中项",
         [](DownloadListModel& l, int row) {
             l.setSelected(row, true);
             return menu重新下载选中项(l);
         },
         true},
        {"double-click retry",
         [](DownloadListModel& l, int row) { return RetryFailedItem(l, row) ? 1 : 0; }, true},
        {"删除出错项文件", [](DownloadListModel& l, int) { return DeleteItemFiles(l, false); },
         false},
    };
    struct Case {
        int method;
        DuplicateNamePolicy policy; ///< for the re-download
    };
    const Case cases[] = {{1, DuplicateNamePolicy::Skip},
                          {2, DuplicateNamePolicy::Skip},
                          {1, DuplicateNamePolicy::Rename},
                          {2, DuplicateNamePolicy::Rename},
                          {2, DuplicateNamePolicy::Overwrite}};
    const QByteArray mine = QByteArray("%PDF-1.4\n") + body(40 * 1024, 'm');
    const QByteArray theirs = QByteArray("%PDF-1.4\n") + body(60 * 1024, 't');
    const QByteArray again = QByteArray("%PDF-1.4\n") + body(50 * 1024, 'a');
    Route notFound;
    notFound.status = 404;
    notFound.reason = "Not Found";
    notFound.body = "<html><body>gone</body></html>";
    int n = 0;
    for (const Case& c : cases) {
        for (const Operation& op : operations) {
            // Under 覆盖 a re-download goes over any same name by the user's choice; only the
            // delete is the row's own doing there.
            if (c.policy == DuplicateNamePolicy::Overwrite && op.downloads) {
                continue;
            }
            SCOPED_TRACE(QStringLiteral("method %1, policy %2, %3")
                             .arg(c.method)
                             .arg(static_cast<int>(c.policy))
                             .arg(QString::fromUtf8(op.what))
                             .toStdString());
            list.clear();
            const QString sub = folder + QStringLiteral("s%1/").arg(n);
            const QByteArray m = "/mine" + QByteArray::number(n);
            const QByteArray t = "/theirs" + QByteArray::number(n++);
            // Both rows store Same.pdf one after the other; the later body stands there.
            options.method = 1;
            options.policy = DuplicateNamePolicy::Overwrite;
            const int row = add(m, pdf(mine), QStringLiteral("Same"));
            const int other = add(t, pdf(theirs), QStringLiteral("Same"));
            list.setText(row, Col::ColFolder, sub);
            list.setText(other, Col::ColFolder, sub);
            ASSERT_TRUE(runToEnd());
            const QString path = sub + QStringLiteral("Same.pdf");
            ASSERT_EQ(status(row), ItemStatus::Finished);
            ASSERT_EQ(status(other), ItemStatus::Finished);
            ASSERT_EQ(fileHash(path), hashOf(theirs));
            // The first row is downloaded again and fails: it still counts the file its own.
            server.route(m, notFound);
            list.setSelected(row, true);
            ASSERT_EQ(menu重新下载选中项(list), 1);
            list.setSelected(row, false);
            ASSERT_TRUE(runToEnd());
            ASSERT_EQ(status(row), ItemStatus::Failed);
            ASSERT_TRUE(list.item(row).createdFile);
            ASSERT_EQ(fileHash(path), hashOf(theirs));

            options.method = c.method;
            options.policy = c.policy;
            server.route(m, pdf(again));
            EXPECT_EQ(op.run(list, row), 1);
            EXPECT_TRUE(list.item(row).replacesPath.isEmpty());
            EXPECT_EQ(fileHash(path), hashOf(theirs));
            if (!op.downloads) {
                EXPECT_EQ(status(other), ItemStatus::Finished);
                continue;
            }
            ASSERT_TRUE(runToEnd());
            EXPECT_EQ(fileHash(path), hashOf(theirs)) << "the other row's file was replaced";
            EXPECT_EQ(status(row), ItemStatus::Finished);
            if (c.policy == DuplicateNamePolicy::Skip) {
                EXPECT_EQ(list.item(row).percent, status_words::kExistsSkipped);
                EXPECT_EQ(filesIn(sub), QStringList{QStringLiteral("Same.pdf")});
            } else {
                EXPECT_EQ(list.item(row).name, QStringLiteral("Same[001]"));
                EXPECT_EQ(fileHash(sub + QStringLiteral("Same[001].pdf")), hashOf(again));
                EXPECT_EQ(filesIn(sub), (QStringList{QStringLiteral("Same.pdf"),
                                                     QStringLiteral("Same[001].pdf")}));
            }
        }
    }

    // The other row still downloading: the failed row's retry and delete leave the file alone.
    options.method = 2;
    options.policy = DuplicateNamePolicy::Overwrite;
    list.clear();
    const QString sub = folder + QStringLiteral("live/");
    const int row = add("/live-mine", pdf(mine), QStringLiteral("Same"));
    list.setText(row, Col::ColFolder, sub);
    ASSERT_TRUE(runToEnd());
    const QString path = sub + QStringLiteral("Same.pdf");
    ASSERT_EQ(fileHash(path), hashOf(mine));
    list.setStatus(row, ItemStatus::Failed);
    Route drip = pdf(theirs);
    drip.dripBytes = 4 * 1024;
    drip.dripIntervalMs = 40; // about 0.6 s
    const int other = add("/live-theirs", drip, QStringLiteral("Same"));
    list.setText(other, Col::ColFolder, sub);
    pastInterval();
    s().StartMonitor();
    s().Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list.item(other).received.isEmpty(); }, 5000));
    s().StopTimers(); // the running thread goes on; the failed row is not started again
    ASSERT_EQ(status(other), ItemStatus::Downloading);
    EXPECT_EQ(DeleteItemFiles(list, false), 1);
    EXPECT_EQ(fileHash(path), hashOf(mine));
    EXPECT_TRUE(RetryFailedItem(list, row));
    EXPECT_TRUE(list.item(row).replacesPath.isEmpty());
    list.setStatus(row, ItemStatus::Failed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status(other) == ItemStatus::Finished; }, 8000));
    EXPECT_EQ(fileHash(path), hashOf(theirs));
}
