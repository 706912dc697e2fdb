#pragma once
// Whether a waiting item must be downloaded at all under the same-name policy.

#include "core/files/DuplicatePolicy.h"

namespace quillax {

class DownloadListModel;

/// Whether the item at `row` must be downloaded. Under the skip policy an item whose file
/// exists becomes finished with "已存在，跳过" and the file's length in both size columns.
bool 确定是需要下载(DownloadListModel& list, int row, DuplicateNamePolicy policy);

} // namespace quillax
