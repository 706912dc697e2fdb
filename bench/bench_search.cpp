// Measures the search side: ExtractResultPage on a 50-entry result page in the real embedded
// browser (goal: under 200 ms per page), and the CPU that HttpGetText uses while it waits 10 s
// on a server that never answers (goal: under 5 % of one core).

#include "core/search/AnalysisListModel.h"
#include "core/search/HttpFetch.h"
#include "platform/WebBrowser.h"
#include "ui/search/ResultPageReader.h"

#include "BenchSupport.h"
#include "ResultPageFixture.h"
#include "TestHttpServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace quillax;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking");
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);

    test::TestHttpServer server;
    QVector<test::FixtureEntry> entries;
    for (int i = 1; i <= 50; ++i) {
        entries << test::NormalEntry(i);
    }
    server.route("/results", test::Serve(test::ResultPage(entries), "text/html; charset=utf-8"));
    test::Route silent;
    silent.delayHeadersMs = -1;
    server.route("/silent", silent);

    WebBrowser browser;
    browser.resize(1024, 768);
    QSignalSpy done(&browser, &WebBrowser::DocumentComplete);
    browser.Navigate(server.url(QStringLiteral("/results")));
    if (!done.wait(30000)) {
        std::fprintf(stderr, "the result page did not load\n");
        return 1;
    }

    std::vector<double> times;
    int rows = 0;
    for (int run = 0; run < 21; ++run) {
        AnalysisListModel list;
        QElapsedTimer t;
        t.start();
        ExtractResultPage(browser.page(), list, QStringLiteral("/papers/"));
        times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        rows = list.count();
    }
    std::sort(times.begin(), times.end());
    std::printf("ExtractResultPage, 50 entries: %d rows, median %.1f ms, worst %.1f ms\n", rows,
                times[times.size() / 2], times.back());

    const double before = bench::CpuSeconds();
    QElapsedTimer t;
    t.start();
    const QString text = HttpGetText(server.url(QStringLiteral("/silent")), QStringLiteral("utf-8"),
                                     QString(), 10'000);
    const double waited = static_cast<double>(t.elapsed()) / 1000.0;
    const double cpu = bench::CpuSeconds() - before;
    std::printf("HttpGetText on a silent server: %.1f s, CPU %.3f s = %.2f %% of one core%s\n",
                waited, cpu, 100.0 * cpu / waited, text.isEmpty() ? "" : " (unexpected text)");
    return 0;
}
