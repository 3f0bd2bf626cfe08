#include "capture/app/FormTimers.h"

#include <QTimer>

namespace kestrom::capture {

void ArmTimer(QTimer& timer) {
  if (!timer.isActive()) timer.start();
}

}  // namespace kestrom::capture
