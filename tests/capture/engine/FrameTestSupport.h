#pragma once
// Frames made by the tests themselves and handed to the engine as the frame grabber hands them:
// bottom-up device-independent bitmaps with their header.

#include "capture/engine/FK.h"
#include "platform/dshow/base/Types.h"

#include <QImage>
#include <cstring>
#include <vector>

namespace kestrom::engine::test {

struct SyntheticFrame {
  QImage picture;  // what the frame shows, top row first
  std::vector<uint8_t> bytes;
  dshow::BITMAPINFOHEADER header{};

  /** @brief A 24-bit frame showing the picture (converted to BGR888). */
  explicit SyntheticFrame(const QImage& shown) : picture(shown.convertToFormat(QImage::Format_BGR888)) {
    const int w = picture.width(), h = picture.height();
    const qsizetype stride = ((qsizetype(w) * 24 + 31) / 32) * 4;
    bytes.assign(size_t(stride * h), 0);
    for (int y = 0; y < h; ++y)
      std::memcpy(bytes.data() + stride * (h - 1 - y), picture.constScanLine(y), size_t(w) * 3);
    header.biSize = sizeof(header);
    header.biWidth = w;
    header.biHeight = h;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = uint32_t(bytes.size());
  }
  static SyntheticFrame Uniform(int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_BGR888);
    image.fill(colour);
    return SyntheticFrame(image);
  }
  /** @brief The frame as the overlays left it, top row first. */
  QImage Shown() const {
    QImage out(picture.width(), picture.height(), QImage::Format_BGR888);
    const qsizetype stride = qsizetype(bytes.size()) / picture.height();
    for (int y = 0; y < out.height(); ++y)
      std::memcpy(out.scanLine(y), bytes.data() + stride * (out.height() - 1 - y), size_t(out.width()) * 3);
    return out;
  }
  /** @brief Hands the frame to the engine as its grabber would, at the time (100 ns units). */
  void FeedTo(TFK& fk, int64_t time) {
    fk.OnGrabberFrame(time, &header, bytes.data(), int32_t(bytes.size()));
  }
};

}  // namespace kestrom::engine::test
