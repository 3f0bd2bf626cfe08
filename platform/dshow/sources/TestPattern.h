#pragma once
// The pictures and sound of the test devices. A picture carries its frame number in a band of
// 14 blocks across the top eighth of the picture: a white guard block, 12 bits (most significant
// first, white = 1) and a black guard block, so a recording can be checked frame by frame by
// reading the number back. Below the band a bar moves one step per frame.

#include "platform/dshow/base/Types.h"

#include <cstdint>

namespace kestrom::dshow {

/** @brief Largest number the band carries; frame numbers wrap around after it. */
inline constexpr int kTestPatternMaxCode = (1 << 12) - 1;

/**
 * @brief Paints frame number frame into an uncompressed picture of subtype RGB24, RGB32 or YUY2
 * with the given header (a positive RGB height is bottom-up). brightness (0..255) is the
 * background level. False for any other subtype or a buffer too small.
 */
bool PaintTestFrame(BYTE* buffer, size_t bufferSize, const GUID& subtype, const BITMAPINFOHEADER& header,
                    int64_t frame, int brightness = 128);

/** @brief Bytes of one picture of the subtype at the size (0 for an unknown subtype). */
size_t TestFrameSize(const GUID& subtype, LONG width, LONG height);

/**
 * @brief Fills interleaved 16-bit samples of a sine tone, continuing from sample index first
 * (so consecutive blocks join without a click).
 */
void PaintTestTone(int16_t* samples, int frames, int channels, int rate, int64_t first, double hertz = 440.0,
                   double level = 0.5);

}  // namespace kestrom::dshow
