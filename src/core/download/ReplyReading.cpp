#include "core/download/ReplyReading.h"

#include "platform/SocketGet.h"

#include <QEventLoop>
#include <QTimer>

namespace quillax {

void WaitOn(SocketGet* get, int ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (get != nullptr) {
        QObject::connect(get, &SocketGet::headReady, &loop, &QEventLoop::quit);
        QObject::connect(get, &SocketGet::progress, &loop, &QEventLoop::quit);
        QObject::connect(get, &SocketGet::finished, &loop, &QEventLoop::quit);
        QObject::connect(get, &QObject::destroyed, &loop, &QEventLoop::quit);
    }
    timer.start(ms);
    loop.exec();
}

QString HeaderBlock(const SocketGet& get) {
    if (get.status() == 0) {
        return {};
    }
    QString block = QStringLiteral("HTTP/1.1 %1 %2")
                        .arg(get.status())
                        .arg(QString::fromLatin1(get.reasonPhrase()));
    for (const auto& [name, value] : get.headers()) {
        block += QStringLiteral("\r\n") + QString::fromLatin1(name) + QStringLiteral(": ") +
                 QString::fromLatin1(value);
    }
    return block;
}

bool RedirectRefused(const SocketGet* get) {
    return get != nullptr && (get->error() == QNetworkReply::TooManyRedirectsError ||
                              get->error() == QNetworkReply::InsecureRedirectError);
}

} // namespace quillax
