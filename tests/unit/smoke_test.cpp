#include <gtest/gtest.h>
#include "driver/driver.h"
TEST(Smoke, CountPiece) { EXPECT_EQ(countPiece("0 1,1-0"), 4); }
