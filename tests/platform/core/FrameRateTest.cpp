// Frame rates given rounded (two decimals, whole 100 ns frame times) come back as exact fractions.
#include "platform/core/FrameRate.h"

#include <gtest/gtest.h>

namespace kestrom::core {
namespace {

TEST(FrameRate, RoundedRatesAndFrameTimesGiveTheExactFraction) {
  const struct {
    double figure;  // as passed on with two decimals
    RateFraction exact;
    int64_t frameTime;
  } cases[] = {
      {30.00, {30, 1}, 333333},        {29.97, {30000, 1001}, 333667}, {60.00, {60, 1}, 166667},
      {59.94, {60000, 1001}, 166833},  {24.00, {24, 1}, 416667},       {23.98, {24000, 1001}, 417083},
      {50.00, {50, 1}, 200000},        {25.00, {25, 1}, 400000},       {12.50, {25, 2}, 800000},
      {15.00, {15, 1}, 666667},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.figure);
    EXPECT_EQ(ExactFrameRate(c.figure), c.exact);
    EXPECT_EQ(FrameTimeOf(c.exact), c.frameTime);
    EXPECT_EQ(FrameRateOfFrameTime(c.frameTime), c.exact);
  }
  EXPECT_EQ(ExactFrameRate(7.25), (RateFraction{29, 4}));
  // A frame time no common rate rounds to is taken as it is.
  EXPECT_EQ(FrameRateOfFrameTime(333334), (RateFraction{5000000, 166667}));
  EXPECT_EQ(FrameRateOfFrameTime(0), (RateFraction{25, 1}));
  EXPECT_EQ(ExactFrameRate(0), (RateFraction{25, 1}));
}

}  // namespace
}  // namespace kestrom::core
