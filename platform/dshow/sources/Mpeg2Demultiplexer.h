#pragma once
// The MPEG-2 demultiplexer ("MPEG-2 Demultiplexer"): its input "MPEG-2 Stream" takes an MPEG
// program stream as bytes (a hardware encoder's output, a file read as a stream); the caller
// makes its output pins (IMpeg2Demultiplexer) and maps stream ids to them (IMPEG2StreamIdMap on
// each pin). FFmpeg's program stream demultiplexer splits the stream on a thread of the filter;
// each pin gets the whole frames of the elementary streams mapped to it, with their times.
// Transport streams are not taken (no PID maps).

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

inline constexpr const char16_t* kMpeg2DemultiplexerName = u"MPEG-2 Demultiplexer";

com::CUnknown* CreateMpeg2Demultiplexer(com::IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
