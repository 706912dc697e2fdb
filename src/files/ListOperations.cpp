#include "files/ListOperations.h"

#include "download/DownloadListModel.h"
#include "files/FileNaming.h"
#include "files/HeaderTypes.h"

#include <QFile>

namespace quillax {

namespace {

using Col = DownloadListModel::Column;

void reset(DownloadListModel& list, int row, bool forceXxx) {
    删除下载项文件(list, row);
    list.setStatus(row, ItemStatus::Waiting);
    if (forceXxx || IsWebPageType(list.item(row).type, false)) {
        list.setText(row, Col::ColType, QStringLiteral("xxx"));
    }
    list.setText(row, Col::ColSize, QString());
    list.setText(row, Col::ColReceived, QString());
    list.setText(row, Col::ColPercent, QString());
    删除下载项文件(list, row);
    list.setKey(row, 对调url(list.item(row).key));
}

} // namespace

void 删除下载项文件(DownloadListModel& list, int row) {
    if (row < 0 || row >= list.count()) {
        return;
    }
    // Only a file this row stored, and that no live row shares: a failed row's path can name a
    // finished row's file, a file being written, or a file the user put there.
    if (!list.mayDeleteFileOf(row)) {
        return;
    }
    const DownloadItem& item = list.item(row);
    const QString path = ItemFilePath(item.folder, item.name, item.type);
    if (FileExists(path)) {
        QFile::remove(path);
    }
    if (!FileExists(path)) {
        list.setCreatedFile(row, false);
    }
}

int menu重新下载出错项(DownloadListModel& list) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row).status == ItemStatus::Failed) {
            reset(list, row, false);
            ++n;
        }
    }
    return n;
}

int menu重新下载文件类型为HTM和HTML项(DownloadListModel& list) {
    int n = 0;
    for (int row = 0; row < list.count(); ++row) {
        const DownloadItem& item = list.item(row);
        if ((item.status == ItemStatus::Finished || item.status == ItemStatus::Failed) &&
            IsWebPageType(item.type, true)) {
            reset(list, row, true);
            ++n;
        }
    }
    return n;
}

} // namespace quillax
