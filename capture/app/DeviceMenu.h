#pragma once
// The device menu of the capture form and what the form does with it: which video devices are
// offered, which device each item stands for, whether a camera is there, and whether a device
// that arrives may be selected now.

#include "capture/app/FormMessage.h"

#include <QList>
#include <QStringList>
#include <optional>

namespace kestrom::capture {

/** @brief At most this many devices are listed in the menu. */
inline constexpr int kMaxMenuDevices = 10;

/** @brief Devices whose names begin with this are never offered. */
inline const QString kHiddenDevicePrefix = QStringLiteral("SMRT");

struct DeviceMenu {
  /** @brief The menu's items, in the order of the video device list. */
  QStringList items;
  /** @brief Entry k: index in the component's video device list of item k (at most 10 entries). */
  QList<int> DeviceIndexMap;
  /** @brief The video device of a menu item; -1 for an item that is not there. */
  int VideoDeviceOf(int item) const;
};

/** @brief The menu of a video device list: "SMRT" names left out, the first 10 others listed. */
DeviceMenu BuildDeviceMenu(const QStringList& videoDevices);

/** @brief The no-signal message: at start-up with no device, and at each page change without one. */
FormMessage NoSignalMessage();
/** @brief The message shown when more than one device is listed. */
FormMessage SeveralDevicesMessage();
/** @brief The message shown when the running device stops delivering. */
FormMessage DeviceLostMessage();

struct CameraSignalOutcome {
  /** @brief The message to show first, when there is one. */
  std::optional<FormMessage> message;
  /** @brief No usable video device: the working pages are disabled. */
  bool NoCameraMode = true;
  /** @brief Item 0 of the menu is selected and preview starts on it. */
  bool selectFirstDevice = false;
};

/** @brief What the form does with a menu of this many items. */
CameraSignalOutcome CheckCameraSignal(int menuItems);

/** @brief The work of the capture form that an arriving device must not interrupt. */
struct CaptureWork {
  int state = 0;  // the component's current state (0 none, 1 preview, 2 recording, 3 player, 4 re-encoding)
  bool RelayMode = false;
  bool VideoFromImagesRun = false;
  bool PreallocationRunning = false;
  /** @brief A sequence of videos is between its recordings or re-encodings. */
  bool sequenceRunning = false;
  /** @brief A one-shot step of a capture, relay, re-encoding or image run is armed. */
  bool stepPending = false;
};

/**
 * @brief True when an arriving device may run the camera check (which selects a device and starts
 * preview): only in preview or with nothing running, and no relay, video-from-images run or
 * preallocation under way. Otherwise the arrival only refreshes the lists. Either way the arrival
 * itself never clears NoCameraMode: an arriving microphone is no camera, so the flag is what the
 * camera check finds.
 */
bool ArrivalMaySelectDevice(const CaptureWork& work);

/**
 * @brief True when a button that starts a recording, a player or a re-encoding must not act now: a
 * recording or re-encoding runs, a relay (recording, delay or playback), sequence, video-from-images
 * run or preallocation is under way, or a step of one is armed. An open player alone refuses
 * nothing: each start closes it first.
 */
bool StartRefused(const CaptureWork& work);

}  // namespace kestrom::capture
