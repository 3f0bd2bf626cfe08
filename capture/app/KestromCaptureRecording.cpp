// The capture form's recordings: single captures, sequences of videos and relays.
#include "capture/app/KestromCaptureForm.h"

#include "analysis/shell/FormSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>

namespace kestrom::capture {

void TKestromCaptureForm::BuildCapturePages(QWidget* capturePage, QWidget* relayPage) {
  (void)relayPage;
  // The Capture page: what the creation step sets of it.
  shell::AddButton(capturePage, "StartCaptureButton", "Capture Video", 8, 8, 200, 28);
  auto* sequence = new QCheckBox(QStringLiteral("Sequence"), capturePage);
  sequence->setObjectName(QStringLiteral("SequenceCheckBox"));
  sequence->setGeometry(8, 44, 200, 24);
  auto* folder = new QLineEdit(capturePage);
  folder->setObjectName(QStringLiteral("FileDirectoryEditBox"));
  folder->setGeometry(8, 76, 400, 24);
}

void TKestromCaptureForm::WireRecordingEvents() {}

void TKestromCaptureForm::RecordingFrameProgress(const engine::TFrameInfo&) {}

bool TKestromCaptureForm::SequenceReencodingCompleted(const QString&, const QString&, bool) { return false; }

void TKestromCaptureForm::SaveRelayVideo() {}

void TKestromCaptureForm::StartRecordingTimerTimer() {
  StartRecordingTimer->stop();
  Framecatcher->StartRecording();
}

void TKestromCaptureForm::StopRecordingTimerTimer() {
  StopRecordingTimer->stop();
  Framecatcher->StopRecording();
}

void TKestromCaptureForm::StopRelayCaptureTimerTimer() {
  StopRelayCaptureTimer->stop();
  Framecatcher->StopRecording();
}

void TKestromCaptureForm::RelayTimerTimer() { RelayTimer->stop(); }

void TKestromCaptureForm::SummaryTimerTimer() { SummaryTimer->stop(); }

void TKestromCaptureForm::Phase1TimerTimer() { Phase1Timer->stop(); }

}  // namespace kestrom::capture
