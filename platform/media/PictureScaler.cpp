#include "platform/media/PictureScaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace kestrom::media {
namespace {
constexpr size_t kOverrun = 128;  // past the last line: more than any vector store of the scaler runs over
}  // namespace

PictureScaler::~PictureScaler() { Reset(); }

void PictureScaler::Reset() {
  sws_freeContext(context_);
  context_ = nullptr;
  av_frame_free(&frame_);
  srcHeight_ = 0;
}

bool PictureScaler::Prepare(int srcWidth, int srcHeight, AVPixelFormat srcFormat, int width, int height,
                            AVPixelFormat format, int flags) {
  if (srcWidth <= 0 || srcHeight <= 0 || width <= 0 || height <= 0) return false;
  context_ = sws_getCachedContext(context_, srcWidth, srcHeight, srcFormat, width, height, format, flags, nullptr,
                                  nullptr, nullptr);
  if (!context_) return false;
  srcHeight_ = srcHeight;
  if (frame_ && frame_->width == width && frame_->height == height && frame_->format == format) return true;
  av_frame_free(&frame_);
  frame_ = av_frame_alloc();
  if (!frame_) return false;
  frame_->width = width;
  frame_->height = height;
  frame_->format = format;
  // av_frame_get_buffer aligns every line and pads the planes for the libraries' vector code.
  if (av_frame_get_buffer(frame_, 64) < 0) {
    av_frame_free(&frame_);
    return false;
  }
  return true;
}

bool PictureScaler::Scale(const uint8_t* const src[], const int srcStride[], uint8_t* const dst[4],
                          const int dstStride[4]) {
  if (!context_ || !frame_) return false;
  if (sws_scale(context_, src, srcStride, 0, srcHeight_, frame_->data, frame_->linesize) != frame_->height)
    return false;
  uint8_t* planes[4] = {dst[0], dst[1], dst[2], dst[3]};
  int strides[4] = {dstStride[0], dstStride[1], dstStride[2], dstStride[3]};
  av_image_copy(planes, strides, const_cast<const uint8_t**>(frame_->data), frame_->linesize,
                AVPixelFormat(frame_->format), frame_->width, frame_->height);
  return true;
}

QImage PictureScaler::ScaleToPicture(const uint8_t* const src[], const int srcStride[]) {
  if (!context_ || !frame_ || frame_->format != AV_PIX_FMT_RGB32) return {};
  // As av_frame_get_buffer with an alignment of 64: whole 64-byte lines, and room after the last
  // line for the vector code's overrun.
  const int width = frame_->width, height = frame_->height;
  const qsizetype line = (qsizetype(width) * 4 + 63) & ~qsizetype(63);
  auto* data = static_cast<uchar*>(av_malloc(size_t(line) * size_t(height) + kOverrun));
  if (!data) return {};
  QImage picture(data, width, height, line, QImage::Format_RGB32, [](void* p) { av_free(p); }, data);
  if (picture.isNull()) {
    av_free(data);
    return {};
  }
  uint8_t* const dst[4] = {data};
  const int dstStride[4] = {int(line)};
  if (sws_scale(context_, src, srcStride, 0, srcHeight_, dst, dstStride) != height) return {};
  return picture;
}

}  // namespace kestrom::media
