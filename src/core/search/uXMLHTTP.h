#pragma once
// A control that makes one HTTP request at a time without blocking: a 10 ms timer polls the
// request and raises an event when the response is complete, after writing the body to a file
// when asked to.

#include "platform/HttpRequest.h"

#include <QObject>
#include <QTimer>
#include <memory>

namespace quillax {

class uXMLHTTP : public QObject {
    Q_OBJECT
public:
    static constexpr int kPollMs = 10;

    explicit uXMLHTTP(QObject* parent = nullptr);
    ~uXMLHTTP() override;

    /// Prepares a request; false when the address is no URL (the caller learns of it).
    bool Open_(const QString& method, const QString& address, const QString& savePath);
    void SetRequestHeader(const QString& name, const QString& value);
    /// Sends the request; polling starts only after an `Open_`.
    void Send_(const QByteArray& body = QByteArray());
    void Abort_();

    bool DownOK() const { return done_; }
    int ReadyState() const { return request_->ReadyState(); }
    int Status() const { return request_->Status(); }
    QString StatusText() const { return request_->StatusText(); }
    QString GetResponseHeader(const QString& name) const {
        return request_->GetResponseHeader(name);
    }
    QString GetAllResponseHeaders() const { return request_->GetAllResponseHeaders(); }
    QByteArray ResponseBody() const { return request_->ResponseBody(); }
    QString ResponseText() const { return request_->ResponseText(); }
    bool isPolling() const { return tmrReader.isActive(); }

    /// The description of HTTP status `code` (0 to 600); empty for codes not described.
    static QString StatusDescription(int code);

Q_SIGNALS:
    void OnDateArrived();
    void OnReadyStateChange();
    void OnDateErr(const QString& description);

private:
    void tick();

    std::unique_ptr<HttpRequest> request_;
    QTimer tmrReader;
    bool timerEnabled_ = false;
    bool done_ = false;
    QString savePath_;
};

} // namespace quillax
