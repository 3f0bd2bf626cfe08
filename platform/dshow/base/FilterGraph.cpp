#include "platform/dshow/base/FilterGraph.h"

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/registry/Registry.h"

#include <QFileInfo>
#include <optional>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace kestrom::dshow {

using namespace com;

namespace {

// Enough for a source, a decoder and a converter between two pins; bounds the search.
constexpr int kMaxIntermediateFilters = 3;

class CEnumFilters final : public CUnknown, public IEnumFilters {
 public:
  explicit CEnumFilters(std::vector<IBaseFilter*> filters, size_t position = 0)
      : CUnknown("filter enumerator", nullptr), filters_(std::move(filters)), position_(position) {
    for (IBaseFilter* f : filters_) f->AddRef();
  }
  ~CEnumFilters() override {
    for (IBaseFilter* f : filters_) f->Release();
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IEnumFilters) return GetInterface(static_cast<IEnumFilters*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) override {
    if (!filters) return E_POINTER;
    if (!fetched && count > 1) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count && position_ < filters_.size()) {
      filters[n] = filters_[position_++];
      filters[n]->AddRef();
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ = std::min(filters_.size(), position_ + count);
    return position_ < filters_.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumFilters** clone) override {
    if (!clone) return E_POINTER;
    auto* e = new (std::nothrow) CEnumFilters(filters_, position_);
    if (!e) return E_OUTOFMEMORY;
    return e->NonDelegatingQueryInterface(IID_IEnumFilters, reinterpret_cast<void**>(clone));
  }

 private:
  std::vector<IBaseFilter*> filters_;
  size_t position_;
};

}  // namespace

std::vector<ComPtr<IPin>> FilterPins(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnectedOnly) {
  std::vector<ComPtr<IPin>> result;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.Put())) || !pins) return result;
  for (;;) {
    IPin* pin = nullptr;
    ULONG fetched = 0;
    if (pins->Next(1, &pin, &fetched) != S_OK || !pin) break;
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION dir;
    if (FAILED(pin->QueryDirection(&dir)) || dir != direction) continue;
    if (unconnectedOnly) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer) continue;
    }
    result.push_back(std::move(held));
  }
  return result;
}

namespace {

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnectedOnly) {
  return FilterPins(filter, direction, unconnectedOnly);
}

std::vector<CMediaType> PreferredTypes(IPin* pin) {
  std::vector<CMediaType> result;
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.Put())) || !types) return result;
  for (;;) {
    AM_MEDIA_TYPE* type = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &type, &fetched) != S_OK || !type) break;
    result.emplace_back(*type);
    DeleteMediaType(type);
  }
  return result;
}

bool GuidMatches(const GUID& registered, const GUID& offered) {
  return registered == GUID_NULL || offered == GUID_NULL || registered == offered;
}

// A registered filter that may take one of the offered types on one of its input pins.
bool AcceptsAny(const RegisteredFilter& filter, const std::vector<CMediaType>& offered) {
  for (const RegisteredPin& pin : filter.pins) {
    if (pin.output) continue;
    if (offered.empty()) return true;
    for (const auto& [major, minor] : pin.types)
      for (const CMediaType& mt : offered)
        if (GuidMatches(major, mt.majortype) && GuidMatches(minor, mt.subtype)) return true;
  }
  return false;
}

}  // namespace

bool IsSameObject(IUnknown* a, IUnknown* b) {
  if (!a || !b) return a == b;
  ComPtr<IUnknown> ua, ub;
  if (FAILED(a->QueryInterface(IID_IUnknown, ua.PutVoid())) || FAILED(b->QueryInterface(IID_IUnknown, ub.PutVoid())))
    return false;
  return ua.Get() == ub.Get();
}

CFilterGraph::CFilterGraph(IUnknown* outer)
    : CUnknown("filter graph", outer),
      rendererControls_(std::make_unique<CGraphRendererControls>(GetOwner(), [this] { return FilterSnapshot(); })) {
  // Without a handle the graph still works; GetEventHandle then reports the failure.
  eventHandle_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CFilterGraph::~CFilterGraph() {
  std::lock_guard lock(lock_);
  StopLocked();
  for (Entry& e : filters_) {
    e.filter->Stop();
    DisconnectAllPins(e.filter);
  }
  for (Entry& e : filters_) {
    e.filter->JoinFilterGraph(nullptr, nullptr);
    e.filter->Release();
  }
  filters_.clear();
  if (clock_) clock_->Release();
  if (eventHandle_ >= 0) close(eventHandle_);
}

CUnknown* CFilterGraph::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* graph = new (std::nothrow) CFilterGraph(outer);
  if (!graph && hr) *hr = E_OUTOFMEMORY;
  return graph;
}

HRESULT CFilterGraph::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IGraphBuilder) return GetInterface(static_cast<IGraphBuilder*>(this), object);
  if (iid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), object);
  if (iid == IID_IFilterGraph2) return GetInterface(static_cast<IFilterGraph2*>(this), object);
  if (iid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), object);
  if (iid == IID_IMediaEvent) return GetInterface(static_cast<IMediaEvent*>(this), object);
  if (iid == IID_IMediaEventEx) return GetInterface(static_cast<IMediaEventEx*>(this), object);
  if (iid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), object);
  if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
  if (iid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(this), object);
  if (iid == IID_IVideoFrameStep) return GetInterface(static_cast<IVideoFrameStep*>(this), object);
  if (iid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), object);
  if (iid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), object);
  if (void* control = rendererControls_->Interface(iid)) {
    *object = control;
    AddRef();
    return S_OK;
  }
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

std::vector<ComPtr<IBaseFilter>> CFilterGraph::FilterSnapshot() {
  std::lock_guard lock(lock_);
  std::vector<ComPtr<IBaseFilter>> filters;
  filters.reserve(filters_.size());
  for (const Entry& e : filters_) filters.emplace_back(e.filter);
  return filters;
}

bool CFilterGraph::Contains(IBaseFilter* filter) {
  for (const Entry& e : filters_)
    if (IsSameObject(e.filter, filter)) return true;
  return false;
}

bool CFilterGraph::PinInGraph(IPin* pin) {
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return false;
  ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
  return Contains(filter.Get());
}

void CFilterGraph::DisconnectAllPins(IBaseFilter* filter) {
  for (PIN_DIRECTION dir : {PINDIR_INPUT, PINDIR_OUTPUT}) {
    for (const ComPtr<IPin>& pin : Pins(filter, dir, false)) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer) {
        peer->Disconnect();
        pin->Disconnect();
      }
    }
  }
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (!filter) return E_POINTER;
  try {
    return AddFilterLocked(filter, name);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::AddFilterLocked(IBaseFilter* filter, LPCWSTR name) {
  std::lock_guard lock(lock_);
  if (Contains(filter)) return VFW_E_DUPLICATE_NAME;
  const std::u16string wanted = name ? std::u16string(name) : std::u16string(u"Filter");
  std::u16string unique = wanted;
  HRESULT result = S_OK;
  auto taken = [&](const std::u16string& candidate) {
    return std::any_of(filters_.begin(), filters_.end(), [&](const Entry& e) { return e.name == candidate; });
  };
  for (int n = 1; taken(unique); ++n) {
    if (n > 9999) return VFW_E_DUPLICATE_NAME;
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, " %04d", n);
    unique = wanted + std::u16string(suffix, suffix + std::strlen(suffix));
    result = VFW_S_DUPLICATE_NAME;
  }
  filters_.reserve(filters_.size() + 1);
  const HRESULT joined = filter->JoinFilterGraph(this, unique.c_str());
  if (FAILED(joined)) return joined;
  filter->AddRef();
  filters_.push_back({filter, unique});
  return result;
}

HRESULT CFilterGraph::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return E_POINTER;
  std::lock_guard lock(lock_);
  for (auto it = filters_.begin(); it != filters_.end(); ++it) {
    if (!IsSameObject(it->filter, filter)) continue;
    IBaseFilter* held = it->filter;
    filters_.erase(it);
    held->Stop();
    DisconnectAllPins(held);
    held->JoinFilterGraph(nullptr, nullptr);
    held->Release();
    return S_OK;
  }
  return VFW_E_NOT_FOUND;
}

HRESULT CFilterGraph::EnumFilters(IEnumFilters** filters) {
  if (!filters) return E_POINTER;
  *filters = nullptr;
  std::lock_guard lock(lock_);
  CEnumFilters* e = nullptr;
  try {
    std::vector<IBaseFilter*> list;
    for (const Entry& entry : filters_) list.push_back(entry.filter);
    e = new CEnumFilters(std::move(list));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return e->NonDelegatingQueryInterface(IID_IEnumFilters, reinterpret_cast<void**>(filters));
}

HRESULT CFilterGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
  if (!name || !filter) return E_POINTER;
  *filter = nullptr;
  std::lock_guard lock(lock_);
  for (const Entry& e : filters_) {
    if (e.name == name) {
      *filter = e.filter;
      e.filter->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT CFilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) {
  if (!out || !in) return E_POINTER;
  std::lock_guard lock(lock_);
  if (!PinInGraph(out) || !PinInGraph(in)) return VFW_E_NOT_IN_GRAPH;
  PIN_DIRECTION outDir, inDir;
  if (FAILED(out->QueryDirection(&outDir)) || FAILED(in->QueryDirection(&inDir))) return E_FAIL;
  if (outDir != PINDIR_OUTPUT || inDir != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  return out->Connect(in, type);
}

HRESULT CFilterGraph::Reconnect(IPin* pin) { return ReconnectEx(pin, nullptr); }

HRESULT CFilterGraph::ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* type) {
  if (!pin) return E_POINTER;
  std::lock_guard lock(lock_);
  try {
    return ReconnectLocked(pin, type);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::ReconnectLocked(IPin* pin, const AM_MEDIA_TYPE* type) {
  if (!PinInGraph(pin)) return VFW_E_NOT_IN_GRAPH;
  // Streaming threads would meet a pin without a peer: the program stops the graph first.
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  ComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(peer.Put())) || !peer) return VFW_E_NOT_CONNECTED;
  PIN_DIRECTION direction;
  if (FAILED(pin->QueryDirection(&direction))) return E_FAIL;
  ComPtr<IPin> out(direction == PINDIR_OUTPUT ? pin : peer.Get());
  ComPtr<IPin> in(direction == PINDIR_OUTPUT ? peer.Get() : pin);
  CMediaType previous;
  {
    AM_MEDIA_TYPE current{};
    if (FAILED(out->ConnectionMediaType(&current))) return VFW_E_NOT_CONNECTED;
    previous = CMediaType(current);
    FreeMediaType(current);
  }
  out->Disconnect();
  in->Disconnect();
  const HRESULT hr = out->Connect(in.Get(), type);
  if (SUCCEEDED(hr)) return hr;
  // Refused: the pins go back to the type they had, so the graph is as it was.
  if (FAILED(out->Connect(in.Get(), &previous))) out->Connect(in.Get(), nullptr);
  return hr;
}

HRESULT CFilterGraph::Disconnect(IPin* pin) {
  if (!pin) return E_POINTER;
  return pin->Disconnect();
}


HRESULT CFilterGraph::Connect(IPin* out, IPin* in) {
  if (!out || !in) return E_POINTER;
  std::lock_guard lock(lock_);
  const HRESULT direct = ConnectDirect(out, in, nullptr);
  if (SUCCEEDED(direct) || direct == VFW_E_NOT_IN_GRAPH || direct == VFW_E_INVALID_DIRECTION ||
      direct == VFW_E_ALREADY_CONNECTED)
    return direct;
  return ConnectThroughRegistered(out, in, 0);
}

HRESULT CFilterGraph::ConnectThroughRegistered(IPin* out, IPin* in, int depth) {
  try {
    return ConnectThroughRegisteredLocked(out, in, depth);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::ConnectThroughRegisteredLocked(IPin* out, IPin* in, int depth) {
  if (depth >= kMaxIntermediateFilters) return VFW_E_CANNOT_CONNECT;
  const std::vector<CMediaType> offered = PreferredTypes(out);
  std::vector<RegisteredFilter> candidates = ReadRegisteredFilters(CLSID_LegacyAmFilterCategory);
  std::erase_if(candidates, [&](const RegisteredFilter& f) { return f.merit <= MERIT_DO_NOT_USE || !AcceptsAny(f, offered); });
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const RegisteredFilter& a, const RegisteredFilter& b) { return a.merit > b.merit; });

  for (const RegisteredFilter& candidate : candidates) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(candidate.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid())))
      continue;
    if (FAILED(AddFilter(filter.Get(), reinterpret_cast<LPCWSTR>(candidate.name.utf16())))) continue;
    for (const ComPtr<IPin>& filterIn : Pins(filter.Get(), PINDIR_INPUT, true)) {
      if (FAILED(ConnectDirect(out, filterIn.Get(), nullptr))) continue;
      for (const ComPtr<IPin>& filterOut : Pins(filter.Get(), PINDIR_OUTPUT, true)) {
        if (SUCCEEDED(ConnectDirect(filterOut.Get(), in, nullptr)) ||
            SUCCEEDED(ConnectThroughRegistered(filterOut.Get(), in, depth + 1)))
          return S_OK;
      }
      filterIn->Disconnect();
      out->Disconnect();
    }
    RemoveFilter(filter.Get());
  }
  return VFW_E_CANNOT_CONNECT;
}

namespace {

std::mutex& ExtensionMutex() {
  static std::mutex* m = new std::mutex;
  return *m;
}

std::vector<std::pair<QString, CLSID>>& ExtensionTable() {
  static auto* table = new std::vector<std::pair<QString, CLSID>>;
  return *table;
}

std::optional<CLSID> SourceClassFor(const QString& file) {
  const int dot = file.lastIndexOf(QLatin1Char('.'));
  const int slash = file.lastIndexOf(QLatin1Char('/'));
  if (dot < 0 || dot < slash) return std::nullopt;
  const QString extension = file.mid(dot).toLower();
  {
    std::lock_guard lock(ExtensionMutex());
    for (const auto& [ext, clsid] : ExtensionTable())
      if (ext == extension) return clsid;
  }
  registry::TRegistry reg(registry::HKEY_CLASSES_ROOT, registry::KEY_READ);
  if (!reg.OpenKeyReadOnly(QStringLiteral("\\Media Type\\Extensions\\") + extension)) return std::nullopt;
  const auto text = reg.ReadString(QStringLiteral("Source Filter"));
  if (!text) return std::nullopt;
  return GuidFromString(*text);
}

}  // namespace

void SetSourceFilterForExtension(const QString& extension, REFCLSID clsid) {
  QString ext = extension.toLower();
  if (!ext.startsWith(QLatin1Char('.'))) ext.prepend(QLatin1Char('.'));
  std::lock_guard lock(ExtensionMutex());
  auto& table = ExtensionTable();
  std::erase_if(table, [&](const auto& entry) { return entry.first == ext; });
  if (!(clsid == GUID_NULL)) table.emplace_back(ext, clsid);
}

HRESULT CFilterGraph::AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) {
  if (!file || !filter) return E_POINTER;
  *filter = nullptr;
  const QString path = QString::fromUtf16(file);
  if (!QFileInfo::exists(path)) return HResultFromWin32(2);  // ERROR_FILE_NOT_FOUND
  const auto clsid = SourceClassFor(path);
  if (!clsid) return VFW_E_UNKNOWN_FILE_TYPE;
  ComPtr<IBaseFilter> source;
  HRESULT hr = CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IFileSourceFilter> loader;
  if (FAILED(source->QueryInterface(IID_IFileSourceFilter, loader.PutVoid())) || !loader) return E_NOINTERFACE;
  hr = loader->Load(file, nullptr);
  if (FAILED(hr)) return hr;
  hr = AddFilter(source.Get(), filterName ? filterName : file);
  if (FAILED(hr)) return hr;
  *filter = source.Detach();
  return S_OK;
}

HRESULT CFilterGraph::RenderPin(IPin* out, int depth) {
  if (depth > kMaxIntermediateFilters + 1) return VFW_E_CANNOT_RENDER;
  // A free input of a filter already in the graph first (a renderer the program added).
  std::vector<IBaseFilter*> present;
  for (const Entry& e : filters_) present.push_back(e.filter);
  PIN_INFO info{};
  out->QueryPinInfo(&info);
  ComPtr<IBaseFilter> owner = ComPtr<IBaseFilter>::Attach(info.pFilter);
  for (IBaseFilter* f : present) {
    if (IsSameObject(f, owner.Get())) continue;
    if (!Pins(f, PINDIR_OUTPUT, false).empty()) continue;  // only sinks end a render
    for (const ComPtr<IPin>& in : Pins(f, PINDIR_INPUT, true))
      if (SUCCEEDED(ConnectDirect(out, in.Get(), nullptr))) return S_OK;
  }
  const std::vector<CMediaType> offered = PreferredTypes(out);
  std::vector<RegisteredFilter> candidates = ReadRegisteredFilters(CLSID_LegacyAmFilterCategory);
  std::erase_if(candidates, [&](const RegisteredFilter& f) { return f.merit <= MERIT_DO_NOT_USE || !AcceptsAny(f, offered); });
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const RegisteredFilter& a, const RegisteredFilter& b) { return a.merit > b.merit; });
  for (const RegisteredFilter& candidate : candidates) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(candidate.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid())))
      continue;
    if (FAILED(AddFilter(filter.Get(), reinterpret_cast<LPCWSTR>(candidate.name.utf16())))) continue;
    bool rendered = false;
    for (const ComPtr<IPin>& in : Pins(filter.Get(), PINDIR_INPUT, true)) {
      if (FAILED(ConnectDirect(out, in.Get(), nullptr))) continue;
      rendered = true;
      for (const ComPtr<IPin>& next : Pins(filter.Get(), PINDIR_OUTPUT, true))
        if (FAILED(RenderPin(next.Get(), depth + 1))) rendered = false;
      break;
    }
    if (rendered) return S_OK;
    // Undo everything this attempt added downstream of the candidate.
    for (const ComPtr<IPin>& next : Pins(filter.Get(), PINDIR_OUTPUT, false)) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(next->ConnectedTo(peer.Put())) && peer) {
        PIN_INFO peerInfo{};
        peer->QueryPinInfo(&peerInfo);
        ComPtr<IBaseFilter> downstream = ComPtr<IBaseFilter>::Attach(peerInfo.pFilter);
        next->Disconnect();
        peer->Disconnect();
        if (downstream && std::find(present.begin(), present.end(), downstream.Get()) == present.end())
          RemoveFilter(downstream.Get());
      }
    }
    RemoveFilter(filter.Get());
  }
  return VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::Render(IPin* out) {
  if (!out) return E_POINTER;
  std::lock_guard lock(lock_);
  if (!PinInGraph(out)) return VFW_E_NOT_IN_GRAPH;
  ComPtr<IPin> peer;
  if (SUCCEEDED(out->ConnectedTo(peer.Put())) && peer) return VFW_E_ALREADY_CONNECTED;
  try {
    return RenderPin(out, 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context, LPCWSTR name,
                                                IBaseFilter** filter) {
  if (!moniker || !filter) return E_POINTER;
  *filter = nullptr;
  ComPtr<IBaseFilter> made;
  HRESULT hr = moniker->BindToObject(context, nullptr, IID_IBaseFilter, made.PutVoid());
  if (FAILED(hr)) return hr;
  if (!made) return E_FAIL;
  LPWSTR displayName = nullptr;
  if (!name && SUCCEEDED(moniker->GetDisplayName(context, nullptr, &displayName)) && displayName) name = displayName;
  hr = AddFilter(made.Get(), name);
  if (displayName) CoTaskMemFree(displayName);
  if (FAILED(hr)) return hr;
  *filter = made.Detach();
  return hr;
}

HRESULT CFilterGraph::RenderEx(IPin* out, DWORD, DWORD*) { return Render(out); }


HRESULT CFilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
  if (!file) return E_POINTER;
  std::lock_guard lock(lock_);
  ComPtr<IBaseFilter> source;
  HRESULT hr = AddSourceFilter(file, file, source.Put());
  if (FAILED(hr)) return hr;
  int rendered = 0, failed = 0;
  for (const ComPtr<IPin>& out : Pins(source.Get(), PINDIR_OUTPUT, true))
    SUCCEEDED(Render(out.Get())) ? ++rendered : ++failed;
  if (rendered == 0) {
    RemoveFilter(source.Get());
    return VFW_E_CANNOT_RENDER;
  }
  return failed ? VFW_S_PARTIAL_RENDER : S_OK;
}

HRESULT CFilterGraph::RenderFile(LPCWSTR file) { return RenderFile(file, nullptr); }

HRESULT CFilterGraph::SetLogFile(uintptr_t) { return S_OK; }
HRESULT CFilterGraph::Abort() { return S_OK; }
HRESULT CFilterGraph::ShouldOperationContinue() { return S_OK; }

}  // namespace kestrom::dshow
