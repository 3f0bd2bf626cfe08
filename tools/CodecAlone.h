#pragma once
// The baseline the re-encoding benchmarks compare with: libavcodec decoding a clip's pictures and
// encoding them to MPEG-4 V2, with nothing else around it.

#include <QString>
#include <cstdint>
#include <limits>

namespace kestrom::tools {

struct CodecAloneRun {
  double seconds = 0;     // 0 when the clip could not be opened
  int64_t frames = 0;     // pictures encoded
  int64_t bytes = 0;      // coded bytes
};

/**
 * @brief Decodes the clip's video and encodes frames first..last (0-based, counted at 25 frames a
 * second, decoding from the key frame before first) to MPEG-4 V2 at quantiser 6, a key frame every
 * 25 frames.
 */
CodecAloneRun DecodeAndEncodeMpeg4V2(const QString& clip, int64_t first = 0,
                                     int64_t last = std::numeric_limits<int64_t>::max());

}  // namespace kestrom::tools
