#include "platform/dshow/graph/SampleGrabber.h"

#include "platform/dshow/base/Allocator.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrom::dshow::graph {

using namespace com;

class CSampleGrabber::InputPin final : public CBaseInputPin {
 public:
  InputPin(CSampleGrabber* grabber)
      : CBaseInputPin("sample grabber input", grabber, &grabber->filterLock_, nullptr, u"Input"), grabber_(grabber) {}

  HRESULT CheckMediaType(const CMediaType* type) override { return grabber_->CheckInput(type); }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return grabber_->Receive(sample);
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return grabber_->EndOfStream();
  }
  HRESULT BeginFlush() override {
    CBaseInputPin::BeginFlush();
    return grabber_->output_->IsConnected() ? grabber_->output_->DeliverBeginFlush() : S_OK;
  }
  HRESULT EndFlush() override {
    if (grabber_->output_->IsConnected()) grabber_->output_->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
  }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    CBaseInputPin::NewSegment(start, stop, rate);
    return grabber_->output_->IsConnected() ? grabber_->output_->DeliverNewSegment(start, stop, rate) : S_OK;
  }
  REFERENCE_TIME SegmentStart() const { return segmentStart_; }
  // A sample kept from an earlier connection would be read with the new type.
  HRESULT CompleteConnect(IPin* receivePin) override {
    const HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) grabber_->DropBuffer();
    return hr;
  }

 private:
  CSampleGrabber* grabber_;
};

CSampleGrabber::CSampleGrabber(IUnknown* outer)
    : CBaseFilter("sample grabber", outer, &filterLock_, CLSID_SampleGrabber),
      input_(std::make_unique<InputPin>(this)),
      output_(std::make_unique<CPassThroughOutputPin>("sample grabber output", this, &filterLock_, u"Output", input_.get())) {
  wanted_ = CMediaType();
  wanted_.majortype = GUID_NULL;
}

CSampleGrabber::~CSampleGrabber() = default;

CUnknown* CSampleGrabber::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CSampleGrabber(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

HRESULT CSampleGrabber::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_ISampleGrabber) return GetInterface(static_cast<ISampleGrabber*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* CSampleGrabber::GetPin(int n) {
  if (n == 0) return input_.get();
  if (n == 1) return output_.get();
  return nullptr;
}

HRESULT CSampleGrabber::Stop() {
  std::lock_guard lock(filterLock_);
  return CBaseFilter::Stop();
}

HRESULT CSampleGrabber::Pause() {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) {
    std::lock_guard grab(grabLock_);
    oneShotDone_ = false;
  }
  return CBaseFilter::Pause();
}

HRESULT CSampleGrabber::CheckInput(const CMediaType* type) {
  {
    std::lock_guard grab(grabLock_);
    const GUID& major = wanted_.majortype;
    if (!(major == GUID_NULL) && !(major == type->majortype)) return S_FALSE;
    if (!(wanted_.subtype == GUID_NULL) && !(wanted_.subtype == type->subtype)) return S_FALSE;
    if (!(wanted_.formattype == GUID_NULL) && !(wanted_.formattype == type->formattype)) return S_FALSE;
  }
  // A new input must still suit what the output feeds.
  if (output_->IsConnected()) {
    IPin* downstream = output_->GetConnected();
    if (downstream && downstream->QueryAccept(type) != S_OK) return S_FALSE;
  }
  return S_OK;
}

HRESULT CSampleGrabber::Receive(IMediaSample* sample) {
  ComPtr<ISampleGrabberCB> callback;
  LONG kind;
  bool buffer;
  {
    std::lock_guard grab(grabLock_);
    if (oneShot_ && oneShotDone_) return S_FALSE;
    callback = callback_;
    kind = callbackKind_;
    buffer = bufferSamples_;
  }
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();
  REFERENCE_TIME start = 0, stop = 0;
  const double time = SUCCEEDED(sample->GetTime(&start, &stop))
                          ? static_cast<double>(input_->SegmentStart() + start) / static_cast<double>(UNITS)
                          : 0.0;
  if (buffer && data && length >= 0) {
    BufferedProperties properties;
    properties.timed = sample->GetTime(&properties.start, &properties.stop);
    properties.sync = sample->IsSyncPoint() == S_OK;
    properties.preroll = sample->IsPreroll() == S_OK;
    properties.discontinuity = sample->IsDiscontinuity() == S_OK;
    std::lock_guard grab(grabLock_);
    try {
      buffer_.assign(data, data + length);
      buffered_ = properties;
      haveBuffer_ = true;
    } catch (const std::bad_alloc&) {
      haveBuffer_ = false;
    }
  }
  if (callback) {
    if (kind == SAMPLEGRABBER_CB_SAMPLE) {
      callback->SampleCB(time, sample);
    } else if (data) {
      // The callback gets its own copy: it may keep or change it without touching the stream.
      std::vector<BYTE> copy(data, data + length);
      callback->BufferCB(time, copy.data(), length);
    }
  }
  HRESULT hr = output_->IsConnected() ? output_->Deliver(sample) : S_OK;
  bool endNow = false;
  {
    std::lock_guard grab(grabLock_);
    if (oneShot_ && !oneShotDone_) {
      oneShotDone_ = true;
      endNow = true;
    }
  }
  if (endNow) {
    EndOfStream();
    return S_FALSE;
  }
  return hr;
}

HRESULT CSampleGrabber::EndOfStream() {
  if (output_->IsConnected()) return output_->DeliverEndOfStream();
  // Nothing downstream to report the end: the grabber reports it.
  NotifyEvent(EC_COMPLETE, S_OK, 0);
  return S_OK;
}

HRESULT CSampleGrabber::SetOneShot(BOOL oneShot) {
  std::lock_guard grab(grabLock_);
  oneShot_ = oneShot != 0;
  oneShotDone_ = false;
  return S_OK;
}

HRESULT CSampleGrabber::SetMediaType(const AM_MEDIA_TYPE* type) {
  std::lock_guard grab(grabLock_);
  if (!type) {
    wanted_ = CMediaType();
    wanted_.majortype = GUID_NULL;
    return S_OK;
  }
  wanted_ = CMediaType(*type);
  return S_OK;
}

HRESULT CSampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
  return input_->ConnectionMediaType(type);
}

HRESULT CSampleGrabber::SetBufferSamples(BOOL buffer) {
  std::lock_guard grab(grabLock_);
  bufferSamples_ = buffer != 0;
  return S_OK;
}

HRESULT CSampleGrabber::GetCurrentBuffer(LONG* size, LONG* buffer) {
  if (!size) return E_POINTER;
  std::lock_guard grab(grabLock_);
  if (!bufferSamples_) return E_INVALIDARG;
  if (!haveBuffer_) return VFW_E_WRONG_STATE;
  const LONG needed = static_cast<LONG>(buffer_.size());
  if (!buffer) {
    *size = needed;
    return S_OK;
  }
  if (*size < needed) return E_OUTOFMEMORY;
  std::memcpy(buffer, buffer_.data(), buffer_.size());
  *size = needed;
  return S_OK;
}

HRESULT CSampleGrabber::GetCurrentSample(IMediaSample** sample) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  std::vector<BYTE> bytes;
  BufferedProperties properties;
  {
    std::lock_guard grab(grabLock_);
    if (!bufferSamples_ || !haveBuffer_) return VFW_E_WRONG_STATE;
    try {
      bytes = buffer_;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    properties = buffered_;
  }
  // A one-sample allocator of its own: the copy lives as long as the program holds it, and
  // never takes a buffer from the stream.
  ComPtr<IMemAllocator> allocator = ComPtr<IMemAllocator>::Attach(CMemAllocator::Create());
  if (!allocator) return E_OUTOFMEMORY;
  ALLOCATOR_PROPERTIES wanted{1, std::max<LONG>(1, static_cast<LONG>(bytes.size())), 1, 0};
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = allocator->SetProperties(&wanted, &actual);
  if (SUCCEEDED(hr)) hr = allocator->Commit();
  IMediaSample* copy = nullptr;
  if (SUCCEEDED(hr)) hr = allocator->GetBuffer(&copy, nullptr, nullptr, 0);
  // Decommitted now, the allocator frees its memory when the program releases the sample.
  allocator->Decommit();
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  copy->GetPointer(&data);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  copy->SetActualDataLength(static_cast<LONG>(bytes.size()));
  if (properties.timed == S_OK) copy->SetTime(&properties.start, &properties.stop);
  else if (properties.timed == VFW_S_NO_STOP_TIME) copy->SetTime(&properties.start, nullptr);
  copy->SetSyncPoint(properties.sync);
  copy->SetPreroll(properties.preroll);
  copy->SetDiscontinuity(properties.discontinuity);
  *sample = copy;
  return S_OK;
}

void CSampleGrabber::DropBuffer() {
  std::lock_guard grab(grabLock_);
  haveBuffer_ = false;
  buffer_.clear();
}

HRESULT CSampleGrabber::SetCallback(ISampleGrabberCB* callback, LONG which) {
  if (which != SAMPLEGRABBER_CB_SAMPLE && which != SAMPLEGRABBER_CB_BUFFER) return E_INVALIDARG;
  ComPtr<ISampleGrabberCB> old;
  {
    std::lock_guard grab(grabLock_);
    old = std::move(callback_);
    callback_ = callback;
    callbackKind_ = which;
  }
  // The old callback is released outside the lock; a streaming thread still in it holds its own reference.
  return S_OK;
}

}  // namespace kestrom::dshow::graph
