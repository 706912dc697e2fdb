#pragma once
// The keeper of the program's lists while it runs: the windows hand it their lists when they
// are made and have it write what is pending when they close. None in tests of single windows.

namespace quillax {

class QueueKeeper;

/// The keeper the program set, or nullptr.
QueueKeeper* ActiveQueueKeeper();
void SetActiveQueueKeeper(QueueKeeper* keeper);

} // namespace quillax
