// Memory at rest: the resident set of the program's process with the download window alone on
// screen, then with the login panel shown (which makes its browser view), then with the search
// window. Offscreen platform; the user's settings are not touched.

#include "core/settings/AppValues.h"
#include "core/settings/SettingsStore.h"
#include "platform/WebBrowser.h"
#include "ui/download/DownloadWindowHost.h"
#include "ui/download/LoginPanel.h"
#include "ui/download/fFileDownload.h"
#include "ui/search/fWebSearch.h"

#include "BenchSupport.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using namespace quillax;

namespace {

void settle() {
    // QUILLAX_BENCH_HOLD_MS keeps each stage on screen longer, for a look from outside.
    const int rounds = 20 + qEnvironmentVariableIntValue("QUILLAX_BENCH_HOLD_MS") / 50;
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(50);
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    bench::PrepareWindowProcess(home.path());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillax"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    settle();
    std::printf("application object alone:        %6.1f MiB\n", bench::ProcStatusMiB("VmRSS:"));
    if (qEnvironmentVariableIsSet("QUILLAX_BENCH_PROFILE_FIRST")) {
        BrowserProfile();
        settle();
        std::printf("browser profile alone:           %6.1f MiB\n", bench::ProcStatusMiB("VmRSS:"));
    }
    {
        fFileDownload* downloads = EnsureDownloadWindow();
        downloads->show();
        settle();
        std::printf("download window shown:           %6.1f MiB\n", bench::ProcStatusMiB("VmRSS:"));
        QPushButton* login = downloads->findChild<QPushButton*>(QStringLiteral("Command1"));
        if (login != nullptr) {
            login->click(); // 网页登录: the panel and its browser view
            settle();
            std::printf("with the login panel's browser:  %6.1f MiB\n",
                        bench::ProcStatusMiB("VmRSS:"));
        }
        SettingsStore settings(home.path() + QStringLiteral("/bench.ini"));
        fWebSearch search(settings, Values());
        search.show();
        settle();
        std::printf("and the search window:           %6.1f MiB\n", bench::ProcStatusMiB("VmRSS:"));
        downloads->close();
        settle();
    }
    EndBrowserProfile();
    return 0;
}
