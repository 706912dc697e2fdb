#include "core/download/BodyPlacement.h"

#include "core/download/DownloadListModel.h"
#include "core/download/DownloadNeeded.h"
#include "core/files/FileNaming.h"
#include "core/files/TypeRecognition.h"

#include <QFile>
#include <QFileInfo>

namespace quillax {

namespace {

// The body's path under its own type: the row's earlier file of that name may be replaced,
// anything else there keeps its place and the new name is numbered.
QString besideWithType(const QString& targetPath, const QString& type, const QString& ownOldFile) {
    const QFileInfo target(targetPath);
    QString base;
    SplitNameAndExtension(target.fileName(), &base);
    const QString path = ItemFilePath(WithTrailingSlash(target.path()), base, type);
    if (path == targetPath || path == ownOldFile || !PathOccupied(path)) {
        return path;
    }
    return UniqueFilePath(path);
}

} // namespace

QString PlaceForBody(const QString& partPath, const QString& targetPath,
                     const QString& ownOldFile) {
    const QString content = 打开文件判断文件类型(partPath);
    const QString targetType = SplitNameAndExtension(QFileInfo(targetPath).fileName(), nullptr);
    if (IsWebPageType(content) && !IsWebPageType(targetType, true)) {
        return besideWithType(targetPath, content, ownOldFile);
    }
    if (!PathOccupied(targetPath) || IsPlaceholderFile(targetPath) ||
        content.compare(targetType, Qt::CaseInsensitive) == 0) {
        return targetPath;
    }
    // A body that shows no known type is taken for what the row says, as it always was, except
    // over a file that shows the row's type (a good paper): that one stays. A body of another
    // known type never replaces the file there.
    if (content.isEmpty()) {
        const QString there = 打开文件判断文件类型(targetPath);
        return there.compare(targetType, Qt::CaseInsensitive) == 0 ? UniqueFilePath(targetPath)
                                                                   : targetPath;
    }
    return besideWithType(targetPath, content, ownOldFile);
}

} // namespace quillax
