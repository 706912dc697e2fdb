// Analysis of 300 demo records with the download window on screen and minimised, on a real X
// display (run it under xvfb-run: the xcb platform composes through OpenGL, software-rendered
// where there is no graphics card, which the offscreen platform never does). Prints the wall
// time and the CPU time of each, and how often the download list was repainted for the rows it
// got. Goal: visible at most 1.3 × minimised, mean CPU under 50 % of one core. The demo site runs
// in its own process, so the CPU time is the program's alone.

#include "TestSupport.h"
#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/fSeleFileSavePath.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <unistd.h>

using namespace quillax;

namespace {

bool load(fWebSearch& w, const QString& url) {
    QSignalSpy done(w.browser(), &WebBrowser::DocumentComplete);
    w.browser()->Navigate(url);
    return done.wait(20000) || !done.isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    }
    QTemporaryDir home;
    bench::PrepareWindowProcess(home.path());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillax"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QTimer chooserWatch; // any save-folder chooser is confirmed with the folder it shows
    chooserWatch.setInterval(50);
    QObject::connect(&chooserWatch, &QTimer::timeout, [] {
        if (auto* chooser = qobject_cast<fSeleFileSavePath*>(QApplication::activeModalWidget())) {
            chooser->确定();
        }
    });
    chooserWatch.start();
    SettingsStore settings(home.path() + QStringLiteral("/bench.ini"));
    settings.write(QStringLiteral("设置"), QStringLiteral("提取网页信息时提示下载保存路径"),
                   QStringLiteral("0"));
    Values().SaveFolder = home.path() + QStringLiteral("/papers/");

    // The site in a process of its own: its work is not the program's.
    QProcess site;
    site.setProgram(QStringLiteral(QUILLAX_DEMO_SITE));
    site.setArguments({QStringLiteral("--records"), QStringLiteral("300"),
                       QStringLiteral("--per-page"), QStringLiteral("300"),
                       QStringLiteral("--slow-ms"), QStringLiteral("0"), QStringLiteral("--login"),
                       QStringLiteral("off"), QStringLiteral("--exit-with-pid"),
                       QString::number(QCoreApplication::applicationPid())});
    site.start();
    QString baseUrl;
    for (int i = 0; i < 100 && baseUrl.isEmpty() && site.waitForReadyRead(5000); ++i) {
        while (site.canReadLine()) {
            const QString line = QString::fromUtf8(site.readLine()).trimmed();
            if (line.startsWith(QLatin1String("listening "))) {
                baseUrl = line.mid(10);
            }
        }
    }
    if (baseUrl.isEmpty()) {
        std::printf("the demo site did not start\n");
        return 1;
    }
    fWebSearch w(settings, Values());
    w.resize(1200, 800);
    w.show();
    if (!load(w, baseUrl + QStringLiteral("results?q=x&page=1"))) {
        std::printf("the result page did not load\n");
        return 1;
    }
    std::printf("platform %s\n", QApplication::platformName().toUtf8().constData());
    for (const bool visible : {true, false, true, false}) {
        fFileDownload* downloads = EnsureDownloadWindow();
        downloads->list().clear();
        test::PaintCounter listPaints;
        downloads->listView()->viewport()->installEventFilter(&listPaints);
        if (visible) {
            downloads->showNormal();
        } else {
            downloads->showMinimized();
        }
        w.list().clear();
        w.加入本页到列表();
        QCoreApplication::processEvents();
        const int rows = w.list().count();
        QElapsedTimer t;
        t.start();
        const double cpu0 = bench::CpuSeconds();
        w.runAnalysis(AnalysisRun::All);
        const double wall = static_cast<double>(t.elapsed()) / 1000.0;
        const double cpu = bench::CpuSeconds() - cpu0;
        std::printf("analysis of %d records, download window %s: %.1f s wall, %.1f s CPU (%.0f %% "
                    "of one core), %d items handed over, the list repainted %d times\n",
                    rows, visible ? "visible  " : "minimised", wall, cpu, cpu / wall * 100.0,
                    downloads->list().count(), listPaints.paints);
        downloads->listView()->viewport()->removeEventFilter(&listPaints);
    }
    return 0;
}
