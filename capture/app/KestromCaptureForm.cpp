#include "capture/app/KestromCaptureForm.h"

#include "common/startup/DiagForm806.h"
#include "common/startup/FirstRunChecks.h"
#include "platform/ui/FormSupport.h"
#include "common/startup/GlobalPaths.h"
#include "capture/app/CaptureGlobals.h"
#include "capture/app/CaptureModes.h"
#include "capture/app/CodecCheck.h"
#include "capture/app/DeviceMenu.h"
#include "capture/app/FilterSettings.h"
#include "capture/app/FormTimers.h"
#include "capture/app/PreviewSettings.h"
#include "capture/app/Preallocation.h"
#include "capture/engine/SyncManager.h"
#include "platform/ui/CaptionFit.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Panels.h"
#include "platform/ui/Terminate.h"
#include "platform/ui/WidgetColours.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

namespace kestrom::capture {

using engine::TFramecatcher;

namespace {

// The grey of a preview whose device stopped delivering: RGB(150, 150, 150).
constexpr core::TColor kLostPreviewColour = 0x969696;

QStringList ItemsOf(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

QWidget* AddPanel(QWidget* parent, const char* name, int left, int top, int width, int height, bool raised = true) {
  return ui::AddPanel(parent, QString::fromLatin1(name), QRect(left, top, width, height), raised);
}

QComboBox* AddCombo(QWidget* parent, const char* name, int left, int top, int width = 200) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(left, top, width, 24);
  return box;
}

}  // namespace

void FillComboBox(QComboBox* box, const QString& lines, int index) {
  QStringList items = lines.split(QRegularExpression(QStringLiteral("\r?\n")));
  if (!items.isEmpty() && items.last().isEmpty()) items.removeLast();
  box->setCurrentText(QString());
  box->clear();
  box->addItems(items);
  if (box->count() > 0) box->setCurrentIndex(index);
}

TKestromCaptureForm::TKestromCaptureForm(CaptureMediator& mediator, QWidget* parent)
    : QWidget(parent), mediator_(mediator) {
  setObjectName(QStringLiteral("KestromCaptureForm"));
  BuildControls();
  mediator_.SetFramecatcher(Framecatcher);
  WireComponentEvents();
  connect(&mediator_, &CaptureMediator::PreallocationClosed, this, [this](bool programEnding) {
    // The check stopped the preview; unless the program is ending, the form goes back to it.
    if (!programEnding && !NoCameraMode) RestartPreview();
  });
  FormCreate();
}

TKestromCaptureForm::~TKestromCaptureForm() {
  destroying_ = true;
  for (QTimer* timer : findChildren<QTimer*>()) timer->stop();
  // The component goes first, so that none of its events reaches a form half taken down.
  delete Framecatcher;
  Framecatcher = nullptr;
}

QTimer* TKestromCaptureForm::AddTimer(const char* name, int intervalMs, void (TKestromCaptureForm::*handler)()) {
  auto* timer = new QTimer(this);
  timer->setObjectName(QString::fromLatin1(name));
  timer->setInterval(intervalMs);
  connect(timer, &QTimer::timeout, this, handler);
  return timer;
}

void TKestromCaptureForm::BuildControls() {
  setWindowTitle(shell::CaptureWindowTitle);

  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName(QStringLiteral("PageControl1"));
  PageControl1->setGeometry(4, 4, 440, 470);
  const struct {
    const char* name;
    const char* caption;
  } pages[kCapturePageCount] = {{"PreviewTabSheet", "Preview"}, {"CaptureTabSheet", "Capture"},
                                {"TabSheet4", "Relay"},         {"TabSheet3", "Player"},
                                {"FilterTabSheet", "Filters"},  {"Setup", "Setup"},
                                {"Working", "Working"}};
  QWidget* page[kCapturePageCount] = {};
  for (int i = 0; i < kCapturePageCount; ++i) {
    page[i] = new QWidget;
    page[i]->setObjectName(QString::fromLatin1(pages[i].name));
    PageControl1->addTab(page[i], QString::fromLatin1(pages[i].caption));
  }
  // A page change runs its handler only when the user made it, as the toolkit's does.
  PageControl1->tabBar()->installEventFilter(this);
  connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
    if (index != userPageClick_) return;
    userPageClick_ = -1;
    PageControl1Change();
  });

  BuildPreviewPage(page[PreviewPage]);

  BuildCapturePages(page[CapturePageIndex], page[RelayPage]);
  BuildPlayerPage(page[PlayerPage]);
  BuildFiltersPage(page[FiltersPage]);

  SampleSetupButton = ui::AddButton(page[SetupPage], "SampleSetupButton",
                                       "Check the Current Pre-Allocation File Status", 8, 8, 400, 32);
  connect(SampleSetupButton, &QPushButton::clicked, this, [this] { SampleSetupButtonClick(); });

  BuildWorkingPage(page[WorkingPage]);

  // Right of the pages: the preview with the component, the log and the state read-out.
  auto* panel1 = AddPanel(this, "Panel1", 450, 4, 505, 455, false);
  PreviewBox = new QGroupBox(QStringLiteral("Preview"), panel1);
  PreviewBox->setObjectName(QStringLiteral("PreviewBox"));
  PreviewBox->setGeometry(0, 0, 505, 330);
  PreviewPanel = AddPanel(PreviewBox, "PreviewPanel", 8, 20, 489, 302, false);
  Framecatcher = new TFramecatcher(PreviewPanel);
  Framecatcher->setGeometry(0, 0, 489, 302);
  mmoLog = new QPlainTextEdit(panel1);
  mmoLog->setObjectName(QStringLiteral("mmoLog"));
  mmoLog->setReadOnly(true);
  mmoLog->setGeometry(0, 336, 420, 119);
  Button14 = ui::AddButton(panel1, "Button14", "0", 426, 336, 79, 28);

  // Panels of the capture, player and summary steps; the creation step places them.
  for (const char* name : {"SequenceCapturePanel", "PlayerCompressPanel", "ReportBox", "Panel2", "Panel4",
                           "StopRecordingPanel"})
    AddPanel(this, name, 0, 0, 120, 60)->hide();
  for (const char* name : {"DummyImagePanel", "DummyPlayerPanel"}) AddPanel(this, name, 0, 0, 120, 60, false)->hide();
  // The two placeholder panels stand behind the pages: shown, they must not take the pages' clicks.
  for (const char* name : {"DummyImagePanel", "DummyPlayerPanel"}) {
    QWidget* placeholder = findChild<QWidget*>(QString::fromLatin1(name));
    placeholder->setAttribute(Qt::WA_TransparentForMouseEvents);
    placeholder->lower();
  }

  StartTimer = AddTimer("StartTimer", 1000, &TKestromCaptureForm::StartTimerTimer);
  StateTimer = AddTimer("StateTimer", 1000, &TKestromCaptureForm::StateTimerTimer);
  PreviewTimer = AddTimer("PreviewTimer", 500, &TKestromCaptureForm::PreviewTimerTimer);
  StartRecordingTimer = AddTimer("StartRecordingTimer", 500, &TKestromCaptureForm::StartRecordingTimerTimer);
  StopRecordingTimer = AddTimer("StopRecordingTimer", 1000, &TKestromCaptureForm::StopRecordingTimerTimer);
  StopRelayCaptureTimer = AddTimer("StopRelayCaptureTimer", 500, &TKestromCaptureForm::StopRelayCaptureTimerTimer);
  RelayTimer = AddTimer("RelayTimer", 300, &TKestromCaptureForm::RelayTimerTimer);
  SummaryTimer = AddTimer("SummaryTimer", 500, &TKestromCaptureForm::SummaryTimerTimer);
  PlayVideoTimer = AddTimer("PlayVideoTimer", 500, &TKestromCaptureForm::PlayVideoTimerTimer);
  ReCompressTimer = AddTimer("ReCompressTimer", 1000, &TKestromCaptureForm::ReCompressTimerTimer);
  Phase1Timer = AddTimer("Phase1Timer", 1000, &TKestromCaptureForm::Phase1TimerTimer);
  CreateBitmapTimer = AddTimer("CreateBitmapTimer", 2000, &TKestromCaptureForm::CreateBitmapTimerTimer);
  BitmapTimer = AddTimer("BitmapTimer", 1000, &TKestromCaptureForm::BitmapTimerTimer);
  // The state read-out runs from creation to the end.
  ArmTimer(*StateTimer);
}

void TKestromCaptureForm::BuildPreviewPage(QWidget* page) {
  DeviceComboBox = AddCombo(page, "DeviceComboBox", 8, 8, 300);
  connect(DeviceComboBox, &QComboBox::activated, this, [this] { DeviceComboBoxChange(); });
  Button2 = ui::AddButton(page, "Button2", "Reset Preview", 316, 8, 110, 24);
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

  // Nine buttons share the page's width: each shows its hint when it fits, else the transport
  // symbol that names the command, the hint saying it in words.
  const auto symbolOf = [](int code) -> QString {
    switch (code) {
      case dvc_Play: return QStringLiteral("\u25B6");              // play
      case dvc_Stop: return QStringLiteral("\u25A0");              // stop
      case dvc_Freeze: return QStringLiteral("| |");               // pause
      case dvc_StepForward: return QStringLiteral("\u25B6|");      // step forward
      case dvc_StepReverse: return QStringLiteral("|\u25C0");      // step back
      case dvc_FastestForward: return QStringLiteral("\u25B6\u25B6");  // fast forward
      case dvc_SlowestForward: return QStringLiteral("\u25B7");    // slow forward
      case dvc_FastestReverse: return QStringLiteral("\u25C0\u25C0");  // fast rewind
      case dvc_SlowestReverse: return QStringLiteral("\u25C1");    // slow back
      default: return QString();
    }
  };
  int left = 8;
  for (const DVButton& dv : DVButtons()) {
    auto* button = new QToolButton(page);
    button->setObjectName(QString::fromLatin1(dv.button));
    button->setToolTip(QString::fromLatin1(dv.hint));
    button->setGeometry(left, 40, 44, 28);
    ui::ShortCaptionWhenCut(button, QString::fromLatin1(dv.hint), symbolOf(dv.code));
    left += 46;
    const int code = dv.code;
    connect(button, &QToolButton::clicked, this, [this, code] { DVTransportCommand(code); });
  }
  const char* const bindings[] = {"P = Play Video", "V = Pause Video", "C = Step Back", "B = Step Forward",
                                  "X = Slow Back", "N = Slow Forward", "Z = Fast Rewind", "M = Fast Forward",
                                  "Space Bar = Stop Video", "'Esc' to return to normal preview mode"};
  int top = 76;
  int n = 0;
  for (const char* text : bindings) {
    ui::AddLabel(page, QStringLiteral("KeyLabel%1").arg(++n), QString::fromLatin1(text), 8, top);
    top += 18;
  }

  FullScreenButton = ui::AddButton(page, "FullScreenButton", "Full Screen", 8, 270, 110, 26);
  connect(FullScreenButton, &QPushButton::clicked, this, [this] { FullScreenButtonClick(); });
  PreviewCheckBox = new QCheckBox(QStringLiteral("Show Preview"), page);
  PreviewCheckBox->setObjectName(QStringLiteral("PreviewCheckBox"));
  PreviewCheckBox->setGeometry(130, 270, 140, 26);
  PreviewCheckBox->setChecked(true);
  // A check box's click handler runs when code checks it too.
  connect(PreviewCheckBox, &QCheckBox::toggled, this, [this] { PreviewCheckBoxClick(); });

  tbrPreviewZoomSize = new QSlider(Qt::Horizontal, page);
  tbrPreviewZoomSize->setObjectName(QStringLiteral("tbrPreviewZoomSize"));
  tbrPreviewZoomSize->setRange(10, 200);
  tbrPreviewZoomSize->setValue(100);
  tbrPreviewZoomSize->setGeometry(8, 310, 250, 26);
  connect(tbrPreviewZoomSize, &QSlider::valueChanged, this, [this] { tbrPreviewZoomSizeChange(); });
  edtDisplaySize = new QLineEdit(page);
  edtDisplaySize->setObjectName(QStringLiteral("edtDisplaySize"));
  edtDisplaySize->setReadOnly(true);
  edtDisplaySize->setGeometry(266, 310, 60, 24);
  btnResetDisplaySize = ui::AddButton(page, "btnResetDisplaySize", "rst", 332, 310, 40, 24);
  connect(btnResetDisplaySize, &QPushButton::clicked, this, [this] { btnResetDisplaySizeClick(); });
}

void TKestromCaptureForm::BuildWorkingPage(QWidget* page) {
  // The working lists: the form keeps the component's lists here.
  cboVideoDevices = AddCombo(page, "cboVideoDevices", 8, 8);
  cboAudioDevices = AddCombo(page, "cboAudioDevices", 216, 8);
  cboVideoCompressors = AddCombo(page, "cboVideoCompressors", 8, 40);
  cboAudioCompressors = AddCombo(page, "cboAudioCompressors", 216, 40);
  cboAnalogVideoStandard = AddCombo(page, "cboAnalogVideoStandard", 8, 72);
  cboVideoSizes = AddCombo(page, "cboVideoSizes", 216, 72);
  cboVideoSubtypes = AddCombo(page, "cboVideoSubtypes", 8, 104);
  cboVideoInputs = AddCombo(page, "cboVideoInputs", 216, 104);
  cboAudioFormats = AddCombo(page, "cboAudioFormats", 8, 136);
  cboAudioInputs = AddCombo(page, "cboAudioInputs", 216, 136);
  ui::AddLabel(page, "Label40", "Label40", 8, 168);
  auto* returnEdit = new QLineEdit(page);
  returnEdit->setObjectName(QStringLiteral("ReturnEdit"));
  returnEdit->setGeometry(8, 190, 200, 24);
  Button11 = ui::AddButton(page, "Button11", "Preallocate", 8, 222, 200, 24);
  connect(Button11, &QPushButton::clicked, this, [this] { Button11Click(); });
}

void TKestromCaptureForm::WireComponentEvents() {
  TFramecatcher* fc = Framecatcher;
  fc->OnVideoDeviceSelected = [this](QObject*) { FramecatcherVideoDeviceSelected(); };
  fc->OnAudioDeviceSelected = [this](QObject*) { FramecatcherAudioDeviceSelected(); };
  fc->OnDeviceArrivalOrRemoval = [this](QObject*, bool isArrival, bool isVideo, const QString& name, int index) {
    FramecatcherDeviceArrivalOrRemoval(isArrival, isVideo, name, index);
  };
  fc->OnDeviceLost = [this](QObject*) { FramecatcherDeviceLost(); };
  fc->OnLog = [this](QObject*, int, const QString& severity, const QString& message) {
    FramecatcherLog(severity, message);
  };
  fc->OnKeyPress = [this](QObject*, int, QChar& key, uint16_t, Qt::KeyboardModifiers) { FramecatcherKeyPress(key); };
  fc->OnCreatePreallocFileStarted = [this](QObject*, const QString& name) {
    FramecatcherCreatePreallocFileStarted(name);
  };
  fc->OnCreatePreallocFileCompleted = [this](QObject*, const QString& name, bool success) {
    FramecatcherCreatePreallocFileCompleted(name, success);
  };
  fc->OnFrameProgress = [this](QObject*, const engine::TFrameInfo& info) { FramecatcherFrameProgress(info); };
  fc->OnReencodingCompleted = [this](QObject*, const QString& source, const QString& dest, bool success) {
    FramecatcherReencodingCompleted(source, dest, success);
  };
  WireRecordingEvents();
  WirePlayerEvents();
  WireImagesEvents();
  // Reinitialising and going inactive need nothing of the form.
}

// ---------------------------------------------------------------- start-up

void TKestromCaptureForm::FormCreate() {
  // 1. Caption, hidden panels and tabs.
  setWindowTitle(shell::CaptureWindowTitle);
  findChild<QWidget*>(QStringLiteral("SequenceCapturePanel"))->hide();
  findChild<QWidget*>(QStringLiteral("PlayerCompressPanel"))->hide();
  PageControl1->setTabVisible(SetupPage, false);
  PageControl1->setTabVisible(WorkingPage, false);

  // 2. Layout.
  auto place = [this](const char* name, int left, int top, bool show = false) {
    QWidget* w = findChild<QWidget*>(QString::fromLatin1(name));
    w->move(left, top);
    if (show) w->show();
  };
  QWidget* dummyImage = findChild<QWidget*>(QStringLiteral("DummyImagePanel"));
  place("DummyImagePanel", 0, dummyImage->y(), true);
  place("DummyPlayerPanel", 2, 73, true);
  Memo1->clear();
  resize(967, 508);
  ui::PlaceForm(this, 30, 120);
  mediator_.SetCaptureFormPos(pos());
  findChild<QWidget*>(QStringLiteral("Panel1"))->resize(505, 455);
  PageControl1->setCurrentIndex(PreviewPage);
  place("ReportBox", 10, 10);
  place("Panel2", 180, 184);
  place("Panel4", 140, 50);
  place("StopRecordingPanel", 180, 184);

  // 3. Form state.
  NoCameraMode = true;
  RelayMode = false;
  RelayFileToggle = 2;
  RelaySaveAsked = false;
  RecordingCounted = false;
  VideoFromImagesRun = false;
  PlayerAudioSwitched = false;
  PlayerAudioMode = 0;
  LastCaptureFile = QStringLiteral(" ");
  mediator_.LastCompressedFile = QStringLiteral(" ");
  // The component applies a changed setting at the next start of a mode, never by itself.
  Framecatcher->SetAutoRefreshPreview(false);

  // 4. The capture button's caption.
  auto* sequence = findChild<QCheckBox*>(QStringLiteral("SequenceCheckBox"));
  findChild<QPushButton*>(QStringLiteral("StartCaptureButton"))
      ->setText(sequence->isChecked() ? QStringLiteral("Capture Sequence of Videos") : QStringLiteral("Capture Video"));

  // 5. Compressor lists.
  FillComboBox(cboVideoCompressors, engine::VideoCompressorsText(), Framecatcher->GetVideoCompressor());
  FillComboBox(cboVideoCompressors2, engine::VideoCompressorsText(), Framecatcher->GetVideoCompressor());
  FillComboBox(cboAudioCompressors, engine::AudioCompressorsText(), Framecatcher->GetAudioCompressor());

  // 6. Paths: each failure is a box at (200, 200) and the end of the program, the later steps
  // still running until control is back in the message loop.
  for (const QString& message : InitCapturePaths()) {
    ui::AppDialogs().MessageDlgPos(message, ui::MsgDlgType::mtWarning, ui::mbAbort, 200, 200, this);
    ui::Terminate();
  }

  // 7. The overlay's font and text.
  if (QFileInfo::exists(Globals().FilterFontFile)) LoadFilterFont(Globals().FilterFontFile);
  if (const std::optional<QStringList> text = LoadFilterText(Globals().FilterTextFile))
    Memo1->setPlainText(text->join(QLatin1Char('\n')));

  // 8. The sequence folder.
  findChild<QLineEdit*>(QStringLiteral("FileDirectoryEditBox"))->setText(Globals().DefaultSequenceFolder);
  OpenDirectory1.InitialDir = Globals().DefaultSequenceFolder;
  LoadSequenceDir();

  // 9. No camera until the start step finds one.
  mediator_.PreallocationRunning = false;
  NoCameraMode = true;
  EnableTabs();
  // The way to the preallocation check, with or without a camera: the Setup page's tab is shown
  // (the Working page stays storage only).
  PageControl1->setTabVisible(SetupPage, true);
  PageControl1->setCurrentIndex(PreviewPage);
  ArmTimer(*StartTimer);
}

void TKestromCaptureForm::StartTimerTimer() {
  StartTimer->stop();
  // The capture program runs only beside an analysis window; the steps below still run first.
  const bool analysisWindow = analysisWindowScan_
                                  ? analysisWindowScan_()
                                  : shell::DirectoryWindowTitles().contains(shell::AnalysisWindowTitle);
  if (!analysisWindow) ui::Terminate();
  CheckCodecs();
  RefreshDeviceLists();
  ProbeDVTransport();
}

bool TKestromCaptureForm::CheckCodecs() {
  const CodecCheckOutcome outcome = kestrom::capture::CheckCodecs(shell::AppFirstRunChecks(),
                                                                  ItemsOf(cboVideoCompressors),
                                                                  ItemsOf(cboAudioCompressors));
  for (const FormMessage& message : outcome.messages) {
    ShowFormMessage(message.text, message.leftOffset);
    ui::Terminate();
  }
  // The last item of an equal name is the one applied and shown.
  if (outcome.videoCompressor >= 0) {
    Framecatcher->SetVideoCompressor(outcome.videoCompressor);
    cboVideoCompressors->setCurrentIndex(outcome.videoCompressor);
    cboVideoCompressors2->setCurrentIndex(outcome.videoCompressor);
  }
  if (outcome.audioCompressor >= 0) {
    Framecatcher->SetAudioCompressor(outcome.audioCompressor);
    cboAudioCompressors->setCurrentIndex(outcome.audioCompressor);
  }
  return true;
}

void TKestromCaptureForm::RefreshDeviceLists() {
  if (destroying_) return;
  FillComboBox(cboVideoDevices, engine::VideoDevicesText(), Framecatcher->GetVideoDevice());
  FillComboBox(cboAudioDevices, engine::AudioDevicesText(), Framecatcher->GetAudioDevice());
  BuildDeviceMenu();
  CheckCameraSignal();
}

void TKestromCaptureForm::BuildDeviceMenu() {
  const DeviceMenu menu = kestrom::capture::BuildDeviceMenu(ItemsOf(cboVideoDevices));
  DeviceComboBox->clear();
  DeviceComboBox->setCurrentIndex(-1);
  DeviceComboBox->addItems(menu.items);
  DeviceIndexMap = menu.DeviceIndexMap;
  if (!menu.items.isEmpty()) {
    DeviceComboBox->setCurrentIndex(0);
    DeviceComboBox->update();
  }
}

void TKestromCaptureForm::CheckCameraSignal() {
  ProbeDVTransport();
  const CameraSignalOutcome outcome = kestrom::capture::CheckCameraSignal(DeviceComboBox->count());
  if (outcome.message) ShowFormMessage(outcome.message->text, outcome.message->leftOffset);
  NoCameraMode = outcome.NoCameraMode;
  if (!outcome.selectFirstDevice) {
    EnableTabs();
    return;
  }
  Log(QStringLiteral("Camera is now on and connected..."));
  ClosePlayerOrStopRecording();
  EnableTabs();
  DeviceComboBox->setCurrentIndex(0);
  SelectCaptureDevice();
}

void TKestromCaptureForm::SelectCaptureDevice() {
  const int item = DeviceComboBox->currentIndex();
  if (item < 0 || item >= DeviceIndexMap.size()) return;
  TFramecatcher* fc = Framecatcher;
  fc->SetAVIFormatOpenDML(true);
  fc->SetDisplay_FullScreen(false);
  fc->setVisible(PreviewCheckBox->isChecked());
  ClosePlayerOrStopRecording();
  fc->SetVideoDevice(DeviceIndexMap[item]);
  LogSettingsNotTaken(EnsureDeviceSettings(*fc));
  tbrPreviewZoomSize->setValue(kPreviewZoom);
  ShowDisplaySize();
  LogSettingsNotTaken(EnsureGrabberSettings(*fc));
  fc->StartPreview();
  PageControl1->setEnabled(true);
  PreviewBox->setEnabled(true);
  PreviewPanel->setEnabled(true);
  SetPreviewColour(core::clBtnFace);
  ApplyTextOverlay();
  ShowModeCaption();
}

void TKestromCaptureForm::ProbeDVTransport() {
  mediator_.DVTapeAvailable = Framecatcher->SendDVCommand(dvc_Freeze);
}

void TKestromCaptureForm::DeviceComboBoxChange() {
  if (DeviceComboBox->currentIndex() >= 0) SelectCaptureDevice();
}

void TKestromCaptureForm::Button2Click() {
  if (NoCameraMode) return;
  SelectCaptureDevice();
  PreviewCheckBox->setChecked(true);
}

// ---------------------------------------------------------------- component events

void TKestromCaptureForm::FramecatcherVideoDeviceSelected() {
  TFramecatcher* fc = Framecatcher;
  FillComboBox(cboAnalogVideoStandard, fc->GetAnalogVideoStandardsText(), fc->GetAnalogVideoStandard());
  FillComboBox(cboVideoSizes, fc->GetVideoSizesText(), fc->GetVideoSize());
  FillComboBox(cboVideoSubtypes, fc->GetVideoSubtypesText(), fc->GetVideoSubtype());
  FillComboBox(cboVideoInputs, fc->GetVideoInputsText(), fc->GetVideoInput());
}

void TKestromCaptureForm::FramecatcherAudioDeviceSelected() {
  TFramecatcher* fc = Framecatcher;
  cboAudioDevices->setCurrentIndex(fc->GetAudioDevice());
  FillComboBox(cboAudioFormats, fc->GetAudioFormatsText(), fc->GetAudioFormat());
  FillComboBox(cboAudioInputs, fc->GetAudioInputsText(), fc->GetAudioInput());
}

void TKestromCaptureForm::FramecatcherDeviceArrivalOrRemoval(bool isArrival, bool isVideo, const QString& name,
                                                             int) {
  Log(QString(isVideo ? "video device " : "audio device ") + (isArrival ? "arrival:" : "removal:"));
  if (isArrival) {
    const CaptureWork work{State(), RelayMode, VideoFromImagesRun, mediator_.PreallocationRunning};
    if (ArrivalMaySelectDevice(work)) {
      // The camera check decides the no-camera mode: an arriving microphone is no camera.
      RefreshDeviceLists();
      EnableTabs();
      ProbeDVTransport();
    } else {
      // A recording, relay, re-encoding, image run or preallocation goes on untouched.
      FillComboBox(cboVideoDevices, engine::VideoDevicesText(), Framecatcher->GetVideoDevice());
      FillComboBox(cboAudioDevices, engine::AudioDevicesText(), Framecatcher->GetAudioDevice());
      BuildDeviceMenu();
    }
  }
  Log(name);
  if (isVideo)
    FillComboBox(cboVideoDevices, engine::VideoDevicesText(), Framecatcher->GetVideoDevice());
  else
    FillComboBox(cboAudioDevices, engine::AudioDevicesText(), Framecatcher->GetAudioDevice());
}

void TKestromCaptureForm::FramecatcherDeviceLost() {
  Log(QStringLiteral("DEVICE LOST!"));
  PageControl1->setEnabled(false);
  SetPreviewColour(kLostPreviewColour);
  PreviewPanel->setEnabled(false);
  const FormMessage message = DeviceLostMessage();
  ShowFormMessage(message.text, message.leftOffset);
  ProbeDVTransport();
}

void TKestromCaptureForm::FramecatcherLog(const QString& severity, const QString& message) {
  Log(QStringLiteral("[") + severity + QStringLiteral("] ") + message);
}

void TKestromCaptureForm::FramecatcherKeyPress(QChar key) {
  if (State() == engine::cs_Player) PlayerKeyPress(key);
  if (State() != engine::cs_Preview) return;
  for (int code : PreviewKeyCommands(key)) DVTransportCommand(code);
}

void TKestromCaptureForm::FramecatcherFrameProgress(const engine::TFrameInfo& info) {
  if (State() == engine::cs_Player)
    PlayerFrameProgress(info);
  else
    RecordingFrameProgress(info);
}

void TKestromCaptureForm::FramecatcherReencodingCompleted(const QString& source, const QString& dest, bool success) {
  if (!SequenceReencodingCompleted(source, dest, success)) PlayerReencodingCompleted(source, dest, success);
}

void TKestromCaptureForm::FramecatcherCreatePreallocFileStarted(const QString& fileName) {
  Log(QStringLiteral("preallocating file ") + fileName + QStringLiteral("..."));
}

void TKestromCaptureForm::FramecatcherCreatePreallocFileCompleted(const QString& fileName, bool success) {
  Log(success ? QStringLiteral("preallocated file ") + fileName + QStringLiteral(" successfully created.")
              : QStringLiteral("ERROR: Failed to preallocate ") + fileName);
  emit mediator_.PreallocFileCompleted(fileName, success);
}

// ---------------------------------------------------------------- pages, modes, display

void TKestromCaptureForm::EnableTabs() {
  for (int page = 0; page < kCapturePageCount; ++page) PageControl1->setTabEnabled(page, PageEnabled(page, NoCameraMode));
}

void TKestromCaptureForm::PageControl1Change() {
  EnableTabs();
  if (!NoCameraMode) return;
  const FormMessage message = NoSignalMessage();
  ShowFormMessage(message.text, message.leftOffset);
}

void TKestromCaptureForm::ShowModeCaption() {
  PageControl1->setEnabled(true);
  UpdateStartControls();
}

void TKestromCaptureForm::Button11Click() {
  if (StartRefused()) return;
  Framecatcher->StopPreview();
  PreallocateTestSample(*Framecatcher);
}

bool TKestromCaptureForm::StartsBlocked() const {
  CaptureWork work{State(), RelayMode, VideoFromImagesRun, mediator_.PreallocationRunning};
  work.sequenceRunning = RecordingSettings.SequenceJob == 1;
  for (const QTimer* step : {StartRecordingTimer, RelayTimer, SummaryTimer, Phase1Timer, ReCompressTimer,
                             CreateBitmapTimer, BitmapTimer})
    work.stepPending = work.stepPending || step->isActive();
  return kestrom::capture::StartRefused(work);
}

bool TKestromCaptureForm::StartRefused() {
  if (!StartsBlocked()) return false;
  Log(QStringLiteral("stop capture first"));
  return true;
}

void TKestromCaptureForm::UpdateStartControls() {
  if (!StartCaptureButton) return;
  const bool free = !StartsBlocked();
  // "Save Video" keeps its own rule (a clip compressed already); its handler refuses the rest.
  for (QWidget* button : {static_cast<QWidget*>(StartCaptureButton), static_cast<QWidget*>(RelayCaptureButton),
                          static_cast<QWidget*>(AnyClipButton), static_cast<QWidget*>(LastCaptureButton),
                          static_cast<QWidget*>(SpeedButton1), static_cast<QWidget*>(Button13),
                          static_cast<QWidget*>(Button11), static_cast<QWidget*>(SampleSetupButton)})
    if (button) button->setEnabled(free);
}

void TKestromCaptureForm::RestartPreview() {
  TFramecatcher* fc = Framecatcher;
  ClosePlayerOrStopRecording();
  fc->SetDisplay_FullScreen(false);
  LogSettingsNotTaken(EnsureDeviceSettings(*fc));
  PreviewCheckBox->setChecked(true);
  if (State() != engine::cs_Preview) fc->StartPreview();
  PageControl1->setEnabled(true);
  PageControl1->setCurrentIndex(RelayMode ? RelayPage : PreviewPage);
  PreviewBox->setEnabled(true);
  PreviewPanel->setEnabled(true);
  SetPreviewColour(core::clBtnFace);
  LogSettingsNotTaken(EnsureGrabberSettings(*fc));
  ApplyTextOverlay();
  ShowModeCaption();
  fc->setVisible(PreviewCheckBox->isChecked());
}

void TKestromCaptureForm::DVTransportCommand(int code) {
  if (State() != engine::cs_Preview) RestartPreview();
  const bool sent = Framecatcher->SendDVCommand(code);
  const DVCommandOutcome outcome = DVCommandResult(code, sent, State());
  Log(outcome.logLine);
  if (outcome.tapeSettings) {
    Framecatcher->SetFrameGrabber(engine::fg_PreviewStream);
    Framecatcher->SetVideoProcessing_Deinterlacing(engine::di_FullSize);
  }
  mediator_.DVTapeAvailable = outcome.DVTapeAvailable;
}

void TKestromCaptureForm::FullScreenButtonClick() { Framecatcher->SetDisplay_FullScreen(true); }

void TKestromCaptureForm::PreviewCheckBoxClick() { Framecatcher->setVisible(PreviewCheckBox->isChecked()); }

void TKestromCaptureForm::tbrPreviewZoomSizeChange() {
  if (NoCameraMode) return;
  Framecatcher->SetPreviewZoomSize(tbrPreviewZoomSize->value());
  ShowDisplaySize();
}

void TKestromCaptureForm::btnResetDisplaySizeClick() {
  if (NoCameraMode) return;
  // Setting a new position runs the change handler; an unchanged one is applied all the same.
  if (tbrPreviewZoomSize->value() != kPreviewZoom)
    tbrPreviewZoomSize->setValue(kPreviewZoom);
  else
    tbrPreviewZoomSizeChange();
}

void TKestromCaptureForm::SampleSetupButtonClick() {
  if (StartRefused()) return;
  if (!NoCameraMode) Framecatcher->StopPreview();
  emit mediator_.PreallocationCheckRequested();
}

// ---------------------------------------------------------------- timers

void TKestromCaptureForm::StateTimerTimer() {
  Button14->setText(StateCaption(State()));
  UpdateStartControls();
}

void TKestromCaptureForm::PreviewTimerTimer() {
  PreviewTimer->stop();
  SelectCaptureDevice();
}







// ---------------------------------------------------------------- helpers

bool TKestromCaptureForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PageControl1->tabBar() && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    QTabBar* bar = PageControl1->tabBar();
    const int index = bar->tabAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    if (index >= 0 && index != PageControl1->currentIndex()) {
      if (bar->isTabEnabled(index)) {
        userPageClick_ = index;  // the handler runs once the page has changed
      } else {
        // The toolkit lets the user open a disabled page and answers with the page change's
        // handler; here the tab stays closed, and the handler still tells the user why.
        PageControl1Change();
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TKestromCaptureForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  mediator_.SetCaptureFormPos(pos());
}

void TKestromCaptureForm::Log(const QString& line) { mmoLog->appendPlainText(line); }

void TKestromCaptureForm::LogSettingsNotTaken(const QStringList& lines) {
  for (const QString& line : lines) Log(line);
}

void TKestromCaptureForm::ShowFormMessage(const QString& text, int leftOffset) {
  ui::AppDialogs().MessageDlgPos(text, ui::MsgDlgType::mtInformation, ui::mbOK, x() + leftOffset, y() + 180, this);
}

void TKestromCaptureForm::SetPreviewColour(int colour) {
  ui::SetBackgroundColor(PreviewBox, colour);
  ui::SetBackgroundColor(PreviewPanel, colour);
}

void TKestromCaptureForm::ShowDisplaySize() {
  edtDisplaySize->setText(QString::number(Framecatcher->GetPreviewZoomSize()) + QStringLiteral("%"));
}

int TKestromCaptureForm::State() const { return Framecatcher ? static_cast<int>(Framecatcher->GetCurrentState()) : 0; }

void TKestromCaptureForm::ClosePlayerOrStopRecording() {
  const int state = State();
  if (state == engine::cs_Player)
    Framecatcher->ClosePlayer();
  else if (state == engine::cs_Recording)
    Framecatcher->StopRecording();
}

}  // namespace kestrom::capture
