#include "platform/dshow/sources/Registration.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/graph/CaptureGraphBuilder.h"
#include "platform/dshow/sources/AnalogPins.h"
#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/FileSource.h"
#include "platform/dshow/sources/ScriptSource.h"
#include "platform/registry/Registry.h"
#include "platform/dshow/sources/SourceClasses.h"
#include "platform/dshow/sources/TestDevices.h"

#include <mutex>
#include <new>

namespace kestrom::dshow {

using namespace com;

namespace {

HRESULT RegisterClassObject(REFCLSID clsid, NewComObjectFunction create) {
  auto* factory = new (std::nothrow) CClassFactory(create, nullptr);
  if (!factory) return E_OUTOFMEMORY;
  factory->NonDelegatingAddRef();
  DWORD cookie = 0;
  // Registered for the life of the process: the cookie is never revoked.
  const HRESULT hr = CoRegisterClassObject(clsid, factory->GetInner(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  factory->NonDelegatingRelease();
  return hr;
}

HRESULT RegisterClasses() {
  const struct {
    const CLSID* clsid;
    NewComObjectFunction create;
  } classes[] = {
      {&CLSID_SystemDeviceEnum, &CreateSystemDeviceEnum}, {&CLSID_KestromTestCamera, &CreateTestCamera},
      {&CLSID_KestromTestCrossbar, &CreateTestCrossbar},  {&CLSID_KestromTestTuner, &CreateTestTuner},
      {&CLSID_KestromTestMicrophone, &CreateTestMicrophone},
  };
  for (const auto& c : classes) {
    const HRESULT hr = RegisterClassObject(*c.clsid, c.create);
    if (FAILED(hr)) return hr;
  }
  for (const SourceClass& c : SourceClasses()) {
    const HRESULT hr = RegisterClassObject(*c.clsid, c.create);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  std::vector<ComPtr<IPin>> result;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.Put())) || !pins) return result;
  IPin* pin = nullptr;
  ULONG fetched = 0;
  while (pins->Next(1, &pin, &fetched) == S_OK && pin) {
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) result.push_back(std::move(held));
  }
  return result;
}

// The crossbars, tuners and TV sound filters wired to a device's inputs: those with an output
// pin on the medium of one of the device's inputs.
std::vector<std::pair<ComPtr<IBaseFilter>, std::u16string>> UpstreamDevicesOf(IBaseFilter* device) {
  std::vector<std::pair<ComPtr<IBaseFilter>, std::u16string>> result;
  std::vector<REGPINMEDIUM> wanted;
  for (const ComPtr<IPin>& in : PinsOf(device, PINDIR_INPUT)) {
    REGPINMEDIUM m{};
    if (PinMedium(in.Get(), &m)) wanted.push_back(m);
  }
  if (wanted.empty()) return result;
  for (const GUID* category : {&AM_KSCATEGORY_CROSSBAR, &AM_KSCATEGORY_TVTUNER, &AM_KSCATEGORY_TVAUDIO}) {
    for (const DeviceEntry& entry : ListDevices(*category)) {
      ComPtr<IBaseFilter> filter;
      const HRESULT hr = entry.create ? entry.create(IID_IBaseFilter, filter.PutVoid())
                                      : CoCreateInstance(entry.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid());
      if (FAILED(hr) || !filter) continue;
      bool wired = false;
      for (const ComPtr<IPin>& out : PinsOf(filter.Get(), PINDIR_OUTPUT)) {
        REGPINMEDIUM m{};
        if (!PinMedium(out.Get(), &m)) continue;
        for (const REGPINMEDIUM& w : wanted) wired |= SameMedium(m, w);
      }
      if (!wired) continue;
      // The filter's own inputs may be wired further upstream (a tuner in front of a crossbar).
      for (const ComPtr<IPin>& in : PinsOf(filter.Get(), PINDIR_INPUT)) {
        REGPINMEDIUM m{};
        if (PinMedium(in.Get(), &m)) wanted.push_back(m);
      }
      result.emplace_back(std::move(filter), entry.friendlyName.toStdU16String());
    }
  }
  return result;
}

}  // namespace

HRESULT RegisterSourceFilters() {
  static std::once_flag once;
  static HRESULT classes = S_OK;
  std::call_once(once, [] {
    classes = RegisterClasses();
    graph::SetUpstreamFilterProvider(&UpstreamDevicesOf);
  });
  if (FAILED(classes)) return classes;

  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid());
  if (FAILED(hr)) return hr;
  for (const SourceClass& c : SourceClasses()) {
    if (!c.registration) continue;
    hr = mapper->RegisterFilter(*c.clsid, c.name, nullptr, &CLSID_LegacyAmFilterCategory, nullptr, c.registration);
    if (FAILED(hr)) return hr;
  }
  // The source of a file by its extension, where the graph's AddSourceFilter and RenderFile look.
  const char* const videoExtensions[] = {".avi", ".mpg", ".mpeg", ".m1v", ".m2v", ".vob", ".mp4", ".m4v", ".mov",
                                         ".wmv", ".asf", ".dv", ".mkv", ".webm", ".flv", ".wav", ".mp3"};
  registry::TRegistry reg(registry::HKEY_CLASSES_ROOT);
  auto bind = [&](const char* extension, REFCLSID source) {
    return reg.OpenKey(QStringLiteral("\\Media Type\\Extensions\\") + QLatin1String(extension), true) &&
           reg.WriteString(QStringLiteral("Source Filter"), GuidToString(source));
  };
  for (const char* extension : videoExtensions)
    if (!bind(extension, CLSID_KestromFileSource)) return HResultFromWin32(reg.LastError());
  if (!bind(".avs", CLSID_KestromScriptSource)) return HResultFromWin32(reg.LastError());
  return S_OK;
}

}  // namespace kestrom::dshow
