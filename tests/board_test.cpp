#include <gtest/gtest.h>
#include "tarnwick.h"
TEST(Smoke, Start) { SUCCEED(); }
