#include "capture/app/ProgramMain.h"

#include "common/startup/DiagForm806.h"
#include "common/startup/GlobalPaths.h"
#include "capture/app/CaptureDiagForm.h"
#include "capture/app/CaptureMediator.h"
#include "capture/app/KestromCaptureForm.h"
#include "capture/app/PreallocatedCaptureForm.h"
#include "capture/engine/SyncManager.h"
#include "platform/ui/Application.h"
#include "platform/ui/Terminate.h"
#include "platform/winmsg/WidgetWindow.h"
#include "platform/winmsg/WinMsg.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

namespace kestrom::capture {

std::unique_ptr<QLockFile> TakeProgramLock() {
  const QString folder = winmsg::RuntimeDir();
  if (folder.isEmpty()) return std::make_unique<QLockFile>(QString());  // no directory: nothing to share
  auto lock = std::make_unique<QLockFile>(folder + QStringLiteral("/KestromDDCapture.lock"));
  // A lock left by a program that died is taken over (its process is gone).
  if (!lock->tryLock(0)) return nullptr;
  return lock;
}

uint32_t BringForwardMessage() {
  static const uint32_t message = winmsg::RegisterWindowMessage(QStringLiteral("KestromCaptureBringForward"));
  return message;
}

bool BringRunningProgramForward() {
  const winmsg::HWND form = winmsg::FindWindow(QStringLiteral("TKestromCaptureForm"), shell::CaptureWindowTitle);
  return form && winmsg::PostMessage(form, BringForwardMessage(), 0, 0);
}

int ProgramMain() {
  // Two capture programs would preview the one camera and record into the same files.
  const std::unique_ptr<QLockFile> lock = TakeProgramLock();
  if (!lock) {
    BringRunningProgramForward();
    winmsg::Shutdown();
    return 0;
  }
  QApplication::setApplicationName(shell::CaptureWindowTitle);
  QApplication::setApplicationDisplayName(shell::CaptureWindowTitle);
  winmsg::SetApplicationTitle(shell::CaptureWindowTitle);
  // WM_QUIT from an analysis window ends this program as the application's own terminate does.
  winmsg::SetQuitHandler([] { ui::Terminate(); });

  CaptureMediator mediator;
  std::vector<QPointer<QWidget>> forms;
  auto* captureForm = new TKestromCaptureForm(mediator);
  forms.emplace_back(captureForm);
  auto* diagForm = new shell::TDiagForm806(nullptr, /*captureProgram*/ true);
  forms.emplace_back(diagForm);
  // The start step asks the scan form whether an analysis window is open.
  captureForm->SetAnalysisWindowScan([diag = QPointer(diagForm)] { return diag && diag->CountAnalysisWindows(); });
  forms.emplace_back(new TCaptureDiagForm(mediator));
  forms.emplace_back(new TPreallocatedCaptureForm(mediator));
  ui::InstallMainForm(captureForm);
  winmsg::ListFormsInWindowDirectory();
  // As the application's run does: the main form shows when the message loop starts.
  captureForm->show();
  const int result = ui::RunMessageLoop();

  for (auto it = forms.rbegin(); it != forms.rend(); ++it) delete it->data();
  engine::StopSyncManager();
  winmsg::Shutdown();
  return result;
}

}  // namespace kestrom::capture
