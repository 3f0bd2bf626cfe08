#pragma once
// The playback clock of an analysis window. The window does not let its player run a clip: every
// tick of its timer works out where the clip should be by now from a monotonic clock and the
// chosen speed, seeks the player there and moves the scroll bar and the frame label, so a slow
// machine drops frames instead of falling behind. Normal speed and slow motion (1/2 to 1/16) run
// the same way; only the timer interval and the speed differ.
//
// The window owns one clock and implements PlaybackHost; the clock calls back for everything
// that touches controls, so it can be tested without a window.

#include "analysis/playback/PlayerPort.h"
#include "analysis/playback/VideoFacts.h"
#include "platform/core/Clock.h"

#include <QString>
#include <cstdint>

namespace kestrom::playback {

/** @brief The scroll bar's tag while the clock or a program step moves it: no seek follows. */
inline constexpr int kClockMovesScrollBar = 7;

/** @brief Ticks after a resume that also repaint the picture margins. */
inline constexpr int kResumeMarginRepaints = 3;

/** @brief What the clock asks of its window. */
class PlaybackHost {
 public:
  virtual ~PlaybackHost() = default;
  /** @brief The playback timer (Timer1). */
  virtual void StartTimer(int intervalMs) = 0;
  virtual void StopTimer() = 0;
  virtual bool TimerRunning() const = 0;
  /** @brief Moves the main scroll bar (ScrollBar1) to a position in milliseconds. */
  virtual void SetScrollPosition(int64_t positionMs) = 0;
  /** @brief The frame label (Test). */
  virtual void ShowFrameNumber(int64_t frame) = 0;
  virtual void RedrawOverlays() = 0;
  virtual void PaintMargins() = 0;
  virtual void SnapshotFrame() = 0;
  virtual void ShowScrollPosition() = 0;
  virtual void BringToTop() = 0;
  virtual bool PartlyOffScreen() const = 0;
  /** @brief A loop button is down. */
  virtual bool Looping() const = 0;
  /** @brief Stops the player's own play when it runs (StopMediaPlayerPlay). */
  virtual void StopMediaPlayerPlay() = 0;
  /** @brief A diagnostic line for the window-title form. */
  virtual void ShowDiagnostic(const QString& text) = 0;
};

enum class TickOutcome {
  NoVideo,  // nothing happened
  Playing,
  Looped,   // back at the start; the tick ended there
  Ended,    // stopped two frames before the last
};

/** @brief Speeds of the five play buttons. */
inline constexpr double kNormalSpeed = 1.0;
inline constexpr double kSlow2Speed = 0.5;
inline constexpr double kSlow4Speed = 0.25;
inline constexpr double kSlow8Speed = 0.125;
inline constexpr double kSlow16Speed = 0.0625;

class PlaybackClock {
 public:
  PlaybackClock(PlaybackHost& host, PlayerPort& player, const core::Clock& clock);

  /** @brief The video now open (or none: facts with VideoOpen false). */
  void SetVideo(const VideoFacts& video) { video_ = video; }
  const VideoFacts& Video() const { return video_; }

  /**
   * @brief The timer interval for a speed: frame duration / speed + 0.01 ms with the fraction cut
   * off (40 ms frames give 40, 80, 160, 320, 640), never below 1 ms.
   */
  static int IntervalFor(double frameDuration, double speed);

  /**
   * @brief A play button, once the window's own refusals (export, synchronised Best) passed:
   * plays from the start of the clip at the speed. False without a video or with a zero length.
   */
  bool Play(double speed);

  /** @brief One tick of the playback timer (Timer1Timer). */
  TickOutcome Timer1Timer();

  /**
   * @brief Clock off, scroll bar seeks again, snapshot (before nearly every tool action). A pause
   * pending resumption is forgotten.
   */
  void StopPlayback();
  /** @brief Stops a running clock so that ResumePlayback restarts it. */
  void PausePlayback();
  /** @brief Restarts a clock stopped by PausePlayback from the player's position. */
  void ResumePlayback();

  /** @brief The pause-or-continue button (outside an export): pauses a running clock or plays on. */
  void PauseOrContinue();

  /** @brief Rewind to frame 0 (outside the window's refusals). */
  void Rewind();

  /** @brief True when a change of the main scroll bar is the coach's and must seek. */
  bool ScrollChangeSeeks() const { return ScrollTag != kClockMovesScrollBar; }

  /** @brief The one-shot seek after a scroll-bar change; returns the frame number shown. */
  int64_t SeekFromScrollBar(int64_t positionMs);

  /** @brief Runs f (a message box) with the clock paused, resuming it afterwards. */
  template <typename F>
  auto RunPaused(F&& f) {
    struct Resume {
      PlaybackClock* clock;
      ~Resume() { clock->ResumePlayback(); }
    };
    PausePlayback();
    Resume resume{this};
    return f();
  }

  double PlaySpeed = kSlow2Speed;
  int64_t PlayStart = 0;      // media position (ms) at which the clock started
  int64_t PlayStartTime = 0;  // clock reading (ms) at that moment
  int64_t PlayPosition = 0;   // position computed by the last tick (ms)
  int TimerInterval = 100;
  bool ResumePending = false;
  int MarginRepaints = 0;
  int ScrollTag = 0;

 private:
  // The timer counts whole milliseconds and a frame rarely lasts a whole number of them (33.37 ms
  // at 29.97 fps): ticks at the fixed interval drift until one shows a frame twice. Each tick
  // therefore sets the next one for the moment the next frame is due.
  void AimAtNextFrame(int64_t now, int64_t position);

  PlaybackHost& host_;
  PlayerPort& player_;
  const core::Clock& clock_;
  VideoFacts video_;
};

}  // namespace kestrom::playback
