#include "tests/platform/dshow/support/FixtureDevices.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/AnalogPins.h"
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

namespace {
bool IsAudioConnector(LONG type) { return type >= PhysConn_Audio_Tuner; }
}  // namespace

CTableCrossbar::CTableCrossbar(std::vector<CrossbarPinRow> inputs, std::vector<CrossbarPinRow> outputs)
    : CBaseFilter("table crossbar", nullptr, &lock_, GUID_NULL), inputRows_(std::move(inputs)),
      outputRows_(std::move(outputs)) {
  auto major = [](const CrossbarPinRow& row) { return IsAudioConnector(row.physicalType) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo; };
  for (const CrossbarPinRow& row : inputRows_)
    pins_.push_back(std::make_unique<CAnalogInputPin>(this, &lock_, row.name.c_str(), major(row), row.medium));
  for (const CrossbarPinRow& row : outputRows_) {
    pins_.push_back(std::make_unique<CAnalogOutputPin>(this, &lock_, row.name.c_str(), major(row), row.medium));
    LONG routed = -1;
    for (LONG i = 0; i < static_cast<LONG>(inputRows_.size()) && routed < 0; ++i)
      if (IsAudioConnector(inputRows_[i].physicalType) == IsAudioConnector(row.physicalType)) routed = i;
    routes_.push_back(routed);
  }
}

CTableCrossbar::~CTableCrossbar() = default;

HRESULT CTableCrossbar::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMCrossbar) return GetInterface(static_cast<IAMCrossbar*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

int CTableCrossbar::GetPinCount() { return static_cast<int>(pins_.size()); }

CBasePin* CTableCrossbar::GetPin(int n) {
  return n >= 0 && n < GetPinCount() ? pins_[static_cast<size_t>(n)].get() : nullptr;
}

IPin* CTableCrossbar::Input(int index) { return GetPin(index); }

IPin* CTableCrossbar::Output(int index) {
  return index >= 0 ? GetPin(static_cast<int>(inputRows_.size()) + index) : nullptr;
}

HRESULT CTableCrossbar::get_PinCounts(LONG* outputs, LONG* inputs) {
  if (!outputs || !inputs) return E_POINTER;
  *outputs = static_cast<LONG>(outputRows_.size());
  *inputs = static_cast<LONG>(inputRows_.size());
  return S_OK;
}

HRESULT CTableCrossbar::CanRoute(LONG output, LONG input) {
  if (output < 0 || output >= static_cast<LONG>(outputRows_.size()) || input < -1 ||
      input >= static_cast<LONG>(inputRows_.size()))
    return E_INVALIDARG;
  if (input == -1) return S_OK;
  return IsAudioConnector(inputRows_[input].physicalType) == IsAudioConnector(outputRows_[output].physicalType)
             ? S_OK
             : S_FALSE;
}

HRESULT CTableCrossbar::Route(LONG output, LONG input) {
  const HRESULT can = CanRoute(output, input);
  if (can != S_OK) return FAILED(can) ? can : E_FAIL;
  std::lock_guard lock(lock_);
  routes_[static_cast<size_t>(output)] = input;
  return S_OK;
}

HRESULT CTableCrossbar::get_IsRoutedTo(LONG output, LONG* input) {
  if (!input) return E_POINTER;
  if (output < 0 || output >= static_cast<LONG>(outputRows_.size())) return E_INVALIDARG;
  std::lock_guard lock(lock_);
  *input = routes_[static_cast<size_t>(output)];
  return S_OK;
}

HRESULT CTableCrossbar::get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* relatedIndex, LONG* physicalType) {
  if (!relatedIndex || !physicalType) return E_POINTER;
  const std::vector<CrossbarPinRow>& rows = isInput ? inputRows_ : outputRows_;
  if (index < 0 || index >= static_cast<LONG>(rows.size())) return E_INVALIDARG;
  *relatedIndex = rows[static_cast<size_t>(index)].related;
  *physicalType = rows[static_cast<size_t>(index)].physicalType;
  return S_OK;
}

}  // namespace kestrom::dshow::test
