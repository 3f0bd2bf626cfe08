#include "analysis/playback/PlaybackClock.h"

#include "FakePlayer.h"

#include <gtest/gtest.h>

namespace kestrom::playback {
namespace {

using test::FakeClip;
using test::FakePlayer;

// The window as the clock sees it: a timer flag, a scroll bar that arms the one-shot seek when the
// coach's change needs one, and a log of the calls that show something.
class FakeHost final : public PlaybackHost {
 public:
  PlaybackClock* clock = nullptr;
  bool timer = false;
  int interval = 0;
  int64_t scroll = 0;
  int seekArms = 0;  // times ScrollBarTimer would have been armed
  int64_t label = -1;
  int snapshots = 0, marginPaints = 0, raises = 0, overlays = 0;
  bool offScreen = false, looping = false;
  QStringList diagnostics;

  void StartTimer(int ms) override { timer = true, interval = ms; }
  void StopTimer() override { timer = false; }
  bool TimerRunning() const override { return timer; }
  void SetScrollPosition(int64_t p) override {
    if (p == scroll) return;  // a scroll bar signals only real changes
    scroll = p;
    if (clock->ScrollChangeSeeks()) ++seekArms;
  }
  void ShowFrameNumber(int64_t frame) override { label = frame; }
  void RedrawOverlays() override { ++overlays; }
  void PaintMargins() override { ++marginPaints; }
  void SnapshotFrame() override { ++snapshots; }
  void ShowScrollPosition() override {}
  void BringToTop() override { ++raises; }
  bool PartlyOffScreen() const override { return offScreen; }
  bool Looping() const override { return looping; }
  void StopMediaPlayerPlay() override {}
  void ShowDiagnostic(const QString& text) override { diagnostics << text; }
};

class PlaybackClockTest : public ::testing::Test {
 protected:
  PlaybackClockTest() { host_.clock = &clock_; }

  // Opens a clip of the given frames and length on the fake player.
  void Open(int64_t frames, int64_t ms) {
    player_.clips["/v/clip.avi"] = FakeClip{720, 576, frames, ms};
    player_.SetFileName("/v/clip.avi");
    ASSERT_TRUE(player_.Open());
    clock_.SetVideo(MeasureVideo("/v/clip.avi", 720, 576, frames, ms));
  }

  // Advances the wall clock by one timer interval and runs the tick.
  TickOutcome Tick() {
    time_.Advance(host_.interval);
    return clock_.Timer1Timer();
  }

  core::ManualClock time_{5'000'000};
  FakeHost host_;
  FakePlayer player_;
  PlaybackClock clock_{host_, player_, time_};
};

TEST(PlaybackInterval, FrameDurationOverSpeedWithTheFractionCutOff) {
  struct Case {
    double frame, speed;
    int interval;
  } cases[] = {
      {40.0, kNormalSpeed, 40},  {40.0, kSlow2Speed, 80},   {40.0, kSlow4Speed, 160},
      {40.0, kSlow8Speed, 320},  {40.0, kSlow16Speed, 640}, {1000.0 / 30, kNormalSpeed, 33},
      {1000.0 / 29.97, kNormalSpeed, 33}, {1000.0 / 30, kSlow2Speed, 66}, {39.995, kNormalSpeed, 40},
      {0.2, kNormalSpeed, 1},  // never a spinning timer
  };
  for (const Case& c : cases) EXPECT_EQ(PlaybackClock::IntervalFor(c.frame, c.speed), c.interval) << c.frame;
}

TEST_F(PlaybackClockTest, EachPlayButtonStartsFromTheStartAtItsInterval) {
  Open(250, 10000);
  for (auto [speed, interval] : {std::pair{kNormalSpeed, 40}, {kSlow2Speed, 80}, {kSlow4Speed, 160},
                                 {kSlow8Speed, 320}, {kSlow16Speed, 640}}) {
    player_.SetPosition(4000);
    ASSERT_TRUE(clock_.Play(speed));
    EXPECT_TRUE(host_.timer);
    EXPECT_EQ(host_.interval, interval);
    EXPECT_EQ(clock_.ScrollTag, kClockMovesScrollBar);
    // Every tick lands one frame further on: start + whole part of (elapsed x speed).
    EXPECT_EQ(Tick(), TickOutcome::Playing);
    EXPECT_EQ(clock_.PlayPosition, 40);
    EXPECT_EQ(player_.Frame(), 1);
    EXPECT_EQ(Tick(), TickOutcome::Playing);
    EXPECT_EQ(player_.Frame(), 2);
    EXPECT_EQ(host_.label, 2);
    EXPECT_EQ(host_.scroll, 80);
  }
}

TEST_F(PlaybackClockTest, ALateTickSkipsFramesAndTruncatesSlowPositions) {
  Open(250, 10000);
  clock_.Play(kSlow16Speed);
  time_.Advance(650);  // 40.625 ms of video
  clock_.Timer1Timer();
  EXPECT_EQ(clock_.PlayPosition, 40);
  time_.Advance(6400);  // a very late tick: ten frames on, none queued
  clock_.Timer1Timer();
  EXPECT_EQ(clock_.PlayPosition, 440);
  EXPECT_EQ(player_.Frame(), 11);
}

TEST_F(PlaybackClockTest, StopsTwoFramesBeforeTheLastAndRaisesTheWindowNearTheEnd) {
  Open(250, 10000);  // 10 s of 40 ms frames
  clock_.Play(kNormalSpeed);
  TickOutcome outcome = TickOutcome::Playing;
  int ticks = 0;
  int raisedFrom = -1;
  while (outcome == TickOutcome::Playing && ticks < 1000) {
    const int raises = host_.raises;
    outcome = Tick();
    ++ticks;
    if (host_.raises > raises && raisedFrom < 0) raisedFrom = static_cast<int>(clock_.PlayPosition);
  }
  EXPECT_EQ(outcome, TickOutcome::Ended);
  EXPECT_EQ(clock_.PlayPosition, 9920);
  EXPECT_EQ(raisedFrom, 9840);
  EXPECT_FALSE(host_.timer);
  EXPECT_EQ(clock_.ScrollTag, 0);
  EXPECT_EQ(clock_.PlayStart, player_.Position());
  EXPECT_EQ(host_.snapshots, 1);
  EXPECT_EQ(host_.diagnostics.last(), "25.20");  // 1000 x 250 / 9920
}

TEST_F(PlaybackClockTest, LoopingRestartsAtZeroAndNeverStops) {
  Open(250, 10000);
  host_.looping = true;
  clock_.Play(kNormalSpeed);
  int loops = 0;
  for (int i = 0; i < 800; ++i) {
    const TickOutcome outcome = Tick();
    ASSERT_NE(outcome, TickOutcome::Ended);
    if (outcome == TickOutcome::Looped) {
      ++loops;
      EXPECT_EQ(clock_.PlayPosition, 9920);
      EXPECT_EQ(player_.seeks.back(), 0);
      EXPECT_EQ(player_.Frame(), 0);
      EXPECT_EQ(clock_.PlayStart, 0);
      EXPECT_EQ(clock_.PlayStartTime, time_.NowMs());
      Tick();
      EXPECT_EQ(clock_.PlayPosition, 40);
    }
  }
  EXPECT_EQ(loops, 3);
  EXPECT_TRUE(host_.timer);
}

TEST_F(PlaybackClockTest, PauseThenContinuePlaysOnButAPlayButtonStartsOver) {
  Open(250, 10000);
  clock_.Play(kSlow2Speed);
  for (int i = 0; i < 25; ++i) Tick();  // 25 x 80 ms at half speed = 1000 ms
  ASSERT_EQ(clock_.PlayPosition, 1000);

  clock_.PauseOrContinue();
  EXPECT_FALSE(host_.timer);
  EXPECT_EQ(clock_.ScrollTag, 0);
  time_.Advance(60'000);  // the coach looks for a minute

  clock_.PauseOrContinue();
  EXPECT_TRUE(host_.timer);
  EXPECT_EQ(host_.interval, 80);
  EXPECT_EQ(clock_.ScrollTag, kClockMovesScrollBar);
  Tick();
  EXPECT_EQ(clock_.PlayPosition, 1040);

  clock_.PauseOrContinue();
  clock_.Play(kSlow2Speed);
  Tick();
  EXPECT_EQ(clock_.PlayPosition, 40);
}

TEST_F(PlaybackClockTest, AMessageDuringPlayStopsTheClockAndResumesWhereItStopped) {
  Open(250, 10000);
  clock_.Play(kNormalSpeed);
  for (int i = 0; i < 50; ++i) Tick();
  ASSERT_EQ(clock_.PlayPosition, 2000);

  const int answer = clock_.RunPaused([&] {
    EXPECT_FALSE(host_.timer);
    EXPECT_TRUE(clock_.ResumePending);
    time_.Advance(7000);  // the box stays up for seven seconds
    return 6;
  });
  EXPECT_EQ(answer, 6);
  EXPECT_TRUE(host_.timer);
  EXPECT_FALSE(clock_.ResumePending);
  EXPECT_EQ(clock_.PlayStart, 2000);

  const int margins = host_.marginPaints;
  for (int i = 0; i < 5; ++i) Tick();
  EXPECT_EQ(clock_.PlayPosition, 2200);
  EXPECT_EQ(host_.marginPaints - margins, kResumeMarginRepaints);

  // A message while stopped leaves the clock stopped.
  clock_.StopPlayback();
  clock_.RunPaused([] { return 0; });
  EXPECT_FALSE(host_.timer);
}

TEST_F(PlaybackClockTest, AStopAfterAPauseIsNotUndoneByTheNextMessage) {
  Open(250, 10000);
  clock_.Play(kNormalSpeed);
  for (int i = 0; i < 10; ++i) Tick();
  clock_.PausePlayback();  // the coach starts dragging the picture scroll bar
  clock_.StopPlayback();   // and the change that follows stops playback
  clock_.RunPaused([] { return 0; });
  EXPECT_FALSE(host_.timer);
  clock_.ResumePlayback();
  EXPECT_FALSE(host_.timer);
}

TEST_F(PlaybackClockTest, TheClocksOwnScrollMovesStartNoSeek) {
  Open(250, 10000);
  clock_.Play(kNormalSpeed);
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ(host_.scroll, 1200);
  EXPECT_EQ(host_.seekArms, 0);

  clock_.PauseOrContinue();
  host_.SetScrollPosition(400);  // the coach drags the bar
  EXPECT_EQ(host_.seekArms, 1);
  EXPECT_EQ(clock_.SeekFromScrollBar(400), 10);
  EXPECT_EQ(player_.Frame(), 10);
  EXPECT_EQ(host_.label, 10);
  EXPECT_EQ(host_.diagnostics.last(), "ScrollBar Step 400");

  // Continue plays on from the seeked frame.
  clock_.PauseOrContinue();
  Tick();
  EXPECT_EQ(clock_.PlayPosition, 440);
  EXPECT_EQ(host_.seekArms, 1);
}

TEST_F(PlaybackClockTest, RewindStopsAtFrameZero) {
  Open(250, 10000);
  clock_.Play(kNormalSpeed);
  for (int i = 0; i < 10; ++i) Tick();
  clock_.Rewind();
  EXPECT_FALSE(host_.timer);
  EXPECT_EQ(host_.scroll, 0);
  EXPECT_EQ(player_.Frame(), 0);
  EXPECT_EQ(host_.label, 0);
  EXPECT_EQ(clock_.ScrollTag, 0);
}

TEST_F(PlaybackClockTest, NothingPlaysWithoutAVideoOrWithoutLength) {
  EXPECT_FALSE(clock_.Play(kNormalSpeed));
  EXPECT_FALSE(host_.timer);
  EXPECT_EQ(clock_.Timer1Timer(), TickOutcome::NoVideo);
  EXPECT_TRUE(player_.seeks.empty());
  clock_.PauseOrContinue();
  EXPECT_FALSE(host_.timer);

  Open(0, 0);
  EXPECT_FALSE(clock_.Play(kNormalSpeed));
  EXPECT_FALSE(host_.timer);
}

TEST_F(PlaybackClockTest, TheFrameLabelIsTheFrameShownAtNtscRates) {
  // 30000/1001 fps: the interval (33 or 66 ms) is not the frame duration, the label must not drift.
  Open(3000, 100100);
  for (double speed : {kNormalSpeed, kSlow2Speed}) {
    clock_.Play(speed);
    for (int i = 0; i < 2000 && host_.timer; ++i) {
      Tick();
      ASSERT_EQ(host_.label, player_.Frame()) << "at " << clock_.PlayPosition;
    }
    clock_.StopPlayback();
  }
}

TEST_F(PlaybackClockTest, EveryTickShowsTheNextFrameAtEveryRateAndSpeed) {
  // Frame durations that are no whole number of milliseconds drift against a whole-millisecond
  // timer; each tick must still show the frame after the last, none twice, none left out.
  const struct {
    int64_t frames, ms;  // 300 frames at the rate
  } rates[] = {{300, 10000}, {300, 10010}, {300, 6000}, {300, 5005}, {300, 12500}, {300, 12513}, {300, 24000}};
  for (const auto& r : rates) {
    Open(r.frames, r.ms);
    for (double speed : {kNormalSpeed, kSlow2Speed, kSlow4Speed, kSlow16Speed}) {
      SCOPED_TRACE(testing::Message() << r.ms << " ms for 300 frames at speed " << speed);
      ASSERT_TRUE(clock_.Play(speed));
      for (int64_t expected = 1; host_.timer; ++expected) {
        if (Tick() == TickOutcome::Ended) break;
        ASSERT_EQ(player_.Frame(), expected);
        ASSERT_EQ(host_.label, expected);
      }
      EXPECT_GE(player_.Frame(), 297);
    }
  }
}

TEST_F(PlaybackClockTest, AClipShorterThanTwoFramesEndsAtTheFirstTick) {
  Open(1, 40);
  clock_.Play(kNormalSpeed);
  EXPECT_EQ(Tick(), TickOutcome::Ended);
  EXPECT_FALSE(host_.timer);
}

}  // namespace
}  // namespace kestrom::playback
