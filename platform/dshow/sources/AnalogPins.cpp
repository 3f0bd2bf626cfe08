#include "platform/dshow/sources/AnalogPins.h"

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/CapturePin.h"

namespace kestrom::dshow {

using namespace com;

namespace {

HRESULT CategoryGet(const GUID& category, REFGUID set, DWORD id, void* data, DWORD dataSize, DWORD* returned) {
  if (category == GUID_NULL && set == AMPROPSETID_Pin) return E_PROP_ID_UNSUPPORTED;
  return GetPinCategoryProperty(category, set, id, data, dataSize, returned);
}

HRESULT CategorySupported(const GUID& category, REFGUID set, DWORD id, DWORD* support) {
  if (!(set == AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY || category == GUID_NULL) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

}  // namespace

bool SameMedium(const REGPINMEDIUM& a, const REGPINMEDIUM& b) {
  return !(a.clsMedium == GUID_NULL) && a.clsMedium == b.clsMedium && a.dw1 == b.dw1 && a.dw2 == b.dw2;
}

bool PinMedium(IPin* pin, REGPINMEDIUM* medium) {
  ComPtr<IKsPinMedium> m;
  if (!pin || FAILED(pin->QueryInterface(IID_IKsPinMedium, m.PutVoid())) || !m) return false;
  return SUCCEEDED(m->GetMedium(medium)) && !(medium->clsMedium == GUID_NULL);
}

GUID PinCategory(IPin* pin) {
  ComPtr<IKsPropertySet> props;
  if (!pin || FAILED(pin->QueryInterface(IID_IKsPropertySet, props.PutVoid())) || !props) return GUID_NULL;
  GUID category{};
  DWORD returned = 0;
  if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &returned)) ||
      returned != sizeof category)
    return GUID_NULL;
  return category;
}

CAnalogOutputPin::CAnalogOutputPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const GUID& major,
                                   const REGPINMEDIUM& medium, const GUID& category)
    : CBaseOutputPin("analog output pin", filter, lock, nullptr, name), major_(major), medium_(medium), category_(category) {}

HRESULT CAnalogOutputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IKsPinMedium) return GetInterface(static_cast<IKsPinMedium*>(this), object);
  if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
  return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CAnalogOutputPin::CheckMediaType(const CMediaType* type) {
  return type && type->majortype == major_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAnalogOutputPin::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *type = CMediaType();
  type->SetType(major_);
  type->SetSubtype(major_ == MEDIATYPE_AnalogVideo ? MEDIASUBTYPE_AnalogVideo_PAL_B : GUID_NULL);
  type->SetFormatType(FORMAT_None);
  return S_OK;
}

HRESULT CAnalogOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  // Nothing flows over an analog link; the smallest allocator keeps the pin protocol whole.
  request->cBuffers = 1;
  request->cbBuffer = 1;
  if (request->cbAlign <= 0) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  return allocator->SetProperties(request, &actual);
}

HRESULT CAnalogOutputPin::GetMedium(REGPINMEDIUM* medium) {
  if (!medium) return E_POINTER;
  *medium = medium_;
  return S_OK;
}

HRESULT CAnalogOutputPin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT CAnalogOutputPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize, DWORD* returned) {
  return CategoryGet(category_, set, id, data, dataSize, returned);
}

HRESULT CAnalogOutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  return CategorySupported(category_, set, id, support);
}

CAnalogInputPin::CAnalogInputPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const GUID& major,
                                 const REGPINMEDIUM& medium, const GUID& category)
    : CBaseInputPin("analog input pin", filter, lock, nullptr, name), major_(major), medium_(medium), category_(category) {}

HRESULT CAnalogInputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IKsPinMedium) return GetInterface(static_cast<IKsPinMedium*>(this), object);
  if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
  return CBaseInputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CAnalogInputPin::CheckMediaType(const CMediaType* type) {
  return type && type->majortype == major_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAnalogInputPin::GetMedium(REGPINMEDIUM* medium) {
  if (!medium) return E_POINTER;
  *medium = medium_;
  return S_OK;
}

HRESULT CAnalogInputPin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT CAnalogInputPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize, DWORD* returned) {
  return CategoryGet(category_, set, id, data, dataSize, returned);
}

HRESULT CAnalogInputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  return CategorySupported(category_, set, id, support);
}

}  // namespace kestrom::dshow
