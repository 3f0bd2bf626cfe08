#include "platform/dshow/sources/DeviceEnumerator.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/AlsaDevices.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/sources/V4l2Devices.h"
#include "platform/dshow/sources/V4l2Tuner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace kestrom::dshow {

using namespace com;

// ---- strings and variants ----

BSTR SysAllocStringLen(const WCHAR* text, uint32_t length) {
  // The length in bytes sits before the characters, which end with a null.
  auto* block = static_cast<uint8_t*>(std::malloc(sizeof(uint32_t) + (size_t{length} + 1) * sizeof(WCHAR)));
  if (!block) return nullptr;
  const uint32_t bytes = length * sizeof(WCHAR);
  std::memcpy(block, &bytes, sizeof bytes);
  auto* chars = reinterpret_cast<WCHAR*>(block + sizeof(uint32_t));
  if (text) std::memcpy(chars, text, bytes);
  else std::memset(chars, 0, bytes);
  chars[length] = u'\0';
  return chars;
}

BSTR SysAllocString(const WCHAR* text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<uint32_t>(std::char_traits<WCHAR>::length(text)));
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<uint8_t*>(text) - sizeof(uint32_t));
}

uint32_t SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<uint8_t*>(text) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(WCHAR);
}

void VariantInit(VARIANT* value) {
  if (!value) return;
  std::memset(value, 0, sizeof *value);
}

HRESULT VariantClear(VARIANT* value) {
  if (!value) return E_POINTER;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  VariantInit(value);
  return S_OK;
}

namespace {

BSTR ToBstr(const QString& text) {
  return SysAllocStringLen(reinterpret_cast<const WCHAR*>(text.utf16()), static_cast<uint32_t>(text.size()));
}

// ---- providers ----

std::mutex g_providersLock;
std::map<int, DeviceProvider>& Providers() {
  static std::map<int, DeviceProvider> providers;
  return providers;
}
int g_nextCookie = 1;

std::vector<DeviceEntry> TestDeviceEntries(REFCLSID category) {
  std::vector<DeviceEntry> result;
  if (!TestDevicesEnabled()) return result;
  auto entry = [&](const char16_t* name, REFCLSID clsid, const char* path, NewComObjectFunction create) {
    DeviceEntry e;
    e.friendlyName = QString::fromUtf16(name);
    e.devicePath = QString::fromLatin1(path);
    e.displayName = QStringLiteral("@device:pnp:") + e.devicePath;
    e.clsid = clsid;
    e.create = [create](REFIID iid, void** object) {
      HRESULT hr = S_OK;
      CUnknown* made = create(nullptr, &hr);
      if (!made) return FAILED(hr) ? hr : E_OUTOFMEMORY;
      made->NonDelegatingAddRef();
      hr = made->NonDelegatingQueryInterface(iid, object);
      made->NonDelegatingRelease();
      return hr;
    };
    result.push_back(std::move(e));
  };
  if (category == CLSID_VideoInputDeviceCategory && TestCameraPlugged())
    entry(kTestCameraName, CLSID_KestromTestCamera, "kestrom:test-camera", &CreateTestCamera);
  if (category == AM_KSCATEGORY_CROSSBAR && TestCameraPlugged())
    entry(kTestCrossbarName, CLSID_KestromTestCrossbar, "kestrom:test-camera#crossbar", &CreateTestCrossbar);
  if (category == AM_KSCATEGORY_TVTUNER && TestCameraPlugged())
    entry(kTestTunerName, CLSID_KestromTestTuner, "kestrom:test-camera#tuner", &CreateTestTuner);
  if (category == CLSID_AudioInputDeviceCategory)
    entry(kTestMicrophoneName, CLSID_KestromTestMicrophone, "kestrom:test-microphone", &CreateTestMicrophone);
  return result;
}

// Filters registered through the filter mapper under the category.
std::vector<DeviceEntry> RegisteredEntries(REFCLSID category) {
  std::vector<DeviceEntry> result;
  for (const RegisteredFilter& filter : ReadRegisteredFilters(category)) {
    DeviceEntry e;
    e.friendlyName = filter.name;
    e.displayName = SoftwareDisplayName(category, filter.clsid);
    e.clsid = filter.clsid;
    result.push_back(std::move(e));
  }
  return result;
}

// ---- COM objects ----

class CPropertyBag final : public CUnknown, public IPropertyBag {
 public:
  explicit CPropertyBag(const DeviceEntry& entry) : CUnknown("device property bag", nullptr), entry_(entry) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IPropertyBag) return GetInterface(static_cast<IPropertyBag*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT Read(LPCWSTR name, VARIANT* value, IUnknown*) override {
    if (!name || !value) return E_POINTER;
    if (value->vt != VT_EMPTY && value->vt != VT_BSTR) return E_INVALIDARG;
    const QString key = QString::fromUtf16(name);
    QString text;
    if (key.compare(QLatin1String("FriendlyName"), Qt::CaseInsensitive) == 0) text = entry_.friendlyName;
    else if (key.compare(QLatin1String("CLSID"), Qt::CaseInsensitive) == 0) text = GuidToString(entry_.clsid);
    else if (key.compare(QLatin1String("DevicePath"), Qt::CaseInsensitive) == 0 && !entry_.devicePath.isEmpty())
      text = entry_.devicePath;
    else return E_INVALIDARG;  // no such property
    BSTR result = ToBstr(text);
    if (!result) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = result;
    return S_OK;
  }
  HRESULT Write(LPCWSTR, VARIANT*) override { return E_FAIL; }  // device properties are read only

 private:
  DeviceEntry entry_;
};

class CDeviceMoniker final : public CUnknown, public IMoniker {
 public:
  explicit CDeviceMoniker(DeviceEntry entry) : CUnknown("device moniker", nullptr), entry_(std::move(entry)) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IMoniker) return GetInterface(static_cast<IMoniker*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (entry_.create) return entry_.create(iid, object);
    return CoCreateInstance(entry_.clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
  }
  HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IPropertyBag)) return E_NOINTERFACE;
    auto* bag = new (std::nothrow) CPropertyBag(entry_);
    if (!bag) return E_OUTOFMEMORY;
    bag->NonDelegatingAddRef();
    const HRESULT hr = bag->NonDelegatingQueryInterface(iid, object);
    bag->NonDelegatingRelease();
    return hr;
  }
  HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPWSTR* name) override {
    if (!name) return E_POINTER;
    const size_t chars = static_cast<size_t>(entry_.displayName.size()) + 1;
    *name = static_cast<LPWSTR>(CoTaskMemAlloc(chars * sizeof(WCHAR)));
    if (!*name) return E_OUTOFMEMORY;
    std::memcpy(*name, entry_.displayName.utf16(), chars * sizeof(WCHAR));
    return S_OK;
  }

 private:
  DeviceEntry entry_;
};

class CEnumDeviceMonikers final : public CUnknown, public IEnumMoniker {
 public:
  CEnumDeviceMonikers(std::vector<DeviceEntry> entries, size_t position)
      : CUnknown("device moniker enumerator", nullptr), entries_(std::move(entries)), position_(position) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IEnumMoniker) return GetInterface(static_cast<IEnumMoniker*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
    if (!monikers) return E_POINTER;
    if (!fetched && count > 1) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < entries_.size()) {
      auto* moniker = new (std::nothrow) CDeviceMoniker(entries_[position_]);
      if (!moniker) break;
      ++position_;
      moniker->NonDelegatingAddRef();
      monikers[n++] = moniker;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ = std::min(entries_.size(), position_ + count);
    return position_ < entries_.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumMoniker** clone) override {
    if (!clone) return E_POINTER;
    auto* e = new (std::nothrow) CEnumDeviceMonikers(entries_, position_);
    if (!e) return E_OUTOFMEMORY;
    e->NonDelegatingAddRef();
    const HRESULT hr = e->NonDelegatingQueryInterface(IID_IEnumMoniker, reinterpret_cast<void**>(clone));
    e->NonDelegatingRelease();
    return hr;
  }

 private:
  std::vector<DeviceEntry> entries_;
  size_t position_;
};

class CSystemDeviceEnum final : public CUnknown, public ICreateDevEnum {
 public:
  explicit CSystemDeviceEnum(IUnknown* outer) : CUnknown("system device enumerator", outer) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_ICreateDevEnum) return GetInterface(static_cast<ICreateDevEnum*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    std::vector<DeviceEntry> entries;
    try {
      entries = ListDevices(category);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (entries.empty()) return S_FALSE;
    auto* e = new (std::nothrow) CEnumDeviceMonikers(std::move(entries), 0);
    if (!e) return E_OUTOFMEMORY;
    e->NonDelegatingAddRef();
    const HRESULT hr = e->NonDelegatingQueryInterface(IID_IEnumMoniker, reinterpret_cast<void**>(enumerator));
    e->NonDelegatingRelease();
    return hr;
  }
};

}  // namespace

int AddDeviceProvider(DeviceProvider provider) {
  std::lock_guard lock(g_providersLock);
  const int cookie = g_nextCookie++;
  Providers()[cookie] = std::move(provider);
  return cookie;
}

void RemoveDeviceProvider(int cookie) {
  std::lock_guard lock(g_providersLock);
  Providers().erase(cookie);
}

QString SoftwareDisplayName(REFCLSID category, REFCLSID clsid) {
  return QStringLiteral("@device:sw:%1\\%2").arg(GuidToString(category), GuidToString(clsid));
}

std::vector<DeviceEntry> ListDevices(REFCLSID category) {
  std::vector<DeviceEntry> result;
  auto append = [&](std::vector<DeviceEntry> more) {
    for (DeviceEntry& e : more) result.push_back(std::move(e));
  };
  // The machine's own cameras and sound cards come before the test devices, so that the first
  // device of a list (the one the capture program starts on) is a real one when there is one.
  append(V4l2DeviceEntries(category));
  append(V4l2TunerEntries(category));
  append(AlsaDeviceEntries(category));
  append(TestDeviceEntries(category));
  append(RegisteredEntries(category));
  std::vector<DeviceProvider> providers;
  {
    std::lock_guard lock(g_providersLock);
    for (const auto& [cookie, provider] : Providers()) providers.push_back(provider);
  }
  for (const DeviceProvider& provider : providers) append(provider(category));
  return result;
}

CUnknown* CreateSystemDeviceEnum(IUnknown* outer, HRESULT* hr) {
  auto* e = new (std::nothrow) CSystemDeviceEnum(outer);
  if (!e && hr) *hr = E_OUTOFMEMORY;
  return e;
}

}  // namespace kestrom::dshow
