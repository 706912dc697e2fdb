#include "platform/Network.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSslConfiguration>

namespace quillax {

namespace {
QPointer<QNetworkAccessManager> g_manager;
QPointer<QNetworkAccessManager> g_default;
QString g_userAgent;
QList<QSslCertificate> g_extraTrusted;
} // namespace

void SetExtraTrustedCertificates(const QList<QSslCertificate>& certificates) {
    g_extraTrusted = certificates;
    // Connections are cached per host and port, with the trust they were opened under.
    NetworkManager().clearConnectionCache();
}

QNetworkAccessManager& NetworkManager() {
    if (g_manager) {
        return *g_manager;
    }
    if (!g_default) {
        g_default = new QNetworkAccessManager(QCoreApplication::instance());
    }
    return *g_default;
}

void SetNetworkManager(QNetworkAccessManager* manager) {
    g_manager = manager;
}

QString UserAgent() {
    if (!g_userAgent.isEmpty()) {
        return g_userAgent;
    }
    // The program's name and version, as the application set them at start-up.
    return QStringLiteral("Mozilla/5.0 (X11; Linux x86_64) %1/%2")
        .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
}

void SetUserAgent(const QString& userAgent) {
    g_userAgent = userAgent;
}

void AbandonReply(QPointer<QNetworkReply>& reply, QObject* receiver, bool now) {
    if (!reply) {
        return;
    }
    QNetworkReply* r = reply;
    reply = nullptr;
    r->disconnect(receiver);
    r->abort();
    if (now) {
        delete r;
    } else {
        r->deleteLater();
    }
}

QNetworkRequest DownloadRequest(const QUrl& url, bool alwaysNetwork) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, kDownloadsUseHttp2);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    if (!g_extraTrusted.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(g_extraTrusted);
        request.setSslConfiguration(tls);
    }
    if (alwaysNetwork) {
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    return request;
}

} // namespace quillax
