#include "platform/dshow/sources/PushPin.h"

#include "platform/com/ComPtr.h"

namespace kestrom::dshow {

using namespace com;

CPushPin::CPushPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name)
    : CBaseOutputPin(objectName, filter, lock, nullptr, name) {}

CPushPin::~CPushPin() { StopThread(); }

HRESULT CPushPin::Active() {
  const HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  return StartThread();
}

HRESULT CPushPin::Inactive() {
  StopThread();
  return CBaseOutputPin::Inactive();
}

HRESULT CPushPin::StartThread() {
  if (thread_.joinable()) return S_OK;
  stop_ = false;
  try {
    thread_ = std::thread([this] { ThreadProc(); });
  } catch (const std::system_error&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CPushPin::StopThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(waitMutex_);
    stop_ = true;
  }
  wake_.notify_all();
  OnStopRequested();
  // A thread waiting for a free buffer wakes when the allocator is decommitted.
  if (allocator_) allocator_->Decommit();
  thread_.join();
  if (allocator_) allocator_->Commit();
}

bool CPushPin::WaitUnlessStopped(std::chrono::nanoseconds timeout) {
  std::unique_lock lock(waitMutex_);
  return !wake_.wait_for(lock, timeout, [this] { return stop_.load(); });
}

HRESULT CPushPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  request->cBuffers = std::max<LONG>(request->cBuffers, BufferCount());
  request->cbBuffer = std::max<LONG>(request->cbBuffer, FrameBufferSize());
  if (request->cbBuffer <= 0) return E_INVALIDARG;
  if (request->cbAlign <= 0) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

void CPushPin::ThreadProc() {
  HRESULT hr = OnThreadStart();
  if (FAILED(hr)) {
    StreamError(hr);
    return;
  }
  while (!stop_) {
    IMediaSample* raw = nullptr;
    hr = GetDeliveryBuffer(&raw, nullptr, nullptr, 0);
    if (FAILED(hr) || !raw) break;  // decommitted: we are stopping
    ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Attach(raw);
    hr = FillBuffer(sample.Get());
    if (stop_) break;
    if (hr == VFW_S_NO_MORE_ITEMS) continue;
    if (hr == S_FALSE) {
      DeliverEndOfStream();
      break;
    }
    if (FAILED(hr)) {
      StreamError(hr);
      DeliverEndOfStream();
      break;
    }
    hr = Deliver(sample.Get());
    if (hr == S_FALSE || stop_) break;  // downstream wants no more
    if (FAILED(hr)) {
      // A stopped or flushing downstream filter refuses samples: that is not a stream error.
      if (hr != VFW_E_WRONG_STATE && hr != VFW_E_NOT_COMMITTED) StreamError(hr);
      break;
    }
  }
  OnThreadStop();
}

}  // namespace kestrom::dshow
