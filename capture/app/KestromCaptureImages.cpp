// The capture form's videos made from pictures at another program's request.
#include "capture/app/KestromCaptureForm.h"

#include <QTimer>

namespace kestrom::capture {

void TKestromCaptureForm::WireImagesEvents() {}

bool TKestromCaptureForm::ImagesRecordingCompleted(const QString&, bool) { return false; }

void TKestromCaptureForm::CreateBitmapTimerTimer() {
  CreateBitmapTimer->stop();
  Framecatcher->CreateVideoFromImagesFile();
}

void TKestromCaptureForm::BitmapTimerTimer() { BitmapTimer->stop(); }

}  // namespace kestrom::capture
