// The settings dialogs of devices and compressors, each on a temporary graph when none runs.
#include "capture/engine/FK.h"

namespace kestrom::engine {

bool TFK::ShowDialog(int kind) {
  if (kind < 0 || kind > 11) return false;
  return false;  // the dialogs come with their own engine step
}

}  // namespace kestrom::engine
