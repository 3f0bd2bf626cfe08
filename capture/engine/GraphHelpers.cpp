#include "capture/engine/GraphHelpers.h"

#include "capture/engine/EngineHelpers.h"
#include "capture/engine/EngineLog.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"

#include <algorithm>
#include <cstdlib>

namespace kestrom::engine {

using namespace kestrom::dshow;
using com::ComPtr;
using com::E_FAIL;
using com::FAILED;
using com::S_OK;
using com::SUCCEEDED;

int MediaFormatKind(const AM_MEDIA_TYPE& type) {
  const GUID& major = type.majortype;
  const GUID& format = type.formattype;
  const bool video = major == MEDIATYPE_Video;
  const bool mpeg1 = major == MEDIATYPE_MPEG1SystemStream;
  if (video && format == FORMAT_VideoInfo) return 0;
  if (video && format == FORMAT_VideoInfo2) return 1;
  if (major == MEDIATYPE_Interleaved && format == FORMAT_DvInfo) return 2;
  if ((video || mpeg1) && format == FORMAT_MPEGVideo) return 3;
  if ((video || mpeg1) && format == FORMAT_MPEG2Video) return 4;
  if (mpeg1 && format == FORMAT_MPEGStreams) return 5;
  if (mpeg1) return 6;
  if (major == MEDIATYPE_Audio && format == FORMAT_WaveFormatEx) return 7;
  return 8;
}

const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& type) {
  const int offset = BitmapHeaderOffset(MediaFormatKind(type));
  if (offset < 0 || !type.pbFormat || type.cbFormat < offset + sizeof(BITMAPINFOHEADER)) return nullptr;
  return reinterpret_cast<const BITMAPINFOHEADER*>(type.pbFormat + offset);
}

int64_t ImageSize(const BITMAPINFOHEADER* header) {
  return header ? ImageSize(header->biWidth, header->biHeight, header->biBitCount) : 0;
}

QString SubtypeName(const GUID& subtype) { return SubtypeName(com::GuidToString(subtype)); }

bool CreateInstanceLogged(const GUID& clsid, const GUID& iid, void** object, const QString& name) {
  const HRESULT hr =
      com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER | com::CLSCTX_LOCAL_SERVER, iid, object);
  return LogYesNo(SUCCEEDED(hr) && object && *object, QStringLiteral("instance: ") + name);
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (!filter || FAILED(filter->EnumPins(e.Put())) || !e) return pins;
  ComPtr<IPin> pin;
  ULONG fetched = 0;
  while (e->Next(1, pin.Put(), &fetched) == S_OK && fetched == 1) pins.push_back(pin);
  return pins;
}

namespace {

QString FromWide(const WCHAR* text, size_t max) {
  size_t n = 0;
  while (n < max && text[n]) ++n;
  return QString::fromUtf16(text, static_cast<qsizetype>(n));
}

bool HasDirection(IPin* pin, PIN_DIRECTION direction) {
  PIN_DIRECTION d = PINDIR_INPUT;
  return SUCCEEDED(pin->QueryDirection(&d)) && d == direction;
}

bool IsConnected(IPin* pin) {
  ComPtr<IPin> peer;
  return SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer;
}

}  // namespace

std::vector<ComPtr<IBaseFilter>> FiltersOf(IFilterGraph* graph) {
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<IEnumFilters> e;
  if (!graph || FAILED(graph->EnumFilters(e.Put())) || !e) return filters;
  ComPtr<IBaseFilter> filter;
  ULONG fetched = 0;
  while (e->Next(1, filter.Put(), &fetched) == S_OK && fetched == 1) filters.push_back(filter);
  return filters;
}

QString PinName(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return {};
  if (info.pFilter) info.pFilter->Release();
  return FromWide(info.achName, MAX_PIN_NAME);
}

QString FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return {};
  if (info.pGraph) info.pGraph->Release();
  return FromWide(info.achName, MAX_FILTER_NAME);
}

HRESULT FindPinByName(IBaseFilter* filter, PIN_DIRECTION direction, const QString& name, ComPtr<IPin>& pin,
                      bool unconnectedOnly, bool partial) {
  const QString wanted = name.toUpper();
  for (const ComPtr<IPin>& p : PinsOf(filter)) {
    if (!HasDirection(p.Get(), direction)) continue;
    if (unconnectedOnly && IsConnected(p.Get())) continue;
    const QString pinName = PinName(p.Get()).toUpper();
    if (partial ? pinName.contains(wanted) : pinName == wanted) {
      pin = p;
      return S_OK;
    }
  }
  return E_FAIL;
}

QString PinNames(PIN_DIRECTION direction, IBaseFilter* filter) {
  QString text;
  for (const ComPtr<IPin>& p : PinsOf(filter))
    if (HasDirection(p.Get(), direction)) text += PinName(p.Get()) + QStringLiteral("\r\n");
  return text;
}

bool PinSupportsType(IPin* pin, const GUID& majorType, const std::vector<GUID>& subtypes) {
  ComPtr<IEnumMediaTypes> e;
  if (!pin || FAILED(pin->EnumMediaTypes(e.Put())) || !e) return false;
  AM_MEDIA_TYPE* type = nullptr;
  ULONG fetched = 0;
  bool found = false;
  while (!found && e->Next(1, &type, &fetched) == S_OK && fetched == 1) {
    if (type->majortype == majorType) {
      found = subtypes.empty();
      for (const GUID& s : subtypes) found = found || type->subtype == s;
    }
    DeleteMediaType(type);
  }
  return found;
}

HRESULT FindPinOfType(IBaseFilter* filter, PIN_DIRECTION direction, const GUID& majorType, ComPtr<IPin>& pin,
                      const GUID& subtype) {
  const std::vector<GUID> subtypes =
      subtype == com::GUID_NULL ? std::vector<GUID>{} : std::vector<GUID>{subtype};
  for (const ComPtr<IPin>& p : PinsOf(filter)) {
    if (HasDirection(p.Get(), direction) && PinSupportsType(p.Get(), majorType, subtypes)) {
      pin = p;
      return S_OK;
    }
  }
  return E_FAIL;
}

bool FindGraphPin(IFilterGraph* graph, PIN_DIRECTION direction, bool unconnected, const QString& filterName,
                  ComPtr<IPin>& pin, const GUID& majorType) {
  for (const ComPtr<IBaseFilter>& f : FiltersOf(graph)) {
    if (!filterName.isEmpty() && FilterName(f.Get()) != filterName) continue;
    for (const ComPtr<IPin>& p : PinsOf(f.Get())) {
      if (!HasDirection(p.Get(), direction) || IsConnected(p.Get()) != !unconnected) continue;
      if (!PinSupportsType(p.Get(), majorType, {})) continue;
      pin = p;
      return true;
    }
  }
  return false;
}

void DisconnectAll(IBaseFilter* filter) {
  for (const ComPtr<IPin>& p : PinsOf(filter)) {
    ComPtr<IPin> peer;
    if (SUCCEEDED(p->ConnectedTo(peer.Put())) && peer) {
      peer->Disconnect();
      p->Disconnect();
    }
  }
}

void RemoveDownstream(IFilterGraph* graph, IPin* pin, const std::vector<ComPtr<IBaseFilter>>& keep) {
  ComPtr<IPin> peer;
  if (!graph || !pin || FAILED(pin->ConnectedTo(peer.Put())) || !peer) return;
  PIN_INFO info{};
  if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
    ComPtr<IBaseFilter> next = ComPtr<IBaseFilter>::Attach(info.pFilter);
    const bool kept = std::any_of(keep.begin(), keep.end(), [&](const ComPtr<IBaseFilter>& f) {
      return f.Get() == next.Get();
    });
    if (kept) {
      graph->Disconnect(peer.Get());
    } else {
      for (const ComPtr<IPin>& p : PinsOf(next.Get()))
        if (HasDirection(p.Get(), PINDIR_OUTPUT)) RemoveDownstream(graph, p.Get(), keep);
      for (const ComPtr<IPin>& p : PinsOf(next.Get())) graph->Disconnect(p.Get());
      graph->RemoveFilter(next.Get());
    }
  }
  graph->Disconnect(pin);
}

void LogFilterChain(IBaseFilter* filter, int depth, QStringList& names) {
  if (!filter || depth > 64) return;  // a graph with a loop must not take us down with it
  const QString name = FilterName(filter);
  names << name;
  WriteLog(QString(2 * depth, QLatin1Char(' ')) + QLatin1Char('.') + name);
  for (const ComPtr<IPin>& p : PinsOf(filter)) {
    if (!HasDirection(p.Get(), PINDIR_OUTPUT)) continue;
    ComPtr<IPin> peer;
    if (FAILED(p->ConnectedTo(peer.Put())) || !peer) continue;
    PIN_INFO info{};
    if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
      ComPtr<IBaseFilter> next = ComPtr<IBaseFilter>::Attach(info.pFilter);
      LogFilterChain(next.Get(), depth + 1, names);
    }
  }
}

}  // namespace kestrom::engine
