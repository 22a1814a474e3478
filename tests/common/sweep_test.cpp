// The sweep rule: the number of steps of a range and the value of a point.
#include "common/sweep.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace kx {
namespace {

TEST(Sweep, WholeNumberOfStepsIncludesTheEnd) {
  EXPECT_EQ(step_count(0.05f, 0.01f, 0.01f), 4);  // five points 0.01 ... 0.05
  // 32-bit quotient 5.9999998; the added 0.0001 lifts it above 6.
  EXPECT_EQ(step_count(0.7f, 0.1f, 0.1f), 6);
  EXPECT_EQ(step_count(6.0f, 1.0f, 0.5f), 10);
  EXPECT_EQ(step_count(1.0f, 1.0f, 0.5f), 0);  // a single point
  EXPECT_EQ(step_count(1.0f, 0.0f, 0.3f), 3);  // 3.3334 truncated
}

TEST(Sweep, PointsAreIndexTimesStepPlusMinimum) {
  EXPECT_EQ(sweep_point(0, 0.01f, 0.01f), 0.01f);
  EXPECT_EQ(sweep_point(4, 0.01f, 0.01f),
            static_cast<float>(4.0L * static_cast<long double>(0.01f) +
                               static_cast<long double>(0.01f)));
  EXPECT_EQ(sweep_point(3, 0.5f, 1.0f), 2.5f);
}

TEST(Sweep, DescendingRangeHasNoPoints) {
  EXPECT_LT(step_count(0.01f, 0.05f, 0.01f), 0);
  EXPECT_LT(step_count(1.0f, 0.0f, -0.5f), 0);
}

TEST(Sweep, StepCountsBeyondTheIntegerRangeSaturate) {
  EXPECT_EQ(step_count(1.0f, 0.0f, 1e-12f), INT_MAX);
  EXPECT_EQ(step_count(3e38f, -3e38f, 1e-30f), INT_MAX);  // quotient overflows the float
  // Just below 2^31 stays exact and truncated.
  EXPECT_EQ(step_count(1073741824.0f, 0.0f, 1.0f), 1073741824);
}

TEST(Sweep, NonFiniteQuotientGivesNoPoints) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_LT(step_count(1.0f, 0.0f, 0.0f), 0);  // zero step
  EXPECT_LT(step_count(0.0f, 0.0f, 0.0f), 0);  // 0/0
  EXPECT_LT(step_count(nan, 0.0f, 1.0f), 0);
  EXPECT_LT(step_count(inf, 0.0f, 1.0f), 0);
  EXPECT_LT(step_count(1.0f, 0.0f, nan), 0);
}

}  // namespace
}  // namespace kx
