#pragma once
// A fixture for tests that build graphs on the real device enumeration: the test camera plugged
// in and delivering as fast as the graph takes it, the test microphone, the process log on.

#include "EngineFixtures.h"

#include "capture/engine/Devices.h"
#include "platform/dshow/sources/TestDevices.h"

#include <cstdlib>

namespace kestrom::engine::test {

class TestCameraTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    unsetenv("KESTROM_TEST_DEVICES");
    SetDeviceWatchThreadEnabled(false);
    dshow::SetTestCameraPlugged(true);
    dshow::SetTestDevicesLive(false);
    SetDeviceProvider(nullptr);
    EnableProcessLog();
  }
  void TearDown() override {
    dshow::SetTestDevicesLive(true);
    EngineTest::TearDown();
  }
  static int CameraIndex() {
    return VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::kTestCameraName) + " (WDM)");
  }
  static int MicrophoneIndex() {
    const TDevices* list = AudioDeviceList();
    for (int i = 0; i < list->Count(); ++i)
      if (list->Name(i).startsWith(QString::fromUtf16(dshow::kTestMicrophoneName))) return i;
    return -1;
  }
};

}  // namespace kestrom::engine::test
