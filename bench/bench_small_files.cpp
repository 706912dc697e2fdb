// Throughput of many files, with the program's own start-timer settings (one tick a second, no
// interval), method 2 with six threads:
// - 120 files of 20 KB from a local server (goal: under 3 s);
// - the PDFs of 300 demo records (about 290 PDFs, 210 MiB) on the loopback (goal: under 10 s).
// Prints the median of three runs and each run's figure.

#include "DemoSite.h"
#include "TestHttpServer.h"
#include "core/download/DownloadScheduler.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quillax;
using namespace quillax::test;

namespace {

double runOnce(const QStringList& addresses) {
    QTemporaryDir target;
    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    options.method = 2;
    options.threadCount = 6;
    options.maxFileSizeMB = 100;
    const DownloadTimeouts timeouts; // the program's own
    for (int i = 0; i < addresses.size(); ++i) {
        list.addItem(addresses[i], QStringLiteral("F%1").arg(i), QStringLiteral("pdf"),
                     target.path() + QLatin1Char('/'), QString());
    }
    DownloadScheduler scheduler(list, state, options, timeouts);
    QElapsedTimer clock;
    clock.start();
    scheduler.Start(); // as the button does: the first tick comes from the timer
    const bool done = QTest::qWaitFor([&] { return list.检测是否下载列表完毕(); }, 300'000);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    scheduler.StopTimers();
    return done ? seconds : -1;
}

void report(const char* what, const QStringList& addresses, double goal) {
    std::vector<double> times;
    for (int run = 0; run < 3; ++run) {
        times.push_back(runOnce(addresses));
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[1];
    std::printf("%s: median %.2f s (%.1f files/s) [%.2f %.2f %.2f]; goal < %.0f s\n", what, median,
                median > 0 ? addresses.size() / median : 0.0, times[0], times[1], times[2], goal);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int kFiles = 120;
    TestHttpServer server;
    const QByteArray body = "%PDF-1.4\n" + QByteArray(20 * 1024, 'x') + "\n%%EOF\n";
    QStringList small;
    for (int i = 0; i < kFiles; ++i) {
        server.route("/f" + QByteArray::number(i) + ".pdf", Serve(body, "application/pdf"));
        small << server.url(QStringLiteral("/f%1.pdf").arg(i));
    }
    report("small files: 120 x 20 KB, method 2, six threads", small, 3);

    demo::DemoOptions options;
    options.records = 300;
    options.loginGate = false;
    demo::DemoSite site(options);
    if (!site.start()) {
        std::fprintf(stderr, "the demo site did not start\n");
        return 1;
    }
    QStringList pdfs;
    for (int n = 1; n <= options.records; ++n) {
        const demo::DemoRecord r = demo::RecordAt(n);
        // The PDFs a user's list holds: each record's own, no slow drip.
        if (r.fullText == demo::FullText::Pdf && r.pdfNumber == n &&
            r.delivery != demo::Delivery::Drip) {
            pdfs << site.pdfAddress(n);
        }
    }
    report(QStringLiteral("demo PDFs: %1 files, method 2, six threads")
               .arg(pdfs.size())
               .toUtf8()
               .constData(),
           pdfs, 10);
    return 0;
}
