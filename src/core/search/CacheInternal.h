#pragma once
// Small helpers the cache reader, the body writer and the viewer share; not for other callers.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>

#include <sys/stat.h>

namespace quillax::cache_internal {

inline QString lastSegment(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
}

// The folder resolved through every link, or empty when it does not exist.
inline QString resolvedFolder(const QString& folder) {
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) {
        return {};
    }
    const QFileInfo info(folder);
    return info.isDir() ? info.canonicalFilePath() : QString();
}

inline bool lstatPath(const QString& path, struct stat* st) {
    return ::lstat(QFile::encodeName(path).constData(), st) == 0;
}

// The name of an entry's files: "<hash>_0", "<hash>_1" or "<hash>_s".
inline const QRegularExpression& entryFileName() {
    static const QRegularExpression re(QStringLiteral("^([0-9a-f]{16})_([01s])$"));
    return re;
}

} // namespace quillax::cache_internal
