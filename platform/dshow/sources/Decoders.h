#pragma once
// Decoder filters over FFmpeg's decoders, one registered class per family under its own name,
// the colour space converter and the audio converter. Decoders take the stored types the file
// source and the capture devices deliver and give uncompressed video (RGB32, RGB24, YUY2, I420)
// or 16-bit PCM.

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

inline constexpr CLSID CLSID_Mpeg4V2VideoDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E30}");
inline constexpr CLSID CLSID_Mpeg4VideoDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E31}");
inline constexpr CLSID CLSID_MjpegVideoDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E32}");
inline constexpr CLSID CLSID_WmvVideoDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E33}");
inline constexpr CLSID CLSID_MpegVideoDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E34}");
inline constexpr CLSID CLSID_H264VideoDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E35}");
inline constexpr CLSID CLSID_LosslessVideoDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E36}");
/** @brief The DV decoder, found by this class id and by its name "DV Video Decoder". */
inline constexpr CLSID CLSID_DVVideoCodec = com::MakeGuid("{B1B77C00-C3E4-11CF-AF79-00AA00B67A42}");
/** @brief The colour space converter ("Color Space Converter"). */
inline constexpr CLSID CLSID_Colour = com::MakeGuid("{1643E180-90F5-11CE-97D5-00AA0055595A}");
inline constexpr CLSID CLSID_AdpcmAudioDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E40}");
inline constexpr CLSID CLSID_MpegAudioDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E41}");
inline constexpr CLSID CLSID_WmaAudioDecoder = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E42}");
/** @brief PCM to PCM of another rate, channel count or sample size. */
inline constexpr CLSID CLSID_AudioConverter = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E43}");

}  // namespace kestrom::dshow
