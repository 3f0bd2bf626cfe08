#include "capture/app/DeviceMenu.h"

#include "capture/engine/EngineComponent.h"

namespace kestrom::capture {

int DeviceMenu::VideoDeviceOf(int item) const {
  return item >= 0 && item < DeviceIndexMap.size() ? DeviceIndexMap[item] : -1;
}

DeviceMenu BuildDeviceMenu(const QStringList& videoDevices) {
  DeviceMenu menu;
  for (qsizetype i = 0; i < videoDevices.size() && menu.items.size() < kMaxMenuDevices; ++i) {
    if (videoDevices[i].startsWith(kHiddenDevicePrefix)) continue;
    menu.items << videoDevices[i];
    menu.DeviceIndexMap << static_cast<int>(i);
  }
  return menu;
}

FormMessage NoSignalMessage() {
  return {QStringLiteral("No signal is being received from your camcorder.\r\n"
                         "Please check that it is connected and switched on.\r\n"
                         "Then select it from the Video Device Menu.\r\n"
                         " \r\n"
                         "        ---------------------   \r\n"
                         " \r\n"
                         "NOTE:- The only option if no camera is available\r\n"
                         "is to check and/or setup the Pre-Allocation files"),
          520};
}

FormMessage SeveralDevicesMessage() {
  return {QStringLiteral("More than one Video Device has been detected. Please \r\n"
                         "check that one of these devices is your camcorder.\r\n"
                         "Then select it from the Video Device Menu."),
          508};
}

FormMessage DeviceLostMessage() {
  return {QStringLiteral("No signal is being received from the camera.\r\n"
                         "Please check that it is connected and switched on.\r\n"
                         "Please return to Preview Mode and Reset Preview"),
          520};
}

CameraSignalOutcome CheckCameraSignal(int menuItems) {
  CameraSignalOutcome outcome;
  if (menuItems <= 0) {
    outcome.message = NoSignalMessage();
    return outcome;
  }
  if (menuItems > 1) outcome.message = SeveralDevicesMessage();
  outcome.NoCameraMode = false;
  outcome.selectFirstDevice = true;
  return outcome;
}

bool ArrivalMaySelectDevice(const CaptureWork& work) {
  const bool idleOrPreview = work.state == engine::cs_None || work.state == engine::cs_Preview;
  return idleOrPreview && !work.RelayMode && !work.VideoFromImagesRun && !work.PreallocationRunning;
}

bool StartRefused(const CaptureWork& work) {
  if (work.RelayMode || work.VideoFromImagesRun || work.PreallocationRunning || work.sequenceRunning ||
      work.stepPending)
    return true;
  return work.state == engine::cs_Recording || work.state == engine::cs_Reencoding;
}

}  // namespace kestrom::capture
