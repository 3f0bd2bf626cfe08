#pragma once
// The DV splitter ("DV Splitter"): takes interleaved DV (whole frames of picture and sound) and
// gives DV video frames on "DVVidOut0" and the frames' sound as 16-bit PCM on "AudOut00". It can
// drop every second video frame (IDVSplitter) to halve the picture rate of a live preview.

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

inline constexpr const char16_t* kDvSplitterName = u"DV Splitter";

com::CUnknown* CreateDvSplitter(com::IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
