// Analysis of 300 demo records with the download window on screen and minimised, on a real X
// display (run it under xvfb-run: the xcb platform composes through OpenGL, software-rendered
// where there is no graphics card, which the offscreen platform never does). Prints the wall
// time and the CPU time of each. Goal: visible at most 1.3 × minimised, mean CPU under 50 % of
// one core.

#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"
#include "ui/shell/fSeleFileSavePath.h"

#include "DemoSite.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillax;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

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
    if (geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
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

    demo::DemoOptions options;
    options.records = 300;
    options.perPage = 300;
    options.slowRecordMs = 0;
    demo::DemoSite site(options);
    if (!site.start()) {
        return 1;
    }
    fWebSearch w(settings, Values());
    w.resize(1200, 800);
    w.show();
    if (!load(w, site.baseUrl() + QStringLiteral("results?q=x&page=1"))) {
        std::printf("the result page did not load\n");
        return 1;
    }
    std::printf("platform %s\n", QApplication::platformName().toUtf8().constData());
    for (const bool visible : {true, false, true, false}) {
        fFileDownload* downloads = EnsureDownloadWindow();
        downloads->list().clear();
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
        const double cpu0 = cpuSeconds();
        w.runAnalysis(AnalysisRun::All);
        const double wall = static_cast<double>(t.elapsed()) / 1000.0;
        const double cpu = cpuSeconds() - cpu0;
        std::printf("analysis of %d records, download window %s: %.1f s wall, %.1f s CPU (%.0f %% "
                    "of one core), %d items handed over\n",
                    rows, visible ? "visible  " : "minimised", wall, cpu, cpu / wall * 100.0,
                    downloads->list().count());
    }
    return 0;
}
