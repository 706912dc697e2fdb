#include "core/download/DownloadNeeded.h"

#include "core/download/DownloadListModel.h"
#include "core/download/Downloader.h"
#include "core/files/FileNaming.h"

#include <QFile>
#include <QFileInfo>

namespace quillax {

bool 确定是需要下载(DownloadListModel& list, int row, DuplicateNamePolicy policy) {
    if (row < 0 || row >= list.count()) {
        return false;
    }
    const DownloadItem& item = list.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (!FileExists(path) || IsPlaceholderFile(path)) {
        return true;
    }
    if (policy != DuplicateNamePolicy::Skip || path == item.replacesPath) {
        return true; // the engine deals with the name, or replaces the row's own file
    }
    const QString length = QString::number(QFileInfo(path).size());
    list.setStatus(row, ItemStatus::Finished);
    list.setText(row, DownloadListModel::ColSize, length);
    list.setText(row, DownloadListModel::ColReceived, length);
    list.setText(row, DownloadListModel::ColPercent, status_words::kExistsSkipped);
    // The file is the row's now: the user may ask to download it again or to delete it.
    list.setAdoptedFile(row, true);
    return false;
}

bool IsPlaceholderFile(const QString& path) {
    QFile file(path);
    return file.size() == Downloader::kPlaceholder.size() && file.open(QIODevice::ReadOnly) &&
           file.readAll() == Downloader::kPlaceholder;
}

} // namespace quillax
