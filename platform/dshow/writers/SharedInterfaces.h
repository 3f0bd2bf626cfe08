#pragma once
// The window and picture of a video renderer and the stream configuration of an output pin,
// brought in from the base layer, with the values of the writers. Published identifiers and
// method orders.

#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/RendererInterfaces.h"
#include "platform/dshow/base/StreamConfig.h"

#include <cstdint>

namespace kestrom::dshow {

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

}  // namespace kestrom::dshow
