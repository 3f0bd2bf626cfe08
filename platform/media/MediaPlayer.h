#pragma once
// The media player of the analysis windows: one video file (or frame-server script) shown in the
// owner's picture, positioned to the exact frame. The owner drives it position by position for
// its own playback clock; the player can also play by itself at normal speed, with sound where
// the machine has a sound device, and tells its owner when it reaches the end.
//
// Positions are milliseconds or frames (TimeFormat). Setting position p in milliseconds shows
// frame nearest(p / FrameDuration()), ties to the even frame, clamped to the first and last
// frame; reading gives nearest(frame x FrameDuration()). FrameDuration() is Length in
// milliseconds over Length in frames, as the analysis window computes it.

#include "platform/core/Clock.h"
#include "platform/media/VideoReader.h"

#include <QObject>
#include <QRect>
#include <QTimer>
#include <functional>
#include <memory>

namespace kestrom::media {

class SoundSink;

/** @brief Opens the sound device for a rate and channel count; null when there is none. */
using SoundFactory = std::function<std::unique_ptr<SoundSink>(int rate, int channels)>;

/** @brief The player's modes, numbered as the analysis window reads them. */
enum class MPMode { NotReady = 0, Stopped = 1, Playing = 2, Paused = 5 };

/** @brief Units of Length and Position. */
enum class MPTimeFormat { Milliseconds = 0, Frames = 3 };

class MediaPlayer : public QObject {
  Q_OBJECT

 public:
  /** @brief clock: the clock of its own play (the system clock when null). */
  explicit MediaPlayer(QObject* parent = nullptr, core::Clock* clock = nullptr);
  ~MediaPlayer() override;

  /** @brief The owner's picture the frames are drawn into (may be null: nothing is drawn). */
  void SetDisplay(QImage* canvas) { canvas_ = canvas; }
  QImage* Display() const { return canvas_; }

  /**
   * @brief The part of the owner's picture that frames may cover (empty: all of it). A picture
   * larger than its area, zoomed or scrolled, is cut at the area's edges rather than drawn over
   * the owner's controls.
   */
  void SetPictureArea(const QRect& area) { area_ = area; }
  QRect PictureArea() const { return area_; }

  /** @brief The file Open() opens; setting it opens nothing ("Null" is an ordinary name). */
  QString FileName() const { return fileName_; }
  void SetFileName(const QString& name) { fileName_ = name; }

  /**
   * @brief Opens FileName(). A file that cannot be opened leaves the player exactly as it was
   * (the previous video open at its position, FileName() back to it) and returns false;
   * ErrorString() then says why, for the user.
   */
  bool Open();
  /** @brief Closes the video: mode not ready, length and position 0, seeks ignored. */
  void Close();
  bool IsOpen() const { return reader_.IsOpen(); }
  QString ErrorString() const { return error_; }

  MPMode Mode() const { return mode_; }
  MPTimeFormat TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(MPTimeFormat format) { timeFormat_ = format; }

  /** @brief Length in the time format. */
  int64_t Length() const;
  /** @brief Position in the time format. */
  int64_t Position() const;
  /** @brief Shows the frame at the position (time format) in the owner's picture before returning. */
  void SetPosition(int64_t position);
  /** @brief The frame shown now (0-based). */
  int64_t CurrentFrame() const { return frame_; }
  int64_t LengthFrames() const { return reader_.Info().frameCount; }
  int64_t LengthMs() const { return reader_.Info().DurationMs(); }
  /** @brief LengthMs / LengthFrames; 40 without frames. */
  double FrameDuration() const;
  const ClipInfo& Info() const { return reader_.Info(); }

  /**
   * @brief Where the frame goes in the owner's picture: left, top, width, height. Setting an
   * empty rectangle (0, 0, 0, 0) restores the natural size at the top left, which it then reads.
   */
  QRect DisplayRect() const;
  void SetDisplayRect(const QRect& rect);

  /** @brief Draws the current frame again (after the owner cleared its picture). */
  void Refresh();

  /** @brief Plays by itself at normal speed from the position (from the start when at the end). */
  void Play();
  /** @brief Pauses its own play; Play() goes on from there. */
  void Pause();
  /** @brief Stops its own play where it is. */
  void Stop();
  /** @brief Steps frames forward (Step) or back (Back), stopping its own play first. */
  void Step(int frames = 1);
  void Back(int frames = 1);
  /** @brief To the last frame (Next) or the first (Previous). */
  void Next();
  void Previous();

  /** @brief One tick of its own play; the player's timer calls it, tests may too. */
  void PlayTick();

  /** @brief Where its own play sends the sound (the default sound device unless replaced). */
  void SetSoundFactory(SoundFactory factory);

  /** @brief For the benchmarks and tests: the reader underneath. */
  VideoReader& Reader() { return reader_; }

 signals:
  /** @brief Its own play reached the end. */
  void Notify();
  /** @brief A frame was drawn into the owner's picture; the owner repaints. */
  void FrameShown(qint64 frame);
  void ModeChanged(kestrom::media::MPMode mode);

 private:
  void ShowFrame(int64_t frame);
  void SetMode(MPMode mode);
  void StopPlayClock();
  void FeedSound(int64_t positionMs);

  core::Clock* clock_;
  QImage* canvas_ = nullptr;
  QRect area_;
  VideoReader reader_;
  QString fileName_;
  QString openName_;
  QString error_;
  MPMode mode_ = MPMode::NotReady;
  MPTimeFormat timeFormat_ = MPTimeFormat::Milliseconds;
  QRect displayRect_;
  int64_t frame_ = 0;
  int64_t playStartMs_ = 0;     // position at which its own play started
  int64_t playStartClock_ = 0;  // clock reading at that moment
  QTimer playTimer_;
  SoundFactory soundFactory_;
  std::unique_ptr<SoundSink> sound_;
  int64_t soundNext_ = -1;      // next sample to hand to the sound device
};

}  // namespace kestrom::media
