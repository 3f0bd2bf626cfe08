#pragma once
// What every video source gives its reader: a file decoded by FFmpeg or a frame-server script.

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kestrom::media {

struct ClipInfo {
  QSize size;               // natural picture size
  int64_t frameCount = 0;   // counted from the stream's index, not the header's claim
  int rateNum = 25;         // frames per second as rateNum / rateDen
  int rateDen = 1;
  bool hasAudio = false;
  int audioRate = 0;        // samples per second
  int audioChannels = 0;
  bool fieldBased = false;  // each picture is one field (after SeparateFields)
  QString codec;            // FFmpeg's codec name of the video stream

  /** @brief Milliseconds per frame. */
  double FrameDurationMs() const { return 1000.0 * rateDen / rateNum; }
  /** @brief Length in whole milliseconds (frames x frame duration, rounded). */
  int64_t DurationMs() const { return std::llround(double(frameCount) * 1000.0 * rateDen / rateNum); }
};

/** @brief Counters a reader keeps, for the benchmarks and the tests of its cache. */
struct ReaderStats {
  int64_t decodedFrames = 0;  // pictures that came out of the decoder
  int64_t seeks = 0;          // repositionings of the demuxer
  int64_t cacheHits = 0;
  int64_t readAheadFrames = 0;  // pictures decoded ahead by the read-ahead worker
  bool readingAhead = false;    // a read-ahead run is under way
  int64_t pictureBytes = 0;     // memory held for decoded pictures now: cached, in the decoder, spare
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual const ClipInfo& Info() const = 0;
  /** @brief Frame n (0-based) at the natural size, or scaled to size; null when out of range. */
  virtual QImage Frame(int64_t n, QSize size = {}) = 0;
  /**
   * @brief Draws frame n scaled to rect into target (parts outside target are cut off);
   * false when there is no such frame.
   */
  virtual bool FrameInto(int64_t n, QImage& target, const QRect& rect);
  /** @brief Readies, ahead of time, what FrameInto needs for rect in a target of that size. */
  virtual void PrepareFrameInto(QSize /*target*/, const QRect& /*rect*/) {}
  /**
   * @brief Interleaved 16-bit samples [first, first + count) of the sound; samples past the
   * end are left out. False when the source has no sound or it cannot be read.
   */
  virtual bool ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) = 0;
  /** @brief For field-based clips: true when picture n is a top field (the even rows). */
  virtual bool IsTopField(int64_t /*n*/) const { return false; }
  virtual ReaderStats Stats() const { return {}; }
  virtual void SetCacheBudget(size_t /*bytes*/) {}
  /**
   * @brief Lets the source decode up to frames pictures ahead on a thread of its own while the
   * requests move forward (0: never). What each request gives is the same either way.
   */
  virtual void SetReadAhead(int /*frames*/) {}
};

}  // namespace kestrom::media
