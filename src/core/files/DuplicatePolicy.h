#pragma once
// What happens when the file a download would be saved as already exists: skip the item,
// overwrite the file, or store the download under a numbered free name.

#include <QString>

namespace quillax {

enum class DuplicateNamePolicy { Skip, Overwrite, Rename };

/// The option caption of a policy: "跳过", "覆盖" or "重命名".
QString PolicyCaption(DuplicateNamePolicy policy);

/// The full path to write for `name` and `type` in `folder`. Under overwrite, or when the file
/// is free, the plain path; otherwise the first free "name[001].type", "name[002].type", ...,
/// continuing a counter the name already ends with. `newName` receives the name to show.
QString 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                       DuplicateNamePolicy policy, QString* newName);

} // namespace quillax
