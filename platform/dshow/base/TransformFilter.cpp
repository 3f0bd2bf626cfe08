#include "platform/dshow/base/TransformFilter.h"

#include <algorithm>
#include <new>

namespace kestrom::dshow {

using namespace com;

// ---- input pin ----

CTransformInputPin::CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name)
    : CBaseInputPin(objectName, filter, filter->FilterLock(), hr, name), transform_(filter) {}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = transform_->CheckConnect(PINDIR_INPUT, pin);
  return FAILED(hr) ? hr : CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
  transform_->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = transform_->CompleteConnect(PINDIR_INPUT, receivePin);
  return FAILED(hr) ? hr : CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* type) {
  HRESULT hr = transform_->CheckInputType(type);
  if (hr != S_OK) return hr;
  // A new input must still suit the output already connected.
  CTransformOutputPin* out = transform_->OutputPin();
  if (out && out->IsConnected()) return transform_->CheckTransform(type, &out->CurrentMediaType());
  return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* type) {
  const HRESULT hr = CBaseInputPin::SetMediaType(type);
  return FAILED(hr) ? hr : transform_->SetMediaType(PINDIR_INPUT, type);
}

HRESULT CTransformInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  return transform_->Receive(sample);
}

HRESULT CTransformInputPin::EndOfStream() {
  const HRESULT hr = CheckStreaming();
  return hr == S_OK ? transform_->EndOfStream() : hr;
}

HRESULT CTransformInputPin::BeginFlush() {
  const HRESULT hr = CBaseInputPin::BeginFlush();
  return FAILED(hr) ? hr : transform_->BeginFlush();
}

HRESULT CTransformInputPin::EndFlush() {
  const HRESULT hr = transform_->EndFlush();
  return FAILED(hr) ? hr : CBaseInputPin::EndFlush();
}

HRESULT CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBaseInputPin::NewSegment(start, stop, rate);
  return transform_->NewSegment(start, stop, rate);
}

// ---- output pin ----

CTransformOutputPin::CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name)
    : CBaseOutputPin(objectName, filter, filter->FilterLock(), hr, name),
      transform_(filter),
      // The filter makes its input pin before this one.
      seeking_(std::make_unique<CPosPassThru>("transform seeking", GetOwner(), filter->InputPin())) {}

HRESULT CTransformOutputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IMediaSeeking) return seeking_->NonDelegatingQueryInterface(iid, object);
  return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
  // The output's types follow from the input's, so the input connects first.
  if (!transform_->InputPin()->IsConnected()) return E_UNEXPECTED;
  const HRESULT hr = transform_->CheckConnect(PINDIR_OUTPUT, pin);
  return FAILED(hr) ? hr : CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  transform_->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receivePin) {
  HRESULT hr = transform_->CompleteConnect(PINDIR_OUTPUT, receivePin);
  return FAILED(hr) ? hr : CBaseOutputPin::CompleteConnect(receivePin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* type) {
  CTransformInputPin* in = transform_->InputPin();
  if (!in->IsConnected()) return E_UNEXPECTED;
  return transform_->CheckTransform(&in->CurrentMediaType(), type);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* type) {
  const HRESULT hr = CBaseOutputPin::SetMediaType(type);
  return FAILED(hr) ? hr : transform_->SetMediaType(PINDIR_OUTPUT, type);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* type) {
  if (!transform_->InputPin()->IsConnected()) return E_UNEXPECTED;
  return transform_->GetMediaType(position, type);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  return transform_->DecideBufferSize(allocator, request);
}

HRESULT CTransformOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  const HRESULT hr = CBaseOutputPin::DecideAllocator(pin, allocator);
  if (SUCCEEDED(hr) && *allocator && transform_->CanPassThrough() && transform_->InputIsReadOnly())
    return pin->NotifyAllocator(*allocator, 1);
  return hr;
}

// ---- filter ----

CTransformFilter::CTransformFilter(const char* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &filterLock_, clsid) {}

CTransformFilter::~CTransformFilter() = default;

CBasePin* CTransformFilter::GetPin(int n) {
  std::lock_guard lock(filterLock_);
  if (!input_ && !pinsFailed_) {
    HRESULT hr = S_OK;
    input_.reset(new (std::nothrow) CTransformInputPin("transform input pin", this, &hr, u"XForm In"));
    output_.reset(new (std::nothrow) CTransformOutputPin("transform output pin", this, &hr, u"XForm Out"));
    if (!input_ || !output_ || FAILED(hr)) {
      input_.reset();
      output_.reset();
      pinsFailed_ = true;
    } else {
      pinsMade_.store(true, std::memory_order_release);
    }
  }
  if (n == 0) return input_.get();
  if (n == 1) return output_.get();
  return nullptr;
}

HRESULT CTransformFilter::Stop() {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) return S_OK;
  HRESULT hr = CBaseFilter::Stop();
  std::lock_guard receive(receiveLock_);
  const HRESULT stopped = StopStreaming();
  return FAILED(hr) ? hr : stopped;
}

HRESULT CTransformFilter::Pause() {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) {
    passThroughPermitted_.store(CanPassThrough() && AllocatorsPermitPassThrough(), std::memory_order_relaxed);
    const HRESULT hr = StartStreaming();
    if (FAILED(hr)) return hr;
  }
  return CBaseFilter::Pause();
}

bool CTransformFilter::AllocatorsPermitPassThrough() {
  if (!input_ || !output_ || !output_->IsConnected()) return false;
  IMemAllocator* in = input_->PeekAllocator();
  IMemAllocator* out = output_->PeekAllocator();
  ALLOCATOR_PROPERTIES given{}, agreed{};
  if (!in || !out || in->GetProperties(&given) != S_OK || out->GetProperties(&agreed) != S_OK) return false;
  // What the downstream pin was promised: buffers at least this large, aligned and prefixed so.
  const LONG align = std::max<LONG>(agreed.cbAlign, 1);
  return given.cbBuffer >= agreed.cbBuffer && given.cbPrefix >= agreed.cbPrefix && given.cbAlign % align == 0;
}

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) { return S_OK; }
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) { return S_OK; }
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) { return S_OK; }
HRESULT CTransformFilter::StartStreaming() { return S_OK; }
HRESULT CTransformFilter::StopStreaming() { return S_OK; }
bool CTransformFilter::PassesThrough(IMediaSample*) { return false; }
HRESULT CTransformFilter::TransformInPlace(IMediaSample*) { return S_OK; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* in, IMediaSample** out) {
  IMediaSample* sample = nullptr;
  const HRESULT hr = output_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timed = in->GetTime(&start, &stop);
  if (timed == S_OK) sample->SetTime(&start, &stop);
  else if (timed == VFW_S_NO_STOP_TIME) sample->SetTime(&start, nullptr);
  sample->SetSyncPoint(in->IsSyncPoint() == S_OK);
  sample->SetPreroll(in->IsPreroll() == S_OK);
  sample->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
  *out = sample;
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
  std::lock_guard lock(receiveLock_);
  if (!output_ || !output_->IsConnected()) return VFW_E_NOT_CONNECTED;
  if (PassThroughPermitted() && PassesThrough(sample)) {
    HRESULT hr = TransformInPlace(sample);
    if (hr == S_OK) hr = output_->Deliver(sample);
    else if (hr == S_FALSE) hr = S_OK;
    return hr;
  }
  IMediaSample* out = nullptr;
  HRESULT hr = InitializeOutputSample(sample, &out);
  if (FAILED(hr)) return hr;
  hr = Transform(sample, out);
  if (hr == S_OK) hr = output_->Deliver(out);
  else if (hr == S_FALSE) hr = S_OK;  // the transform chose to drop this sample
  out->Release();
  return hr;
}

HRESULT CTransformFilter::EndOfStream() { return output_->DeliverEndOfStream(); }
HRESULT CTransformFilter::BeginFlush() { return output_->DeliverBeginFlush(); }
HRESULT CTransformFilter::EndFlush() { return output_->DeliverEndFlush(); }
HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return output_->DeliverNewSegment(start, stop, rate);
}

}  // namespace kestrom::dshow
