#pragma once
// Pixel work of the companion filters on RGB pictures (bytes blue, green, red and, for 32 bits,
// one more): colour adjustment, flips, and rotation by multiples of 90 degrees with mirroring.
// Pictures are described by the first byte of their top row as shown and the step from one shown
// row to the next, so bottom-up bitmaps are handled by a negative step.

#include <cstdint>

namespace kestrom::filters {

/** @brief A picture in memory: its top row as shown, and the byte step to the row below (may be negative). */
struct PictureView {
  uint8_t* top = nullptr;
  int width = 0;
  int height = 0;
  int rowStep = 0;
  int bytesPerPixel = 3;  // 3 or 4
};

/** @brief The track-bar values (-128..128) and switches of the video processing. */
struct ColourSettings {
  int brightness = 0, contrast = 0, saturation = 0, hue = 0;
  bool grayScale = false, invert = false;
  /** @brief True when the settings change no pixel. */
  bool IsIdentity() const {
    return brightness == 0 && contrast == 0 && saturation == 0 && hue == 0 && !grayScale && !invert;
  }
};

/**
 * @brief The colour adjustment as one affine map of (red, green, blue), in 16.16 fixed point:
 * hue turns the colours round the grey axis (128 = half a turn), saturation scales them away from
 * grey ((128 + s) / 128; grey scale makes it 0), contrast scales about mid grey ((128 + c) / 128),
 * brightness adds its value, and invert mirrors the result (255 - v).
 */
class ColourMatrix {
 public:
  explicit ColourMatrix(const ColourSettings& settings);
  /** @brief Adjusts every pixel of the picture in place. */
  void Apply(const PictureView& picture) const;
  /** @brief One pixel; the values are 0..255. */
  void Map(int& red, int& green, int& blue) const;

 private:
  int32_t m_[3][4];  // rows red, green, blue; columns red, green, blue, offset
};

/** @brief Mirrors the picture in place: left to right, and/or top to bottom. */
void FlipPicture(const PictureView& picture, bool horizontal, bool vertical);

/** @brief Rotation values as the engine counts them: 0, 90, 180, 270 degrees clockwise, then the same mirrored. */
inline bool RotationSwapsSides(int rotation) { return (rotation & 3) == 1 || (rotation & 3) == 3; }

/**
 * @brief Turns the picture clockwise by (rotation & 3) quarter turns and, for rotation 4 and
 * above, mirrors the result left to right. out must be the turned size (sides swapped for odd
 * quarter turns) with the same bytes per pixel.
 */
void RotatePicture(const PictureView& in, const PictureView& out, int rotation);

/** @brief Zeroes the bytes after each row's pixels up to the row stride, so no stale bytes travel on. */
void ClearRowPadding(uint8_t* bits, int rows, int stride, int rowBytes);

}  // namespace kestrom::filters
