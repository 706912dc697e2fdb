#include "core/store/ListStore.h"

#include <gtest/gtest.h>
