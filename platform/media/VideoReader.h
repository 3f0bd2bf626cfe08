#pragma once
// The one way into a video: a file FFmpeg can read (AVI, MPEG, ASF/WMV, MP4/MOV, DV, ...) or a
// frame-server script (".avs" in any letter case), both giving exact frames by number.
// A reader belongs to one thread at a time; open one per thread that reads.

#include "platform/media/FrameSource.h"

#include <memory>

namespace kestrom::media {

class VideoReader {
 public:
  VideoReader();
  ~VideoReader();
  VideoReader(VideoReader&&) noexcept;
  VideoReader& operator=(VideoReader&&) noexcept;

  /** @brief Opens a file or script; on failure false, ErrorString() says why, nothing changes. */
  bool Open(const QString& path);
  void Close();
  bool IsOpen() const { return source_ != nullptr; }
  QString FileName() const { return path_; }
  QString ErrorString() const { return error_; }

  /** @brief Natural size, frame count, rate, sound; empty when closed. */
  const ClipInfo& Info() const;
  /** @brief Frame n (0-based) as Format_RGB32 at the natural size or scaled; null out of range. */
  QImage Frame(int64_t n, QSize size = {});
  /** @brief Draws frame n scaled to rect into target; false when there is no such frame. */
  bool FrameInto(int64_t n, QImage& target, const QRect& rect);
  /** @brief Readies what FrameInto needs for rect in a target of that size (see FrameSource). */
  void PrepareFrameInto(QSize target, const QRect& rect);
  /** @brief Interleaved 16-bit samples from sample first on (see FrameSource::ReadAudio). */
  bool ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out);

  /** @brief Bounds the memory the decoded-frame cache may hold (256 MB by default). */
  void SetCacheBudget(size_t bytes);
  /**
   * @brief Decodes up to frames pictures ahead on a worker thread while requests move forward
   * (0, the default: never), from this or the next Open on. Answers stay the same.
   */
  void SetReadAhead(int frames);
  ReaderStats Stats() const;

  /** @brief Frame-server scripts are read by this reader itself; nothing outside is needed. */
  static constexpr bool ScriptsBuiltIn() { return true; }
  /** @brief True when the path names a frame-server script (by its extension, any case). */
  static bool IsScript(const QString& path);
  /** @brief Opens a source without a reader around it (used by scripts for their sources). */
  static std::unique_ptr<FrameSource> OpenSource(const QString& path, QString* error, int depth = 0);

 private:
  std::unique_ptr<FrameSource> source_;
  QString path_;
  QString error_;
  size_t cacheBudget_ = size_t(256) << 20;
  int readAhead_ = 0;
};

}  // namespace kestrom::media
