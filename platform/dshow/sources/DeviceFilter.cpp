#include "platform/dshow/sources/DeviceFilter.h"

#include "platform/com/ComRuntime.h"

#include <cstring>

namespace kestrom::dshow {

using namespace com;

CDeviceFilter::CDeviceFilter(const char* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &filterLock_, clsid) {}

HRESULT CDeviceFilter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT CDeviceFilter::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  const HRESULT hr = CBaseFilter::GetState(timeoutMs, state);
  if (hr == S_OK && *state == State_Paused && IsLiveSource()) return VFW_S_CANT_CUE;
  return hr;
}

HRESULT CDeviceFilter::Run(REFERENCE_TIME start) {
  std::lock_guard lock(*lock_);
  const HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  std::lock_guard stream(streamLock_);
  runClock_ = clock_;
  runStart_ = start;
  steadyStart_ = std::chrono::steady_clock::now();
  running_ = true;
  return hr;
}

HRESULT CDeviceFilter::Pause() {
  std::lock_guard lock(*lock_);
  {
    std::lock_guard stream(streamLock_);
    running_ = false;
  }
  return CBaseFilter::Pause();
}

HRESULT CDeviceFilter::Stop() {
  std::lock_guard lock(*lock_);
  {
    std::lock_guard stream(streamLock_);
    running_ = false;
  }
  return CBaseFilter::Stop();
}

HRESULT CDeviceFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  const HRESULT hr = CBaseFilter::JoinFilterGraph(graph, name);
  if (SUCCEEDED(hr)) {
    std::lock_guard stream(streamLock_);
    eventGraph_ = graph;
  }
  return hr;
}

REFERENCE_TIME CDeviceFilter::StreamTime() {
  std::lock_guard stream(streamLock_);
  if (!running_) return 0;
  if (runClock_) {
    REFERENCE_TIME now = 0;
    if (SUCCEEDED(runClock_->GetTime(&now))) return now - runStart_;
  }
  const auto elapsed = std::chrono::steady_clock::now() - steadyStart_;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100;
}

void CDeviceFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  ComPtr<IMediaEventSink> sink;
  {
    std::lock_guard stream(streamLock_);
    if (!eventGraph_ || FAILED(eventGraph_->QueryInterface(IID_IMediaEventSink, sink.PutVoid()))) return;
  }
  sink->Notify(code, param1, param2);
}

HRESULT CopyToTaskMemory(const QString& text, LPWSTR* out) {
  const size_t chars = static_cast<size_t>(text.size()) + 1;
  *out = static_cast<LPWSTR>(CoTaskMemAlloc(chars * sizeof(WCHAR)));
  if (!*out) return E_OUTOFMEMORY;
  std::memcpy(*out, text.utf16(), chars * sizeof(WCHAR));
  return S_OK;
}

}  // namespace kestrom::dshow
