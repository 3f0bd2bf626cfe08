#pragma once
// Devices the device tests plug in beside the test card: while a FixtureDevices object lives,
// the system device enumerator lists its devices after all others.

#include "platform/com/ClassFactory.h"
#include "platform/dshow/sources/DeviceEnumerator.h"

#include <vector>

namespace kestrom::dshow::test {

/** @brief A second test camera (with the test card's crossbar and tuner) and its own microphone. */
inline constexpr const char16_t* kSecondCameraName = u"Kestrom Fixture Camera";
inline constexpr const char16_t* kSecondMicrophoneName = u"Kestrom Fixture Camera Microphone";

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

 private:
  struct Listed {
    CLSID category;
    DeviceEntry entry;
  };
  std::vector<Listed> devices_;
  int cookie_ = 0;
};

}  // namespace kestrom::dshow::test
