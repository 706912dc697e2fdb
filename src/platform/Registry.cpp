#include "platform/Registry.h"

#include "platform/SystemInfo.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>
#include <QStandardPaths>
#include <cmath>

namespace quillax::reg {

namespace {

struct RootName {
    const char* name;
    quint32 handle;
};
constexpr RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", kClassesRoot},
    {"HKEY_CURRENT_USER", kCurrentUser},
    {"HKEY_LOCAL_MACHINE", kLocalMachine},
    {"HKEY_USERS", kUsers},
    {"HKEY_PERFORMANCE_DATA", kPerformanceData},
    {"HKEY_CURRENT_CONFIG", kCurrentConfig},
    {"HKEY_DYN_DATA", kDynData},
};

/// The registry file is a few entries; anything much larger is not ours: it reads as empty and
/// is moved aside, not replaced, by the next write.
constexpr qint64 kMaxFileBytes = 1024 * 1024;
/// A text value and its closing zero must fit the reader's buffer.
constexpr int kStringBufferBytes = 255;

QString rootName(quint32 handle) {
    for (const RootName& root : kRoots) {
        if (root.handle == handle) {
            return QString::fromLatin1(root.name);
        }
    }
    return {};
}

/// "HKEY_LOCAL_MACHINE\SOFTWARE\…": the key's name in the file and in the system table.
QString keyName(quint32 root, const QString& subKey) {
    return subKey.isEmpty() ? rootName(root) : rootName(root) + QLatin1Char('\\') + subKey;
}

/// What the file held: its values, and whether it held something that is not a registry file
/// of ours (cut short, not JSON, too large), which a write must not replace.
struct FileContents {
    QJsonObject all;
    bool damaged = false;
};

FileContents loadFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        return {};
    }
    if (!info.isFile()) {
        return {{}, true};
    }
    if (info.size() == 0) {
        return {}; // nothing in it to keep
    }
    if (info.size() > kMaxFileBytes) {
        return {{}, true};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {{}, true};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(kMaxFileBytes), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return {{}, true};
    }
    return {document.object(), false};
}

QJsonObject readFile(const QString& path) {
    return loadFile(path).all;
}

/// Renames the file at `path` to "<path>.damaged-<date>-<time>" (with a counter when that name
/// is taken), so the user's earlier values survive the write that follows; false when it
/// cannot be moved.
bool moveAside(const QString& path) {
    const QString stem = path + QStringLiteral(".damaged-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 1; n <= 1000; ++n) {
        const QString target = n == 1 ? stem : stem + QLatin1Char('-') + QString::number(n);
        const QFileInfo taken(target);
        if (taken.exists() || taken.isSymLink()) {
            continue;
        }
        // rename() never replaces an existing file, so an earlier copy cannot be lost here.
        if (QFile::rename(path, target)) {
            return true;
        }
        if (!QFileInfo::exists(target)) {
            return false; // not a name clash: the file cannot be moved at all
        }
    }
    return false;
}

bool writeFile(const QString& path, const QJsonObject& all) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray bytes = QJsonDocument(all).toJson(QJsonDocument::Indented);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

/// The member of `object` whose name equals `name` ignoring case (registry names do).
QString findName(const QJsonObject& object, const QString& name) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
            return it.key();
        }
    }
    return {};
}

std::optional<Value> fromJson(const QJsonValue& json) {
    Value value;
    if (json.isString()) {
        value.type = Value::String;
        value.text = json.toString();
        return value;
    }
    if (json.isDouble()) {
        const double number = json.toDouble();
        if (number < -2147483648.0 || number > 4294967295.0 || number != std::floor(number)) {
            return std::nullopt;
        }
        value.type = Value::Dword;
        value.number = static_cast<qint32>(static_cast<quint32>(static_cast<qint64>(number)));
        return value;
    }
    return std::nullopt;
}

RegistryStore* g_store = nullptr;

} // namespace

RegistryStore::RegistryStore(QString filePath, QHash<QString, KeyValues> system)
    : filePath_(std::move(filePath)) {
    for (auto it = system.begin(); it != system.end(); ++it) {
        KeyValues values;
        for (auto v = it.value().begin(); v != it.value().end(); ++v) {
            values.insert(v.key().toLower(), v.value());
        }
        system_.insert(it.key().toLower(), values);
    }
}

std::optional<Value> RegistryStore::read(quint32 root, const QString& subKey,
                                         const QString& name) const {
    if (rootName(root).isEmpty()) {
        return std::nullopt;
    }
    const QString key = keyName(root, subKey);
    const auto system = system_.constFind(key.toLower());
    if (system != system_.constEnd()) {
        const auto value = system->constFind(name.toLower());
        return value != system->constEnd() ? std::optional<Value>(*value) : std::nullopt;
    }
    const QJsonObject all = readFile(filePath_);
    const QString storedKey = findName(all, key);
    if (storedKey.isEmpty()) {
        return std::nullopt;
    }
    const QJsonObject values = all.value(storedKey).toObject();
    const QString storedName = findName(values, name);
    if (storedName.isEmpty()) {
        return std::nullopt;
    }
    return fromJson(values.value(storedName));
}

bool RegistryStore::writeDword(quint32 root, const QString& subKey, const QString& name,
                               qint32 value) {
    if (rootName(root).isEmpty() || system_.contains(keyName(root, subKey).toLower())) {
        return false; // the system's own values are not the program's to change
    }
    FileContents contents = loadFile(filePath_);
    QJsonObject& all = contents.all;
    const QString key = keyName(root, subKey);
    QString storedKey = findName(all, key);
    if (storedKey.isEmpty()) {
        storedKey = key;
    } else if (!all.value(storedKey).isObject()) {
        contents.damaged = true; // the key's entry is not a set of values: keep it aside too
    }
    if (contents.damaged && !moveAside(filePath_)) {
        return false; // writing now would lose whatever the file still holds
    }
    QJsonObject values = all.value(storedKey).toObject();
    QString storedName = findName(values, name);
    if (storedName.isEmpty()) {
        storedName = name;
    }
    values.insert(storedName, static_cast<qint64>(value));
    all.insert(storedKey, values);
    return writeFile(filePath_, all);
}

bool RegistryStore::remove(quint32 root, const QString& subKey, const QString& name) {
    if (rootName(root).isEmpty()) {
        return false;
    }
    QJsonObject all = readFile(filePath_);
    const QString storedKey = findName(all, keyName(root, subKey));
    if (storedKey.isEmpty()) {
        return false;
    }
    QJsonObject values = all.value(storedKey).toObject();
    const QString storedName = findName(values, name);
    if (storedName.isEmpty()) {
        return false;
    }
    values.remove(storedName);
    all.insert(storedKey, values);
    return writeFile(filePath_, all);
}

RegistryStore& Registry() {
    if (g_store != nullptr) {
        return *g_store;
    }
    static RegistryStore store(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
                                   QStringLiteral("/registry.json"),
                               SystemRegistryKeys(ReadOsRelease(), ReadKernelFacts()));
    return store;
}

RegistryStore* SetRegistry(RegistryStore* store) {
    RegistryStore* previous = g_store;
    g_store = store;
    return previous;
}

quint32 RegRootFromName(const QString& name) {
    for (const RootName& root : kRoots) {
        if (name == QLatin1String(root.name)) {
            return root.handle;
        }
    }
    return 0;
}

quint32 RegSplitPath(QString& path) {
    if (!path.startsWith(QLatin1String("HKEY_")) || path.endsWith(QLatin1Char('\\'))) {
        return 0;
    }
    const qsizetype at = path.indexOf(QLatin1Char('\\'));
    if (at < 0) {
        const quint32 root = RegRootFromName(path);
        path.clear();
        return root;
    }
    const quint32 root = RegRootFromName(path.left(at));
    path = path.mid(at + 1);
    return root;
}

QString RegReadString(const QString& path, const QString& valueName, bool /*programView*/) {
    QString subKey = path;
    const quint32 root = RegSplitPath(subKey);
    if (root == 0) {
        return {};
    }
    const std::optional<Value> value = Registry().read(root, subKey, valueName);
    if (!value || value->type != Value::String ||
        value->text.toUtf8().size() + 1 > kStringBufferBytes) {
        return kError;
    }
    QString text = value->text;
    const qsizetype zero = text.indexOf(QChar(0));
    if (zero >= 0) {
        text.truncate(zero);
    }
    // Spaces only: tabs and line breaks belong to the value.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' ')) {
        ++first;
    }
    while (last > first && text.at(last - 1) == QLatin1Char(' ')) {
        --last;
    }
    return text.mid(first, last - first);
}

QString RegReadDword(const QString& path, const QString& valueName, bool /*programView*/) {
    QString subKey = path;
    const quint32 root = RegSplitPath(subKey);
    if (root == 0) {
        return {};
    }
    const std::optional<Value> value = Registry().read(root, subKey, valueName);
    if (!value || value->type != Value::Dword) {
        return kError;
    }
    return QString::number(value->number);
}

bool RegWriteDword(const QString& path, const QString& valueName, qint32 value) {
    QString subKey = path;
    const quint32 root = RegSplitPath(subKey);
    if (root == 0) {
        return false;
    }
    return Registry().writeDword(root, subKey, valueName, value);
}

void RegRemoveValue(quint32 root, const QString& subKey, const QString& valueName) {
    Registry().remove(root, subKey, valueName);
}

bool GetKeyValue(quint32 root, const QString& subKey, const QString& valueName, QString& value) {
    value.clear();
    const std::optional<Value> read = Registry().read(root, subKey, valueName);
    if (!read) {
        return false;
    }
    if (read->type == Value::Dword) {
        value = QString::number(read->number);
        return true;
    }
    // The reader's buffer holds 1024 bytes; a longer text cannot be read.
    if (read->text.toUtf8().size() + 1 > 1024) {
        return false;
    }
    value = read->text;
    if (value.endsWith(QChar(0))) {
        value.chop(1);
    }
    return true;
}

} // namespace quillax::reg
