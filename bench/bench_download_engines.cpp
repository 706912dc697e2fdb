// Download engine benchmarks against a local file server in its own process:
//  1. one 200 MB file, single stream (method 1) against `curl -o`;
//  2. six 200 MB files on six threads (method 2) against six parallel curl processes;
//  3. the worst gap between ticks of a 10 ms timer during each engine run;
//  4. CPU time used while the single stream waits 10 s on a server that sends nothing.
// The download list is shown in a view, as a user would have it. Goals: wall time at most
// 1.2 × curl's, peak resident memory of the six-thread run under 100 MiB, worst timer gap under
// 50 ms (100 ms when a file is finalised), idle cost under 1 % of one core.

#include "download/DownloadListModel.h"
#include "download/DownloadOptions.h"
#include "download/InetEngine.h"
#include "download/ParallelDownloads.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillax;

namespace {

// Peak resident memory since the last reset, in MiB.
double peakRssMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return -1;
}

void resetPeakRss() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Watches a 10 ms timer and keeps the largest gap between its ticks.
class GapWatch {
public:
    GapWatch() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            worst_ = std::max(worst_, now - last_);
            last_ = now;
        });
    }
    void start() {
        clock_.start();
        last_ = 0;
        worst_ = 0;
        timer_.start(10);
    }
    qint64 stop() {
        timer_.stop();
        return worst_;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

// Every run starts with the disk settled: the data an earlier run left to be written would
// otherwise slow whichever contender comes next.
void settleDisk() {
    ::sync();
}

double runCurls(const QString& base, int count, const QString& dir) {
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
    for (auto& p : curls) {
        p->waitForFinished(-1);
    }
    return static_cast<double>(t.elapsed()) / 1000.0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 bytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200LL * 1024 * 1024;

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

    std::printf("file size: %lld MB\n\n", static_cast<long long>(bytes / 1024 / 1024));
    std::printf("%-34s %10s %12s %14s\n", "run", "wall (s)", "worst gap", "peak RSS (MiB)");

    // 1. Single stream against curl.
    const double curlOne = runCurls(base, 1, tmp.path());
    std::printf("%-34s %10.2f %12s %14s\n", "curl -o, one file", curlOne, "-", "-");
    InetEngine engine(list, state, options, timeouts);
    list.addItem(base + QStringLiteral("/big0"), QStringLiteral("single"), QStringLiteral("pdf"),
                 tmp.path() + QLatin1Char('/'), QString());
    settleDisk();
    resetPeakRss();
    gaps.start();
    QElapsedTimer t;
    t.start();
    engine.Inet下载当前文件(0);
    const double single = static_cast<double>(t.elapsed()) / 1000.0;
    std::printf("%-34s %10.2f %9lld ms %14.1f   (status %d, %.2f x curl)\n", "method 1, one file",
                single, static_cast<long long>(gaps.stop()), peakRssMiB(),
                static_cast<int>(list.item(0).status), single / curlOne);

    // 2. Six threads against six curls.
    const double curlSix = runCurls(base, 6, tmp.path());
    std::printf("%-34s %10.2f %12s %14s\n", "six curl processes", curlSix, "-", "-");
    for (int i = 0; i < 6; ++i) {
        QFile::remove(tmp.path() + QStringLiteral("/curl%1.bin").arg(i));
    }
    ParallelDownloads threads(list, state, options, timeouts);
    settleDisk();
    resetPeakRss();
    gaps.start();
    t.restart();
    for (int k = 1; k <= 6; ++k) {
        list.addItem(base + QStringLiteral("/big%1").arg(k - 1) + QStringLiteral("?t"),
                     QStringLiteral("thread%1").arg(k), QStringLiteral("pdf"),
                     tmp.path() + QLatin1Char('/'), QString());
        const int row = list.count() - 1;
        state.ThreadItemIndex[static_cast<std::size_t>(k)] = row + 1;
        threads.多线程下载(k, row + 1, base + QStringLiteral("/big%1").arg(k - 1),
                           tmp.path() + QStringLiteral("/thread%1.pdf").arg(k));
    }
    while (threads.统计下载控件数目() > 1) {
        QTest::qWait(5);
    }
    const double six = static_cast<double>(t.elapsed()) / 1000.0;
    int stored = 0;
    for (int row = 1; row < list.count(); ++row) {
        stored += list.item(row).status == ItemStatus::Finished ? 1 : 0;
    }
    std::printf("%-34s %10.2f %9lld ms %14.1f   (%d of 6 stored, %.2f x curl)\n",
                "method 2, six threads", six, static_cast<long long>(gaps.stop()), peakRssMiB(),
                stored, six / curlSix);

    // 3. Idle cost while waiting on a server that sends nothing.
    timeouts.headerWaitMs = 10'000;
    state.IsDownloading = false; // the six threads have ended
    list.addItem(base + QStringLiteral("/silent"), QStringLiteral("silent"), QStringLiteral("pdf"),
                 tmp.path() + QLatin1Char('/'), QString());
    const double cpuBefore = cpuSeconds();
    t.restart();
    engine.Inet下载当前文件(list.count() - 1);
    const double waited = static_cast<double>(t.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("\nidle wait: %.1f s, CPU %.3f s = %.2f %% of one core\n", waited, cpu,
                100.0 * cpu / waited);

    server.kill();
    server.waitForFinished();
    return 0;
}
