#pragma once
// Scaling and converting pictures with libswscale into memory of ours.
//
// The rule for every place where an FFmpeg library (or libjpeg) writes into memory we allocated:
// either give the library what it documents (planes aligned and padded as av_frame_get_buffer
// makes them; for libavcodec, AV_INPUT_BUFFER_PADDING_SIZE after the data), or let it write into
// a frame it allocated itself and copy the rows out (PictureScaler does either). libswscale's vector code writes whole
// blocks and may run past the last pixel of a row, and past the last row; a sample buffer, a
// QImage or a canvas is sized to the picture, so what runs over corrupts the heap or the
// neighbouring pixels, unseen by the sanitizers (the libraries are not instrumented). So
// nothing calls sws_scale into its own buffers: it goes through PictureScaler. (swr_convert
// writes no more than the sample count it is given, and libjpeg no more than one row of
// output_width x output_components per scanline: both are safe with buffers sized to that.)

extern "C" {
#include <libavutil/pixfmt.h>
}
#include <QImage>
#include <cstdint>

struct AVFrame;
struct SwsContext;

namespace kestrom::media {

/**
 * @brief A cached scaler that converts a picture into a padded frame of its own and copies the
 * rows into the caller's planes, whose strides may be negative (bottom-up pictures).
 */
class PictureScaler {
 public:
  PictureScaler() = default;
  ~PictureScaler();
  PictureScaler(const PictureScaler&) = delete;
  PictureScaler& operator=(const PictureScaler&) = delete;

  /** @brief Prepares a conversion; flags are SWS_* (e.g. SWS_POINT). False when impossible. */
  bool Prepare(int srcWidth, int srcHeight, AVPixelFormat srcFormat, int width, int height, AVPixelFormat format,
               int flags);

  /** @brief The context of the last Prepare, for colour-space details; null before. */
  SwsContext* Context() const { return context_; }

  /**
   * @brief Converts a whole source picture and copies it into dst (planes as av_image_fill_arrays
   * lays them out for the prepared format and size; strides may be negative). Writes no byte
   * outside the picture's rows of exactly av_image_get_linesize bytes.
   */
  bool Scale(const uint8_t* const src[], const int srcStride[], uint8_t* const dst[4], const int dstStride[4]);

  /**
   * @brief Converts a whole source picture into a new picture of the prepared size (prepared for
   * AV_PIX_FMT_RGB32), written straight into memory laid out as av_frame_get_buffer lays out a
   * frame: lines a multiple of 64 bytes and padding after the last. Null on failure.
   */
  QImage ScaleToPicture(const uint8_t* const src[], const int srcStride[]);

  /** @brief Frees the context and the frame. */
  void Reset();

 private:
  SwsContext* context_ = nullptr;
  AVFrame* frame_ = nullptr;
  int srcHeight_ = 0;
};

}  // namespace kestrom::media
