#include "platform/SecretStore.h"

#include <QCoreApplication>
#include <QPointer>
#include <qt6keychain/keychain.h>

namespace quillax {

KeychainSecretStore::KeychainSecretStore(int timeoutMs, QObject* parent, const QString& service)
    : QObject(parent), timeoutMs_(timeoutMs), service_(service) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        // The job may still answer one day; its answer is dropped, and nothing else is asked
        // of a keyring that keeps a request waiting.
        broken_ = true;
        finish(SecretStatus::Unavailable, QString());
    });
}

KeychainSecretStore::~KeychainSecretStore() = default;

void KeychainSecretStore::read(const QString& key, Done done) {
    enqueue({Kind::Read, key, QString(), std::move(done)});
}

void KeychainSecretStore::write(const QString& key, const QString& secret, Done done) {
    enqueue({Kind::Write, key, secret, std::move(done)});
}

void KeychainSecretStore::remove(const QString& key, Done done) {
    enqueue({Kind::Remove, key, QString(), std::move(done)});
}

void KeychainSecretStore::enqueue(Request request) {
    queue_.push_back(std::move(request));
    if (!running_) {
        running_ = true;
        // Started from the event loop: a backend that fails at once must not answer inside
        // the caller's own call.
        QMetaObject::invokeMethod(
            this, [this] { startNext(); }, Qt::QueuedConnection);
    }
}

void KeychainSecretStore::startNext() {
    if (queue_.empty()) {
        running_ = false;
        return;
    }
    running_ = true;
    if (broken_) {
        finish(SecretStatus::Unavailable, QString());
        return;
    }
    const Request& request = queue_.front();
    // Else the product title, which the application set as its name.
    const QString service = service_.isEmpty() ? QCoreApplication::applicationName() : service_;
    QKeychain::Job* job = nullptr;
    switch (request.kind) {
    case Kind::Read:
        job = new QKeychain::ReadPasswordJob(service, this);
        break;
    case Kind::Write: {
        auto* writeJob = new QKeychain::WritePasswordJob(service, this);
        writeJob->setTextData(request.secret);
        job = writeJob;
        break;
    }
    case Kind::Remove:
        job = new QKeychain::DeletePasswordJob(service, this);
        break;
    }
    job->setAutoDelete(true);
    job->setKey(request.key);
    // Never a plain-text file in place of the keyring.
    job->setInsecureFallback(false);
    const quint64 generation = ++generation_;
    const Kind kind = request.kind;
    connect(job, &QKeychain::Job::finished, this, [this, generation, kind](QKeychain::Job* j) {
        if (generation != generation_ || !running_) {
            return; // answered after its deadline
        }
        switch (j->error()) {
        case QKeychain::NoError:
            finish(SecretStatus::Ok, kind == Kind::Read
                                         ? static_cast<QKeychain::ReadPasswordJob*>(j)->textData()
                                         : QString());
            break;
        case QKeychain::EntryNotFound:
            finish(kind == Kind::Remove ? SecretStatus::Ok : SecretStatus::NotFound, QString());
            break;
        default:
            finish(SecretStatus::Unavailable, QString());
            break;
        }
    });
    deadline_.start(timeoutMs_);
    job->start();
}

void KeychainSecretStore::finish(SecretStatus status, const QString& secret) {
    deadline_.stop();
    ++generation_;
    if (queue_.empty()) {
        running_ = false;
        return;
    }
    Done done = std::move(queue_.front().done);
    queue_.pop_front();
    QPointer<KeychainSecretStore> self(this);
    if (done) {
        done(status, secret);
    }
    if (self) {
        QMetaObject::invokeMethod(
            this, [this] { startNext(); }, Qt::QueuedConnection);
    }
}

namespace {

SecretStore* g_store = nullptr;

SecretStore& keyring() {
    // Owned by the application object, so it goes before the event loop's machinery does.
    static QPointer<KeychainSecretStore> store;
    if (!store) {
        store = new KeychainSecretStore(10'000, QCoreApplication::instance(),
                                        qEnvironmentVariable(kKeyringServiceVariable).trimmed());
    }
    return *store;
}

} // namespace

SecretStore& Secrets() {
    if (g_store != nullptr) {
        return *g_store;
    }
    return keyring();
}

SecretStore* SetSecretStore(SecretStore* store) {
    SecretStore* previous = g_store;
    g_store = store;
    return previous;
}

} // namespace quillax
