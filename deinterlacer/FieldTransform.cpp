#include "deinterlacer/FieldTransform.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <tmmintrin.h>
#define KESTROM_X86 1
#endif

namespace kestrom::deinterlacer {
namespace {

// The vector loops below stop while at least one kept pixel is left after their block, so their
// wide loads never reach past the row: a row holds at least twice as many pixels as are kept.

// Every other 4-byte pixel, starting at src.
void CopyRow32(const uint8_t* src, uint8_t* dst, int32_t count) {
  int32_t i = 0;
#ifdef KESTROM_X86
  // Four kept pixels from eight: the even 32-bit lanes of two loads.
  for (; i + 4 < count; i += 4) {
    const __m128 a = _mm_loadu_ps(reinterpret_cast<const float*>(src + 8 * i));
    const __m128 b = _mm_loadu_ps(reinterpret_cast<const float*>(src + 8 * i + 16));
    _mm_storeu_ps(reinterpret_cast<float*>(dst + 4 * i), _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  }
#endif
  for (; i < count; ++i) {
    uint32_t pixel;
    std::memcpy(&pixel, src + 8 * i, 4);
    std::memcpy(dst + 4 * i, &pixel, 4);
  }
}

#ifdef KESTROM_X86
// Eight kept 3-byte pixels (24 bytes) from 48 input bytes with byte shuffles; returns how many
// pixels it did.
__attribute__((target("ssse3"))) int32_t CopyRow24Ssse3(const uint8_t* src, uint8_t* dst, int32_t count) {
  // Output byte j comes from input byte 6 * (j / 3) + j % 3; -1 (0x80) gives a zero byte.
  const __m128i m00 = _mm_setr_epi8(0, 1, 2, 6, 7, 8, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1);
  const __m128i m01 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 3, 4, 8, 9, 10, 14);
  const __m128i m10 = _mm_setr_epi8(15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i m11 = _mm_setr_epi8(-1, 0, 4, 5, 6, 10, 11, 12, -1, -1, -1, -1, -1, -1, -1, -1);
  int32_t i = 0;
  for (; i + 8 < count; i += 8) {
    const uint8_t* s = src + 6 * i;
    const __m128i l0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i l1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    const __m128i l2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
    const __m128i lo = _mm_or_si128(_mm_shuffle_epi8(l0, m00), _mm_shuffle_epi8(l1, m01));
    const __m128i hi = _mm_or_si128(_mm_shuffle_epi8(l1, m10), _mm_shuffle_epi8(l2, m11));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), lo);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 3 * i + 16), hi);
  }
  return i;
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

// Every other 3-byte pixel, starting at src. Pixels left by the vector loop move as one 4-byte
// word whose fourth byte the next pixel overwrites; the last moves as 3 bytes so nothing past the
// row is read or written.
void CopyRow24(const uint8_t* src, uint8_t* dst, int32_t count) {
  if (count <= 0) return;
  int32_t i = 0;
#ifdef KESTROM_X86
  if (HasSsse3()) i = CopyRow24Ssse3(src, dst, count);
#endif
  for (; i < count - 1; ++i) {
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
#ifdef KESTROM_X86
      // The next kept row is two rows on; the skipped row between would mislead the hardware's
      // own prefetching into fetching it.
      if (row + 2 < layout.height && kept + 1 < layout.outHeight) {
        const char* next = reinterpret_cast<const char*>(in + static_cast<int64_t>(row + 2) * layout.inStride);
        for (int32_t b = 0; b < layout.inStride; b += 64) _mm_prefetch(next + b, _MM_HINT_T0);
      }
#endif
      if (bpp == 4) CopyRow32(src, dst, layout.outWidth);
      else CopyRow24(src, dst, layout.outWidth);
      ++kept;
      if (oddWidth) copyPixel = !copyPixel;
    }
    skipRow = !skipRow;
  }
}

}  // namespace kestrom::deinterlacer
