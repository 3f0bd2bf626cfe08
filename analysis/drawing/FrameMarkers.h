#pragma once
// The eight frame markers and the stopwatch of an analysis window, without their buttons: the
// window forwards each click and key to this class and acts on what it answers (seek, captions).

#include "analysis/annotation/DrawingStore.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace kestrom::drawing {

/** @brief The virtual key of the Control key, which unsets a focused marker. */
inline constexpr int kControlKey = 17;

/** @brief What a click on a marker asks of the window. */
struct MarkerClick {
  enum class Action { None, Set, Seek, Outside };  // Outside: set, but not within the video
  Action action = Action::None;
  int32_t position = -1;  // the marker's media position (ms) for Set and Seek
  int64_t frame = 0;      // the frame label after a seek: nearest(position / frame duration)
};

/** @brief What the window's video is doing when a marker or the stopwatch is used. */
struct MarkerVideo {
  bool open = false;
  int64_t positionMs = 0;  // the media player's current position
  int64_t lengthMs = 0;
  double frameDuration = 40.0;  // ms
};

class FrameMarkers {
 public:
  explicit FrameMarkers(annotation::DrawingStore& store) : store_(store) {}

  /**
   * @brief A click on marker n (1..8): an unset marker takes the current position (markers
   * modified); a set one within the video asks for a seek to it; one outside it answers Outside
   * (the window says so); a click without a video does nothing.
   */
  MarkerClick Click(int n, const MarkerVideo& video);
  /** @brief A key on marker n: Control unsets it (the modified flag is left alone). True when it did. */
  bool KeyDown(int n, int key);
  /** @brief The caption of marker n: its digit while unset, else its frame number. */
  QString Caption(int n, double frameDuration) const;

  /**
   * @brief The stopwatch button: stops a running stopwatch, or starts one at the current position.
   * Returns whether the button is now held down, or nothing without a video.
   */
  std::optional<bool> TimeClick(const MarkerVideo& video);
  bool StopwatchRunning() const { return store_.StopwatchState().running; }
  /** @brief The stopwatch caption at a position; nothing when it should keep its old text. */
  std::optional<QString> StopwatchCaption(int64_t positionMs) const;

 private:
  annotation::DrawingStore& store_;
};

}  // namespace kestrom::drawing
