#pragma once
// The classes of this library: the Smart Tee, the Infinite Pin Tee, the Null Renderer, the
// Sample Grabber and the Capture Graph Builder, made by class id like every other class. They
// are registered with the process when the library loads; RegisterGraphFilters also lists
// the filters with the filter mapper under their names (with merit MERIT_DO_NOT_USE, so that
// automatic connection never picks them).

#include "platform/dshow/base/Types.h"

namespace kestrom::dshow::graph {

/** @brief Makes sure the classes are registered in this process (idempotent). */
void EnsureGraphClassesRegistered();

/** @brief Lists the filters with the filter mapper ("Smart Tee", "Infinite Pin Tee Filter", "Null Renderer", "SampleGrabber"). */
HRESULT RegisterGraphFilters();

}  // namespace kestrom::dshow::graph
