// The content check on the whole road: the last result page of the demo site, analysed and
// downloaded through the real windows. Another record's paper is marked and counted, the PDF
// that arrives damaged fails and the automatic re-download brings it whole, the scan is not
// marked, and every other row is clean.

#include "E2eSupport.h"

#include "core/download/DownloadScheduler.h"
#include "core/files/FileNaming.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::e2e;

TEST(PdfCheckRoad, TheWrongPaperIsMarkedTheDamagedOneComesAgainTheScanIsLeftAlone) {
    demo::DemoOptions options;
    options.records = 60;
    options.perPage = 10;
    options.loginGate = false;
    ProgramRun run(options);
    ASSERT_TRUE(run.startAndOpenSearch());
    ASSERT_TRUE(run.search());
    run.chooserFolder = run.folder(QStringLiteral("checked"));
    ASSERT_TRUE(run.followResultLink(QStringLiteral("page=6")));
    QTest::mouseClick(run.searchButton("Command9"), Qt::LeftButton); // 加入本页到列表
    fFileDownload* downloads = run.analyse();
    ASSERT_NE(downloads, nullptr);
    const QVector<int> items = ItemRecords(QVector<int>{51, 52, 53, 54, 55, 56, 57, 58, 59, 60});
    ASSERT_EQ(downloads->list().count(), items.size());

    // 自动重新下载 of failed rows, as a user leaves a long list running.
    QTest::mouseClick(downloads->findChild<QCheckBox*>(QStringLiteral("Check3")), Qt::LeftButton);
    auto* kind = downloads->findChild<QComboBox*>(QStringLiteral("Combo4"));
    kind->setCurrentIndex(kind->findText(QStringLiteral("出错项")));
    ASSERT_TRUE(downloads->options().autoRedownload);
    ASSERT_TRUE(run.downloadAll(downloads, 120'000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const DownloadListModel& list = downloads->list();
            const int damaged = list.rowOfKey(run.site().pdfAddress(59));
            return downloads->scheduler().pdfChecks().running() == 0 && damaged >= 0 &&
                   list.item(damaged).status == ItemStatus::Finished &&
                   list.item(damaged).contentCheck != ContentCheck::None;
        },
        60'000))
        << "the damaged PDF was not fetched again";
    ASSERT_TRUE(run.waitForDownloads(downloads, 30'000));

    const DownloadListModel& list = downloads->list();
    for (int n : items) {
        SCOPED_TRACE(n);
        const int row = list.rowOfKey(run.site().pdfAddress(n));
        ASSERT_GE(row, 0);
        const DownloadItem& item = list.item(row);
        EXPECT_EQ(item.status, ItemStatus::Finished);
        EXPECT_EQ(item.percent, QStringLiteral("100%"));
        const ContentCheck expected = n == 58   ? ContentCheck::Mismatch
                                      : n == 60 ? ContentCheck::Unknown
                                                : ContentCheck::Matches;
        EXPECT_EQ(item.contentCheck, expected);
        EXPECT_EQ(FileHash(ItemFilePath(item.folder, item.name, item.type)),
                  test::Sha256(demo::PdfBytes(n)));
    }
    EXPECT_EQ(list.statusCounts().suspect, 1);
    EXPECT_TRUE(downloads->statusPanelText(4).endsWith(QStringLiteral(" 内容可疑:1")))
        << downloads->statusPanelText(4).toStdString();
    // The damaged PDF was sent once and refused by the check: the row asked again.
    int damagedRequests = 0;
    for (const demo::LoggedRequest& r : run.site().requests()) {
        damagedRequests += r.path.startsWith(QStringLiteral("/pdf/59.")) ? 1 : 0;
    }
    EXPECT_EQ(damagedRequests, 2);
}
