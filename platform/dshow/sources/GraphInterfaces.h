#pragma once
// The graph-side interfaces and codes a source filter uses, with the few codes the graph's own
// headers do not carry.

#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"

namespace kestrom::dshow {

inline constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = com::MakeHResult(0x8004022F);
inline constexpr HRESULT VFW_E_NO_CAPTURE_HARDWARE = com::MakeHResult(0x80040276);

}  // namespace kestrom::dshow
