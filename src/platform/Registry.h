#pragma once
// The registry as the program knows it, on a system that has none. Values the program writes
// (the browser-emulation entry among them) live in a per-user file of their own; the system's
// own descriptive values (product name, release, kernel build) are presented read-only under
// the key where the program looks for them. Paths keep their "\" separators: in this file a
// key path is one name, never a folder tree.

#include <QHash>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace quillax::reg {

// Root names and their handle values.
inline constexpr quint32 kClassesRoot = 0x80000000;
inline constexpr quint32 kCurrentUser = 0x80000001;
inline constexpr quint32 kLocalMachine = 0x80000002;
inline constexpr quint32 kUsers = 0x80000003;
inline constexpr quint32 kPerformanceData = 0x80000004;
inline constexpr quint32 kCurrentConfig = 0x80000005;
inline constexpr quint32 kDynData = 0x80000006;

/// The result of a text read that failed.
inline const QString kError = QStringLiteral("Error");

/// The key under which the system's descriptive values are presented.
inline const QString kCurrentVersionKey =
    QStringLiteral("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");

struct Value {
    enum Type { String = 1, Dword = 4 };
    Type type = String;
    QString text;      ///< for String
    qint32 number = 0; ///< for Dword
};

/// The values of one key, by value name.
using KeyValues = QHash<QString, Value>;

/// Where the registry's values come from: the per-user file, and the system's own values.
class RegistryStore {
public:
    /// Values written go to `filePath`; `system` holds read-only keys ("HKEY_…\sub\key" →
    /// values) that the system presents.
    RegistryStore(QString filePath, QHash<QString, KeyValues> system);

    std::optional<Value> read(quint32 root, const QString& subKey, const QString& name) const;
    bool writeDword(quint32 root, const QString& subKey, const QString& name, qint32 value);
    bool remove(quint32 root, const QString& subKey, const QString& name);
    QString filePath() const { return filePath_; }

private:
    QString filePath_;
    QHash<QString, KeyValues> system_; ///< by lower-case key path
};

/// The program's registry: the per-user file "registry.json" in the program's configuration
/// folder and the system's values from /etc/os-release and uname.
RegistryStore& Registry();
/// Installs `store` (not owned) and returns the previous one; nullptr restores the program's.
RegistryStore* SetRegistry(RegistryStore* store);

/// The handle value of a root name ("HKEY_CURRENT_USER" → 0x80000001), or 0.
quint32 RegRootFromName(const QString& name);
/// Splits `path` at its first "\": the part before gives the root, the part after replaces
/// `path`. Without "\" the whole text gives the root and `path` becomes empty. A path that
/// does not begin with "HKEY_", or that ends in "\", is left alone and gives 0.
quint32 RegSplitPath(QString& path);

/// The text value, cut at its first zero character and trimmed; "Error" when the key or value
/// cannot be read (or does not fit the 255-byte buffer); empty when the root is not known.
/// `programView` chooses among views that this stand-in does not have: it is accepted and
/// changes nothing.
QString RegReadString(const QString& path, const QString& valueName, bool programView = false);
/// The 32-bit value as signed decimal text; "Error" when it cannot be read; empty when the
/// root is not known.
QString RegReadDword(const QString& path, const QString& valueName, bool programView = false);
/// Creates the key if needed and writes a 32-bit value; false when the root is not known or
/// the file cannot be written. A file that cannot be read as the program's own is first renamed
/// to "registry.json.damaged-<date>-<time>", never replaced; when that fails nothing is written.
bool RegWriteDword(const QString& path, const QString& valueName, qint32 value);
/// Deletes the value; failures are ignored.
void RegRemoveValue(quint32 root, const QString& subKey, const QString& valueName);
/// Reads a value as text: a text as it is, a 32-bit value as decimal text. False, with an
/// empty value, when it cannot be read.
bool GetKeyValue(quint32 root, const QString& subKey, const QString& valueName, QString& value);

} // namespace quillax::reg
