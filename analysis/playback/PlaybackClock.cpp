#include "analysis/playback/PlaybackClock.h"

#include "platform/core/Format.h"

#include <algorithm>
#include <cmath>

namespace kestrom::playback {

using core::Nearest;
using core::Trunc;

PlaybackClock::PlaybackClock(PlaybackHost& host, PlayerPort& player, const core::Clock& clock)
    : host_(host), player_(player), clock_(clock) {}

int PlaybackClock::IntervalFor(double frameDuration, double speed) {
  if (!(speed > 0) || !(frameDuration > 0)) return 1;
  // A zero interval would make the timer spin.
  return static_cast<int>(std::clamp<int64_t>(Trunc(frameDuration / speed + 0.01), 1, 1 << 30));
}

bool PlaybackClock::Play(double speed) {
  if (!video_.VideoOpen || video_.LengthMs <= 0) return false;
  host_.StopMediaPlayerPlay();
  PlaySpeed = speed;
  PlayStart = 0;
  ScrollTag = kClockMovesScrollBar;
  TimerInterval = IntervalFor(video_.FrameDuration, speed);
  host_.StartTimer(TimerInterval);
  PlayStartTime = clock_.NowMs();
  return true;
}

TickOutcome PlaybackClock::Timer1Timer() {
  if (!video_.VideoOpen) return TickOutcome::NoVideo;
  const int64_t now = clock_.NowMs();
  PlayPosition = PlayStart + Trunc((now - PlayStartTime) * PlaySpeed);

  player_.SetPosition(PlayPosition);
  host_.SetScrollPosition(PlayPosition);
  host_.ShowFrameNumber(FrameNumberAt(PlayPosition, video_.FrameDuration));

  host_.RedrawOverlays();
  if (MarginRepaints >= 1) {
    --MarginRepaints;
    host_.PaintMargins();
  }

  const int64_t frame = Nearest(video_.FrameDuration);
  const int64_t end2 = video_.LengthMs - 2 * frame;
  const int64_t end4 = video_.LengthMs - 4 * frame;

  if (host_.Looping() && PlayPosition >= end2) {
    PlayStart = 0;
    PlayStartTime = now;
    player_.SetPosition(0);
    AimAtNextFrame(now, 0);
    return TickOutcome::Looped;
  }
  if (PlayPosition >= end4) host_.BringToTop();
  if (PlayPosition >= end2) {
    PlayStart = player_.Position();
    ScrollTag = 0;
    host_.StopTimer();
    if (PlayPosition > 0)
      host_.ShowDiagnostic(core::Printf("%.2f", 1000.0 * video_.LengthFrames / PlayPosition));
    if (!host_.PartlyOffScreen()) host_.SnapshotFrame();
    host_.BringToTop();
    return TickOutcome::Ended;
  }
  AimAtNextFrame(now, PlayPosition);
  return TickOutcome::Playing;
}

void PlaybackClock::AimAtNextFrame(int64_t now, int64_t position) {
  const double frame = video_.FrameDuration;
  if (!(frame > 0) || !(PlaySpeed > 0)) return;
  // The next frame's own position, reached by the first whole millisecond of clock time at which
  // start + elapsed x speed gets there; a late tick aims at the frame after the one it shows.
  const double next = static_cast<double>(FrameNumberAt(position, frame) + 1) * frame;
  const double wait = std::ceil((next - static_cast<double>(PlayStart)) / PlaySpeed - 1e-6);
  const int64_t due = PlayStartTime + static_cast<int64_t>(wait);
  host_.StartTimer(static_cast<int>(std::clamp<int64_t>(due - now, 1, 1 << 30)));
}

void PlaybackClock::StopPlayback() {
  host_.StopTimer();
  // A stop outranks an earlier pause: nothing may restart the clock behind the coach's back.
  ResumePending = false;
  ScrollTag = 0;
  host_.SnapshotFrame();
}

void PlaybackClock::PausePlayback() {
  if (!host_.TimerRunning()) return;
  ResumePending = true;
  host_.StopTimer();
}

void PlaybackClock::ResumePlayback() {
  if (!ResumePending) return;
  PlayStart = player_.Position();
  ResumePending = false;
  host_.StartTimer(TimerInterval);
  MarginRepaints = kResumeMarginRepaints;
  PlayStartTime = clock_.NowMs();
}

void PlaybackClock::PauseOrContinue() {
  if (host_.TimerRunning()) {
    host_.StopTimer();
    ScrollTag = 0;
    host_.SnapshotFrame();
    host_.ShowDiagnostic(QString::number(player_.Position()));
    return;
  }
  if (!video_.VideoOpen || video_.LengthMs <= 0) return;
  PlayStart = player_.Position();
  ScrollTag = kClockMovesScrollBar;
  host_.StartTimer(TimerInterval);
  PlayStartTime = clock_.NowMs();
}

void PlaybackClock::Rewind() {
  host_.StopMediaPlayerPlay();
  ScrollTag = 0;
  host_.SetScrollPosition(0);
  player_.SetPosition(0);
  host_.StopTimer();
  host_.ShowFrameNumber(0);
  host_.ShowScrollPosition();
  host_.SnapshotFrame();
}

int64_t PlaybackClock::SeekFromScrollBar(int64_t positionMs) {
  player_.SetPosition(positionMs);
  host_.ShowDiagnostic(QStringLiteral("ScrollBar Step %1").arg(positionMs));
  const int64_t frame = FrameNumberAt(positionMs, video_.FrameDuration);
  host_.ShowFrameNumber(frame);
  return frame;
}

}  // namespace kestrom::playback
