// The clip player: a recorded clip played through the preview's display, grabber and filters.
#include "capture/engine/FK.h"

namespace kestrom::engine {

bool TFK::OpenClip() {
  // Rendering clips comes with the player; until then every clip fails as an unplayable one does.
  ClearGraph(true);
  CheckAndLog(this, true, ll_Error, QStringLiteral("cannot play ") + PlayerFileName_, TLogType::e_failed_to_render_file);
  return false;
}

bool TFK::RunPlayerBackwards() {
  fastPlay_ = false;
  return false;  // backward stepping comes with the player
}

}  // namespace kestrom::engine
