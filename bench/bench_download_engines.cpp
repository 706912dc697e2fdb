// Download engine benchmarks against a local file server in its own process:
//  1. one 200 MB file, single stream (method 1) against `curl -o`;
//  2. six 200 MB files on six threads (method 2) against six parallel curl processes, on a quiet
//     machine and again beside two CPU hogs (`stress-ng --cpu 2`) that the benchmark starts and
//     stops itself;
//  3. the worst gap between ticks of a 10 ms timer during each engine run, overall and away from
//     the moments a file is finalised;
//  4. CPU time used while the single stream waits 10 s on a server that sends nothing.
// One server process serves every contender; contenders take turns run by run, each run starts
// on a synced disk, and the median of five runs is printed with each run's figure in brackets.
// The download list is shown in a view, as a user would have it. Goals: method 2 at most 1.0 ×
// six curls, method 1 at most 1.05 × curl, peak resident memory of the six-thread run under
// 85 MiB, worst timer gap under 16 ms on a quiet machine and under 50 ms beside the hogs, idle
// cost under 1 % of one core. `--help` lists the arguments.

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadOptions.h"
#include "core/download/InetEngine.h"
#include "core/download/ParallelDownloads.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace quillax;

namespace {

// Peak resident memory since the last reset, in MiB.
void resetPeakRss() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

// Watches a 10 ms timer and keeps every gap between its ticks.
class GapWatch {
public:
    GapWatch() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            gaps_.push_back({last_, now});
            last_ = now;
        });
    }
    void start() {
        clock_.start();
        last_ = 0;
        gaps_.clear();
        timer_.start(10);
    }
    qint64 now() const { return clock_.elapsed(); }
    qint64 stop() {
        timer_.stop();
        return worstAwayFrom({}, 0);
    }
    /// The worst gap among those that do not come within `marginMs` of any of `moments`.
    qint64 worstAwayFrom(const std::vector<qint64>& moments, qint64 marginMs) const {
        qint64 worst = 0;
        for (const auto& [from, to] : gaps_) {
            const bool near = std::any_of(moments.begin(), moments.end(), [&](qint64 m) {
                return m >= from - marginMs && m <= to + marginMs;
            });
            if (!near) {
                worst = std::max(worst, to - from);
            }
        }
        return worst;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    std::vector<std::pair<qint64, qint64>> gaps_;
};

// Every run starts with the disk settled: the data an earlier run left to be written would
// otherwise slow whichever contender comes next.
void settleDisk() {
    ::sync();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QString joined(const std::vector<double>& v) {
    QStringList parts;
    for (double x : v) {
        parts << QString::number(x, 'f', 2);
    }
    return parts.join(QLatin1Char(' '));
}

/// Runs `count` curls at once. `gaps`, when given, watches this otherwise idle process's timer
/// meanwhile: the machine's own latency under the same load, to read the engines' gaps against.
double runCurls(const QString& base, int count, const QString& dir, GapWatch* gaps = nullptr,
                qint64* worstGap = nullptr) {
    for (int i = 0; i < count; ++i) {
        QFile::remove(dir + QStringLiteral("/curl%1.bin").arg(i));
    }
    settleDisk();
    QElapsedTimer t;
    t.start();
    std::vector<std::unique_ptr<QProcess>> curls;
    for (int i = 0; i < count; ++i) {
        auto p = std::make_unique<QProcess>();
        p->start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"),
                                          dir + QStringLiteral("/curl%1.bin").arg(i),
                                          base + QStringLiteral("/big%1").arg(i)});
        curls.push_back(std::move(p));
    }
    if (gaps != nullptr) {
        gaps->start();
    }
    while (std::any_of(curls.begin(), curls.end(),
                       [](const auto& p) { return p->state() != QProcess::NotRunning; })) {
        QTest::qWait(2);
    }
    const double wall = static_cast<double>(t.elapsed()) / 1000.0;
    if (gaps != nullptr && worstGap != nullptr) {
        *worstGap = std::max(*worstGap, gaps->stop());
    }
    for (int i = 0; i < count; ++i) {
        QFile::remove(dir + QStringLiteral("/curl%1.bin").arg(i));
    }
    return wall;
}

struct EngineRun {
    double wall = 0;
    qint64 worstGap = 0;
    qint64 worstGapAwayFromFinish = 0;
    double peakRss = 0;
    double windowCpu = 0; ///< seconds the window thread ran
    int stored = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const char* const usage =
        "usage: bench_download_engines [BYTES] [--runs N] [--only single|parallel] [--no-load]\n"
        "  BYTES      size of each file (default 209715200, 200 MiB)\n"
        "  --runs N   runs per contender; the median is printed (default 5)\n"
        "  --only     one part alone, for profiling\n"
        "  --no-load  leave out the six-thread run beside two CPU hogs (stress-ng --cpu 2)\n";
    qint64 bytes = 200LL * 1024 * 1024;
    int runs = 5;
    QString only;
    bool loaded = true;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        bool number = true;
        if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h")) {
            std::printf("%s", usage);
            return 0;
        }
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size()) {
            runs = args[++i].toInt(&number);
            number = number && runs >= 1;
        } else if (args[i] == QLatin1String("--only") && i + 1 < args.size()) {
            only = args[++i];
            number = only == QLatin1String("single") || only == QLatin1String("parallel");
        } else if (args[i] == QLatin1String("--no-load")) {
            loaded = false;
        } else {
            bytes = args[i].toLongLong(&number);
            number = number && bytes > 0;
        }
        if (!number) {
            // A word read as a size of 0 MB would run a benchmark of nothing.
            std::fprintf(stderr, "bad argument: %s\n%s", qPrintable(args[i]), usage);
            return 2;
        }
    }
    const bool doSingle = only.isEmpty() || only == QLatin1String("single");
    const bool doParallel = only.isEmpty() || only == QLatin1String("parallel");

    // One server process for every contender and every run.
    QProcess server;
    server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_server"),
                 {QString::number(bytes)});
    if (!server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "the file server did not start\n");
        return 1;
    }
    const QString base =
        QStringLiteral("http://127.0.0.1:%1").arg(QString::fromLatin1(server.readLine().trimmed()));
    QTemporaryDir tmp;

    DownloadListModel list;
    DownloadWindowState state;
    DownloadOptions options;
    options.maxFileSizeMB = static_cast<double>(bytes) / 1024 / 1024 + 1;
    DownloadTimeouts timeouts;
    QTreeView view;
    view.setModel(&list);
    view.resize(900, 400);
    view.show();
    GapWatch gaps;

    std::printf(
        "file size: %lld MB, folder %s, median of %d runs (each run's wall in brackets)\n\n",
        static_cast<long long>(bytes / 1024 / 1024), qPrintable(tmp.path()), runs);
    std::printf("%-24s %9s %11s %11s %10s\n", "run", "wall (s)", "worst gap", "gap w/o fin",
                "peak RSS");

    InetEngine engine(list, state, options, timeouts);
    QElapsedTimer t;
    QTest::qWait(200);
    std::printf("%-24s %9s %11s %11s %10.1f\n", "at rest, list shown", "-", "-", "-",
                bench::ProcStatusMiB("VmRSS:"));

    // 1. Single stream against curl, runs interleaved so both see the same machine.
    if (doSingle) {
        std::vector<double> curlWalls;
        std::vector<double> walls;
        qint64 worstGap = 0;
        double rss = 0;
        int stored = 0;
        for (int run = 0; run < runs; ++run) {
            curlWalls.push_back(runCurls(base, 1, tmp.path()));
            list.clear();
            QFile::remove(tmp.path() + QStringLiteral("/single.pdf"));
            list.addItem(base + QStringLiteral("/big0"), QStringLiteral("single"),
                         QStringLiteral("pdf"), tmp.path() + QLatin1Char('/'), QString());
            settleDisk();
            resetPeakRss();
            gaps.start();
            t.start();
            engine.Inet下载当前文件(0);
            walls.push_back(static_cast<double>(t.elapsed()) / 1000.0);
            worstGap = std::max(worstGap, gaps.stop());
            rss = std::max(rss, bench::ProcStatusMiB("VmHWM:"));
            stored += list.item(0).status == ItemStatus::Finished ? 1 : 0;
        }
        std::printf("%-24s %9.2f %11s %11s %10s   [%s]\n", "curl -o, one file", median(curlWalls),
                    "-", "-", "-", qPrintable(joined(curlWalls)));
        std::printf("%-24s %9.2f %8lld ms %11s %10.1f   [%s] %d of %d stored, %.2f x curl\n",
                    "method 1, one file", median(walls), static_cast<long long>(worstGap), "-", rss,
                    qPrintable(joined(walls)), stored, runs, median(walls) / median(curlWalls));
    }

    // 2. Six threads against six curls; then the same beside two CPU hogs that this benchmark
    // starts and stops, so that runs on a busy machine can be compared from run to run.
    const auto parallelRuns = [&](bool withHogs) {
        QProcess hogs;
        if (withHogs) {
            hogs.start(QStringLiteral("stress-ng"),
                       {QStringLiteral("--cpu"), QStringLiteral("2"), QStringLiteral("--quiet"),
                        // never outlives a benchmark that is killed
                        QStringLiteral("--timeout"), QStringLiteral("900")});
            if (!hogs.waitForStarted(5000)) {
                std::printf("stress-ng did not start: the loaded run is left out\n");
                return;
            }
            QTest::qWait(500); // the hogs are at work before the first contender
        }
        ParallelDownloads threads(list, state, options, timeouts);
        std::vector<double> curlWalls;
        std::vector<EngineRun> results;
        qint64 idleGap = 0;
        for (int run = 0; run < runs; ++run) {
            curlWalls.push_back(runCurls(base, 6, tmp.path(), &gaps, &idleGap));
            list.clear();
            for (int k = 1; k <= 6; ++k) {
                QFile::remove(tmp.path() + QStringLiteral("/thread%1.pdf").arg(k));
            }
            settleDisk();
            resetPeakRss();
            // A gap that spans the moment a file is finalised has a looser goal than the rest.
            std::vector<qint64> finishes;
            gaps.start();
            t.restart();
            const double windowCpuBefore = bench::ThreadCpuSeconds();
            for (int k = 1; k <= 6; ++k) {
                list.addItem(base + QStringLiteral("/big%1").arg(k - 1) + QStringLiteral("?t"),
                             QStringLiteral("thread%1").arg(k), QStringLiteral("pdf"),
                             tmp.path() + QLatin1Char('/'), QString());
                const int row = list.count() - 1;
                state.ThreadItemIndex[static_cast<std::size_t>(k)] = row + 1;
                threads.多线程下载(k, row + 1, base + QStringLiteral("/big%1").arg(k - 1),
                                   tmp.path() + QStringLiteral("/thread%1.pdf").arg(k));
                QObject::connect(threads.member(k), &Downloader::DownloadComplete, &app,
                                 [&] { finishes.push_back(gaps.now()); });
            }
            while (threads.统计下载控件数目() > 1) {
                QTest::qWait(5);
            }
            EngineRun r;
            r.wall = static_cast<double>(t.elapsed()) / 1000.0;
            r.windowCpu = bench::ThreadCpuSeconds() - windowCpuBefore;
            r.worstGap = gaps.stop();
            r.worstGapAwayFromFinish = gaps.worstAwayFrom(finishes, 20);
            r.peakRss = bench::ProcStatusMiB("VmHWM:");
            for (int row = 0; row < list.count(); ++row) {
                r.stored += list.item(row).status == ItemStatus::Finished ? 1 : 0;
            }
            results.push_back(r);
        }
        std::vector<double> walls;
        qint64 worstGap = 0;
        qint64 worstAway = 0;
        double rss = 0;
        int stored = 0;
        std::vector<double> windowShares;
        for (const EngineRun& r : results) {
            walls.push_back(r.wall);
            windowShares.push_back(100.0 * r.windowCpu / r.wall);
            worstGap = std::max(worstGap, r.worstGap);
            worstAway = std::max(worstAway, r.worstGapAwayFromFinish);
            rss = std::max(rss, r.peakRss);
            stored += r.stored;
        }
        // The curls' gap is this process's timer while it does nothing else.
        std::printf("%-24s %9.2f %8lld ms %11s %10s   [%s]\n",
                    withHogs ? "six curls, 2 CPU hogs" : "six curl processes", median(curlWalls),
                    static_cast<long long>(idleGap), "-", "-", qPrintable(joined(curlWalls)));
        std::printf("%-24s %9.2f %8lld ms %8lld ms %10.1f   [%s] %d of %d stored, %.2f x curl\n",
                    withHogs ? "method 2, 2 CPU hogs" : "method 2, six threads", median(walls),
                    static_cast<long long>(worstGap), static_cast<long long>(worstAway), rss,
                    qPrintable(joined(walls)), stored, 6 * runs, median(walls) / median(curlWalls));
        // What the window thread itself did: a small share means the gaps above are the
        // machine's scheduling of a busy processor, not work of the window's.
        std::printf("%-24s window thread busy %.0f %% of the run [%s]\n", "", median(windowShares),
                    qPrintable(joined(windowShares)));
        if (withHogs) {
            hogs.terminate();
            if (!hogs.waitForFinished(5000)) {
                hogs.kill();
                hogs.waitForFinished();
            }
        }
    };
    if (doParallel) {
        parallelRuns(false);
        if (loaded) {
            parallelRuns(true);
        }
    }

    // 3. Idle cost while waiting on a server that sends nothing.
    if (only.isEmpty()) {
        timeouts.headerWaitMs = 10'000;
        state.IsDownloading = false; // the six threads have ended
        list.addItem(base + QStringLiteral("/silent"), QStringLiteral("silent"),
                     QStringLiteral("pdf"), tmp.path() + QLatin1Char('/'), QString());
        const double cpuBefore = bench::CpuSeconds();
        t.restart();
        engine.Inet下载当前文件(list.count() - 1);
        const double waited = static_cast<double>(t.elapsed()) / 1000.0;
        const double cpu = bench::CpuSeconds() - cpuBefore;
        std::printf("\nidle wait: %.1f s, CPU %.3f s = %.2f %% of one core\n", waited, cpu,
                    100.0 * cpu / waited);
    }

    server.kill();
    server.waitForFinished();
    return 0;
}
