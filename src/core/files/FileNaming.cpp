#include "core/files/FileNaming.h"

#include "core/settings/TextUtil.h"
#include "platform/DesktopShell.h"
#include "platform/MessageBoxes.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryFile>
#include <QUrl>

namespace quillax {

namespace {

const QString kBadFolderMessage = QStringLiteral("文件夹名称有误！不能创建文件夹！");

// Number of UTF-8 bytes of the code point starting at `i`, and the length of that code point
// in UTF-16 units. A lone surrogate counts as U+FFFD, which is how it would be encoded.
int utf8Length(const QString& text, qsizetype i, int* units) {
    const char16_t c = text.at(i).unicode();
    *units = 1;
    if (c < 0x80) {
        return 1;
    }
    if (c < 0x800) {
        return 2;
    }
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
        QChar::isLowSurrogate(text.at(i + 1).unicode())) {
        *units = 2;
        return 4;
    }
    return 3;
}

// The first `maxUnits` UTF-16 units of `text`, without splitting a surrogate pair.
QString leftCharacters(const QString& text, qsizetype maxUnits) {
    if (text.size() <= maxUnits) {
        return text;
    }
    qsizetype cut = maxUnits;
    if (cut > 0 && text.at(cut - 1).isHighSurrogate()) {
        --cut;
    }
    return text.left(cut);
}

} // namespace

QString TruncateAnsiBytes(const QString& text, int maxBytes) {
    QString result;
    int bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        int units = 1;
        const int length = utf8Length(text, i, &units);
        if (bytes + length > maxBytes) {
            break;
        }
        bytes += length;
        if (units == 1 && text.at(i).isSurrogate()) {
            // A lone surrogate cannot stand in a file name; it becomes what encoding makes of it.
            result += QChar(QChar::ReplacementCharacter);
        } else {
            result += text.mid(i, units);
        }
        i += units;
    }
    return result;
}

QString CleanFileName(const QString& name) {
    QString result = name;
    for (const QChar c : {u'\\', u'/', u':', u'*', u'?', u'"', u'<', u'>', u'|'}) {
        result.remove(c);
    }
    result.remove(QStringLiteral("\r\n"));
    result.remove(QLatin1Char('\n'));
    result.remove(QLatin1Char('\r'));
    result.remove(QChar(u'\0'));
    qsizetype begin = 0;
    while (begin < result.size() && result.at(begin) == QLatin1Char('.')) {
        ++begin;
    }
    qsizetype end = result.size();
    while (end > begin && result.at(end - 1) == QLatin1Char('.')) {
        --end;
    }
    return TruncateAnsiBytes(result.mid(begin, end - begin), kMaxNameBytes);
}

QString EnsureFolderPath(const QString& path) {
    const QString expanded = ExpandHomePath(path);
    const QStringList parts = expanded.split(QLatin1Char('/'));
    QString result;
    qsizetype first = 1;
    if (expanded.startsWith(QLatin1String("//"))) {
        // Network form: the server part is taken as it is, never created.
        if (parts.size() < 3 || parts.at(2).isEmpty()) {
            ShowMessage(kBadFolderMessage, MsgIcon::Error);
            return {};
        }
        result = QStringLiteral("//") + parts.at(2);
        first = 3;
    } else {
        // Local form: the first part is the root ("" for an absolute path), taken as it is.
        result = parts.at(0);
    }
    for (qsizetype i = first; i < parts.size(); ++i) {
        if (parts.at(i).isEmpty()) {
            break;
        }
        const QString level = CleanFileName(parts.at(i));
        if (level.isEmpty()) {
            ShowMessage(kBadFolderMessage, MsgIcon::Error);
            break;
        }
        result += QLatin1Char('/') + level;
        if (!FolderExists(result)) {
            // A level that cannot be created is judged by the existence test at the end.
            QDir().mkdir(result);
        }
    }
    if (result.isEmpty() || !FolderExists(result)) {
        return {};
    }
    return result;
}

QString FolderCreateProblem(const QString& path) {
    const QString expanded = ExpandHomePath(TrimSpaces(path));
    if (expanded.isEmpty()) {
        return QStringLiteral("没有填写文件夹");
    }
    const QStringList parts = expanded.split(QLatin1Char('/'));
    QString current = parts.at(0);
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (parts.at(i).isEmpty()) {
            continue;
        }
        const QString level = CleanFileName(parts.at(i));
        if (level.isEmpty()) {
            return QStringLiteral("文件夹名称无效：") + parts.at(i);
        }
        const QString parent = current.isEmpty() ? QStringLiteral("/") : current;
        current += QLatin1Char('/') + level;
        const QFileInfo info(current);
        if (info.exists() && !info.isDir()) {
            return QStringLiteral("不是文件夹：") + current;
        }
        if (!info.exists()) {
            return FolderWritable(parent) ? QStringLiteral("无法创建文件夹：") + current
                                          : QStringLiteral("没有权限在此创建文件夹：") + parent;
        }
    }
    return FolderWritable(current) ? QString() : QStringLiteral("文件夹不可写：") + current;
}

bool FolderWritable(const QString& folder) {
    QTemporaryFile probe(WithTrailingSlash(folder) + QStringLiteral(".quillax-probe-XXXXXX"));
    return probe.open();
}

bool FileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool FolderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

bool PathOccupied(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString WithTrailingSlash(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString ItemNameOrFallback(const QString& name, const QString& address) {
    QString cleaned = CleanFileName(name);
    if (cleaned.isEmpty()) {
        cleaned = CleanFileName(FileNameFromPath(address, true));
    }
    return cleaned.isEmpty() ? QStringLiteral("未命名") : cleaned;
}

QString ItemFilePath(const QString& folder, const QString& name, const QString& type) {
    QString path = WithTrailingSlash(folder) + name;
    if (!type.isEmpty()) {
        path += QLatin1Char('.') + type;
    }
    return path;
}

bool IsCounterText(const QString& text) {
    const QString trimmed = TrimSpaces(text);
    if (trimmed.isEmpty()) {
        return false;
    }
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}

QString UniqueFilePath(const QString& path) {
    if (!PathOccupied(path)) {
        return path;
    }
    // A bare name is a name in the current folder; it is numbered like any other.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash + 1);
    const QString fileName = path.mid(slash + 1);
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    QString base = dot < 0 ? fileName : fileName.left(dot);
    const QString extension = dot < 0 ? QString() : QLatin1Char('.') + fileName.mid(dot + 1);

    // Cut by characters, then by bytes, so the numbered name stays a creatable file name.
    base = TruncateAnsiBytes(leftCharacters(base, kUniqueBaseMaxChars), kMaxNameBytes);
    if (base.endsWith(QLatin1Char(']'))) {
        const qsizetype open = base.lastIndexOf(QLatin1Char('['), base.size() - 2);
        if (open >= 0 && IsCounterText(base.mid(open + 1, base.size() - open - 2))) {
            base = base.left(open);
        }
    }

    QString candidate = folder + base + extension;
    for (qint64 i = 1; PathOccupied(candidate); ++i) {
        candidate =
            folder + base + QLatin1Char('[') + ZeroPadded(i, 4) + QLatin1Char(']') + extension;
    }
    return candidate;
}

QString FileNameFromPath(const QString& path, bool stripExtension) {
    QString text = path;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
    text = TrimSpaces(text.mid(text.lastIndexOf(QLatin1Char('/')) + 1));
    if (stripExtension && text.contains(QLatin1Char('.'))) {
        text = TrimSpaces(text.left(text.lastIndexOf(QLatin1Char('.'))));
    }
    return text;
}

QString SplitNameAndExtension(const QString& path, QString* baseName) {
    const QString trimmed = TrimSpaces(path);
    const QString name = trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString base = name;
    QString extension;
    if (dot >= 0 && name.size() - dot - 1 <= kMaxExtensionChars) {
        base = name.left(dot);
        extension = name.mid(dot + 1);
    }
    if (baseName != nullptr) {
        *baseName = TrimSpaces(base);
    }
    return TrimSpaces(extension);
}

bool ShowFileInFolder(const QString& path) {
    const QString trimmed = TrimSpaces(path);
    if (!FileExists(trimmed)) {
        return false;
    }
    return Shell().showItemInFolder(QFileInfo(trimmed).absoluteFilePath());
}

void OpenWithDefaultProgram(const QString& path) {
    if (!FileExists(path)) {
        ShowMessage(QStringLiteral("文件不存在！"), MsgIcon::Error);
        return;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!Shell().openUrl(QUrl::fromLocalFile(absolute))) {
        Shell().startDetached(QStringLiteral("xdg-open"), {absolute});
    }
}

} // namespace quillax
