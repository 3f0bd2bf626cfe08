// Export of the video as shown, drawings included, through the outside export program: the
// window steps through its frames and, at every seek, saves the frame as a numbered BMP file in
// the working folder's Temp subfolder; after the last frame it starts the export program, which
// joins the files into the video the coach named and answers with 0x2741 when it has finished.
#include "analysis/exportavi/ExportProtocol.h"
#include "common/startup/DiagForm806.h"
#include "common/startup/GlobalPaths.h"
#include "platform/ui/ModalForms.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionPlacement.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Format.h"
#include "platform/core/Paths.h"
#include "platform/shell/Shell.h"
#include "platform/winmsg/WidgetWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using shell::Globals;
using exportavi::EmptyFolder;
using exportavi::ExportCommandLine;
using exportavi::ExportFrameFile;
using exportavi::FolderTakesFiles;
using exportavi::VideoCreatedText;
using exportavi::WM_EXPORTFINISHED;

namespace {
// The files named when Temp cannot be emptied; the rest are counted.
constexpr int kLeftoversNamed = 10;

}  // namespace

void TKestromForm::CreateExportControls() {
  ExportAVITimer = new QTimer(this);
  ExportAVITimer->setObjectName("ExportAVITimer");
  ExportAVITimer->setInterval(2);
  ExportAVITimer->setSingleShot(true);
  connect(ExportAVITimer, &QTimer::timeout, this, [this] { ExportAVITimerTimer(); });
  CreateExportAVIButton->setToolTip("Create your own AVI video file");
  CancelAVIExportButton->setToolTip("Cancel your own AVI video file");
  CancelAVIExportButton->setEnabled(false);
  connect(CreateExportAVIButton, &QToolButton::clicked, this, [this] { CreateExportAVIButtonClick(); });
  connect(CancelAVIExportButton, &QToolButton::clicked, this, [this] { CancelAVIExportButtonClick(); });
  SaveDialog2.filter = "Video File|*.avi";
  SaveDialog2.defaultExt = "avi";
  SaveDialog2.overwritePrompt = true;
  ExportHintForm = new TExportHintForm(this);
}

void TKestromForm::AttachWindowDirectory() {
  auto handler = [this](uint32_t msg, uintptr_t wParam, intptr_t lParam, const winmsg::CopyData* data) {
    return WindowMessage(msg, wParam, lParam, data);
  };
  if (winmsg::WidgetWindow* entry = winmsg::WidgetWindow::Of(this)) entry->window().SetHandler(handler);
  else winmsg::WidgetWindow::Attach(this, exportavi::kAnalysisWindowClass, handler);
}

intptr_t TKestromForm::WindowMessage(uint32_t msg, uintptr_t, intptr_t, const winmsg::CopyData* data) {
  if (msg == WM_EXPORTFINISHED) WMExportFinished();
  else if (msg == winmsg::WM_COPYDATA && data) WMCopyData(*data);
  return 0;
}

void TKestromForm::WMExportFinished() {
  // Another program's message must not offer "Create" while this window is still making frames.
  if (Exporting) return;
  CreateExportAVIButton->setEnabled(true);
  CancelAVIExportButton->setEnabled(false);
}

QString VideoCreatedMessage(const QString& videoName) {
  // About the width a box shows without breaking a line of its own.
  constexpr int kLineLength = 60;
  const QString sentence = "The overlay video " + videoName + " has been created";
  const QString head = sentence.size() <= kLineLength
                           ? sentence
                           : "The overlay video\r\n" + videoName + "\r\nhas been created";
  return head + "\r\n" + "and can be viewed in either the Main or Best Window";
}

void TKestromForm::WMCopyData(const winmsg::CopyData& data) {
  // The sender waits for this handler's answer: the box comes once it has it, so a coach who
  // reads the box a while does not keep the other program waiting.
  const QString text = VideoCreatedText(data);
  QTimer::singleShot(0, this, [this, text] {
    MessageDlgPosPaused(VideoCreatedMessage(text), ui::MsgDlgType::mtInformation, ui::mbOK, 430, 160);
    setCursor(Qt::ArrowCursor);
  });
}

// ---- starting, stepping, cancelling -------------------------------------------------------------

void TKestromForm::CreateExportAVIButtonClick() {
  if (!VideoOpen) return;
  StopPlayback();
  const QRect bounds = Bounds();
  const int x = bounds.left() + 64, y = bounds.top() + 86;
  const auto refuse = [&](const QString& text) {
    MessageDlgPosPaused(text, ui::MsgDlgType::mtInformation, ui::mbOK, x, y);
  };
  if (!QFileInfo::exists(Globals().ExportHintFile)) {
    MoveOnScreen(ExportHintForm, this, QPoint(bounds.left() + 100, bounds.top() + 150));
    ui::ShowModal(*ExportHintForm);
  }
  if (shell::TDiagForm806* diag = Forms().DiagForm806; diag && diag->CountCaptureWindows()) {
    refuse("Please close the Kestrom Capture Window. It is possible to create\r\n"
           "videos using the Kestrom Capture Window and your camcorder\r\n"
           "or from current videos. But not both at the same time");
    return;
  }
  if (ZoomStep != playback::kNormalZoomStep) {
    refuse("It is only possible to produce videos if they are shown in their original size.\r\n"
           "Please use the Zoom functions to return the video to its normal size (i.e. Zoom=1 )");
    return;
  }
  // Frames are copied from the window's picture: a frame not wholly on it would carry parts of
  // the frames shown before.
  const QRect area(0, MenuPanelHeight, AreaWidth, AreaHeight);
  if (!area.contains(QRect(PicLeft, PicTop, FrameWidth, FrameHeight))) {
    refuse(QString("It is only possible to produce videos that are shown whole in the window.\r\n"
                   "This video (%1 x %2) is larger than the picture area (%3 x %4).")
               .arg(FrameWidth).arg(FrameHeight).arg(AreaWidth).arg(AreaHeight));
    return;
  }
  if (LengthFrames - 3 < 1) {
    refuse("This video is too short to create your own AVI file from it: it needs at least 4 frames.");
    return;
  }

  ExportFrameCount = LengthFrames;
  ExportFrameIndex = 0;
  // A frame left in Temp would join the new video: the export starts only from an empty folder.
  const QString& temp = Globals().WorkingTempFolder;
  const QStringList left = EmptyFolder(temp);
  if (!left.isEmpty()) {
    QString names = left.mid(0, kLeftoversNamed).join("\r\n");
    if (left.size() > kLeftoversNamed) names += QString("\r\n... and %1 more").arg(left.size() - kLeftoversNamed);
    refuse("The folder " + temp + " could not be emptied for your own AVI file.\r\n" +
           "Please delete these files first:\r\n" + names);
    return;
  }
  QString reason;
  if (!FolderTakesFiles(temp, &reason)) {
    refuse("The frame pictures of your own AVI file cannot be saved in " + temp + ":\r\n" + reason);
    return;
  }
  QFile::remove(core::JoinPath(Globals().WorkingFolder, "\\Bitmaps.Dat"));

  CreateExportAVIButton->setEnabled(false);
  CancelAVIExportButton->setEnabled(true);
  ExportPicture = QImage(FrameWidth, FrameHeight, QImage::Format_RGB32);
  Exporting = true;
  ExportAVITimer->setInterval(5);
  ExportAVITimerTag = 0;
  ExportAVITimer->start();
}

void TKestromForm::ExportAVITimerTimer() {
  ExportAVITimer->stop();
  if (!Exporting) return;
  const int n = ++ExportFrameIndex;
  if (n > ExportFrameCount) return;
  // The scroll bar's seek shows the frame and saves it (ExportFrameStep).
  ScrollBar1->setValue(static_cast<int>(core::Nearest(n * FrameDuration)));
}

void TKestromForm::ExportFrameStep(int64_t n) {
  if (n >= LengthFrames - 2) {
    if (StartExportProgram()) Exporting = false;
    ResetSpeedButtonClick();
    return;
  }
  // From the canvas, never the screen: the picture at zoom 1 with everything drawn on it, written
  // straight from the canvas's rows where the picture lies whole on it.
  const QString path = ExportFrameFile(Globals().WorkingTempFolder, n);
  const QRect area(PicLeft, PicTop, FrameWidth, FrameHeight);
  core::WriteResult written;
  if (WindowCanvas.Image().rect().contains(area)) {
    written = exportavi::WriteExportFrame(path, WindowCanvas.Image(), area);
  } else {
    {
      QPainter painter(&ExportPicture);
      painter.drawImage(QPoint(0, 0), WindowCanvas.Image(), area);
    }
    written = exportavi::WriteExportFrame(path, ExportPicture);
  }
  if (!written) {
    // A video with a frame missing is no use to the coach: the export ends here and says why.
    ExportAVITimer->stop();
    Exporting = false;
    CreateExportAVIButton->setEnabled(true);
    CancelAVIExportButton->setEnabled(false);
    const QRect bounds = Bounds();
    MessageDlgPosPaused("The frame picture " + path + " could not be saved: " + written.error +
                            "\r\nThe export has been stopped.",
                        ui::MsgDlgType::mtError, ui::mbOK, bounds.left() + 64, bounds.top() + 86);
    return;
  }
  if (ExportAVITimerTag == 0) ExportAVITimer->start();
}

bool TKestromForm::StartExportProgram() {
  const QRect bounds = Bounds();
  const int x = bounds.left() + 64, y = bounds.top() + 86;
  const auto backToIdle = [this] {
    CreateExportAVIButton->setEnabled(true);
    CancelAVIExportButton->setEnabled(false);
    Exporting = false;
  };
  if (MessageDlgPosPaused("All the individual frames required for your own video have been produced.\r\n"
                          "Do you want to continue and create the video ?",
                          ui::MsgDlgType::mtConfirmation, ui::mbYes | ui::mbNo, x, y) != ui::mrYes) {
    backToIdle();
    return false;
  }
  const std::optional<QString> chosen = ui::AppDialogs().SaveFile(SaveDialog2, this);
  if (!chosen) {
    // The frames stay; "Cancel" still empties them.
    CreateExportAVIButton->setEnabled(true);
    Exporting = false;
    return false;
  }
  ExportFileName = *chosen;
  // Each field is one argument: no blank or quote in the file name can split or shift them.
  const QString program = core::JoinPath(Globals().AppFolder, core::ProgramName("\\KestromExportAVI.exe"));
  const shell::ShellResult started = shell::ShellExecute(
      program, ExportCommandLine(FramesPerSecond, ExportFileName, LengthFrames - 3, FrameWidth, FrameHeight));
  if (!started) {
    // No answer would ever come: the buttons come back now; the frames stay for another try.
    backToIdle();
    MessageDlgPosPaused("The export program could not be started.\r\n" + started.reason,
                        ui::MsgDlgType::mtError, ui::mbOK, x, y);
    return false;
  }
  // The buttons wait for the program's 0x2741; the frames stay in Temp for it.
  return true;
}

void TKestromForm::CancelAVIExportButtonClick() {
  StopPlayback();
  ExportAVITimer->stop();
  const QRect bounds = Bounds();
  const int x = bounds.left() + 64, y = bounds.top() + 86;
  if (MessageDlgPosPaused("Are You Sure You Want To Cancel AVI Export ?", ui::MsgDlgType::mtConfirmation,
                          ui::mbYes | ui::mbNo, x, y) != ui::mrYes)
    return;  // the export stays paused until Pause/Continue
  CreateExportAVIButton->setEnabled(true);
  CancelAVIExportButton->setEnabled(false);
  Exporting = false;
  ExportAVITimer->stop();
  const QStringList left = EmptyFolder(Globals().WorkingTempFolder);
  if (!left.isEmpty())
    MessageDlgPosPaused("These files could not be deleted from " + Globals().WorkingTempFolder + ":\r\n" +
                            left.mid(0, kLeftoversNamed).join("\r\n"),
                        ui::MsgDlgType::mtWarning, ui::mbOK, x, y);
  PlayBitBtn->setEnabled(true);
  ResetSpeedButtonClick();
}

}  // namespace kestrom::window
