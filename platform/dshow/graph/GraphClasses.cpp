#include "platform/dshow/graph/GraphClasses.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Interfaces.h"
#include "platform/dshow/graph/CaptureGraphBuilder.h"
#include "platform/dshow/graph/NullRenderer.h"
#include "platform/dshow/graph/SampleGrabber.h"
#include "platform/dshow/graph/Tees.h"

#include <mutex>
#include <new>

namespace kestrom::dshow::graph {

using namespace com;

namespace {

void Register(REFCLSID clsid, NewComObjectFunction create) {
  auto* factory = new (std::nothrow) CClassFactory(create, nullptr);
  if (!factory) return;
  factory->NonDelegatingAddRef();
  DWORD cookie = 0;
  CoRegisterClassObject(clsid, factory->GetInner(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  factory->NonDelegatingRelease();
}

struct ClassesAtLoad {
  ClassesAtLoad() { EnsureGraphClassesRegistered(); }
};
const ClassesAtLoad classesAtLoad;

const REGPINTYPES kAnyType[] = {{&GUID_NULL, &GUID_NULL}};

}  // namespace

void EnsureGraphClassesRegistered() {
  static std::once_flag once;
  std::call_once(once, [] {
    Register(CLSID_SmartTee, &CSmartTee::CreateInstance);
    Register(CLSID_InfTee, &CInfTee::CreateInstance);
    Register(CLSID_NullRenderer, &CNullRenderer::CreateInstance);
    Register(CLSID_SampleGrabber, &CSampleGrabber::CreateInstance);
    Register(CLSID_CaptureGraphBuilder2, &CCaptureGraphBuilder::CreateInstance);
  });
}

HRESULT RegisterGraphFilters() {
  EnsureGraphClassesRegistered();
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid());
  if (FAILED(hr)) return hr;
  const REGFILTERPINS teePins[] = {{u"Input", 0, 0, 0, 0, &GUID_NULL, nullptr, 1, kAnyType},
                                   {u"Output", 0, 1, 0, 1, &GUID_NULL, nullptr, 1, kAnyType}};
  const REGFILTERPINS rendererPins[] = {{u"In", 1, 0, 0, 0, &GUID_NULL, nullptr, 1, kAnyType}};
  struct Entry {
    const CLSID* clsid;
    const char16_t* name;
    ULONG pins;
    const REGFILTERPINS* pinData;
  };
  const Entry entries[] = {{&CLSID_SmartTee, u"Smart Tee", 2, teePins},
                           {&CLSID_InfTee, u"Infinite Pin Tee Filter", 2, teePins},
                           {&CLSID_NullRenderer, u"Null Renderer", 1, rendererPins},
                           {&CLSID_SampleGrabber, u"SampleGrabber", 2, teePins}};
  for (const Entry& e : entries) {
    const REGFILTER2 data{1, MERIT_DO_NOT_USE, e.pins, e.pinData};
    hr = mapper->RegisterFilter(*e.clsid, e.name, nullptr, &CLSID_LegacyAmFilterCategory, nullptr, &data);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace kestrom::dshow::graph
