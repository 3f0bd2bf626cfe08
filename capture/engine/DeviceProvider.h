#pragma once
// Where the device lists learn what the machine offers: one enumeration per device category,
// each device with its unique id (the moniker's display name), its friendly name and its class id.
// The graph's system device enumerator plugs in here (SystemDeviceProvider); tests use a fake.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/ControlInterfaces.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace kestrom::engine {

// Device categories of the system device enumerator, as class id text.
inline constexpr const char* CLSID_AudioInputDeviceCategory = "{33D9A762-90C8-11D0-BD43-00A0C911CE86}";
inline constexpr const char* CLSID_VideoInputDeviceCategory = "{860BB310-5D01-11D0-BD3B-00A0C911CE86}";
inline constexpr const char* CLSID_VideoCompressorCategory = "{33D9A760-90C8-11D0-BD43-00A0C911CE86}";
inline constexpr const char* CLSID_AudioCompressorCategory = "{33D9A761-90C8-11D0-BD43-00A0C911CE86}";

// Class ids a device may carry: the old-style capture driver wrapper, and the driver proxy that
// stands for every other (kernel-driver) capture device.
inline constexpr const char* CLSID_VfwCapture = "{1B544C22-FD0B-11CE-8C63-00AA0044B51E}";
inline constexpr const char* CLSID_Proxy = "{17CCA71B-ECD7-11D0-B908-00A0C9223196}";

/** @brief One device found by an enumeration. */
struct DeviceMoniker {
  QString displayName;                  // unique and stable id; empty when it could not be read
  std::optional<QString> friendlyName;  // missing: the device is not listed
  QString classId;                      // "CLSID" of the device's property bag
  QString devicePath;                   // "DevicePath" of hardware; empty for software filters
  com::ComPtr<dshow::IMoniker> moniker; // binds the filter; null for a fake's devices
};

class DeviceProvider {
 public:
  virtual ~DeviceProvider() = default;
  /**
   * @brief The devices of a category, in the enumerator's order: empty when the category has
   * none, nothing when the enumeration itself failed.
   */
  virtual std::optional<std::vector<DeviceMoniker>> Enumerate(const QString& category) = 0;
};

/** @brief The provider the device lists use (the system's, unless one was put in place). */
std::shared_ptr<DeviceProvider> CurrentDeviceProvider();

/** @brief Puts a provider in place (nullptr: back to the system's); for tests and tools. */
void SetDeviceProvider(std::shared_ptr<DeviceProvider> provider);

}  // namespace kestrom::engine

namespace kestrom::engine {

/**
 * @brief The devices of this machine as the graph's system device enumerator lists them: V4L2
 * cameras (keyed by their /dev/v4l/by-id link, so a camera keeps its settings when it is plugged
 * into another port), ALSA capture devices, the test camera and microphone, and the encoders
 * registered in the compressor categories. Every moniker it returns can bind its filter.
 */
class SystemDeviceProvider final : public DeviceProvider {
 public:
  std::optional<std::vector<DeviceMoniker>> Enumerate(const QString& category) override;
};

/**
 * @brief Makes the graph's filters creatable and lists them in the current registry (once per
 * registry folder): the device enumerator finds the compressors there.
 */
void EnsureGraphFiltersRegistered();

/** @brief Binds a moniker's filter; null when the moniker has none (a fake's) or binding fails. */
com::ComPtr<dshow::IBaseFilter> BindFilter(const DeviceMoniker& moniker);

/**
 * @brief A text that changes whenever a capture device node or sound card comes or goes, or the
 * test camera is plugged in or out (the device-change watch compares it between polls).
 */
QString DeviceNodesSignature();

}  // namespace kestrom::engine
