// KestromExportAVI, the export program: joins the frames that an analysis window saved in the
// working folder's Temp into an AVI video. Arguments: rate ("00025.00"), file, count, width, height.
#include "analysis/exportavi/ExportAVIForm.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return kestrom::exportavi::ExportProgramMain(QApplication::arguments().mid(1));
}
