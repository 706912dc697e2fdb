#include "core/store/QueueKeeper.h"
