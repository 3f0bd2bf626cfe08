#pragma once
// The renderer interfaces a program asks the graph for (IVideoWindow, IBasicVideo, IBasicAudio):
// each call goes to the filter of the graph that answers the interface, looked up at that call,
// so a renderer added, replaced or removed later is followed; with none, E_NOINTERFACE.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/RendererInterfaces.h"

#include <functional>
#include <vector>

namespace kestrom::dshow {

class CGraphRendererControls final : public IVideoWindow, public IBasicVideo, public IBasicAudio {
 public:
  using FilterList = std::function<std::vector<com::ComPtr<IBaseFilter>>()>;
  /** @brief owner: the graph's IUnknown (lifetime and identity); filters: the graph's filters. */
  CGraphRendererControls(IUnknown* owner, FilterList filters) : owner_(owner), filters_(std::move(filters)) {}

  /** @brief The interface for iid when it is one of the three, else null. */
  void* Interface(REFIID iid);

  HRESULT QueryInterface(REFIID iid, void** object) override { return owner_->QueryInterface(iid, object); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

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

  // IBasicAudio
  HRESULT put_Volume(LONG volume) override;
  HRESULT get_Volume(LONG* volume) override;
  HRESULT put_Balance(LONG balance) override;
  HRESULT get_Balance(LONG* balance) override;

 private:
  /** @brief The first filter answering I, or null. */
  template <typename I>
  com::ComPtr<I> Find(REFIID iid);
  template <typename I, typename Call>
  HRESULT Forward(REFIID iid, Call call);

  IUnknown* owner_;
  FilterList filters_;
};

}  // namespace kestrom::dshow
