// KestromRuvodo, the analysis program.
#include "analysis/app/ProgramMain.h"
#include "platform/core/Paths.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  // Layouts, stacking and placed boxes need a platform that places top-level windows.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  kestrom::core::EnterProgramFolder();
  return kestrom::app::ProgramMain();
}
