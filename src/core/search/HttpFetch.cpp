#include "core/search/HttpFetch.h"

#include "platform/Clock.h"
#include "platform/HttpRequest.h"

#include <QEventLoop>
#include <QTimer>

namespace quillax {

namespace {
// Longest pass of the wait; the request's completion ends a pass at once.
constexpr int kPassMs = 100;
} // namespace

QString HttpGetText(const QString& address, const QString& charset, const QString& referrer,
                    int timeoutMs) {
    const std::unique_ptr<HttpRequest> request = CreateHttpRequest(false);
    if (!request->open(QStringLiteral("GET"), address)) {
        return {};
    }
    request->SetRequestHeader(QStringLiteral("Referer"), referrer);
    const qint64 start = MonotonicMs();
    request->send();
    while (request->ReadyState() != 4 && MonotonicMs() - start < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(kPassMs, &loop, &QEventLoop::quit);
        QObject::connect(request.get(), &HttpRequest::completed, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (request->ReadyState() != 4 || request->TooLarge()) {
        return {};
    }
    return BytesToText(request->ResponseBody(), charset);
}

} // namespace quillax
