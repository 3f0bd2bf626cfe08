#pragma once
// The TV tuner of a V4L2 capture card: a filter upstream of the card's capture filter (wired to
// its tuner input by a medium), listed under the TV tuner category. Channels become frequencies
// through the broadcast and cable channel plans of the tuning space's country, or through the
// frequencies stored for a tuning space and input type (overrides and auto-tune results).

#include "platform/dshow/sources/DeviceEnumerator.h"
#include "platform/dshow/sources/DeviceInterfaces.h"

namespace kestrom::dshow {

inline constexpr CLSID CLSID_KestromV4l2Tuner = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E51}");
/** @brief The medium class of the wire between a V4L2 tuner and its capture filter's tuner input. */
inline constexpr GUID KESTROM_V4L2_TUNER_MEDIUM = com::MakeGuid("{3F1C2A40-8B7D-4C55-9E21-6A0B5D4C7E52}");

/** @brief The medium that wires the tuner of a device node to the node's capture filter. */
REGPINMEDIUM V4l2TunerMedium(const QString& devicePath);

/** @brief The tuners of the machine's capture cards (TV tuner category only). */
std::vector<DeviceEntry> V4l2TunerEntries(REFCLSID category);

/** @brief Makes the tuner filter of a device node; VFW_E_NOT_FOUND when it has no tuner. */
HRESULT CreateV4l2Tuner(const QString& devicePath, REFIID iid, void** object);

/**
 * @brief Makes the tuner filter over an open descriptor (which it owns and closes). A descriptor
 * of no device (-1, or a device unplugged since) gives a tuner whose device calls fail with
 * VFW_E_NO_CAPTURE_HARDWARE, as a card pulled out while its graph exists.
 */
HRESULT CreateV4l2TunerOn(int fd, const QString& devicePath, ULONG tunerIndex, REFIID iid, void** object);

/**
 * @brief The picture carrier of a channel in Hz: an override stored for the tuning space and
 * input type (value named after the channel), else a frequency found by auto-tuning (the
 * "AutoTune" pairs), else the channel plan of the country. 0 when the channel has no frequency.
 */
LONG TunerChannelFrequency(LONG tuningSpace, LONG countryCode, TunerInputType input, LONG channel);

/** @brief The lowest and highest channel of a country's plan for an input type. */
void TunerChannelRange(LONG countryCode, TunerInputType input, LONG* min, LONG* max);

/** @brief The registry key (machine root) of the frequencies stored for a tuning space and input type. */
QString TunerFrequencyKey(LONG tuningSpace, TunerInputType input);

}  // namespace kestrom::dshow
