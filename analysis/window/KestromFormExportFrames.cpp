// The frame steps of an export: while an export runs, every seek saves the frame as shown (the
// picture with its drawings) as a numbered BMP file in the working folder's Temp subfolder for
// the outside export program, and arms the next step.
#include "analysis/shell/GlobalPaths.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Bmp.h"
#include "platform/core/Paths.h"

#include <QPainter>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

void TKestromForm::CreateExportControls() {
  ExportAVITimer = new QTimer(this);
  ExportAVITimer->setObjectName("ExportAVITimer");
  ExportAVITimer->setInterval(2);
  ExportAVITimer->setSingleShot(true);
}

void TKestromForm::ExportFrameStep(int64_t n) {
  if (n >= LengthFrames - 2) {
    if (StartExportProgram()) ExportInProgress = false;
    ResetSpeedButtonClick();
    return;
  }
  // From the canvas, never the screen: the picture at zoom 1 with everything drawn on it.
  {
    QPainter painter(&ExportPicture);
    painter.drawImage(QPoint(0, 0), WindowCanvas.Image(), QRect(PicLeft, PicTop, FrameWidth, FrameHeight));
  }
  const QString path =
      core::JoinPath(shell::Globals().WorkingFolder, QStringLiteral("\\Temp\\Sample%1.bmp").arg(n + 100));
  const core::WriteResult written = core::WriteBmpFile(path, ExportPicture);
  if (!written) {
    // A video with a frame missing is no use to the coach: the export ends here and says why.
    ExportAVITimer->stop();
    ExportInProgress = false;
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
  // Until the outside export program can be started, the export ends as when the coach declines
  // to make the video: the frames stay, the buttons come back.
  CreateExportAVIButton->setEnabled(true);
  CancelAVIExportButton->setEnabled(false);
  ExportInProgress = false;
  return false;
}

}  // namespace kestrom::window
