#pragma once
// The frame-server script source: opens a ".avs" script through the media layer's reader and
// delivers its pictures decoded (RGB32, or YUY2 when the other pin asks for it) and its sound as
// 16-bit PCM, with seeking like the file source.

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

inline constexpr CLSID CLSID_KestromScriptSource = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E21}");
inline constexpr const char16_t* kScriptSourceName = u"Kestrom Script Source";

com::CUnknown* CreateScriptSource(com::IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
