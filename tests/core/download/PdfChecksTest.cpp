// Every finished PDF row is checked through the real PDF library: the right paper is clean,
// another record's paper is marked and counted but stays finished, a scan is not judged, and a
// file that does not open fails its row and is fetched again by the automatic re-download.

#include "DemoSite.h"
#include "core/download/DownloadScheduler.h"
#include "core/files/FileNaming.h"

#include "TestHttpServer.h"
#include "TestSupport.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

/// The first bytes of record 3's PDF: a signature and a header, and then nothing usable.
QByteArray damagedPdf() {
    return demo::PdfBytes(3).left(300);
}

} // namespace

class PdfChecksTest : public ::testing::Test {
protected:
    void SetUp() override {
        timeouts.tickMs = 20;
        timeouts.stallCheckMs = 50;
        folder = tmp.path() + QLatin1Char('/');
        options.method = 2;
        options.threadCount = 3;
    }
    int add(const QByteArray& path, const QByteArray& body, int record) {
        server.route(path, Serve(body, "application/pdf"));
        list.addItem(server.url(QString::fromLatin1(path)),
                     CleanFileName(demo::RecordAt(record).title), QStringLiteral("pdf"), folder,
                     QString());
        return list.count() - 1;
    }
    bool runUntil(const std::function<bool()>& done, int ms = 15000) {
        state.LastFinishMonotonicMs = MonotonicMs() - 1;
        scheduler.StartMonitor();
        scheduler.Start();
        const bool ok =
            QTest::qWaitFor([&] { return done() && scheduler.pdfChecks().running() == 0; }, ms);
        scheduler.StopTimers();
        return ok;
    }
    QString pathOf(int row) const {
        const DownloadItem& it = list.item(row);
        return ItemFilePath(it.folder, it.name, it.type);
    }

    QTemporaryDir tmp;
    QString folder;
    TestHttpServer server;
    DownloadListModel list;
    QAbstractItemModelTester tester{&list, QAbstractItemModelTester::FailureReportingMode::Fatal};
    DownloadWindowState state;
    DownloadOptions options;
    DownloadTimeouts timeouts;
    DownloadScheduler scheduler{list, state, options, timeouts};
};

TEST_F(PdfChecksTest, EachStoredPdfGetsItsVerdictOnTheRow) {
    const int own = add("/own", demo::PdfBytes(1), 1);
    const int cjk = add("/cjk", demo::PdfBytes(2), 2);
    const int wrong = add("/wrong", demo::PdfBytes(1), 17); // record 1's paper under record 17
    const int scan = add("/scan", demo::PdfWithoutText(), 5);
    ASSERT_TRUE(runUntil([&] { return list.检测是否下载列表完毕(); }));

    struct Expect {
        int row;
        ContentCheck check;
    };
    for (const Expect& e :
         {Expect{own, ContentCheck::Matches}, Expect{cjk, ContentCheck::Matches},
          Expect{wrong, ContentCheck::Mismatch}, Expect{scan, ContentCheck::Unknown}}) {
        SCOPED_TRACE(e.row);
        const DownloadItem& it = list.item(e.row);
        EXPECT_EQ(it.status, ItemStatus::Finished); // a doubtful paper is still a download
        EXPECT_EQ(it.contentCheck, e.check);
        const bool marked = e.check == ContentCheck::Mismatch;
        EXPECT_EQ(MarkOf(it) == ItemMark::Suspect, marked);
        EXPECT_EQ(list.data(list.index(e.row, 0), Qt::ToolTipRole).toString(),
                  marked ? QStringLiteral("PDF内容可能与标题不符，可能是别的文献") : QString());
    }
    EXPECT_EQ(FileSha256(pathOf(wrong)), Sha256(demo::PdfBytes(1)));
    EXPECT_EQ(list.statusCounts().suspect, 1);
    EXPECT_TRUE(list.summaryText().endsWith(QStringLiteral(" 内容可疑:1")))
        << list.summaryText().toStdString();

    // Downloading the row again clears its verdict until the new file is checked.
    list.startRow(wrong);
    EXPECT_EQ(list.item(wrong).contentCheck, ContentCheck::None);
    EXPECT_EQ(list.statusCounts().suspect, 0);
}

TEST_F(PdfChecksTest, APdfThatDoesNotOpenFailsAndIsFetchedAgain) {
    const int row = add("/damaged", damagedPdf(), 3);
    ASSERT_TRUE(runUntil([&] { return list.item(row).status == ItemStatus::Failed; }));
    EXPECT_EQ(list.item(row).size, kPdfBroken);
    EXPECT_EQ(list.item(row).percent, QString());
    EXPECT_FALSE(list.item(row).reason.isEmpty());
    EXPECT_EQ(list.statusCounts().finished, 0);

    // The server has the whole file now: the automatic re-download replaces the damaged one.
    server.route("/damaged", Serve(demo::PdfBytes(3), "application/pdf"));
    options.autoRedownload = true;
    options.autoRedownloadKind = static_cast<int>(AutoRedownloadKind::Failed);
    const qsizetype before = server.requests().size();
    ASSERT_TRUE(runUntil(
        [&] {
            return list.item(row).status == ItemStatus::Finished &&
                   list.item(row).contentCheck == ContentCheck::Matches;
        },
        30000));
    EXPECT_GT(server.requests().size(), before);
    EXPECT_EQ(FileSha256(pathOf(row)), Sha256(demo::PdfBytes(3)));
    EXPECT_EQ(list.item(row).percent, QStringLiteral("100%"));
}

// A check whose row changed meanwhile (deleted, or downloaded again) writes nothing.
TEST_F(PdfChecksTest, AResultForARowThatChangedIsDropped) {
    const int row = add("/late", damagedPdf(), 4);
    scheduler.pdfChecks().setAutomatic(false);
    ASSERT_TRUE(runUntil([&] { return list.检测是否下载列表完毕(); }));
    ASSERT_EQ(list.item(row).status, ItemStatus::Finished);
    ASSERT_TRUE(scheduler.pdfChecks().check(row));
    list.startRow(row); // the user downloads it again before the check ends
    ASSERT_TRUE(QTest::qWaitFor([&] { return scheduler.pdfChecks().running() == 0; }, 5000));
    EXPECT_EQ(list.item(row).status, ItemStatus::Downloading);
    EXPECT_EQ(list.item(row).size, QString());
    // Rows that are no finished PDF are not checked at all.
    EXPECT_FALSE(scheduler.pdfChecks().check(row));
    EXPECT_FALSE(scheduler.pdfChecks().check(99));
}
