// The device menu, the camera check's outcome and when an arriving device may be selected.

#include "capture/app/DeviceMenu.h"
#include "capture/engine/EngineComponent.h"

#include <gtest/gtest.h>

namespace kestrom::capture {
namespace {

TEST(CaptureAppDeviceMenu, SkipsSmrtDevicesAndListsAtMostTen) {
  QStringList devices = {"SMRT Board", "test camera 0"};
  for (int i = 1; i <= 10; ++i) devices << QString("test camera %1").arg(i);  // 11 usable in all
  devices.insert(5, "SMRTcam");
  devices.insert(7, "smrt lower case is listed");
  const DeviceMenu menu = BuildDeviceMenu(devices);
  ASSERT_EQ(menu.items.size(), 10);
  ASSERT_EQ(menu.DeviceIndexMap.size(), 10);
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(devices[menu.DeviceIndexMap[k]], menu.items[k]) << k;
    EXPECT_EQ(menu.VideoDeviceOf(k), menu.DeviceIndexMap[k]);
    EXPECT_FALSE(menu.items[k].startsWith("SMRT")) << k;
  }
  EXPECT_EQ(menu.DeviceIndexMap.first(), 1);
  EXPECT_TRUE(menu.items.contains("smrt lower case is listed"));
  EXPECT_FALSE(menu.items.contains("test camera 10"));  // the eleventh usable device
  EXPECT_EQ(menu.VideoDeviceOf(10), -1);
  EXPECT_EQ(menu.VideoDeviceOf(-1), -1);

  EXPECT_TRUE(BuildDeviceMenu({"SMRT only"}).items.isEmpty());
  EXPECT_TRUE(BuildDeviceMenu({}).DeviceIndexMap.isEmpty());
}

TEST(CaptureAppDeviceMenu, TheCameraCheckFollowsTheMenu) {
  const CameraSignalOutcome none = CheckCameraSignal(0);
  ASSERT_TRUE(none.message);
  EXPECT_EQ(*none.message, NoSignalMessage());
  EXPECT_EQ(none.message->leftOffset, 520);
  EXPECT_TRUE(none.message->text.endsWith("is to check and/or setup the Pre-Allocation files"));
  EXPECT_EQ(none.message->text.count("\r\n"), 7);  // eight lines
  EXPECT_TRUE(none.NoCameraMode);
  EXPECT_FALSE(none.selectFirstDevice);

  const CameraSignalOutcome one = CheckCameraSignal(1);
  EXPECT_FALSE(one.message);
  EXPECT_FALSE(one.NoCameraMode);
  EXPECT_TRUE(one.selectFirstDevice);

  const CameraSignalOutcome two = CheckCameraSignal(2);
  ASSERT_TRUE(two.message);
  EXPECT_EQ(two.message->leftOffset, 508);
  EXPECT_TRUE(two.message->text.startsWith("More than one Video Device has been detected."));
  EXPECT_FALSE(two.NoCameraMode);
  EXPECT_TRUE(two.selectFirstDevice);
}

TEST(CaptureAppDeviceMenu, AnArrivalSelectsADeviceOnlyWhenNoWorkIsUnderWay) {
  using namespace engine;
  struct Case {
    const char* name;
    CaptureWork work;
    bool selects;
  };
  const QList<Case> cases = {
      {"idle", {cs_None}, true},
      {"preview", {cs_Preview}, true},
      {"recording", {cs_Recording}, false},
      {"player", {cs_Player}, false},
      {"re-encoding", {cs_Reencoding}, false},
      {"relay between its recordings", {cs_Preview, true}, false},
      {"video from images", {cs_Preview, false, true}, false},
      {"preallocation", {cs_None, false, false, true}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(ArrivalMaySelectDevice(c.work), c.selects) << c.name;
}

TEST(CaptureAppDeviceMenu, StartsAreRefusedWhileWorkRunsButNotBesideAnOpenPlayer) {
  using namespace engine;
  struct Case {
    const char* name;
    CaptureWork work;
    bool refused;
  };
  const QList<Case> cases = {
      {"idle", {cs_None}, false},
      {"preview", {cs_Preview}, false},
      {"player", {cs_Player}, false},
      {"recording", {cs_Recording}, true},
      {"re-encoding", {cs_Reencoding}, true},
      {"relay playing back", {cs_Player, true}, true},
      {"video from images", {cs_Preview, false, true}, true},
      {"preallocation", {cs_None, false, false, true}, true},
      {"sequence between videos", {cs_Preview, false, false, false, true}, true},
      {"a step armed", {cs_Preview, false, false, false, false, true}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(StartRefused(c.work), c.refused) << c.name;
}

}  // namespace
}  // namespace kestrom::capture
