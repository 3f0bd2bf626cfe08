#pragma once
// Audio capture devices of the sound system (ALSA): one capture filter per card with capture
// devices, one input pin per capture line of the card's mixer.

#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/GraphInterfaces.h"

namespace kestrom::dshow {

/** @brief The sound cards that can capture (audio capture category only). */
std::vector<DeviceEntry> AlsaDeviceEntries(REFCLSID category);

/** @brief Makes the capture filter of an ALSA device ("hw:CARD=x,DEV=0") with the mixer of its card ("hw:CARD=x"). */
HRESULT CreateAlsaFilter(const QString& device, const QString& card, REFIID iid, void** object);

}  // namespace kestrom::dshow
