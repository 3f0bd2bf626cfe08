#pragma once
// The analog pins that join a capture card's filters: tuner to crossbar, crossbar to capture
// filter. No data flows through them; they carry a medium (AMPROPERTY_PIN_MEDIUM), so a graph
// builder knows which pins are wired together in the hardware, and a pin category.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/sources/DeviceInterfaces.h"

namespace kestrom::dshow {

/** @brief The property set of a device pin: its category and its medium, both read only. */
class CDevicePinProperties : public IKsPropertySet {
 protected:
  const REGPINMEDIUM& Medium() const { return medium_; }

 public:
  CDevicePinProperties(const GUID& category, const REGPINMEDIUM& medium) : category_(category), medium_(medium) {}

  HRESULT Set(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize) override;
  HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceSize, void* data, DWORD dataSize,
              DWORD* returned) override;
  HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

 private:
  GUID category_;
  REGPINMEDIUM medium_;
};

class CAnalogOutputPin final : public CBaseOutputPin, public CDevicePinProperties {
 public:
  CAnalogOutputPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const GUID& major,
                   const REGPINMEDIUM& medium, const GUID& category = com::GUID_NULL);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  GUID major_;
};

class CAnalogInputPin final : public CBaseInputPin, public CDevicePinProperties {
 public:
  CAnalogInputPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const GUID& major,
                  const REGPINMEDIUM& medium, const GUID& category = com::GUID_NULL);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CheckMediaType(const CMediaType* type) override;
  /** @brief A wired input takes only the pin at the other end of its wire; a socket takes no wire. */
  HRESULT CheckConnect(IPin* pin) override;

 private:
  GUID major_;
};

/** @brief Same medium class and values (a null medium class never matches). */
bool SameMedium(const REGPINMEDIUM& a, const REGPINMEDIUM& b);

/** @brief The medium of a pin; false when it has none. */
bool PinMedium(IPin* pin, REGPINMEDIUM* medium);

/** @brief The category of a pin (AMPROPSETID_Pin); GUID_NULL when it has none. */
GUID PinCategory(IPin* pin);

}  // namespace kestrom::dshow
