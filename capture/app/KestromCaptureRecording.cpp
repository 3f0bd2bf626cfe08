// The capture form's recordings: single captures, sequences of videos and relays, the recording
// events of the component, the capture summary and the saving of a finished capture.
#include "capture/app/KestromCaptureForm.h"

#include "platform/ui/FormSupport.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/FormTimers.h"
#include "capture/app/PreviewSettings.h"
#include "capture/app/RecordingRules.h"
#include "platform/core/FileCopy.h"
#include "platform/core/Format.h"
#include "platform/core/Paths.h"
#include "platform/core/TextFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

namespace kestrom::capture {

using engine::TFramecatcher;

namespace {

/** @brief A group of radio buttons named after the group ("<name>_<i>"), item index selected. */
QGroupBox* AddRadioGroup(QWidget* parent, const char* name, const QString& caption, const QStringList& items,
                         int index, QRect bounds) {
  auto* group = new QGroupBox(caption, parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(bounds);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], group);
    button->setObjectName(QStringLiteral("%1_%2").arg(QString::fromLatin1(name)).arg(i));
    button->setGeometry(8, 20 + 22 * i, bounds.width() - 16, 20);
    button->setChecked(i == index);
  }
  return group;
}

/** @brief The item chosen in a radio group, -1 when none. */
int RadioIndex(const QGroupBox* group) {
  const auto buttons = group->findChildren<QRadioButton*>();
  for (int i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isChecked()) return i;
  return -1;
}

/** @brief A read-only counter with its caption above it. */
QLineEdit* AddCounter(QWidget* parent, const char* name, const QString& caption, int left, int top, int width = 90) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setReadOnly(true);
  edit->setGeometry(left, top, width, 24);
  QLabel* label = ui::AddLabel(parent, QString::fromLatin1(name) + QStringLiteral("Label"), caption, left, top - 18);
  label->setBuddy(edit);
  return edit;
}

QComboBox* AddChoice(QWidget* parent, const char* name, const QStringList& items, int left, int top) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->addItems(items);
  box->setCurrentIndex(0);
  box->setGeometry(left, top, 120, 24);
  return box;
}

}  // namespace

// ---------------------------------------------------------------- pages

void TKestromCaptureForm::BuildCapturePages(QWidget* capturePage, QWidget* relayPage) {
  // The Capture page.
  VideoCaptureSize = AddRadioGroup(capturePage, "VideoCaptureSize", QStringLiteral("Video Capture Size"),
                                   {QStringLiteral("Full"), QStringLiteral("Half")}, 0, QRect(8, 8, 200, 70));
  VideoQualityRadioBox = AddRadioGroup(capturePage, "VideoQualityRadioBox", QStringLiteral("Video Quality"),
                                       {QStringLiteral("Maximum"), QStringLiteral("High")}, 0, QRect(216, 8, 200, 70));
  // A radio group's click handler runs whenever its item changes, by code too.
  for (QRadioButton* button : VideoQualityRadioBox->findChildren<QRadioButton*>())
    connect(button, &QRadioButton::toggled, this, [this](bool on) {
      if (on) VideoQualityRadioBoxClick();
    });
  CaptureAudioPanel = new QCheckBox(QStringLiteral("Capture Audio"), capturePage);
  CaptureAudioPanel->setObjectName(QStringLiteral("CaptureAudioPanel"));
  CaptureAudioPanel->setGeometry(8, 84, 200, 24);
  CaptureAudioPanel->setChecked(true);
  connect(CaptureAudioPanel, &QCheckBox::toggled, this, [this] { CaptureAudioPanelClick(); });
  ui::AddLabel(capturePage, "Label19", "Video Compression Options", 8, 114);
  // The compressor's list has the row below to itself, so its names show whole.
  VideoSettingsButton = ui::AddButton(capturePage, "VideoSettingsButton", "Compression Settings", 216, 110, 200, 26);
  connect(VideoSettingsButton, &QPushButton::clicked, this, [this] { VideoSettingsButtonClick(); });
  StartCaptureButton = ui::AddButton(capturePage, "StartCaptureButton", "Capture Video", 8, 176, 200, 28);
  connect(StartCaptureButton, &QPushButton::clicked, this, [this] { StartCaptureButtonClick(); });
  CaptureFrameCount = AddCounter(capturePage, "CaptureFrameCount", QStringLiteral("Frames"), 8, 228);
  CaptureDroppedCount = AddCounter(capturePage, "CaptureDroppedCount", QStringLiteral("Dropped"), 104, 228);
  CaptureTimeCount = AddCounter(capturePage, "CaptureTimeCount", QStringLiteral("Seconds"), 200, 228);
  edtDVDateTime = AddCounter(capturePage, "edtDVDateTime", QStringLiteral("DV Time"), 296, 228, 130);

  // The user reaches the sequence controls through "Sequential Capture": checking it shows them.
  SequenceCheckBox = new QCheckBox(QStringLiteral("Sequential Capture"), capturePage);
  SequenceCheckBox->setObjectName(QStringLiteral("SequenceCheckBox"));
  SequenceCheckBox->setGeometry(8, 256, 200, 24);
  connect(SequenceCheckBox, &QCheckBox::toggled, this, [this] { SequenceCheckBoxClick(); });

  // The Relay page.
  ui::AddLabel(relayPage, "RelayDurationLabel", "Capture Duration (secs)", 8, 8);
  VideoCaptureDuration = AddChoice(relayPage, "VideoCaptureDuration",
                                   {"05", "10", "15", "20", "30", "60"}, 200, 8);
  ui::AddLabel(relayPage, "RelayDelayLabel", "Delay Time (secs)", 8, 40);
  RelayDelayTime = AddChoice(relayPage, "RelayDelayTime", {"Zero", "05", "10", "15", "20", "30"}, 200, 40);
  ui::AddLabel(relayPage, "PlaybackSpeedLabel", "Playback Speed", 8, 72);
  PlaybackSpeed = AddChoice(relayPage, "PlaybackSpeed", {"Full", "Half", "Quarter"}, 200, 72);
  RelayCaptureButton = ui::AddButton(relayPage, "RelayCaptureButton", "Relay Video Capture", 8, 110, 200, 28);
  connect(RelayCaptureButton, &QPushButton::clicked, this, [this] { RelayCaptureButtonClick(); });
  RelayFrameCount = AddCounter(relayPage, "RelayFrameCount", QStringLiteral("Frames"), 8, 166);
  RelayDroppedCount = AddCounter(relayPage, "RelayDroppedCount", QStringLiteral("Dropped"), 104, 166);
  RelayTimeCount = AddCounter(relayPage, "RelayTimeCount", QStringLiteral("Seconds"), 200, 166);
}

void TKestromCaptureForm::BuildRecordingPanels() {
  // The form's panels are made after the pages: the recording's controls are added to them here.
  QWidget* sequencePanel = findChild<QWidget*>(QStringLiteral("SequenceCapturePanel"));
  sequencePanel->setParent(findChild<QWidget*>(QStringLiteral("CaptureTabSheet")));
  sequencePanel->setGeometry(4, 282, 424, 110);
  // The fields start after the widest of their captions, however wide the font draws them.
  const QLabel* captions[] = {ui::AddLabel(sequencePanel, "SequenceFolderLabel", "Folder", 4, 8),
                              ui::AddLabel(sequencePanel, "SequenceNameLabel", "File Name", 4, 40),
                              ui::AddLabel(sequencePanel, "SequenceNumberLabel", "Number", 4, 72)};
  int fieldLeft = 60;
  for (const QLabel* caption : captions) fieldLeft = std::max(fieldLeft, caption->geometry().right() + 7);
  OpenDir = ui::AddButton(sequencePanel, "OpenDir", "Open", 356, 4, 64, 24);
  connect(OpenDir, &QPushButton::clicked, this, [this] { OpenDirClick(); });
  FileDirectoryEditBox = new QLineEdit(QStringLiteral("D:\\Test Sequence"), sequencePanel);
  FileDirectoryEditBox->setObjectName(QStringLiteral("FileDirectoryEditBox"));
  FileDirectoryEditBox->setToolTip(QStringLiteral("Use the Open button to change the folder"));
  FileDirectoryEditBox->setGeometry(fieldLeft, 4, OpenDir->x() - 6 - fieldLeft, 24);
  FileNameEditBox = new QLineEdit(QStringLiteral("Sequence"), sequencePanel);
  FileNameEditBox->setObjectName(QStringLiteral("FileNameEditBox"));
  FileNameEditBox->setGeometry(fieldLeft, 36, 200, 24);
  SequenceNumberSpinEdit = new QSpinBox(sequencePanel);
  SequenceNumberSpinEdit->setObjectName(QStringLiteral("SequenceNumberSpinEdit"));
  SequenceNumberSpinEdit->setRange(1, 999);
  SequenceNumberSpinEdit->setValue(1);
  SequenceNumberSpinEdit->setGeometry(fieldLeft, 68, 80, 24);

  // The recording panel, the summary and the sequence's progress live in the form's panels.
  QWidget* stopPanel = findChild<QWidget*>(QStringLiteral("StopRecordingPanel"));
  stopPanel->resize(260, 100);
  ui::AddLabel(stopPanel, "Label3", "Recording in progress...", 8, 8, 240);
  StopCaptureButton2 = ui::AddButton(stopPanel, "StopCaptureButton2", "Stop Capture", 8, 40, 116, 28);
  connect(StopCaptureButton2, &QPushButton::clicked, this, [this] { StopCaptureButton2Click(); });
  PauseCaptureButton = ui::AddButton(stopPanel, "PauseCaptureButton", "Pause Capture", 132, 40, 116, 28);
  connect(PauseCaptureButton, &QPushButton::clicked, this, [this] { PauseCaptureButtonClick(); });
  QWidget* report = findChild<QWidget*>(QStringLiteral("ReportBox"));
  report->resize(220, 90);
  ui::AddLabel(report, "DurationLabel", "", 8, 8, 200);
  ui::AddLabel(report, "DroppedLabel", "", 8, 32, 200);
  ui::AddLabel(report, "Qualitylabel", "", 8, 56, 200);
  QWidget* progressPanel = findChild<QWidget*>(QStringLiteral("Panel4"));
  progressPanel->resize(300, 70);
  ui::AddLabel(progressPanel, "Label41", "", 8, 8, 280);
  auto* progress = new QProgressBar(progressPanel);
  progress->setObjectName(QStringLiteral("ProgressBar1"));
  progress->setGeometry(8, 36, 280, 20);
}

void TKestromCaptureForm::WireRecordingEvents() {
  BuildRecordingPanels();
  TFramecatcher* fc = Framecatcher;
  fc->OnRecordingReadyToStart = [this](QObject*, bool& okToStart) { FramecatcherRecordingReadyToStart(okToStart); };
  fc->OnRecordingStarted = [this](QObject*, const QString& file) { FramecatcherRecordingStarted(file); };
  fc->OnRecordingCompleted = [this](QObject*, const QString& file, bool success) {
    FramecatcherRecordingCompleted(file, success);
  };
  fc->OnPlayerEndOfStream = [this](QObject*) { FramecatcherPlayerEndOfStream(); };
  // A full disk is reported apart from the recording's end; the failure message names it.
  fc->OnDiskFull = [this](QObject*) { diskFullReported_ = true; };
  // The capture compressor is chosen on the Capture page; the Working page only kept the list.
  auto* quality = findChild<QWidget*>(QStringLiteral("CaptureTabSheet"));
  cboVideoCompressors->setParent(quality);
  cboVideoCompressors->setGeometry(8, 140, 408, 26);
  cboVideoCompressors->show();
  connect(cboVideoCompressors, &QComboBox::activated, this, [this](int index) { Framecatcher->SetVideoCompressor(index); });
  connect(cboVideoSubtypes, &QComboBox::activated, this, [this](int index) { Framecatcher->SetVideoSubtype(index); });
  UpdateQualityControls();
  ShowSequenceControls();
}

void TKestromCaptureForm::UpdateQualityControls() {
  const bool high = RadioIndex(VideoQualityRadioBox) == 1;
  findChild<QLabel*>(QStringLiteral("Label19"))->setEnabled(high);
  cboVideoCompressors->setEnabled(high);
  VideoSettingsButton->setEnabled(high);
}

void TKestromCaptureForm::VideoQualityRadioBoxClick() { UpdateQualityControls(); }

void TKestromCaptureForm::CaptureAudioPanelClick() {
  if (auto* audio = findChild<QCheckBox*>(QStringLiteral("AudioBox"))) audio->setChecked(CaptureAudioPanel->isChecked());
}

void TKestromCaptureForm::VideoSettingsButtonClick() {
  // The compressor's dialog needs the graph: an open player steps aside while it is shown.
  SuspendPlayer();
  Framecatcher->ShowDialog(1);
  ResumePlayer();
}

int TKestromCaptureForm::AskRecording(const QString& text, ui::MsgDlgType type, ui::MsgDlgButtons buttons,
                                      int leftOffset, int topOffset) {
  return ui::AppDialogs().MessageDlgPos(text, type, buttons, x() + leftOffset, y() + topOffset, this);
}

// ---------------------------------------------------------------- single capture

void TKestromCaptureForm::StartCaptureButtonClick() {
  if (StartRefused()) return;
  const bool sequence = SequenceCheckBox->isChecked();
  if (sequence) {
    // A folder that cannot take the videos is refused now, not after the last video is recorded.
    const QString problem = SequenceFolderProblem(FileDirectoryEditBox->text());
    if (!problem.isEmpty()) {
      AskRecording(problem, ui::MsgDlgType::mtWarning, ui::mbOK, 490);
      return;
    }
  }
  TFramecatcher* fc = Framecatcher;
  RelayMode = false;
  fc->setVisible(PreviewCheckBox->isChecked());
  ClosePlayerOrStopRecording();
  if (State() != engine::cs_Preview) fc->StartPreview();

  CaptureJob = sequence ? 3 : 1;
  const bool maximumQuality = RadioIndex(VideoQualityRadioBox) == 0;
  const bool noAudio = !CaptureAudioPanel->isChecked();
  const bool halfSize = RadioIndex(VideoCaptureSize) == 1;
  if (sequence) {
    RecordingSettings.HalfSize = halfSize;
    sequenceStartNumber_ = SequenceNumberSpinEdit->value();
    SequenceCount = 0;
    NextSequenceFile();
    return;
  }
  const CaptureGlobals& g = Globals();
  if (halfSize) {
    QFile::remove(g.HalfSampleFile);
    PrepareRecording(g.HalfSampleFile, true, engine::fg_BothStreams, false, noAudio, maximumQuality);
  } else {
    PrepareRecording(g.SampleFile, false, engine::fg_PreviewStream, false, noAudio, maximumQuality);
  }
}

void TKestromCaptureForm::PrepareRecording(const QString& file, bool halfSize, int frameGrabber, bool sequence,
                                           bool noAudio, bool maximumQuality) {
  TFramecatcher* fc = Framecatcher;
  if (CaptureJob == 1 || SequenceCount <= 1) fc->setVisible(false);
  fc->SetRecordingFileName(file);
  RecordingSettings.HalfSize = halfSize;
  RecordingSettings.MaximumQuality = maximumQuality;
  RecordingSettings.NoAudio = noAudio;
  RecordingSettings.SequenceJob = sequence ? 1 : 0;
  fc->SetVideoProcessing_Deinterlacing(halfSize ? engine::di_HalfSize : engine::di_Disabled);
  const int zoom = halfSize ? 40 : 20;
  if (!WriteUntilRead([fc](int v) { fc->SetPreviewZoomSize(v); }, [fc] { return fc->GetPreviewZoomSize(); }, zoom))
    Log(SettingNotTakenLine("PreviewZoomSize", zoom));
  fc->SetCompressionMode(maximumQuality ? engine::cm_NoCompression : engine::cm_CompressOnTheFly);
  fc->SetAudioRecording(!noAudio);
  if (!halfSize && maximumQuality) {
    fc->SetFrameGrabber(engine::fg_Disabled);
    fc->SetAudioRecording(true);  // a full-size capture at maximum quality always keeps its sound
    fc->SetRecordingInNativeFormat(true);
  } else {
    fc->SetFrameGrabber(frameGrabber);
    fc->SetRecordingInNativeFormat(false);
  }
  // Every counted recording has a limit, and "Pause Capture" needs a recording that can pause.
  RecordingTimeLimit = kRecordingTimeLimit;
  fc->SetRecordingCanPause(true);
  diskFullReported_ = false;
  ArmTimer(*StartRecordingTimer);
  UpdateStartControls();
}

void TKestromCaptureForm::StartRecordingTimerTimer() {
  StartRecordingTimer->stop();
  TFramecatcher* fc = Framecatcher;
  // A start the coach cancelled at the ready question goes back to preview through PreviewTimer.
  if (!fc->StartRecording() && State() != engine::cs_Recording && !PreviewTimer->isActive())
    RecordingFailed(fc->GetRecordingFileName(), false);
}

void TKestromCaptureForm::RecordingFailed(const QString& file, bool started) {
  Log(QStringLiteral("capture failed."));
  if (CaptureJob == 2) {
    RelayMode = false;
    RelaySaveAsked = true;
  }
  if (CaptureJob == 3) EndSequence();
  findChild<QWidget*>(QStringLiteral("StopRecordingPanel"))->hide();
  // The writer says when its writes failed for want of space, whatever room there is by now.
  const bool diskFull = diskFullReported_ || Framecatcher->LastRecordingFailedForDiskFull();
  AskRecording(RecordingFailureMessage(file, started, diskFull), ui::MsgDlgType::mtError, ui::mbOK, 480);
  RestartPreview();
}

void TKestromCaptureForm::StopCaptureButton2Click() { Framecatcher->StopRecording(); }

void TKestromCaptureForm::PauseCaptureButtonClick() {
  TFramecatcher* fc = Framecatcher;
  auto* label = findChild<QLabel*>(QStringLiteral("Label3"));
  // The captions follow the recording only when the component took the change.
  if (fc->IsRecordingPaused()) {
    if (!fc->ResumeRecording()) return;
    PauseCaptureButton->setText(QStringLiteral("Pause"));
    label->setText(QStringLiteral("Recording in progress..."));
  } else {
    if (!fc->PauseRecording()) return;
    PauseCaptureButton->setText(QStringLiteral("Resume"));
    label->setText(QStringLiteral("Recording paused..."));
  }
}

void TKestromCaptureForm::FramecatcherRecordingReadyToStart(bool& okToStart) {
  TFramecatcher* fc = Framecatcher;
  QWidget* stopPanel = findChild<QWidget*>(QStringLiteral("StopRecordingPanel"));
  if (VideoFromImagesRun) {
    // Another program asked for this video and nobody may be at the form: no question. The
    // pictures end the recording themselves.
    RecordingCounted = true;
    RecordingTimeLimit = 0;
    tbrPreviewZoomSize->setEnabled(false);
    okToStart = true;
    return;
  }
  if (!RelayMode) fc->setVisible(true);
  const int answer = AskRecording(QStringLiteral("Ready to start capture!"), ui::MsgDlgType::mtInformation,
                                  ui::mbOKCancel, 570);
  if (answer != ui::mrOk) {
    okToStart = false;
    // A cancelled relay is over: nothing may wait for its end.
    if (RelayMode) {
      RelayMode = false;
      RelaySaveAsked = true;
    }
    ArmTimer(*PreviewTimer);
    return;
  }
  if (RelayMode) {
    stopPanel->hide();
    RecordingTimeLimit = kRecordingTimeLimit;
  } else {
    stopPanel->setEnabled(true);
    stopPanel->show();
    stopPanel->raise();
    StopCaptureButton2->setEnabled(true);
    PauseCaptureButton->setText(QStringLiteral("Pause Capture"));
    findChild<QLabel*>(QStringLiteral("Label3"))->setText(QStringLiteral("Recording in progress..."));
  }
  if (DVTapeAvailable()) fc->SendDVCommand(dvc_Play);
  RecordingCounted = true;
  tbrPreviewZoomSize->setEnabled(false);
  okToStart = true;
}

void TKestromCaptureForm::FramecatcherRecordingStarted(const QString& fileName) {
  LastCaptureFile = fileName;
  if (RelayMode) {
    Log(QStringLiteral("relay recording started"));
    return;
  }
  Log(QStringLiteral("recording to ") + fileName + QStringLiteral(":"));
  Log(QString::number(Framecatcher->GetVideoWidth()) + QStringLiteral("x") +
      QString::number(Framecatcher->GetVideoHeight()));
}

void TKestromCaptureForm::RecordingFrameProgress(const engine::TFrameInfo& info) {
  // Only a recording's frames count: preview frames after the stop would overwrite the figures the
  // summary rates.
  if (State() != engine::cs_Recording) return;
  DroppedFrameCount = info.DroppedFrames;
  CapturedFrames = info.FrameNumber;
  RecordedSeconds = info.TotalSeconds;
  const bool relay = CaptureJob == 2;
  if (relay && RecordingCounted && RecordedSeconds >= RelayDuration) {
    RecordingCounted = false;
    RelayFrameCount->setText(QString::number(CapturedFrames));
    RelayDroppedCount->setText(QString::number(DroppedFrameCount));
    RelayTimeCount->setText(QString::number(RecordedSeconds));
    ArmTimer(*StopRelayCaptureTimer);
    return;
  }
  if (RecordingCounted && TimeLimitReached(RecordedSeconds, RecordingTimeLimit)) {
    ArmTimer(*StopRecordingTimer);
    return;
  }
  if (info.FrameNumber % 5 != 0) return;
  // The counters are refreshed on every fifth frame only: the form's work per frame stays small.
  const bool showing = RecordingCounted && !Framecatcher->IsRecordingPaused();
  if (showing) CaptureFrameCount->setText(QString::number(info.FrameNumber));
  edtDVDateTime->setText(DVTimeCodeText(info.TCHours, info.TCMinutes, info.TCSeconds));
  if (!showing) return;
  if (relay) {
    RelayFrameCount->setText(QString::number(CapturedFrames));
    RelayDroppedCount->setText(QString::number(DroppedFrameCount));
    RelayTimeCount->setText(QString::number(RecordedSeconds));
  } else {
    CaptureFrameCount->setText(QString::number(CapturedFrames));
    CaptureDroppedCount->setText(QString::number(DroppedFrameCount));
    CaptureTimeCount->setText(QString::number(RecordedSeconds));
  }
}

void TKestromCaptureForm::FramecatcherRecordingCompleted(const QString& fileName, bool success) {
  TFramecatcher* fc = Framecatcher;
  tbrPreviewZoomSize->setEnabled(true);
  RecordingCounted = false;
  // A stop armed by the frames that came while this recording was stopping must not end the next.
  StopRecordingTimer->stop();
  StopRelayCaptureTimer->stop();
  for (QLineEdit* counter : {CaptureFrameCount, CaptureDroppedCount, CaptureTimeCount})
    counter->setText(QStringLiteral(" "));
  if (ImagesRecordingCompleted(fileName, success)) return;

  if (DVTapeAvailable()) fc->SendDVCommand(dvc_Freeze);
  Log(fileName + QStringLiteral(" end recording"));
  findChild<QWidget*>(QStringLiteral("StopRecordingPanel"))->hide();
  if (!success) {
    // Nothing that follows a capture may treat a failed one as made: no save, summary or next video.
    RecordingFailed(fileName, true);
    return;
  }
  switch (CaptureJob) {
    case 2:
      PlayerAudioSwitched = false;
      ArmTimer(*RelayTimer);
      return;
    case 3:
      break;
    default:
      if (RecordingSettings.HalfSize) {
        const int answer = AskRecording(
            QStringLiteral("This video has now been successfully captured and is now ready\r\n") +
                QStringLiteral("for you to SAVE and then OPEN in either the Main or Best Window.\r\n") +
                QStringLiteral("Do you want to save the video ?"),
            ui::MsgDlgType::mtInformation, ui::mbYes | ui::mbNo, 480);
        if (answer == ui::mrYes) SaveCaptureCopy(Globals().HalfSampleFile, QStringLiteral("Avi Video File|*.avi"));
        RestartPreview();
      } else {
        ArmTimer(*SummaryTimer);
      }
      return;
  }
  // A video of a sequence.
  const int answer = AskRecording(QStringLiteral("Video ") + QString::number(SequenceCount) +
                                      QStringLiteral(" of the current sequence has been successfully captured\r\n") +
                                      QStringLiteral("Do you want to record the next video of the sequence ?"),
                                  ui::MsgDlgType::mtConfirmation, ui::mbYesNoCancel, 490);
  if (answer == ui::mrYes) {
    NextSequenceFile();
  } else if (answer == ui::mrNo && !RecordingSettings.HalfSize) {
    StartSequenceCompression();
  } else {
    EndSequence();
    SelectCaptureDevice();
    PageControl1->setCurrentIndex(CapturePageIndex);
  }
}

void TKestromCaptureForm::SaveCaptureCopy(const QString& source, const QString& filter) {
  ui::FileRequest request;
  request.filter = filter;
  request.initialDir = Globals().WorkingFolder;
  request.defaultExt = QStringLiteral("avi");
  for (;;) {
    const std::optional<QString> target = ui::AppDialogs().SaveFile(request, this);
    if (!target) return;
    // Saving onto the capture itself would lose it: the user is asked for another name.
    if (core::SameFile(*target, source)) {
      const int again = AskRecording(QStringLiteral("You cannot use the same name for both input and output\r\n") +
                                         QStringLiteral("file names. Do you want to choose another filename ?"),
                                     ui::MsgDlgType::mtWarning, ui::mbYes | ui::mbNo, 480);
      if (again == ui::mrYes) continue;
      return;
    }
    const core::WriteResult copied = core::CopyFileAtomic(source, *target);
    Log(copied ? QStringLiteral("File Saved OK") : QStringLiteral("Erro File Not Saved"));
    return;
  }
}

void TKestromCaptureForm::SummaryTimerTimer() {
  SummaryTimer->stop();
  TFramecatcher* fc = Framecatcher;
  const QString file = fc->GetLastRecordedFile();
  if (file.isEmpty()) return;
  fc->SetPlayerFileName(file);
  PlayerSourceFile = file;
  PlayCapturedVideo();
  RateCaptureQuality();
  QWidget* report = findChild<QWidget*>(QStringLiteral("ReportBox"));
  const int answer = AskRecording(QStringLiteral("Do you want to play the captured video ?"),
                                  ui::MsgDlgType::mtConfirmation, ui::mbYes | ui::mbNo, 504);
  report->hide();
  if (answer != ui::mrYes) {
    // Not played: the form goes back to preview, its resting state.
    RestartPreview();
    return;
  }
  // The player page was shown as the clip was opened.
  const double duration = static_cast<double>(fc->GetPlayerDuration()) / 10'000'000.0;
  const double rate = duration > 0 ? static_cast<double>(fc->GetPlayerFrameCount()) / duration : 0.0;
  Log(QStringLiteral("Duration: ") + core::FormatFloat(QStringLiteral("00.00"), duration));
  Log(QStringLiteral("Frame Rate: ") + core::FormatFloat(QStringLiteral("00.00"), rate));
  auto* save = findChild<QWidget*>(QStringLiteral("SaveBitBtn"));
  if (rate > 40) {
    Log(QStringLiteral("Video has already been compressed"));
    Log(QStringLiteral("No further compression is possible"));
    if (save) save->setEnabled(false);
  } else {
    if (save) save->setEnabled(true);
    if (auto* box = findChild<QWidget*>(QStringLiteral("CompressionBox"))) box->setEnabled(true);
  }
  fc->RunPlayer();
}

void TKestromCaptureForm::PlayCapturedVideo() {
  Framecatcher->SetFrameGrabber(engine::fg_PreviewStream);
  OpenPlayerFile(Framecatcher->GetPlayerFileName());
}

void TKestromCaptureForm::RateCaptureQuality() {
  QWidget* report = findChild<QWidget*>(QStringLiteral("ReportBox"));
  report->show();
  report->raise();
  const CaptureRating rating = kestrom::capture::RateCaptureQuality(CapturedFrames, DroppedFrameCount);
  findChild<QLabel*>(QStringLiteral("DurationLabel"))->setText(QString::number(RecordedSeconds) + QStringLiteral(" secs"));
  findChild<QLabel*>(QStringLiteral("DroppedLabel"))->setText(rating.droppedText);
  findChild<QLabel*>(QStringLiteral("Qualitylabel"))->setText(rating.quality);
}

void TKestromCaptureForm::StopRecordingTimerTimer() {
  StopRecordingTimer->stop();
  Framecatcher->StopRecording();
}

// ---------------------------------------------------------------- sequences

void TKestromCaptureForm::ShowSequenceControls() {
  const bool on = SequenceCheckBox->isChecked();
  StartCaptureButton->setText(on ? QStringLiteral("Capture Sequence of Videos") : QStringLiteral("Capture Video"));
  QWidget* panel = findChild<QWidget*>(QStringLiteral("SequenceCapturePanel"));
  for (QWidget* child : panel->findChildren<QWidget*>()) child->setEnabled(on);
  panel->setVisible(on);
}

void TKestromCaptureForm::SequenceCheckBoxClick() { ShowSequenceControls(); }

void TKestromCaptureForm::NextSequenceFile() {
  TFramecatcher* fc = Framecatcher;
  const QString folder = FileDirectoryEditBox->text();
  const QString name = FileNameEditBox->text();
  CurrentSequenceFile = SequenceVideoName(folder, name, sequenceStartNumber_);
  emit mediator_.ReadoutWritten(3, CurrentSequenceFile);
  ++SequenceCount;
  const bool halfSize = RecordingSettings.HalfSize;
  const bool maximumQuality = RadioIndex(VideoQualityRadioBox) == 0;
  const bool noAudio = !CaptureAudioPanel->isChecked();
  if (halfSize || SequenceCount <= 10) {
    // Half-size videos go straight to the user's folder, numbered on from the start number.
    const QString file = halfSize ? SequenceVideoName(folder, name, sequenceStartNumber_ + SequenceCount - 1)
                                  : CaptureFilePath(SequenceCount);
    if (DVTapeAvailable() && SequenceCount > 1) fc->SendDVCommand(dvc_Play);
    PrepareRecording(file, halfSize, halfSize ? engine::fg_BothStreams : engine::fg_PreviewStream, true, noAudio,
                     maximumQuality);
    return;
  }
  QWidget* stopPanel = findChild<QWidget*>(QStringLiteral("StopRecordingPanel"));
  stopPanel->show();
  const int answer = AskRecording(QStringLiteral("You have reached the maximum of 10 sequential capture files.\r\n") +
                                      QStringLiteral("The capture system will now stop or compress these video files.\r\n") +
                                      QStringLiteral("Do you want the compression to start?"),
                                  ui::MsgDlgType::mtWarning, ui::mbYes | ui::mbNo, 490, 170);
  stopPanel->hide();
  if (answer == ui::mrYes) {
    --SequenceCount;
    StartSequenceCompression();
  } else {
    EndSequence();
    RestartPreview();
  }
}

void TKestromCaptureForm::StartSequenceCompression() {
  if (SequenceCount < 1) return;
  Framecatcher->setVisible(false);
  Framecatcher->SetFrameGrabber(engine::fg_PreviewStream);
  setCursor(Qt::WaitCursor);
  emit mediator_.ReadoutWritten(4, QStringLiteral("Compression Seq ") + QString::number(SequenceCount));
  SequenceReencodeIndex = 1;
  RecordingSettings.NoAudio = !CaptureAudioPanel->isChecked();
  RecordingSettings.SequenceJob = 1;
  ArmTimer(*Phase1Timer);
}

void TKestromCaptureForm::Phase1TimerTimer() {
  Phase1Timer->stop();
  if (!WriteSequenceScript(SequenceReencodeIndex)) {
    EndSequence();
    RestartPreview();
    return;
  }
  const QString target = SequenceVideoName(FileDirectoryEditBox->text(), FileNameEditBox->text(),
                                           sequenceStartNumber_ + SequenceReencodeIndex - 1);
  findChild<QLabel*>(QStringLiteral("Label41"))
      ->setText(QStringLiteral("Video Number : ") + QString::number(SequenceReencodeIndex) +
                QStringLiteral(" Please Wait..."));
  QWidget* panel = findChild<QWidget*>(QStringLiteral("Panel4"));
  panel->show();
  panel->raise();
  auto* progress = findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
  progress->setMaximum(SequenceCount);
  progress->setValue(SequenceReencodeIndex - 1);
  StartScriptReencode(core::JoinPath(Globals().WorkingFolder, QStringLiteral("\\Input.avs")), target);
}

bool TKestromCaptureForm::WriteSequenceScript(int index) {
  const QString script = core::JoinPath(Globals().WorkingFolder, QStringLiteral("\\Input.avs"));
  const std::optional<QStringList> lines = SequenceScriptLines(CaptureFilePath(index));
  const core::WriteResult written = lines ? core::WriteTextLines(script, *lines) : core::WriteResult{};
  if (written) return true;
  AskRecording(QStringLiteral("The compression script ") + script + QStringLiteral(" could not be written."),
               ui::MsgDlgType::mtWarning, ui::mbOK, 490);
  return false;
}

void TKestromCaptureForm::StartScriptReencode(const QString& script, const QString& target) {
  // The target is not deleted first: the component refuses a target that is its own source and
  // replaces an existing one only once the new file is whole.
  Framecatcher->setVisible(false);
  RecordingSettings.SequenceJob = 1;
  mediator_.LastCompressedFile = target;
  Framecatcher->ReencodeFile(script, target, false, true, true, CaptureAudioPanel->isChecked());
}

bool TKestromCaptureForm::SequenceReencodingCompleted(const QString& source, const QString& dest, bool success) {
  if (RecordingSettings.SequenceJob != 1) return false;
  if (!success) {
    // The sequence stops; the player work reports the failure as for any re-encoding.
    EndSequence();
    return false;
  }
  if (auto* panel = findChild<QWidget*>(QStringLiteral("Panel2"))) panel->hide();
  Log(source + QStringLiteral(" successfully"));
  Log(QStringLiteral("reencoded to ") + dest);
  if (SequenceReencodeIndex < SequenceCount) {
    ++SequenceReencodeIndex;
    ArmTimer(*Phase1Timer);
    return true;
  }
  QWidget* panel = findChild<QWidget*>(QStringLiteral("Panel4"));
  findChild<QLabel*>(QStringLiteral("Label41"))->setText(QStringLiteral("Video Compression Completed"));
  panel->show();
  auto* progress = findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
  progress->setMaximum(SequenceCount);
  progress->setValue(SequenceCount);
  EndSequence();
  AskRecording(QStringLiteral("The video compression sequence has now finished and the\r\n") +
                   QStringLiteral("videos can now be viewed in either the Main or Best Windows"),
               ui::MsgDlgType::mtInformation, ui::mbOK, 490);
  panel->hide();
  findChild<QWidget*>(QStringLiteral("StopRecordingPanel"))->hide();
  RestartPreview();
  return true;
}

void TKestromCaptureForm::EndSequence() {
  unsetCursor();
  RecordingSettings.SequenceJob = 0;
}

// ---------------------------------------------------------------- relay

void TKestromCaptureForm::RelayCaptureButtonClick() {
  if (StartRefused()) return;
  StartRelayCapture();
}

void TKestromCaptureForm::StartRelayCapture() {
  TFramecatcher* fc = Framecatcher;
  PageControl1->setEnabled(false);
  RelayMode = true;
  CaptureJob = 2;
  RecordingTimeLimit = kRecordingTimeLimit;
  RelaySaveAsked = false;
  findChild<QWidget*>(QStringLiteral("StopRecordingPanel"))->hide();
  fc->setVisible(false);
  fc->SetCompressionMode(engine::cm_CompressOnTheFly);
  fc->SetRecordingInNativeFormat(false);
  fc->SetFrameGrabber(engine::fg_BothStreams);
  fc->SetVideoProcessing_Deinterlacing(engine::di_HalfSize);
  fc->SetAudioRecording(true);
  fc->SetRecordingCanPause(true);
  if (++RelayFileToggle > 2) RelayFileToggle = 1;
  const QString file = core::JoinPath(Globals().WorkingFolder, RelayFileToggle == 1 ? QStringLiteral("\\RelayASample.Avi")
                                                                                    : QStringLiteral("\\RelayBSample.Avi"));
  QFile::remove(file);
  fc->SetRecordingFileName(file);
  RelayDuration = RelayDurationSeconds(VideoCaptureDuration->currentIndex());
  RelayTimer->setInterval(RelayDelayMs(RelayDelayTime->currentIndex()));
  RelayPlaybackSpeed = RelayPlaybackSpeedOf(PlaybackSpeed->currentIndex());
  diskFullReported_ = false;
  UpdateStartControls();
  if (!fc->StartRecording() && State() != engine::cs_Recording && !PreviewTimer->isActive())
    RecordingFailed(file, false);
}

void TKestromCaptureForm::StopRelayCaptureTimerTimer() {
  StopRelayCaptureTimer->stop();
  Framecatcher->StopRecording();
}

void TKestromCaptureForm::RelayTimerTimer() {
  RelayTimer->stop();
  TFramecatcher* fc = Framecatcher;
  const QString file = fc->GetLastRecordedFile();
  if (file.isEmpty()) return;
  for (QLineEdit* counter : {RelayFrameCount, RelayDroppedCount, RelayTimeCount}) counter->setText(QStringLiteral(" "));
  fc->SetFrameGrabber(engine::fg_Disabled);
  fc->SetVideoProcessing_Deinterlacing(engine::di_Disabled);
  fc->SetPlayerFileName(file);
  const bool audio = RelayPlaysAudio(RelayPlaybackSpeed);
  fc->SetPlayerAudioRendering(audio);
  PlayerAudioMode = audio ? 1 : 2;
  fc->SetDisplay_FullScreen(true);
  fc->setVisible(PreviewCheckBox->isChecked());
  // The clip opens at the relay's speed: a speed left from an earlier clip (0.4 for a capture's
  // summary) is refused by a player with sound, which then never reaches the relay's end.
  fc->SetPlayerSpeedRatio(RelayPlaybackSpeed);
  fc->OpenPlayer();
  fc->SetPlayerSpeedRatio(RelayPlaybackSpeed);
  fc->RunPlayer();
}

void TKestromCaptureForm::FramecatcherPlayerEndOfStream() {
  if (!RelayMode) return;
  if (!AskReplayRelay()) SaveRelayVideo();
}

bool TKestromCaptureForm::AskReplayRelay() {
  PageControl1->setEnabled(true);
  const int answer = AskRecording(QStringLiteral("Relay Video has finished.\r\n") +
                                      QStringLiteral("Do you want to play it again ?"),
                                  ui::MsgDlgType::mtInformation, ui::mbYes | ui::mbNo, 120, 100);
  if (answer != ui::mrYes) return false;
  ArmTimer(*PlayVideoTimer);
  return true;
}

void TKestromCaptureForm::SaveRelayVideo() {
  if (RelaySaveAsked) return;
  TFramecatcher* fc = Framecatcher;
  PageControl1->setEnabled(true);
  const int answer = AskRecording(QStringLiteral("Relay Video has been captured OK.\r\n") +
                                      QStringLiteral("Do you want to save it ?"),
                                  ui::MsgDlgType::mtInformation, ui::mbYes | ui::mbNo, 120, 100);
  // The player still has the relay file open: the copy reads it, never writes it.
  if (answer == ui::mrYes) SaveCaptureCopy(fc->GetRecordingFileName(), QStringLiteral("Video File|*.avi"));
  RelayMode = false;
  RelaySaveAsked = true;
  fc->ClosePlayer();
  fc->SetDisplay_FullScreen(false);
  fc->SetFrameGrabber(engine::fg_PreviewStream);
  LogSettingsNotTaken(EnsureDeviceSettings(*fc));
  fc->StartPreview();
  UpdateStartControls();
}

}  // namespace kestrom::capture
