#pragma once
// Whether a waiting item must be downloaded at all under the same-name policy.

#include "core/files/DuplicatePolicy.h"

#include <QString>

namespace quillax {

class DownloadListModel;

/// Whether the item at `row` must be downloaded. Under the skip policy an item whose file
/// exists becomes finished with "已存在，跳过" and the file's length in both size columns.
/// Our placeholder there is no paper: while another row downloads to that name it stands for
/// the paper on its way (and the length columns stay empty); otherwise it is left over, is
/// removed, and the item is downloaded.
bool 确定是需要下载(DownloadListModel& list, int row, DuplicateNamePolicy policy);

/// True when the file at `path` is exactly the two-byte placeholder that a method-2 download
/// writes under the paper's name before its body comes.
bool IsPlaceholderFile(const QString& path);

} // namespace quillax
