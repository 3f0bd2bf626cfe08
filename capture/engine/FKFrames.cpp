// What the engine does with each grabbed frame: counters, overlays, kept copies and pictures.
#include "capture/engine/FK.h"

namespace kestrom::engine {

void TFK::DispatchKeptFrame() {}

void TFK::UpdateCounters(int64_t) {}

TFrameInfo TFK::FrameInfo() const { return {}; }

}  // namespace kestrom::engine
