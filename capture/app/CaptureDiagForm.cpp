#include "capture/app/CaptureDiagForm.h"

#include "platform/ui/FormSupport.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureMediator.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/Preallocation.h"
#include "platform/core/Paths.h"

#include <QFile>
#include <QPushButton>
#include <QTimer>

namespace kestrom::capture {

namespace {

// Form captions of the 25 buttons, Button1 first.
const char* const kCaptions[25] = {
    "Button1",  "MyTotalGbSize", "Button3",  "Button4",       "Button5",       "Preallocate", "Current State",
    "Button8",  "Framecatcher State", "Run Video", "Button11", "Is video deinterlaced", "Button13", "Button14",
    "Test Copy Time", "My Last Capture", "Is Tape On ?", "Framecatcher", "Button19", "Button20", "Button21",
    "Button22", "Button23", "Stop Recording", "Button25",
};

constexpr int kColumns = 5;
constexpr int kButtonWidth = 140;
constexpr int kButtonHeight = 25;

}  // namespace

TCaptureDiagForm::TCaptureDiagForm(CaptureMediator& mediator, QWidget* parent) : QDialog(parent), mediator_(mediator) {
  setObjectName("CaptureDiagForm");
  setWindowTitle("CaptureDiagForm");
  for (int i = 0; i < 25; ++i) {
    buttons_[static_cast<size_t>(i)] =
        ui::AddButton(this, QStringLiteral("Button%1").arg(i + 1), kCaptions[i], 8 + (i % kColumns) * (kButtonWidth + 8),
                         8 + (i / kColumns) * (kButtonHeight + 8), kButtonWidth, kButtonHeight);
  }
  resize(8 + kColumns * (kButtonWidth + 8), 8 + 5 * (kButtonHeight + 8));

  const std::pair<int, void (TCaptureDiagForm::*)()> actions[] = {
      {2, &TCaptureDiagForm::Button2Click},   {6, &TCaptureDiagForm::Button6Click},
      {7, &TCaptureDiagForm::Button7Click},   {9, &TCaptureDiagForm::Button9Click},
      {10, &TCaptureDiagForm::Button10Click}, {13, &TCaptureDiagForm::Button13Click},
      {15, &TCaptureDiagForm::Button15Click}, {16, &TCaptureDiagForm::Button16Click},
      {17, &TCaptureDiagForm::Button17Click}, {18, &TCaptureDiagForm::Button18Click},
      {24, &TCaptureDiagForm::Button24Click},
  };
  for (const auto& [number, action] : actions)
    connect(Button(number), &QPushButton::clicked, this, [this, action = action] { (this->*action)(); });

  // Shows the state four times a second when started; nothing starts it.
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(250);
  connect(Timer1, &QTimer::timeout, this, [this] { Button9Click(); });

  connect(&mediator_, &CaptureMediator::ReadoutWritten, this,
          [this](int button, const QString& text) { WriteReadout(button, text); });
}

void TCaptureDiagForm::WriteReadout(int button, const QString& text) {
  if (button >= 3 && button <= 5) Button(button)->setText(text);
}

void TCaptureDiagForm::Button2Click() { Button(2)->setText(TotalGbSizeCaption()); }

void TCaptureDiagForm::Button6Click() {
  engine::TFramecatcher* framecatcher = mediator_.Framecatcher();
  if (!framecatcher) return;
  PreallocateTestSample(*framecatcher);
}

void TCaptureDiagForm::Button7Click() {
  const engine::TFramecatcher* framecatcher = mediator_.Framecatcher();
  if (!framecatcher) return;
  if (const std::optional<QString> name = FrameGrabberName(framecatcher->GetFrameGrabber())) Button(7)->setText(*name);
}

void TCaptureDiagForm::Button9Click() {
  const engine::TFramecatcher* framecatcher = mediator_.Framecatcher();
  if (!framecatcher) return;
  if (const std::optional<QString> name = ComponentStateName(framecatcher->GetCurrentState()))
    Button(9)->setText(*name);
}

void TCaptureDiagForm::Button10Click() {
  engine::TFramecatcher* framecatcher = mediator_.Framecatcher();
  if (!framecatcher) return;
  framecatcher->SetPlayerSpeedRatio(0.1);
  framecatcher->RunPlayer();
}

void TCaptureDiagForm::Button13Click() {
  Button(13)->setText(Globals().FilterTextFile);
  Button(14)->setText(Globals().FilterFontFile);
}

void TCaptureDiagForm::Button15Click() {
  Button(15)->setText("Copying");
  // QFile::copy never overwrites: a target already there fails the copy and stays as it is.
  const QString folder = Globals().WorkingFolder;
  if (QFile::copy(core::JoinPath(folder, "\\Half10Secs.avi"), core::JoinPath(folder, "\\Half10SecsOut.avi")))
    Button(15)->setText("Done");
}

void TCaptureDiagForm::Button16Click() { Button(16)->setText(mediator_.LastCompressedFile); }

void TCaptureDiagForm::Button17Click() { Button(17)->setText(mediator_.DVTapeAvailable ? "yes" : "no"); }

void TCaptureDiagForm::Button18Click() {
  if (engine::TFramecatcher* framecatcher = mediator_.Framecatcher()) framecatcher->TakeReencodingStarted();
}

void TCaptureDiagForm::Button24Click() {
  if (engine::TFramecatcher* framecatcher = mediator_.Framecatcher()) framecatcher->StopRecording();
}

}  // namespace kestrom::capture
