#pragma once
// One running program per data folder: a lock file beside the kept queue, and a local socket
// through which a second start asks the running one to come forward instead of opening the
// queue a second time.

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

namespace quillax {

enum class InstanceClaim {
    Ours,        ///< the folder is this process's now; the queue may be opened
    HandedOver,  ///< another process holds it and came forward: this one ends
    Running,     ///< another process holds it but did not answer: this one ends
    Unavailable, ///< no lock could be made (a full or read-only disk): nobody holds the folder
};

class SingleInstance : public QObject {
    Q_OBJECT
public:
    /// For the data folder `folder`; nothing happens until `claim`.
    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// Takes the folder's lock, or a lock whose process has ended; while it is held, listens
    /// for later starts. Otherwise asks the holder to come forward, waiting at most `waitMs`.
    InstanceClaim claim(int waitMs = 3000);
    /// The lock file: "instance.lock" in the folder.
    QString lockPath() const;
    /// The local socket's name, the same for every process of one data folder.
    QString serverName() const;

Q_SIGNALS:
    /// A later start asked this process to bring its windows forward.
    void comeForwardRequested();

private:
    void listen();
    /// Asks the holder to come forward; true when it said it does.
    bool askHolder(int waitMs) const;
    void answer();

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

} // namespace quillax
