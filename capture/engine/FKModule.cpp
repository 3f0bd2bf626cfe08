// The companion filter module: unpacking, loading and the filters the engine creates from it.
#include "capture/engine/FK.h"

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;

bool TFK::InsertTransformFilter(ComPtr<IPin>& pin, bool applyRotation) {
  (void)applyRotation;
  WriteLog(QStringLiteral("transform not available"));
  return static_cast<bool>(pin);
}

}  // namespace kestrom::engine
