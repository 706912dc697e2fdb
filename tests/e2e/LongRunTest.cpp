// A long run as a researcher leaves it going: two hundred records through the real windows
// against a demo site that pushes back as a protective library does (a throttle of one PDF a
// second per server, a login that lapses every minute, a few flaky answers), with the download
// window forced shut in the middle and its kept queue restored into a new one. Every PDF the site
// has must arrive whole, with few wasted requests and none inside a wait the site asked for.
// The figures are printed; `bench/long_run.sh` runs this test to show them.

#include "E2eSupport.h"

#include "core/download/DownloadScheduler.h"
#include "core/store/ListStore.h"
#include "core/store/QueueKeeper.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/QueueKeeping.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdio>

using namespace quillax;
using namespace quillax::e2e;

namespace {

constexpr int kRecords = 200;
constexpr int kPerMinute = 60; // one PDF a second per server
constexpr qint64 kSpacingMs = 60'000 / kPerMinute;

/// The PDF number in a logged PDF path ("/pdf/12.pdf?..."), or 0 for other paths.
int PdfNumberOf(const QString& path) {
    if (!path.startsWith(QLatin1String("/pdf/"))) {
        return 0;
    }
    return path.mid(5).section(QLatin1Char('.'), 0, 0).toInt();
}

/// The window's options as the user sets them for a night's run: three threads under method 2,
/// 重命名 for equal titles, automatic re-download of failed rows and pages, automatic login.
void SetUpForTheNight(ProgramRun& run, fFileDownload* window) {
    auto* method = window->findChild<QLabel*>(QStringLiteral("Label7"));
    if (method->text() != QStringLiteral("下载方式：2")) {
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("Command26")),
                          Qt::LeftButton);
    }
    ASSERT_EQ(window->options().method, 2);
    window->findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(2);
    ASSERT_EQ(window->options().threadCount, 3);
    QTest::mouseClick(window->findChild<QRadioButton*>(QStringLiteral("Option3")), Qt::LeftButton);
    ASSERT_EQ(window->duplicatePolicy(), DuplicateNamePolicy::Rename);
    window->findChild<QComboBox*>(QStringLiteral("Combo4"))
        ->setCurrentText(QStringLiteral("出错项和文件类型为HTM和HTML项!"));
    auto* again = window->findChild<QCheckBox*>(QStringLiteral("Check3"));
    if (!again->isChecked()) {
        QTest::mouseClick(again, Qt::LeftButton);
    }
    ASSERT_TRUE(window->options().autoRedownload);
    ASSERT_EQ(window->options().autoRedownloadKind, 2);

    LoginPanel* panel = window->loginPanel();
    QTest::mouseClick(run.downloadButton(window, "Command1"), Qt::LeftButton); // 网页登录
    ASSERT_TRUE(panel->isVisible());
    const auto type = [panel](const char* name, const QString& text) {
        auto* line = panel->findChild<QLineEdit*>(QLatin1String(name));
        line->clear();
        QTest::keyClicks(line, text);
    };
    type("Text1", run.site().loginUrl());
    QTest::mouseClick(panel->findChild<QRadioButton*>(QStringLiteral("Option4")), Qt::LeftButton);
    type("Text2", run.site().options().account);
    type("Text3", run.site().options().password);
    auto* autoLogin = panel->findChild<QCheckBox*>(QStringLiteral("Check2"));
    if (!autoLogin->isChecked()) {
        QTest::mouseClick(autoLogin, Qt::LeftButton);
    }
    ASSERT_TRUE(window->options().autoLogin) << run.boxes.texts().join(u'\n').toStdString();
    QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("Command3")), Qt::LeftButton);
}

int FinishedRows(const DownloadListModel& list) {
    int finished = 0;
    for (int row = 0; row < list.count(); ++row) {
        finished += list.item(row).status == ItemStatus::Finished;
    }
    return finished;
}

TEST(LongRun, TwoHundredRecordsAgainstASiteThatPushesBackWithARestartInTheMiddle) {
    QTemporaryDir storeHome;
    const QString storePath = storeHome.path() + QStringLiteral("/queue.sqlite");
    auto store = std::make_unique<ListStore>();
    ASSERT_NE(store->open(storePath).status, StoreOpen::Failed);
    auto keeper = std::make_unique<QueueKeeper>(*store);
    SetActiveQueueKeeper(keeper.get());
    struct KeeperOff {
        ~KeeperOff() { SetActiveQueueKeeper(nullptr); }
    } keeperOff;

    demo::DemoOptions options;
    options.records = kRecords;
    options.perPage = 50;
    options.loginGate = true;
    options.slowRecordMs = 500;
    options.dripIntervalMs = 10;
    options.throttlePerMinute = kPerMinute;
    options.sessionMinutes = 1;
    options.flaky = 0.03;
    options.seed = 2026;
    // The site's request log, with times, where QUILLAX_LONG_RUN_LOG says (a folder).
    options.logTarget = qEnvironmentVariable("QUILLAX_LONG_RUN_LOG");
    ProgramRun run(options);
    ASSERT_TRUE(run.startAndOpenSearch());
    ASSERT_TRUE(run.search());
    const QString folder = run.folder(QStringLiteral("night")) + QLatin1Char('/');
    run.chooserFolder = folder;
    fWebSearch* search = run.searchWindow();
    search->findChild<QComboBox*>(QStringLiteral("Combo2"))->setCurrentText(QStringLiteral("0"));
    QTest::mouseClick(run.searchButton("Command4"), Qt::LeftButton); // 加入全部到列表
    QVector<int> analysed;
    for (int n = 1; n <= kRecords; ++n) {
        if (demo::RecordAt(n).fullText == demo::FullText::Pdf) {
            analysed << n;
        }
    }
    ASSERT_EQ(search->list().count(), analysed.size());
    fFileDownload* downloads = run.analyse();
    ASSERT_NE(downloads, nullptr);
    const QVector<int> items = ItemRecords(analysed);
    ASSERT_EQ(downloads->list().count(), items.size());
    SetUpForTheNight(run, downloads);
    if (HasFailure()) {
        return;
    }

    // The first half of the night.
    QTest::mouseClick(run.downloadButton(downloads, "Command4"), Qt::LeftButton); // 开始下载
    ASSERT_TRUE(QTest::qWaitFor([&] { return FinishedRows(downloads->list()) >= items.size() / 2; },
                                300'000))
        << FinishedRows(downloads->list()) << " rows finished";

    // The window is forced shut while transfers run; what it kept comes back in a new one.
    run.boxes.answer = MsgResult::Yes;
    downloads->close();
    ASSERT_TRUE(QTest::qWaitFor([] { return LoadedDownloadWindow() == nullptr; }, 10'000));
    keeper->flushAndWait();
    SetActiveQueueKeeper(nullptr);
    keeper.reset();
    store = std::make_unique<ListStore>();
    ASSERT_EQ(store->open(storePath).status, StoreOpen::Opened);
    const KeptQueue kept = store->load();
    ASSERT_EQ(kept.downloads.size(), items.size());
    EXPECT_GT(kept.unfinished(), 0);
    keeper = std::make_unique<QueueKeeper>(*store);
    SetActiveQueueKeeper(keeper.get());
    downloads = EnsureDownloadWindow();
    ASSERT_EQ(RestoreKeptQueue({kept.downloads, {}}, &downloads->list(), nullptr), items.size());
    downloads->show();
    SetUpForTheNight(run, downloads);
    if (HasFailure()) {
        return;
    }
    QTest::mouseClick(run.downloadButton(downloads, "Command4"), Qt::LeftButton);
    ASSERT_TRUE(ProgramRun::waitForDownloads(downloads, 600'000)) << "the run did not end";

    // Every PDF the site has is whole under its row's name; the ones it cannot deliver failed;
    // nothing else is in the folder.
    const DownloadListModel& list = downloads->list();
    int stored = 0;
    int pages = 0;
    for (int n : items) {
        SCOPED_TRACE(QStringLiteral("record %1").arg(n).toStdString());
        const int row = list.rowOfKey(run.site().pdfAddress(n));
        ASSERT_GE(row, 0);
        const DownloadItem& item = list.item(row);
        const demo::Delivery delivery = demo::RecordAt(demo::RecordAt(n).pdfNumber).delivery;
        if (delivery == demo::Delivery::NotFound || delivery == demo::Delivery::Truncated) {
            // Failed, or, when the last automatic attempt met a lapsed session, kept as the
            // login page it brought, as every such page is.
            const bool page = item.status == ItemStatus::Finished && IsWebPageType(item.type);
            EXPECT_TRUE(item.status == ItemStatus::Failed || page)
                << static_cast<int>(item.status) << " " << item.type.toStdString();
            pages += page;
            continue;
        }
        EXPECT_EQ(item.status, ItemStatus::Finished) << item.reason.toStdString();
        EXPECT_EQ(item.type, QStringLiteral("pdf"));
        const QString path = folder + item.name + QStringLiteral(".pdf");
        EXPECT_EQ(FileHash(path),
                  QCryptographicHash::hash(demo::PdfBytes(demo::RecordAt(n).pdfNumber),
                                           QCryptographicHash::Sha256)
                      .toHex())
            << path.toStdString();
        ++stored;
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), stored + pages)
        << QDir(folder).entryList(QDir::Files | QDir::Hidden).join(u',').toStdString();

    // What the site saw: PDF requests, refusals, and whether any came inside a wait it asked for.
    const QList<demo::LoggedRequest>& log = run.site().requests();
    ASSERT_LT(log.size(), demo::kMaxLogEntries) << "the site's log lost its first lines";
    const auto serverOf = [&](int pdf) {
        return run.site().pdfAddress(pdf).startsWith(run.site().fullTextBaseUrl()) ? 1 : 0;
    };
    int pdfRequests = 0;
    int refused = 0;
    int logins = 0;
    int inside = 0;
    qint64 firstPdfMs = -1;
    qint64 lastPdfMs = -1;
    int delivered[2] = {0, 0};
    for (qsizetype i = 0; i < log.size(); ++i) {
        const demo::LoggedRequest& r = log[i];
        logins += r.method == "POST" && r.path.startsWith(QLatin1String("/login"));
        const int pdf = PdfNumberOf(r.path);
        if (pdf == 0) {
            continue;
        }
        ++pdfRequests;
        if (firstPdfMs < 0) {
            firstPdfMs = r.atMs;
        }
        const demo::Delivery delivery = demo::RecordAt(pdf).delivery;
        if (r.status == 200 && delivery != demo::Delivery::Truncated) {
            lastPdfMs = r.atMs; // the last PDF delivered whole (or a login page)
        }
        if (r.retryAfter < 0) {
            continue;
        }
        ++refused;
        // Nothing new to the same server until the wait is over; a request already on its way
        // when the refusal went out is no fault of the client.
        for (qsizetype j = i + 1; j < log.size(); ++j) {
            const int later = PdfNumberOf(log[j].path);
            if (later != 0 && serverOf(later) == serverOf(pdf) && log[j].atMs > r.atMs + 250 &&
                log[j].atMs < r.atMs + r.retryAfter * 1000) {
                ++inside;
                ADD_FAILURE() << log[j].path.toStdString() << " came " << log[j].atMs - r.atMs
                              << " ms into a wait of " << r.retryAfter << " s";
            }
        }
    }
    for (int n : items) {
        const demo::Delivery delivery = demo::RecordAt(demo::RecordAt(n).pdfNumber).delivery;
        if (delivery != demo::Delivery::NotFound && delivery != demo::Delivery::Truncated) {
            ++delivered[serverOf(demo::RecordAt(n).pdfNumber)];
        }
    }
    const double perPdf = stored > 0 ? double(pdfRequests) / stored : 0;
    // Each server lets one PDF through a second and the two run side by side: no client can be
    // done sooner than the busier server's count allows.
    const qint64 minimumMs = (std::max(delivered[0], delivered[1]) - 1) * kSpacingMs;
    const qint64 wallMs = lastPdfMs - firstPdfMs;
    std::printf("long run: %d PDFs stored, %d PDF requests (%.2f per PDF), %d refused, %d logins, "
                "%d inside a wait; %.1f s from the first PDF request to the last PDF delivered, "
                "against a throttle minimum of %.1f s: %.2fx\n",
                stored, pdfRequests, perPdf, refused, logins, inside, wallMs / 1000.0,
                minimumMs / 1000.0, minimumMs > 0 ? double(wallMs) / minimumMs : 0.0);
    std::fflush(stdout);
    EXPECT_EQ(inside, 0);
    EXPECT_GT(refused, 0); // the site really pushed back
    EXPECT_GE(logins, 2);  // the session lapsed during the run, and a login brought it back
    // At most 1.3 requests per PDF, plus the logins' cost: a lapsed session gives each of the
    // three threads one login page before the login runs.
    EXPECT_LE(pdfRequests * 10, stored * 13 + 30 * logins) << "requests per PDF: " << perPdf;
}

} // namespace
