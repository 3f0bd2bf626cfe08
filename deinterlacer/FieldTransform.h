#pragma once
// The field-dropping copy: one field of an RGB frame at half width and half height.

#include <cstdint>

namespace kestrom::deinterlacer {

struct FieldLayout {
  int32_t width = 0;      // input pixels per row
  int32_t height = 0;     // input rows
  int32_t outWidth = 0;   // at most width / 2
  int32_t outHeight = 0;  // at most height / 2
  int32_t inStride = 0;   // bytes per input row
  int32_t outStride = 0;  // bytes per output row
  int bytesPerPixel = 0;  // 3 or 4
};

/**
 * @brief Copies the kept rows and pixels. Rows are walked from the first in memory; a row is kept
 * while the row phase is clear, and the phase flips after every row. In a kept row pixel j is
 * kept when the pixel phase is set at it; the phase flips after every pixel and is not reset at
 * the start of a row. At most outHeight rows of outWidth pixels are written. in must hold height
 * rows of inStride bytes, out outHeight rows of outStride bytes.
 */
void TransformField(const uint8_t* in, uint8_t* out, const FieldLayout& layout, int32_t rowPhase, int32_t pixelPhase);

}  // namespace kestrom::deinterlacer
