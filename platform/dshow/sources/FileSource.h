#pragma once
// The file source: opens a video file (AVI, MPEG, ASF/WMV, MP4/MOV, DV, ...) with FFmpeg's
// demultiplexer and gives one output pin per video and audio stream carrying the stored type
// and the stored bytes of every frame, so that a copy without compression is a stream copy and
// decoders are separate filters. Seeks through IMediaSeeking (on the filter and on each pin).

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

/** @brief The file source (the graph's AddSourceFilter picks it by the file's extension). */
inline constexpr CLSID CLSID_KestromFileSource = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E20}");
inline constexpr const char16_t* kFileSourceName = u"Kestrom File Source";

com::CUnknown* CreateFileSource(com::IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
