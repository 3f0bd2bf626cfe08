#include "platform/dshow/sources/SourceClasses.h"

namespace kestrom::dshow {

const std::vector<SourceClass>& SourceClasses() {
  static const std::vector<SourceClass> classes;
  return classes;
}

}  // namespace kestrom::dshow
