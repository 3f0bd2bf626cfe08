// The recording graph's writer: the MPEG writer binding, the AVI mux settings and the ASF writer's
// profile and network sinks.
#include "capture/engine/FK.h"

namespace kestrom::engine {

bool TFK::BindMPEGWriter() { return false; }

void TFK::ConfigureFileWriter(bool audioPresent) { (void)audioPresent; }

bool TFK::SetupASFWriter() { return false; }

}  // namespace kestrom::engine
