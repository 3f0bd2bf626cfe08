#pragma once
// Makes the graph's sources, decoders, converters and the system device enumerator creatable by
// class id in this process, and registers the filters with the filter mapper (under their names
// and merits) so that automatic connection and the filter category find them.

#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

/**
 * @brief Registers every class of this library. The class objects are registered once per
 * process; the filter mapper entries are written on every call (the registry may have changed).
 */
HRESULT RegisterSourceFilters();

}  // namespace kestrom::dshow
