#include "platform/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace quillax {

namespace {
// The one exchange: a later start asks, the running one answers before it comes forward.
constexpr char kComeForward[] = "come-forward\n";
constexpr char kComing[] = "coming\n";
} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), folder_(folder) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const {
    return folder_ + QStringLiteral("/instance.lock");
}

QString SingleInstance::serverName() const {
    // Short enough for a socket in the temporary folder, the same for two spellings of one folder.
    const QFileInfo info(folder_);
    const QString path =
        info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(20);
    return QStringLiteral("quillax-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash));
}

InstanceClaim SingleInstance::claim(int waitMs) {
    QDir().mkpath(folder_);
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Only a holder that has ended makes the lock stale, however long ago it was taken.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        listen();
        return InstanceClaim::Ours;
    }
    const bool held = lock_->error() == QLockFile::LockFailedError;
    lock_.reset();
    if (!held) {
        return InstanceClaim::Unavailable;
    }
    return askHolder(waitMs) ? InstanceClaim::HandedOver : InstanceClaim::Running;
}

void SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is this process's: a socket left under the name is a killed run's.
    QLocalServer::removeServer(serverName());
    // Without the socket later starts only learn that this one runs.
    server_->listen(serverName());
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::answer);
}

bool SingleInstance::askHolder(int waitMs) const {
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(waitMs)) {
        return false;
    }
    socket.write(kComeForward);
    if (!socket.waitForBytesWritten(waitMs)) {
        return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(waitMs)) {
            return false;
        }
    }
    return socket.readLine() == kComing;
}

void SingleInstance::answer() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                return;
            }
            const bool asked = socket->readLine() == kComeForward;
            if (asked) {
                socket->write(kComing);
            }
            socket->disconnectFromServer(); // after what is written has gone
            if (asked) {
                Q_EMIT comeForwardRequested();
            }
        });
    }
}

} // namespace quillax
