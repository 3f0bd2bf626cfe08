#include "tests/platform/dshow/sources/FrameReading.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "tools/FrameCode.h"

#include <algorithm>

namespace kestrom::dshow::test {

QImage PictureOf(const CMediaType& type, const std::vector<uint8_t>& bytes) {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
  if (!h) return {};
  const int w = h->biWidth, rows = std::abs(h->biHeight);
  QImage image(w, rows, QImage::Format_RGB32);
  if (type.subtype == MEDIASUBTYPE_RGB24 || type.subtype == MEDIASUBTYPE_RGB32) {
    const int bpp = type.subtype == MEDIASUBTYPE_RGB24 ? 3 : 4;
    const size_t stride = static_cast<size_t>(RgbStride(w, bpp * 8));
    if (bytes.size() < stride * rows) return {};
    for (int y = 0; y < rows; ++y) {
      const uint8_t* src = bytes.data() + stride * static_cast<size_t>(h->biHeight > 0 ? rows - 1 - y : y);
      auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) dst[x] = qRgb(src[bpp * x + 2], src[bpp * x + 1], src[bpp * x]);
    }
    return image;
  }
  if (type.subtype == MEDIASUBTYPE_I420) {
    // The luma plane comes first, one byte a pixel.
    if (bytes.size() < static_cast<size_t>(w) * rows * 3 / 2) return {};
    for (int y = 0; y < rows; ++y) {
      const uint8_t* src = bytes.data() + static_cast<size_t>(w) * y;
      auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const int luma = std::clamp((src[x] - 16) * 255 / 219, 0, 255);
        dst[x] = qRgb(luma, luma, luma);
      }
    }
    return image;
  }
  if (type.subtype == MEDIASUBTYPE_YUY2) {
    const size_t stride = static_cast<size_t>(w) * 2;
    if (bytes.size() < stride * rows) return {};
    for (int y = 0; y < rows; ++y) {
      const uint8_t* src = bytes.data() + stride * static_cast<size_t>(y);
      auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < w; ++x) {
        const int luma = std::clamp((src[2 * x] - 16) * 255 / 219, 0, 255);
        dst[x] = qRgb(luma, luma, luma);
      }
    }
    return image;
  }
  return {};
}

int ReadNumber(const CMediaType& type, const std::vector<uint8_t>& bytes) {
  return tools::ReadFrameCode(PictureOf(type, bytes));
}

GUID PinCategoryOf(IPin* pin) { return PinCategory(pin); }

}  // namespace kestrom::dshow::test
