// Against a real throttling web server (Debian's nginx: one request a second, a burst of two,
// then 429 with Retry-After: 5), a list of PDFs under method 2 with three threads and automatic
// re-download arrives whole, politely: no request inside a pause the server asked for, and few
// requests per PDF.

#include "NginxServer.h"
#include "TestSupport.h"
#include "core/download/DownloadScheduler.h"
#include "core/download/ServerPauses.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace quillax;
using namespace quillax::test;

namespace {

QByteArray sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

TEST(ThrottlingServer, EveryPdfArrivesWholeAndNoRequestFallsInsideAPause) {
    if (!NginxServer::available()) {
        GTEST_SKIP() << "nginx is not installed";
    }
    constexpr int kPdfs = 15;
    QTemporaryDir site;
    QTemporaryDir target;
    QHash<QString, QByteArray> hashes;
    QRandomGenerator random(7);
    for (int i = 0; i < kPdfs; ++i) {
        QByteArray body = "%PDF-1.4\n";
        while (body.size() < 40'000) {
            body.append(static_cast<char>(random.bounded(256)));
        }
        body.append("\n%%EOF\n");
        const QString name = QStringLiteral("paper%1").arg(i);
        ASSERT_TRUE(
            WriteFile(site.path() + QLatin1Char('/') + name + QStringLiteral(".pdf"), body));
        hashes.insert(name, sha256(body));
    }
    NginxServer nginx({site.path(), 1, 2, 5});
    QString why;
    ASSERT_TRUE(nginx.start(&why)) << why.toStdString();

    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    options.method = 2;
    options.threadCount = 3;
    options.autoRedownload = true;
    options.autoRedownloadKind = static_cast<int>(AutoRedownloadKind::FailedAndWebPages);
    DownloadTimeouts timeouts;
    timeouts.tickMs = 100;
    const QString folder = target.path() + QLatin1Char('/');
    for (int i = 0; i < kPdfs; ++i) {
        const QString name = QStringLiteral("paper%1").arg(i);
        list.addItem(nginx.baseUrl() + name + QStringLiteral(".pdf"), name, QStringLiteral("pdf"),
                     folder, QString());
    }
    DownloadScheduler scheduler(list, state, options, timeouts);
    scheduler.pdfChecks().setAutomatic(false); // the bodies are a PDF signature over filler
    scheduler.StartMonitor();
    scheduler.Start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return list.statusCounts().finished == kPdfs && !scheduler.isRunning(); }, 120'000))
        << list.summaryText().toStdString();
    scheduler.StopTimers();

    for (int i = 0; i < kPdfs; ++i) {
        const QString name = QStringLiteral("paper%1").arg(i);
        EXPECT_EQ(list.item(i).status, ItemStatus::Finished) << i;
        EXPECT_EQ(sha256(ReadFile(folder + name + QStringLiteral(".pdf"))), hashes.value(name))
            << i;
    }
    // Nothing but the papers: no stored refusal page, no part file, no placeholder.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return QDir(folder).entryList(QDir::Files | QDir::Hidden).size() == kPdfs; }, 3000))
        << QDir(folder).entryList(QDir::Files | QDir::Hidden).join(u',').toStdString();

    const QList<NginxLogEntry> log = nginx.accessLog();
    int refused = 0;
    int inside = 0;
    for (const NginxLogEntry& refusal : log) {
        if (refusal.status != 429) {
            continue;
        }
        ++refused;
        EXPECT_EQ(refusal.retryAfter, QStringLiteral("5"));
        const qint64 from = static_cast<qint64>(refusal.msec * 1000.0);
        for (const NginxLogEntry& request : log) {
            // A request already on its way when the refusal went out is no fault of the client;
            // a quarter of a second covers that on one machine.
            const qint64 at = request.arrivedMs();
            if (at > from + 250 && at < from + 5'000) {
                ++inside;
                ADD_FAILURE() << request.uri.toStdString() << " arrived " << (at - from)
                              << " ms into a 5 s pause";
            }
        }
    }
    EXPECT_EQ(inside, 0);
    EXPECT_GT(refused, 0); // the throttle really pushed back
    EXPECT_LE(log.size(), kPdfs * 3 / 2) << "requests per PDF: " << double(log.size()) / kPdfs;
    std::printf("nginx throttle: %lld requests for %d PDFs (%.2f per PDF), %d refused\n",
                static_cast<long long>(log.size()), kPdfs, double(log.size()) / kPdfs, refused);
}

} // namespace
