#include "core/download/StoredTypeCorrection.h"

#include "core/download/DownloadListModel.h"
#include "core/files/FileNaming.h"
#include "core/files/TypeRecognition.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace quillax {

bool FollowStoredFile(DownloadListModel& list, int row, const QString& path) {
    if (row < 0 || row >= list.count() || path.isEmpty()) {
        return false;
    }
    const DownloadItem& item = list.item(row);
    if (ItemFilePath(item.folder, item.name, item.type) == path) {
        return false;
    }
    QString base;
    const QString type = SplitNameAndExtension(QFileInfo(path).fileName(), &base);
    list.setText(row, DownloadListModel::ColType, type);
    list.setText(row, DownloadListModel::ColName, base);
    return true;
}

bool 纠正下载项类型(DownloadListModel& list, int row) {
    if (row < 0 || row >= list.count()) {
        return false;
    }
    const DownloadItem item = list.item(row);
    const QString current = ItemFilePath(item.folder, item.name, item.type);
    if (!FileExists(current)) {
        return false;
    }
    const QString recognised = 打开文件判断文件类型(current);
    if (recognised.isEmpty() || recognised.compare(item.type, Qt::CaseInsensitive) == 0) {
        return false;
    }
    // The row's own older file under the recognised type is replaced, as the download replaces
    // it; any other file there is kept and the name numbered.
    const QString wanted = ItemFilePath(item.folder, item.name, recognised);
    const bool replace = wanted == item.replacesPath;
    const QString target = replace ? wanted : UniqueFilePath(wanted);
    const bool moved = replace ? std::rename(QFile::encodeName(current).constData(),
                                             QFile::encodeName(target).constData()) == 0
                               : QFile::rename(current, target);
    if (!moved || !FileExists(target)) {
        return false;
    }
    QString base;
    SplitNameAndExtension(target, &base);
    list.setText(row, DownloadListModel::ColType, recognised);
    list.setText(row, DownloadListModel::ColName, base);
    // The row moved its own file: it still owns it at the new name.
    list.setCreatedFile(row, item.createdFile);
    list.setAdoptedFile(row, item.adoptedFile);
    return true;
}

int CorrectStoredFileTypes(DownloadListModel& list) {
    int corrected = 0;
    for (int row = 0; row < list.count(); ++row) {
        // Only files the list stored: a waiting or skipped row's path can name the user's own
        // file, which is never renamed.
        if (list.item(row).status == ItemStatus::Finished && list.item(row).createdFile) {
            corrected += 纠正下载项类型(list, row) ? 1 : 0;
        }
    }
    return corrected;
}

} // namespace quillax
