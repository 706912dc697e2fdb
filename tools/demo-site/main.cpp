// quillax-demo-site: the demo library site on 127.0.0.1. The first line it prints is
// "listening http://127.0.0.1:PORT/", so scripts and tests can read the address.

#include "DemoSite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <signal.h>

using quillax::demo::DemoOptions;
using quillax::demo::DemoSite;

namespace {

int intOption(const QCommandLineParser& parser, const QString& name, int fallback, int minimum) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < minimum) {
        std::fprintf(stderr, "--%s: expected a whole number of at least %d\n",
                     name.toUtf8().constData(), minimum);
        std::exit(2);
    }
    return parser.isSet(name) ? value : fallback;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillax-demo-site"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Quillax demo library site: search, result pages, record pages, generated PDFs, a "
        "login gate and faults on chosen records, on 127.0.0.1 only."));
    parser.addHelpOption();
    const DemoOptions defaults;
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port to listen on (0: a free port)."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("records"), QStringLiteral("Number of records."), QStringLiteral("N"),
         QString::number(defaults.records)},
        {QStringLiteral("per-page"), QStringLiteral("Results per page."), QStringLiteral("N"),
         QString::number(defaults.perPage)},
        {QStringLiteral("login"),
         QStringLiteral("Login gate in front of the full texts: on or off."),
         QStringLiteral("on|off"), QStringLiteral("on")},
        {QStringLiteral("account"), QStringLiteral("Demo account."), QStringLiteral("NAME"),
         defaults.account},
        {QStringLiteral("password"), QStringLiteral("Demo password."), QStringLiteral("TEXT"),
         defaults.password},
        {QStringLiteral("log"),
         QStringLiteral("Log every request: a folder (requests.log is written there) or - for "
                        "standard output."),
         QStringLiteral("DIR|-")},
        {QStringLiteral("slow-ms"),
         QStringLiteral("How long the slow record page takes to answer, in milliseconds."),
         QStringLiteral("MS"), QString::number(defaults.slowRecordMs)},
        {QStringLiteral("drip-ms"),
         QStringLiteral("Pause between the pieces of the slow PDF, in milliseconds."),
         QStringLiteral("MS"), QString::number(defaults.dripIntervalMs)},
        {QStringLiteral("notice"),
         QStringLiteral("Version number in the update notice /Quillax/newver.txt (none unless "
                        "given)."),
         QStringLiteral("A.B.C"), defaults.notice},
        {QStringLiteral("throttle"),
         QStringLiteral("At most N PDFs a minute per client, evenly spaced, no burst; beyond it "
                        "429 with a Retry-After that says when the next one passes (0: none)."),
         QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("session-minutes"),
         QStringLiteral("A login lasts M minutes; then PDFs get the login page (0: for ever)."),
         QStringLiteral("M"), QStringLiteral("0")},
        {QStringLiteral("flaky"),
         QStringLiteral("A fraction P (0 to 1) of PDF requests is answered 503 with "
                        "Retry-After: 1."),
         QStringLiteral("P"), QStringLiteral("0")},
        {QStringLiteral("seed"),
         QStringLiteral("Seed of the flaky answers: the same seed, the same answers in order."),
         QStringLiteral("K"), QStringLiteral("1")},
        {QStringLiteral("exit-with-pid"),
         QStringLiteral("Exit when the process with this id has ended."), QStringLiteral("PID")},
    });
    parser.process(app);

    DemoOptions options;
    options.records = intOption(parser, QStringLiteral("records"), defaults.records, 0);
    options.perPage = intOption(parser, QStringLiteral("per-page"), defaults.perPage, 1);
    const QString login = parser.value(QStringLiteral("login"));
    if (login != QLatin1String("on") && login != QLatin1String("off")) {
        std::fprintf(stderr, "--login: expected on or off\n");
        return 2;
    }
    options.loginGate = login == QLatin1String("on");
    options.account = parser.value(QStringLiteral("account"));
    options.password = parser.value(QStringLiteral("password"));
    options.logTarget = parser.value(QStringLiteral("log"));
    options.slowRecordMs = intOption(parser, QStringLiteral("slow-ms"), defaults.slowRecordMs, 0);
    options.dripIntervalMs =
        intOption(parser, QStringLiteral("drip-ms"), defaults.dripIntervalMs, 0);
    options.notice = parser.value(QStringLiteral("notice"));
    options.throttlePerMinute = intOption(parser, QStringLiteral("throttle"), 0, 0);
    options.sessionMinutes = intOption(parser, QStringLiteral("session-minutes"), 0, 0);
    options.seed = static_cast<quint32>(intOption(parser, QStringLiteral("seed"), 1, 0));
    {
        bool ok = false;
        const double flaky = parser.value(QStringLiteral("flaky")).toDouble(&ok);
        if (!ok || flaky < 0 || flaky > 1) {
            std::fprintf(stderr, "--flaky: expected a fraction from 0 to 1\n");
            return 2;
        }
        options.flaky = flaky;
    }
    const int port = intOption(parser, QStringLiteral("port"), 0, 0);
    if (port > 65535) {
        std::fprintf(stderr, "--port: at most 65535\n");
        return 2;
    }

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
    if (parser.isSet(QStringLiteral("exit-with-pid"))) {
        const pid_t parent =
            static_cast<pid_t>(intOption(parser, QStringLiteral("exit-with-pid"), 0, 1));
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
