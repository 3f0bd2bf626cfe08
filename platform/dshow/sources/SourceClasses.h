#pragma once
// The table of this library's registered filters (file sources, decoders, converters): class
// id, name, creation function and filter mapper registration.

#include "platform/com/ClassFactory.h"
#include "platform/dshow/base/Types.h"

#include <vector>

namespace kestrom::dshow {

struct SourceClass {
  const CLSID* clsid;
  const char16_t* name;
  com::NewComObjectFunction create;
  const REGFILTER2* registration;  // null: creatable by class id only
};

/** @brief Every registered filter class of the library. */
const std::vector<SourceClass>& SourceClasses();

}  // namespace kestrom::dshow
