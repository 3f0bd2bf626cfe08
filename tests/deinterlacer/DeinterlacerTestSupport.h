#pragma once
// Shared by the deinterlacer tests: frames whose pixels encode their coordinates, and the field a
// frame should give, computed by walking rows and pixels one by one.

#include "platform/dshow/base/MediaType.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <cstring>
#include <vector>

namespace kestrom::deinterlacer::test {

using dshow::test::CoordinateFrame;

/** @brief The expected output: row and pixel phases toggled per row and per pixel, never reset. */
inline std::vector<uint8_t> ExpectedField(const std::vector<uint8_t>& in, int bitCount, int width, int height,
                                          int32_t rowPhase, int32_t pixelPhase) {
  const int bpp = bitCount / 8;
  const int outW = width / 2, outH = height / 2;
  const int inStride = dshow::RgbStride(width, bitCount), outStride = dshow::RgbStride(outW, bitCount);
  std::vector<uint8_t> out(static_cast<size_t>(outStride) * outH, 0);
  bool r = rowPhase != 0, p = pixelPhase != 0;
  int outRow = 0;
  for (int y = 0; y < height; ++y) {
    if (!r) {
      int outX = 0;
      for (int x = 0; x < width; ++x) {
        if (p && outRow < outH && outX < outW) {
          std::memcpy(&out[static_cast<size_t>(outRow) * outStride + static_cast<size_t>(outX) * bpp],
                      &in[static_cast<size_t>(y) * inStride + static_cast<size_t>(x) * bpp], bpp);
          ++outX;
        }
        p = !p;
      }
      ++outRow;
    }
    r = !r;
  }
  return out;
}

/** @brief The x and y a coordinate frame's pixel holds. */
inline std::pair<int, int> PixelAt(const uint8_t* p) {
  return {p[0] | ((p[1] & 0x0F) << 8), p[2] | ((p[1] >> 4) << 8)};
}

}  // namespace kestrom::deinterlacer::test
