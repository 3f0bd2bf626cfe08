// The device lists' view of the graph's system device enumerator: the one place that knows which
// cameras, sound cards, test devices and compressors the machine has.
#include "capture/engine/DeviceProvider.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/graph/GraphClasses.h"
#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/registry/Registry.h"

#include <QDir>
#include <QFile>
#include <mutex>

namespace kestrom::engine {

using namespace kestrom::dshow;
using com::ComPtr;
using com::FAILED;
using com::SUCCEEDED;

namespace {

QString ReadProperty(IPropertyBag* bag, const char16_t* name, bool* found = nullptr) {
  VARIANT value;
  VariantInit(&value);
  const bool ok = SUCCEEDED(bag->Read(reinterpret_cast<LPCWSTR>(name), &value, nullptr)) && value.vt == VT_BSTR;
  QString text;
  if (ok) text = QString::fromUtf16(value.bstrVal, SysStringLen(value.bstrVal));
  VariantClear(&value);
  if (found) *found = ok;
  return text;
}

}  // namespace

void EnsureGraphFiltersRegistered() {
  static std::mutex mutex;
  static QString registeredIn;
  static bool registered = false;
  std::lock_guard lock(mutex);
  // The filter mapper's entries live in the registry, which tests and tools move to a folder of
  // their own: register again whenever it moved.
  const QString folder = registry::RegistryDirectory();
  if (registered && folder == registeredIn) return;
  graph::RegisterGraphFilters();
  RegisterSourceFilters();
  RegisterWriterFilters();
  registered = true;
  registeredIn = folder;
}

std::optional<std::vector<DeviceMoniker>> SystemDeviceProvider::Enumerate(const QString& category) {
  const std::optional<com::GUID> id = com::GuidFromString(category);
  if (!id) return std::vector<DeviceMoniker>();  // no such category: nothing in it
  EnsureGraphFiltersRegistered();
  ComPtr<ICreateDevEnum> devices;
  if (FAILED(com::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, com::CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   devices.PutVoid())) ||
      !devices)
    return std::nullopt;
  ComPtr<IEnumMoniker> monikers;
  const HRESULT hr = devices->CreateClassEnumerator(*id, monikers.Put(), 0);
  if (FAILED(hr)) return std::nullopt;
  std::vector<DeviceMoniker> result;
  if (hr != com::S_OK || !monikers) return result;  // S_FALSE: an empty category
  IMoniker* raw = nullptr;
  ULONG fetched = 0;
  while (monikers->Next(1, &raw, &fetched) == com::S_OK && raw) {
    DeviceMoniker device;
    device.moniker = ComPtr<IMoniker>::Attach(raw);
    raw = nullptr;
    LPWSTR display = nullptr;
    if (SUCCEEDED(device.moniker->GetDisplayName(nullptr, nullptr, &display)) && display)
      device.displayName = QString::fromUtf16(display);
    com::CoTaskMemFree(display);
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(device.moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())) && bag) {
      bool named = false;
      const QString friendly = ReadProperty(bag.Get(), u"FriendlyName", &named);
      if (named) device.friendlyName = friendly;
      device.classId = ReadProperty(bag.Get(), u"CLSID");
      device.devicePath = ReadProperty(bag.Get(), u"DevicePath");
    }
    result.push_back(std::move(device));
  }
  return result;
}

ComPtr<IBaseFilter> BindFilter(const DeviceMoniker& moniker) {
  ComPtr<IBaseFilter> filter;
  if (!moniker.moniker) return filter;
  if (FAILED(moniker.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.PutVoid()))) filter.Reset();
  return filter;
}

namespace {
std::mutex providerMutex;
std::shared_ptr<DeviceProvider> installedProvider;
}  // namespace

std::shared_ptr<DeviceProvider> CurrentDeviceProvider() {
  std::lock_guard lock(providerMutex);
  if (!installedProvider) installedProvider = std::make_shared<SystemDeviceProvider>();
  return installedProvider;
}

void SetDeviceProvider(std::shared_ptr<DeviceProvider> provider) {
  std::lock_guard lock(providerMutex);
  installedProvider = std::move(provider);
}

QString DeviceNodesSignature() {
  QStringList parts;
  parts << QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System | QDir::Files,
                                                  QDir::Name);
  parts << QDir(QStringLiteral("/dev/v4l/by-id")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                                                            QDir::Name);
  parts << QDir(QStringLiteral("/dev/snd")).entryList({QStringLiteral("pcmC*c")}, QDir::System | QDir::Files,
                                                      QDir::Name);
  QFile cards(QStringLiteral("/proc/asound/cards"));
  if (cards.open(QIODevice::ReadOnly)) parts << QString::fromUtf8(cards.readAll());
  parts << (TestCameraPlugged() ? QStringLiteral("test camera plugged") : QStringLiteral("test camera unplugged"));
  return parts.join(QLatin1Char('\n'));
}

}  // namespace kestrom::engine
