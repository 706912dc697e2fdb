#include "NginxServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cmath>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace quillax::test {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kReadyPath = "/.quillax-ready";
constexpr int kAttempts = 5;

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    return probe.serverPort();
}

// Whether our nginx answers on the port: a bare connect could reach whoever took the port
// between the probe and nginx's bind, so ask for the readiness page only our configuration has.
bool answers(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(200)) {
        return false;
    }
    socket.write(QByteArray("GET ") + kReadyPath + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray reply;
    QDeadlineTimer deadline(1000);
    while (!reply.contains("\r\n") && !deadline.hasExpired() &&
           socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
        reply += socket.readAll();
    }
    return reply.startsWith("HTTP/1.1 204");
}

// nginx reads `$` as a variable and `"`/`\` as quoting even inside quotes; a path with them
// cannot be written into the configuration as it is.
bool writablePath(const QString& path) {
    for (const QChar c : path) {
        if (c == u'"' || c == u'\\' || c == u'$' || c.unicode() < 0x20) {
            return false;
        }
    }
    return true;
}

QString quoted(const QString& path) {
    return QLatin1Char('"') + path + QLatin1Char('"');
}

// limit_req takes whole requests a second or a minute: a rate below one a second (or with a
// fraction) goes as per minute, at least one.
QString rateText(double perSecond) {
    if (perSecond >= 1 && perSecond == std::floor(perSecond)) {
        return QStringLiteral("%1r/s").arg(static_cast<qint64>(perSecond));
    }
    return QStringLiteral("%1r/m").arg(std::max<qint64>(1, std::llround(perSecond * 60)));
}

// As root nginx would run its workers as "nobody", who may not read the test's folders: name
// the current user. As anyone else the directive is ignored with a warning, so leave it out.
QString userLine() {
    if (geteuid() != 0) {
        return QString();
    }
    const passwd* user = getpwuid(geteuid());
    const group* grp = getgrgid(getegid());
    if (user == nullptr || grp == nullptr) {
        return QString();
    }
    return QStringLiteral("user %1 %2;")
        .arg(QString::fromLocal8Bit(user->pw_name), QString::fromLocal8Bit(grp->gr_name));
}

} // namespace

NginxServer::NginxServer(NginxOptions options)
    : options_(std::move(options)),
      prefix_(QDir::tempPath() + QStringLiteral("/quillax-nginx-XXXXXX")) {}

NginxServer::~NginxServer() {
    stop();
}

bool NginxServer::available() {
    return QFileInfo(QString::fromLatin1(kNginx)).isExecutable();
}

QString NginxServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(port_);
}

bool NginxServer::writeConfig(quint16 port, QString* error) {
    const QString p = prefix_.path();
    const QString conf =
        QStringLiteral(R"(daemon off;
master_process off;
worker_processes 1;
%1
pid %2;
error_log %3 warn;
events { worker_connections 256; }
http {
    types { application/pdf pdf; text/html html; }
    default_type application/octet-stream;
    client_body_temp_path %4;
    proxy_temp_path %5;
    fastcgi_temp_path %6;
    uwsgi_temp_path %7;
    scgi_temp_path %8;
    log_format timed '$msec $request_time $status "$request_uri" "$sent_http_retry_after"';
    access_log %9 timed;
)")
            .arg(
                userLine(), quoted(p + QStringLiteral("/nginx.pid")),
                quoted(p + QStringLiteral("/logs/error.log")),
                quoted(p + QStringLiteral("/temp/body")), quoted(p + QStringLiteral("/temp/proxy")),
                quoted(p + QStringLiteral("/temp/fastcgi")),
                quoted(p + QStringLiteral("/temp/uwsgi")), quoted(p + QStringLiteral("/temp/scgi")),
                quoted(p + QStringLiteral("/logs/access.log"))) +
        QStringLiteral(R"(    limit_req_zone $binary_remote_addr zone=pdf:1m rate=%1;
    server {
        listen 127.0.0.1:%2;
        root %3;
        location / {
            limit_req zone=pdf burst=%4 nodelay;
            limit_req_status 429;
            error_page 429 = @throttled;
        }
        location @throttled {
            default_type text/plain;
            add_header Retry-After %5 always;
            return 429 "Too Many Requests\n";
        }
        location = %6 {
            access_log off;
            return 204;
        }
    }
}
)")
            .arg(rateText(options_.ratePerSecond))
            .arg(port)
            .arg(quoted(p + QStringLiteral("/site")))
            .arg(options_.burst)
            .arg(options_.retryAfterSeconds)
            .arg(QString::fromLatin1(kReadyPath));
    QFile file(p + QStringLiteral("/nginx.conf"));
    const QByteArray bytes = conf.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        *error = QStringLiteral("cannot write the configuration %1").arg(file.fileName());
        return false;
    }
    return true;
}

QString NginxServer::errorLog() const {
    QFile log(prefix_.path() + QStringLiteral("/logs/error.log"));
    if (!log.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromUtf8(log.readAll());
}

bool NginxServer::start(QString* error) {
    QString ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    if (process_.state() != QProcess::NotRunning) {
        *error = QStringLiteral("nginx is already running");
        return false;
    }
    if (!QFileInfo(options_.program).isExecutable()) {
        *error = QStringLiteral("no nginx: %1 is missing").arg(options_.program);
        return false;
    }
    const double rate = options_.ratePerSecond;
    if (!std::isfinite(rate) || rate <= 0 || rate > 1e6 || options_.burst < 0 ||
        options_.retryAfterSeconds < 0) {
        *error = QStringLiteral("bad throttle: rate %1/s, burst %2, Retry-After %3")
                     .arg(rate)
                     .arg(options_.burst)
                     .arg(options_.retryAfterSeconds);
        return false;
    }
    const QFileInfo root(options_.root);
    if (options_.root.isEmpty() || !root.isDir()) {
        *error = QStringLiteral("the folder to serve, \"%1\", does not exist").arg(options_.root);
        return false;
    }
    if (!prefix_.isValid() || !writablePath(prefix_.path())) {
        *error = QStringLiteral("no usable temporary folder for nginx (%1)").arg(prefix_.path());
        return false;
    }
    const QString p = prefix_.path();
    QDir().mkpath(p + QStringLiteral("/logs"));
    QDir().mkpath(p + QStringLiteral("/temp"));
    // The served folder through a link of our own, so its path may hold anything.
    const QString site = p + QStringLiteral("/site");
    QFile::remove(site);
    if (!QFile::link(root.absoluteFilePath(), site)) {
        *error = QStringLiteral("cannot link %1 to the served folder").arg(site);
        return false;
    }

    // The port is free when probed; another process may take it before nginx binds, so a few
    // tries, but only for that: any other failure would fail again.
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const quint16 port = freePort();
        if (port == 0) {
            *error = QStringLiteral("no free port on 127.0.0.1");
            return false;
        }
        if (!writeConfig(port, error)) {
            return false;
        }
        QFile::remove(p + QStringLiteral("/logs/error.log"));
        process_.setProcessChannelMode(QProcess::MergedChannels);
        // Should the test process die without its destructors, nginx goes with it.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        // -e: the log of nginx's own start, before it reads the configuration, goes here too,
        // not to /var/log/nginx.
        process_.start(options_.program,
                       {QStringLiteral("-p"), p + QLatin1Char('/'), QStringLiteral("-c"),
                        p + QStringLiteral("/nginx.conf"), QStringLiteral("-e"),
                        p + QStringLiteral("/logs/error.log")});
        if (!process_.waitForStarted(5000)) {
            *error =
                QStringLiteral("cannot run %1: %2").arg(options_.program, process_.errorString());
            return false;
        }
        pid_ = process_.processId();
        QDeadlineTimer deadline(options_.startTimeoutMs);
        while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
            if (answers(port)) {
                port_ = port;
                return true;
            }
            // Waiting on the process wakes at once should nginx give up.
            process_.waitForFinished(25);
        }
        const bool exited = process_.state() == QProcess::NotRunning;
        stop();
        const QString log = QString::fromUtf8(process_.readAll()) + errorLog();
        if (exited && log.contains(QStringLiteral("Address already in use")) &&
            attempt < kAttempts) {
            continue;
        }
        *error =
            (exited
                 ? QStringLiteral("nginx stopped at once (exit code %1)").arg(process_.exitCode())
                 : QStringLiteral("nginx did not answer within %1 ms")
                       .arg(options_.startTimeoutMs)) +
            QStringLiteral(":\n") + log;
        return false;
    }
    return false;
}

void NginxServer::stop() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QList<NginxLogEntry> NginxServer::accessLog() const {
    QList<NginxLogEntry> entries;
    QFile file(prefix_.path() + QStringLiteral("/logs/access.log"));
    if (!file.open(QIODevice::ReadOnly)) {
        return entries;
    }
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine();
        // A line nginx is still writing has no end yet: it comes with the next read.
        if (!raw.endsWith('\n')) {
            break;
        }
        const QString line = QString::fromUtf8(raw).trimmed();
        // 1765368000.123 0.002 200 "/a.pdf" "-"; nginx escapes a '"' inside as \x22.
        const QStringList quoted = line.split(QLatin1Char('"'));
        const QStringList head = quoted.value(0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (head.size() < 3 || quoted.size() < 4) {
            continue;
        }
        NginxLogEntry e;
        e.msec = head.at(0).toDouble();
        e.requestTime = head.at(1).toDouble();
        e.status = head.at(2).toInt();
        e.uri = quoted.at(1);
        e.retryAfter = quoted.at(3);
        entries.append(e);
    }
    return entries;
}

QList<NginxLogEntry> NginxServer::waitForLog(int entries, int timeoutMs) const {
    QDeadlineTimer deadline(timeoutMs);
    QList<NginxLogEntry> log = accessLog();
    while (log.size() < entries && !deadline.hasExpired()) {
        QThread::msleep(20);
        log = accessLog();
    }
    return log;
}

} // namespace quillax::test
