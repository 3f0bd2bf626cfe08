// Opening a video in the analysis window and its playback clock: the play buttons at normal
// speed and in slow motion, pause and continue, rewind, looping, seeking by the scroll bar, the
// media player's own button bar, and the message wrappers that stop the clock while a box is up.
#include "analysis/drawing/DrawingControls.h"
#include "analysis/playback/MediaPlayerPort.h"
#include "analysis/playback/VideoOpening.h"
#include "common/startup/DiagForm806.h"
#include "analysis/sheets/MemoPad.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/sheets/MemoPad.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Clock.h"
#include "platform/core/Format.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaPlayerBar.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QFileInfo>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {

using shell::Globals;

namespace {

void ReadOut(int line, const QString& text) {
  if (Forms().DiagForm806) Forms().DiagForm806->ReadOut(line, text);
}

TKestromForm* OtherWindow(const TKestromForm* w) {
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  return w == main ? best : w == best ? main : nullptr;
}

// The program's clock as it is at each reading, so that a test can put its own in place.
class ProgramClockRef final : public core::Clock {
 public:
  int64_t NowMs() const override { return core::SystemClock().NowMs(); }
};

const core::Clock& ProgramClock() {
  static const ProgramClockRef clock;
  return clock;
}

// Moves a scroll bar the way the clock does: no seek follows.
void MoveScrollBarQuietly(TKestromForm* w, int64_t position) {
  const int tag = w->Playback->ScrollTag;
  w->Playback->ScrollTag = playback::kClockMovesScrollBar;
  w->ScrollBar1->setValue(static_cast<int>(std::clamp<int64_t>(position, 0, w->ScrollBar1->maximum())));
  w->Playback->ScrollTag = tag;
}

}  // namespace

/** The window as its playback clock sees it. */
class TKestromForm::ClockHost final : public playback::PlaybackHost {
 public:
  explicit ClockHost(TKestromForm& form) : f_(form) {}
  void StartTimer(int intervalMs) override {
    f_.Timer1->setInterval(intervalMs);
    f_.Timer1->start();
  }
  void StopTimer() override { f_.Timer1->stop(); }
  bool TimerRunning() const override { return f_.Timer1->isActive(); }
  void SetScrollPosition(int64_t positionMs) override {
    f_.ScrollBar1->setValue(static_cast<int>(std::clamp<int64_t>(positionMs, 0, f_.ScrollBar1->maximum())));
  }
  void ShowFrameNumber(int64_t frame) override { f_.Test->setText(QString::number(frame)); }
  void RedrawOverlays() override { f_.RedrawOverlays(); }
  void PaintMargins() override { f_.PaintMargins(); }
  void SnapshotFrame() override { f_.SnapshotFrame(); }
  void ShowScrollPosition() override { f_.ShowScrollPosition(); }
  void BringToTop() override { f_.raise(); }
  bool PartlyOffScreen() const override {
    return playback::IsPartlyOffScreen(f_.Bounds(), QGuiApplication::primaryScreen()->geometry().size());
  }
  bool Looping() const override { return f_.LoopSpeedButton->isChecked() || f_.LoopButton2->isChecked(); }
  void StopMediaPlayerPlay() override { f_.StopMediaPlayerPlay(); }
  void ShowDiagnostic(const QString& text) override { ReadOut(6, text); }

 private:
  TKestromForm& f_;
};

// ---- controls -----------------------------------------------------------------------------------

void TKestromForm::CreatePlaybackControls() {
  playerPort_ = std::make_unique<playback::MediaPlayerPort>(*MediaPlayer1);
  clockHost_ = std::make_unique<ClockHost>(*this);
  Playback = std::make_unique<playback::PlaybackClock>(*clockHost_, *playerPort_, ProgramClock());
  connect(MediaPlayer1, &media::MediaPlayer::FrameShown, this, [this] { update(); });
  connect(MediaPlayer1, &media::MediaPlayer::Notify, this, [this] { MediaPlayer1Notify(); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(100);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  ScrollBarTimer = new QTimer(this);
  ScrollBarTimer->setObjectName("ScrollBarTimer");
  ScrollBarTimer->setInterval(1);
  connect(ScrollBarTimer, &QTimer::timeout, this, [this] { ScrollBarTimerTimer(); });
  SizeMoveTimer = new QTimer(this);
  SizeMoveTimer->setObjectName("SizeMoveTimer");
  SizeMoveTimer->setSingleShot(true);
  SizeMoveTimer->setInterval(300);
  connect(SizeMoveTimer, &QTimer::timeout, this, [this] {
    sizing_ = false;
    WMExitSizeMove();
  });

  // The speed bar of the main tab: open, play at each speed, pause, rewind, loop, zoom.
  auto* bar = new QFrame(MainSheet);
  bar->setObjectName("SpeedBarPanel");
  bar->setGeometry(370, 0, 700, 30);
  SpeedBarPanel = bar;
  int left = 0;
  auto add = [&](const QString& name, const QString& caption, const QString& hint, int width, bool checkable = false) {
    QToolButton* b = AddSpeedButton(bar, name, caption, hint, left, 2, checkable, width);
    left += width + 2;
    return b;
  };
  SpeedButton1 = add("SpeedButton1", "Open", "Open Video File", 44);
  PlayBitBtn = add("PlayBitBtn", "Play", "Play", 40);
  Slow2BitBtn = add("Slow2BitBtn", "Slow*2", "Slow*2", 50);
  Slow4BitBtn = add("Slow4BitBtn", "Slow*4", "Slow*4", 50);
  Slow8BitBtn = add("Slow8BitBtn", "Slow*8", "Slow*8", 50);
  Slow16BitBtn = add("Slow16BitBtn", "Slow*16", "Slow*16", 56);
  PauseSpeedButton2 = add("PauseSpeedButton2", "||", "Pause or Continue Video", 28);
  ResetSpeedButton = add("ResetSpeedButton", "|<", "Reset Video to Frame 0", 28);
  ZoomInButton = add("ZoomInButton", "+", "Zoom In", 28);
  ZoomOutButton = add("ZoomOutButton", "-", "Zoom Out", 28);
  SingleFrameButton = add("SingleFrameButton", "SF", "Single Frames", 28, true);
  ZoomButton = add("ZoomButton", "Z", "Zoom", 28, true);

  // The System tab's two loop buttons mirror each other.
  LoopSpeedButton = LoopButton;
  LoopSpeedButton->setObjectName("LoopSpeedButton");
  LoopSpeedButton->setText("Loop");
  LoopButton2->setText("L");
  for (QToolButton* loop : {LoopSpeedButton, LoopButton2}) loop->setToolTip("Continuous play of current video");

  // The playback panel's own short buttons.
  ZoomInButton2 = AddSpeedButton(Panel4, "ZoomInButton2", "+", "Zoom In", 836, 6, false, 26);
  ZoomOutButton2 = AddSpeedButton(Panel4, "ZoomOutButton2", "-", "Zoom Out", 864, 6, false, 26);
  MediaPlayerBar1 = new media::MediaPlayerBar(MediaPlayer1, Panel4);
  MediaPlayerBar1->setObjectName("MediaPlayerBar1");
  MediaPlayerBar1->move(900, 6);
  connect(MediaPlayerBar1, &media::MediaPlayerBar::Click, this,
          [this](media::MPButton, bool* doDefault) { MediaPlayer1Click(doDefault); });
  connect(MediaPlayerBar1, &media::MediaPlayerBar::PostClick, this, [this](media::MPButton) { MediaPlayer1PostClick(); });

  ZoomPopupMenu = new QMenu(this);
  ZoomPopupMenu->setObjectName("ZoomPopupMenu");
  auto zoomItem = [this](QAction*& item, const QString& name, const QString& caption, int step) {
    item = ZoomPopupMenu->addAction(caption);
    item->setObjectName(name);
    item->setCheckable(step != 5);  // 0.5 never carries the mark
    connect(item, &QAction::triggered, this, [this, step] {
      SetZoom(step);
      CheckZoomMenuItem();  // undoes the menu's own toggling when nothing zoomed
    });
  };
  zoomItem(Z30, "Z30", "3.0", 30);
  zoomItem(Z25, "Z25", "2.5", 25);
  zoomItem(Z20, "Z20", "2.0", 20);
  zoomItem(Z15, "Z15", "1.5", 15);
  zoomItem(N12NTSC1, "N12NTSC1", "1.2 NTSC", 12);
  zoomItem(Z10, "Z10", "1.0", 10);
  zoomItem(Z05, "Z05", "0.5", 5);

  HorzScrollBar = new QScrollBar(Qt::Horizontal, this);
  HorzScrollBar->setObjectName("HorzScrollBar");
  VertScrollBar = new QScrollBar(Qt::Vertical, this);
  VertScrollBar->setObjectName("VertScrollBar");
  for (QScrollBar* bar : {HorzScrollBar, VertScrollBar}) {
    bar->setRange(0, playback::kPictureScrollUnits);
    bar->setPageStep(1);
    bar->setEnabled(false);
  }

  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(PlayBitBtn, &QToolButton::clicked, this, [this] { PlayBitBtnClick(); });
  connect(Slow2BitBtn, &QToolButton::clicked, this, [this] { Slow2BitBtnClick(); });
  connect(PlayBitBtn2, &QToolButton::clicked, this, [this] { Slow2BitBtnClick(); });
  connect(Slow4BitBtn, &QToolButton::clicked, this, [this] { Slow4BitBtnClick(); });
  connect(Slow8BitBtn, &QToolButton::clicked, this, [this] { Slow8BitBtnClick(); });
  connect(Slow16BitBtn, &QToolButton::clicked, this, [this] { Slow16BitBtnClick(); });
  connect(PauseSpeedButton2, &QToolButton::clicked, this, [this] { PauseSpeedButton2Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { PauseSpeedButton2Click(); });
  connect(ResetSpeedButton, &QToolButton::clicked, this, [this] { ResetSpeedButtonClick(); });
  connect(ResetSpeedButton3, &QToolButton::clicked, this, [this] { ResetSpeedButtonClick(); });
  connect(LoopSpeedButton, &QToolButton::clicked, this, [this] { LoopSpeedButtonClick(); });
  connect(LoopButton2, &QToolButton::clicked, this, [this] { LoopButton2Click(); });
  connect(ZoomInButton, &QToolButton::clicked, this, [this] { ZoomInButtonClick(); });
  connect(ZoomInButton2, &QToolButton::clicked, this, [this] { ZoomInButtonClick(); });
  connect(ZoomOutButton, &QToolButton::clicked, this, [this] { ZoomOutButtonClick(); });
  connect(ZoomOutButton2, &QToolButton::clicked, this, [this] { ZoomOutButtonClick(); });
  // A right click or Ctrl + left click on the panel's zoom buttons offers the zoom menu.
  ZoomInButton2->installEventFilter(this);
  ZoomOutButton2->installEventFilter(this);

  ScrollBar1->setRange(0, 0);
  connect(ScrollBar1, &QScrollBar::valueChanged, this, [this] { ScrollBar1Change(); });
  connect(ScrollBar1, &QScrollBar::actionTriggered, this, [this](int action) {
    // Steps and jumps go from the frame shown to the frame one or ten on, not by a rounded
    // number of milliseconds.
    const int frames = action == QAbstractSlider::SliderSingleStepAdd   ? 1
                       : action == QAbstractSlider::SliderSingleStepSub ? -1
                       : action == QAbstractSlider::SliderPageStepAdd   ? 10
                       : action == QAbstractSlider::SliderPageStepSub   ? -10
                                                                        : 0;
    if (frames != 0)
      ScrollBar1->setSliderPosition(static_cast<int>(
          playback::StepPosition(ScrollBar1->value(), frames, FrameDuration, ScrollBar1->maximum())));
    ScrollBar1Scroll(ScrollBar1->sliderPosition());
  });
  connect(HorzScrollBar, &QScrollBar::valueChanged, this, [this] { HorzScrollBarChange(); });
  connect(VertScrollBar, &QScrollBar::valueChanged, this, [this] { VertScrollBarChange(); });
  connect(HorzScrollBar, &QScrollBar::actionTriggered, this,
          [this](int action) { HorzScrollBarScroll(ScrollCodeOf(action), HorzScrollBar->sliderPosition()); });
  connect(VertScrollBar, &QScrollBar::actionTriggered, this,
          [this](int action) { VertScrollBarScroll(ScrollCodeOf(action), VertScrollBar->sliderPosition()); });
  connect(HorzScrollBar, &QScrollBar::sliderReleased, this,
          [this] { HorzScrollBarScroll(4, HorzScrollBar->sliderPosition()); });
  connect(VertScrollBar, &QScrollBar::sliderReleased, this,
          [this] { VertScrollBarScroll(4, VertScrollBar->sliderPosition()); });
}

bool TKestromForm::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == ZoomInButton2 || watched == ZoomOutButton2) && event->type() == QEvent::MouseButtonPress) {
    auto* press = static_cast<QMouseEvent*>(event);
    const bool menu = VideoOpen && ((press->buttons() == Qt::LeftButton && press->modifiers() == Qt::ControlModifier) ||
                                    (press->buttons() == Qt::RightButton && press->modifiers() == Qt::NoModifier));
    ZoomInButton2MouseDown(press->buttons(), press->modifiers());
    if (menu) return true;  // the menu replaces the click
  }
  return QWidget::eventFilter(watched, event);
}

int TKestromForm::ScrollCodeOf(int sliderAction) {
  // Line up, line down, page up, page down, position, track, top, bottom, end.
  switch (sliderAction) {
    case QAbstractSlider::SliderSingleStepSub: return 0;
    case QAbstractSlider::SliderSingleStepAdd: return 1;
    case QAbstractSlider::SliderPageStepSub: return 2;
    case QAbstractSlider::SliderPageStepAdd: return 3;
    case QAbstractSlider::SliderMove: return 5;
    case QAbstractSlider::SliderToMinimum: return 6;
    case QAbstractSlider::SliderToMaximum: return 7;
    default: return 8;
  }
}

// ---- opening ------------------------------------------------------------------------------------

void TKestromForm::SpeedButton1Click() {
  // A new video during an export would mix two videos' frames in Temp.
  if (WarnExportRunning()) return;
  if (MediaPlayer1->Mode() == media::MPMode::Playing) MediaPlayer1->Stop();
  StopPlayback();
  CheckOnScreen();
  Button4Click();  // a new video ends the blending
  if (TKestromForm* other = OtherWindow(this); other && other->CutForm())
    other->CutForm()->hide();  // a cut carried over this window
  StatusBar1->SetPanelText(0, " ");
  StatusBar1->SetPanelText(2, " ");
  StatusBar1->SetPanelText(4, " ");
  // Unsaved work is asked about before a new video can replace it; closing the question's
  // window keeps the video and its work.
  if (!AskToSaveWork()) {
    ResumePlayback();
    return;
  }

  OpenDialog1.filter = playback::VideoOpenFilter();
  const std::optional<QString> chosen = ui::AppDialogs().OpenFile(OpenDialog1, this);
  if (!chosen) {
    ResumePlayback();
    return;
  }
  OpenVideoFile(*chosen);
}

bool TKestromForm::OpenVideoFile(const QString& path) {
  if (!AskToSaveWork()) return false;
  const QRect bounds = Bounds();
  TKestromForm* other = OtherWindow(this);
  const QString otherFile = other ? other->MediaPlayer1->FileName() : QString();
  // Opening a large clip takes seconds: the busy cursor says so, and no frame number stands in
  // the readout meanwhile, where it would be read as the new clip's.
  const QString shownFrame = Test->text();
  Test->clear();
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const playback::OpenOutcome outcome = playback::OpenVideoFile(*playerPort_, path, otherFile);
  QGuiApplication::restoreOverrideCursor();
  if (outcome.status != playback::OpenStatus::Opened) {
    Test->setText(shownFrame);  // the previous video stays
    for (const QString& text : outcome.messages)
      MessageDlgPosPaused(text, ui::MsgDlgType::mtInformation, ui::mbOK, bounds.left() + 64, bounds.top() + 86);
    if (outcome.status == playback::OpenStatus::SameFile) {
      MailVideoFile = MediaPlayer1->FileName();
      MailMemoFile = VideoName + ".txt";
    }
    return false;
  }

  const playback::VideoFacts& v = outcome.video;
  ZoomStep = playback::kNormalZoomStep;
  Image2->hide();
  VideoFileName = v.VideoFileName;
  FrameWidth = v.FrameWidth;
  FrameHeight = v.FrameHeight;
  View.SetFrameSize(FrameWidth, FrameHeight);
  LengthFrames = v.LengthFrames;
  LengthMs = v.LengthMs;
  FrameDuration = v.FrameDuration;
  FramesPerSecond = v.FramesPerSecond;
  StatusBar1->SetPanelText(4, playback::FpsStatusText(FramesPerSecond));
  CheckZoomMenuItem();
  Playback->SetVideo(v);

  // Opening switches the pair's synchronisation off.
  if (TKestromForm* main = Forms().MainWindow) main->DrivesPair = false;
  for (TKestromForm* w : {Forms().MainWindow, Forms().BestWindow})
    if (w) w->Follower = false;
  if (TKestromForm* best = Forms().BestWindow) {
    best->ScrollBar1->show();
    best->ResetSpeedButton3->show();
    best->PlayBitBtn2->show();
    best->SpeedButton2->show();
    best->StatusBar1->SetPanelText(6, "Sync Off");
    best->SyncSpeedButton->setChecked(false);
    if (best != this) MoveScrollBarQuietly(best, best->VideoOpen ? best->MediaPlayer1->Position() : 0);
  }

  VideoOpen = true;
  StatusBar1->SetPanelText(1, QString());
  StatusBar1->SetPanelText(5, QString());
  SingleFrameButton->setChecked(false);
  ZoomButton->setChecked(false);

  VideoName = v.VideoName;
  setWindowTitle(VideoName);
  MailBaseName = VideoName;
  CompanionFiles = playback::VideoCompanionNames::ForVideoName(VideoName);
  // The pad belongs to the new video now: its text and font files lie beside it, and it shows
  // them the next time the coach opens it.
  MemoPad->hide();
  MemoPad->SetVideo(VideoName);
  // A new video starts with no drawings; its markers come back at once, the rest on request.
  Drawings.ResetForNewVideo();
  ResetCalibrationForVideo();
  if (QFileInfo::exists(CompanionFiles.MarkersFile))
    Drawings.LoadMarkers(CompanionFiles.MarkersFile, FrameDuration, MediaPlayer1->LengthMs());
  if (Drawing) Drawing->ShowMarkerCaptions();

  HorzScrollBar->setValue(0);
  VertScrollBar->setValue(0);
  BuildZoomTable(Layout);
  if (!WindowCanvas.Image().isNull()) {
    QPainter painter(&WindowCanvas.Image());
    painter.fillRect(QRect(0, MenuPanelHeight, AreaWidth, AreaHeight), core::ToQColor(Globals().BackgroundColour));
  }
  SnapshotPicture.fill(core::ToQColor(Globals().BackgroundColour));
  ApplyZoomDisplayRect(ZoomStep);
  MediaPlayer1->Refresh();  // the first frame stands there until the clock's first tick
  Test->setText(QStringLiteral("0"));

  const playback::ScrollRange range = playback::ScrollRangeFor(LengthMs, FrameDuration);
  Playback->ScrollTag = playback::kClockMovesScrollBar;
  ScrollBar1->setRange(range.minimum, range.maximum);
  ScrollBar1->setSingleStep(range.smallChange);
  ScrollBar1->setPageStep(range.largeChange);
  ScrollBar1->setValue(0);
  Playback->ScrollTag = 0;

  ClearModifiedFlags();
  StatusBar1->SetPanelText(2, playback::ZoomStatusText(View.ZoomFactor[ZoomStep]));
  Slow2BitBtnClick();
  MailVideoFile = MediaPlayer1->FileName();
  MailMemoFile = VideoName + ".txt";
  update();
  return true;
}

// ---- the clock ----------------------------------------------------------------------------------

void TKestromForm::PlayAtSpeed(double speed) {
  if (WarnExportRunning()) return;
  if (IsBest && SyncSpeedButton->isChecked()) return;
  Playback->Play(speed);
}

void TKestromForm::PlayBitBtnClick() { PlayAtSpeed(playback::kNormalSpeed); }
void TKestromForm::Slow2BitBtnClick() {
  ExportAVITimerTag = 0;
  PlayAtSpeed(playback::kSlow2Speed);
}
void TKestromForm::Slow4BitBtnClick() { PlayAtSpeed(playback::kSlow4Speed); }
void TKestromForm::Slow8BitBtnClick() { PlayAtSpeed(playback::kSlow8Speed); }
void TKestromForm::Slow16BitBtnClick() { PlayAtSpeed(playback::kSlow16Speed); }

void TKestromForm::Timer1Timer() {
  const playback::TickOutcome outcome = Playback->Timer1Timer();
  if (outcome == playback::TickOutcome::NoVideo || outcome == playback::TickOutcome::Looped) {
    update();
    return;
  }
  if (this == Forms().MainWindow && DrivesPair) FollowInBest();
  const int64_t frame = playback::FrameNumberAt(ScrollBar1->value(), FrameDuration);
  ShowOnBackgroundForm(frame, ScrollBar1->value());
  TKestromForm* best = Forms().BestWindow;
  if (OverlayOn && best && best != this) {
    // BestWindow lies under this window: its label and bars show this window's place.
    best->Test->setText(QString::number(frame));
    MoveScrollBarQuietly(best, ScrollBar1->value());
    best->DummyScrollBar->setValue(ScrollBar1->value());
    CopyMarkerCaptions();
  }
  update();
}

void TKestromForm::StopPlayback() {
  Playback->StopPlayback();
}

void TKestromForm::PausePlayback() { Playback->PausePlayback(); }
void TKestromForm::ResumePlayback() { Playback->ResumePlayback(); }

void TKestromForm::ScrollBar1Change() {
  if (Playback->ScrollChangeSeeks()) ScrollBarTimer->start();
}

void TKestromForm::ScrollBar1Scroll(int /*scrollPos*/) {
  StopMediaPlayerPlay();
  if (Exporting) {
    // The coach's drag holds the export; Pause/Continue goes on from the frame shown.
    ExportAVITimer->stop();
    ExportAVITimerTag = 1;
  }
  // The scroll bar takes the dragged position itself.
}

void TKestromForm::ScrollBarTimerTimer() {
  ScrollBarTimer->stop();
  if (!VideoOpen) return;
  TKestromForm* main = Forms().MainWindow;
  TKestromForm* best = Forms().BestWindow;
  const bool overlay = main && main->OverlayOn;
  if (overlay) main->raise();
  const int64_t frame = Playback->SeekFromScrollBar(ScrollBar1->value());
  if (this == main && overlay && best) {
    best->Test->setText(QString::number(frame));
    best->DummyScrollBar->setValue(ScrollBar1->value());
  }
  RedrawOverlays();
  if (!Timer1->isActive()) SnapshotFrame();
  if (this == main && DrivesPair) FollowInBest();
  ShowOnBackgroundForm(frame, ScrollBar1->value());
  if (this == main && overlay) CopyMarkerCaptions();
  if (Exporting) ExportFrameStep(playback::FrameNumberAt(ScrollBar1->value(), FrameDuration));
  PaintMargins();
  SnapshotFrame();
  ScrollBar1->setEnabled(true);
  update();
}

void TKestromForm::ResetSpeedButtonClick() {
  if (WarnExportRunning()) return;
  if (IsBest && SyncSpeedButton->isChecked()) return;
  if (!VideoOpen) return;
  Playback->Rewind();
}

void TKestromForm::PauseSpeedButton2Click() {
  if (IsBest && SyncSpeedButton->isChecked()) return;
  StopMediaPlayerPlay();
  if (Exporting) {
    ExportAVITimerTag = 0;
    if (ExportAVITimer->isActive()) {
      ExportAVITimer->stop();  // the export pauses
    } else {
      // The export goes on from the frame shown, which may have been dragged to.
      ExportFrameIndex = static_cast<int>(playback::FrameNumberAt(MediaPlayer1->Position(), FrameDuration));
      ShowTab(FileControls, CaptureStyleSheet);
      ExportAVITimer->start();
    }
    return;
  }
  Playback->PauseOrContinue();
}

void TKestromForm::LoopSpeedButtonClick() {
  LoopButton2->setChecked(LoopSpeedButton->isChecked());
  if (!LoopSpeedButton->isChecked()) MediaPlayerBar1->setEnabled(true);
}

void TKestromForm::LoopButton2Click() {
  if (WarnExportRunning() || (IsBest && SyncSpeedButton->isChecked())) {
    LoopButton2->setChecked(LoopSpeedButton->isChecked());  // refused: nothing changes
    return;
  }
  LoopSpeedButton->setChecked(LoopButton2->isChecked());
  if (!LoopButton2->isChecked()) MediaPlayerBar1->setEnabled(true);
}

void TKestromForm::StopMediaPlayerPlay() {
  if (MediaPlayer1->Mode() != media::MPMode::Playing) return;
  LoopSpeedButton->setChecked(false);
  LoopButton2->setChecked(false);
  MediaPlayer1->Stop();
  MediaPlayerBar1->setEnabled(true);
  SpeedButton1->setEnabled(true);
}

void TKestromForm::StopClockForOwnPlay() {
  if (!Timer1->isActive()) return;
  MediaPlayer1->SetPosition(0);
  MoveScrollBarQuietly(this, 0);
  Test->setText("0");
  Timer1->stop();
  // The clock no longer moves the scroll bar: the coach's moves seek again.
  Playback->ScrollTag = 0;
}

void TKestromForm::MediaPlayer1Click(bool* /*doDefault*/) {
  if (!Exporting) StopClockForOwnPlay();
}

void TKestromForm::MediaPlayer1PostClick() {
  const media::MPMode mode = MediaPlayer1->Mode();
  ReadOut(7, QString("Mode %1").arg(static_cast<int>(mode)));
  StopClockForOwnPlay();
  if (mode == media::MPMode::Stopped) {
    LoopSpeedButton->setChecked(false);
    LoopButton2->setChecked(false);
    MediaPlayer1Notify();
    SpeedButton1->setEnabled(true);
  } else if (mode == media::MPMode::Playing) {
    MciPlaying = true;
    SpeedButton1->setEnabled(false);
    WMGetMinMaxInfo();
  }
}

void TKestromForm::MediaPlayer1Notify() {
  if (LoopSpeedButton->isChecked() || LoopButton2->isChecked()) {
    MediaPlayer1->Play();
    MediaPlayerBar1->setEnabled(false);
    return;
  }
  ReadOut(7, "Finished");
  for (QWidget* control : std::initializer_list<QWidget*>{SpeedButton1, PlayBitBtn, Slow2BitBtn, Slow4BitBtn,
                                                          Slow8BitBtn, Slow16BitBtn, PauseSpeedButton2,
                                                          ResetSpeedButton, SpeedBarPanel})
    control->setEnabled(true);
  PlayListSpeedButton->setEnabled(true);
  MciPlaying = false;
  WMGetMinMaxInfo();
  raise();
  ResetSpeedButtonClick();
}

}  // namespace kestrom::window
