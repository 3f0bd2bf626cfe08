// The capture form's videos made from pictures at another program's request: the request arrives
// at the form's directory entry, the component packs the pictures of the working folder's Temp
// subfolder and records them, and the finished video's path goes to the analysis window.
#include "capture/app/KestromCaptureForm.h"

#include "platform/ui/FormSupport.h"
#include "common/startup/GlobalPaths.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/FormTimers.h"
#include "capture/app/ProgramMain.h"
#include "capture/app/VideoRequest.h"
#include "platform/core/Paths.h"
#include "platform/ui/Dialogs.h"
#include "platform/winmsg/WidgetWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

namespace kestrom::capture {

namespace {

constexpr double kButton13FrameRate = 50.0;

QString TempPath(const QString& fragment) { return core::JoinPath(Globals().WorkingFolder, fragment); }

}  // namespace

void TKestromCaptureForm::WireImagesEvents() {
  Label40 = findChild<QLabel*>(QStringLiteral("Label40"));
  ReturnEdit = findChild<QLineEdit*>(QStringLiteral("ReturnEdit"));
  Button13 = ui::AddButton(PageControl1->widget(WorkingPage), "Button13", "Create Bitmaps", 216, 190, 200, 24);
  connect(Button13, &QPushButton::clicked, this, [this] { Button13Click(); });

  engine::TFramecatcher* fc = Framecatcher;
  fc->OnBitmapsLoadingProgress = [this](QObject*, const engine::TProgressInfo& info) {
    FramecatcherBitmapsLoadingProgress(info);
  };
  // A finished recording reaches the run through the recording work's handler, which asks it first.

  // Other programs find the form by its title and send their requests to this entry.
  winmsg::WidgetWindow::Attach(this, QStringLiteral("TKestromCaptureForm"),
                               [this](uint32_t msg, uintptr_t, intptr_t, const winmsg::CopyData* data) -> intptr_t {
                                 if (msg == BringForwardMessage()) {
                                   // A second start of the program found this one.
                                   showNormal();
                                   raise();
                                   activateWindow();
                                   return 1;
                                 }
                                 return msg == winmsg::WM_COPYDATA && data ? WMCopyData(*data) : 0;
                               });
}

intptr_t TKestromCaptureForm::WMCopyData(const winmsg::CopyData& data) {
  const VideoRequest request = ParseVideoRequest(data.lpData, data.cbData);
  if (!request.Accepted()) {
    Log(QStringLiteral("video request refused: ") + request.refusal);
    return 0;
  }
  RequestFrameRate = request.RequestFrameRate;
  Label40->setText(request.path);
  MakeVideoFromBitmaps();
  return 1;
}

void TKestromCaptureForm::MakeVideoFromBitmaps() {
  StopForImagesRun();
  SetImagesSource(RequestFrameRate);
  Framecatcher->SetRecordingFileName(Label40->text());
  VideoFromImagesRun = true;
  ArmTimer(*CreateBitmapTimer);
}

void TKestromCaptureForm::Button13Click() {
  if (StartRefused()) return;
  StopForImagesRun();
  SetImagesSource(kButton13FrameRate);
  const QString file = TempPath(QStringLiteral("\\Temp\\AVITemp1.avi"));
  // The notice names the file this run makes, not the last request's.
  Label40->setText(file);
  Framecatcher->SetRecordingFileName(file);
  VideoFromImagesRun = true;
  PackImages();
}

void TKestromCaptureForm::StopForImagesRun() {
  if (!VideoFromImagesRun) cameraFrameRate_ = Framecatcher->GetCurrentFrameRate();
  // Set before stopping: a recording stopped here completes inside the run and starts nothing of
  // its own (no save question, no preview of its own).
  VideoFromImagesRun = true;
  if (State() == engine::cs_Preview)
    Framecatcher->StopPreview();
  else
    ClosePlayerOrStopRecording();
}

void TKestromCaptureForm::SetImagesSource(double frameRate) {
  engine::TFramecatcher* fc = Framecatcher;
  fc->SetVideoFromImages_SourceDirectory(TempPath(QStringLiteral("\\Temp")));
  fc->SetVideoFromImages_TemporaryFile(TempPath(QStringLiteral("\\Temp\\Bitmaps.dat")));
  fc->SetVideoFromImages_BitmapsSortedBy(engine::fs_TimeAsc);
  fc->SetVideoSource(engine::vs_VideoFromImages);
  fc->SetFrameRate(frameRate);
  fc->SetAudioRecording(false);
}

void TKestromCaptureForm::CreateBitmapTimerTimer() {
  CreateBitmapTimer->stop();
  PackImages();
}

void TKestromCaptureForm::PackImages() {
  // The recording starts once the pictures are in; the 100 % report arms it too, but a packing
  // whose last file vanished never reports 100 and must not leave the run waiting.
  if (Framecatcher->CreateVideoFromImagesFile()) {
    ArmTimer(*BitmapTimer);
    return;
  }
  // No picture could be packed (the component logged why): nothing is recorded.
  BitmapTimer->stop();
  Log(QStringLiteral("capture failed."));
  EndImagesRun();
}

void TKestromCaptureForm::FramecatcherBitmapsLoadingProgress(const engine::TProgressInfo& info) {
  if (!VideoFromImagesRun) return;
  if (info.Percent > 0) Log(QString::number(info.Percent) + QStringLiteral("% completed..."));
  if (info.Percent == 100) ArmTimer(*BitmapTimer);
}

void TKestromCaptureForm::BitmapTimerTimer() {
  BitmapTimer->stop();
  if (!VideoFromImagesRun) return;
  Framecatcher->SetCompressionMode(engine::cm_CompressOnTheFly);
  Framecatcher->SetAudioRecording(false);
  if (Framecatcher->StartRecording() || State() == engine::cs_Recording) return;
  // A short run may already have completed while it started; one that never started ends here,
  // as no completion will come for it.
  if (!VideoFromImagesRun) return;
  Log(QStringLiteral("capture failed."));
  EndImagesRun();
}

bool TKestromCaptureForm::ImagesRecordingCompleted(const QString& fileName, bool success) {
  if (!VideoFromImagesRun) return false;
  tbrPreviewZoomSize->setEnabled(true);
  RecordingCounted = false;
  if (!core::SameFile(fileName, Label40->text())) {
    // A recording the request stopped: it ends here, and the run goes on.
    Log(fileName + QStringLiteral(" end recording"));
    return true;
  }
  EndImagesRun();
  if (success)
    ReplyToAnalysis();
  else
    Log(QStringLiteral("capture failed."));
  return true;
}

void TKestromCaptureForm::EndImagesRun() {
  VideoFromImagesRun = false;
  CreateBitmapTimer->stop();
  BitmapTimer->stop();
  Framecatcher->SetVideoSource(engine::vs_VideoCaptureDevice);
  Framecatcher->SetFrameRate(cameraFrameRate_);
  if (!NoCameraMode) RestartPreview();
}

void TKestromCaptureForm::ReplyToAnalysis() {
  ReturnEdit->setText(Label40->text());
  // VideoCreatedNotice: dwData 0, the path and its terminating zero byte.
  QByteArray record = ReturnEdit->text().toUtf8();
  record.append('\0');
  SendCopyData(winmsg::FindWindow(QString(), shell::AnalysisWindowTitle), record);
}

void TKestromCaptureForm::SendCopyData(winmsg::HWND target, const QByteArray& record) {
  if (!winmsg::IsWindow(target)) {
    ui::AppDialogs().ShowMessage(QStringLiteral("Capture Program needs to be open"), this);
    return;
  }
  const winmsg::WidgetWindow* entry = winmsg::WidgetWindow::Of(this);
  const winmsg::SendResult sent = winmsg::SendCopyData(target, entry ? entry->Handle() : 0, 0, record);
  // The window is there but did not answer in time (its program is busy): the notice may still
  // arrive, so this is no reason to tell the user the program is missing.
  if (!sent) Log(QStringLiteral("no answer from the analysis window: ") + sent.error);
}

}  // namespace kestrom::capture
