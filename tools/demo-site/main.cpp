// quillax-demo-site: the demo library site on 127.0.0.1. The first line it prints is
// "listening http://127.0.0.1:PORT/", so scripts and tests can read the address.

#include "DemoCommandLine.h"
#include "DemoSite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <signal.h>

using quillax::demo::DemoCommandLine;
using quillax::demo::DemoOptions;
using quillax::demo::DemoSite;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillax-demo-site"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Quillax demo library site: search, result pages, record pages, generated PDFs, a "
        "login gate and faults on chosen records, on 127.0.0.1 only."));
    parser.addHelpOption();
    quillax::demo::AddDemoOptions(parser);
    parser.process(app);
    DemoCommandLine line;
    const QString error = quillax::demo::ReadDemoOptions(parser, &line);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 2;
    }
    const DemoOptions& options = line.options;
    const int port = line.port;

    DemoSite site(options);
    if (!site.start(static_cast<quint16>(port))) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("listening %s\n", site.baseUrl().toUtf8().constData());
    std::printf("full texts %s\n", site.fullTextBaseUrl().toUtf8().constData());
    std::printf("login %s account %s password %s gate %s\n", site.loginUrl().toUtf8().constData(),
                options.account.toUtf8().constData(), options.password.toUtf8().constData(),
                options.loginGate ? "on" : "off");
    std::fflush(stdout);

    // Ends with the process that started it, even when that one was killed outright.
    QTimer watch;
    if (line.exitWithPid > 0) {
        const pid_t parent = static_cast<pid_t>(line.exitWithPid);
        QObject::connect(&watch, &QTimer::timeout, &app, [parent] {
            if (::kill(parent, 0) != 0 && errno == ESRCH) {
                QCoreApplication::quit();
            }
        });
        watch.start(500);
    }
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        std::signal(sig, [](int) { std::_Exit(0); });
    }
    return QCoreApplication::exec();
}
