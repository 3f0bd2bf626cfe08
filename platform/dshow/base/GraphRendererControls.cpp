#include "platform/dshow/base/GraphRendererControls.h"

namespace kestrom::dshow {

using namespace com;

void* CGraphRendererControls::Interface(REFIID iid) {
  if (iid == IID_IVideoWindow) return static_cast<IVideoWindow*>(this);
  if (iid == IID_IBasicVideo) return static_cast<IBasicVideo*>(this);
  if (iid == IID_IBasicAudio) return static_cast<IBasicAudio*>(this);
  return nullptr;
}

template <typename I>
ComPtr<I> CGraphRendererControls::Find(REFIID iid) {
  for (const ComPtr<IBaseFilter>& filter : filters_()) {
    ComPtr<I> answer;
    if (SUCCEEDED(filter->QueryInterface(iid, answer.PutVoid())) && answer) return answer;
  }
  return {};
}

template <typename I, typename Call>
HRESULT CGraphRendererControls::Forward(REFIID iid, Call call) {
  const ComPtr<I> target = Find<I>(iid);
  return target ? call(target.Get()) : E_NOINTERFACE;
}


// ---- IVideoWindow ----

HRESULT CGraphRendererControls::put_Caption(const WCHAR* caption) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_Caption(caption); });
}
HRESULT CGraphRendererControls::get_Caption(WCHAR** caption) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_Caption(caption); });
}
HRESULT CGraphRendererControls::put_WindowStyle(LONG style) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_WindowStyle(style); });
}
HRESULT CGraphRendererControls::get_WindowStyle(LONG* style) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_WindowStyle(style); });
}
HRESULT CGraphRendererControls::put_WindowStyleEx(LONG style) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_WindowStyleEx(style); });
}
HRESULT CGraphRendererControls::get_WindowStyleEx(LONG* style) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_WindowStyleEx(style); });
}
HRESULT CGraphRendererControls::put_AutoShow(LONG autoShow) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_AutoShow(autoShow); });
}
HRESULT CGraphRendererControls::get_AutoShow(LONG* autoShow) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_AutoShow(autoShow); });
}
HRESULT CGraphRendererControls::put_WindowState(LONG state) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_WindowState(state); });
}
HRESULT CGraphRendererControls::get_WindowState(LONG* state) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_WindowState(state); });
}
HRESULT CGraphRendererControls::put_BackgroundPalette(LONG palette) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_BackgroundPalette(palette); });
}
HRESULT CGraphRendererControls::get_BackgroundPalette(LONG* palette) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_BackgroundPalette(palette); });
}
HRESULT CGraphRendererControls::put_Visible(LONG visible) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_Visible(visible); });
}
HRESULT CGraphRendererControls::get_Visible(LONG* visible) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_Visible(visible); });
}
HRESULT CGraphRendererControls::put_Left(LONG left) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_Left(left); });
}
HRESULT CGraphRendererControls::get_Left(LONG* left) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_Left(left); });
}
HRESULT CGraphRendererControls::put_Width(LONG width) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_Width(width); });
}
HRESULT CGraphRendererControls::get_Width(LONG* width) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_Width(width); });
}
HRESULT CGraphRendererControls::put_Top(LONG top) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_Top(top); });
}
HRESULT CGraphRendererControls::get_Top(LONG* top) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_Top(top); });
}
HRESULT CGraphRendererControls::put_Height(LONG height) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_Height(height); });
}
HRESULT CGraphRendererControls::get_Height(LONG* height) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_Height(height); });
}
HRESULT CGraphRendererControls::put_Owner(OAHWND owner) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_Owner(owner); });
}
HRESULT CGraphRendererControls::get_Owner(OAHWND* owner) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_Owner(owner); });
}
HRESULT CGraphRendererControls::put_MessageDrain(OAHWND drain) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_MessageDrain(drain); });
}
HRESULT CGraphRendererControls::get_MessageDrain(OAHWND* drain) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_MessageDrain(drain); });
}
HRESULT CGraphRendererControls::get_BorderColor(LONG* colour) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_BorderColor(colour); });
}
HRESULT CGraphRendererControls::put_BorderColor(LONG colour) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_BorderColor(colour); });
}
HRESULT CGraphRendererControls::get_FullScreenMode(LONG* mode) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->get_FullScreenMode(mode); });
}
HRESULT CGraphRendererControls::put_FullScreenMode(LONG mode) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->put_FullScreenMode(mode); });
}
HRESULT CGraphRendererControls::SetWindowForeground(LONG focus) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->SetWindowForeground(focus); });
}
HRESULT CGraphRendererControls::NotifyOwnerMessage(OAHWND window, LONG message, LONG_PTR wParam, LONG_PTR lParam) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->NotifyOwnerMessage(window, message, wParam, lParam); });
}
HRESULT CGraphRendererControls::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->SetWindowPosition(left, top, width, height); });
}
HRESULT CGraphRendererControls::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->GetWindowPosition(left, top, width, height); });
}
HRESULT CGraphRendererControls::GetMinIdealImageSize(LONG* width, LONG* height) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->GetMinIdealImageSize(width, height); });
}
HRESULT CGraphRendererControls::GetMaxIdealImageSize(LONG* width, LONG* height) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->GetMaxIdealImageSize(width, height); });
}
HRESULT CGraphRendererControls::GetRestorePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->GetRestorePosition(left, top, width, height); });
}
HRESULT CGraphRendererControls::HideCursor(LONG hide) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->HideCursor(hide); });
}
HRESULT CGraphRendererControls::IsCursorHidden(LONG* hidden) {
  return Forward<IVideoWindow>(IID_IVideoWindow, [&](IVideoWindow* t) { return t->IsCursorHidden(hidden); });
}

// ---- IBasicVideo ----

HRESULT CGraphRendererControls::get_AvgTimePerFrame(double* seconds) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->get_AvgTimePerFrame(seconds); });
}
HRESULT CGraphRendererControls::get_BitRate(LONG* rate) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->get_BitRate(rate); });
}
HRESULT CGraphRendererControls::get_BitErrorRate(LONG* rate) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->get_BitErrorRate(rate); });
}
HRESULT CGraphRendererControls::get_VideoWidth(LONG* width) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->get_VideoWidth(width); });
}
HRESULT CGraphRendererControls::get_VideoHeight(LONG* height) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->get_VideoHeight(height); });
}
HRESULT CGraphRendererControls::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->SetSourcePosition(left, top, width, height); });
}
HRESULT CGraphRendererControls::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->GetSourcePosition(left, top, width, height); });
}
HRESULT CGraphRendererControls::SetDefaultSourcePosition() {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->SetDefaultSourcePosition(); });
}
HRESULT CGraphRendererControls::SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->SetDestinationPosition(left, top, width, height); });
}
HRESULT CGraphRendererControls::GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->GetDestinationPosition(left, top, width, height); });
}
HRESULT CGraphRendererControls::SetDefaultDestinationPosition() {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->SetDefaultDestinationPosition(); });
}
HRESULT CGraphRendererControls::GetVideoSize(LONG* width, LONG* height) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->GetVideoSize(width, height); });
}
HRESULT CGraphRendererControls::GetCurrentImage(LONG* bufferSize, LONG* image) {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->GetCurrentImage(bufferSize, image); });
}
HRESULT CGraphRendererControls::IsUsingDefaultSource() {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->IsUsingDefaultSource(); });
}
HRESULT CGraphRendererControls::IsUsingDefaultDestination() {
  return Forward<IBasicVideo>(IID_IBasicVideo, [&](IBasicVideo* t) { return t->IsUsingDefaultDestination(); });
}

// ---- IBasicAudio ----

HRESULT CGraphRendererControls::put_Volume(LONG volume) {
  return Forward<IBasicAudio>(IID_IBasicAudio, [&](IBasicAudio* t) { return t->put_Volume(volume); });
}
HRESULT CGraphRendererControls::get_Volume(LONG* volume) {
  return Forward<IBasicAudio>(IID_IBasicAudio, [&](IBasicAudio* t) { return t->get_Volume(volume); });
}
HRESULT CGraphRendererControls::put_Balance(LONG balance) {
  return Forward<IBasicAudio>(IID_IBasicAudio, [&](IBasicAudio* t) { return t->put_Balance(balance); });
}
HRESULT CGraphRendererControls::get_Balance(LONG* balance) {
  return Forward<IBasicAudio>(IID_IBasicAudio, [&](IBasicAudio* t) { return t->get_Balance(balance); });
}

}  // namespace kestrom::dshow
