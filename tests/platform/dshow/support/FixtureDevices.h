#pragma once
// Devices the device tests plug in beside the test card: while a FixtureDevices object lives,
// the system device enumerator lists its devices after all others.

#include "platform/com/ClassFactory.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/DeviceInterfaces.h"

#include <memory>
#include <mutex>
#include <string>

#include <vector>

namespace kestrom::dshow::test {

/** @brief A second test camera (with the test card's crossbar and tuner) and its own microphone. */
inline constexpr const char16_t* kSecondCameraName = u"Kestrom Fixture Camera";
inline constexpr const char16_t* kSecondMicrophoneName = u"Kestrom Fixture Camera Microphone";

/** @brief A PAL DV camcorder: an interleaved (`iavs`) pin and a capture-category DV video pin. */
inline constexpr const char16_t* kDvCamcorderName = u"Kestrom Fixture DV Camcorder";
inline constexpr const char16_t* kDvInterleavedPinName = u"DV A/V Out";
inline constexpr const char16_t* kDvVideoPinName = u"DV Vid Out";
/** @brief The recording date and time every frame of the DV camcorder carries (year, month, day, hour, minute, second). */
inline constexpr int kDvRecordingDate[6] = {2004, 2, 29, 12, 34, 58};
/** @brief A hardware encoder whose one pin gives an MPEG-2 program stream. */
inline constexpr const char16_t* kProgramStreamDeviceName = u"Kestrom Fixture MPEG-2 Encoder";

com::CUnknown* CreateDvCamcorder(com::IUnknown* outer, HRESULT* hr);
com::CUnknown* CreateProgramStreamDevice(com::IUnknown* outer, HRESULT* hr);

/** @brief A device entry whose filter the given function makes. */
DeviceEntry FixtureEntry(const char16_t* name, const char* path, REFCLSID clsid, com::NewComObjectFunction create);

class FixtureDevices {
 public:
  FixtureDevices();
  ~FixtureDevices();
  FixtureDevices(const FixtureDevices&) = delete;
  FixtureDevices& operator=(const FixtureDevices&) = delete;

  /** @brief Lists a device in a category from now on. */
  void Add(REFCLSID category, DeviceEntry entry);
  /** @brief The second camera in the video input category and its microphone in the audio one. */
  void AddSecondCameraAndMicrophone();
  /** @brief The DV camcorder in the video input category. */
  void AddDvCamcorder();
  /** @brief The MPEG-2 program-stream device in the video input category. */
  void AddProgramStreamDevice();

 private:
  struct Listed {
    CLSID category;
    DeviceEntry entry;
  };
  std::vector<Listed> devices_;
  int cookie_ = 0;
};

/** @brief One pin of a table crossbar; a pin without a medium class takes no connection. */
struct CrossbarPinRow {
  std::u16string name;
  LONG physicalType;
  LONG related;
  REGPINMEDIUM medium{};
};

/**
 * @brief A crossbar made from a pin table, inputs before outputs: an input routes to an output
 * when both are video or both audio. Each output starts routed from the first input it can take.
 */
class CTableCrossbar final : public CBaseFilter, public IAMCrossbar {
 public:
  CTableCrossbar(std::vector<CrossbarPinRow> inputs, std::vector<CrossbarPinRow> outputs);
  ~CTableCrossbar() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  IPin* Input(int index);
  IPin* Output(int index);

  HRESULT get_PinCounts(LONG* outputs, LONG* inputs) override;
  HRESULT CanRoute(LONG output, LONG input) override;
  HRESULT Route(LONG output, LONG input) override;
  HRESULT get_IsRoutedTo(LONG output, LONG* input) override;
  HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* relatedIndex, LONG* physicalType) override;

 private:
  std::recursive_mutex lock_;
  std::vector<CrossbarPinRow> inputRows_, outputRows_;
  std::vector<std::unique_ptr<CBasePin>> pins_;
  std::vector<LONG> routes_;
};

}  // namespace kestrom::dshow::test
