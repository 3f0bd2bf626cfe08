// Arming a timer as the capture form does: a running timer keeps its time to the tick.

#include "capture/app/FormTimers.h"
#include "tools/EventLoopWait.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace kestrom::capture {
namespace {

using tools::WaitFor;

TEST(CaptureAppTimers, ArmingARunningTimerDoesNotDelayIt) {
  QTimer timer;
  timer.setInterval(1000);
  int ticks = 0;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    timer.stop();  // each handler stops its own timer
  });
  QElapsedTimer clock;
  ArmTimer(timer);
  clock.start();
  ASSERT_TRUE(timer.isActive());
  ASSERT_TRUE(WaitFor([&] { return clock.elapsed() >= 300; }, 5000));
  // Armed again, as every frame past a time limit does: QTimer::start would begin 1000 ms anew.
  ArmTimer(timer);
  // (Coarse timers may shift by 5 % of the interval; a restart would leave over 900 ms.)
  EXPECT_LT(timer.remainingTime(), 1000 - 300 + 100);
  ASSERT_TRUE(WaitFor([&] { return ticks > 0; }, 5000));
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(timer.isActive());

  // A stopped timer is started afresh with its interval.
  ArmTimer(timer);
  EXPECT_TRUE(timer.isActive());
  EXPECT_GT(timer.remainingTime(), 500);
  ASSERT_TRUE(WaitFor([&] { return ticks > 1; }, 5000));
  EXPECT_EQ(ticks, 2);
}

}  // namespace
}  // namespace kestrom::capture
