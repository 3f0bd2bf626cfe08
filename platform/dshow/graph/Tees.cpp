#include "platform/dshow/graph/Tees.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace kestrom::dshow::graph {

using namespace com;

// ---- Smart Tee ----

class CSmartTee::InputPin final : public CBaseInputPin {
 public:
  explicit InputPin(CSmartTee* tee) : CBaseInputPin("smart tee input", tee, &tee->filterLock_, nullptr, u"Input"), tee_(tee) {}

  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return tee_->Receive(sample);
  }
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  CSmartTee* tee_;
};

class CSmartTee::CapturePin final : public CPassThroughOutputPin, public CPinCategory, public CBaseStreamControl {
 public:
  explicit CapturePin(CSmartTee* tee)
      : CPassThroughOutputPin("smart tee capture", tee, &tee->filterLock_, u"Capture", tee->input_.get()),
        CBaseStreamControl(tee, this) {
    SetCategory(PIN_CATEGORY_CAPTURE);
  }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
    if (iid == IID_IAMStreamControl) return GetInterface(static_cast<IAMStreamControl*>(this), object);
    return CPassThroughOutputPin::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT Inactive() override {
    ResetStreamControl();
    return S_OK;
  }
};

// The preview output copies samples into its own buffers and delivers them on its own thread;
// while that thread is busy, new frames are dropped.
class CSmartTee::PreviewPin final : public CBaseOutputPin, public CPinCategory {
 public:
  explicit PreviewPin(CSmartTee* tee)
      : CBaseOutputPin("smart tee preview", tee, &tee->filterLock_, nullptr, u"Preview"), tee_(tee) {
    SetCategory(PIN_CATEGORY_PREVIEW);
  }
  ~PreviewPin() override { StopThread(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT CheckConnect(IPin* pin) override {
    if (!tee_->input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseOutputPin::CheckConnect(pin);
  }
  HRESULT CheckMediaType(const CMediaType* type) override {
    if (!tee_->input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    return *type == tee_->input_->CurrentMediaType() ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (!tee_->input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = tee_->input_->CurrentMediaType();
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    ALLOCATOR_PROPERTIES upstream{};
    if (IMemAllocator* in = tee_->input_->PeekAllocator()) in->GetProperties(&upstream);
    request->cBuffers = 2;
    const LONG size = static_cast<LONG>(tee_->input_->CurrentMediaType().lSampleSize);
    request->cbBuffer = std::max({size, upstream.cbBuffer, LONG{1}});
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }

  HRESULT Active() override {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    {
      std::lock_guard lock(queueLock_);
      stop_ = false;
      endPending_ = false;
    }
    try {
      thread_ = std::thread([this] { ThreadProc(); });
    } catch (...) {
      CBaseOutputPin::Inactive();
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT Inactive() override {
    // Wake the thread, free the buffers, then join: the renderer downstream stopped first.
    StopThread();
    return CBaseOutputPin::Inactive();
  }

  /** @brief Copies the sample for the preview, or drops it when the preview is busy. */
  void Offer(IMediaSample* sample) {
    {
      std::lock_guard lock(queueLock_);
      if (stop_ || pending_ || delivering_ || endPending_) {
        tee_->dropped_.fetch_add(1);
        return;
      }
    }
    IMediaSample* copy = nullptr;
    if (FAILED(GetDeliveryBuffer(&copy, nullptr, nullptr, AM_GBF_NOWAIT)) || !copy) {
      tee_->dropped_.fetch_add(1);
      return;
    }
    BYTE* from = nullptr;
    BYTE* to = nullptr;
    sample->GetPointer(&from);
    copy->GetPointer(&to);
    const LONG length = std::min(sample->GetActualDataLength(), copy->GetSize());
    if (from && to && length > 0) std::memcpy(to, from, static_cast<size_t>(length));
    copy->SetActualDataLength(length);
    // Untimed: the preview shows frames as they come, never waiting for the clock.
    copy->SetTime(nullptr, nullptr);
    copy->SetSyncPoint(sample->IsSyncPoint() == S_OK);
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
      copy->SetMediaType(changed);
      DeleteMediaType(changed);
    }
    {
      std::lock_guard lock(queueLock_);
      if (stop_ || pending_ || delivering_) {
        tee_->dropped_.fetch_add(1);
        copy->Release();
        return;
      }
      pending_ = copy;
    }
    wake_.notify_all();
  }

  void Flush() {
    IMediaSample* dropped = nullptr;
    {
      std::lock_guard lock(queueLock_);
      dropped = pending_;
      pending_ = nullptr;
      endPending_ = false;
    }
    if (dropped) dropped->Release();
  }

  /** @brief The end of the stream follows the frame the preview thread still delivers. */
  void QueueEndOfStream() {
    {
      std::lock_guard lock(queueLock_);
      if (stop_) return;
      endPending_ = true;
    }
    wake_.notify_all();
  }

 private:
  void StopThread() {
    {
      std::lock_guard lock(queueLock_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    Flush();
  }

  void ThreadProc() {
    for (;;) {
      IMediaSample* sample = nullptr;
      bool end = false;
      {
        std::unique_lock lock(queueLock_);
        wake_.wait(lock, [&] { return stop_ || pending_ || endPending_; });
        if (stop_) return;
        // The thread owns the sample it delivers; a flush only drops one still queued.
        sample = std::exchange(pending_, nullptr);
        if (sample) {
          delivering_ = true;
        } else {
          end = true;
          endPending_ = false;
        }
      }
      if (end) {
        DeliverEndOfStream();
        continue;
      }
      Deliver(sample);
      sample->Release();
      {
        std::lock_guard lock(queueLock_);
        delivering_ = false;
      }
    }
  }

  CSmartTee* tee_;
  std::mutex queueLock_;
  std::condition_variable wake_;
  IMediaSample* pending_ = nullptr;  // referenced; waiting for the thread
  bool delivering_ = false;          // the thread is delivering a sample of its own
  bool endPending_ = false;
  bool stop_ = true;
  std::thread thread_;
};

HRESULT CSmartTee::InputPin::CheckMediaType(const CMediaType* type) {
  for (CBaseOutputPin* out : {static_cast<CBaseOutputPin*>(tee_->capture_.get()), static_cast<CBaseOutputPin*>(tee_->preview_.get())}) {
    if (out->IsConnected() && out->GetConnected()->QueryAccept(type) != S_OK) return S_FALSE;
  }
  return S_OK;
}

HRESULT CSmartTee::InputPin::EndOfStream() {
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  if (tee_->capture_->IsConnected()) tee_->capture_->DeliverEndOfStream();
  if (tee_->preview_->IsConnected()) tee_->preview_->QueueEndOfStream();
  return S_OK;
}

HRESULT CSmartTee::InputPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  tee_->preview_->Flush();
  if (tee_->capture_->IsConnected()) tee_->capture_->DeliverBeginFlush();
  if (tee_->preview_->IsConnected()) tee_->preview_->DeliverBeginFlush();
  return S_OK;
}

HRESULT CSmartTee::InputPin::EndFlush() {
  if (tee_->capture_->IsConnected()) tee_->capture_->DeliverEndFlush();
  if (tee_->preview_->IsConnected()) tee_->preview_->DeliverEndFlush();
  return CBaseInputPin::EndFlush();
}

HRESULT CSmartTee::InputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBaseInputPin::NewSegment(start, stop, rate);
  if (tee_->capture_->IsConnected()) tee_->capture_->DeliverNewSegment(start, stop, rate);
  if (tee_->preview_->IsConnected()) tee_->preview_->DeliverNewSegment(start, stop, rate);
  return S_OK;
}

CSmartTee::CSmartTee(IUnknown* outer) : CBaseFilter("smart tee", outer, &filterLock_, CLSID_SmartTee) {
  input_ = std::make_unique<InputPin>(this);
  capture_ = std::make_unique<CapturePin>(this);
  preview_ = std::make_unique<PreviewPin>(this);
}

CSmartTee::~CSmartTee() = default;

CUnknown* CSmartTee::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CSmartTee(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

CBasePin* CSmartTee::GetPin(int n) {
  switch (n) {
    case 0: return input_.get();
    case 1: return capture_.get();
    case 2: return preview_.get();
    default: return nullptr;
  }
}

HRESULT CSmartTee::Stop() {
  std::lock_guard lock(filterLock_);
  return CBaseFilter::Stop();
}

HRESULT CSmartTee::Pause() {
  std::lock_guard lock(filterLock_);
  return CBaseFilter::Pause();
}

HRESULT CSmartTee::Receive(IMediaSample* sample) {
  // The preview first: it only copies, so the capture stream never waits for it.
  if (preview_->IsConnected()) preview_->Offer(sample);
  if (!capture_->IsConnected()) return S_OK;
  if (capture_->CheckStreamState(sample) == CBaseStreamControl::STREAM_DISCARDING) return S_OK;
  return capture_->Deliver(sample);
}

// ---- Infinite Pin Tee ----

class CInfTee::InputPin final : public CBaseInputPin {
 public:
  explicit InputPin(CInfTee* tee) : CBaseInputPin("infinite tee input", tee, &tee->filterLock_, nullptr, u"Input"), tee_(tee) {}

  HRESULT CheckMediaType(const CMediaType* type) override {
    for (CBaseOutputPin* out : tee_->ConnectedOutputs())
      if (out->GetConnected()->QueryAccept(type) != S_OK) return S_FALSE;
    return S_OK;
  }
  HRESULT Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    // Every branch gets the sample; the stream goes on while any branch still takes it.
    bool anyTook = false;
    bool anyOutput = false;
    for (CBaseOutputPin* out : tee_->ConnectedOutputs()) {
      anyOutput = true;
      if (out->Deliver(sample) == S_OK) anyTook = true;
    }
    return anyTook || !anyOutput ? S_OK : S_FALSE;
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    for (CBaseOutputPin* out : tee_->ConnectedOutputs()) out->DeliverEndOfStream();
    return S_OK;
  }
  HRESULT BeginFlush() override {
    CBaseInputPin::BeginFlush();
    for (CBaseOutputPin* out : tee_->ConnectedOutputs()) out->DeliverBeginFlush();
    return S_OK;
  }
  HRESULT EndFlush() override {
    for (CBaseOutputPin* out : tee_->ConnectedOutputs()) out->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
  }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    CBaseInputPin::NewSegment(start, stop, rate);
    for (CBaseOutputPin* out : tee_->ConnectedOutputs()) out->DeliverNewSegment(start, stop, rate);
    return S_OK;
  }

 private:
  CInfTee* tee_;
};

class CInfTee::OutputPin final : public CPassThroughOutputPin {
 public:
  OutputPin(CInfTee* tee, LPCWSTR name)
      : CPassThroughOutputPin("infinite tee output", tee, &tee->filterLock_, name, tee->input_.get()), tee_(tee) {}
  HRESULT CompleteConnect(IPin* receivePin) override {
    const HRESULT hr = CPassThroughOutputPin::CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) tee_->OutputConnectionChanged();
    return hr;
  }

 private:
  CInfTee* tee_;
};

CInfTee::CInfTee(IUnknown* outer) : CBaseFilter("infinite pin tee", outer, &filterLock_, CLSID_InfTee) {
  input_ = std::make_unique<InputPin>(this);
  OutputConnectionChanged();
}

CInfTee::~CInfTee() = default;

CUnknown* CInfTee::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CInfTee(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

int CInfTee::GetPinCount() {
  std::lock_guard lock(filterLock_);
  return 1 + static_cast<int>(outputs_.size());
}

CBasePin* CInfTee::GetPin(int n) {
  std::lock_guard lock(filterLock_);
  if (n == 0) return input_.get();
  if (n >= 1 && n <= static_cast<int>(outputs_.size())) return outputs_[static_cast<size_t>(n - 1)].get();
  return nullptr;
}

void CInfTee::OutputConnectionChanged() {
  std::lock_guard lock(filterLock_);
  for (const auto& out : outputs_)
    if (!out->IsConnected()) return;  // a free output remains
  char name[16];
  std::snprintf(name, sizeof name, "Output%d", nextNumber_++);
  const std::u16string wide(name, name + std::strlen(name));
  outputs_.push_back(std::make_unique<OutputPin>(this, wide.c_str()));
}

std::vector<CBaseOutputPin*> CInfTee::ConnectedOutputs() {
  std::lock_guard lock(filterLock_);
  std::vector<CBaseOutputPin*> result;
  for (const auto& out : outputs_)
    if (out->IsConnected()) result.push_back(out.get());
  return result;
}

}  // namespace kestrom::dshow::graph
