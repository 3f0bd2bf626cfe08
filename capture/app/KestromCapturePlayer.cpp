// The capture form's player page: playing, stepping and trimming a clip, and saving the trimmed part.
#include "capture/app/KestromCaptureForm.h"

#include "platform/ui/FormSupport.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/FormTimers.h"
#include "capture/app/RadioGroup.h"
#include "capture/app/TrimScript.h"
#include "platform/core/Format.h"
#include "platform/core/Paths.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/WidgetColours.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <limits>

namespace kestrom::capture {

using engine::TFramecatcher;

namespace {

QWidget* AddTrimPanel(QWidget* parent, const char* name, QRect geometry, int colour) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setGeometry(geometry);
  ui::SetBackgroundColor(panel, colour);
  return panel;
}

QCheckBox* AddCheckBox(QWidget* parent, const char* name, const char* caption, QRect geometry) {
  auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(geometry);
  return box;
}

}  // namespace

void TKestromCaptureForm::BuildPlayerPage(QWidget* page) {
  AnyClipButton = ui::AddButton(page, "AnyClipButton", "play any clip", 4, 4, 136, 26);
  LastCaptureButton = ui::AddButton(page, "LastCaptureButton", "last capture", 144, 4, 136, 26);
  SpeedButton1 = ui::AddButton(page, "SpeedButton1", "last compression", 284, 4, 136, 26);
  connect(AnyClipButton, &QPushButton::clicked, this, [this] { AnyClipButtonClick(); });
  connect(LastCaptureButton, &QPushButton::clicked, this, [this] { LastCaptureButtonClick(); });
  connect(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
  edtSourceVideoClip = new QLineEdit(page);
  edtSourceVideoClip->setObjectName(QStringLiteral("edtSourceVideoClip"));
  edtSourceVideoClip->setReadOnly(true);
  edtSourceVideoClip->setGeometry(4, 34, 416, 24);

  PlayerBox = new QGroupBox(QStringLiteral("Player"), page);
  PlayerBox->setObjectName(QStringLiteral("PlayerBox"));
  PlayerBox->setGeometry(4, 62, 420, 150);
  ScrollBar1 = new QScrollBar(Qt::Horizontal, PlayerBox);
  ScrollBar1->setObjectName(QStringLiteral("ScrollBar1"));
  ScrollBar1->setToolTip(QStringLiteral("Video Scroll Bar"));
  ScrollBar1->setRange(1, 100);
  ScrollBar1->setGeometry(8, 20, 340, 20);
  // The user's moves come first (the toolkit's scroll event), then the change of position.
  connect(ScrollBar1, &QScrollBar::actionTriggered, this, [this] { ScrollBar1Scroll(); });
  connect(ScrollBar1, &QScrollBar::valueChanged, this, [this] { ScrollBar1Change(); });
  Test = ui::AddButton(PlayerBox, "Test", "1", 352, 18, 60, 24);
  TrimPanel = AddTrimPanel(PlayerBox, "TrimPanel", {8, 44, 340, 10}, core::clBtnFace);
  TrimInPanel = AddTrimPanel(TrimPanel, "TrimInPanel", {0, 0, 0, 10}, core::clBlack);
  TrimOutPanel = AddTrimPanel(TrimPanel, "TrimOutPanel", {340, 0, 0, 10}, core::clBlack);
  PlayBitBtn = ui::AddButton(PlayerBox, "PlayBitBtn", "Play", 8, 60, 64, 26);
  PauseBitBtn = ui::AddButton(PlayerBox, "PauseBitBtn", "Pause", 76, 60, 64, 26);
  ResetButton = ui::AddButton(PlayerBox, "ResetButton", "Reset", 144, 60, 64, 26);
  connect(PlayBitBtn, &QPushButton::clicked, this, [this] { PlayBitBtnClick(); });
  connect(PauseBitBtn, &QPushButton::clicked, this, [this] { PauseBitBtnClick(); });
  connect(ResetButton, &QPushButton::clicked, this, [this] { ResetButtonClick(); });
  TriminButton = ui::AddButton(PlayerBox, "TriminButton", "trim in", 8, 94, 80, 26);
  TrimOutButton = ui::AddButton(PlayerBox, "TrimOutButton", "trim out", 180, 94, 80, 26);
  connect(TriminButton, &QPushButton::clicked, this, [this] { TriminButtonClick(); });
  connect(TrimOutButton, &QPushButton::clicked, this, [this] { TrimOutButtonClick(); });
  auto addSpin = [this](const char* name, int left) {
    auto* spin = new QSpinBox(PlayerBox);
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(1, 1000);
    spin->setValue(1);
    spin->setGeometry(left, 94, 80, 26);
    return spin;
  };
  TrimInSpinEdit = addSpin("TrimInSpinEdit", 92);
  TrimOutSpinEdit = addSpin("TrimOutSpinEdit", 264);
  // A spin edit's change handler runs when code sets it too.
  connect(TrimInSpinEdit, &QSpinBox::valueChanged, this, [this] { TrimInSpinEditChange(); });
  connect(TrimOutSpinEdit, &QSpinBox::valueChanged, this, [this] { TrimOutSpinEditChange(); });

  CompressionBox = new QGroupBox(QStringLiteral("Compression Options"), page);
  CompressionBox->setObjectName(QStringLiteral("CompressionBox"));
  CompressionBox->setGeometry(4, 216, 420, 220);
  CheckBox1 = AddCheckBox(CompressionBox, "CheckBox1", "Video Compression On", {8, 20, 200, 22});
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { UpdateRecompressControls(); });
  cboVideoCompressors2 = new QComboBox(CompressionBox);
  cboVideoCompressors2->setObjectName(QStringLiteral("cboVideoCompressors2"));
  // The compressor's list has its row to itself, so its names show whole.
  cboVideoCompressors2->setGeometry(8, 46, 404, 24);
  connect(cboVideoCompressors2, &QComboBox::activated, this,
          [this](int index) { Framecatcher->SetVideoCompressor(index); });
  Button7 = ui::AddButton(CompressionBox, "Button7", "Compression Settings", 216, 18, 196, 26);
  connect(Button7, &QPushButton::clicked, this, [this] { VideoSettingsButtonClick(); });
  AudioBox = AddCheckBox(CompressionBox, "AudioBox", "Audio On", {8, 74, 120, 22});
  SaveBitBtn = ui::AddButton(CompressionBox, "SaveBitBtn", "Save Video", 296, 184, 116, 28);
  connect(SaveBitBtn, &QPushButton::clicked, this, [this] { SaveBitBtnClick(); });
  RenderVideoCheckBox = AddCheckBox(CompressionBox, "RenderVideoCheckBox", "Render Video", {8, 100, 140, 22});
  connect(RenderVideoCheckBox, &QCheckBox::toggled, this, [this] { RenderVideoCheckBoxClick(); });
  VideoSizeRadioGroup = AddRadioGroup(CompressionBox, QStringLiteral("VideoSizeRadioGroup"), QString(),
                                      {QStringLiteral("Full Size"), QStringLiteral("Half Size")}, {8, 124, 130, 60});
  FramesRadioBox = AddRadioGroup(CompressionBox, QStringLiteral("FramesRadioBox"), QString(),
                                 {QStringLiteral("25 / 30 fps"), QStringLiteral("50 / 60 fps")}, {144, 124, 130, 60});
  SetRadioIndex(VideoSizeRadioGroup, 0);
  SetRadioIndex(FramesRadioBox, 1);
  UpdateRecompressControls();
}

void TKestromCaptureForm::WirePlayerEvents() {
  // The re-encoding's panel (made with the form's panels) says what runs and how far it is.
  QWidget* reencodingPanel = findChild<QWidget*>(QStringLiteral("Panel2"));
  reencodingPanel->resize(300, 70);
  ui::AddLabel(reencodingPanel, "ReencodingLabel", "Compressing the video, please wait...", 8, 8, 284);
  auto* progress = new QProgressBar(reencodingPanel);
  progress->setObjectName(QStringLiteral("ReencodingProgressBar"));
  progress->setRange(0, 100);
  progress->setGeometry(8, 36, 284, 20);
  TFramecatcher* fc = Framecatcher;
  fc->OnPlayerStarted = [this](QObject*) { FramecatcherPlayerStarted(); };
  fc->OnPreviewStarted = [this](QObject*) { FramecatcherPreviewStarted(); };
  fc->OnReencodingStarted = [this](QObject*, const QString& source, const QString& dest) {
    FramecatcherReencodingStarted(source, dest);
  };
  fc->OnReencodingProgress = [this](QObject*, const engine::TProgressInfo& progress) {
    FramecatcherReencodingProgress(progress);
  };
}

// ---------------------------------------------------------------- opening a clip

void TKestromCaptureForm::ShowPlayerPage() {
  TFramecatcher* fc = Framecatcher;
  fc->SetDisplay_FullScreen(false);
  PageControl1->setEnabled(true);
  PlayerBox->setEnabled(true);
  CompressionBox->setEnabled(true);
  ui::SetBackgroundColor(PlayerBox, core::clBtnFace);
  ui::SetBackgroundColor(CompressionBox, core::clBtnFace);
  PageControl1->setCurrentIndex(PlayerPage);
  fc->SetPreviewZoomSize(78);
  ShowModeCaption();
}

void TKestromCaptureForm::UpdateRecompressControls() {
  const bool on = CheckBox1->isChecked();
  cboVideoCompressors2->setEnabled(on);
  Button7->setEnabled(on);
}

void TKestromCaptureForm::RenderVideoCheckBoxClick() {
  const bool on = RenderVideoCheckBox->isChecked();
  VideoSizeRadioGroup->setEnabled(on);
  FramesRadioBox->setEnabled(on);
}

void TKestromCaptureForm::OpenPlayerFile(const QString& path) {
  TFramecatcher* fc = Framecatcher;
  PlayerOpening = true;
  findChild<QWidget*>(QStringLiteral("ReportBox"))->hide();
  ShowPlayerPage();
  edtSourceVideoClip->setText(path);
  emit mediator_.ReadoutWritten(5, path);
  fc->SetPlayerFileName(path);
  fc->SetPlayerAudioRendering(false);
  fc->OpenPlayer();
  // Paused before the seek: a seek while the clip runs on can be overtaken by its playing.
  fc->PausePlayer();
  fc->SetPlayerFramePosition(1);
  ShowModeCaption();

  const int64_t frames = fc->GetPlayerFrameCount();
  PlayerFrames = frames;
  if (frames <= 0) {
    // Nothing to trim or save: the trims and the scroll bar stay as they were, and a save is refused.
    PlayerOpening = false;
    ShowFormMessage(QStringLiteral("The video ") + path + QStringLiteral("\r\nhas no frames that can be played."), 520);
    // The failed clip left no graph: the coach is given the camera back rather than a blank panel.
    if (!NoCameraMode) RestartPreview();
    return;
  }
  const int count = static_cast<int>(std::min<int64_t>(frames, std::numeric_limits<int>::max()));
  emit mediator_.ReadoutWritten(5, QString::number(frames));
  ScrollBar1->setMaximum(count);
  TrimInSpinEdit->setMaximum(count);
  TrimOutSpinEdit->setMaximum(count);
  TrimInSpinEdit->setValue(1);
  TrimOutSpinEdit->setValue(count);
  TrimInPanel->resize(0, TrimInPanel->height());
  TrimOutPanel->resize(0, TrimOutPanel->height());

  if (fc->GetPlayerClipKind() == 2) {
    AudioBox->setEnabled(true);
  } else {
    AudioBox->setEnabled(false);
    AudioBox->setChecked(false);
  }

  const std::optional<double> rate = ClipFrameRate(frames, fc->GetPlayerDuration());
  if (!rate) return;
  // The clip's own size: the camera's selected size says nothing about a clip.
  const QSize clipSize = fc->GetPlayerVideoSize();
  Log(QStringLiteral("Player Started"));
  Log(QStringLiteral("video size: ") + QString::number(clipSize.width()) + QStringLiteral("x") +
      QString::number(clipSize.height()));
  Log(QStringLiteral("frame rate: ") + core::FormatFloat(QStringLiteral("0.00"), *rate) + QStringLiteral(" fps."));

  if (RenderOptionsOffered(clipSize.width(), *rate)) {
    VideoSizeRadioGroup->setEnabled(true);
    FramesRadioBox->setEnabled(true);
    SetRadioIndex(VideoSizeRadioGroup, 0);
    SetRadioIndex(FramesRadioBox, 1);
    RenderVideoCheckBox->setChecked(true);
  } else {
    VideoSizeRadioGroup->setEnabled(false);
    FramesRadioBox->setEnabled(false);
    RenderVideoCheckBox->setChecked(false);
  }
  fc->SetPlayerSpeedRatio(PlayerSpeedRatioFor(*rate));

  ScrollBar1Tag = 1;
  ScrollBar1->setValue(1);
  fc->setVisible(true);
  UpdateRecompressControls();
  PlayerOpening = false;
}

void TKestromCaptureForm::AnyClipButtonClick() {
  if (StartRefused()) return;
  ui::FileRequest request;
  request.initialDir = Globals().WorkingFolder;
  request.filter = QStringLiteral("Avi Files|*.avi|WMV Files|*.WMV|MPeg Files|*.mpeg|Movie Files|*.mov|AviSynth|*.avs");
  const std::optional<QString> chosen = ui::AppDialogs().OpenFile(request, this);
  if (!chosen) return;
  ResetFilters();
  Framecatcher->SetFrameGrabber(engine::fg_PreviewStream);
  chkText->setChecked(false);
  OpenPlayerFile(*chosen);
}

void TKestromCaptureForm::LastCaptureButtonClick() {
  if (StartRefused()) return;
  if (LastCaptureFile == QLatin1String(" ")) {
    ShowFormMessage(QStringLiteral("No video has been captured yet"), 520);
    return;
  }
  ResetFilters();
  Framecatcher->SetFrameGrabber(engine::fg_PreviewStream);
  OpenPlayerFile(LastCaptureFile);
  ArmTimer(*PlayVideoTimer);
}

void TKestromCaptureForm::SpeedButton1Click() {
  if (StartRefused()) return;
  if (mediator_.LastCompressedFile == QLatin1String(" ")) {
    ShowFormMessage(QStringLiteral("No video has been compressed yet"), 520);
    return;
  }
  ResetFilters();
  Framecatcher->SetFrameGrabber(engine::fg_PreviewStream);
  chkText->setChecked(false);
  OpenPlayerFile(mediator_.LastCompressedFile);
  ArmTimer(*PlayVideoTimer);
}

// ---------------------------------------------------------------- transport, scroll bar, trims

void TKestromCaptureForm::PlayBitBtnClick() {
  ScrollBar1Tag = 1;
  Framecatcher->StopPlayer();
  ScrollBar1->setValue(1);
  Framecatcher->SetPlayerFramePosition(1);
  Test->setText(QStringLiteral("1"));
  Framecatcher->RunPlayer();
}

void TKestromCaptureForm::PauseBitBtnClick() {
  ScrollBar1Tag = 1;
  if (Framecatcher->IsPlayerPaused())
    Framecatcher->RunPlayer();
  else
    Framecatcher->PausePlayer();
}

void TKestromCaptureForm::ResetButtonClick() {
  ScrollBar1Tag = 1;
  Framecatcher->StopPlayer();
  ScrollBar1->setValue(1);
  Framecatcher->SetPlayerFramePosition(1);
  Test->setText(QStringLiteral("1"));
}

void TKestromCaptureForm::ScrollBar1Scroll() {
  if (!Framecatcher->IsPlayerPaused()) Framecatcher->PausePlayer();
  ScrollBar1Tag = 0;
}

void TKestromCaptureForm::ScrollBar1Change() {
  if (ScrollBar1Tag == 1) return;
  const int position = ScrollBar1->value();
  Framecatcher->SetPlayerFramePosition(position);
  Test->setText(QString::number(position));
  ScrollBar1->setEnabled(true);
}

void TKestromCaptureForm::PlayerFrameProgress(const engine::TFrameInfo&) {
  // The bar counts frames from 1, as the player seeks them; the record's number counts from 0.
  // The player moved the bar: its change must not seek.
  const int frame = static_cast<int>(std::clamp<int64_t>(Framecatcher->GetFrameNumber(), 1, ScrollBar1->maximum()));
  ScrollBar1Tag = 1;
  ScrollBar1->setValue(frame);
  Test->setText(QString::number(frame));
}

void TKestromCaptureForm::TriminButtonClick() { TrimInSpinEdit->setValue(ScrollBar1->value()); }

void TKestromCaptureForm::TrimOutButtonClick() { TrimOutSpinEdit->setValue(ScrollBar1->value()); }

void TKestromCaptureForm::TrimInSpinEditChange() {
  if (State() != engine::cs_Player || PlayerFrames <= 0) return;
  ScrollBar1Tag = 0;
  const int trimIn = TrimInSpinEdit->value();
  TrimInPanel->resize(TrimInPanelWidth(trimIn, TrimPanel->width(), PlayerFrames), TrimInPanel->height());
  if (!PlayerOpening) ScrollBar1->setValue(trimIn);
}

void TKestromCaptureForm::TrimOutSpinEditChange() {
  if (State() != engine::cs_Player || PlayerFrames <= 0) return;
  ScrollBar1Tag = 0;
  const int trimOut = TrimOutSpinEdit->value();
  const int width = TrimOutPanelWidth(trimOut, TrimPanel->width(), PlayerFrames);
  TrimOutPanel->setGeometry(TrimPanel->width() - width, 0, width, TrimOutPanel->height());
  if (!PlayerOpening) ScrollBar1->setValue(trimOut);
}

// ---------------------------------------------------------------- keys and sound

void TKestromCaptureForm::PlayerKeyPress(QChar key) {
  TFramecatcher* fc = Framecatcher;
  // The frame shown: a switch of sound reopens the player, which learns its frame again only
  // when the next one arrives.
  const int64_t shown = fc->GetFrameNumber();
  switch (key.toUpper().unicode()) {
    case 27:  // Esc
      fc->PausePlayer();
      SaveRelayVideo();
      break;
    case ' ':
      fc->StopPlayer();
      break;
    case 'B':
      SetPlayerAudio(2);
      fc->SetPlayerFramePosition(shown + 1);
      break;
    case 'C':
      SetPlayerAudio(2);
      fc->SetPlayerFramePosition(shown - 1);
      break;
    case 'M':
      SetPlayerAudio(2);
      fc->SetPlayerAudioRendering(false);
      fc->SetPlayerSpeedRatio(2);
      fc->RunPlayer();
      break;
    case 'N':
      SetPlayerAudio(2);
      fc->SetPlayerAudioRendering(false);
      fc->SetPlayerSpeedRatio(0.1);
      fc->RunPlayer();
      break;
    case 'P':
      SetPlayerAudio(1);
      fc->SetPlayerSpeedRatio(1);
      fc->SetPlayerAudioRendering(true);
      fc->RunPlayer();
      break;
    case 'S':
      SaveRelayVideo();
      break;
    case 'V':
      fc->PausePlayer();
      break;
    case 'X':
      SetPlayerAudio(2);
      fc->SetPlayerSpeedRatio(0.1);
      fc->RunPlayerBackwards();
      break;
    case 'Z':
      SetPlayerAudio(2);
      fc->SetPlayerSpeedRatio(2);
      fc->RunPlayerBackwards();
      break;
    default:
      break;
  }
}

void TKestromCaptureForm::SetPlayerAudio(quint8 mode) {
  if (mode == PlayerAudioMode) return;
  TFramecatcher* fc = Framecatcher;
  // Reopening the clip starts it at its first frame; the frame shown is kept across the switch.
  const int64_t frame = State() == engine::cs_Player ? fc->GetFrameNumber() : 0;
  fc->ClosePlayer();
  PlayerAudioMode = mode;
  if (!PlayerAudioSwitched) {
    fc->SetPlayerAudioRendering(mode == 1);
    PlayerAudioSwitched = true;
  } else {
    fc->SetPlayerAudioRendering(false);
  }
  fc->OpenPlayer();
  if (frame > 0 && State() == engine::cs_Player) {
    fc->PausePlayer();
    fc->SetPlayerFramePosition(frame);
  }
}

void TKestromCaptureForm::SuspendPlayer() {
  PlayerSuspended = false;
  if (State() != engine::cs_Player) return;
  TFramecatcher* fc = Framecatcher;
  fc->PausePlayer();
  SuspendedPlayerFrame = fc->GetFrameNumber();
  fc->StopPlayer();
  PlayerSuspended = true;
  SuspendedPlayerFile = fc->GetPlayerFileName();
  fc->ClosePlayer();
}

void TKestromCaptureForm::ResumePlayer() {
  if (!PlayerSuspended) return;
  TFramecatcher* fc = Framecatcher;
  fc->SetPlayerFileName(SuspendedPlayerFile);
  fc->OpenPlayer();
  // Paused first, as a switch of the sound does: a seek while the clip runs on can be overtaken.
  fc->PausePlayer();
  fc->SetPlayerFramePosition(SuspendedPlayerFrame);
}

// ---------------------------------------------------------------- saving the trimmed part

void TKestromCaptureForm::SaveBitBtnClick() {
  if (StartRefused()) return;
  TFramecatcher* fc = Framecatcher;
  if (fc->GetPlayerFileName().isEmpty()) return;
  if (PlayerFrames <= 0) {
    // The trims still belong to the clip before: saving them would cut the wrong video.
    ShowFormMessage(QStringLiteral("This video has no frames, so it cannot be saved."), 520);
    return;
  }
  const int trimIn = TrimInSpinEdit->value();
  const int trimOut = TrimOutSpinEdit->value();
  if (trimOut < trimIn) {
    ui::AppDialogs().MessageDlgPos(QStringLiteral("Compression is not possible. Your trim-in value\r\n"
                                                  "is larger than your trim-out value."),
                                   ui::MsgDlgType::mtInformation, ui::mbOK, x() + 120, y() + 100, this);
    return;
  }
  PlayerSourceFile = fc->GetPlayerFileName();
  Log(QStringLiteral("Compressed file name is ") + PlayerSourceFile);
  if (!ReencodeScriptLines(PlayerSourceFile, trimIn, trimOut)) {
    // A quote or a line break would end the script's string early and change what it does.
    ShowFormMessage(QStringLiteral("The name of the video ") + PlayerSourceFile +
                        QStringLiteral("\r\ncannot be used for compression. Please rename the video."),
                    120);
    return;
  }
  if (!WriteReencodeScript(ReencodeScriptFile(), PlayerSourceFile, trimIn, trimOut)) {
    ShowFormMessage(QStringLiteral("Unable to write ") + ReencodeScriptFile(), 120);
    return;
  }
  if (State() == engine::cs_Player) fc->PausePlayer();
  if (!AskOutputFileName()) return;

  fc->setVisible(false);
  ClosePlayerOrStopRecording();
  if (State() != engine::cs_Preview) fc->StartPreview();
  fc->SendDVCommand(dvc_Stop);
  const bool audio = AudioBox->isChecked();
  if (State() != engine::cs_None) {
    fc->setVisible(false);
    findChild<QProgressBar*>(QStringLiteral("ReencodingProgressBar"))->setValue(0);
    findChild<QWidget*>(QStringLiteral("Panel2"))->show();
    RecordingSettings.SequenceJob = 0;
    fc->ReencodeFile(ReencodeScriptFile(), ReencodeTargetFile, false, true, true, audio);
    UpdateStartControls();
  } else {
    ui::AppDialogs().MessageDlgPos(QStringLiteral("Camera signal lost so cannot re-compress"),
                                   ui::MsgDlgType::mtInformation, ui::mbOK, x() + 504, y() + 164, this);
  }
}

bool TKestromCaptureForm::AskOutputFileName() {
  for (;;) {
    ui::FileRequest request;
    request.filter = QStringLiteral("Avi Video File|*.avi");
    request.initialDir = Globals().WorkingFolder;
    const std::optional<QString> chosen = ui::AppDialogs().SaveFile(request, this);
    if (!chosen) return false;
    ReencodeTargetFile = *chosen;
    // The re-encoding replaces its output before it reads the clip: the clip itself, however
    // it is spelled, would be lost.
    if (!core::SameFile(ReencodeTargetFile, PlayerSourceFile)) return true;
    const int answer = ui::AppDialogs().MessageDlgPos(
        QStringLiteral("You cannot use the same name for both input and output\r\n"
                       "file names. Do you want to choose another filename ?"),
        ui::MsgDlgType::mtWarning, ui::mbYes | ui::mbNo, x() + 480, y() + 180, this);
    if (answer != ui::mrYes) return false;
  }
}

// ---------------------------------------------------------------- component events

void TKestromCaptureForm::FramecatcherPlayerStarted() {
  Log(QStringLiteral("playing ") + Framecatcher->GetPlayerFileName());
}

void TKestromCaptureForm::FramecatcherPreviewStarted() {
  TFramecatcher* fc = Framecatcher;
  Log(QStringLiteral("Preview Started "));
  Log(QStringLiteral("video size: ") + QString::number(fc->GetVideoSizeWidth()) + QStringLiteral("x") +
      QString::number(fc->GetVideoSizeHeight()));
  Log(QStringLiteral("display size: ") + QString::number(fc->GetDisplay_Width()) + QStringLiteral("x") +
      QString::number(fc->GetDisplay_Height()));
  Log(QStringLiteral("current frame rate: ") + core::FormatFloat(QStringLiteral("0.00"), fc->GetCurrentFrameRate()) +
      QStringLiteral(" fps."));
}

void TKestromCaptureForm::FramecatcherReencodingStarted(const QString& source, const QString& dest) {
  Log(QStringLiteral("reencoding ") + source);
  Log(QStringLiteral(" to ") + dest + QStringLiteral("..."));
}

void TKestromCaptureForm::FramecatcherReencodingProgress(const engine::TProgressInfo& progress) {
  if (auto* bar = findChild<QProgressBar*>(QStringLiteral("ReencodingProgressBar"))) bar->setValue(progress.Percent);
  Log(QString::number(progress.Percent) + QStringLiteral("% completed..."));
}

void TKestromCaptureForm::PlayerReencodingCompleted(const QString& source, const QString& dest, bool success) {
  findChild<QWidget*>(QStringLiteral("Panel2"))->hide();
  if (!success) {
    Log(QStringLiteral("Failed to reencode ") + source + QStringLiteral(" to ") + dest);
    ui::AppDialogs().MessageDlgPos(QStringLiteral("It is not possible to write to the video \r\n") +
                                       QStringLiteral(" ") + dest + QStringLiteral(" \r\n") +
                                       QStringLiteral("This video could still be in use in either the Main or\r\n"
                                                      "Best window of your Kestrom System. Please check."),
                                   ui::MsgDlgType::mtConfirmation, ui::mbOK, x() + 504, y() + 184, this);
    findChild<QWidget*>(QStringLiteral("Panel4"))->hide();
    SelectCaptureDevice();
    return;
  }
  Log(source + QStringLiteral(" successfully"));
  Log(QStringLiteral("reencoded to ") + dest);
  Log(QStringLiteral("recompression successful..."));
  Log(ReencodeTargetFile);
  mediator_.LastCompressedFile = ReencodeTargetFile;
  const int answer = ui::AppDialogs().MessageDlgPos(
      QStringLiteral("The video ") + ReencodeTargetFile + QStringLiteral(" has been\r\n") +
          QStringLiteral("successfully compressed. Do you want to play it ?"),
      ui::MsgDlgType::mtConfirmation, ui::mbYes | ui::mbNo, x() + 504, y() + 164, this);
  if (answer == ui::mrYes) {
    ArmTimer(*ReCompressTimer);
    return;
  }
  if (State() == engine::cs_Player) Framecatcher->ClosePlayer();
  RestartPreview();
}

void TKestromCaptureForm::PlayVideoTimerTimer() {
  PlayVideoTimer->stop();
  Framecatcher->RunPlayer();
}

void TKestromCaptureForm::ReCompressTimerTimer() {
  ReCompressTimer->stop();
  Framecatcher->SetFrameGrabber(engine::fg_Disabled);
  chkText->setChecked(false);
  OpenPlayerFile(ReencodeTargetFile);
  ShowPlayerPage();
  ArmTimer(*PlayVideoTimer);
}

}  // namespace kestrom::capture
