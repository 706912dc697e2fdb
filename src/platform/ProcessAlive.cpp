#include "platform/ProcessAlive.h"

#include <cerrno>
#include <csignal>
#include <limits>

namespace quillax {

bool ProcessIsAlive(qint64 pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) {
        return false;
    }
    // Signal 0 only asks: EPERM means the process is there but not ours to signal.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace quillax
