#pragma once
// Between the graph's media types (Windows byte layout) and FFmpeg's codec parameters.

#include "platform/dshow/base/MediaType.h"
#include "platform/media/AvError.h"

#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

namespace kestrom::dshow {

inline constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
inline constexpr WORD WAVE_FORMAT_WMAUDIO2 = 0x0161;

/** @brief The pixel layout of an uncompressed video type; AV_PIX_FMT_NONE for anything else. */
AVPixelFormat PixelFormatOf(const AM_MEDIA_TYPE& type);

/**
 * @brief Stream parameters for a stored type as it stands (stream copy): video by its FOURCC and
 * bitmap header, audio by its WAVEFORMATEX with the extra bytes kept. False for types FFmpeg
 * cannot store.
 */
bool CodecParametersFromMediaType(const AM_MEDIA_TYPE& type, AVCodecParameters* par);

/** @brief Frame duration of a video type (100 ns units); 0 when unknown. */
REFERENCE_TIME AvgTimePerFrame(const AM_MEDIA_TYPE& type);

/** @brief The wave format of an audio type; null when it has none. */
const WAVEFORMATEX* WaveFormat(const AM_MEDIA_TYPE& type);

using media::AvErrorText;

/** @brief HRESULT of an errno value (disk full, access denied, path not found, else write fault). */
HRESULT HResultFromErrno(int error);

/** @brief HRESULT of an FFmpeg error: disk errors keep their errno, the rest is E_FAIL. */
HRESULT HResultFromAvError(int error);

}  // namespace kestrom::dshow
