#include "tests/platform/dshow/support/FixtureDevices.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"

namespace kestrom::dshow::test {

using namespace com;

namespace {
constexpr CLSID CLSID_FixtureCamera = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F01}");
constexpr CLSID CLSID_FixtureMicrophone = com::MakeGuid("{6A2D4E10-3C5B-4F7A-8D19-2E4B6C8A0F02}");
}  // namespace

DeviceEntry FixtureEntry(const char16_t* name, const char* path, REFCLSID clsid, com::NewComObjectFunction create) {
  DeviceEntry e;
  e.friendlyName = QString::fromUtf16(name);
  e.devicePath = QString::fromLatin1(path);
  e.displayName = QStringLiteral("@device:pnp:") + e.devicePath;
  e.clsid = clsid;
  e.create = [create](REFIID iid, void** object) {
    HRESULT hr = S_OK;
    com::CUnknown* made = create(nullptr, &hr);
    if (!made) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    made->NonDelegatingAddRef();
    hr = made->NonDelegatingQueryInterface(iid, object);
    made->NonDelegatingRelease();
    return hr;
  };
  return e;
}

FixtureDevices::FixtureDevices() {
  cookie_ = AddDeviceProvider([this](REFCLSID category) {
    std::vector<DeviceEntry> result;
    for (const Listed& d : devices_)
      if (d.category == category) result.push_back(d.entry);
    return result;
  });
}

FixtureDevices::~FixtureDevices() { RemoveDeviceProvider(cookie_); }

void FixtureDevices::Add(REFCLSID category, DeviceEntry entry) { devices_.push_back({category, std::move(entry)}); }

void FixtureDevices::AddSecondCameraAndMicrophone() {
  Add(CLSID_VideoInputDeviceCategory,
      FixtureEntry(kSecondCameraName, "kestrom:fixture-camera", CLSID_FixtureCamera, &CreateTestCamera));
  Add(CLSID_AudioInputDeviceCategory,
      FixtureEntry(kSecondMicrophoneName, "kestrom:fixture-camera#audio", CLSID_FixtureMicrophone, &CreateTestMicrophone));
}

}  // namespace kestrom::dshow::test
