#pragma once
// What a run that ended abruptly leaves beside the papers: part files whose process has ended
// (a crash, a quit before the writer threads were done) and the two-byte placeholders of rows
// that were downloading. Removed at the start, once the data folder's lock is this process's:
// then no other run of this data folder writes there, and a process that still runs keeps its
// files (another user's run that shares a folder).

#include "core/store/ListStore.h"

#include <QStringList>

namespace quillax {

/// For a name of our part files ("<target>.<pid>-<n>.quillax-part"): the process that wrote
/// it, and the target's file name in `target`; 0 for any other name.
qint64 PartFileWriter(const QString& fileName, QString* target = nullptr);

/// True when `fileName` is named as our part files are and the process that wrote it has ended.
bool IsStalePartFile(const QString& fileName);

/// Removes, in the folders of `kept`'s rows and in `folders`, the part files of ended processes,
/// and at the target of each unfinished row our exact placeholder. Returns the files removed.
int RemoveCrashDebris(const KeptQueue& kept, const QStringList& folders);

} // namespace quillax
