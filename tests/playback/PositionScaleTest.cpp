#include "playback/PositionScale.h"

#include <gtest/gtest.h>

namespace sonarvex {

TEST(PositionScale, MarkerAndPositionMapping) {
  // A long track on a narrow bar.
  EXPECT_DOUBLE_EQ(MarkerX(0, 20000, 230), 0);
  EXPECT_DOUBLE_EQ(MarkerX(10000, 20000, 230), 100);
  EXPECT_DOUBLE_EQ(MarkerX(30000, 20000, 230), 200);  // clamped to the end
  EXPECT_NEAR(MarkerPosition(100, 20000, 230), 10000, 1e-9);
  // A scale below the width adds one step once moving.
  EXPECT_DOUBLE_EQ(MarkerX(1, 100, 230), 4);
  EXPECT_NEAR(MarkerPosition(MarkerX(50, 100, 230), 100, 230), 50, 1e-9);
  EXPECT_DOUBLE_EQ(MarkerX(5, 0, 230), 0);  // no scale: no division by zero
}

}  // namespace sonarvex
