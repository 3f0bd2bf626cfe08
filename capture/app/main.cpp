// KestromDDCapture, the capture program. It takes no arguments.
#include "capture/app/ProgramMain.h"
#include "platform/core/Paths.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  // Placed boxes and forms need a platform that places top-level windows.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  kestrom::core::EnterProgramFolder();
  return kestrom::capture::ProgramMain();
}
