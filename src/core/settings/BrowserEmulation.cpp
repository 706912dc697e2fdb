#include "core/settings/BrowserEmulation.h"

#include "core/settings/AppConfig.h"
#include "platform/Registry.h"

namespace quillax {

QString BrowserEmulationValueName() {
    return QString::fromUtf8(config::kExecutableName) + QStringLiteral(".exe");
}

qint32 BrowserEmulationValue(const QString& version, bool forced) {
    const QString v = version.toLower();
    if (v == QLatin1String("ie10")) {
        return forced ? 10001 : 10000;
    }
    if (v == QLatin1String("ie9")) {
        return forced ? 9999 : 9000;
    }
    if (v == QLatin1String("ie8")) {
        return forced ? 8888 : 8000;
    }
    if (v == QLatin1String("ie7")) {
        return 7000;
    }
    return 0;
}

bool SetBrowserEmulation(const QString& version, bool forced) {
    const qint32 wanted = BrowserEmulationValue(version, forced);
    const QString name = BrowserEmulationValueName();
    QString subKey = kBrowserEmulationKey;
    const quint32 root = reg::RegSplitPath(subKey);
    if (wanted == 0) {
        reg::RegRemoveValue(root, subKey, name);
        return false;
    }
    bool ok = false;
    qint32 present = reg::RegReadDword(kBrowserEmulationKey, name, false).toInt(&ok);
    if (!ok) {
        present = 0; // missing or unreadable
    }
    if (wanted == present) {
        return false;
    }
    return reg::RegWriteDword(kBrowserEmulationKey, name, wanted);
}

} // namespace quillax
