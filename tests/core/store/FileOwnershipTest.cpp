// The kept queue knows which file each row owns: every change of ownership is written, and no
// row takes the two-byte placeholder of a method-2 download for its paper, neither when the
// same-name rule skips a row nor when the citation export attaches the stored PDFs.

#include "core/download/DownloadNeeded.h"
#include "core/download/DownloadScheduler.h"
#include "core/download/ListOperations.h"
#include "core/files/FileNaming.h"
#include "core/store/ListStore.h"
#include "core/store/QueueKeeper.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

const QByteArray kPlaceholderBytes("\x01\x00", 2);

QByteArray paper() {
    QByteArray body = "%PDF-1.4\n";
    for (int i = 0; body.size() < 200'000; ++i) {
        body.append(QByteArray::number(i)).append(' ');
    }
    return body + "\n%%EOF\n";
}

// A change of a row's ownership is kept like any other change, with no other change of the
// row to carry it.
TEST(FileOwnership, EveryChangeOfOwnershipReachesTheKeptQueue) {
    using Change = std::function<void(DownloadListModel&)>;
    struct Case {
        const char* what;
        Change before; ///< written first
        Change change;
    };
    const Case cases[] = {
        {"the row made its file", [](DownloadListModel&) {},
         [](DownloadListModel& l) { l.setCreatedFile(0, true); }},
        {"the row's placeholder went", [](DownloadListModel& l) { l.setCreatedFile(0, true); },
         [](DownloadListModel& l) { l.setCreatedFile(0, false); }},
        {"the row found its file there", [](DownloadListModel&) {},
         [](DownloadListModel& l) { l.setAdoptedFile(0, true); }},
        {"a re-download replaces the row's file", [](DownloadListModel&) {},
         [](DownloadListModel& l) { l.setReplacesPath(0, QStringLiteral("/f/N0.pdf")); }},
        {"the replacement settled",
         [](DownloadListModel& l) { l.setReplacesPath(0, QStringLiteral("/f/N0.pdf")); },
         [](DownloadListModel& l) { l.setReplacesPath(0, QString()); }},
    };
    QTemporaryDir tmp;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListStore store;
        ASSERT_NE(store.open(tmp.path() + QStringLiteral("/%1/queue.sqlite").arg(++n)).status,
                  StoreOpen::Failed);
        DownloadListModel list;
        QueueKeeper keeper(store, 60'000);
        keeper.attachDownloads(&list);
        list.addItem(QStringLiteral("http://a/0"), QStringLiteral("N0"), QStringLiteral("pdf"),
                     QStringLiteral("/f/"), QString());
        c.before(list);
        keeper.flushAndWait();
        c.change(list);
        keeper.flushAndWait();
        const DownloadItem kept = store.load().downloads.value(0);
        EXPECT_EQ(kept.createdFile, list.item(0).createdFile);
        EXPECT_EQ(kept.adoptedFile, list.item(0).adoptedFile);
        EXPECT_EQ(kept.replacesPath, list.item(0).replacesPath);
    }
}

// A method-2 row whose server sends no length: its placeholder stands under the paper's name
// while the body comes, and the kept queue says the row made it. Killed then, the next run
// takes the placeholder away and fetches the paper under 跳过, instead of skipping the row as
// "already there" with two bytes.
TEST(FileOwnership, AKilledMethodTwoRowWithoutLengthComesBackAndFetchesItsPaper) {
    RecordingMessageBoxes boxes;
    QTemporaryDir tmp;
    const QString folder = tmp.path() + QStringLiteral("/papers/");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = folder + QStringLiteral("Title.pdf");
    const QByteArray body = paper();
    TestHttpServer server;
    Route cut = Serve(body, "application/pdf");
    cut.sendLength = false;
    cut.stallAfterBytes = 1000;
    server.route("/p", cut);

    ListStore store;
    ASSERT_NE(store.open(tmp.path() + QStringLiteral("/queue.sqlite")).status, StoreOpen::Failed);
    DownloadOptions options;
    options.method = 2;
    options.threadCount = 1;
    options.policy = DuplicateNamePolicy::Skip;
    DownloadTimeouts timeouts;
    timeouts.tickMs = 20;
    timeouts.stallCheckMs = 50;
    const auto run = [&](DownloadListModel& list, DownloadWindowState& state) {
        state.LastFinishMonotonicMs = MonotonicMs() - 1;
        auto scheduler = std::make_unique<DownloadScheduler>(list, state, options, timeouts);
        scheduler->pdfChecks().setAutomatic(false);
        scheduler->StartMonitor();
        scheduler->Start();
        return scheduler;
    };

    KeptQueue kept;
    {
        DownloadListModel list;
        DownloadWindowState state;
        QueueKeeper keeper(store, 60'000);
        keeper.attachDownloads(&list);
        list.addItem(server.url(QStringLiteral("/p")), QStringLiteral("Title"),
                     QStringLiteral("pdf"), folder, QString());
        auto scheduler = run(list, state);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return server.requestCount("/p") > 0 && ReadFile(target) == kPlaceholderBytes &&
                   list.item(0).status == ItemStatus::Downloading;
        }));
        keeper.flushAndWait();
        kept = store.load(); // what a kill now leaves for the next run
        scheduler->StopTimers();
        scheduler.reset();
    }
    ASSERT_EQ(kept.downloads.size(), 1);
    EXPECT_EQ(kept.downloads[0].status, ItemStatus::Downloading);
    EXPECT_TRUE(kept.downloads[0].createdFile);

    // The killed run's placeholder, whatever its engine took away on the way out here.
    ASSERT_TRUE(WriteFile(target, kPlaceholderBytes));
    server.route("/p", Serve(body, "application/pdf"));
    DownloadListModel list;
    DownloadWindowState state;
    ASSERT_EQ(RestoreKeptQueue(kept, &list, nullptr), 1);
    EXPECT_FALSE(QFileInfo::exists(target));
    auto scheduler = run(list, state);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.检测是否下载列表完毕(); }, 20'000));
    scheduler->StopTimers();
    EXPECT_EQ(list.item(0).status, ItemStatus::Finished);
    EXPECT_EQ(list.item(0).percent, QStringLiteral("100%"));
    EXPECT_EQ(ReadFile(target), body);
}

// Under 跳过 a file at the row's name is its paper, unless it is exactly our placeholder: while
// another row downloads to that name it stands for the paper on its way, of a length not known
// yet; left over by a download that ended, it goes and the row is downloaded under its name.
TEST(FileOwnership, TheSkipRuleNeverTakesAPlaceholderForThePaper) {
    struct Case {
        const char* what;
        QByteArray bytes;
        bool otherRowDownloads; ///< a row before it downloads to the same name now
        bool skipped;
        bool fileStays;
        QString length; ///< in both length columns when skipped
    };
    const Case cases[] = {
        {"a placeholder left over", kPlaceholderBytes, false, false, false, QString()},
        {"a placeholder of a row downloading now", kPlaceholderBytes, true, true, true, QString()},
        {"two other bytes", QByteArray("ok"), false, true, true, QStringLiteral("2")},
        {"a paper", paper(), false, true, true, QString::number(paper().size())},
    };
    QTemporaryDir tmp;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = tmp.path() + QStringLiteral("/%1/").arg(++n);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("Title.pdf");
        ASSERT_TRUE(WriteFile(file, c.bytes));
        DownloadListModel list;
        list.addItem(QStringLiteral("http://a/first"), QStringLiteral("Title"),
                     QStringLiteral("pdf"), folder, QString());
        list.addItem(QStringLiteral("http://a/p"), QStringLiteral("Title"), QStringLiteral("pdf"),
                     folder, QString());
        if (c.otherRowDownloads) {
            list.startRow(0);
        }
        EXPECT_EQ(确定是需要下载(list, 1, DuplicateNamePolicy::Skip), !c.skipped);
        EXPECT_EQ(list.item(1).status, c.skipped ? ItemStatus::Finished : ItemStatus::Waiting);
        EXPECT_EQ(list.item(1).adoptedFile, c.skipped);
        if (c.skipped) {
            EXPECT_EQ(list.item(1).size, c.length);
            EXPECT_EQ(list.item(1).received, c.length);
        }
        EXPECT_EQ(QFileInfo::exists(file), c.fileStays);
        if (c.fileStays) {
            EXPECT_EQ(ReadFile(file), c.bytes);
        }
    }
}

// The citation export attaches a finished row's stored PDF, never a placeholder under its name.
TEST(FileOwnership, TheCitationExportNeverAttachesAPlaceholder) {
    struct Case {
        const char* what;
        QByteArray bytes;
        bool attached;
    };
    const Case cases[] = {
        {"our placeholder", kPlaceholderBytes, false},
        {"a paper", paper(), true},
    };
    QTemporaryDir tmp;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = tmp.path() + QStringLiteral("/%1/").arg(++n);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("Title.pdf");
        ASSERT_TRUE(WriteFile(file, c.bytes));
        for (const bool created : {true, false}) {
            DownloadListModel list;
            list.addItem(QStringLiteral("http://a/p"), QStringLiteral("Title"),
                         QStringLiteral("pdf"), folder, QString());
            list.setStatus(0, ItemStatus::Finished);
            list.setText(0, DownloadListModel::ColPercent,
                         created ? QStringLiteral("100%") : status_words::kExistsSkipped);
            list.setCreatedFile(0, created);
            list.setAdoptedFile(0, !created);
            const QList<CitationEntry> entries = CitationEntries(list, true);
            ASSERT_EQ(entries.size(), 1);
            EXPECT_EQ(entries[0].filePath,
                      c.attached ? QFileInfo(file).absoluteFilePath() : QString())
                << (created ? "stored by the row" : "skipped as already there");
        }
    }
}

} // namespace
