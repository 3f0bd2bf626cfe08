#include "EngineFixtures.h"

#include "capture/engine/WorkerThreads.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

namespace kestrom::engine::test {

namespace {

class FakeSource : public NotifySource {
 public:
  bool GraphActive() const override { return active; }
  bool Closing() const override { return closing; }
  TCurrentState CurrentState() const override { return state; }
  bool PlayerPaused() const override { return paused; }
  bool PlayerRefreshPausedDisplay() const override { return refreshPaused; }
  int64_t PlayerPosition() override {
    ++positionReads;
    return position.load();
  }
  int64_t FrameDuration() const override { return 400000; }
  void UpdateFramePosition(int64_t p) override { updates.push_back(p); }
  std::optional<int64_t> FramesNotDropped() override { return frames; }
  void SetFrameCount(int64_t f) override { frameCount = f; }
  bool HasDVTransport() const override { return dvMode.has_value(); }
  std::optional<int> DVTransportMode() override { return dvMode; }
  std::atomic<bool>& PendingNotification() override { return pending; }
  void FrameProgress() override {
    ++progress;
    if (onProgress) onProgress();
  }
  void RefreshPausedPosition() override { ++pausedRefreshes; }
  void FireDVCommandCompleted(int mode, const QString& label) override { dvEvents.emplace_back(mode, label); }

  bool active = true;
  bool closing = false;
  TCurrentState state = cs_Player;
  bool paused = false;
  bool refreshPaused = false;
  std::atomic<int64_t> position{0};
  std::atomic<int> positionReads{0};
  std::vector<int64_t> updates;
  std::optional<int64_t> frames;
  int64_t frameCount = -1;
  std::optional<int> dvMode;
  std::atomic<bool> pending{false};
  std::atomic<int> progress{0};
  int pausedRefreshes = 0;
  std::vector<std::pair<int, QString>> dvEvents;
  std::function<void()> onProgress;
};

// Pumps the GUI thread until the condition holds or five seconds pass.
bool PumpUntil(const std::function<bool()>& condition) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > 5000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
  }
  return true;
}

}  // namespace

TEST(NotifyThread, APassReportsEachNewFramePositionOnce) {
  FakeSource source;
  TNotifyThread thread(source, false);
  source.position = 1'000'000;  // 2.5 frames: aligned to 3 frames, ties away from zero
  thread.Pass();
  thread.Pass();
  source.position = 1'190'000;  // still frame 3
  thread.Pass();
  source.position = 1'500'000;
  thread.Pass();
  EXPECT_EQ(source.updates, (std::vector<int64_t>{1'200'000, 1'600'000}));
  EXPECT_EQ(source.progress, 2);
  EXPECT_FALSE(source.pending);

  source.active = false;
  source.position = 4'000'000;
  thread.Pass();
  source.active = true;
  source.closing = true;
  thread.Pass();
  EXPECT_EQ(source.progress, 2);
}

TEST(NotifyThread, PausedPlayerIsRedrawnEveryTenthPass) {
  FakeSource source;
  source.paused = true;
  source.refreshPaused = true;
  source.position = 800'000;
  TNotifyThread thread(source, false);
  for (int i = 0; i < 25; ++i) thread.Pass();
  EXPECT_EQ(source.pausedRefreshes, 2);
  EXPECT_EQ(source.progress, 2);  // reported even when the position did not change
  source.refreshPaused = false;
  for (int i = 0; i < 25; ++i) thread.Pass();
  EXPECT_EQ(source.progress, 2);
}

TEST(NotifyThread, AFrameDeliveredToThePausedPlayerIsReportedAtTheNextPass) {
  FakeSource source;
  source.paused = true;
  source.refreshPaused = false;
  source.position = 1'200'000;
  TNotifyThread thread(source, false);
  thread.Pass();
  EXPECT_EQ(source.progress, 0);
  // A step or seek brought a frame through the grabber: it is reported once, with its position.
  source.PendingNotification() = true;
  thread.Pass();
  thread.Pass();
  EXPECT_EQ(source.progress, 1);
  EXPECT_EQ(source.updates, std::vector<int64_t>{1'200'000});
  EXPECT_FALSE(source.PendingNotification().load());
}

TEST(NotifyThread, CaptureFramesAreCountedFromTheDeviceOrThePendingFlag) {
  FakeSource counted;
  counted.state = cs_Recording;
  counted.frames = 10;
  TNotifyThread byDevice(counted, true);
  byDevice.Pass();
  byDevice.Pass();
  counted.frames = 11;
  byDevice.Pass();
  EXPECT_EQ(counted.progress, 2);
  EXPECT_EQ(counted.frameCount, 11);

  FakeSource flagged;
  flagged.state = cs_Preview;
  TNotifyThread byFlag(flagged, false);
  byFlag.Pass();
  EXPECT_EQ(flagged.progress, 0);
  flagged.pending = true;
  byFlag.Pass();
  EXPECT_EQ(flagged.progress, 1);
  EXPECT_FALSE(flagged.pending);
}

TEST(NotifyThread, DVTransportChangesAreReportedWithTheirNames) {
  FakeSource source;
  source.state = cs_Preview;
  source.dvMode = 4296;
  TNotifyThread thread(source, false);
  for (int i = 0; i < 10; ++i) thread.Pass();
  source.dvMode = 9999;
  for (int i = 0; i < 20; ++i) thread.Pass();
  EXPECT_EQ(source.dvEvents, (std::vector<std::pair<int, QString>>{{4296, "play"}, {9999, "-"}}));
}

TEST(NotifyThread, AStopMadeInsideItsOwnSynchronisedCallReturnsAtOnce) {
  auto* source = new FakeSource;
  auto thread = std::make_unique<TNotifyThread>(*source, false);
  qint64 stopMs = -1;
  bool stoppedInside = false;
  source->onProgress = [&] {
    if (stoppedInside) return;
    stoppedInside = true;
    QElapsedTimer timer;
    timer.start();
    TWaitingThread::Stop(thread);  // the event handler ends the capture
    stopMs = timer.elapsed();
  };
  thread->Resume();
  source->position = 400'000;
  ASSERT_TRUE(PumpUntil([&] { return stoppedInside; }));
  EXPECT_GE(stopMs, 0);
  EXPECT_LT(stopMs, 1000);
  EXPECT_EQ(thread, nullptr);
  // The thread was joined when the call returned: nothing touches the source any more.
  delete source;
}

TEST(NotifyThread, AStopWhileASynchronisedCallWaitsEndsTheThreadPromptly) {
  FakeSource source;
  auto thread = std::make_unique<TNotifyThread>(source, false);
  thread->Resume();
  source.position = 400'000;
  QElapsedTimer wait;
  wait.start();
  while (!source.pending && wait.elapsed() < 5000) QThread::yieldCurrentThread();
  ASSERT_TRUE(source.pending);  // the thread now waits for the GUI thread
  QElapsedTimer timer;
  timer.start();
  TWaitingThread::Stop(thread);
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_EQ(thread, nullptr);
  EXPECT_LE(source.progress, 1);
}

TEST(WaitingThread, ThreadsThatNeverRanOrOnlySleepStopAtOnce) {
  core::ManualClock clock;
  auto idle = std::make_unique<TDevChangeThread>(clock, nullptr, nullptr);
  TWaitingThread::Stop(idle);
  EXPECT_EQ(idle, nullptr);

  int posts = 0;
  auto running = std::make_unique<TDevChangeThread>(clock, nullptr, [&] { ++posts; });
  running->Resume();
  QElapsedTimer timer;
  timer.start();
  TWaitingThread::Stop(running);
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_EQ(posts, 0);
}

TEST(DeviceChangeDebounce, EachChangePushesTheDeadlineBack) {
  core::ManualClock clock(0);
  DeviceChangeDebounce debounce(clock);
  int posts = 0;
  const auto post = [&] { ++posts; };
  std::vector<int64_t> at;
  for (int64_t t = 0; t <= 5000; t += 100) {
    clock.Set(t);
    if (t == 0 || t == 500 || t == 1000) debounce.Arm();
    if (debounce.Poll(post)) at.push_back(t);
  }
  EXPECT_EQ(at, (std::vector<int64_t>{3100}));
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(debounce.ArmState(), 0);
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

namespace {

class FakeStepper : public PlayerStepSource {
 public:
  bool SteppingEnabled() const override { return enabled; }
  bool TakeFrameProgressSeen() override { return seen.exchange(false); }
  void PostThreadStep() override { ++posts; }
  std::atomic<bool> enabled{true};
  std::atomic<bool> seen{false};
  std::atomic<int> posts{0};
};

}  // namespace

TEST(PlayerStepThread, PostsAStepOnlyAfterTheLastFrameWasShown) {
  FakeStepper stepper;
  TPlayerStepThread thread(stepper);
  EXPECT_EQ(thread.Interval(), 100);
  EXPECT_FALSE(thread.Pass());  // no frame shown yet
  stepper.seen = true;
  stepper.enabled = false;
  EXPECT_FALSE(thread.Pass());
  stepper.enabled = true;
  EXPECT_TRUE(thread.Pass());
  EXPECT_TRUE(thread.WaitingForStep());
  EXPECT_EQ(stepper.posts, 1);
  EXPECT_FALSE(thread.Pass());  // the mark was taken
  thread.ResumeStepping();
  EXPECT_FALSE(thread.WaitingForStep());
  thread.SetInterval(0);
  EXPECT_EQ(thread.Interval(), 1);
}

TEST(PlayerStepThread, RunningThreadStepsWhenResumedAndStopsAtOnce) {
  FakeStepper stepper;
  auto thread = std::make_unique<TPlayerStepThread>(stepper, 1);
  thread->Resume();
  stepper.seen = true;
  QElapsedTimer timer;
  timer.start();
  while (stepper.posts < 1 && timer.elapsed() < 5000) QThread::yieldCurrentThread();
  ASSERT_EQ(stepper.posts, 1);
  while (!thread->WaitingForStep() && timer.elapsed() < 5000) QThread::yieldCurrentThread();
  stepper.seen = true;
  thread->ResumeStepping();
  while (stepper.posts < 2 && timer.elapsed() < 5000) QThread::yieldCurrentThread();
  EXPECT_EQ(stepper.posts, 2);
  QElapsedTimer stop;
  stop.start();
  TWaitingThread::Stop(thread);  // waiting for its step: still ends at once
  EXPECT_LT(stop.elapsed(), 1000);
}

}  // namespace kestrom::engine::test
