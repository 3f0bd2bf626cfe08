#include "platform/dshow/sources/AnalogPins.h"

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/CapturePin.h"

#include <cstring>

namespace kestrom::dshow {

using namespace com;

HRESULT CDevicePinProperties::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT CDevicePinProperties::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize, DWORD* returned) {
  if (!(set == AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id == AMPROPERTY_PIN_CATEGORY && !(category_ == GUID_NULL))
    return GetPinCategoryProperty(category_, set, id, data, dataSize, returned);
  if (id == AMPROPERTY_PIN_MEDIUM && !(medium_.clsMedium == GUID_NULL)) {
    if (!data) return E_POINTER;
    if (dataSize < sizeof(REGPINMEDIUM)) return E_UNEXPECTED;
    std::memcpy(data, &medium_, sizeof medium_);
    if (returned) *returned = sizeof medium_;
    return S_OK;
  }
  return E_PROP_ID_UNSUPPORTED;
}

HRESULT CDevicePinProperties::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!(set == AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  const bool has = (id == AMPROPERTY_PIN_CATEGORY && !(category_ == GUID_NULL)) ||
                   (id == AMPROPERTY_PIN_MEDIUM && !(medium_.clsMedium == GUID_NULL));
  if (!has) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

bool SameMedium(const REGPINMEDIUM& a, const REGPINMEDIUM& b) {
  return !(a.clsMedium == GUID_NULL) && a.clsMedium == b.clsMedium && a.dw1 == b.dw1 && a.dw2 == b.dw2;
}

bool PinMedium(IPin* pin, REGPINMEDIUM* medium) {
  ComPtr<IKsPropertySet> props;
  if (!pin || !medium || FAILED(pin->QueryInterface(IID_IKsPropertySet, props.PutVoid())) || !props) return false;
  DWORD returned = 0;
  return SUCCEEDED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_MEDIUM, nullptr, 0, medium, sizeof *medium, &returned)) &&
         returned == sizeof *medium && !(medium->clsMedium == GUID_NULL);
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
    : CBaseOutputPin("analog output pin", filter, lock, nullptr, name), CDevicePinProperties(category, medium), major_(major) {}

HRESULT CAnalogOutputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
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

CAnalogInputPin::CAnalogInputPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const GUID& major,
                                 const REGPINMEDIUM& medium, const GUID& category)
    : CBaseInputPin("analog input pin", filter, lock, nullptr, name), CDevicePinProperties(category, medium), major_(major) {}

HRESULT CAnalogInputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
  return CBaseInputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CAnalogInputPin::CheckConnect(IPin* pin) {
  const HRESULT hr = CBaseInputPin::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  REGPINMEDIUM other{};
  const bool wired = !(Medium().clsMedium == GUID_NULL);
  const bool otherWired = PinMedium(pin, &other);
  if (wired || otherWired) return wired && otherWired && SameMedium(Medium(), other) ? S_OK : VFW_E_NO_ACCEPTABLE_TYPES;
  return S_OK;
}

HRESULT CAnalogInputPin::CheckMediaType(const CMediaType* type) {
  return type && type->majortype == major_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace kestrom::dshow
