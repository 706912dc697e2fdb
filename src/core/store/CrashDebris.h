#pragma once
// What a run that ended abruptly leaves beside the papers: part files whose process has ended
// (a crash, a quit before the writer threads were done) and the two-byte placeholders of rows
// that were downloading. Removed at the start, once the data folder's lock is this process's.

#include "core/store/ListStore.h"

#include <QStringList>

namespace quillax {

/// True when `fileName` is named as our part files are ("<name>.<pid>-<n>.quillax-part") and
/// the process `<pid>` has ended.
bool IsStalePartFile(const QString& fileName);

/// Removes, in the folders of `kept`'s rows and in `folders`, the part files of ended processes,
/// and at the target of each unfinished row our exact placeholder. Returns the files removed.
int RemoveCrashDebris(const KeptQueue& kept, const QStringList& folders);

} // namespace quillax
