#include "analysis/app/ProgramMain.h"

#include "analysis/shell/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"

#include <QApplication>
#include <QThread>

namespace kestrom::app {

int ProgramMain(const ProgramOptions& options) {
  window::AppForms& forms = window::Forms();
  forms.SplashForm = new window::TSplashForm();
  QApplication::setApplicationName(shell::AnalysisApplicationTitle);
  QApplication::setApplicationDisplayName(shell::AnalysisApplicationTitle);
  forms.SplashForm->show();
  forms.SplashForm->repaint();
  QApplication::processEvents();
  // The splash stands alone for a moment; the start timer removes it once everything is made.
  if (options.splashPauseMs > 0) QThread::msleep(options.splashPauseMs);
  window::CreateForms();
  const int result = QApplication::exec();
  window::DestroyForms();
  return result;
}

}  // namespace kestrom::app
