#include "platform/dshow/writers/VideoRenderer.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"
#include "platform/dshow/writers/WindowIds.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <optional>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace kestrom::dshow {

using namespace com;

namespace {

bool OnGuiThread() { return qApp && QThread::currentThread() == qApp->thread(); }

HRESULT CopyText(const QString& text, WCHAR** out) {
  if (!out) return E_POINTER;
  const size_t bytes = size_t(text.size() + 1) * sizeof(WCHAR);
  *out = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
  if (!*out) return E_OUTOFMEMORY;
  std::memcpy(*out, text.utf16(), bytes);
  return S_OK;
}

}  // namespace

// ---- the window ----

class CVideoRenderer::Widget final : public QWidget {
 public:
  explicit Widget(CVideoRenderer* renderer) : renderer_(renderer) {
    setObjectName(QStringLiteral("ActiveMovie Window"));
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QRect source, destination;
    CVideoRenderer* renderer = renderer_.load();
    const QImage picture = renderer ? renderer->CurrentPicture(&source, &destination) : QImage();
    if (destination.isEmpty()) destination = rect();
    painter.fillRect(rect(), Qt::black);
    if (!picture.isNull()) painter.drawImage(destination, picture, source.isEmpty() ? picture.rect() : source);
  }
  // Input goes to the message drain when one is set, in its coordinates.
  void mousePressEvent(QMouseEvent* e) override { Forward(e); }
  void mouseReleaseEvent(QMouseEvent* e) override { Forward(e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { Forward(e); }
  void mouseMoveEvent(QMouseEvent* e) override { Forward(e); }
  void keyPressEvent(QKeyEvent* e) override { ForwardKey(e); }
  void keyReleaseEvent(QKeyEvent* e) override { ForwardKey(e); }

 private:
  void Forward(QMouseEvent* e) {
    CVideoRenderer* renderer = renderer_.load();
    QWidget* drain = renderer ? renderer->MessageDrain() : nullptr;
    if (!drain || drain == this) return e->ignore();
    const QPointF global = e->globalPosition();
    QMouseEvent copy(e->type(), drain->mapFromGlobal(global), global, e->button(), e->buttons(), e->modifiers());
    QCoreApplication::sendEvent(drain, &copy);
  }
  void ForwardKey(QKeyEvent* e) {
    CVideoRenderer* renderer = renderer_.load();
    QWidget* drain = renderer ? renderer->MessageDrain() : nullptr;
    if (!drain || drain == this) return e->ignore();
    QKeyEvent copy(e->type(), e->key(), e->modifiers(), e->text(), e->isAutoRepeat(), ushort(e->count()));
    QCoreApplication::sendEvent(drain, &copy);
  }

  friend class CVideoRenderer;
  std::atomic<CVideoRenderer*> renderer_;
};

// ---- the filter ----

CVideoRenderer::CVideoRenderer(IUnknown* outer, REFCLSID clsid) : CBaseRenderer("video renderer", outer, clsid, u"Input") {
  bridge_ = new QObject;
  if (qApp) bridge_->moveToThread(qApp->thread());
}

CVideoRenderer::~CVideoRenderer() {
  if (OnGuiThread()) {
    delete widget_.data();
    delete bridge_;
  } else {
    // Released off the GUI thread: the window goes later, and no longer asks this renderer.
    if (widget_) {
      widget_->renderer_ = nullptr;
      widget_->deleteLater();
    }
    bridge_->deleteLater();
  }
}

CUnknown* CVideoRenderer::CreateVmr7(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CVideoRenderer(outer, CLSID_VideoMixingRenderer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}
CUnknown* CVideoRenderer::CreateVmr9(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CVideoRenderer(outer, CLSID_VideoMixingRenderer9);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}
CUnknown* CVideoRenderer::CreateStandard(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CVideoRenderer(outer, CLSID_VideoRenderer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

HRESULT CVideoRenderer::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), object);
  if (iid == IID_IBasicVideo) return GetInterface(static_cast<IBasicVideo*>(this), object);
  if (iid == IID_IQualProp) return GetInterface(static_cast<IQualProp*>(this), object);
  return CBaseRenderer::NonDelegatingQueryInterface(iid, object);
}

HRESULT CVideoRenderer::CheckMediaType(const CMediaType* type) {
  const AVPixelFormat pf = PixelFormatOf(*type);
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
  if (pf == AV_PIX_FMT_NONE || !h || h->biWidth <= 0 || h->biHeight == 0 || h->biWidth > 8192 || std::abs(h->biHeight) > 8192)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

QWidget* CVideoRenderer::VideoWidget() {
  if (!widget_ && OnGuiThread()) {
    widget_ = new Widget(this);
    widget_->setWindowTitle(caption_);
    const QSize native = NativeSize();
    widget_->resize(native.isEmpty() ? QSize(320, 240) : native);
    if (QWidget* owner = WidgetOfWindowId(owner_)) widget_->setParent(owner);
    *repaintTarget_ = widget_.data();
  }
  return widget_.data();
}

QWidget* CVideoRenderer::MessageDrain() const { return WidgetOfWindowId(drain_); }

int64_t CVideoRenderer::FramesRendered() const {
  std::lock_guard lock(frameLock_);
  return frames_;
}

QSize CVideoRenderer::NativeSize() const {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(input_->CurrentMediaType());
  return h ? QSize(h->biWidth, std::abs(h->biHeight)) : QSize();
}

HRESULT CVideoRenderer::SetMediaType(const CMediaType* type) {
  std::lock_guard lock(frameLock_);
  haveFrame_ = false;
  converter_.Reset();
  convert_ = false;
  const CMediaType& mt = *type;
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(mt);
  const AVPixelFormat pf = PixelFormatOf(mt);
  if (!h || pf == AV_PIX_FMT_NONE) return VFW_E_TYPE_NOT_ACCEPTED;
  header_ = BITMAPINFOHEADER{};
  header_.biSize = sizeof(BITMAPINFOHEADER);
  header_.biWidth = h->biWidth;
  header_.biHeight = std::abs(h->biHeight);
  header_.biPlanes = 1;
  // The current image keeps RGB as it comes; other layouts become 32-bit RGB.
  header_.biBitCount = pf == AV_PIX_FMT_BGR24 ? 24 : 32;
  header_.biCompression = BI_RGB;
  header_.biSizeImage = DWORD(RgbStride(header_.biWidth, header_.biBitCount) * header_.biHeight);
  if (pf != AV_PIX_FMT_BGR24 && pf != AV_PIX_FMT_BGRA) {
    convert_ = converter_.Prepare(header_.biWidth, header_.biHeight, pf, header_.biWidth, header_.biHeight,
                                  AV_PIX_FMT_BGRA, SWS_POINT);
    if (!convert_) return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

void CVideoRenderer::OnStartStreaming() {
  std::lock_guard lock(frameLock_);
  frames_ = 0;
  gaps_ = lateness_ = Moments{};
  sinceFirst_.invalidate();
}

HRESULT CVideoRenderer::Pause() {
  const bool starting = IsStopped();
  const HRESULT hr = CBaseRenderer::Pause();
  if (starting && autoShow_ && OnGuiThread()) {
    if (QWidget* w = VideoWidget(); w && w->isWindow()) w->show();
  }
  return hr;
}

// The paused frame (and each stepped frame) is shown as it arrives.
void CVideoRenderer::OnReceiveFirstSample(IMediaSample* sample) { ShowSample(sample); }

HRESULT CVideoRenderer::DoRenderSample(IMediaSample* sample) { return ShowSample(sample); }

HRESULT CVideoRenderer::ShowSample(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  // How late the frame is against its time (read before the frame lock: the clock takes the filter's).
  std::optional<double> late;
  REFERENCE_TIME start = 0, stop = 0, streamTime = 0;
  if (State() == State_Running && SUCCEEDED(sample->GetTime(&start, &stop)) && SUCCEEDED(StreamTime(&streamTime)))
    late = double(streamTime - start) / 10000.0;
  std::lock_guard lock(frameLock_);
  const CMediaType& mt = InputPin()->CurrentMediaType();
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(mt);
  if (!h) return VFW_E_NOT_CONNECTED;
  frame_.resize(header_.biSizeImage);
  const int width = header_.biWidth, height = header_.biHeight;
  const int stride = RgbStride(width, header_.biBitCount);
  if (!convert_) {
    if (sample->GetActualDataLength() < LONG(header_.biSizeImage)) return VFW_E_BUFFER_OVERFLOW;
    if (h->biHeight > 0) {
      std::memcpy(frame_.data(), data, header_.biSizeImage);
    } else {
      for (int y = 0; y < height; ++y)  // top-down rows come in: store bottom-up
        std::memcpy(&frame_[size_t(height - 1 - y) * stride], data + size_t(y) * stride, size_t(stride));
    }
  } else {
    const AVPixelFormat pf = PixelFormatOf(mt);
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    if (av_image_fill_arrays(const_cast<uint8_t**>(planes), strides, data, pf, width, height, 1) < 0 ||
        sample->GetActualDataLength() < av_image_get_buffer_size(pf, width, height, 1))
      return VFW_E_BUFFER_OVERFLOW;
    if (mt.subtype == MEDIASUBTYPE_YV12) std::swap(planes[1], planes[2]);
    uint8_t* const target[4] = {frame_.data() + size_t(stride) * (height - 1)};
    const int targetStride[4] = {-stride};
    if (!converter_.Scale(planes, strides, target, targetStride)) return E_FAIL;
  }
  haveFrame_ = true;
  ++frames_;
  // Statistics: the gap since the frame before, and how late the frame is against its time.
  if (!sinceFirst_.isValid()) {
    sinceFirst_.start();
    lastDrawnMs_ = 0;
  } else {
    const qint64 now = sinceFirst_.elapsed();
    gaps_.Add(double(now - lastDrawnMs_));
    lastDrawnMs_ = now;
  }
  if (late) lateness_.Add(*late);
  RequestRepaint();
  return S_OK;
}

void CVideoRenderer::RequestRepaint() {
  QMetaObject::invokeMethod(
      bridge_,
      [target = repaintTarget_] {
        if (*target) (*target)->update();
      },
      Qt::QueuedConnection);
}

QImage CVideoRenderer::CurrentPicture(QRect* source, QRect* destination) const {
  std::lock_guard lock(frameLock_);
  if (source) *source = source_;
  if (destination) *destination = destination_;
  if (!haveFrame_) return {};
  const QImage view(frame_.data(), header_.biWidth, header_.biHeight, RgbStride(header_.biWidth, header_.biBitCount),
                    header_.biBitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
  return view.mirrored();  // a deep copy, top row first
}

// ---- IVideoWindow ----

HRESULT CVideoRenderer::put_Caption(const WCHAR* caption) {
  if (!caption) return E_POINTER;
  caption_ = QString::fromUtf16(caption);
  if (QWidget* w = VideoWidget()) w->setWindowTitle(caption_);
  return S_OK;
}
HRESULT CVideoRenderer::get_Caption(WCHAR** caption) { return CopyText(caption_, caption); }
HRESULT CVideoRenderer::put_WindowStyle(LONG style) {
  style_ = style;
  return S_OK;
}
HRESULT CVideoRenderer::get_WindowStyle(LONG* style) {
  if (!style) return E_POINTER;
  *style = style_;
  return S_OK;
}
HRESULT CVideoRenderer::put_WindowStyleEx(LONG style) {
  styleEx_ = style;
  return S_OK;
}
HRESULT CVideoRenderer::get_WindowStyleEx(LONG* style) {
  if (!style) return E_POINTER;
  *style = styleEx_;
  return S_OK;
}
HRESULT CVideoRenderer::put_AutoShow(LONG autoShow) {
  autoShow_ = autoShow ? -1 : 0;
  return S_OK;
}
HRESULT CVideoRenderer::get_AutoShow(LONG* autoShow) {
  if (!autoShow) return E_POINTER;
  *autoShow = autoShow_;
  return S_OK;
}
HRESULT CVideoRenderer::put_WindowState(LONG state) {
  windowState_ = state;
  QWidget* w = VideoWidget();
  if (!w) return VFW_E_WRONG_STATE;
  if (state == 0) w->hide();          // hidden
  else if (state == 3) w->showMaximized();
  else if (state == 6 || state == 2) w->showMinimized();
  else w->show();
  return S_OK;
}
HRESULT CVideoRenderer::get_WindowState(LONG* state) {
  if (!state) return E_POINTER;
  *state = windowState_;
  return S_OK;
}
HRESULT CVideoRenderer::put_BackgroundPalette(LONG) { return S_OK; }
HRESULT CVideoRenderer::get_BackgroundPalette(LONG* palette) {
  if (!palette) return E_POINTER;
  *palette = 0;
  return S_OK;
}
HRESULT CVideoRenderer::put_Visible(LONG visible) {
  QWidget* w = VideoWidget();
  if (!w) return VFW_E_WRONG_STATE;
  w->setVisible(visible != 0);
  return S_OK;
}
HRESULT CVideoRenderer::get_Visible(LONG* visible) {
  if (!visible) return E_POINTER;
  QWidget* w = VideoWidget();
  *visible = w && w->isVisible() ? -1 : 0;
  return S_OK;
}

HRESULT CVideoRenderer::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
  if (width < 0 || height < 0) return E_INVALIDARG;
  QWidget* w = VideoWidget();
  if (!w) return VFW_E_WRONG_STATE;
  w->setGeometry(left, top, width, height);
  return S_OK;
}
HRESULT CVideoRenderer::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  QWidget* w = VideoWidget();
  if (!w) return VFW_E_WRONG_STATE;
  const QRect g = w->geometry();
  *left = g.left(), *top = g.top(), *width = g.width(), *height = g.height();
  return S_OK;
}
HRESULT CVideoRenderer::put_Left(LONG left) {
  LONG l, t, w, h;
  const HRESULT hr = GetWindowPosition(&l, &t, &w, &h);
  return FAILED(hr) ? hr : SetWindowPosition(left, t, w, h);
}
HRESULT CVideoRenderer::get_Left(LONG* left) {
  LONG t, w, h;
  return GetWindowPosition(left, &t, &w, &h);
}
HRESULT CVideoRenderer::put_Width(LONG width) {
  LONG l, t, w, h;
  const HRESULT hr = GetWindowPosition(&l, &t, &w, &h);
  return FAILED(hr) ? hr : SetWindowPosition(l, t, width, h);
}
HRESULT CVideoRenderer::get_Width(LONG* width) {
  LONG l, t, h;
  return GetWindowPosition(&l, &t, width, &h);
}
HRESULT CVideoRenderer::put_Top(LONG top) {
  LONG l, t, w, h;
  const HRESULT hr = GetWindowPosition(&l, &t, &w, &h);
  return FAILED(hr) ? hr : SetWindowPosition(l, top, w, h);
}
HRESULT CVideoRenderer::get_Top(LONG* top) {
  LONG l, w, h;
  return GetWindowPosition(&l, top, &w, &h);
}
HRESULT CVideoRenderer::put_Height(LONG height) {
  LONG l, t, w, h;
  const HRESULT hr = GetWindowPosition(&l, &t, &w, &h);
  return FAILED(hr) ? hr : SetWindowPosition(l, t, w, height);
}
HRESULT CVideoRenderer::get_Height(LONG* height) {
  LONG l, t, w;
  return GetWindowPosition(&l, &t, &w, height);
}

HRESULT CVideoRenderer::put_Owner(OAHWND owner) {
  QWidget* parent = WidgetOfWindowId(owner);
  if (owner && !parent) return E_INVALIDARG;  // a window that is gone, or never was
  QWidget* w = VideoWidget();
  if (!w) return VFW_E_WRONG_STATE;
  owner_ = owner;
  const bool visible = w->isVisible();
  const QRect geometry = w->geometry();
  w->setParent(parent);  // null: a window of its own again
  w->setGeometry(geometry);
  w->setVisible(visible);
  return S_OK;
}
HRESULT CVideoRenderer::get_Owner(OAHWND* owner) {
  if (!owner) return E_POINTER;
  // An owner that has been destroyed is no owner.
  *owner = WidgetOfWindowId(owner_) ? owner_ : 0;
  return S_OK;
}
HRESULT CVideoRenderer::put_MessageDrain(OAHWND drain) {
  if (drain && !WidgetOfWindowId(drain)) return E_INVALIDARG;
  drain_ = drain;
  // A drain hears every move over the video, as it would over its own window.
  if (QWidget* w = VideoWidget()) w->setMouseTracking(drain != 0);
  return S_OK;
}
HRESULT CVideoRenderer::get_MessageDrain(OAHWND* drain) {
  if (!drain) return E_POINTER;
  *drain = WidgetOfWindowId(drain_) ? drain_ : 0;
  return S_OK;
}
HRESULT CVideoRenderer::get_BorderColor(LONG* colour) {
  if (!colour) return E_POINTER;
  *colour = borderColour_;
  return S_OK;
}
HRESULT CVideoRenderer::put_BorderColor(LONG colour) {
  borderColour_ = colour;
  return S_OK;
}
HRESULT CVideoRenderer::get_FullScreenMode(LONG*) { return E_NOTIMPL; }
HRESULT CVideoRenderer::put_FullScreenMode(LONG) { return E_NOTIMPL; }
HRESULT CVideoRenderer::SetWindowForeground(LONG focus) {
  QWidget* w = VideoWidget();
  if (!w) return VFW_E_WRONG_STATE;
  w->raise();
  if (focus) w->activateWindow();
  return S_OK;
}
HRESULT CVideoRenderer::NotifyOwnerMessage(OAHWND, LONG, LONG_PTR, LONG_PTR) { return S_OK; }
HRESULT CVideoRenderer::GetMinIdealImageSize(LONG* width, LONG* height) { return GetVideoSize(width, height); }
HRESULT CVideoRenderer::GetMaxIdealImageSize(LONG* width, LONG* height) { return GetVideoSize(width, height); }
HRESULT CVideoRenderer::GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return GetWindowPosition(left, top, width, height);
}
HRESULT CVideoRenderer::HideCursor(LONG hide) {
  cursorHidden_ = hide ? -1 : 0;
  if (QWidget* w = VideoWidget()) w->setCursor(hide ? Qt::BlankCursor : Qt::ArrowCursor);
  return S_OK;
}
HRESULT CVideoRenderer::IsCursorHidden(LONG* hidden) {
  if (!hidden) return E_POINTER;
  *hidden = cursorHidden_;
  return S_OK;
}

// ---- IBasicVideo ----

HRESULT CVideoRenderer::get_AvgTimePerFrame(double* seconds) {
  if (!seconds) return E_POINTER;
  if (!InputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
  *seconds = double(AvgTimePerFrame(InputPin()->CurrentMediaType())) / 1e7;
  return S_OK;
}
HRESULT CVideoRenderer::get_BitRate(LONG* rate) {
  if (!rate) return E_POINTER;
  *rate = 0;
  return S_OK;
}
HRESULT CVideoRenderer::get_BitErrorRate(LONG* rate) {
  if (!rate) return E_POINTER;
  *rate = 0;
  return S_OK;
}
HRESULT CVideoRenderer::get_VideoWidth(LONG* width) {
  LONG h;
  return GetVideoSize(width, &h);
}
HRESULT CVideoRenderer::get_VideoHeight(LONG* height) {
  LONG w;
  return GetVideoSize(&w, height);
}
HRESULT CVideoRenderer::GetVideoSize(LONG* width, LONG* height) {
  if (!width || !height) return E_POINTER;
  if (!InputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
  const QSize s = NativeSize();
  *width = s.width(), *height = s.height();
  return S_OK;
}
HRESULT CVideoRenderer::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
  const QSize native = NativeSize();
  if (width <= 0 || height <= 0 || left < 0 || top < 0 || left + width > native.width() || top + height > native.height())
    return E_INVALIDARG;
  std::lock_guard lock(frameLock_);
  source_ = QRect(left, top, width, height);
  defaultSource_ = false;
  return S_OK;
}
HRESULT CVideoRenderer::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  std::lock_guard lock(frameLock_);
  const QRect r = defaultSource_ ? QRect(QPoint(0, 0), NativeSize()) : source_;
  *left = r.left(), *top = r.top(), *width = r.width(), *height = r.height();
  return S_OK;
}
HRESULT CVideoRenderer::SetDefaultSourcePosition() {
  std::lock_guard lock(frameLock_);
  source_ = QRect();
  defaultSource_ = true;
  return S_OK;
}
HRESULT CVideoRenderer::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
  if (width <= 0 || height <= 0) return E_INVALIDARG;
  {
    std::lock_guard lock(frameLock_);
    destination_ = QRect(left, top, width, height);
    defaultDestination_ = false;
  }
  RequestRepaint();
  return S_OK;
}
HRESULT CVideoRenderer::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  if (!left || !top || !width || !height) return E_POINTER;
  QRect r;
  {
    std::lock_guard lock(frameLock_);
    r = destination_;
  }
  if (r.isEmpty()) {
    QWidget* w = VideoWidget();
    r = w ? w->rect() : QRect(QPoint(0, 0), NativeSize());
  }
  *left = r.left(), *top = r.top(), *width = r.width(), *height = r.height();
  return S_OK;
}
HRESULT CVideoRenderer::SetDefaultDestinationPosition() {
  {
    std::lock_guard lock(frameLock_);
    destination_ = QRect();
    defaultDestination_ = true;
  }
  RequestRepaint();
  return S_OK;
}
HRESULT CVideoRenderer::GetCurrentImage(LONG* bufferSize, LONG* image) {
  if (!bufferSize) return E_POINTER;
  std::lock_guard lock(frameLock_);
  if (!haveFrame_) return E_UNEXPECTED;
  const LONG needed = LONG(sizeof(BITMAPINFOHEADER) + header_.biSizeImage);
  if (!image) {
    *bufferSize = needed;
    return S_OK;
  }
  if (*bufferSize < needed) return E_OUTOFMEMORY;
  auto* out = reinterpret_cast<BYTE*>(image);
  std::memcpy(out, &header_, sizeof header_);
  std::memcpy(out + sizeof header_, frame_.data(), header_.biSizeImage);
  *bufferSize = needed;
  return S_OK;
}
// ---- IQualProp ----

int CVideoRenderer::Moments::Mean() const { return count ? int(std::lround(sum / count)) : 0; }
int CVideoRenderer::Moments::Deviation() const {
  if (count < 2) return 0;
  const double mean = sum / count;
  return int(std::lround(std::sqrt(std::max(0.0, squares / count - mean * mean))));
}

HRESULT CVideoRenderer::get_FramesDroppedInRenderer(int* frames) {
  if (!frames) return E_POINTER;
  *frames = 0;
  return S_OK;
}
HRESULT CVideoRenderer::get_FramesDrawn(int* frames) {
  if (!frames) return E_POINTER;
  std::lock_guard lock(frameLock_);
  *frames = int(frames_);
  return S_OK;
}
HRESULT CVideoRenderer::get_AvgFrameRate(int* rate) {
  if (!rate) return E_POINTER;
  std::lock_guard lock(frameLock_);
  // Frames per second in hundredths, from the gaps between the frames drawn.
  *rate = gaps_.sum > 0 ? int(std::lround(gaps_.count * 100000.0 / gaps_.sum)) : 0;
  return S_OK;
}
HRESULT CVideoRenderer::get_Jitter(int* jitter) {
  if (!jitter) return E_POINTER;
  std::lock_guard lock(frameLock_);
  *jitter = gaps_.Deviation();
  return S_OK;
}
HRESULT CVideoRenderer::get_AvgSyncOffset(int* offset) {
  if (!offset) return E_POINTER;
  std::lock_guard lock(frameLock_);
  *offset = lateness_.Mean();
  return S_OK;
}
HRESULT CVideoRenderer::get_DevSyncOffset(int* deviation) {
  if (!deviation) return E_POINTER;
  std::lock_guard lock(frameLock_);
  *deviation = lateness_.Deviation();
  return S_OK;
}

HRESULT CVideoRenderer::IsUsingDefaultSource() { return defaultSource_ ? S_OK : S_FALSE; }
HRESULT CVideoRenderer::IsUsingDefaultDestination() { return defaultDestination_ ? S_OK : S_FALSE; }

}  // namespace kestrom::dshow
