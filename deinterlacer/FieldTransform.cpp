#include "deinterlacer/FieldTransform.h"

#include <cstring>

namespace kestrom::deinterlacer {
namespace {

// Every other 4-byte pixel, starting at src.
void CopyRow32(const uint8_t* src, uint8_t* dst, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    uint32_t pixel;
    std::memcpy(&pixel, src + 8 * i, 4);
    std::memcpy(dst + 4 * i, &pixel, 4);
  }
}

// Every other 3-byte pixel, starting at src. All but the last pixel move as one 4-byte word whose
// fourth byte the next pixel overwrites; the last moves as 3 bytes so nothing past the row is
// read or written.
void CopyRow24(const uint8_t* src, uint8_t* dst, int32_t count) {
  if (count <= 0) return;
  for (int32_t i = 0; i < count - 1; ++i) {
    uint32_t pixel;
    std::memcpy(&pixel, src + 6 * i, 4);
    std::memcpy(dst + 3 * i, &pixel, 4);
  }
  std::memcpy(dst + 3 * (count - 1), src + 6 * (count - 1), 3);
}

}  // namespace

void TransformField(const uint8_t* in, uint8_t* out, const FieldLayout& layout, int32_t rowPhase, int32_t pixelPhase) {
  const int bpp = layout.bytesPerPixel;
  if ((bpp != 3 && bpp != 4) || layout.outWidth <= 0 || layout.outHeight <= 0) return;
  bool skipRow = rowPhase != 0;
  bool copyPixel = pixelPhase != 0;
  const bool oddWidth = (layout.width & 1) != 0;
  int32_t kept = 0;
  for (int32_t row = 0; row < layout.height && kept < layout.outHeight; ++row) {
    if (!skipRow) {
      // With the pixel phase set at pixel 0 the even pixels are kept, else the odd ones.
      const uint8_t* src = in + static_cast<int64_t>(row) * layout.inStride + (copyPixel ? 0 : bpp);
      uint8_t* dst = out + static_cast<int64_t>(kept) * layout.outStride;
      if (bpp == 4) CopyRow32(src, dst, layout.outWidth);
      else CopyRow24(src, dst, layout.outWidth);
      ++kept;
      if (oddWidth) copyPixel = !copyPixel;
    }
    skipRow = !skipRow;
  }
}

}  // namespace kestrom::deinterlacer
