#include "platform/dshow/sources/TestPattern.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace kestrom::dshow {
namespace {

constexpr int kBits = 12;
constexpr int kBlocks = kBits + 2;

struct Rgb {
  uint8_t r, g, b;
};

bool BlockIsWhite(int value, int block) {
  if (block == 0) return true;
  if (block == kBlocks - 1) return false;
  return (value >> (kBits - block)) & 1;
}

// Studio-range luma and chroma of an RGB colour, as YUY2 carries it.
void ToYuv(Rgb c, uint8_t& y, uint8_t& u, uint8_t& v) {
  const double r = c.r, g = c.g, b = c.b;
  y = static_cast<uint8_t>(std::clamp(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255), 16L, 235L));
  u = static_cast<uint8_t>(std::clamp(std::lround(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255), 16L, 240L));
  v = static_cast<uint8_t>(std::clamp(std::lround(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255), 16L, 240L));
}

// Fills [x0, x1) of one picture row with a colour.
void FillSpan(BYTE* row, const GUID& subtype, int x0, int x1, Rgb c) {
  if (x1 <= x0) return;
  if (subtype == MEDIASUBTYPE_RGB24) {
    for (int x = x0; x < x1; ++x) {
      row[3 * x] = c.b;
      row[3 * x + 1] = c.g;
      row[3 * x + 2] = c.r;
    }
  } else if (subtype == MEDIASUBTYPE_RGB32) {
    const uint32_t pixel = 0xFF000000u | (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
    auto* p = reinterpret_cast<uint32_t*>(row);
    std::fill(p + x0, p + x1, pixel);
  } else {  // YUY2: pairs of pixels share their chroma; spans start and end on even columns
    uint8_t y, u, v;
    ToYuv(c, y, u, v);
    for (int x = x0 & ~1; x < x1; x += 2) {
      row[2 * x] = y;
      row[2 * x + 1] = u;
      row[2 * x + 2] = y;
      row[2 * x + 3] = v;
    }
  }
}

}  // namespace

size_t TestFrameSize(const GUID& subtype, LONG width, LONG height) {
  const size_t rows = static_cast<size_t>(height < 0 ? -int64_t{height} : height);
  if (subtype == MEDIASUBTYPE_RGB24) return static_cast<size_t>(RgbStride(width, 24)) * rows;
  if (subtype == MEDIASUBTYPE_RGB32) return static_cast<size_t>(RgbStride(width, 32)) * rows;
  if (subtype == MEDIASUBTYPE_YUY2) return static_cast<size_t>(width) * 2 * rows;
  return 0;
}

bool PaintTestFrame(BYTE* buffer, size_t bufferSize, const GUID& subtype, const BITMAPINFOHEADER& header,
                    int64_t frame, int brightness) {
  const int w = header.biWidth;
  const bool bottomUp = header.biHeight > 0 && !(subtype == MEDIASUBTYPE_YUY2);
  const int h = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  const size_t needed = TestFrameSize(subtype, w, h);
  if (!buffer || w <= 0 || h <= 0 || needed == 0 || bufferSize < needed) return false;
  const size_t stride = needed / static_cast<size_t>(h);
  const int value = static_cast<int>(frame % (kTestPatternMaxCode + 1));
  const int bandH = std::max(2, h / 8);
  const uint8_t level = static_cast<uint8_t>(std::clamp(brightness, 0, 255));
  const Rgb background{level, level, level};
  const Rgb bar{40, 90, 200};
  // The bar is an eighth of the width and moves by a sixty-fourth per frame.
  const int barWidth = std::max(2, w / 8) & ~1;
  const int step = std::max(2, w / 64) & ~1;
  const int barX = static_cast<int>((frame * step) % std::max(1, w - barWidth)) & ~1;

  for (int y = 0; y < h; ++y) {
    BYTE* row = buffer + stride * static_cast<size_t>(bottomUp ? h - 1 - y : y);
    if (y < bandH) {
      for (int b = 0; b < kBlocks; ++b) {
        const bool white = BlockIsWhite(value, b);
        FillSpan(row, subtype, b * w / kBlocks, (b + 1) * w / kBlocks,
                 white ? Rgb{255, 255, 255} : Rgb{0, 0, 0});
      }
      // An odd width leaves the last YUY2 pixel pair half painted: the black guard covers it.
    } else {
      FillSpan(row, subtype, 0, w, background);
      FillSpan(row, subtype, barX, std::min(w, barX + barWidth), bar);
    }
  }
  return true;
}

void PaintTestTone(int16_t* samples, int frames, int channels, int rate, int64_t first, double hertz, double level) {
  const double amplitude = std::clamp(level, 0.0, 1.0) * 32767.0;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(first + i) / rate;
    const auto s = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * t)));
    for (int c = 0; c < channels; ++c) samples[static_cast<size_t>(i) * channels + c] = s;
  }
}

}  // namespace kestrom::dshow
