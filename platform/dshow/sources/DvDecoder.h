#pragma once
// The DV video decoder ("DV Video Decoder", CLSID_DVVideoCodec): FFmpeg's DV decoder giving
// RGB32, RGB24 or YUY2 pictures at the display resolution chosen through IIPDVDec (full, half,
// quarter, or the DC size of one pixel per block), in full or studio RGB range (IDVRGB219).

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

inline constexpr const char16_t* kDvDecoderName = u"DV Video Decoder";

com::CUnknown* CreateDvDecoder(com::IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
