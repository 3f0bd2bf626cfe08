#include "platform/dshow/sources/AlsaDevices.h"

namespace kestrom::dshow {

std::vector<DeviceEntry> AlsaDeviceEntries(REFCLSID) { return {}; }

HRESULT CreateAlsaFilter(const QString&, const QString&, REFIID, void** object) {
  if (object) *object = nullptr;
  return com::E_NOTIMPL;
}

}  // namespace kestrom::dshow
