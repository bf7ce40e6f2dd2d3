#include <gtest/gtest.h>

#include "harness.h"
