#include "core/download/ReplyReading.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QTimer>

namespace quillax {

void WaitOn(QNetworkReply* reply, int ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (reply != nullptr) {
        QObject::connect(reply, &QNetworkReply::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QObject::destroyed, &loop, &QEventLoop::quit);
    }
    timer.start(ms);
    loop.exec();
}

QString HeaderBlock(QNetworkReply* reply) {
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid()) {
        return {};
    }
    QString block =
        QStringLiteral("HTTP/1.1 %1 %2")
            .arg(code.toInt())
            .arg(QString::fromLatin1(
                reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray()));
    const auto pairs = reply->rawHeaderPairs();
    for (const auto& [name, value] : pairs) {
        block += QStringLiteral("\r\n") + QString::fromLatin1(name) + QStringLiteral(": ") +
                 QString::fromLatin1(value);
    }
    return block;
}

bool HasConflictingLengths(QNetworkReply* reply) {
    QByteArray first;
    const auto pairs = reply->rawHeaderPairs();
    for (const auto& [name, value] : pairs) {
        if (name.compare("content-length", Qt::CaseInsensitive) != 0) {
            continue;
        }
        // Qt may have joined repeated headers into one "a, b" value.
        const QList<QByteArray> values = value.split(',');
        for (const QByteArray& v : values) {
            if (first.isNull()) {
                first = v.trimmed();
            } else if (v.trimmed() != first) {
                return true;
            }
        }
    }
    return false;
}

bool RedirectRefused(const QNetworkReply* reply) {
    return reply != nullptr && (reply->error() == QNetworkReply::TooManyRedirectsError ||
                                reply->error() == QNetworkReply::InsecureRedirectError);
}

bool TransportFailed(const QNetworkReply* reply) {
    const int error = reply->error();
    return error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

} // namespace quillax
