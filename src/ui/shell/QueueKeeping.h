#pragma once
// The keeper of the program's lists while it runs: the windows hand it their lists when they
// are made and have it write what is pending when they close. None in tests of single windows.
// Also the start of a run's kept queue: opening it, saying what became of the file, and the
// kept analysis records that wait for the first search window.

#include "core/store/ListStore.h"

namespace quillax {

class QueueKeeper;

/// The keeper the program set, or nullptr. While set, a write it cannot make is said once.
QueueKeeper* ActiveQueueKeeper();
void SetActiveQueueKeeper(QueueKeeper* keeper);

/// Opens the kept queue at `path` and says what became of it: moved aside (and where), or not
/// readable for now (left where it is; nothing is kept this run). Returns what it holds.
KeptQueue OpenKeptQueue(ListStore& store, const QString& path);

/// The kept analysis records, for the first search window of the run.
void SetRecordsToRestore(const QList<AnalysisRecord>& records);
/// Puts the records set before into `list`, once; returns how many.
int RestoreRecordsInto(AnalysisListModel& list);

} // namespace quillax
