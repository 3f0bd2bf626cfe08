#include "capture/filters/PictureProcessing.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace kestrom::filters {

namespace {

using Matrix = double[3][4];

// a := b * a (affine maps with an implicit last row 0 0 0 1).
void Compose(Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) {
      double v = 0;
      for (int k = 0; k < 3; ++k) v += b[i][k] * a[k][j];
      r[i][j] = v + (j == 3 ? b[i][3] : 0.0);
    }
  }
  std::memcpy(a, r, sizeof r);
}

constexpr double kLuma[3] = {0.299, 0.587, 0.114};

inline int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

}  // namespace

ColourMatrix::ColourMatrix(const ColourSettings& s) {
  Matrix m = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
  if (s.hue != 0) {
    // Turning round the grey axis, with the luma weights kept.
    const double angle = std::clamp(s.hue, -128, 128) / 128.0 * std::numbers::pi;
    const double c = std::cos(angle), n = std::sin(angle);
    const Matrix h = {{0.299 + 0.701 * c + 0.168 * n, 0.587 - 0.587 * c + 0.330 * n, 0.114 - 0.114 * c - 0.497 * n, 0},
                      {0.299 - 0.299 * c - 0.328 * n, 0.587 + 0.413 * c + 0.035 * n, 0.114 - 0.114 * c + 0.292 * n, 0},
                      {0.299 - 0.300 * c + 1.250 * n, 0.587 - 0.588 * c - 1.050 * n, 0.114 + 0.886 * c - 0.203 * n, 0}};
    Compose(m, h);
  }
  const double saturation = s.grayScale ? 0.0 : (128 + std::clamp(s.saturation, -128, 128)) / 128.0;
  if (saturation != 1.0) {
    Matrix t{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) t[i][j] = (1 - saturation) * kLuma[j] + (i == j ? saturation : 0.0);
    Compose(m, t);
  }
  if (s.contrast != 0) {
    const double c = (128 + std::clamp(s.contrast, -128, 128)) / 128.0;
    const Matrix t = {{c, 0, 0, 128 * (1 - c)}, {0, c, 0, 128 * (1 - c)}, {0, 0, c, 128 * (1 - c)}};
    Compose(m, t);
  }
  if (s.brightness != 0) {
    const double b = std::clamp(s.brightness, -128, 128);
    const Matrix t = {{1, 0, 0, b}, {0, 1, 0, b}, {0, 0, 1, b}};
    Compose(m, t);
  }
  if (s.invert) {
    const Matrix t = {{-1, 0, 0, 255}, {0, -1, 0, 255}, {0, 0, -1, 255}};
    Compose(m, t);
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m_[i][j] = static_cast<int32_t>(std::lround(m[i][j] * 65536.0));
    // Half a level added so that the shift rounds to nearest.
    m_[i][3] = static_cast<int32_t>(std::lround(m[i][3] * 65536.0)) + 32768;
  }
}

void ColourMatrix::Map(int& red, int& green, int& blue) const {
  const int r = red, g = green, b = blue;
  red = Clamp((m_[0][0] * r + m_[0][1] * g + m_[0][2] * b + m_[0][3]) >> 16);
  green = Clamp((m_[1][0] * r + m_[1][1] * g + m_[1][2] * b + m_[1][3]) >> 16);
  blue = Clamp((m_[2][0] * r + m_[2][1] * g + m_[2][2] * b + m_[2][3]) >> 16);
}

namespace {

// A row goes through in chunks split into planes, so that the matrix runs over plain arrays the
// compiler turns into vector code (with AVX2 where the processor has it).
template <int Bpp>
[[gnu::always_inline]] inline void ApplyRow(uint8_t* px, int width, const int32_t (&m)[3][4]) {
  constexpr int kChunk = 256;
  int32_t r[kChunk], g[kChunk], b[kChunk];
  for (int x0 = 0; x0 < width; x0 += kChunk) {
    const int n = std::min(kChunk, width - x0);
    uint8_t* p = px + static_cast<intptr_t>(x0) * Bpp;
    for (int i = 0; i < n; ++i) {
      b[i] = p[i * Bpp];
      g[i] = p[i * Bpp + 1];
      r[i] = p[i * Bpp + 2];
    }
    for (int i = 0; i < n; ++i) {
      const int32_t nr = (m[0][0] * r[i] + m[0][1] * g[i] + m[0][2] * b[i] + m[0][3]) >> 16;
      const int32_t ng = (m[1][0] * r[i] + m[1][1] * g[i] + m[1][2] * b[i] + m[1][3]) >> 16;
      const int32_t nb = (m[2][0] * r[i] + m[2][1] * g[i] + m[2][2] * b[i] + m[2][3]) >> 16;
      r[i] = std::clamp(nr, 0, 255);
      g[i] = std::clamp(ng, 0, 255);
      b[i] = std::clamp(nb, 0, 255);
    }
    for (int i = 0; i < n; ++i) {
      p[i * Bpp] = static_cast<uint8_t>(b[i]);
      p[i * Bpp + 1] = static_cast<uint8_t>(g[i]);
      p[i * Bpp + 2] = static_cast<uint8_t>(r[i]);
    }
  }
}

[[gnu::target_clones("avx2", "default")]] void ApplyRows3(const PictureView& p, const int32_t (&m)[3][4]) {
  for (int y = 0; y < p.height; ++y) ApplyRow<3>(p.top + static_cast<intptr_t>(y) * p.rowStep, p.width, m);
}

[[gnu::target_clones("avx2", "default")]] void ApplyRows4(const PictureView& p, const int32_t (&m)[3][4]) {
  for (int y = 0; y < p.height; ++y) ApplyRow<4>(p.top + static_cast<intptr_t>(y) * p.rowStep, p.width, m);
}

}  // namespace

void ColourMatrix::Apply(const PictureView& picture) const {
  if (picture.bytesPerPixel == 4)
    ApplyRows4(picture, m_);
  else
    ApplyRows3(picture, m_);
}

void FlipPicture(const PictureView& p, bool horizontal, bool vertical) {
  const int bpp = p.bytesPerPixel;
  const size_t rowBytes = static_cast<size_t>(p.width) * bpp;
  if (vertical) {
    uint8_t tmp[4096];
    for (int y = 0; y < p.height / 2; ++y) {
      uint8_t* a = p.top + static_cast<intptr_t>(y) * p.rowStep;
      uint8_t* b = p.top + static_cast<intptr_t>(p.height - 1 - y) * p.rowStep;
      for (size_t done = 0; done < rowBytes; done += sizeof tmp) {
        const size_t n = std::min(sizeof tmp, rowBytes - done);
        std::memcpy(tmp, a + done, n);
        std::memcpy(a + done, b + done, n);
        std::memcpy(b + done, tmp, n);
      }
    }
  }
  if (horizontal) {
    for (int y = 0; y < p.height; ++y) {
      uint8_t* row = p.top + static_cast<intptr_t>(y) * p.rowStep;
      for (int l = 0, r = p.width - 1; l < r; ++l, --r)
        for (int k = 0; k < bpp; ++k) std::swap(row[l * bpp + k], row[r * bpp + k]);
    }
  }
}

namespace {

template <int Bpp>
void RotateRows(const PictureView& in, const PictureView& out, int rotation) {
  const int turns = rotation & 3;
  const bool mirror = rotation >= 4;
  const int w = in.width, h = in.height;
  // Where the output pixel (x', y') comes from, as (x, y) = origin + x' * dx + y' * dy.
  int ox = 0, oy = 0, dxx = 0, dxy = 0, dyx = 0, dyy = 0;
  switch (turns) {
    case 0: dxx = 1; dyy = 1; break;                          // (x', y')
    case 1: oy = h - 1; dxy = -1; dyx = 1; break;             // (y', h-1-x')
    case 2: ox = w - 1; oy = h - 1; dxx = -1; dyy = -1; break; // (w-1-x', h-1-y')
    default: ox = w - 1; dxy = 1; dyx = -1; break;            // (w-1-y', x')
  }
  if (mirror) {
    // x' is read from the other end of the output row.
    const int last = out.width - 1;
    ox += last * dxx;
    oy += last * dxy;
    dxx = -dxx;
    dxy = -dxy;
  }
  const intptr_t stepX = static_cast<intptr_t>(dxx) * Bpp + static_cast<intptr_t>(dxy) * in.rowStep;
  const intptr_t stepY = static_cast<intptr_t>(dyx) * Bpp + static_cast<intptr_t>(dyy) * in.rowStep;
  const uint8_t* origin = in.top + static_cast<intptr_t>(oy) * in.rowStep + static_cast<intptr_t>(ox) * Bpp;
  // Tiles keep the lines read down a column in the cache while the next columns need them.
  constexpr int kTile = 32;
  for (int ty = 0; ty < out.height; ty += kTile) {
    const int yEnd = std::min(out.height, ty + kTile);
    for (int tx = 0; tx < out.width; tx += kTile) {
      const int xEnd = std::min(out.width, tx + kTile);
      for (int y = ty; y < yEnd; ++y) {
        const uint8_t* src = origin + y * stepY + tx * stepX;
        uint8_t* dst = out.top + static_cast<intptr_t>(y) * out.rowStep + static_cast<intptr_t>(tx) * Bpp;
        for (int x = tx; x < xEnd; ++x, src += stepX, dst += Bpp) std::memcpy(dst, src, Bpp);
      }
    }
  }
}

}  // namespace

void RotatePicture(const PictureView& in, const PictureView& out, int rotation) {
  if (in.bytesPerPixel == 4)
    RotateRows<4>(in, out, rotation);
  else
    RotateRows<3>(in, out, rotation);
}

void ClearRowPadding(uint8_t* bits, int rows, int stride, int rowBytes) {
  if (stride <= rowBytes) return;
  for (int y = 0; y < rows; ++y)
    std::memset(bits + static_cast<intptr_t>(y) * stride + rowBytes, 0, static_cast<size_t>(stride - rowBytes));
}

}  // namespace kestrom::filters
