#include "common/mediapanel/ActiveMovie.h"

#include "platform/com/ComRuntime.h"
#include "platform/core/Bmp.h"
#include "platform/core/Format.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/ui/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimer>
#include <cmath>
#include <cstring>

namespace kestrom::mediapanel {

namespace {

// Names of the panels' timers and player controls: "AMComponent" and a number counted over all.
int componentCounter = 0;
QString NextComponentName() { return QStringLiteral("AMComponent%1").arg(++componentCounter); }

constexpr int kDestroyWaitMs = 2000;  // longest wait for a loading player at destruction

// The sequence counters of generated names, one per extension, for the program's run.
int bmpCounter = 0;
int jpgCounter = 0;

using namespace com;
using namespace dshow;

bool GrabberClassExists() {
  ComPtr<IBaseFilter> probe;
  return SUCCEEDED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, probe.PutVoid()));
}

// The first filter with one input, no output and video on its input.
ComPtr<IBaseFilter> FindVideoRenderer(IGraphBuilder* graph) {
  ComPtr<IEnumFilters> list;
  if (FAILED(graph->EnumFilters(list.Put())) || !list) return {};
  ComPtr<IBaseFilter> filter;
  while (list->Next(1, filter.Put(), nullptr) == S_OK) {
    const auto inputs = FilterPins(filter.Get(), PINDIR_INPUT, false);
    if (inputs.size() != 1 || !FilterPins(filter.Get(), PINDIR_OUTPUT, false).empty()) continue;
    AM_MEDIA_TYPE type{};
    if (FAILED(inputs[0]->ConnectionMediaType(&type))) continue;
    const bool video = type.majortype == MEDIATYPE_Video;
    FreeMediaType(type);
    if (video) return filter;
  }
  return {};
}

HRESULT SetGrabberMediaType(ISampleGrabber* grabber) {
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(MEDIASUBTYPE_RGB24);
  type.SetFormatType(FORMAT_VideoInfo);
  type.bFixedSizeSamples = 1;
  type.SetSampleSize(1);
  return grabber->SetMediaType(&type);
}

// Puts the graph back into the state it had before the grabber was spliced in.
void RestoreGraphState(IMediaControl* control, FILTER_STATE state) {
  if (!control) return;
  if (state == State_Running) control->Run();
  else if (state == State_Paused) control->Pause();
}

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
  player_->OnScriptCommand = [this](const QString& type, const QString& param) {
    if (OnScriptCommand) OnScriptCommand(type, param);
  };
  player_->OnMarkerHit = [this](int marker) { if (OnMarkerHit) OnMarkerHit(marker); };
  player_->OnBuffering = [this](bool start) { if (OnBuffering) OnBuffering(start); };
  player_->OnClick = [this] { if (OnClick) OnClick(); };
  player_->OnDblClick = [this] { if (OnDblClick) OnDblClick(); };
  player_->OnDisconnect = [this](int result) {
    disconnectResult_ = result;
    disconnectPending_ = true;
  };
  naming_.storagePath = QDir::currentPath();
  // The grabber is tried once: without it frames are read from the renderer.
  if (GrabberClassExists()) {
    callback_ = TSampleGrabberCB::Create();
    callback_->SetBurst(burstMode_, burstCount_, burstInterval_);
  }
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
  // No frame event is posted from here on; those queued go with this object.
  if (callback_) callback_->SetWindow(nullptr);
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
  player_->OnScriptCommand = nullptr;
  player_->OnMarkerHit = nullptr;
  player_->OnBuffering = nullptr;
  player_->OnClick = nullptr;
  player_->OnDblClick = nullptr;
  player_->OnDisconnect = nullptr;
  ResetSampleGrabber();
  basicVideo_.Reset();
  // The grabber may still be inside the callback: it holds its own reference for the call.
  callback_.Reset();
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
    ResetSampleGrabber();
    basicVideo_.Reset();
  } else if (newState == mpOpen) {
    basicVideo_.Reset();
    if (grabberEnabled_ && SampleGrabberAvailable()) ConnectSampleGrabber();
    if (const auto graph = player_->FilterGraph()) graph->QueryInterface(IID_IBasicVideo, basicVideo_.PutVoid());
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
  if (newState == mpStopped && callback_) callback_->CancelRequest();
  justOpened_ = false;
  playOld_ = oldState;
  playNew_ = newState;
  playPending_ = true;
}

void TActiveMovie::PlayerReadyStateChange(int state) {
  if (!displayLogo_) hideVideo_ = !(ClipOpen() && state == mpReadyStateComplete);
  if ((state == 3 || state == mpReadyStateComplete) && grabberEnabled_ && SampleGrabberAvailable()) ConnectSampleGrabber();
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
    // The clip has played on since it started, a timer tick or more: it rests at its start.
    player_->SetProperty(dispid::CurrentPosition, 0.0);
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
    if (OnDisconnect) OnDisconnect(disconnectResult_);
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

void TActiveMovie::SetVisible(bool visible) {
  videoVisible_ = visible;
  ApplyColour();
  repaint_ = true;
  LayoutVideo();
}

void TActiveMovie::SetColor(const QColor& colour) {
  color_ = colour;
  parentColor_ = false;
  ApplyColour();
}

void TActiveMovie::SetParentColor(bool on) {
  parentColor_ = on;
  ApplyColour();
}

// Hidden video or ParentColor: the parent's colour; otherwise the panel's own.
void TActiveMovie::ApplyColour() {
  QPalette p = palette();
  const QColor parentColour = parentWidget() ? parentWidget()->palette().color(QPalette::Window)
                                             : QPalette().color(QPalette::Window);
  p.setColor(QPalette::Window, !videoVisible_ || parentColor_ ? parentColour : color_);
  setPalette(p);
}

QVariant TActiveMovie::PassThrough(int id) const { return player_->GetProperty(id); }

bool TActiveMovie::SetPassThrough(int id, const QVariant& value) {
  if (FAILED(player_->SetProperty(id, value))) return false;
  if (value.typeId() == QMetaType::Bool) LayoutVideo();
  return true;
}

namespace {
struct PassThroughName {
  const char* name;
  int id;
  bool boolean;
};
#define KESTROM_BOOL_ENTRY(name) {#name, dispid::name, true},
#define KESTROM_OTHER_ENTRY(name) {#name, dispid::name, false},
constexpr PassThroughName kPassThroughNames[] = {KESTROM_PANEL_BOOL_PROPERTIES(KESTROM_BOOL_ENTRY)
                                                     KESTROM_PANEL_INT_PROPERTIES(KESTROM_OTHER_ENTRY)
                                                         KESTROM_PANEL_TEXT_PROPERTIES(KESTROM_OTHER_ENTRY)};
#undef KESTROM_BOOL_ENTRY
#undef KESTROM_OTHER_ENTRY

const PassThroughName* FindPassThrough(const QString& name) {
  for (const PassThroughName& entry : kPassThroughNames)
    if (name == QLatin1String(entry.name)) return &entry;
  return nullptr;
}
}  // namespace

QVariant TActiveMovie::PassThroughByName(const QString& name) const {
  const PassThroughName* entry = FindPassThrough(name);
  return entry ? PassThrough(entry->id) : QVariant();
}

bool TActiveMovie::SetPassThroughByName(const QString& name, const QVariant& value) {
  const PassThroughName* entry = FindPassThrough(name);
  if (!entry) return false;
  return SetPassThrough(entry->id, entry->boolean ? QVariant(value.toBool()) : value);
}

void TActiveMovie::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (created_) return;
  // The player's window exists from the first showing on: the video is laid out, then told.
  created_ = true;
  ApplyColour();
  LayoutVideo();
  if (OnCreate) OnCreate();
}

// ---- layout ----

void TActiveMovie::LayoutVideo() {
  if (inLayout_ || !player_) return;
  inLayout_ = true;
  LayoutInput in;
  in.panel = size();
  in.source = QSize(player_->GetProperty(dispid::ImageSourceWidth).toInt(),
                    player_->GetProperty(dispid::ImageSourceHeight).toInt());
  in.visible = videoVisible_;
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

// ---- frame grabbing ----

void TActiveMovie::SetFGrabber_Enabled(bool on) {
  if (on == grabberEnabled_) return;
  grabberEnabled_ = on;
  grabberStatus_ = on ? QString() : QStringLiteral("the FGrabber_Enabled property must be enabled.");
}

void TActiveMovie::SetFGrabber_BurstMode(bool on) {
  if (on == burstMode_) return;
  burstMode_ = on;
  if (callback_) callback_->SetBurst(burstMode_, burstCount_, burstInterval_);
}

void TActiveMovie::SetFGrabber_BurstCount(int count) {
  if (count < 0 || count == burstCount_) return;
  burstCount_ = count;
  if (callback_) callback_->SetBurst(burstMode_, burstCount_, burstInterval_);
}

void TActiveMovie::SetFGrabber_BurstInterval(int interval) {
  if (interval < 0 || interval == burstInterval_) return;
  burstInterval_ = interval;
  if (callback_) callback_->SetBurst(burstMode_, burstCount_, burstInterval_);
}

void TActiveMovie::SetJPEGQuality(int quality) {
  if (quality >= 1 && quality <= 100) jpegQuality_ = quality;
}

void TActiveMovie::ResetSampleGrabber() {
  grabberConnected_ = false;
  grabberGraph_.Reset();
  mediaControl_.Reset();
  mediaSeeking_.Reset();
  if (!callback_) return;
  callback_->SetBurst(burstMode_, burstCount_, burstInterval_);
  if (grabberFilter_) {
    ComPtr<ISampleGrabber> grabber;
    if (SUCCEEDED(grabberFilter_->QueryInterface(IID_ISampleGrabber, grabber.PutVoid())))
      grabber->SetCallback(nullptr, 1);
    grabberFilter_.Reset();
  }
  callback_->SetMediaType(nullptr);
}

bool TActiveMovie::ConnectSampleGrabber() {
  if (!callback_) return false;
  const ComPtr<IGraphBuilder> graph = player_->FilterGraph();
  // Already spliced into this graph (an open is followed by its ready state).
  if (grabberConnected_ && graph && graph == grabberGraph_) return true;
  ResetSampleGrabber();
  if (!graph) return false;
  graph->QueryInterface(IID_IBasicVideo, basicVideo_.PutVoid());
  graph->QueryInterface(IID_IMediaControl, mediaControl_.PutVoid());
  graph->QueryInterface(IID_IMediaSeeking, mediaSeeking_.PutVoid());
  callback_->SetWindow(this);
  if (player_->GetProperty(dispid::ImageSourceWidth).toInt() == 0 && !displayLogo_) hideVideo_ = true;
  FILTER_STATE before = State_Stopped;
  if (mediaControl_) {
    mediaControl_->GetState(0, &before);
    mediaControl_->Stop();
  }

  const ComPtr<IBaseFilter> renderer = FindVideoRenderer(graph.Get());
  const auto rendererInputs = renderer ? FilterPins(renderer.Get(), PINDIR_INPUT, false) : std::vector<ComPtr<IPin>>{};
  ComPtr<IPin> upstream;
  if (rendererInputs.empty() || FAILED(rendererInputs[0]->ConnectedTo(upstream.Put())) || !upstream) {
    RestoreGraphState(mediaControl_.Get(), before);
    return false;
  }
  const ComPtr<IPin> rendererInput = rendererInputs[0];
  graph->Disconnect(upstream.Get());
  graph->Disconnect(rendererInput.Get());

  ComPtr<IBaseFilter> filter;
  ComPtr<ISampleGrabber> grabber;
  bool connected = false;
  if (SUCCEEDED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid())) &&
      SUCCEEDED(filter->QueryInterface(IID_ISampleGrabber, grabber.PutVoid()))) {
    grabber->SetBufferSamples(0);
    grabber->SetOneShot(0);
    grabber->SetCallback(callback_.Get(), 1);
    if (SUCCEEDED(graph->AddFilter(filter.Get(), u"Sample Grabber")) && SUCCEEDED(SetGrabberMediaType(grabber.Get()))) {
      const auto grabberIn = FilterPins(filter.Get(), PINDIR_INPUT, false);
      const auto grabberOut = FilterPins(filter.Get(), PINDIR_OUTPUT, false);
      connected = !grabberIn.empty() && !grabberOut.empty() &&
                  SUCCEEDED(graph->Connect(upstream.Get(), grabberIn[0].Get())) &&
                  SUCCEEDED(graph->Connect(grabberOut[0].Get(), rendererInput.Get()));
    }
  }

  if (connected) {
    grabberFilter_ = filter;
    grabberGraph_ = graph;
    FILTER_INFO info{};
    if (SUCCEEDED(renderer->QueryFilterInfo(&info))) {
      grabberStatus_ = QString::fromUtf16(info.achName).left(128);
      if (info.pGraph) info.pGraph->Release();
    }
    AM_MEDIA_TYPE type{};
    if (SUCCEEDED(grabber->GetConnectedMediaType(&type))) {
      callback_->SetMediaType(&type);
      FreeMediaType(type);
    }
    grabberConnected_ = callback_->FormatKind() != 0;
  } else {
    // The former connection comes back, and the clip goes on as it was.
    if (filter) {
      if (grabber) grabber->SetCallback(nullptr, 1);
      for (const auto& pin : FilterPins(filter.Get(), PINDIR_INPUT, false)) {
        ComPtr<IPin> other;
        if (SUCCEEDED(pin->ConnectedTo(other.Put())) && other) graph->Disconnect(other.Get());
        graph->Disconnect(pin.Get());
      }
      for (const auto& pin : FilterPins(filter.Get(), PINDIR_OUTPUT, false)) {
        ComPtr<IPin> other;
        if (SUCCEEDED(pin->ConnectedTo(other.Put())) && other) graph->Disconnect(other.Get());
        graph->Disconnect(pin.Get());
      }
      graph->RemoveFilter(filter.Get());
    }
    graph->Disconnect(upstream.Get());
    graph->Disconnect(rendererInput.Get());
    graph->Connect(upstream.Get(), rendererInput.Get());
  }
  RestoreGraphState(mediaControl_.Get(), before);
  return grabberConnected_;
}

void TActiveMovie::RequestCapture(TFrameCapture_Dest destination, const QString& fileName, bool pauseAfterLast) {
  requestDestination_ = destination;
  requestFileName_ = fileName;
  if (callback_ && grabberConnected_) {
    callback_->OpenRequest(pauseAfterLast);
    // A clip at rest passes no frame on by itself: the frame it shows is passed through again.
    if (ClipOpen() && player_->PlayState() == mpPaused) ShowFrameAgain();
    return;
  }
  // Without a grabber in the graph the renderer's current picture is taken, as the event asks.
  QCoreApplication::postEvent(this, new FrameGrabbedEvent(1, pauseAfterLast ? 0 : 1));
}

void TActiveMovie::ShowFrameAgain() {
  const QVariant mode = player_->GetProperty(dispid::DisplayMode);
  if (mode.toInt() == 1) player_->SetProperty(dispid::DisplayMode, 0);
  player_->SetProperty(dispid::CurrentPosition, player_->GetProperty(dispid::CurrentPosition));
  if (mode.toInt() == 1) player_->SetProperty(dispid::DisplayMode, mode);
}

bool TActiveMovie::event(QEvent* event) {
  if (event->type() == FrameGrabbedEvent::Type()) {
    WMFrameGrabbed(*static_cast<FrameGrabbedEvent*>(event));
    return true;
  }
  return QWidget::event(event);
}

void TActiveMovie::WMFrameGrabbed(const FrameGrabbedEvent& message) {
  if (message.wParam == 1) CaptureFrame(message.lParam == 0);
}

// The renderer's current picture through IBasicVideo: the rows follow the returned header, by
// the header's own size, and must lie within the block.
QImage TActiveMovie::RendererImage(bool pause) {
  if (!basicVideo_) return {};
  ComPtr<IMediaControl> control;
  if (const auto graph = player_->FilterGraph()) graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  // Only a playing clip is held for the picture; a clip at rest stays as it is.
  const bool playing = player_->PlayState() == mpPlaying;
  if (playing && pause) player_->Pause();
  else if (playing && control) control->Pause();
  QImage image;
  LONG size = 0;
  if (SUCCEEDED(basicVideo_->GetCurrentImage(&size, nullptr)) && size > LONG(sizeof(BITMAPINFOHEADER))) {
    std::vector<LONG> block((size_t(size) + sizeof(LONG) - 1) / sizeof(LONG));
    if (SUCCEEDED(basicVideo_->GetCurrentImage(&size, block.data()))) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
      BITMAPINFOHEADER header;
      std::memcpy(&header, bytes, sizeof header);
      if (header.biSize >= sizeof header && int64_t(header.biSize) <= int64_t(size))
        image = ImageFromDib(header, bytes + header.biSize, int64_t(size) - header.biSize);
    }
  }
  if (playing && !pause && control) control->Run();
  return image;
}

void TActiveMovie::CaptureFrame(bool pause) {
  const bool fromGrabber = callback_ && grabberConnected_;
  // The grabbed rows are used where they lie, in the order they are stored; they are turned the
  // right way up only for what needs an upright picture (scaling, BMP files, the event).
  QImage rows;
  bool bottomUp = false;
  if (fromGrabber) {
    if (const GrabbedFrame* pending = callback_->PendingFrame())
      rows = DibRows(pending->header, pending->bits.data(), int64_t(pending->bits.size()), &bottomUp);
    if (pause && player_->PlayState() == mpPlaying) player_->Pause();
  } else {
    rows = RendererImage(pause);
  }
  if (!rows.isNull()) {
    QImage picture = rows;
    bool pictureBottomUp = bottomUp;
    bool inPlace = fromGrabber;  // picture is a view over the grabber's buffer
    bool fits = true;
    if (captureSize_ > 0 && captureSize_ != 100) {
      const int64_t w = std::max<int64_t>(1, core::Nearest(rows.width() * (captureSize_ / 100.0)));
      const int64_t h = std::max<int64_t>(1, core::Nearest(rows.height() * (captureSize_ / 100.0)));
      fits = w <= kMaxCaptureSide && h <= kMaxCaptureSide;
      if (fits) {
        picture = (bottomUp ? rows.mirrored() : rows)
                      .scaled(int(w), int(h), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_BGR888);
        pictureBottomUp = inPlace = false;
      }
    } else {
      fits = rows.width() <= kMaxCaptureSide && rows.height() <= kMaxCaptureSide;
    }
    // The event's bitmap is the panel's own, never a view over the grabber's buffer. Made before
    // saving, it is also what is saved: one pass over the buffer, which another thread has just
    // written, and the encoder then reads rows that are already near at hand.
    if (fits && inPlace && OnFGrabberCaptureCompleted) {
      picture = pictureBottomUp ? picture.mirrored() : picture.copy();
      pictureBottomUp = inPlace = false;
    }
    QString name;
    const bool success = fits && SaveCapture(picture, pictureBottomUp, requestDestination_, &name);
    if (OnFGrabberCaptureCompleted) OnFGrabberCaptureCompleted(fits ? picture : QImage(), requestDestination_, name, success);
  }
  if (fromGrabber) callback_->ReleaseFrame();
}

bool TActiveMovie::SaveCapture(const QImage& picture, bool bottomUp, TFrameCapture_Dest destination, QString* name) {
  switch (destination) {
    case TFrameCapture_Dest::fcTBitmap: return true;
    case TFrameCapture_Dest::fcBmpFile:
      *name = requestFileName_.isEmpty() ? NextCaptureFileName(bmpCounter, QStringLiteral("bmp"), naming_)
                                         : requestFileName_;
      return !name->isEmpty() && core::WriteBmpFile(*name, bottomUp ? picture.mirrored() : picture).ok;
    case TFrameCapture_Dest::fcJpegFile: {
      *name = requestFileName_.isEmpty() ? NextCaptureFileName(jpgCounter, QStringLiteral("jpg"), naming_)
                                         : requestFileName_;
      if (name->isEmpty()) return false;
      jpeg::CompressOptions options;
      options.quality = jpegQuality_;
      options.performance = jpegPerformance_;
      options.progressive = jpegProgressive_;
      options.bottomUp = bottomUp;
      try {
        jpeg::CompressToFile(picture, *name, options);
        return true;
      } catch (const jpeg::JpegError&) {
        return false;
      }
    }
  }
  return false;
}

}  // namespace kestrom::mediapanel

