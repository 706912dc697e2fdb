#include "platform/SingleInstance.h"

#include <QLocalServer>
#include <QLockFile>

namespace quillax {

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), folder_(folder) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const {
    return folder_ + QStringLiteral("/instance.lock");
}

QString SingleInstance::serverName() const {
    return QString();
}

InstanceClaim SingleInstance::claim(int) {
    return InstanceClaim::Ours;
}

} // namespace quillax
