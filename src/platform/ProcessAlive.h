#pragma once
// Whether a process of this machine still runs: files named after a process are stale once it
// has ended.

#include <QtGlobal>

namespace quillax {

/// True while the process `pid` exists (also when it belongs to another user); false for a
/// number that names no process.
bool ProcessIsAlive(qint64 pid);

} // namespace quillax
