#include "analysis/app/ProgramMain.h"

#include "common/startup/GlobalPaths.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/ui/Application.h"
#include "platform/ui/Terminate.h"
#include "platform/winmsg/WidgetWindow.h"
#include "platform/winmsg/WinMsg.h"

#include <QApplication>
#include <QThread>
#include <QWidget>

namespace kestrom::app {

int ProgramMain(const ProgramOptions& options) {
  window::AppForms& forms = window::Forms();
  forms.SplashForm = new window::TSplashForm();
  QApplication::setApplicationName(shell::AnalysisApplicationTitle);
  QApplication::setApplicationDisplayName(shell::AnalysisApplicationTitle);
  winmsg::SetApplicationTitle(shell::AnalysisApplicationTitle);
  // WM_QUIT from another program ends this one as the application's own terminate does.
  winmsg::SetQuitHandler([] { ui::Terminate(); });
  forms.SplashForm->show();
  forms.SplashForm->repaint();
  QApplication::processEvents();
  // The splash stands alone for a moment; the start timer removes it once everything is made.
  if (options.splashPauseMs > 0) QThread::msleep(options.splashPauseMs);
  window::CreateForms();
  ui::InstallMainForm(forms.MainWindow);
  // The analysis windows answer other programs' messages (export finished, video created).
  forms.MainWindow->AttachWindowDirectory();
  forms.BestWindow->AttachWindowDirectory();
  winmsg::ListFormsInWindowDirectory();
  // As the application's run does: the main form shows when the message loop starts.
  forms.MainWindow->show();
  const int result = ui::RunMessageLoop();
  window::DestroyForms();
  winmsg::Shutdown();
  return result;
}

}  // namespace kestrom::app
