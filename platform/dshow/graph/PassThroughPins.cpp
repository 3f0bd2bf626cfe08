#include "platform/dshow/graph/PassThroughPins.h"

namespace kestrom::dshow::graph {

using namespace com;

CPassThroughOutputPin::CPassThroughOutputPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock,
                                             LPCWSTR name, CBaseInputPin* input)
    : CBaseOutputPin(objectName, filter, lock, nullptr, name),
      input_(input),
      seeking_(std::make_unique<CPosPassThru>("pass-through seeking", GetOwner(), input)) {}

HRESULT CPassThroughOutputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IMediaSeeking) return seeking_->NonDelegatingQueryInterface(iid, object);
  return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CPassThroughOutputPin::CheckConnect(IPin* pin) {
  // The type comes from upstream, so the input connects first.
  if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseOutputPin::CheckConnect(pin);
}

HRESULT CPassThroughOutputPin::CheckMediaType(const CMediaType* type) {
  if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
  return *type == input_->CurrentMediaType() ? S_OK : S_FALSE;
}

HRESULT CPassThroughOutputPin::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *type = input_->CurrentMediaType();
  return S_OK;
}

HRESULT CPassThroughOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin) return E_POINTER;
  IMemAllocator* upstream = input_->PeekAllocator();
  if (!upstream) return VFW_E_NO_ALLOCATOR;
  const HRESULT hr = pin->NotifyAllocator(upstream, 1);
  if (FAILED(hr)) return hr;
  upstream->AddRef();
  *allocator = upstream;
  return S_OK;
}

}  // namespace kestrom::dshow::graph
