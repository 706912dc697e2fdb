#include "platform/SingleInstance.h"
#include "platform/ProcessAlive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

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
    if (!held) {
        lock_.reset();
        return InstanceClaim::Unavailable;
    }
    if (askHolder(waitMs)) {
        lock_.reset();
        return InstanceClaim::HandedOver;
    }
    // Nobody answered. A lock that names no holder (empty or garbled, as a power cut can leave
    // it) is no run's: it is taken over. One whose holder has ended but that cannot be removed
    // (a read-only folder) leaves the folder unusable, not "running".
    qint64 pid = 0;
    QString host;
    QString app;
    if (!lock_->getLockInfo(&pid, &host, &app)) {
        if (lock_->removeStaleLockFile() && lock_->tryLock(0)) {
            listen();
            return InstanceClaim::Ours;
        }
        lock_.reset();
        return InstanceClaim::Unavailable;
    }
    lock_.reset();
    return ProcessIsAlive(pid) ? InstanceClaim::Running : InstanceClaim::Unavailable;
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
    // A holder that started a moment ago may not listen yet: asked again until the wait is up.
    QElapsedTimer waited;
    waited.start();
    while (true) {
        socket.connectToServer(serverName());
        if (socket.waitForConnected(waitMs)) {
            break;
        }
        if (waited.elapsed() >= waitMs) {
            return false;
        }
        socket.abort();
        QThread::msleep(50);
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
