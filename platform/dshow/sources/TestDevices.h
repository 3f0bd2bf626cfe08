#pragma once
// The synthetic devices that are always present (unless KESTROM_TEST_DEVICES=0): a test camera
// whose pictures carry their frame numbers, with a crossbar and a TV tuner in front of it as a
// capture card has them, and a test microphone that gives a tone. They let every capture path
// run on a machine without a camera and are the fixtures of the capture tests.

#include "platform/com/Unknown.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

inline constexpr CLSID CLSID_KestromTestCamera = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E01}");
inline constexpr CLSID CLSID_KestromTestCrossbar = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E02}");
inline constexpr CLSID CLSID_KestromTestTuner = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E03}");
inline constexpr CLSID CLSID_KestromTestMicrophone = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E04}");
/** @brief The medium class that wires the test card's tuner, crossbar and camera together. */
inline constexpr GUID KESTROM_TEST_CARD_MEDIUM = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E10}");

inline constexpr const char16_t* kTestCameraName = u"Kestrom Test Camera";
inline constexpr const char16_t* kTestCrossbarName = u"Kestrom Test Crossbar";
inline constexpr const char16_t* kTestTunerName = u"Kestrom Test TV Tuner";
inline constexpr const char16_t* kTestMicrophoneName = u"Kestrom Test Microphone";

/** @brief False when KESTROM_TEST_DEVICES is "0": the device lists then show real devices only. */
bool TestDevicesEnabled();

/**
 * @brief Live (the default): the test devices deliver at their rate with times from the graph
 * clock, dropping frames when the graph falls behind. Not live: as fast as the graph takes
 * them, with times from the frame number within the run, for benchmarks. Either way a camera's
 * frame numbers go on across stops. KESTROM_TEST_DEVICES_LIVE=0 starts a process not live.
 */
void SetTestDevicesLive(bool live);
bool TestDevicesLive();

/**
 * @brief The unplug switch of the test camera: unplugging posts EC_DEVICE_LOST (filter, 0) to
 * the graph of every test camera filter and stops their pictures; the device lists no longer
 * show it. Plugging it back posts EC_DEVICE_LOST (filter, 1) and the pictures go on.
 */
void SetTestCameraPlugged(bool plugged);
bool TestCameraPlugged();

/**
 * @brief How many frames every test camera of this process has dropped so far: the slots that
 * passed while the graph (or a loaded machine) held its streaming thread up. Their numbers are
 * skipped in the pictures, as a real camera's sequence numbers are.
 */
long TestCameraDroppedFrames();

com::CUnknown* CreateTestCamera(com::IUnknown* outer, HRESULT* hr);
com::CUnknown* CreateTestCrossbar(com::IUnknown* outer, HRESULT* hr);
com::CUnknown* CreateTestTuner(com::IUnknown* outer, HRESULT* hr);
com::CUnknown* CreateTestMicrophone(com::IUnknown* outer, HRESULT* hr);

/** @brief The test camera's frame sizes and rates (frames per second). */
struct TestCameraMode {
  LONG width, height;
};
inline constexpr TestCameraMode kTestCameraSizes[] = {{160, 120}, {320, 240},  {352, 288},  {640, 480},
                                                      {720, 576}, {1280, 720}, {1920, 1080}};
inline constexpr double kTestCameraRates[] = {25.0, 30000.0 / 1001.0, 30.0, 50.0};

}  // namespace kestrom::dshow
