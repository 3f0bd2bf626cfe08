#include "platform/dshow/base/ServerModule.h"

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/base/Interfaces.h"
#include "platform/registry/Registry.h"

#include <new>

namespace kestrom::dshow {

using namespace com;
namespace reg = kestrom::registry;

namespace {

HRESULT RegisterServer(const CFactoryTemplate& t, const QString& modulePath) {
  reg::TRegistry registry(reg::HKEY_CLASSES_ROOT);
  const QString key = QStringLiteral("\\CLSID\\%1").arg(GuidToString(*t.m_ClsID));
  if (!registry.OpenKey(key, true) || !registry.WriteString(QString(), QString::fromUtf16(t.m_Name)))
    return SELFREG_E_CLASS;
  if (!registry.OpenKey(key + QStringLiteral("\\InprocServer32"), true) ||
      !registry.WriteString(QString(), modulePath) ||
      !registry.WriteString(QStringLiteral("ThreadingModel"), QStringLiteral("Both")))
    return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterServer(const CFactoryTemplate& t) {
  reg::TRegistry registry(reg::HKEY_CLASSES_ROOT);
  const QString key = QStringLiteral("\\CLSID\\%1").arg(GuidToString(*t.m_ClsID));
  if (!registry.KeyExists(key)) return S_OK;
  return registry.DeleteKey(key) ? S_OK : SELFREG_E_CLASS;
}

HRESULT RegisterFilter(IFilterMapper2* mapper, bool doRegister, const AMOVIESETUP_FILTER& setup) {
  if (!doRegister) return mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *setup.clsID);
  REGFILTER2 data{};
  data.dwVersion = 1;
  data.dwMerit = setup.dwMerit;
  data.cPins = setup.nPins;
  data.rgPins = setup.lpPin;
  return mapper->RegisterFilter(*setup.clsID, setup.strName, nullptr, &CLSID_LegacyAmFilterCategory, nullptr, &data);
}

// The graph and the filter mapper are classes of this library, made by class id like any other.
struct BuiltInClasses {
  BuiltInClasses() {
    Register(CLSID_FilterGraph, &CFilterGraph::CreateInstance);
    Register(CLSID_FilterMapper2, &CFilterMapper2::CreateInstance);
  }
  static void Register(REFCLSID clsid, NewComObjectFunction create) {
    auto* factory = new (std::nothrow) CClassFactory(create, nullptr);
    if (!factory) return;
    factory->NonDelegatingAddRef();
    DWORD cookie = 0;
    CoRegisterClassObject(clsid, factory->GetInner(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->NonDelegatingRelease();
  }
};
const BuiltInClasses builtInClasses;

}  // namespace

HRESULT AMovieDllGetClassObject(const CFactoryTemplate* templates, int count, ModuleRefCount& module, REFCLSID clsid,
                                REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!(iid == IID_IUnknown) && !(iid == IID_IClassFactory)) return E_NOINTERFACE;
  for (int i = 0; i < count; ++i) {
    if (!(*templates[i].m_ClsID == clsid)) continue;
    auto* factory = new (std::nothrow) CClassFactory(templates[i].m_lpfnNew, &module);
    if (!factory) return E_OUTOFMEMORY;
    factory->NonDelegatingAddRef();
    const HRESULT hr = factory->NonDelegatingQueryInterface(iid, object);
    factory->NonDelegatingRelease();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT AMovieDllRegisterServer2(bool doRegister, const CFactoryTemplate* templates, int count,
                                 const QString& modulePath) {
  if (doRegister && modulePath.isEmpty()) return SELFREG_E_CLASS;
  HRESULT result = S_OK;
  // Servers first when registering, filters first when unregistering, so that no filter is ever
  // listed without a server behind it.
  if (doRegister) {
    for (int i = 0; i < count; ++i) {
      const HRESULT hr = RegisterServer(templates[i], modulePath);
      if (FAILED(hr)) return hr;
    }
  }
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid());
  if (FAILED(hr)) return hr;
  for (int i = 0; i < count; ++i) {
    if (!templates[i].m_pAMovieSetup_Filter) continue;
    hr = RegisterFilter(mapper.Get(), doRegister, *templates[i].m_pAMovieSetup_Filter);
    if (FAILED(hr)) {
      if (doRegister) return hr;
      result = hr;
    }
  }
  if (!doRegister) {
    for (int i = 0; i < count; ++i) {
      hr = UnregisterServer(templates[i]);
      if (FAILED(hr)) result = hr;
    }
  }
  return result;
}

}  // namespace kestrom::dshow
