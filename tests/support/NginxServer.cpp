#include "NginxServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace quillax::test {

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    return probe.serverPort();
}

bool answers(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

NginxServer::NginxServer(NginxOptions options) : options_(std::move(options)) {}

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
    QDir().mkpath(p + QStringLiteral("/logs"));
    QDir().mkpath(p + QStringLiteral("/temp"));
    // Workers run as the current user: as root nginx would switch to "nobody", who may not read
    // the test's folders.
    const bool root = geteuid() == 0;
    const QString conf = QStringLiteral(R"(daemon off;
master_process off;
worker_processes 1;
%1
pid %2/nginx.pid;
error_log %2/logs/error.log warn;
events { worker_connections 256; }
http {
    types { application/pdf pdf; text/html html; }
    default_type application/octet-stream;
    client_body_temp_path %2/temp/body;
    proxy_temp_path %2/temp/proxy;
    fastcgi_temp_path %2/temp/fastcgi;
    uwsgi_temp_path %2/temp/uwsgi;
    scgi_temp_path %2/temp/scgi;
    log_format timed '$msec $request_time $status "$request_uri" "$sent_http_retry_after"';
    access_log %2/logs/access.log timed;
    limit_req_zone $binary_remote_addr zone=pdf:1m rate=%3r/s;
    server {
        listen 127.0.0.1:%4;
        root %5;
        location / {
            limit_req zone=pdf burst=%6 nodelay;
            limit_req_status 429;
            error_page 429 = @throttled;
        }
        location @throttled {
            add_header Retry-After %7 always;
            return 429 "Too Many Requests\n";
        }
    }
}
)")
                             .arg(root ? QStringLiteral("user root root;") : QString(), p)
                             .arg(options_.ratePerSecond)
                             .arg(port)
                             .arg(QDir(options_.root).absolutePath())
                             .arg(options_.burst)
                             .arg(options_.retryAfterSeconds);
    QFile file(p + QStringLiteral("/nginx.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(conf.toUtf8()) != conf.toUtf8().size()) {
        *error = QStringLiteral("cannot write the configuration");
        return false;
    }
    return true;
}

bool NginxServer::start(QString* error) {
    QString ignored;
    if (error == nullptr) {
        error = &ignored;
    }
    if (!available()) {
        *error = QStringLiteral("no nginx");
        return false;
    }
    if (!prefix_.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    // The port is free when probed; another process may take it before nginx binds, so a few
    // tries.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = freePort();
        if (port == 0 || !writeConfig(port, error)) {
            continue;
        }
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QString::fromLatin1(kNginx),
                       {QStringLiteral("-p"), prefix_.path(), QStringLiteral("-c"),
                        prefix_.path() + QStringLiteral("/nginx.conf")});
        if (!process_.waitForStarted(5000)) {
            *error = process_.errorString();
            return false;
        }
        QDeadlineTimer deadline(10'000);
        while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
            if (answers(port)) {
                port_ = port;
                return true;
            }
            QThread::msleep(50);
        }
        stop();
        QFile log(prefix_.path() + QStringLiteral("/logs/error.log"));
        log.open(QIODevice::ReadOnly);
        *error = QString::fromUtf8(process_.readAll() + log.readAll());
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
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        // 1765368000.123 0.002 200 "/a.pdf" "-"
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

} // namespace quillax::test
