#pragma once
// Operations on the download list that put items back into the queue.

#include <QString>

namespace quillax {

class DownloadListModel;

/// Deletes the file at the item's path when the item created it and no other row that is
/// downloading or finished names the same path; nothing else.
void 删除下载项文件(DownloadListModel& list, int row);

/// Puts failed items (status 4) back to waiting, deleting what they left and making their next
/// alternative address current. Returns how many were reset.
int menu重新下载出错项(DownloadListModel& list);
/// The same for finished or failed web-page items (type htm, html or xml), whose type becomes
/// "xxx" so the next download takes its type from the server again.
int menu重新下载文件类型为HTM和HTML项(DownloadListModel& list);

} // namespace quillax
