#include "platform/dshow/sources/V4l2Devices.h"

namespace kestrom::dshow {

std::vector<DeviceEntry> V4l2DeviceEntries(REFCLSID) { return {}; }

HRESULT CreateV4l2Filter(const QString&, REFIID, void** object) {
  if (object) *object = nullptr;
  return com::E_NOTIMPL;
}

}  // namespace kestrom::dshow
