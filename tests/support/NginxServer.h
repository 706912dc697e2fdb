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
    double ratePerSecond = 1;  ///< requests a second per client
    int burst = 2;             ///< requests let through at once beyond the rate
    int retryAfterSeconds = 5; ///< Retry-After of a 429
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

    /// Starts nginx and waits until it answers (at most 10 s). False, with the reason and the
    /// error log in `error`, when it could not; "no nginx" when the program is missing.
    bool start(QString* error);
    quint16 port() const { return port_; }
    /// "http://127.0.0.1:PORT/"
    QString baseUrl() const;
    /// The access log so far, in order.
    QList<NginxLogEntry> accessLog() const;
    /// Whether the nginx binary is there at all.
    static bool available();

private:
    bool writeConfig(quint16 port, QString* error);
    void stop();

    NginxOptions options_;
    QTemporaryDir prefix_;
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace quillax::test
