#pragma once
// Where the device lists learn what the machine offers: one enumeration per device category,
// each device with its unique id (the moniker's display name), its friendly name and its class id.
// The system device enumerator plugs in here; tests use a fake.

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

// The synthetic devices that are always present (unless KESTROM_TEST_DEVICES=0): every capture
// path can run on a machine without a camera, and they are the test fixtures.
inline constexpr const char* TestCameraName = "Test Camera";
inline constexpr const char* TestCameraMoniker = "@kestrom:test-camera";
inline constexpr const char* TestMicrophoneName = "Test Microphone";
inline constexpr const char* TestMicrophoneMoniker = "@kestrom:test-microphone";

/** @brief False when KESTROM_TEST_DEVICES is "0". */
bool TestDevicesEnabled();

/**
 * @brief The devices of this machine: V4L2 capture devices (named through the driver, keyed by
 * their /dev/v4l/by-id link so a device keeps its settings across re-plugging), ALSA capture
 * devices, the FFmpeg encoders under the compressor names the programs look for, and the test
 * camera and microphone.
 */
class SystemDeviceProvider final : public DeviceProvider {
 public:
  std::optional<std::vector<DeviceMoniker>> Enumerate(const QString& category) override;
};

/** @brief V4L2 video capture devices, in device-number order. */
std::vector<DeviceMoniker> ScanV4l2Devices(const QString& devFolder = QStringLiteral("/dev"));
/** @brief ALSA capture PCM devices, card by card. */
std::vector<DeviceMoniker> ScanAlsaCaptureDevices();
/** @brief The FFmpeg encoders this build has, under their compressor names. */
std::vector<DeviceMoniker> ScanCompressors(bool video);
/** @brief The FFmpeg encoder behind a compressor's display name; empty when it is not one of ours. */
QString EncoderOfCompressor(const QString& displayName);

/**
 * @brief A text that changes whenever a capture device node or sound card comes or goes (the
 * device-change watch compares it between polls).
 */
QString DeviceNodesSignature();

}  // namespace kestrom::engine
