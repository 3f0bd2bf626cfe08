// The display slots of a live graph: which renderers a build installs (one, or two for dual
// display), the forms their windows live in, their layout on the panel or the monitors, and the
// input of those forms.
#include "capture/engine/FK.h"

#include "capture/engine/DisplayForm.h"
#include "capture/engine/DisplayGeometry.h"
#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/WindowIds.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLayout>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <optional>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using com::FAILED;
using com::SUCCEEDED;

namespace {

constexpr CLSID CLSID_OverlayMixer = com::MakeGuid("{CD8743A1-3736-11D0-9E69-00C04FD7C15B}");
constexpr IID IID_IOverlay = com::MakeGuid("{56A868A1-0AD4-11CE-B03A-0020AF0BA770}");
constexpr LONG WS_CHILD = 0x40000000;

}  // namespace

void TFK::CheckDualDisplay() {
  const bool videoPort = videoTable_.Bool("_IsVideoPortAvailable") &&
                         (DisplayWindow_.GetBool(TVideoWindow::VideoPortEnabled) ||
                          DualDisplayWindow_.GetBool(TVideoWindow::VideoPortEnabled));
  dualDisplay_ = DisplayWindow_.GetBool(TVideoWindow::Active) && DualDisplayWindow_.GetBool(TVideoWindow::Active) &&
                 !videoPort;
  if (dualDisplay_ && ColorKeyEnabled_) {
    CheckAndLog(this, true, ll_Error, QStringLiteral("window transparency incompatible with dual display"),
                TLogType::e_incompatible_options);
    dualDisplay_ = false;
  }
}

void TFK::InsertOverlayMixer(ComPtr<IPin>& pin) {
  ComPtr<IPin> chain = pin, input;
  ComPtr<IBaseFilter> mixer;
  ComPtr<IUnknown> overlay;
  const bool ok = AddFilterGetInput(CLSID_OverlayMixer, QStringLiteral("ov mix"), input, mixer) &&
                  ConnectPins(chain.Get(), input.Get()) &&
                  SUCCEEDED(input->QueryInterface(IID_IOverlay, overlay.PutVoid())) && overlay &&
                  SUCCEEDED(FindPinByName(mixer.Get(), PINDIR_OUTPUT, QString(), chain, true, true));
  if (ok) {
    pin = chain;
    return;
  }
  CheckAndLog(this, true, ll_Error,
              QStringLiteral("window transparency failed, try FrameGrabber = fg_Disabled or FrameGrabber = fg_CaptureStream"),
              TLogType::e_window_transparency_failed);
  if (mixer) graph_->RemoveFilter(mixer.Get());
}

bool TFK::InsertVideoDisplay(IPin* pin) {
  if (!pin) return false;
  ComPtr<IPin> chain(pin);
  if (ColorKeyEnabled_) {
    WriteLog(QStringLiteral("ck enabled"));
    ComPtr<IUnknown> overlay;
    if (!builder_ || FAILED(builder_->FindInterface(nullptr, nullptr, videoSource_.Get(), IID_IOverlay, overlay.PutVoid()))) {
      WriteLog(QStringLiteral("ck: insert ov"));
      InsertOverlayMixer(chain);
    }
  }
  const TSaveFilterState saved = SaveFilterState(chain.Get());
  bool ok = InstallDisplay(chain.Get(), true);
  if (!ok && snapshot_.videoRenderer != vr_None) {
    for (int slot = 0; slot < DisplaySlots; ++slot) ReleaseDisplay(slot);
    if (RestoreFilterState(saved, chain)) {
      WriteLog(QStringLiteral("GRAPH RESTORED..."));
      ok = InstallDisplay(chain.Get(), false);
    }
  }
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("insert video renderer"), TLogType::e_failed);
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("insert video display"), TLogType::e_failed);
  return ok;
}

bool TFK::InstallDisplay(IPin* pin, bool tryVMR) {
  WriteLog(QStringLiteral("installing display"));
  ComPtr<IPin> chain(pin);
  bool ok = [&] {
    int kind = snapshot_.videoRenderer;
    // The mixing renderer 9 shows full-size DV badly; the 7 takes its place.
    if ((snapshot_.frameGrabber == fg_CaptureStream || snapshot_.frameGrabber == fg_Disabled) && IsDVSource() &&
        GetVideoSize() == 4 && kind == vr_VMR9)
      kind = vr_VMR7;
    if (snapshot_.frameGrabber == fg_Disabled && IsMpegSource() && !InsertGrabber(QStringLiteral("GRB_Notify"), chain))
      return false;
    if (kind == vr_None) return ConnectNullRenderer(chain.Get());
    ComPtr<IBaseFilter> tee;
    if (dualDisplay_ &&
        !InsertFilterInline(CLSID_InfTee, QStringLiteral("Inf Tee 2nd rnd"), chain, &MEDIATYPE_Video, &tee))
      return false;
    const auto render = [&](int slot, IPin* from) {
      ComPtr<IPin> input;
      const bool made = AddRenderer(RandomFilterName(QStringLiteral("rndr")), slot, tryVMR, input, kind);
      if (made && SUCCEEDED(builder_->RenderStream(nullptr, nullptr, from, nullptr, displays_[slot].renderer.Get())))
        return true;
      ReleaseDisplay(slot);
      return false;
    };
    WriteLog(QStringLiteral("IVR add rend"));
    if (!render(ds_Display, chain.Get())) return false;
    WriteLog(QStringLiteral("IVR cx ok"));
    if (dualDisplay_) {
      ComPtr<IPin> next;
      if (FAILED(FindPinByName(tee.Get(), PINDIR_OUTPUT, QString(), next, true, true))) return false;
      render(ds_DualDisplay, next.Get());
    }
    return true;
  }();
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("installing display done"), TLogType::e_failed);
  return ok;
}

void TFK::ReleaseDisplay(int slot) {
  if (slot < 0 || slot >= DisplaySlots) return;
  TDisplayRecord& record = displays_[slot];
  if (TDisplayForm* form = DisplayForm(slot)) form->hide();
  if (record.window) {
    record.window->put_Visible(0);
    record.window->put_MessageDrain(0);
    record.window->put_Owner(0);
  }
  if (record.renderer && graph_) graph_->RemoveFilter(record.renderer.Get());
  for (TWindowInput& input : windowInput_)
    if (input.slot == slot) input = TWindowInput{};
  record = TDisplayRecord{};
}

void TFK::ShowDisplayWindows() {
  if (!initialised_) return;
  for (int slot = 0; slot < DisplaySlots; ++slot) {
    TDisplayRecord& record = displays_[slot];
    if (record.renderer && !record.window)
      record.renderer->QueryInterface(IID_IVideoWindow, record.window.PutVoid());
    TDisplayForm* form = DisplayForm(slot);
    // A slot shows in its form, so only a slot that a display window took shows at all.
    const bool shown = record.renderer && record.window && form && record.settings >= 0;
    if (shown) {
      SizeDisplay(slot);
      record.window->put_Visible(-1);
      form->show();
    } else {
      if (form) form->hide();
      if (record.window) record.window->put_Visible(0);
    }
  }
  QCoreApplication::processEvents();
  QThread::msleep(1);
  RepaintDisplays();
}

void TFK::PrepareDisplay(int slot) {
  if (slot < 0 || slot >= DisplaySlots) return;
  CreateDisplayForm(slot);
  TDisplayRecord& record = displays_[slot];
  if (!record.renderer) return;
  if (!record.window) record.renderer->QueryInterface(IID_IVideoWindow, record.window.PutVoid());
  // The window appears when the build shows it, not when the first frame arrives.
  if (record.window) record.window->put_AutoShow(0);
  if (!record.quality) record.renderer->QueryInterface(IID_IQualProp, record.quality.PutVoid());
}

// ---- display forms ----

TFK::TDisplayForms::~TDisplayForms() {
  for (QPointer<TDisplayForm>& form : forms) delete form.data();
}

TDisplayForm* TFK::DisplayForm(int slot) const {
  return slot >= 0 && slot < DisplaySlots ? displayForms_.forms[size_t(slot)].data() : nullptr;
}

void TFK::CreateDisplayForm(int slot) {
  if (slot < 0 || slot >= DisplaySlots || DisplayForm(slot)) return;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;  // no widgets without one
  auto* form = new TDisplayForm(*this, slot);
  const QSize native = NativeVideoSize(slot);
  form->setGeometry(QRect(QPoint(10, 10), native.isEmpty() ? QSize(320, 240) : native));
  displayForms_.forms[size_t(slot)] = form;
}

QWidget* TFK::ComponentWidget() const { return qobject_cast<QWidget*>(host_.sender); }

void TFK::AttachDisplay(int slot, QWidget* parent) {
  if (slot < 0 || slot >= DisplaySlots) return;
  CreateDisplayForm(slot);
  TDisplayForm* form = DisplayForm(slot);
  if (!form) return;
  const TVideoWindow* settings = SettingsOfSlot(slot);
  const bool wasShown = form->isVisible();
  form->hide();
  IVideoWindow* window = displays_[slot].window.Get();
  if (window) window->put_Visible(0);
  form->Place(parent, !parent && settings && settings->GetBool(TVideoWindow::StayOnTop));
  if (window) {
    const OAHWND id = WindowIdOf(form);
    window->put_Owner(id);
    window->put_WindowStyle(WS_CHILD);
    window->put_MessageDrain(id);
    window->put_Visible(-1);
  }
  SizeDisplay(slot);
  form->update();
  // A change of the settings while the video shows keeps it showing; a build shows it later.
  if (wasShown) form->show();
}

void TFK::LinkSlot(int slot, TVideoWindow& settings) {
  displays_[slot].settings = settings.WindowIndex();
  windowInput_[size_t(settings.WindowIndex())].slot = slot;
}

void TFK::LinkDisplayWindows() {
  if (!initialised_ || destroying_) return;
  if (std::none_of(displays_.begin(), displays_.end(), [](const TDisplayRecord& r) { return bool(r.renderer); }))
    return;
  for (TDisplayRecord& record : displays_) {
    record.settings = -1;
    record.linked = false;
  }
  for (TWindowInput& input : windowInput_) {
    input.slot = -1;
    input.linked = false;
  }
  TVideoWindow* windows[2] = {&DisplayWindow_, &DualDisplayWindow_};
  const auto active = [&](int w) { return windows[w]->GetBool(TVideoWindow::Active); };
  const auto free = [&](int w) { return windowInput_[size_t(w)].slot < 0; };
  if (displays_[ds_VideoPort].renderer) {
    const auto port = [&](int w) { return active(w) && windows[w]->GetBool(TVideoWindow::VideoPortEnabled); };
    if (port(0)) {
      LinkSlot(ds_VideoPort, DisplayWindow_);
    } else if (port(1)) {
      LinkSlot(ds_VideoPort, DualDisplayWindow_);
    } else {
      // Laid out once inside the panel, then left to no window.
      LinkSlot(ds_VideoPort, DisplayWindow_);
      AttachDisplay(ds_VideoPort, ComponentWidget());
      displays_[ds_VideoPort].settings = -1;
      windowInput_[0].slot = -1;
    }
  }
  for (int slot : {int(ds_Display), int(ds_DualDisplay)}) {
    if (!displays_[slot].renderer) continue;
    if (active(0) && free(0)) LinkSlot(slot, DisplayWindow_);
    else if (active(1) && free(1)) LinkSlot(slot, DualDisplayWindow_);
  }
  if (const int slot = windowInput_[0].slot; slot >= 0)
    AttachDisplay(slot, IsEmbedded(slot) && !DisplayWindow_.GetBool(TVideoWindow::FullScreen) ? ComponentWidget() : nullptr);
  if (const int slot = windowInput_[1].slot; slot >= 0)
    AttachDisplay(slot, IsEmbedded(slot) ? ComponentWidget() : nullptr);
  for (int w = 0; w < 2; ++w) {
    if (windowInput_[size_t(w)].slot < 0) continue;
    windowInput_[size_t(w)].linked = true;
    displays_[size_t(windowInput_[size_t(w)].slot)].linked = true;
  }
  // A slot no window took shows nowhere.
  for (int slot = 0; slot < DisplaySlots; ++slot) {
    if (displays_[slot].settings >= 0) continue;
    if (TDisplayForm* form = DisplayForm(slot)) form->hide();
    if (displays_[slot].window) displays_[slot].window->put_Visible(0);
  }
}

TVideoWindow* TFK::SettingsOfSlot(int slot) {
  if (slot < 0 || slot >= DisplaySlots) return nullptr;
  const int w = displays_[slot].settings;
  return w == 0 ? &DisplayWindow_ : w == 1 ? &DualDisplayWindow_ : nullptr;
}

const TVideoWindow* TFK::SettingsOfSlot(int slot) const { return const_cast<TFK*>(this)->SettingsOfSlot(slot); }

bool TFK::IsEmbedded(int slot) const {
  const TVideoWindow* settings = SettingsOfSlot(slot);
  const QWidget* component = ComponentWidget();
  return settings && settings->GetBool(TVideoWindow::Embedded) && component && component->parentWidget();
}

bool TFK::CanAutoSizeComponent(const TVideoWindow& settings) const {
  const QWidget* component = ComponentWidget();
  if (!settings.GetBool(TVideoWindow::Embedded) || !component || !component->parentWidget() ||
      !settings.GetBool(TVideoWindow::AutoSize))
    return false;
  // A panel that a layout sizes (filling its parent, or held on opposite sides) sizes the video, not the other way.
  const QLayout* layout = component->parentWidget()->layout();
  return !layout || layout->indexOf(const_cast<QWidget*>(component)) < 0;
}

bool TFK::MouseMovesWindowApplies(int slot) const {
  const TVideoWindow* settings = SettingsOfSlot(slot);
  return settings && settings->GetBool(TVideoWindow::MouseMovesWindow) && !settings->GetBool(TVideoWindow::FullScreen) &&
         !IsEmbedded(slot);
}

QSize TFK::NativeVideoSize(int slot) const {
  for (int s : {slot, int(ds_Display)}) {
    if (s < 0 || s >= DisplaySlots || !displays_[s].renderer) continue;
    ComPtr<IBasicVideo> video;
    LONG width = 0, height = 0;
    if (SUCCEEDED(displays_[s].renderer->QueryInterface(IID_IBasicVideo, video.PutVoid())) && video &&
        SUCCEEDED(video->GetVideoSize(&width, &height)))
      return QSize(int(width), int(height));
  }
  return QSize(selectedWidth_, selectedHeight_);
}

QSize TFK::VideoDisplaySize() const {
  const QSize size = nearestWidth_ > 0 && nearestHeight_ > 0 ? QSize(nearestWidth_, nearestHeight_) : NativeVideoSize();
  return ZoomVideoSize(size, PreviewZoomSize_);
}

QSize TFK::AutoSizedDisplay() const {
  const QSize wanted = VideoDisplaySize();
  const QWidget* component = ComponentWidget();
  const QWidget* parent = component ? component->parentWidget() : nullptr;
  if (!parent) return wanted;
  // A panel grown past its parent would show only part of the picture: it stops at the parent's
  // edges, and the video is boxed inside it.
  const QRect inside = parent->contentsRect();
  const int border = BorderThickness();
  return FitInRoom(wanted, QSize(inside.right() + 1 - component->x() - border,
                                 inside.bottom() + 1 - component->y() - border));
}

bool TFK::MonitorOf(const TVideoWindow& settings, QRect& rect) const {
  return MonitorRect(settings.GetInt(TVideoWindow::Monitor), rect) || MonitorRect(0, rect);
}

void TFK::SizeDisplay(int slot) {
  TVideoWindow* settings = SettingsOfSlot(slot);
  TDisplayForm* form = DisplayForm(slot);
  if (!settings || !form || sizingDisplay_) return;
  sizingDisplay_ = true;
  QRect monitor;
  const bool monitorKnown = MonitorOf(*settings, monitor);
  QRect bounds;
  if (settings->GetBool(TVideoWindow::FullScreen)) {
    if (monitorKnown) bounds = monitor;
    else if (const QScreen* screen = QGuiApplication::primaryScreen()) bounds = QRect(QPoint(0, 0), screen->geometry().size());
  } else if (QWidget* component = ComponentWidget(); IsEmbedded(slot) && component) {
    const QSize border(BorderThickness(), BorderThickness());
    QSize size;
    if (CanAutoSizeComponent(*settings)) {
      size = AutoSizedDisplay();
      component->resize(size + border);
    } else {
      size = (component->size() - border).expandedTo(QSize(0, 0));
    }
    bounds = QRect(component->contentsRect().topLeft(), size);
  } else {
    const QSize size = settings->GetBool(TVideoWindow::AutoSize)
                           ? VideoDisplaySize()
                           : QSize(settings->GetInt(TVideoWindow::Width), settings->GetInt(TVideoWindow::Height));
    QPoint at(settings->GetInt(TVideoWindow::Left), settings->GetInt(TVideoWindow::Top));
    if (monitorKnown) at += monitor.topLeft();
    bounds = QRect(at, size);
  }
  const QRect video = BoxVideo(bounds.size(), NativeVideoSize(slot), settings->GetBool(TVideoWindow::KeepAspectRatio));
  form->setGeometry(bounds);
  form->SetVideoRect(video);
  TDisplayRecord& record = displays_[slot];
  record.left = bounds.left();
  record.top = bounds.top();
  record.width = bounds.width();
  record.height = bounds.height();
  if (record.window && !video.isEmpty()) record.window->SetWindowPosition(video.left(), video.top(), video.width(), video.height());
  form->update();
  sizingDisplay_ = false;
}

void TFK::ResizeDisplays(bool processMessages) {
  if (!initialised_ || destroying_ || resizingDisplays_) return;
  resizingDisplays_ = true;
  if (state_ == cs_Preview || state_ == cs_Recording || state_ == cs_Player) {
    for (int slot = 0; slot < DisplaySlots; ++slot) SizeDisplay(slot);
  } else if (QWidget* component = ComponentWidget()) {
    const bool canSize = CanAutoSizeComponent(DisplayWindow_) || CanAutoSizeComponent(DualDisplayWindow_);
    if (canSize && selectedWidth_ > 0 && selectedHeight_ > 0)
      component->resize(AutoSizedDisplay() + QSize(BorderThickness(), BorderThickness()));
  }
  const QSize native = NativeVideoSize();
  Fire(&TFKEvents::OnResizeVideo, native.width(), native.height());
  if (processMessages) QCoreApplication::processEvents();
  resizingDisplays_ = false;
}

void TFK::ComponentResized() {
  QWidget* component = ComponentWidget();
  for (int slot = 0; slot < DisplaySlots; ++slot)
    if (TDisplayForm* form = DisplayForm(slot); form && component && form->parentWidget() == component) SizeDisplay(slot);
}

void TFK::OnVideoWindowChanged(TVideoWindow& settings, int index, int value) {
  // A drag stores the place the form already has.
  if (!initialised_ || destroying_ || storingDragPosition_) return;
  TWindowInput& input = windowInput_[size_t(settings.WindowIndex() & 1)];
  const bool showing = state_ == cs_Preview || state_ == cs_Recording || state_ == cs_Player;
  if (index == TVideoWindow::Active && value && !input.linked) RefreshPreview(QStringLiteral("vwn"));
  if (index == TVideoWindow::MouseMovesWindow && value) input.dragStart = QPoint(-1, -1);
  if ((index == TVideoWindow::AutoSize || index == TVideoWindow::Embedded || index == TVideoWindow::MouseMovesWindow ||
       index == 15) &&
      settings.GetBool(TVideoWindow::FullScreen) && showing)
    return;
  if (index == TVideoWindow::VideoPortEnabled && !videoTable_.Bool("_IsVideoPortAvailable")) return;
  LinkDisplayWindows();
  ResizeDisplays(true);
}

// ---- window input ----

namespace {

// The panel's own click events, which the panel offers as invokable methods.
void InvokeOnComponent(QObject* component, const char* method) {
  if (!component) return;
  const QByteArray signature = QByteArray(method) + "()";
  if (component->metaObject()->indexOfMethod(signature.constData()) >= 0)
    QMetaObject::invokeMethod(component, method, Qt::DirectConnection);
}

}  // namespace

void TFK::DisplayClick(int slot, bool doubleClick) {
  if (!SettingsOfSlot(slot) || destroying_) return;
  InvokeOnComponent(host_.sender, doubleClick ? "DblClick" : "Click");
}

void TFK::DisplayKeyPress(int slot, QChar typed) {
  if (const TVideoWindow* settings = SettingsOfSlot(slot)) windowInput_[size_t(settings->WindowIndex())].lastKey = typed;
}

void TFK::DisplayKeyRelease(int slot, uint16_t physicalKey, Qt::KeyboardModifiers modifiers) {
  TVideoWindow* settings = SettingsOfSlot(slot);
  if (!settings) return;
  const int w = settings->WindowIndex();
  QChar key = windowInput_[size_t(w)].lastKey;
  Fire(&TFKEvents::OnKeyPress, w, key, physicalKey, modifiers);
  if (key == QChar(27)) settings->SetBool(TVideoWindow::FullScreen, false);
}

namespace {

std::optional<QPoint> EventPoint(bool translate, QPoint at, const TDisplayForm* form, QSize native) {
  if (!translate) return at;
  return VideoPointOf(at, form ? form->VideoRect() : QRect(), native);
}

}  // namespace

void TFK::DisplayMouseDown(int slot, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint at, QPoint cursor) {
  const TVideoWindow* settings = SettingsOfSlot(slot);
  if (!settings) return;
  const int w = settings->WindowIndex();
  windowInput_[size_t(w)].dragStart = cursor - QPoint(1, 1);
  if (MouseMovesWindowApplies(slot)) return;
  if (const auto p = EventPoint(TranslateMouseCoordinates_, at, DisplayForm(slot), NativeVideoSize(slot)))
    Fire(&TFKEvents::OnMouseDown, w, button, modifiers, p->x(), p->y());
}

void TFK::DisplayMouseMove(int slot, Qt::KeyboardModifiers modifiers, QPoint at, QPoint cursor) {
  TVideoWindow* settings = SettingsOfSlot(slot);
  if (!settings) return;
  const int w = settings->WindowIndex();
  TWindowInput& input = windowInput_[size_t(w)];
  TDisplayForm* form = DisplayForm(slot);
  if (input.dragStart != QPoint(-1, -1) && MouseMovesWindowApplies(slot) && form) {
    const QPoint now = cursor - QPoint(1, 1);
    form->move(form->pos() + (now - input.dragStart));
    input.dragStart = now;
    QRect monitor;
    const QPoint origin = MonitorOf(*settings, monitor) ? monitor.topLeft() : QPoint();
    storingDragPosition_ = true;
    settings->SetInt(TVideoWindow::Left, form->x() - origin.x());
    settings->SetInt(TVideoWindow::Top, form->y() - origin.y());
    storingDragPosition_ = false;
    displays_[slot].left = form->x();
    displays_[slot].top = form->y();
    return;
  }
  if (const auto p = EventPoint(TranslateMouseCoordinates_, at, form, NativeVideoSize(slot)))
    Fire(&TFKEvents::OnMouseMove, w, modifiers, p->x(), p->y());
}

void TFK::DisplayMouseUp(int slot, Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint at) {
  const TVideoWindow* settings = SettingsOfSlot(slot);
  if (!settings) return;
  const int w = settings->WindowIndex();
  windowInput_[size_t(w)].dragStart = QPoint(-1, -1);
  if (MouseMovesWindowApplies(slot)) return;
  if (const auto p = EventPoint(TranslateMouseCoordinates_, at, DisplayForm(slot), NativeVideoSize(slot)))
    Fire(&TFKEvents::OnMouseUp, w, button, modifiers, p->x(), p->y());
}

// The colour key needs an overlay surface on the renderer's input, which no renderer here has.
void TFK::SetupColorKey() {}

void TFK::RestoreMixer() {
  if (!savedSpeaker_) return;
  SetSpeakerVolume(savedSpeaker_->first, savedSpeaker_->second);
  savedSpeaker_.reset();
}

}  // namespace kestrom::engine
