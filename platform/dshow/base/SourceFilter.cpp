#include "platform/dshow/base/SourceFilter.h"

#include "platform/com/ComPtr.h"

#include <cstring>

namespace kestrom::dshow {

using namespace com;

// ---- pin category ----

HRESULT CPinCategory::Set(REFGUID, DWORD, void*, DWORD, void*, DWORD) { return E_NOTIMPL; }

HRESULT CPinCategory::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataLength, DWORD* returned) {
  if (!(set == AMPROPSETID_Pin)) return E_NOTIMPL;
  if (id != AMPROPERTY_PIN_CATEGORY || !HasCategory()) return E_NOTIMPL;
  if (!data) return E_POINTER;
  if (dataLength < sizeof(GUID)) return E_INVALIDARG;
  std::memcpy(data, &category_, sizeof(GUID));
  if (returned) *returned = sizeof(GUID);
  return S_OK;
}

HRESULT CPinCategory::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!(set == AMPROPSETID_Pin) || id != AMPROPERTY_PIN_CATEGORY || !HasCategory()) return E_NOTIMPL;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

GUID PinCategoryOf(IPin* pin) {
  if (!pin) return GUID_NULL;
  ComPtr<IKsPropertySet> props;
  if (FAILED(pin->QueryInterface(IID_IKsPropertySet, props.PutVoid())) || !props) return GUID_NULL;
  GUID category{};
  DWORD returned = 0;
  if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &returned)))
    return GUID_NULL;
  return category;
}

// ---- stream ----

CSourceStream::CSourceStream(const char* objectName, HRESULT* hr, CSource* filter, LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, filter->StateLock(), hr, pinName), source_(filter) {}

CSourceStream::~CSourceStream() {
  stop_ = true;
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

HRESULT CSourceStream::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IKsPropertySet && HasCategory()) return GetInterface(static_cast<IKsPropertySet*>(this), object);
  return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* type) {
  for (int i = 0;; ++i) {
    CMediaType offered;
    if (GetMediaType(i, &offered) != S_OK) return S_FALSE;
    if (offered == *type) return S_OK;
  }
}

HRESULT CSourceStream::Active() {
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  if (thread_.joinable()) return S_OK;
  stop_ = false;
  hold_ = false;
  {
    std::lock_guard lock(threadMutex_);
    idle_ = false;
  }
  try {
    thread_ = std::thread(&CSourceStream::ThreadProc, this);
  } catch (...) {
    CBaseOutputPin::Inactive();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CSourceStream::Inactive() {
  {
    std::lock_guard lock(threadMutex_);
    stop_ = true;
  }
  wake_.notify_all();
  Interrupt();
  // Decommitting wakes a GetBuffer that waits for a sample held downstream.
  const HRESULT hr = CBaseOutputPin::Inactive();
  if (thread_.joinable()) thread_.join();
  return hr;
}

void CSourceStream::StateChanged() {
  { std::lock_guard lock(threadMutex_); }
  wake_.notify_all();
}

bool CSourceStream::SleepUnlessStopped(std::chrono::milliseconds duration) {
  std::unique_lock lock(threadMutex_);
  return !wake_.wait_for(lock, duration, [&] { return stop_.load() || hold_.load(); });
}

bool CSourceStream::WaitToProduce(bool& startPlay) {
  std::unique_lock lock(threadMutex_);
  for (;;) {
    if (stop_) return false;
    if (hold_) {
      idle_ = true;
      wake_.notify_all();
      wake_.wait(lock);
      continue;
    }
    if (idle_) {
      idle_ = false;
      if (restarted_) {
        restarted_ = false;
        startPlay = true;
      }
    }
    // A live source has nothing to show before it runs.
    if (source_->IsLive() && source_->State() != State_Running) {
      wake_.wait(lock);
      continue;
    }
    return true;
  }
}

void CSourceStream::Idle() {
  std::unique_lock lock(threadMutex_);
  idle_ = true;
  wake_.notify_all();
  // Stay here until stopped or restarted by a seek.
  wake_.wait(lock, [&] { return stop_.load() || restarted_; });
}

void CSourceStream::ThreadProc() {
  if (FAILED(OnThreadCreate())) {
    source_->NotifyEvent(EC_ERRORABORT, E_FAIL, 0);
    OnThreadDestroy();
    return;
  }
  bool startPlay = true;
  for (;;) {
    if (!WaitToProduce(startPlay)) break;
    if (startPlay) {
      startPlay = false;
      OnThreadStartPlay();
    }
    IMediaSample* sample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      // Decommitted: the filter stops or a restart flushes; anything else ends the stream.
      if (stop_ || hold_) continue;
      Idle();
      continue;
    }
    hr = FillBuffer(sample);
    if (hr == S_OK) {
      if (stop_ || hold_) {
        sample->Release();
        continue;
      }
      hr = Deliver(sample);
      sample->Release();
      // Downstream refused: it stops, flushes or has had enough; wait for what comes next.
      if (hr != S_OK && !stop_ && !hold_) Idle();
      continue;
    }
    sample->Release();
    if (stop_ || hold_) continue;
    if (hr == S_FALSE) {
      DeliverEndOfStream();
    } else {
      source_->NotifyEvent(EC_ERRORABORT, hr, 0);
      DeliverEndOfStream();
    }
    Idle();
  }
  OnThreadDestroy();
}

HRESULT CSourceStream::Restart(const std::function<void()>& reposition) {
  if (!thread_.joinable()) {
    reposition();
    return S_OK;
  }
  {
    std::lock_guard lock(threadMutex_);
    hold_ = true;
  }
  wake_.notify_all();
  DeliverBeginFlush();
  Interrupt();
  {
    std::unique_lock lock(threadMutex_);
    wake_.wait(lock, [&] { return idle_ || stop_.load(); });
  }
  reposition();
  DeliverEndFlush();
  {
    std::lock_guard lock(threadMutex_);
    hold_ = false;
    restarted_ = true;
  }
  wake_.notify_all();
  return S_OK;
}

// ---- filter ----

CSource::CSource(const char* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &filterLock_, clsid) {}

CSource::~CSource() {
  // Threads end before the pins (and the derived parts they call) go.
  for (auto& pin : pins_)
    if (pin) pin->Inactive();
}

HRESULT CSource::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

int CSource::GetPinCount() {
  std::lock_guard lock(filterLock_);
  return static_cast<int>(pins_.size());
}

CBasePin* CSource::GetPin(int n) {
  std::lock_guard lock(filterLock_);
  return n >= 0 && n < static_cast<int>(pins_.size()) ? pins_[static_cast<size_t>(n)].get() : nullptr;
}

void CSource::AddPin(std::unique_ptr<CSourceStream> pin) {
  std::lock_guard lock(filterLock_);
  pins_.push_back(std::move(pin));
}

HRESULT CSource::Stop() {
  std::lock_guard lock(filterLock_);
  return CBaseFilter::Stop();
}

HRESULT CSource::Pause() {
  std::lock_guard lock(filterLock_);
  const HRESULT hr = CBaseFilter::Pause();
  for (auto& pin : pins_) pin->StateChanged();
  return hr;
}

HRESULT CSource::Run(REFERENCE_TIME start) {
  std::lock_guard lock(filterLock_);
  const HRESULT hr = CBaseFilter::Run(start);
  for (auto& pin : pins_) pin->StateChanged();
  return hr;
}

HRESULT CSource::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  const HRESULT hr = CBaseFilter::GetState(timeoutMs, state);
  if (SUCCEEDED(hr) && *state == State_Paused && IsLive()) return VFW_S_CANT_CUE;
  return hr;
}

}  // namespace kestrom::dshow
