#pragma once
// The window's media player as opening and the playback clock see it. The window hands them its
// player behind this face; tests hand them a fake whose frames are known.

#include <QSize>
#include <QString>
#include <cstdint>

namespace kestrom::playback {

class PlayerPort {
 public:
  virtual ~PlayerPort() = default;

  /** @brief The file that Open() opens; setting it opens nothing. */
  virtual QString FileName() const = 0;
  virtual void SetFileName(const QString& name) = 0;
  /**
   * @brief Opens FileName(). On failure the previous video stays open as it was and false comes
   * back; ErrorString() says why, for the coach.
   */
  virtual bool Open() = 0;
  virtual QString ErrorString() const = 0;

  /** @brief The picture's natural size (the display rectangle read back after setting it empty). */
  virtual QSize NaturalSize() const = 0;
  virtual int64_t LengthFrames() const = 0;
  virtual int64_t LengthMs() const = 0;

  /** @brief Position in milliseconds. */
  virtual int64_t Position() const = 0;
  /** @brief Shows the frame at a position in milliseconds before returning. */
  virtual void SetPosition(int64_t ms) = 0;
};

}  // namespace kestrom::playback
