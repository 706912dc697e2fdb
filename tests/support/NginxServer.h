#pragma once
// A real nginx on 127.0.0.1 for the throttling tests: Debian's nginx, started in the foreground
// with its own prefix folder and configuration in a temporary folder, throttling as library
// databases do (limit_req with a burst, then 429 with Retry-After), and an access log the test
// reads back. Stopped and reaped when the object goes.

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace quillax::test {

struct NginxOptions {
    QString root;              ///< folder of the files served
    double ratePerSecond = 1;  ///< requests a second per client; below one, whole per minute
    int burst = 2;             ///< requests let through at once beyond the rate
    int retryAfterSeconds = 5; ///< Retry-After of a 429
    /// The program to run; another path lets a test see how a missing or broken one is reported.
    QString program = QStringLiteral("/usr/sbin/nginx");
    int startTimeoutMs = 10'000; ///< how long start() waits for an answer
};

struct NginxLogEntry {
    double msec = 0;        ///< when the answer was logged: seconds since the epoch, ms precision
    double requestTime = 0; ///< seconds the request took
    int status = 0;
    QString uri;
    QString retryAfter; ///< "-" when the answer had none
    /// When the request arrived, in ms since the epoch.
    qint64 arrivedMs() const { return static_cast<qint64>((msec - requestTime) * 1000.0); }
};

class NginxServer {
public:
    explicit NginxServer(NginxOptions options);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    /// Starts nginx and waits until it answers (at most startTimeoutMs). False, with the reason
    /// and the error log in `error`, when it could not; the reason starts with "no nginx" when
    /// the program is missing.
    bool start(QString* error);
    quint16 port() const { return port_; }
    /// "http://127.0.0.1:PORT/"
    QString baseUrl() const;
    /// The access log so far, in order.
    QList<NginxLogEntry> accessLog() const;
    /// The access log once it holds at least `entries` lines, or as it is after `timeoutMs`:
    /// nginx writes a line just after the answer went out, so a client may be a step ahead.
    QList<NginxLogEntry> waitForLog(int entries, int timeoutMs = 5'000) const;
    /// The process id of the nginx last started (kept after it stopped, so that a test can see
    /// it is gone); 0 before.
    qint64 pid() const { return pid_; }
    /// Whether the nginx binary is there at all.
    static bool available();

private:
    bool writeConfig(quint16 port, QString* error);
    QString errorLog() const;
    void stop();

    NginxOptions options_;
    QTemporaryDir prefix_;
    QProcess process_;
    quint16 port_ = 0;
    qint64 pid_ = 0;
};

} // namespace quillax::test
