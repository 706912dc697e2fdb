#pragma once
// Deleting cache files and folders without ever following a link out of the cache.

#include <QString>
#include <QStringList>

#include <functional>

namespace quillax {

// ---------------------------------------------------------------------------------------------
// Deleting

/// Deletes one file (or link, never what it points to) strictly inside one of `roots` (resolved
/// folders). The folders on the way are opened one by one from "/" without following links and
/// the file is removed relative to the last of them, so no link, however late it appears, leads
/// the deletion out. File attributes play no part in deleting here, so none are changed. Errors
/// are ignored; returns whether it is gone.
bool 强制删除(const QString& path, const QStringList& roots);
/// Removes one empty folder inside `roots` the same way; a folder that is not empty stays.
bool RemoveEmptyFolder(const QString& path, const QStringList& roots);
/// Called with each path just before it is removed, once the folders on its way are open, so
/// that tests can change the tree at that very moment. Returns the hook it replaces.
using RemoveHook = std::function<void(const QString& path)>;
RemoveHook SetRemoveHook(RemoveHook hook);

} // namespace quillax
