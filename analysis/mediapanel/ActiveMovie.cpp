#include "analysis/mediapanel/ActiveMovie.h"

#include "platform/ui/Dialogs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>
#include <cmath>

namespace kestrom::mediapanel {

namespace {

// Names of the panels' timers and player controls: "AMComponent" and a number counted over all.
int componentCounter = 0;
QString NextComponentName() { return QStringLiteral("AMComponent%1").arg(++componentCounter); }

constexpr int kDestroyWaitMs = 2000;  // longest wait for a loading player at destruction

}  // namespace

TActiveMovie::TActiveMovie(QWidget* parent) : QWidget(parent) {
  resize(240, 200);
  setAutoFillBackground(true);
  horz_ = new QScrollBar(Qt::Horizontal, this);
  vert_ = new QScrollBar(Qt::Vertical, this);
  for (QScrollBar* bar : {horz_, vert_}) {
    bar->hide();
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setMinimum(0);
    connect(bar, &QScrollBar::valueChanged, this, [this] { ScrollBarChange(); });
  }
  corner_ = new QWidget(this);
  corner_->setObjectName(QStringLiteral("Corner"));
  corner_->hide();
  timer_ = new QTimer(this);
  timer_->setObjectName(NextComponentName());
  timer_->setInterval(50);
  connect(timer_, &QTimer::timeout, this, [this] { StateTimerTimer(); });

  videoPanel_ = new QWidget(this);
  videoPanel_->setObjectName(QStringLiteral("VideoPanel"));
  player_ = new TDerivedMovie_(videoPanel_);
  player_->setObjectName(NextComponentName());
  player_->OnOpenStateChange = [this](int o, int n) { PlayerOpenStateChange(o, n); };
  player_->OnPlayStateChange = [this](int o, int n) { PlayerPlayStateChange(o, n); };
  player_->OnReadyStateChange = [this](int r) { PlayerReadyStateChange(r); };
  player_->OnEndOfStream = [this](int r) { PlayerEndOfStream(r); };
  player_->OnError = [this](int code, const QString& m) { if (OnError) OnError(code, m); };
  player_->OnWarning = [this](int t, int p, const QString& d) { if (OnWarning) OnWarning(t, p, d); };
  player_->OnNewStream = [this] { if (OnNewStream) OnNewStream(); };
  player_->OnDisplayModeChange = [this] { if (OnDisplayModeChange) OnDisplayModeChange(); };
  player_->OnHelp = [this](bool& canShow) { if (OnF1HelpInvoked) OnF1HelpInvoked(canShow); };
  player_->SetProperty(dispid::AutoSize, false);
  player_->SetProperty(dispid::VideoBorder3D, false);
  showControlsCache_ = player_->GetProperty(dispid::ShowControls).toInt() != 0;
  videoPanel_->setGeometry(rect());
  player_->setGeometry(videoPanel_->rect());
  timer_->start();
  LayoutVideo();
}

TActiveMovie::~TActiveMovie() {
  timer_->stop();
  if (hookedRenderer_) hookedRenderer_->removeEventFilter(this);
  if (window()) window()->removeEventFilter(this);
  // A player still loading is given a bounded time to finish.
  QElapsedTimer waited;
  waited.start();
  while (player_->ReadyState() == mpReadyStateLoading && waited.elapsed() < kDestroyWaitMs)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  player_->OnOpenStateChange = nullptr;
  player_->OnPlayStateChange = nullptr;
  player_->OnReadyStateChange = nullptr;
  player_->OnEndOfStream = nullptr;
  player_->OnError = nullptr;
  player_->OnWarning = nullptr;
  player_->OnNewStream = nullptr;
  player_->OnDisplayModeChange = nullptr;
  player_->OnHelp = nullptr;
}

bool TActiveMovie::Open(const QString& fileName) {
  fileName_ = fileName;
  return player_->Open(fileName);
}

// ---- player notifications ----

void TActiveMovie::PlayerOpenStateChange(int oldState, int newState) {
  if (newState == mpClosed) {
    if (hookedRenderer_) hookedRenderer_->removeEventFilter(this);
    hookedRenderer_ = nullptr;
  } else if (newState == mpOpen) {
    if (player_->GetProperty(dispid::ImageSourceWidth).toInt() == 0 && !displayLogo_) hideVideo_ = true;
    lastPosition_ = -1.0;
    const QVariant mode = player_->GetProperty(dispid::DisplayMode);
    player_->SetProperty(dispid::DisplayMode, 0);
    durationSeconds_ = player_->GetProperty(dispid::Duration).toDouble();
    player_->SetProperty(dispid::DisplayMode, 1);
    const double frames = player_->GetProperty(dispid::Duration).toDouble();
    player_->SetProperty(dispid::DisplayMode, mode);
    // A player that gives one number in both modes has no frame count.
    durationFrames_ = frames != durationSeconds_ ? frames : 0;
    if (!autoStart_) player_->SetProperty(dispid::CurrentPosition, 0.0);
    justOpened_ = true;
    if (!hookedRenderer_ && player_->RendererWindow()) {
      hookedRenderer_ = player_->RendererWindow();
      hookedRenderer_->installEventFilter(this);
    }
    if (window() && window() != this) window()->installEventFilter(this);
    if (OnOpenComplete) OnOpenComplete();
  }
  LayoutVideo();
  openOld_ = oldState;
  openNew_ = newState;
  openPending_ = true;
}

void TActiveMovie::PlayerPlayStateChange(int oldState, int newState) {
  if (player_->GetProperty(dispid::Rate).toDouble() != rate_) player_->SetProperty(dispid::Rate, rate_);
  if (newState == mpPlaying) {
    if (selectionStart_ >= 0 && oldState != mpPaused) player_->SetProperty(dispid::CurrentPosition, selectionStart_);
    if (justOpened_ && !autoStart_) pausePending_ = true;
    if (displaySizePending_) {
      displaySizePending_ = false;
      ApplyDisplaySize();
    }
    if (fullScreenMode_) fullScreenPending_ = true;
    LayoutVideo();
  }
  justOpened_ = false;
  playOld_ = oldState;
  playNew_ = newState;
  playPending_ = true;
}

void TActiveMovie::PlayerReadyStateChange(int state) {
  if (!displayLogo_) hideVideo_ = !(ClipOpen() && state == mpReadyStateComplete);
  LayoutVideo();
  if (OnReadyStateChange) OnReadyStateChange(state);
}

void TActiveMovie::PlayerEndOfStream(int result) {
  if (fullScreenMode_) PausePlayback();
  endResult_ = result;
  endPending_ = true;
}

// ---- the state timer ----

void TActiveMovie::StateTimerTimer() {
  if (inTimer_) return;
  inTimer_ = true;
  if (fullScreenPending_) {
    fullScreenPending_ = false;
    player_->SetProperty(dispid::DisplaySize, mpFullScreen);
  }
  if (pausePending_) {
    pausePending_ = false;
    player_->Pause();
  }
  if (ClipOpen() && (OnPositionChange || selectionEnd_ >= 0)) {
    const double position = player_->GetProperty(dispid::CurrentPosition).toDouble();
    if (position != lastPosition_) {
      const double last = lastPosition_ < 0 ? 0 : lastPosition_;
      double oldTime, newTime, oldFrame, newFrame;
      const bool frameMode = player_->GetProperty(dispid::DisplayMode).toInt() == 1;
      if (frameMode) {
        oldFrame = last;
        newFrame = position;
        // Without a frame count no time can be derived.
        oldTime = durationFrames_ > 0 ? last * durationSeconds_ / durationFrames_ : 0;
        newTime = durationFrames_ > 0 ? position * durationSeconds_ / durationFrames_ : 0;
      } else {
        oldTime = last;
        newTime = position;
        oldFrame = durationSeconds_ > 0 ? last * durationFrames_ / durationSeconds_ : 0;
        newFrame = durationSeconds_ > 0 ? position * durationFrames_ / durationSeconds_ : 0;
      }
      if (OnPositionChange)
        OnPositionChange(oldTime, newTime, unsigned(std::llround(oldFrame)), unsigned(std::llround(newFrame)));
      lastPosition_ = position;
      if (selectionEnd_ >= 0 && selectionEnd_ <= newTime) StopPlayback();
    }
  }
  if (keyPending_) {
    keyPending_ = false;
    if (pendingKey_ == Qt::Key_Escape) ApplyDisplaySize();
    else if (OnFullScreenKeyPress) OnFullScreenKeyPress(pendingKey_, pendingShift_);
  }
  if (endPending_) {
    endPending_ = false;
    if (OnEndOfStream) OnEndOfStream(endResult_);
    if (loop_) player_->Play();
  }
  if (openPending_) {
    openPending_ = false;
    if (OnOpenStateChange) OnOpenStateChange(openOld_, openNew_);
  }
  if (playPending_) {
    playPending_ = false;
    if (OnPlayStateChange) OnPlayStateChange(playOld_, playNew_);
  }
  if (disconnectPending_) {
    disconnectPending_ = false;
    if (OnDisconnect) OnDisconnect(0);
  }
  inTimer_ = false;
}

// ---- playback ----

void TActiveMovie::StopPlayback() {
  if (!ClipOpen()) return;
  player_->Stop();
  player_->SetProperty(dispid::CurrentPosition, 0.0);
}

bool TActiveMovie::PausePlayback() {
  if (!ClipOpen() || player_->PlayState() != mpPlaying) return false;
  player_->Pause();
  return true;
}

void TActiveMovie::SeekSeconds(double seconds) {
  if (seconds > durationSeconds_) return;
  const QVariant mode = player_->GetProperty(dispid::DisplayMode);
  if (mode.toInt() == 1) player_->SetProperty(dispid::DisplayMode, 0);
  player_->SetProperty(dispid::CurrentPosition, seconds);
  if (mode.toInt() == 1) player_->SetProperty(dispid::DisplayMode, mode);
}

// ---- properties ----

void TActiveMovie::SetRate(double rate) {
  rate_ = rate;
  player_->SetProperty(dispid::Rate, rate);
}

TDisplayMode TActiveMovie::DisplayMode() {
  return player_->GetProperty(dispid::DisplayMode).toInt() == 1 ? TDisplayMode::mpFrames : TDisplayMode::mpTime;
}

void TActiveMovie::SetDisplayMode(TDisplayMode mode) {
  player_->SetProperty(dispid::DisplayMode, mode == TDisplayMode::mpFrames ? 1 : 0);
}

void TActiveMovie::ApplyDisplaySize() {
  static constexpr int kPlayerSize[] = {mpDefault, mpHalf, mpDouble, mpFit, mpFit};
  player_->SetProperty(dispid::DisplaySize, ShowControls() ? kPlayerSize[int(displaySize_)] : int(mpFit));
  LayoutVideo();
}

void TActiveMovie::SetDisplaySize(TDisplaySize size) {
  if (size == TDisplaySize::mpCustomSize && ShowControls()) {
    ui::AppDialogs().ShowMessage(
        QStringLiteral("this setting is not allowed when ShowControls is enabled. Disable ShowControls first."), this);
    return;
  }
  displaySize_ = size;
  ApplyDisplaySize();
}

void TActiveMovie::SetZoomSize(int percent) {
  if (percent <= 0 || percent == zoomSize_) return;
  zoomSize_ = percent;
  if (displaySize_ == TDisplaySize::mpCustomSize) LayoutVideo();
}

bool TActiveMovie::ShowControls() {
  showControlsCache_ = player_->GetProperty(dispid::ShowControls).toInt() != 0;
  return showControlsCache_;
}

void TActiveMovie::SetShowControls(bool show) {
  if (show && displaySize_ == TDisplaySize::mpCustomSize) {
    ui::AppDialogs().ShowMessage(
        QStringLiteral("this setting is not allowed when DisplaySize = mpCustomSize. Set DisplaySize to another value first."),
        this);
    return;
  }
  const bool was = showControlsCache_;
  player_->SetProperty(dispid::ShowControls, show);
  showControlsCache_ = show;
  if (!show) {
    player_->SetProperty(dispid::DisplaySize, mpFit);
    ApplyDisplaySize();
  } else if (!was) {
    ApplyDisplaySize();
  }
  LayoutVideo();
}

void TActiveMovie::SetShowScrollBars(bool show) {
  showScrollBars_ = show;
  repaint_ = true;
  LayoutVideo();
}

void TActiveMovie::SetFullScreenMode(bool on) {
  fullScreenMode_ = on;
  if (on) player_->SetProperty(dispid::DisplaySize, mpFullScreen);
  else ApplyDisplaySize();
}

void TActiveMovie::SetDisplayLogo(bool on) {
  displayLogo_ = on;
  if (on) hideVideo_ = false;
  else if (!(ClipOpen() && player_->ReadyState() == mpReadyStateComplete &&
             player_->GetProperty(dispid::ImageSourceWidth).toInt() > 0))
    hideVideo_ = true;
  LayoutVideo();
}

void TActiveMovie::SetSelectionStart(double seconds) {
  if (seconds == -1) selectionStart_ = -1;
  else if (seconds >= 0 && (selectionEnd_ < 0 || seconds <= selectionEnd_)) selectionStart_ = seconds;
}

void TActiveMovie::SetSelectionEnd(double seconds) {
  if (seconds == -1) selectionEnd_ = -1;
  else if (seconds >= 0 && (selectionStart_ < 0 || seconds >= selectionStart_)) selectionEnd_ = seconds;
}

// ---- layout ----

void TActiveMovie::LayoutVideo() {
  if (inLayout_ || !player_) return;
  inLayout_ = true;
  LayoutInput in;
  in.panel = size();
  in.source = QSize(player_->GetProperty(dispid::ImageSourceWidth).toInt(),
                    player_->GetProperty(dispid::ImageSourceHeight).toInt());
  in.visible = true;
  in.hideVideo = hideVideo_;
  in.clipOpen = ClipOpen();
  in.controlsShown = showControlsCache_;
  in.displaySize = displaySize_;
  in.zoomSize = zoomSize_;
  in.showScrollBars = showScrollBars_;
  in.thickness = thickness_;
  in.horzFraction = horzFraction_;
  in.vertFraction = vertFraction_;
  const VideoLayoutResult r = mediapanel::LayoutVideo(in);
  if (r.kind != VideoLayoutResult::Kind::Nothing) {
    videoPanel_->setGeometry(r.video);
    player_->setGeometry(videoPanel_->rect());
    auto apply = [](QScrollBar* bar, const ScrollBarLayout& l) {
      bar->setVisible(l.visible);
      if (!l.visible) return;
      bar->blockSignals(true);
      bar->setGeometry(l.bounds);
      bar->setMaximum(l.maximum);
      bar->setSingleStep(l.smallChange);
      bar->setPageStep(l.largeChange);
      bar->setValue(l.position);
      bar->blockSignals(false);
      bar->raise();
    };
    apply(horz_, r.horz);
    apply(vert_, r.vert);
    corner_->setVisible(r.cornerVisible);
    if (r.cornerVisible) {
      corner_->setGeometry(r.corner);
      corner_->raise();
    }
    if (repaint_) videoPanel_->update();
  }
  repaint_ = false;
  inLayout_ = false;
}

void TActiveMovie::ScrollBarChange() {
  horzFraction_ = ScrollFraction(horz_->value(), horz_->maximum());
  vertFraction_ = ScrollFraction(vert_->value(), vert_->maximum());
  repaint_ = true;
  LayoutVideo();
}

void TActiveMovie::resizeEvent(QResizeEvent*) { LayoutVideo(); }

// Key releases on the renderer in full screen wait for the timer; moves of the top-level window
// while paused show the paused frame again.
bool TActiveMovie::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease && (watched == hookedRenderer_ || watched == window())) {
    if (player_->GetProperty(dispid::DisplaySize).toInt() == mpFullScreen && OnFullScreenKeyPress && !keyPending_) {
      auto* key = static_cast<QKeyEvent*>(event);
      pendingKey_ = key->key();
      pendingShift_ = key->modifiers();
      keyPending_ = true;
      return true;
    }
  } else if (event->type() == QEvent::Move && watched == window()) {
    if (ClipOpen() && player_->PlayState() != mpPlaying) SeekSeconds(std::max(0.0, lastPosition_));
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kestrom::mediapanel
