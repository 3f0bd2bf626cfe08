#include "common/mediapanel/MediaPlayerControl.h"

#include "common/mediapanel/VideoLayout.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/writers/WindowIds.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/shell/Shell.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QSocketNotifier>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kestrom::mediapanel {

using namespace com;
using namespace dshow;

namespace {

constexpr int kBarHeight = 26;
constexpr int kLineHeight = 18;

// The graph's classes are made creatable once per process.
void RegisterGraphClasses() {
  static const bool registered = [] {
    graph::RegisterGraphFilters();
    RegisterSourceFilters();
    RegisterWriterFilters();
    return true;
  }();
  (void)registered;
}

LPCWSTR Wide(const QString& s) { return reinterpret_cast<LPCWSTR>(s.utf16()); }

QString Reason(HRESULT hr, const QString& fileName) {
  switch (hr) {
    case VFW_E_UNKNOWN_FILE_TYPE: return QStringLiteral("the file type is not known");
    case VFW_E_CANNOT_RENDER: return QStringLiteral("no stream of the file can be played");
    default: break;
  }
  // A name that leads nowhere is said as such, with the name (the system's "file not found" and
  // "path not found" codes).
  if (quint32(hr) == 0x80070002u || quint32(hr) == 0x80070003u || !QFileInfo::exists(fileName))
    return QStringLiteral("the file %1 is not there").arg(QDir::toNativeSeparators(fileName));
  return QStringLiteral("the file %1 cannot be opened (error 0x%2)")
      .arg(QDir::toNativeSeparators(fileName))
      .arg(quint32(hr), 8, 16, QChar('0'));
}

}  // namespace

TDerivedMovie_::TDerivedMovie_(QWidget* parent) : QWidget(parent) {
  RegisterGraphClasses();
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::ClickFocus);
  BuildControlBar();
  UpdateControlBar();
  // The tracker follows the stream position while a clip is open.
  trackerTimer_ = new QTimer(this);
  trackerTimer_->setInterval(100);
  connect(trackerTimer_, &QTimer::timeout, this, [this] { UpdateTracker(); });
}

TDerivedMovie_::~TDerivedMovie_() {
  // No event reaches the owner while the control goes.
  OnOpenStateChange = nullptr;
  OnPlayStateChange = nullptr;
  OnReadyStateChange = nullptr;
  OnEndOfStream = nullptr;
  OnError = nullptr;
  OnWarning = nullptr;
  OnDisconnect = nullptr;
  OnScriptCommand = nullptr;
  OnMarkerHit = nullptr;
  OnBuffering = nullptr;
  Close();
}

// ---- opening and closing ----

bool TDerivedMovie_::Open(const QString& fileName) {
  Close();
  fileName_ = fileName;
  SetOpenState(mpOpening);
  SetReadyState(mpReadyStateLoading);
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, IID_IGraphBuilder, &graph_);
  if (SUCCEEDED(hr)) hr = graph_->RenderFile(Wide(fileName), nullptr);
  if (FAILED(hr)) {
    graph_.Reset();
    SetReadyState(mpReadyStateComplete);
    SetOpenState(mpClosed);
    Fail(hr, Reason(hr, fileName));
    return false;
  }
  const bool partial = hr == VFW_S_PARTIAL_RENDER;
  graph_->QueryInterface(IID_IMediaControl, control_.PutVoid());
  graph_->QueryInterface(IID_IMediaPosition, position_.PutVoid());
  graph_->QueryInterface(IID_IMediaEventEx, events_.PutVoid());
  graph_->QueryInterface(IID_IBasicVideo, basicVideo_.PutVoid());
  graph_->QueryInterface(IID_IVideoWindow, videoWindow_.PutVoid());
  graph_->QueryInterface(IID_IBasicAudio, basicAudio_.PutVoid());

  // The renderer's window becomes our child; its input comes to us.
  if (videoWindow_ && SUCCEEDED(videoWindow_->put_Owner(WindowIdOf(this)))) {
    videoWindow_->put_MessageDrain(WindowIdOf(this));
    videoWindow_->SetWindowPosition(0, 0, std::max(1, width()), std::max(1, height()));
    for (QWidget* child : findChildren<QWidget*>(QStringLiteral("ActiveMovie Window"), Qt::FindDirectChildrenOnly))
      rendererWindow_ = child;
    if (rendererWindow_) rendererWindow_->show();
  }
  OAEVENT handle = 0;
  if (events_ && SUCCEEDED(events_->GetEventHandle(&handle))) {
    eventNotifier_ = new QSocketNotifier(int(handle), QSocketNotifier::Read, this);
    connect(eventNotifier_, &QSocketNotifier::activated, this, [this] { ProcessGraphEvents(); });
  }

  LONG w = 0, h = 0;
  double frameSeconds = 0;
  if (basicVideo_ && SUCCEEDED(basicVideo_->get_VideoWidth(&w)) && SUCCEEDED(basicVideo_->get_VideoHeight(&h))) {
    properties_.Update(dispid::ImageSourceWidth, int(w));
    properties_.Update(dispid::ImageSourceHeight, int(h));
    basicVideo_->get_AvgTimePerFrame(&frameSeconds);
  }
  frameSeconds_ = frameSeconds;
  if (position_) position_->get_Duration(&durationSeconds_);
  durationFrames_ = frameSeconds_ > 0 ? int64_t(std::llround(durationSeconds_ / frameSeconds_)) : 0;
  playsLeft_ = properties_.Int(dispid::PlayCount);
  ApplyVolume();
  ApplyRate(properties_.Double(dispid::Rate));
  LayoutRenderer();

  SetOpenState(mpOpen);
  SetReadyState(mpReadyStateComplete);
  trackerTimer_->start();
  if (OnNewStream) OnNewStream();
  if (partial && OnWarning && properties_.Bool(dispid::SendWarningEvents))
    OnWarning(1, 0, QStringLiteral("a stream of the file cannot be rendered; the clip plays without it"));
  if (openState_ == mpOpen && properties_.Bool(dispid::AutoStart)) Play();
  return true;
}

void TDerivedMovie_::Close() {
  if (properties_.Int(dispid::DisplaySize) == mpFullScreen) ApplyDisplaySize(mpDefault);
  delete eventNotifier_;
  eventNotifier_ = nullptr;
  if (trackerTimer_) trackerTimer_->stop();
  if (control_) control_->Stop();
  if (videoWindow_) {
    videoWindow_->put_MessageDrain(0);
    videoWindow_->put_Visible(0);
  }
  rendererWindow_ = nullptr;
  soundInput_.Reset();
  soundFeed_.Reset();
  basicAudio_.Reset();
  videoWindow_.Reset();
  basicVideo_.Reset();
  events_.Reset();
  position_.Reset();
  control_.Reset();
  graph_.Reset();
  properties_.Update(dispid::ImageSourceWidth, 0);
  properties_.Update(dispid::ImageSourceHeight, 0);
  durationSeconds_ = 0;
  durationFrames_ = 0;
  frameSeconds_ = 0;
  if (playState_ != mpStopped) SetPlayState(mpStopped);
  if (openState_ != mpClosed) SetOpenState(mpClosed);
}

// ---- transport ----

HRESULT TDerivedMovie_::Play() {
  if (!control_) return E_UNEXPECTED;
  const HRESULT hr = control_->Run();
  if (FAILED(hr)) {
    Fail(hr, QStringLiteral("the clip cannot be played"));
    return hr;
  }
  SetPlayState(mpPlaying);
  return S_OK;
}

HRESULT TDerivedMovie_::Pause() {
  if (!control_) return E_UNEXPECTED;
  const HRESULT hr = control_->Pause();
  if (FAILED(hr)) {
    Fail(hr, QStringLiteral("the clip cannot be paused"));
    return hr;
  }
  SetPlayState(mpPaused);
  return S_OK;
}

HRESULT TDerivedMovie_::Stop() {
  if (!control_) return E_UNEXPECTED;
  const HRESULT hr = control_->Stop();
  if (FAILED(hr)) {
    Fail(hr, QStringLiteral("the clip cannot be stopped"));
    return hr;
  }
  SetPlayState(mpStopped);
  return S_OK;
}

void TDerivedMovie_::ProcessGraphEvents() {
  if (!events_) return;
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (events_ && SUCCEEDED(events_->GetEvent(&code, &p1, &p2, 0))) {
    events_->FreeEventParams(code, p1, p2);
    if (code == EC_COMPLETE) {
      // Another round while plays are left (PlayCount 0: for ever).
      const int count = properties_.Int(dispid::PlayCount);
      if (count <= 0 || --playsLeft_ > 0) {
        SetPosition(0);
        control_->Run();
        continue;
      }
      playsLeft_ = count;
      control_->Stop();
      if (properties_.Bool(dispid::AutoRewind)) SetPosition(0);
      SetPlayState(mpStopped);
      if (OnEndOfStream) OnEndOfStream(int(p1));
    } else if (code == EC_BUFFERING_DATA) {
      if (OnBuffering) OnBuffering(p1 != 0);
    } else if (code == kScriptCommandEvent) {
      const auto text = [](LONG_PTR p) {
        return p ? QString::fromUtf16(reinterpret_cast<const char16_t*>(p)) : QString();
      };
      if (OnScriptCommand) OnScriptCommand(text(p1), text(p2));
    } else if (code == kMarkerHitEvent) {
      if (OnMarkerHit) OnMarkerHit(int(p1));
    } else if (code == EC_DEVICE_LOST) {
      // The source went away under the clip: the player stops and says it lost its connection.
      if (control_) control_->Stop();
      SetPlayState(mpStopped);
      if (OnDisconnect) OnDisconnect(int(p1));
    } else if (code == EC_ERRORABORT || code == EC_ERRORABORTEX) {
      if (control_) control_->Stop();
      SetPlayState(mpStopped);
      Fail(HRESULT(p1), QStringLiteral("playback stopped on an error"));
    }
  }
}

// ---- states and failures ----

void TDerivedMovie_::SetOpenState(int state) {
  const int old = openState_;
  openState_ = state;
  if (old != state && OnOpenStateChange && properties_.Bool(dispid::SendOpenStateChangeEvents))
    OnOpenStateChange(old, state);
  UpdateControlBar();
}

void TDerivedMovie_::SetPlayState(int state) {
  const int old = playState_;
  playState_ = state;
  if (old != state && OnPlayStateChange && properties_.Bool(dispid::SendPlayStateChangeEvents))
    OnPlayStateChange(old, state);
  UpdateControlBar();
}

void TDerivedMovie_::SetReadyState(int state) {
  const int old = properties_.Int(dispid::ReadyState);
  properties_.Update(dispid::ReadyState, state);
  if (old != state && OnReadyStateChange) OnReadyStateChange(state);
}

void TDerivedMovie_::Fail(HRESULT hr, const QString& message) {
  if (OnError && properties_.Bool(dispid::SendErrorEvents)) OnError(int(hr), message);
}

// ---- properties ----

double TDerivedMovie_::Position() {
  double seconds = 0;
  if (position_) position_->get_CurrentPosition(&seconds);
  return seconds;
}

void TDerivedMovie_::SetPosition(double seconds) {
  if (position_) position_->put_CurrentPosition(std::clamp(seconds, 0.0, std::max(0.0, durationSeconds_)));
  UpdateTracker();
}

void TDerivedMovie_::UpdateTracker() {
  if (!tracker_ || tracker_->isSliderDown()) return;
  const double at = openState_ == mpOpen && durationSeconds_ > 0 ? Position() / durationSeconds_ : 0.0;
  const int value = int(std::lround(std::clamp(at, 0.0, 1.0) * tracker_->maximum()));
  if (value == tracker_->value()) return;
  tracker_->blockSignals(true);
  tracker_->setValue(value);
  tracker_->blockSignals(false);
}

QVariant TDerivedMovie_::GetProperty(int id) {
  const bool frames = properties_.Int(dispid::DisplayMode) == 1 && frameSeconds_ > 0;
  switch (id) {
    case dispid::CurrentPosition: {
      const double seconds = Position();
      return frames ? QVariant(double(std::llround(seconds / frameSeconds_))) : QVariant(seconds);
    }
    case dispid::Duration: return frames ? QVariant(double(durationFrames_)) : QVariant(durationSeconds_);
    case dispid::ShowControls:
    default: return properties_.Get(id);
  }
}

HRESULT TDerivedMovie_::SetProperty(int id, const QVariant& value) {
  if (id == dispid::CurrentPosition) {
    if (!position_) return E_UNEXPECTED;
    const bool frames = properties_.Int(dispid::DisplayMode) == 1 && frameSeconds_ > 0;
    SetPosition(frames ? value.toDouble() * frameSeconds_ : value.toDouble());
    return S_OK;
  }
  const QVariant before = properties_.Get(id);
  if (!properties_.Set(id, value)) return E_INVALIDARG;
  const QVariant now = properties_.Get(id);
  switch (id) {
    case dispid::Rate: {
      const HRESULT hr = ApplyRate(now.toDouble());
      if (FAILED(hr)) {
        properties_.Set(id, before);
        Fail(hr, QStringLiteral("the rate cannot be set"));
        return hr;
      }
      break;
    }
    case dispid::DisplayMode:
      if (before != now && OnDisplayModeChange) OnDisplayModeChange();
      break;
    case dispid::DisplaySize:
      if (now.toInt() < mpDefault || now.toInt() > mpFit) {
        properties_.Set(id, before);
        return E_INVALIDARG;
      }
      ApplyDisplaySize(now.toInt());
      break;
    case dispid::Volume:
    case dispid::Balance:
    case dispid::Mute: ApplyVolume(); break;
    case dispid::Enabled: setEnabled(now.toInt() != 0); break;
    case dispid::CursorType: {
      const QCursor cursor(now.toInt() == 1 ? Qt::PointingHandCursor : Qt::ArrowCursor);
      setCursor(cursor);
      if (rendererWindow_) rendererWindow_->setCursor(cursor);
      break;
    }
    case dispid::PlayCount: playsLeft_ = now.toInt(); break;
    case dispid::ShowControls:
    case dispid::ShowDisplay:
    case dispid::ShowPositionControls:
    case dispid::ShowTracker:
    case dispid::EnablePositionControls:
    case dispid::EnableTracker:
    case dispid::ShowStatusBar:
    case dispid::ShowAudioControls:
      UpdateControlBar();
      LayoutRenderer();
      break;
    case dispid::VideoBorderWidth:
    case dispid::VideoBorderColor:
    case dispid::VideoBorder3D:
      LayoutRenderer();
      update();
      break;
    default: break;
  }
  return S_OK;
}

void TDerivedMovie_::ApplyVolume() {
  if (!basicAudio_) return;
  const LONG volume = properties_.Bool(dispid::Mute) ? -10000 : std::clamp(properties_.Int(dispid::Volume), -10000, 0);
  basicAudio_->put_Volume(volume);
  basicAudio_->put_Balance(std::clamp(properties_.Int(dispid::Balance), -10000, 10000));
}

HRESULT TDerivedMovie_::ApplyRate(double rate) {
  if (!position_) return S_OK;
  if (rate <= 0) return E_INVALIDARG;
  if (rate == 1.0 && soundInput_) ReattachSound();
  if (rate != 1.0 && !soundInput_) {
    // The sound renderer plays only at its own rate: the pictures go on without it.
    ComPtr<IMediaSeeking> soundSeeking;
    const ComPtr<IBaseFilter> sound = SoundRenderer();
    if (sound && SUCCEEDED(sound->QueryInterface(IID_IMediaSeeking, soundSeeking.PutVoid())) &&
        FAILED(soundSeeking->SetRate(rate)))
      DetachSound();
  }
  return position_->put_Rate(rate);
}

ComPtr<IBaseFilter> TDerivedMovie_::SoundRenderer() const {
  if (!graph_) return {};
  ComPtr<IEnumFilters> list;
  graph_->EnumFilters(list.Put());
  ComPtr<IBaseFilter> f;
  while (list && list->Next(1, f.Put(), nullptr) == S_OK) {
    ComPtr<IBasicAudio> audio;
    if (SUCCEEDED(f->QueryInterface(IID_IBasicAudio, audio.PutVoid()))) return f;
  }
  return {};
}

void TDerivedMovie_::DetachSound() {
  const ComPtr<IBaseFilter> sound = SoundRenderer();
  if (!sound) return;
  const auto inputs = FilterPins(sound.Get(), PINDIR_INPUT, false);
  if (inputs.empty()) return;
  ComPtr<IPin> feed;
  if (FAILED(inputs[0]->ConnectedTo(feed.Put())) || !feed) return;
  const int state = playState_;
  const double at = Position();
  control_->Stop();
  graph_->Disconnect(feed.Get());
  graph_->Disconnect(inputs[0].Get());
  soundInput_ = inputs[0];
  soundFeed_ = feed;
  SetPosition(at);
  if (state == mpPlaying) control_->Run();
  else if (state == mpPaused) control_->Pause();
}

void TDerivedMovie_::ReattachSound() {
  const int state = playState_;
  const double at = Position();
  control_->Stop();
  position_->put_Rate(1.0);
  graph_->ConnectDirect(soundFeed_.Get(), soundInput_.Get(), nullptr);
  soundInput_.Reset();
  soundFeed_.Reset();
  SetPosition(at);
  if (state == mpPlaying) control_->Run();
  else if (state == mpPaused) control_->Pause();
}

// ---- display ----

void TDerivedMovie_::ApplyDisplaySize(int size) {
  properties_.Update(dispid::DisplaySize, size);
  if (size == mpFullScreen) {
    if (!rendererWindow_) return;
    if (!fullScreen_) {
      fullScreen_ = new QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint);
      fullScreen_->setObjectName(QStringLiteral("FullScreen"));
      fullScreen_->setAttribute(Qt::WA_DeleteOnClose, false);
      QPalette p = fullScreen_->palette();
      p.setColor(QPalette::Window, Qt::black);
      fullScreen_->setPalette(p);
      fullScreen_->setAutoFillBackground(true);
    }
    const QRect screen = (this->screen() ? this->screen() : QGuiApplication::primaryScreen())->geometry();
    fullScreen_->setGeometry(screen);
    rendererWindow_->setParent(fullScreen_);
    LayoutRenderer();
    rendererWindow_->show();
    fullScreen_->show();
    return;
  }
  if (fullScreen_) {
    if (rendererWindow_) {
      rendererWindow_->setParent(this);
      rendererWindow_->show();
    }
    delete fullScreen_.data();
  }
  LayoutRenderer();
}

int TDerivedMovie_::ControlBarHeight() const {
  if (!properties_.Bool(dispid::ShowControls)) return 0;
  int h = kBarHeight;
  if (properties_.Bool(dispid::ShowDisplay)) h += kLineHeight;
  if (properties_.Bool(dispid::ShowStatusBar)) h += kLineHeight;
  return h;
}

void TDerivedMovie_::LayoutRenderer() {
  const int barHeight = ControlBarHeight();
  if (bar_) {
    bar_->setGeometry(0, height() - barHeight, width(), barHeight);
    bar_->setVisible(barHeight > 0);
  }
  if (!rendererWindow_) return;
  const int size = properties_.Int(dispid::DisplaySize);
  QRect area;
  if (size == mpFullScreen && fullScreen_) {
    area = fullScreen_->rect();
  } else {
    const int border = std::max(0, properties_.Int(dispid::VideoBorderWidth));
    area = QRect(0, 0, width(), height() - barHeight).adjusted(border, border, -border, -border);
  }
  if (area.isEmpty()) return;
  const QSize source(properties_.Int(dispid::ImageSourceWidth), properties_.Int(dispid::ImageSourceHeight));
  QSize picture = area.size();
  if (!source.isEmpty()) {
    if (size == mpDefault) picture = source;
    else if (size == mpHalf) picture = source / 2;
    else if (size == mpDouble) picture = source * 2;
    else picture = FitSize(area.size(), source);
    if (picture.width() > area.width() || picture.height() > area.height()) picture = FitSize(area.size(), source);
  }
  const QPoint at(area.left() + (area.width() - picture.width()) / 2, area.top() + (area.height() - picture.height()) / 2);
  rendererWindow_->setGeometry(QRect(at, picture));
}

void TDerivedMovie_::resizeEvent(QResizeEvent*) { LayoutRenderer(); }

void TDerivedMovie_::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int colour = properties_.Int(dispid::VideoBorderColor);
  // Colours are 0x00BBGGRR.
  painter.fillRect(rect(), properties_.Int(dispid::VideoBorderWidth) > 0
                               ? QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF)
                               : QColor(Qt::black));
}

// ---- the player's own bar ----

void TDerivedMovie_::BuildControlBar() {
  bar_ = new QWidget(this);
  bar_->setObjectName(QStringLiteral("ControlBar"));
  bar_->setAutoFillBackground(true);
  auto* column = new QVBoxLayout(bar_);
  column->setContentsMargins(2, 1, 2, 1);
  column->setSpacing(0);
  auto* row = new QHBoxLayout();
  column->addLayout(row);
  auto button = [&](const char* name, const QString& text, auto slot) {
    auto* b = new QToolButton(bar_);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    connect(b, &QToolButton::clicked, this, slot);
    row->addWidget(b);
    return b;
  };
  playButton_ = button("PlayButton", QStringLiteral("Play"), [this] { Play(); });
  pauseButton_ = button("PauseButton", QStringLiteral("Pause"), [this] { Pause(); });
  stopButton_ = button("StopButton", QStringLiteral("Stop"), [this] {
    if (SUCCEEDED(Stop())) SetPosition(0);
  });
  tracker_ = new QSlider(Qt::Horizontal, bar_);
  tracker_->setObjectName(QStringLiteral("Tracker"));
  tracker_->setRange(0, 1000);
  connect(tracker_, &QSlider::sliderMoved, this, [this](int v) { SetPosition(durationSeconds_ * v / 1000.0); });
  row->addWidget(tracker_, 1);
  volumeSlider_ = new QSlider(Qt::Horizontal, bar_);
  volumeSlider_->setObjectName(QStringLiteral("VolumeSlider"));
  volumeSlider_->setRange(-10000, 0);
  volumeSlider_->setMaximumWidth(60);
  connect(volumeSlider_, &QSlider::valueChanged, this, [this](int v) { SetProperty(dispid::Volume, v); });
  row->addWidget(volumeSlider_);
  display_ = new QLabel(bar_);
  display_->setObjectName(QStringLiteral("Display"));
  column->addWidget(display_);
  statusBar_ = new QLabel(bar_);
  statusBar_->setObjectName(QStringLiteral("StatusBar"));
  column->addWidget(statusBar_);
}

void TDerivedMovie_::UpdateControlBar() {
  if (!bar_) return;
  const bool positions = properties_.Bool(dispid::ShowPositionControls);
  const bool enablePositions = properties_.Bool(dispid::EnablePositionControls) && openState_ == mpOpen;
  for (QToolButton* b : {playButton_, pauseButton_, stopButton_}) {
    b->setVisible(positions);
    b->setEnabled(enablePositions);
  }
  tracker_->setVisible(properties_.Bool(dispid::ShowTracker));
  tracker_->setEnabled(properties_.Bool(dispid::EnableTracker) && openState_ == mpOpen);
  volumeSlider_->setVisible(properties_.Bool(dispid::ShowAudioControls));
  volumeSlider_->blockSignals(true);
  volumeSlider_->setValue(properties_.Int(dispid::Volume));
  volumeSlider_->blockSignals(false);
  display_->setVisible(properties_.Bool(dispid::ShowDisplay));
  display_->setText(openState_ == mpOpen ? fileName_.section('/', -1) : QString());
  statusBar_->setVisible(properties_.Bool(dispid::ShowStatusBar));
  static const char* const kStates[] = {"Stopped", "Paused", "Playing"};
  statusBar_->setText(openState_ == mpOpen ? QLatin1String(kStates[std::clamp(playState_, 0, 2)]) : QString());
  UpdateTracker();
  LayoutRenderer();
}

// ---- input ----

void TDerivedMovie_::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (properties_.Bool(dispid::ClickToPlay) && openState_ == mpOpen)
    playState_ == mpPlaying ? Pause() : Play();
  if (OnClick) OnClick();
}

void TDerivedMovie_::mouseDoubleClickEvent(QMouseEvent*) {
  if (OnDblClick) OnDblClick();
}

void TDerivedMovie_::contextMenuEvent(QContextMenuEvent* event) {
  if (!properties_.Bool(dispid::EnableContextMenu)) return;
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addAction(QStringLiteral("Play"), this, [this] { Play(); })->setEnabled(openState_ == mpOpen);
  menu->addAction(QStringLiteral("Pause"), this, [this] { Pause(); })->setEnabled(playState_ == mpPlaying);
  menu->addAction(QStringLiteral("Stop"), this, [this] { Stop(); })->setEnabled(playState_ != mpStopped);
  menu->popup(event->globalPos());
}

void TDerivedMovie_::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    bool canShowHelp = true;
    if (OnHelp) OnHelp(canShowHelp);
    if (canShowHelp) shell::OpenHelpFile(QStringLiteral("MediaPlayer.hlp"));
    return;
  }
  QWidget::keyPressEvent(event);
}

void TDerivedMovie_::keyReleaseEvent(QKeyEvent* event) {
  if (OnKeyUp && properties_.Bool(dispid::SendKeyboardEvents)) OnKeyUp(event->key(), event->modifiers());
}

}  // namespace kestrom::mediapanel
