#pragma once
// libavcodec encoders fed from the graph's sample layouts: video frames in any of the
// uncompressed layouts a source delivers (converted and, when asked, scaled), and 16-bit PCM
// sound (buffered into the codec's frame size, mixed to the wanted channel count). Shared by the
// compressor filters and the writers that encode themselves.

#include "platform/dshow/base/Interfaces.h"
#include "platform/dshow/base/MediaType.h"

#include <functional>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

struct SwsContext;

namespace kestrom::dshow {

/** @brief Receives each coded packet; pts in the encoder's time base. An error stops the encoding. */
using PacketSink = std::function<HRESULT(const AVPacket& packet)>;

struct VideoEncoderSettings {
  AVCodecID codec = AV_CODEC_ID_MSMPEG4V2;
  int width = 0, height = 0;          // 0: the input's size
  REFERENCE_TIME frameTime = 400000;  // 100 ns per frame
  double quality = 0.85;              // 0..1, used when bitRate is 0
  int64_t bitRate = 0;                // bits per second
  int keyFrameRate = 25;              // frames from one key frame to the next (1: all key frames)
};

class VideoEncoder {
 public:
  VideoEncoder();
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  /** @brief True when the input layout can be encoded by the codec at the wanted size. */
  static bool Accepts(const AM_MEDIA_TYPE& input, const VideoEncoderSettings& settings);
  /** @brief Opens the codec for frames of the input type. */
  HRESULT Open(const AM_MEDIA_TYPE& input, const VideoEncoderSettings& settings);
  void Close();
  bool IsOpen() const { return context_ != nullptr; }
  /** @brief Encodes one frame of the input layout; frame counts frames from the start. */
  /**
   * With the sample the data belongs to (keep), a codec that takes the input layout as it is
   * reads the sample itself instead of a copy; the sample must come from an allocator with at
   * least two buffers, as a codec found keeping its input holds that one sample for a while
   * (later frames are then copied, as without keep).
   */
  HRESULT Encode(const BYTE* data, LONG length, int64_t frame, const PacketSink& sink, bool keyFrame = false,
                 IMediaSample* keep = nullptr);
  /** @brief Hands out what the codec still holds. */
  HRESULT Flush(const PacketSink& sink);
  const AVCodecContext* Context() const { return context_; }

 private:
  HRESULT Drain(const PacketSink& sink);

  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int inputFormat_ = -1;
  int inWidth_ = 0, inHeight_ = 0;
  bool bottomUp_ = false, swapChroma_ = false, direct_ = false;
  bool shareInput_ = false;  // direct, and the codec is done with a frame when it returns
  LONG inputBytes_ = 0;
};

struct AudioEncoderSettings {
  AVCodecID codec = AV_CODEC_ID_ADPCM_MS;
  int channels = 0;     // 0: the input's
  int64_t bitRate = 0;  // 0: the codec's default for the rate
};

class AudioEncoder {
 public:
  AudioEncoder();
  ~AudioEncoder();
  AudioEncoder(const AudioEncoder&) = delete;
  AudioEncoder& operator=(const AudioEncoder&) = delete;

  /** @brief The input type is 16-bit PCM; the output keeps its rate. */
  HRESULT Open(const WAVEFORMATEX& input, const AudioEncoderSettings& settings);
  void Close();
  bool IsOpen() const { return context_ != nullptr; }
  /** @brief Takes interleaved 16-bit samples; whole codec frames are encoded. pts counts samples. */
  HRESULT Push(const int16_t* samples, size_t count, const PacketSink& sink);
  /** @brief Encodes the rest, padded with silence, and drains the codec. */
  HRESULT Flush(const PacketSink& sink);
  const AVCodecContext* Context() const { return context_; }

 private:
  HRESULT EncodeFrames(bool flush, const PacketSink& sink);
  HRESULT Drain(const PacketSink& sink);

  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::vector<int16_t> pending_;  // interleaved, input channel count
  int inChannels_ = 1;
  int64_t consumed_ = 0;
};

/** @brief A new encoder context of the codec set up for a PCM input (not opened). */
AVCodecContext* NewAudioContext(const WAVEFORMATEX& input, const AudioEncoderSettings& settings);
/** @brief A new encoder context for a video input (not opened). */
AVCodecContext* NewVideoContext(const AM_MEDIA_TYPE& input, const VideoEncoderSettings& settings);

}  // namespace kestrom::dshow
