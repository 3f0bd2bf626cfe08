#pragma once
// FFmpeg's multiplexers over our own byte sink: the container is written through a custom I/O
// context whose writes and seeks go to positions in the sink (the file writer's stream, or a
// file of a writer filter itself).

#include "platform/dshow/base/Types.h"

#include <QString>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrom::dshow {

/** @brief Where a multiplexer's bytes go, by position. */
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual HRESULT Write(int64_t position, const uint8_t* data, int length) = 0;
};

/** @brief A file written at positions (for writers that hold their own file). */
class PositionalFile final : public ByteSink {
 public:
  ~PositionalFile() override;
  /** @brief Opens for writing; an existing file is replaced when overwrite is set. */
  HRESULT Open(const QString& path, bool overwrite);
  HRESULT Write(int64_t position, const uint8_t* data, int length) override;
  HRESULT Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

class Muxer {
 public:
  Muxer();
  ~Muxer();
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  /** @brief Starts a container of FFmpeg's format name ("avi", "asf", "mpeg"). */
  HRESULT Open(const char* format, ByteSink* sink);
  /** @brief Adds a stream; time base is a hint the format may replace (read it back after the header). */
  AVStream* AddStream(const AVCodecParameters* par, AVRational timeBase);
  HRESULT WriteHeader(AVDictionary** options = nullptr);
  /**
   * @brief Writes one packet; pts in the stream's time base. Interleaved writing buffers packets
   * so that streams alternate in time; otherwise each goes out as it comes. With a holder of
   * the bytes, the interleaving queue keeps a share of it instead of a copy.
   */
  HRESULT WritePacket(int stream, const uint8_t* data, int length, int64_t pts, int64_t duration, bool key,
                      bool interleaved, std::shared_ptr<void> holder = nullptr);
  /** @brief Writes what is buffered and the index; closes the container. */
  HRESULT Finish();
  void Abort();

  bool IsOpen() const { return context_ != nullptr; }
  AVFormatContext* Context() const { return context_; }
  /** @brief The first error the sink reported (S_OK when none). */
  HRESULT SinkError() const { return sinkError_; }

 private:
  static void ReleaseHolder(void* opaque, uint8_t* data);
  static int WriteCallback(void* opaque, uint8_t* data, int length);
  static int64_t SeekCallback(void* opaque, int64_t offset, int whence);
  void Free();

  ByteSink* sink_ = nullptr;
  AVFormatContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  int64_t position_ = 0;
  int64_t size_ = 0;
  bool headerWritten_ = false;
  HRESULT sinkError_ = 0;
};

}  // namespace kestrom::dshow
