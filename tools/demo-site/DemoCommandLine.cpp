#include "DemoCommandLine.h"

#include <QCommandLineParser>
#include <limits>

namespace quillax::demo {

namespace {

/// A whole number from `minimum` to `maximum`, or the fallback when the option is not given.
bool ReadInt(const QCommandLineParser& parser, const QString& name, int minimum, int maximum,
             int* value, QString* error) {
    if (!parser.isSet(name)) {
        return true;
    }
    bool ok = false;
    const int read = parser.value(name).toInt(&ok);
    if (!ok || read < minimum || read > maximum) {
        *error = maximum == std::numeric_limits<int>::max()
                     ? QStringLiteral("--%1: expected a whole number of at least %2")
                           .arg(name)
                           .arg(minimum)
                     : QStringLiteral("--%1: expected a whole number from %2 to %3")
                           .arg(name)
                           .arg(minimum)
                           .arg(maximum);
        return false;
    }
    *value = read;
    return true;
}

} // namespace

void AddDemoOptions(QCommandLineParser& parser) {
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
                        "standard output. Each line: date and time to the millisecond, method, "
                        "path, status, and retry-after=S when the answer asked to wait."),
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
         QStringLiteral("At most N PDFs a minute per client address on each of the site's two "
                        "servers, evenly spaced (one every "
                        "60/N s, no burst); an earlier one gets 429 with a Retry-After, rounded "
                        "up to whole seconds, after which the next one passes (0: no limit)."),
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
         QStringLiteral("K"), QString::number(defaults.seed)},
        {QStringLiteral("exit-with-pid"),
         QStringLiteral("Exit when the process with this id has ended."), QStringLiteral("PID")},
    });
}

QString ReadDemoOptions(const QCommandLineParser& parser, DemoCommandLine* line) {
    constexpr int kAny = std::numeric_limits<int>::max();
    DemoOptions& options = line->options;
    QString error;
    int seed = static_cast<int>(options.seed);
    if (!ReadInt(parser, QStringLiteral("records"), 0, kAny, &options.records, &error) ||
        !ReadInt(parser, QStringLiteral("per-page"), 1, kAny, &options.perPage, &error) ||
        !ReadInt(parser, QStringLiteral("slow-ms"), 0, kAny, &options.slowRecordMs, &error) ||
        !ReadInt(parser, QStringLiteral("drip-ms"), 0, kAny, &options.dripIntervalMs, &error) ||
        !ReadInt(parser, QStringLiteral("throttle"), 0, kAny, &options.throttlePerMinute, &error) ||
        !ReadInt(parser, QStringLiteral("session-minutes"), 0, kAny, &options.sessionMinutes,
                 &error) ||
        !ReadInt(parser, QStringLiteral("seed"), 0, kAny, &seed, &error) ||
        !ReadInt(parser, QStringLiteral("port"), 0, 65535, &line->port, &error) ||
        !ReadInt(parser, QStringLiteral("exit-with-pid"), 1, kAny, &line->exitWithPid, &error)) {
        return error;
    }
    options.seed = static_cast<quint32>(seed);
    const QString login = parser.value(QStringLiteral("login"));
    if (login != QLatin1String("on") && login != QLatin1String("off")) {
        return QStringLiteral("--login: expected on or off");
    }
    options.loginGate = login == QLatin1String("on");
    if (parser.isSet(QStringLiteral("flaky"))) {
        bool ok = false;
        const double flaky = parser.value(QStringLiteral("flaky")).toDouble(&ok);
        // Written so that "nan", which reads as a number, is turned away too.
        if (!ok || !(flaky >= 0 && flaky <= 1)) {
            return QStringLiteral("--flaky: expected a fraction from 0 to 1");
        }
        options.flaky = flaky;
    }
    options.account = parser.value(QStringLiteral("account"));
    options.password = parser.value(QStringLiteral("password"));
    options.logTarget = parser.value(QStringLiteral("log"));
    options.notice = parser.value(QStringLiteral("notice"));
    return QString();
}

} // namespace quillax::demo
