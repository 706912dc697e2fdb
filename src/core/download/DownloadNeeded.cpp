#include "core/download/DownloadNeeded.h"

#include "core/download/DownloadListModel.h"
#include "core/download/Downloader.h"
#include "core/files/FileNaming.h"

#include <QFile>
#include <QFileInfo>

namespace quillax {

namespace {

// Another row of the list downloads to `path` now: its placeholder holds the name for the body
// on its way. Only asked when a placeholder stands there, so the walk is rare.
bool beingDownloaded(const DownloadListModel& list, const QString& path, int exceptRow) {
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& other = list.item(row);
        if (row != exceptRow && other.status == ItemStatus::Downloading &&
            ItemFilePath(other.folder, other.name, other.type) == path) {
            return true;
        }
    }
    return false;
}

} // namespace

bool 确定是需要下载(DownloadListModel& list, int row, DuplicateNamePolicy policy) {
    if (row < 0 || row >= list.count()) {
        return false;
    }
    const DownloadItem& item = list.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (!FileExists(path)) {
        return true;
    }
    const bool placeholder = IsPlaceholderFile(path);
    if (placeholder && !beingDownloaded(list, path, row)) {
        // Left by a download that ended without taking it along: it holds no paper, and the
        // name is free again.
        Downloader::RemovePlaceholder(path);
        return true;
    }
    if (policy != DuplicateNamePolicy::Skip || path == item.replacesPath) {
        return true; // the engine deals with the name, or replaces the row's own file
    }
    // Behind a placeholder the paper of that name is still on its way: its length is unknown.
    const QString length = placeholder ? QString() : QString::number(QFileInfo(path).size());
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
