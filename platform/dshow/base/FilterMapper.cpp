#include "platform/dshow/base/FilterMapper.h"

#include "platform/registry/Registry.h"

#include <cstring>
#include <new>

namespace kestrom::dshow {

using namespace com;
namespace reg = kestrom::registry;

namespace {

constexpr DWORD kFilterDataVersion = 2;

void PutDword(QByteArray& out, DWORD v) {
  const char bytes[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
  out.append(bytes, 4);
}

void PutGuid(QByteArray& out, const GUID* g) {
  const GUID value = g ? *g : GUID_NULL;
  PutDword(out, value.Data1);
  PutDword(out, DWORD{value.Data2} | (DWORD{value.Data3} << 16));
  out.append(reinterpret_cast<const char*>(value.Data4), 8);
}

struct Reader {
  const QByteArray& data;
  qsizetype at = 0;
  bool ok = true;

  DWORD Dword() {
    if (at + 4 > data.size()) {
      ok = false;
      return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + at);
    at += 4;
    return DWORD{p[0]} | (DWORD{p[1]} << 8) | (DWORD{p[2]} << 16) | (DWORD{p[3]} << 24);
  }
  GUID Guid() {
    GUID g;
    g.Data1 = Dword();
    const DWORD w = Dword();
    g.Data2 = static_cast<uint16_t>(w & 0xFFFF);
    g.Data3 = static_cast<uint16_t>(w >> 16);
    if (at + 8 > data.size()) {
      ok = false;
      return g;
    }
    std::memcpy(g.Data4, data.constData() + at, 8);
    at += 8;
    return g;
  }
};

QString InstanceKey(REFCLSID category, const QString& instance) {
  return QStringLiteral("CLSID\\%1\\Instance\\%2").arg(GuidToString(category), instance);
}

}  // namespace

HRESULT HResultFromWin32(int32_t error) {
  return error <= 0 ? error : static_cast<HRESULT>((static_cast<uint32_t>(error) & 0xFFFF) | 0x80070000u);
}

QByteArray EncodeFilterData(const REGFILTER2& data) {
  QByteArray out;
  PutDword(out, kFilterDataVersion);
  PutDword(out, data.dwMerit);
  PutDword(out, data.cPins);
  PutDword(out, 0);
  for (ULONG i = 0; i < data.cPins && data.rgPins; ++i) {
    const REGFILTERPINS& pin = data.rgPins[i];
    const DWORD flags = (pin.bRendered ? 1u : 0u) | (pin.bOutput ? 2u : 0u) | (pin.bZero ? 4u : 0u) | (pin.bMany ? 8u : 0u);
    const ULONG types = pin.lpMediaType ? pin.nMediaTypes : 0;
    PutDword(out, flags);
    PutDword(out, 0);
    PutDword(out, types);
    PutDword(out, 0);
    for (ULONG t = 0; t < types; ++t) {
      PutGuid(out, pin.lpMediaType[t].clsMajorType);
      PutGuid(out, pin.lpMediaType[t].clsMinorType);
    }
  }
  return out;
}

std::optional<RegisteredFilter> DecodeFilterData(const QByteArray& data) {
  Reader r{data};
  RegisteredFilter filter;
  if (r.Dword() != kFilterDataVersion) return std::nullopt;
  filter.merit = r.Dword();
  const DWORD pins = r.Dword();
  r.Dword();
  // Bound the counts by what the record can hold, so a damaged record cannot ask for much memory.
  if (!r.ok || pins > static_cast<DWORD>(data.size() / 16)) return std::nullopt;
  for (DWORD i = 0; i < pins && r.ok; ++i) {
    RegisteredPin pin;
    const DWORD flags = r.Dword();
    r.Dword();
    const DWORD types = r.Dword();
    r.Dword();
    if (!r.ok || types > static_cast<DWORD>(data.size() / 32)) return std::nullopt;
    pin.rendered = flags & 1;
    pin.output = flags & 2;
    pin.zero = flags & 4;
    pin.many = flags & 8;
    for (DWORD t = 0; t < types && r.ok; ++t) {
      const GUID major = r.Guid();
      const GUID minor = r.Guid();
      pin.types.emplace_back(major, minor);
    }
    filter.pins.push_back(std::move(pin));
  }
  if (!r.ok) return std::nullopt;
  return filter;
}

std::vector<RegisteredFilter> ReadRegisteredFilters(REFCLSID category) {
  std::vector<RegisteredFilter> result;
  reg::TRegistry registry(reg::HKEY_CLASSES_ROOT, reg::KEY_READ);
  const QString base = QStringLiteral("\\CLSID\\%1\\Instance").arg(GuidToString(category));
  if (!registry.OpenKeyReadOnly(base)) return result;
  const QStringList instances = registry.GetKeyNames();
  for (const QString& instance : instances) {
    if (!registry.OpenKeyReadOnly(base + QLatin1Char('\\') + instance)) continue;
    const auto clsidText = registry.ReadString(QStringLiteral("CLSID"));
    const auto data = registry.ReadBinaryData(QStringLiteral("FilterData"));
    const auto name = registry.ReadString(QStringLiteral("FriendlyName"));
    if (!clsidText || !data) continue;
    const auto clsid = GuidFromString(*clsidText);
    auto filter = DecodeFilterData(*data);
    if (!clsid || !filter) continue;
    filter->clsid = *clsid;
    filter->name = name.value_or(QString());
    result.push_back(std::move(*filter));
  }
  return result;
}

CFilterMapper2::CFilterMapper2(IUnknown* outer) : CUnknown("filter mapper", outer) {}

CUnknown* CFilterMapper2::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* mapper = new (std::nothrow) CFilterMapper2(outer);
  if (!mapper && hr) *hr = E_OUTOFMEMORY;
  return mapper;
}

HRESULT CFilterMapper2::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IFilterMapper2) return GetInterface(static_cast<IFilterMapper2*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CFilterMapper2::CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) {
  reg::TRegistry registry(reg::HKEY_CLASSES_ROOT);
  if (!registry.OpenKey(QStringLiteral("\\CLSID\\%1").arg(GuidToString(category)), true))
    return HResultFromWin32(registry.LastError());
  if (!registry.WriteString(QStringLiteral("FriendlyName"), description ? QString::fromUtf16(description) : QString()) ||
      !registry.WriteInteger(QStringLiteral("Merit"), static_cast<int32_t>(merit)))
    return HResultFromWin32(registry.LastError());
  return S_OK;
}

HRESULT CFilterMapper2::UnregisterFilter(const CLSID* category, LPCWSTR instance, REFCLSID filter) {
  const CLSID& cat = category ? *category : CLSID_LegacyAmFilterCategory;
  const QString name = instance ? QString::fromUtf16(instance) : GuidToString(filter);
  reg::TRegistry registry(reg::HKEY_CLASSES_ROOT);
  const QString key = QLatin1Char('\\') + InstanceKey(cat, name);
  if (!registry.KeyExists(key)) return S_OK;
  return registry.DeleteKey(key) ? S_OK : HResultFromWin32(registry.LastError());
}

HRESULT CFilterMapper2::RegisterFilter(REFCLSID filter, LPCWSTR name, void** moniker, const CLSID* category,
                                       LPCWSTR instance, const REGFILTER2* data) {
  if (!name || !data) return E_POINTER;
  if (moniker) *moniker = nullptr;
  if (data->dwVersion != 1) return E_INVALIDARG;
  const CLSID& cat = category ? *category : CLSID_LegacyAmFilterCategory;
  const QString instanceName = instance ? QString::fromUtf16(instance) : GuidToString(filter);
  reg::TRegistry registry(reg::HKEY_CLASSES_ROOT);
  if (!registry.OpenKey(QLatin1Char('\\') + InstanceKey(cat, instanceName), true))
    return HResultFromWin32(registry.LastError());
  if (!registry.WriteString(QStringLiteral("FriendlyName"), QString::fromUtf16(name)) ||
      !registry.WriteString(QStringLiteral("CLSID"), GuidToString(filter)) ||
      !registry.WriteBinaryData(QStringLiteral("FilterData"), EncodeFilterData(*data)))
    return HResultFromWin32(registry.LastError());
  return S_OK;
}

}  // namespace kestrom::dshow
