#pragma once
// A view over the bytes of an uncompressed video frame, laid out as a device-independent bitmap:
// rows bottom-up unless the height is negative, each row padded to 4 bytes unless a stride is
// given. Nothing here owns or copies the bytes.

#include <QtGlobal>
#include <cstdint>
#include <cstdlib>

namespace kestrom::core {

/** @brief Pixel layouts of the frames a grabber hands over (blue in the lowest byte or bits). */
enum class FramePixels { Rgb8, Rgb555, Rgb565, Rgb24, Rgb32 };

/** @brief Bits per pixel of a layout: 8, 16, 16, 24, 32. */
constexpr int BitCountOf(FramePixels format) {
  switch (format) {
    case FramePixels::Rgb8: return 8;
    case FramePixels::Rgb555:
    case FramePixels::Rgb565: return 16;
    case FramePixels::Rgb24: return 24;
    case FramePixels::Rgb32: return 32;
  }
  return 0;
}

struct FrameBits {
  uchar* Bits = nullptr;
  int Width = 0;
  /** @brief Positive: bottom-up rows (the first row in memory is the picture's bottom);
   *  negative: top-down rows. */
  int Height = 0;
  FramePixels Format = FramePixels::Rgb24;
  /** @brief Bytes from one row to the next; 0: the bitmap's own padding to 4 bytes. */
  qsizetype Stride = 0;
  /** @brief Colours of an 8-bit frame as 0x00RRGGBB (the bitmap's colour table). */
  const uint32_t* Palette = nullptr;
  int PaletteSize = 0;

  int AbsHeight() const { return std::abs(Height); }
  int BytesPerPixel() const { return BitCountOf(Format) / 8; }
  qsizetype RowBytes() const {
    return Stride > 0 ? Stride : ((qsizetype(Width) * BitCountOf(Format) + 31) / 32) * 4;
  }
  qsizetype ImageBytes() const { return RowBytes() * AbsHeight(); }
  /** @brief Bytes, size and stride that hold together; an 8-bit frame needs its colours. */
  bool Valid() const {
    return Bits && Width > 0 && Height != 0 && Height != INT32_MIN &&
           RowBytes() >= qsizetype(Width) * BytesPerPixel() &&
           (Format != FramePixels::Rgb8 || (Palette && PaletteSize > 0 && PaletteSize <= 256));
  }
  /** @brief The row y lines below the picture's top. */
  uchar* Row(int y) const { return Bits + RowBytes() * (Height > 0 ? AbsHeight() - 1 - y : y); }
};

}  // namespace kestrom::core
