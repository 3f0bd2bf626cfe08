#pragma once
// Audio capture devices of the sound system (ALSA): one capture filter per card with capture
// devices, one input pin per capture line of the card's mixer.

#include "platform/dshow/sources/DeviceEnumerator.h"

namespace kestrom::dshow {

/** @brief The sound cards that can capture (audio capture category only). */
std::vector<DeviceEntry> AlsaDeviceEntries(REFCLSID category);

/** @brief Makes the capture filter of an ALSA device ("hw:CARD=...,DEV=0"). */
HRESULT CreateAlsaFilter(const QString& device, const QString& friendlyName, REFIID iid, void** object);

}  // namespace kestrom::dshow
