#pragma once
// The system's clocks: a monotonic one for waits and stalls, and the time of day.

#include <QtGlobal>

namespace quillax {

/// Milliseconds on a monotonic clock shared by the whole program.
qint64 MonotonicMs();
/// Seconds since midnight, the time of day that the window shows and stores.
float SecondsSinceMidnight();

} // namespace quillax
