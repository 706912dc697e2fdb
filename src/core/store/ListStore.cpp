#include "core/store/ListStore.h"
