#include "platform/core/Clock.h"

#include <gtest/gtest.h>

namespace kestrom::core {

TEST(Clock, ManualClockReplacesTheSystemClockUntilRestored) {
  ManualClock manual(1000);
  SetSystemClock(&manual);
  manual.Advance(40);
  EXPECT_EQ(SystemClock().NowMs(), 1040);
  SetSystemClock(nullptr);
  const int64_t a = SystemClock().NowMs();
  EXPECT_GE(SystemClock().NowMs(), a);
}

}  // namespace kestrom::core
