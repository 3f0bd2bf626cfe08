#pragma once
// The filter mapper: registrations of filters with their merit and pin types, stored in the
// registry under HKEY_CLASSES_ROOT\CLSID\{category}\Instance\{instance}, where the device
// enumerator lists them and automatic connection finds them.
//
// Values of an instance key: "FriendlyName" (the filter's name), "CLSID" (its class id in braces)
// and "FilterData", a binary record of little-endian DWORDs: version (2), merit, pin count, 0;
// then per pin: flags (1 rendered, 2 output, 4 zero, 8 many), 0, type count, 0, followed by
// 32 bytes per type (major type and subtype).

#include "platform/dshow/base/Interfaces.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace kestrom::dshow {

struct RegisteredPin {
  bool rendered = false;
  bool output = false;
  bool zero = false;
  bool many = false;
  std::vector<std::pair<GUID, GUID>> types;  // major type, subtype (GUID_NULL: any)
};

struct RegisteredFilter {
  CLSID clsid;
  QString name;
  DWORD merit = 0;
  std::vector<RegisteredPin> pins;
};

/** @brief The "FilterData" record of a registration (version 1 data only). */
QByteArray EncodeFilterData(const REGFILTER2& data);
/** @brief Merit and pins from a "FilterData" record; nothing when it is damaged. */
std::optional<RegisteredFilter> DecodeFilterData(const QByteArray& data);

/** @brief Every filter registered under a category; damaged entries are skipped. */
std::vector<RegisteredFilter> ReadRegisteredFilters(REFCLSID category = CLSID_LegacyAmFilterCategory);

/** @brief HRESULT of a registry error code. */
HRESULT HResultFromWin32(int32_t error);

/** @brief The filter mapper object (class CLSID_FilterMapper2). */
class CFilterMapper2 final : public com::CUnknown, public IFilterMapper2 {
 public:
  explicit CFilterMapper2(IUnknown* outer);
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) override;
  HRESULT UnregisterFilter(const CLSID* category, LPCWSTR instance, REFCLSID filter) override;
  HRESULT RegisterFilter(REFCLSID filter, LPCWSTR name, void** moniker, const CLSID* category,
                         LPCWSTR instance, const REGFILTER2* data) override;
};

}  // namespace kestrom::dshow
