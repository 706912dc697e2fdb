#include "core/settings/FolderList.h"

#include "core/settings/AppValues.h"
#include "core/settings/TextUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace quillax {

QString SaveListPath() {
    return ProgramDataFolder() + QStringLiteral("/SaveList.dat");
}

QString ResolvedFolder(const QString& folder) {
    const QString text = TrimSpaces(folder);
    if (text.isEmpty()) {
        return {};
    }
    return QDir::cleanPath(QFileInfo(ExpandHomePath(text)).absoluteFilePath());
}

bool SameFolder(const QString& a, const QString& b) {
    const QString ra = ResolvedFolder(a);
    return !ra.isEmpty() && ra == ResolvedFolder(b);
}

bool FolderListContains(const QStringList& folders, const QString& folder) {
    for (const QString& item : folders) {
        if (SameFolder(item, folder)) {
            return true;
        }
    }
    return false;
}

std::optional<QStringList> ReadFolderList(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QStringList folders;
    QStringList resolved;
    int lines = 0;
    // Read line by line: a huge file costs no more than its first hundred folders.
    while (lines < kMaxFolderListLines && !file.atEnd()) {
        QByteArray raw = file.readLine(64 * 1024);
        while (raw.endsWith('\n') || raw.endsWith('\r')) {
            raw.chop(1);
        }
        const QString line = TrimSpaces(QString::fromUtf8(raw));
        if (line.isEmpty()) {
            continue;
        }
        ++lines;
        const QString key = ResolvedFolder(line);
        if (resolved.contains(key)) {
            continue;
        }
        resolved << key;
        folders << line;
    }
    return folders;
}

bool WriteFolderList(const QString& path, const QStringList& folders) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray bytes;
    if (folders.isEmpty()) {
        bytes = "\r\n";
    }
    for (const QString& folder : folders) {
        bytes += folder.toUtf8() + "\r\n";
    }
    return file.write(bytes) == bytes.size() && file.commit();
}

QStringList RememberFolder(const QStringList& folders, const QString& folder) {
    QStringList out;
    if (!TrimSpaces(folder).isEmpty()) {
        out << folder;
    }
    for (const QString& f : folders) {
        if (out.size() >= kMaxFolderListLines) {
            break;
        }
        if (!FolderListContains(out, f)) {
            out << f;
        }
    }
    return out;
}

} // namespace quillax
