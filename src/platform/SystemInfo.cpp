#include "platform/SystemInfo.h"

#include "platform/SystemInfoTables.h"

#include <QFile>
#include <QRegularExpression>
#include <cmath>
#include <filesystem>
#include <sys/utsname.h>

namespace quillax {

namespace {

/// An os-release file is a few hundred bytes; the rest of anything larger is not read.
constexpr qint64 kMaxOsReleaseBytes = 64 * 1024;

QString withoutControlCharacters(QString text) {
    text.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    return text;
}

/// The value of an os-release line, or nothing when the line is malformed.
std::optional<QString> parseValue(const QString& raw) {
    if (raw.isEmpty()) {
        return QString();
    }
    const QChar quote = raw.front();
    if (quote != QLatin1Char('"') && quote != QLatin1Char('\'')) {
        if (raw.contains(QLatin1Char(' ')) || raw.contains(QLatin1Char('"')) ||
            raw.contains(QLatin1Char('\''))) {
            return std::nullopt; // a bare value is one word
        }
        return raw;
    }
    QString value;
    qsizetype i = 1;
    for (; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == quote) {
            break;
        }
        if (quote == QLatin1Char('"') && c == QLatin1Char('\\') && i + 1 < raw.size()) {
            const QChar next = raw.at(i + 1);
            if (QStringLiteral("\\\"$`").contains(next)) {
                value += next;
                ++i;
                continue;
            }
        }
        value += c;
    }
    if (i >= raw.size() || i != raw.size() - 1) {
        return std::nullopt; // unterminated, or something after the closing quote
    }
    return value;
}

const QString kProductName = QStringLiteral("ProductName");
const QString kCurrentVersion = QStringLiteral("CurrentVersion");
const QString kCurrentBuildNumber = QStringLiteral("CurrentBuildNumber");
const QString kReleaseId = QStringLiteral("ReleaseId");
const QString kBuildLab = QStringLiteral("BuildLab");
const QString kCsdVersion = QStringLiteral("CSDVersion");
const QString kUbr = QStringLiteral("UBR");

reg::Value text(const QString& value) {
    reg::Value v;
    v.type = reg::Value::String;
    v.text = value;
    return v;
}

/// The leading numbers of a kernel release: "6.1.0-18-amd64" gives 6, 1 and 0.
QList<quint32> releaseNumbers(const QString& release) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const QRegularExpressionMatch match = pattern.match(release);
    QList<quint32> numbers;
    if (!match.hasMatch()) {
        return numbers;
    }
    for (int group = 1; group <= 3; ++group) {
        const QString part = match.captured(group);
        if (part.isEmpty()) {
            break;
        }
        numbers << part.left(9).toUInt();
    }
    return numbers;
}

} // namespace

OsRelease ParseOsRelease(const QByteArray& content) {
    static const QRegularExpression assignment(QStringLiteral("^([A-Za-z_][A-Za-z0-9_]*)=(.*)$"));
    OsRelease result;
    const QString all = QString::fromUtf8(content);
    for (QString line : all.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const QRegularExpressionMatch match = assignment.match(line);
        if (!match.hasMatch()) {
            continue;
        }
        const std::optional<QString> value = parseValue(match.captured(2));
        if (!value) {
            continue;
        }
        const QString clean = withoutControlCharacters(*value).trimmed();
        const QString key = match.captured(1);
        if (key == QLatin1String("PRETTY_NAME")) {
            result.prettyName = clean;
        } else if (key == QLatin1String("NAME")) {
            result.name = clean;
        } else if (key == QLatin1String("VERSION")) {
            result.version = clean;
        } else if (key == QLatin1String("VERSION_ID")) {
            result.versionId = clean;
        }
    }
    return result;
}

OsRelease ReadOsRelease(const QString& path) {
    const QStringList candidates =
        path.isEmpty()
            ? QStringList{QStringLiteral("/etc/os-release"), QStringLiteral("/usr/lib/os-release")}
            : QStringList{path};
    for (const QString& candidate : candidates) {
        // A pipe or a device in its place would make the read wait or never end.
        std::error_code error;
        if (!std::filesystem::is_regular_file(candidate.toStdString(), error)) {
            continue;
        }
        QFile file(candidate);
        if (file.open(QIODevice::ReadOnly)) {
            return ParseOsRelease(file.read(kMaxOsReleaseBytes));
        }
    }
    return {};
}

KernelFacts ReadKernelFacts() {
    struct utsname names {};
    if (uname(&names) != 0) {
        return {};
    }
    return {QString::fromLocal8Bit(names.release), QString::fromLocal8Bit(names.version),
            QString::fromLocal8Bit(names.machine)};
}

QString ProductNameOf(const OsRelease& release) {
    if (!release.prettyName.isEmpty()) {
        return release.prettyName;
    }
    if (release.name.isEmpty()) {
        return {};
    }
    return release.version.isEmpty() ? release.name
                                     : release.name + QLatin1Char(' ') + release.version;
}

QHash<QString, reg::KeyValues> SystemRegistryKeys(const OsRelease& release,
                                                  const KernelFacts& kernel) {
    reg::KeyValues values;
    const QString product = ProductNameOf(release);
    if (!product.isEmpty()) {
        values.insert(kProductName, text(product));
    }
    if (!release.versionId.isEmpty()) {
        values.insert(kReleaseId, text(release.versionId));
    }
    const QList<quint32> numbers = releaseNumbers(kernel.release);
    if (numbers.size() >= 2) {
        values.insert(kCurrentVersion,
                      text(QStringLiteral("%1.%2").arg(numbers[0]).arg(numbers[1])));
    }
    if (!kernel.release.isEmpty()) {
        values.insert(kCurrentBuildNumber, text(kernel.release));
        values.insert(kBuildLab, text(kernel.release));
    }
    return {{QStringLiteral("HKEY_LOCAL_MACHINE\\") + reg::kCurrentVersionKey, values}};
}

QString OsBitnessFor(const QString& machine, bool process64) {
    const QString m = machine.toLower();
    const bool machine64 = m.contains(QLatin1String("64")) || m == QLatin1String("s390x") ||
                           m == QLatin1String("alpha");
    return machine64 || process64 ? QStringLiteral("64") : QStringLiteral("32");
}

QString GetOsBitness() {
    return OsBitnessFor(ReadKernelFacts().machine, sizeof(void*) == 8);
}

QString ComposeSystemVersionText(const VersionKeyTexts& keys, const QString& editionText) {
    if (keys.productName == reg::kError) {
        return editionText;
    }
    const QString release = keys.releaseId == reg::kError ? keys.currentVersion : keys.releaseId;
    QString build;
    if (keys.ubr != reg::kError) {
        build = keys.currentBuildNumber + QLatin1Char('.') + keys.ubr;
    } else if (keys.csdVersion != reg::kError) {
        build = keys.buildLab + QStringLiteral(" : ") + keys.csdVersion;
    } else {
        build = keys.buildLab;
    }
    return keys.productName + QStringLiteral(" 版本:") + release + QStringLiteral(" (内部版本:") +
           build + QLatin1Char(')');
}

QString ComposeWindowsEditionText(const EditionInputs& in) {
    // Step 1: the system library's own product version, when it has four parts.
    const QStringList parts = in.fileVersion.split(QLatin1Char('.'));
    if (!in.fileVersion.isEmpty() && parts.size() >= 4) {
        const double first = parts[0].toDouble();
        const double second = parts[1].toDouble();
        if (std::floor(first) > 6) {
            return QStringLiteral("Windows ") + in.fileVersion;
        }
        if (first == 6 && second >= 3) {
            return QStringLiteral("Windows 8.1 [") + in.fileVersion + QLatin1Char(']');
        }
    }

    // Step 2: the name by platform and version.
    QString name = SystemNameFor(in);

    // Step 3: the service pack of the versions that had them.
    if ((in.major == 5 || in.major == 6) && in.servicePackMajor > 0) {
        name += QStringLiteral(" Service Pack ") + QString::number(in.servicePackMajor);
        if (in.servicePackMinor > 0) {
            name += QLatin1Char('.') + QString::number(in.servicePackMinor);
        }
    }

    // Step 4: the version numbers.
    return name + QStringLiteral(" [Version: %1.%2.%3]").arg(in.major).arg(in.minor).arg(in.build);
}

EditionInputs EditionInputsFor(const KernelFacts& kernel) {
    EditionInputs in;
    in.platformId = -1;
    const QList<quint32> numbers = releaseNumbers(kernel.release);
    in.major = numbers.value(0);
    in.minor = numbers.value(1);
    in.build = numbers.value(2);
    return in;
}

QString GetWindowsEditionText() {
    return ComposeWindowsEditionText(EditionInputsFor(ReadKernelFacts()));
}

QString GetSystemVersionText() {
    const QString key = QStringLiteral("HKEY_LOCAL_MACHINE\\") + reg::kCurrentVersionKey;
    VersionKeyTexts keys;
    keys.productName = reg::RegReadString(key, kProductName, true);
    if (keys.productName == reg::kError) {
        return GetWindowsEditionText();
    }
    keys.currentVersion = reg::RegReadString(key, kCurrentVersion, true);
    keys.currentBuildNumber = reg::RegReadString(key, kCurrentBuildNumber, true);
    keys.releaseId = reg::RegReadString(key, kReleaseId, true);
    keys.buildLab = reg::RegReadString(key, kBuildLab, true);
    keys.csdVersion = reg::RegReadString(key, kCsdVersion, true);
    keys.ubr = reg::RegReadDword(key, kUbr, false);
    return ComposeSystemVersionText(keys, QString());
}

SystemDescription& SystemValues() {
    static SystemDescription values;
    return values;
}

QString WithBitness(const QString& description, const QString& bitness) {
    return description + QLatin1Char('[') + bitness + QStringLiteral("位]");
}

} // namespace quillax
