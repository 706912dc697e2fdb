#include "core/settings/AppValues.h"

#include "core/settings/SettingsStore.h"
#include "core/settings/TextUtil.h"

#include <QDir>
#include <QStandardPaths>

namespace quillax {

AppValues& Values() {
    static AppValues values;
    return values;
}

void ReadStartupSettings(const SettingsStore& store, AppValues& values) {
    using namespace settings_keys;
    store.readReal(kSettings, kMaxFileSize, kMaxFileSizeDefault, values.MaxFileSizeMB);
    store.readSmallInt(kSettings, kDownloadMethod, kDownloadMethodDefault, values.DownloadMethod, 1,
                       2);
    store.readSmallInt(kSettings, kProxyEnabled, kProxyEnabledDefault, values.ProxyEnabled, 0, 1);
    values.ProxyAddress = TrimSpaces(store.read(kSettings, kProxyAddress, QString()));
    values.ProxyPort = TrimSpaces(store.read(kSettings, kProxyPort, QString()));
    store.readSmallInt(kSettings, kPromptSavePath, kPromptSavePathDefault, values.PromptSavePath, 0,
                       1);
}

QString DefaultSaveFolder() {
    return QDir::homePath() + QStringLiteral("/12345/");
}

QString ProgramDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

} // namespace quillax
