#pragma once
// Secrets (a remembered password) kept in the desktop's keyring, never in the settings file.
// Injected, so tests keep them in memory. The keyring may be missing (a machine without a
// secret service) or may never answer (a locked keyring waiting for its unlock prompt): every
// request answers once, later, and within a bounded time.

#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>

namespace quillax {

enum class SecretStatus {
    Ok,         ///< done; for a read, the secret is given
    NotFound,   ///< no secret under that key
    Unavailable ///< the keyring could not be reached, refused, or did not answer in time
};

class SecretStore {
public:
    /// Called exactly once per request, from the event loop, never inside the call that asked.
    /// `secret` is the stored text for a successful read, empty otherwise.
    using Done = std::function<void(SecretStatus status, const QString& secret)>;

    virtual ~SecretStore() = default;
    virtual void read(const QString& key, Done done) = 0;
    virtual void write(const QString& key, const QString& secret, Done done) = 0;
    /// Removing a key that holds nothing succeeds (NotFound is reported as Ok).
    virtual void remove(const QString& key, Done done) = 0;
};

/// The variable that names the keyring's folder for this run's secrets instead of the product
/// title: the demo keeps its passwords apart from the user's.
inline constexpr char kKeyringServiceVariable[] = "QUILLAX_KEYRING_SERVICE";

/// The desktop's keyring through QtKeychain, filed under `service` (the product title when
/// empty). Requests run one after another in the order asked. A request without an answer after
/// `timeoutMs` reports Unavailable; the keyring is then taken as unusable for the rest of the
/// run, since every later request would queue behind the one that hangs.
class KeychainSecretStore final : public QObject, public SecretStore {
    Q_OBJECT
public:
    explicit KeychainSecretStore(int timeoutMs = 10'000, QObject* parent = nullptr,
                                 const QString& service = {});
    ~KeychainSecretStore() override;

    void read(const QString& key, Done done) override;
    void write(const QString& key, const QString& secret, Done done) override;
    void remove(const QString& key, Done done) override;

private:
    enum class Kind { Read, Write, Remove };
    struct Request {
        Kind kind;
        QString key;
        QString secret;
        Done done;
    };
    void enqueue(Request request);
    void startNext();
    void finish(SecretStatus status, const QString& secret);

    int timeoutMs_;
    QString service_;
    bool broken_ = false;
    std::deque<Request> queue_;
    bool running_ = false;
    quint64 generation_ = 0; ///< tells a late answer from the running request's
    QTimer deadline_;
};

/// The installed store, or the desktop's keyring, filed under the name `kKeyringServiceVariable`
/// gives, else under the product title.
SecretStore& Secrets();
/// Installs `store` (not owned) and returns the previous one; nullptr restores the keyring.
SecretStore* SetSecretStore(SecretStore* store);

} // namespace quillax
