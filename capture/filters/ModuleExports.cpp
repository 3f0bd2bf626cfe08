// The exports of "tfcatch.so": one creator per filter, which the engine calls by name after
// loading the module, and the usual server entry points (the engine never registers the module).
// Nothing thrown inside may leave the module.

#include "capture/filters/ModuleFilters.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ServerModule.h"

#include <new>

using namespace kestrom;
using namespace kestrom::filters;

#define KESTROM_EXPORT extern "C" __attribute__((visibility("default")))

namespace kestrom::filters {
com::ModuleRefCount& TfcatchModule() {
  static com::ModuleRefCount module;
  return module;
}
}  // namespace kestrom::filters

namespace {

com::CUnknown* NewGrabberModifying(com::IUnknown* outer, com::HRESULT* hr) { return NewGrabber(true, outer, hr); }
com::CUnknown* NewGrabberPlain(com::IUnknown* outer, com::HRESULT* hr) { return NewGrabber(false, outer, hr); }

const dshow::CFactoryTemplate kTemplates[] = {
    {u"tfcatch grabber", &CLSID_TfcGrabber, &NewGrabberModifying, nullptr, nullptr},
    {u"tfcatch grabber (no modify)", &CLSID_TfcGrabberNoModify, &NewGrabberPlain, nullptr, nullptr},
    {u"tfcatch transform", &CLSID_TfcTransform, &NewTransform, nullptr, nullptr},
    {u"tfcatch push source", &CLSID_TfcPushSource, &NewPushSource, nullptr, nullptr},
    {u"tfcatch clock", &CLSID_TfcCustomClock, &NewCustomClock, nullptr, nullptr},
    {u"tfcatch raw writer", &CLSID_TfcRawWriter, &NewRawWriter, nullptr, nullptr},
};
constexpr int kTemplateCount = sizeof kTemplates / sizeof kTemplates[0];

com::HRESULT Create(com::NewComObjectFunction make, dshow::IBaseFilter** filter) {
  if (!filter) return com::E_POINTER;
  *filter = nullptr;
  try {
    com::HRESULT hr = com::S_OK;
    com::CUnknown* object = make(nullptr, &hr);
    if (!object) return com::FAILED(hr) ? hr : com::E_OUTOFMEMORY;
    com::IUnknown* inner = object->GetInner();
    inner->AddRef();
    hr = inner->QueryInterface(dshow::IID_IBaseFilter, reinterpret_cast<void**>(filter));
    inner->Release();  // the filter's reference, if any, is the caller's now
    return hr;
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return com::E_FAIL;
  }
}

}  // namespace

KESTROM_EXPORT com::HRESULT CreateLocalGrabberInstance(dshow::IBaseFilter** filter) {
  return Create(&NewGrabberModifying, filter);
}
KESTROM_EXPORT com::HRESULT CreateLocalGrabberInstanceNoModify(dshow::IBaseFilter** filter) {
  return Create(&NewGrabberPlain, filter);
}
KESTROM_EXPORT com::HRESULT CreateLocalTransformInstance(dshow::IBaseFilter** filter) {
  return Create(&NewTransform, filter);
}
KESTROM_EXPORT com::HRESULT CreateLocalPushSourceInstance(dshow::IBaseFilter** filter) {
  return Create(&NewPushSource, filter);
}
KESTROM_EXPORT com::HRESULT CreateLocalCustClckInstance(dshow::IBaseFilter** filter) {
  return Create(&NewCustomClock, filter);
}
KESTROM_EXPORT com::HRESULT CreateLocalCFrwInstance(dshow::IBaseFilter** filter) {
  return Create(&NewRawWriter, filter);
}

KESTROM_EXPORT com::HRESULT DllGetClassObject(com::REFCLSID clsid, com::REFIID iid, void** object) {
  try {
    return dshow::AMovieDllGetClassObject(kTemplates, kTemplateCount, TfcatchModule(), clsid, iid, object);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return com::E_FAIL;
  }
}

KESTROM_EXPORT com::HRESULT DllCanUnloadNow() { return TfcatchModule().CanUnloadNow(); }

namespace {
com::HRESULT RegisterAll(bool doRegister) {
  try {
    const QString path = com::ModulePathOf(reinterpret_cast<const void*>(&DllCanUnloadNow));
    return dshow::AMovieDllRegisterServer2(doRegister, kTemplates, kTemplateCount, path);
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (...) {
    return com::E_FAIL;
  }
}
}  // namespace

KESTROM_EXPORT com::HRESULT DllRegisterServer() { return RegisterAll(true); }
KESTROM_EXPORT com::HRESULT DllUnregisterServer() { return RegisterAll(false); }
