#pragma once
// Video capture devices of the kernel's video interface (/dev/video*): listed by the device
// enumerator under the video capture category, keyed by their stable /dev/v4l/by-id path so a
// device keeps its settings when it is plugged into another port.

#include "platform/dshow/sources/DeviceEnumerator.h"

#include <optional>
#include <sys/time.h>

namespace kestrom::dshow {

/** @brief The capture devices of the machine (video capture category only). */
std::vector<DeviceEntry> V4l2DeviceEntries(REFCLSID category);

/**
 * @brief Makes the capture filter of a device node (or its by-id link). Fails with
 * VFW_E_NOT_FOUND when the node is missing or is no video capture device.
 */
HRESULT CreateV4l2Filter(const QString& devicePath, REFIID iid, void** object);

/**
 * @brief The stream time of a dequeued frame: the moment the driver captured it, when its buffer
 * flags say the timestamp is monotonic clock time (turned into stream time through the pair
 * monotonicNow / streamNow, both read at dequeue); streamNow when the driver gives no capture
 * time (unknown or copied timestamp, or zero). Empty for a frame captured before the stream
 * started, which is not delivered. Times in 100 ns units.
 */
std::optional<REFERENCE_TIME> V4l2FrameStreamTime(uint32_t bufferFlags, const timeval& captured,
                                                  REFERENCE_TIME monotonicNow, REFERENCE_TIME streamNow);

/** @brief The analog standards (AnalogVideo_ bits) of a set of V4L2 standards. */
LONG AnalogStandardsOfV4l2(uint64_t standards);

}  // namespace kestrom::dshow
