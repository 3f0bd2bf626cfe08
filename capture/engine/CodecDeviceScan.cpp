// Compressors: the FFmpeg encoders of this build, under the names the programs look for.
#include "capture/engine/DeviceProvider.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kestrom::engine {

namespace {

struct Compressor {
  const char* name;
  const char* encoder;
  bool video;
};

constexpr Compressor kCompressors[] = {
    {"Microsoft MPEG-4 Video Codec V2", "msmpeg4v2", true},
    {"Microsoft MPEG-4 Video Codec V3", "msmpeg4", true},
    {"MPEG-4 Video Codec", "mpeg4", true},
    {"MPEG-1 Video Codec", "mpeg1video", true},
    {"MJPEG Compressor", "mjpeg", true},
    {"DV Codec", "dvvideo", true},
    {"Windows Media Video 8", "wmv2", true},
    {"Huffyuv Lossless Codec", "huffyuv", true},
    {"Windows Media Audio V2", "wmav2", false},
    {"PCM", "pcm_s16le", false},
    {"Microsoft ADPCM", "adpcm_ms", false},
    {"IMA ADPCM", "adpcm_ima_wav", false},
    {"MPEG Layer-3", "libmp3lame", false},
    {"MPEG Layer-2", "mp2", false},
};

const QString kPrefix = QStringLiteral("@ffmpeg:");

}  // namespace

std::vector<DeviceMoniker> ScanCompressors(bool video) {
  std::vector<DeviceMoniker> devices;
  for (const Compressor& c : kCompressors) {
    if (c.video != video || !avcodec_find_encoder_by_name(c.encoder)) continue;
    devices.push_back({kPrefix + QLatin1String(c.encoder), QString::fromLatin1(c.name), QString()});
  }
  return devices;
}

QString EncoderOfCompressor(const QString& displayName) {
  if (!displayName.startsWith(kPrefix)) return {};
  return displayName.mid(kPrefix.size());
}

}  // namespace kestrom::engine
