#include "ui/shell/QueueKeeping.h"

namespace quillax {

namespace {
QueueKeeper* g_keeper = nullptr;
}

QueueKeeper* ActiveQueueKeeper() {
    return g_keeper;
}

void SetActiveQueueKeeper(QueueKeeper* keeper) {
    g_keeper = keeper;
}

} // namespace quillax
