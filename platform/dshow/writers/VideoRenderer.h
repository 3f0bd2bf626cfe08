#pragma once
// The video renderer, made under the class ids of the platform's video renderers (the mixing
// renderers 7 and 9 and the standard one). It shows each frame at its time on the graph's clock
// in a widget titled "ActiveMovie Window": a top-level window, or a child of the owner set through
// IVideoWindow. A paused graph shows the first frame and holds it. IBasicVideo gives the sizes and
// the current image, a packed bitmap (BITMAPINFOHEADER then the rows, bottom-up).

#include "platform/dshow/base/Renderer.h"
#include "platform/media/PictureScaler.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

class QObject;
struct SwsContext;
class QWidget;

namespace kestrom::dshow {

class CVideoRenderer final : public CBaseRenderer, public IVideoWindow, public IBasicVideo, public IQualProp {
 public:
  CVideoRenderer(IUnknown* outer, REFCLSID clsid);
  ~CVideoRenderer() override;
  static com::CUnknown* CreateVmr7(IUnknown* outer, HRESULT* hr);
  static com::CUnknown* CreateVmr9(IUnknown* outer, HRESULT* hr);
  static com::CUnknown* CreateStandard(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT Pause() override;

  // CBaseRenderer
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  void OnReceiveFirstSample(IMediaSample* sample) override;
  void OnStartStreaming() override;
  bool CanFrameStep() const override { return true; }

  /** @brief The window (made on first use; GUI thread). */
  QWidget* VideoWidget();
  /** @brief Frames shown since the last start. */
  int64_t FramesRendered() const;

  // IVideoWindow
  HRESULT put_Caption(const WCHAR* caption) override;
  HRESULT get_Caption(WCHAR** caption) override;
  HRESULT put_WindowStyle(LONG style) override;
  HRESULT get_WindowStyle(LONG* style) override;
  HRESULT put_WindowStyleEx(LONG style) override;
  HRESULT get_WindowStyleEx(LONG* style) override;
  HRESULT put_AutoShow(LONG autoShow) override;
  HRESULT get_AutoShow(LONG* autoShow) override;
  HRESULT put_WindowState(LONG state) override;
  HRESULT get_WindowState(LONG* state) override;
  HRESULT put_BackgroundPalette(LONG palette) override;
  HRESULT get_BackgroundPalette(LONG* palette) override;
  HRESULT put_Visible(LONG visible) override;
  HRESULT get_Visible(LONG* visible) override;
  HRESULT put_Left(LONG left) override;
  HRESULT get_Left(LONG* left) override;
  HRESULT put_Width(LONG width) override;
  HRESULT get_Width(LONG* width) override;
  HRESULT put_Top(LONG top) override;
  HRESULT get_Top(LONG* top) override;
  HRESULT put_Height(LONG height) override;
  HRESULT get_Height(LONG* height) override;
  HRESULT put_Owner(OAHWND owner) override;
  HRESULT get_Owner(OAHWND* owner) override;
  HRESULT put_MessageDrain(OAHWND drain) override;
  HRESULT get_MessageDrain(OAHWND* drain) override;
  HRESULT get_BorderColor(LONG* colour) override;
  HRESULT put_BorderColor(LONG colour) override;
  HRESULT get_FullScreenMode(LONG* mode) override;
  HRESULT put_FullScreenMode(LONG mode) override;
  HRESULT SetWindowForeground(LONG focus) override;
  HRESULT NotifyOwnerMessage(OAHWND window, LONG message, LONG_PTR wParam, LONG_PTR lParam) override;
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
  HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  HRESULT GetMinIdealImageSize(LONG* width, LONG* height) override;
  HRESULT GetMaxIdealImageSize(LONG* width, LONG* height) override;
  HRESULT GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  HRESULT HideCursor(LONG hide) override;
  HRESULT IsCursorHidden(LONG* hidden) override;

  // IBasicVideo
  HRESULT get_AvgTimePerFrame(double* seconds) override;
  HRESULT get_BitRate(LONG* rate) override;
  HRESULT get_BitErrorRate(LONG* rate) override;
  HRESULT get_VideoWidth(LONG* width) override;
  HRESULT get_VideoHeight(LONG* height) override;
  HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
  HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  HRESULT SetDefaultSourcePosition() override;
  HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override;
  HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  HRESULT SetDefaultDestinationPosition() override;
  HRESULT GetVideoSize(LONG* width, LONG* height) override;
  HRESULT GetCurrentImage(LONG* bufferSize, LONG* image) override;
  HRESULT IsUsingDefaultSource() override;
  HRESULT IsUsingDefaultDestination() override;

  // IQualProp: frames are never dropped here, each waits for its time.
  HRESULT get_FramesDroppedInRenderer(int* frames) override;
  HRESULT get_FramesDrawn(int* frames) override;
  HRESULT get_AvgFrameRate(int* rate) override;
  HRESULT get_Jitter(int* jitter) override;
  HRESULT get_AvgSyncOffset(int* offset) override;
  HRESULT get_DevSyncOffset(int* deviation) override;

  class Widget;
  /** @brief The last frame as a picture for painting, and the source rectangle (GUI thread). */
  QImage CurrentPicture(QRect* source, QRect* destination) const;
  QWidget* MessageDrain() const;

 private:
  QSize NativeSize() const;
  void RequestRepaint();
  HRESULT ShowSample(IMediaSample* sample);

  QObject* bridge_ = nullptr;  // lives on the GUI thread; carries repaint requests there
  QPointer<Widget> widget_;
  // What a queued repaint finds: the window, read only on the GUI thread, never the renderer itself.
  std::shared_ptr<QPointer<QWidget>> repaintTarget_ = std::make_shared<QPointer<QWidget>>();

  mutable std::mutex frameLock_;
  std::vector<BYTE> frame_;  // bottom-up rows of the current image
  BITMAPINFOHEADER header_{};
  bool haveFrame_ = false;
  int64_t frames_ = 0;
  // Running sums for the statistics (milliseconds): gaps between drawn frames and lateness.
  struct Moments {
    int64_t count = 0;
    double sum = 0, squares = 0;
    void Add(double x) { ++count, sum += x, squares += x * x; }
    int Mean() const;
    int Deviation() const;
  } gaps_, lateness_;
  QElapsedTimer sinceFirst_;
  qint64 lastDrawnMs_ = 0;
  media::PictureScaler converter_;  // for layouts other than 24- and 32-bit RGB
  bool convert_ = false;

  QString caption_ = QStringLiteral("ActiveMovie Window");
  LONG style_ = 0, styleEx_ = 0, autoShow_ = -1, windowState_ = 1, borderColour_ = 0, cursorHidden_ = 0;
  OAHWND owner_ = 0, drain_ = 0;
  QRect source_, destination_;
  bool defaultSource_ = true, defaultDestination_ = true;
};

}  // namespace kestrom::dshow
