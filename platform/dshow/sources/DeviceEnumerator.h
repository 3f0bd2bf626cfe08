#pragma once
// The system device enumerator: lists the devices and filters of a category (video and audio
// capture devices, video and audio compressors, crossbars and tuners, the filter category) as
// monikers, each with a display name, a property bag ("FriendlyName", "CLSID", "DevicePath" for
// hardware) and a way to make the filter. Device kinds come from providers, so a library that
// brings a new kind (the compressors) adds its own provider.

#include "platform/com/ComPtr.h"
#include "platform/com/Unknown.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"

#include <QString>
#include <functional>
#include <vector>

namespace kestrom::dshow {

using com::IUnknown;

inline constexpr CLSID CLSID_SystemDeviceEnum = com::MakeGuid("{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}");
/** @brief The Video for Windows capture class; a device with another class id is a WDM device. */
inline constexpr CLSID CLSID_VfwCapture = com::MakeGuid("{1B544C22-FD0B-11CE-8C63-00AA0044B51E}");

inline constexpr IID IID_ICreateDevEnum = com::MakeGuid("{29840822-5B84-11D0-BD3B-00A0C911CE86}");
inline constexpr IID IID_IEnumMoniker = com::MakeGuid("{00000102-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPropertyBag = com::MakeGuid("{55272A00-42CB-11CE-8135-00AA004BB851}");

// ---- automation strings and variants, as property bags hand them out ----

/** @brief A length-prefixed UTF-16 string; null is the empty string. */
using BSTR = WCHAR*;
BSTR SysAllocString(const WCHAR* text);
BSTR SysAllocStringLen(const WCHAR* text, uint32_t length);
void SysFreeString(BSTR text);
uint32_t SysStringLen(BSTR text);

using VARTYPE = uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;

struct VARIANT {
  VARTYPE vt;
  WORD reserved1, reserved2, reserved3;
  union {
    LONG lVal;
    BSTR bstrVal;
    LONGLONG llVal;
  };
};
void VariantInit(VARIANT* value);
HRESULT VariantClear(VARIANT* value);

struct IPropertyBag : IUnknown {
  /** @brief value->vt may ask for a type (VT_EMPTY: the stored one). */
  virtual HRESULT Read(LPCWSTR name, VARIANT* value, IUnknown* errorLog) = 0;
  virtual HRESULT Write(LPCWSTR name, VARIANT* value) = 0;

 protected:
  ~IPropertyBag() = default;
};

struct IEnumMoniker : IUnknown {
  virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumMoniker** clone) = 0;

 protected:
  ~IEnumMoniker() = default;
};

struct ICreateDevEnum : IUnknown {
  /** @brief S_FALSE and a null enumerator when the category has no device. */
  virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator, DWORD flags) = 0;

 protected:
  ~ICreateDevEnum() = default;
};

/** @brief One device as a provider describes it. */
struct DeviceEntry {
  QString friendlyName;
  /** @brief Stable across runs and re-plugging; "@device:pnp:..." for hardware, "@device:sw:..." else. */
  QString displayName;
  /** @brief The hardware path (empty for software filters). */
  QString devicePath;
  CLSID clsid{};
  /** @brief Makes the filter; CoCreateInstance of clsid when empty. */
  std::function<HRESULT(REFIID iid, void** object)> create;
};

using DeviceProvider = std::function<std::vector<DeviceEntry>(REFCLSID category)>;

/**
 * @brief Adds a provider whose devices every enumeration lists after those of the providers
 * added before it; the returned cookie removes it again.
 */
int AddDeviceProvider(DeviceProvider provider);
void RemoveDeviceProvider(int cookie);

/** @brief Every device of a category, as the enumerator lists them. */
std::vector<DeviceEntry> ListDevices(REFCLSID category);

/** @brief The display name of a software filter of a category: "@device:sw:{category}\{class id}". */
QString SoftwareDisplayName(REFCLSID category, REFCLSID clsid);

/** @brief The system device enumerator object (class CLSID_SystemDeviceEnum). */
com::CUnknown* CreateSystemDeviceEnum(IUnknown* outer, HRESULT* hr);

}  // namespace kestrom::dshow
