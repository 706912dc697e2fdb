#pragma once
// The browser-emulation entry that the start window writes for the program's executable before
// any embedded browser exists.

#include <QString>
#include <QtGlobal>

namespace quillax {

inline const QString kBrowserEmulationKey = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\"
    "FEATURE_BROWSER_EMULATION");
/// The value's name: the executable's name followed by ".exe".
QString BrowserEmulationValueName();
/// The emulation value for a version text ("IE10", "ie9", …; case ignored), forced or not;
/// 0 for a text the table does not know.
qint32 BrowserEmulationValue(const QString& version, bool forced);
/// Brings the entry to the table's value: removed for an unknown version text, written only
/// when it differs. Returns whether it wrote; failures are otherwise ignored.
bool SetBrowserEmulation(const QString& version, bool forced);

} // namespace quillax
