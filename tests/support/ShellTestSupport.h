#pragma once
// Small fixtures shared by the start-window, system and about-box tests.

#include "core/settings/AppConfig.h"
#include "platform/Registry.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>
#include <memory>

namespace quillax::test {

/// Sets environment variables for the length of a test and puts back what was there. Every
/// maker's address starts out not configured.
class MakerEnvironment {
public:
    MakerEnvironment() {
        for (const char* name :
             {config::kEnvMakerSite, config::kEnvMakerSecondSite, config::kEnvUpdateNotice,
              config::kEnvHelpPage, config::kEnvCustomisePage, config::kEnvShopPage,
              config::kEnvMailAddress}) {
            set(name, QString());
        }
    }
    ~MakerEnvironment() {
        for (auto it = saved_.begin(); it != saved_.end(); ++it) {
            if (it.value().isNull()) {
                qunsetenv(it.key().constData());
            } else {
                qputenv(it.key().constData(), it.value());
            }
        }
    }
    MakerEnvironment(const MakerEnvironment&) = delete;
    MakerEnvironment& operator=(const MakerEnvironment&) = delete;

    /// An empty value unsets the variable.
    void set(const char* name, const QString& value) {
        if (!saved_.contains(name)) {
            saved_.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
        }
        if (value.isEmpty()) {
            qunsetenv(name);
        } else {
            qputenv(name, value.toUtf8());
        }
    }

private:
    QHash<QByteArray, QByteArray> saved_;
};

/// A registry of its own in a temporary folder, with the given system keys, installed for the
/// length of a test.
class ScratchRegistry {
public:
    explicit ScratchRegistry(QHash<QString, reg::KeyValues> system = {})
        : store_(std::make_unique<reg::RegistryStore>(
              dir_.path() + QStringLiteral("/registry.json"), std::move(system))) {
        previous_ = reg::SetRegistry(store_.get());
    }
    ~ScratchRegistry() { reg::SetRegistry(previous_); }
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    QString filePath() const { return store_->filePath(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<reg::RegistryStore> store_;
    reg::RegistryStore* previous_ = nullptr;
};

} // namespace quillax::test
