#include "platform/dshow/graph/CaptureGraphBuilder.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/FilterMapper.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/base/SourceFilter.h"

#include <QFile>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrom::dshow::graph {

using namespace com;

namespace {

struct Provider {
  std::mutex mutex;
  UpstreamFilterProvider provider;
};

Provider& TheProvider() {
  static auto* p = new Provider;
  return *p;
}

constexpr HRESULT kDiskFull = MakeHResult(0x80070070);  // ERROR_DISK_FULL
constexpr HRESULT kFileNotFound = MakeHResult(0x80070002);

bool IsLookDirection(const GUID* category) {
  return category && (*category == LOOK_UPSTREAM_ONLY || *category == LOOK_DOWNSTREAM_ONLY);
}

bool Connected(IPin* pin) {
  ComPtr<IPin> peer;
  return SUCCEEDED(pin->ConnectedTo(peer.Put())) && peer;
}

bool HasMajorType(IPin* pin, const GUID& major) {
  AM_MEDIA_TYPE mt{};
  if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
    const bool same = mt.majortype == major;
    FreeMediaType(mt);
    return same;
  }
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.Put())) || !types) return false;
  for (;;) {
    AM_MEDIA_TYPE* t = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &t, &fetched) != S_OK || !t) return false;
    const bool same = t->majortype == major;
    DeleteMediaType(t);
    if (same) return true;
  }
}

bool PinMatches(IPin* pin, PIN_DIRECTION direction, const GUID* category, const GUID* type, bool unconnected) {
  PIN_DIRECTION d;
  if (FAILED(pin->QueryDirection(&d)) || d != direction) return false;
  if (category && !IsLookDirection(category) && !(PinCategoryOf(pin) == *category)) return false;
  if (unconnected && Connected(pin)) return false;
  if (type && !HasMajorType(pin, *type)) return false;
  return true;
}

ComPtr<IPin> AsPin(IUnknown* unknown) {
  ComPtr<IPin> pin;
  if (unknown) unknown->QueryInterface(IID_IPin, pin.PutVoid());
  return pin;
}

ComPtr<IBaseFilter> AsFilter(IUnknown* unknown) {
  ComPtr<IBaseFilter> filter;
  if (unknown) unknown->QueryInterface(IID_IBaseFilter, filter.PutVoid());
  return filter;
}

std::vector<ComPtr<IPin>> AllPins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins = FilterPins(filter, PINDIR_INPUT, false);
  for (auto& p : FilterPins(filter, PINDIR_OUTPUT, false)) pins.push_back(std::move(p));
  return pins;
}

using Visited = std::vector<IBaseFilter*>;

bool Seen(Visited& visited, IBaseFilter* filter) {
  for (IBaseFilter* v : visited)
    if (IsSameObject(v, filter)) return true;
  visited.push_back(filter);
  return false;
}

// From an input pin downstream: the pin, its filter, that filter's outputs and beyond.
HRESULT SearchDownstream(IPin* input, REFIID iid, void** object, Visited& visited) {
  if (SUCCEEDED(input->QueryInterface(iid, object))) return S_OK;
  ComPtr<IBaseFilter> filter = FilterOfPin(input);
  if (!filter || Seen(visited, filter.Get())) return E_NOINTERFACE;
  if (SUCCEEDED(filter->QueryInterface(iid, object))) return S_OK;
  for (const ComPtr<IPin>& out : FilterPins(filter.Get(), PINDIR_OUTPUT, false)) {
    if (SUCCEEDED(out->QueryInterface(iid, object))) return S_OK;
    ComPtr<IPin> peer;
    if (SUCCEEDED(out->ConnectedTo(peer.Put())) && peer && SUCCEEDED(SearchDownstream(peer.Get(), iid, object, visited)))
      return S_OK;
  }
  return E_NOINTERFACE;
}

// From a filter upstream: its input pins, the pins and filters feeding them, and beyond.
HRESULT SearchUpstream(IBaseFilter* filter, REFIID iid, void** object, Visited& visited) {
  if (Seen(visited, filter)) return E_NOINTERFACE;
  for (const ComPtr<IPin>& in : FilterPins(filter, PINDIR_INPUT, false)) {
    if (SUCCEEDED(in->QueryInterface(iid, object))) return S_OK;
    ComPtr<IPin> peer;
    if (FAILED(in->ConnectedTo(peer.Put())) || !peer) continue;
    if (SUCCEEDED(peer->QueryInterface(iid, object))) return S_OK;
    ComPtr<IBaseFilter> up = FilterOfPin(peer.Get());
    if (!up) continue;
    if (SUCCEEDED(up->QueryInterface(iid, object))) return S_OK;
    if (SUCCEEDED(SearchUpstream(up.Get(), iid, object, visited))) return S_OK;
  }
  return E_NOINTERFACE;
}

ComPtr<IAMStreamControl> StreamControlOnPath(IPin* out, int depth) {
  ComPtr<IAMStreamControl> control;
  if (SUCCEEDED(out->QueryInterface(IID_IAMStreamControl, control.PutVoid())) && control) return control;
  if (depth > 4) return nullptr;
  ComPtr<IPin> peer;
  if (FAILED(out->ConnectedTo(peer.Put())) || !peer) return nullptr;
  // The pin it feeds (a writer's input) or, past a tee, the tee's capture output.
  if (SUCCEEDED(peer->QueryInterface(IID_IAMStreamControl, control.PutVoid())) && control) return control;
  ComPtr<IBaseFilter> next = FilterOfPin(peer.Get());
  if (!next) return nullptr;
  for (const ComPtr<IPin>& o : FilterPins(next.Get(), PINDIR_OUTPUT, false)) {
    const GUID category = PinCategoryOf(o.Get());
    if (!(category == GUID_NULL) && !(category == PIN_CATEGORY_CAPTURE)) continue;
    if (auto found = StreamControlOnPath(o.Get(), depth + 1)) return found;
  }
  return nullptr;
}

bool InGraph(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (FAILED(filter->QueryFilterInfo(&info))) return false;
  const bool in = info.pGraph != nullptr;
  if (info.pGraph) info.pGraph->Release();
  return in;
}

// How much of a capture file the capture used: its top-level RIFF chunks ("RIFF AVI ",
// then "RIFF AVIX" for large files); the rest is the preallocated reserve.
int64_t UsedRiffLength(int fd, int64_t fileSize) {
  int64_t at = 0;
  for (;;) {
    unsigned char header[8];
    if (at + 8 > fileSize || pread(fd, header, 8, at) != 8 || std::memcmp(header, "RIFF", 4) != 0) break;
    const int64_t size = int64_t{header[4]} | (int64_t{header[5]} << 8) | (int64_t{header[6]} << 16) |
                         (int64_t{header[7]} << 24);
    const int64_t next = at + 8 + size + (size & 1);
    if (size == 0 || next > fileSize) break;
    at = next;
  }
  return at > 0 ? at : fileSize;
}

}  // namespace

void SetUpstreamFilterProvider(UpstreamFilterProvider provider) {
  Provider& p = TheProvider();
  std::lock_guard lock(p.mutex);
  p.provider = std::move(provider);
}

ComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
  PIN_INFO info{};
  if (!pin || FAILED(pin->QueryPinInfo(&info))) return nullptr;
  return ComPtr<IBaseFilter>::Attach(info.pFilter);
}

CCaptureGraphBuilder::CCaptureGraphBuilder(IUnknown* outer) : CUnknown("capture graph builder", outer) {}

CUnknown* CCaptureGraphBuilder::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* builder = new (std::nothrow) CCaptureGraphBuilder(outer);
  if (!builder && hr) *hr = E_OUTOFMEMORY;
  return builder;
}

HRESULT CCaptureGraphBuilder::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_ICaptureGraphBuilder2) return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CCaptureGraphBuilder::EnsureGraph() {
  if (graph_) return S_OK;
  return CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid());
}

HRESULT CCaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
  if (!graph) return E_POINTER;
  if (graph_) return E_UNEXPECTED;
  graph_ = graph;
  return S_OK;
}

HRESULT CCaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph) {
  if (!graph) return E_POINTER;
  *graph = nullptr;
  const HRESULT hr = EnsureGraph();
  if (FAILED(hr)) return hr;
  *graph = graph_.Get();
  graph_->AddRef();
  return S_OK;
}

HRESULT CCaptureGraphBuilder::EnsureInGraph(IBaseFilter* filter, const char16_t* name) {
  if (InGraph(filter)) return S_OK;
  const HRESULT hr = graph_->AddFilter(filter, name);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CCaptureGraphBuilder::SetOutputFileName(const GUID* type, LPCWSTR file, IBaseFilter** mux, IFileSinkFilter** sink) {
  if (mux) *mux = nullptr;
  if (sink) *sink = nullptr;
  if (!type || !file) return E_POINTER;
  HRESULT hr = EnsureGraph();
  if (FAILED(hr)) return hr;

  ComPtr<IBaseFilter> multiplexer, writer;
  const CLSID muxClass = *type == MEDIASUBTYPE_Avi ? CLSID_AviDest : *type == MEDIASUBTYPE_Asf ? CLSID_WMAsfWriter : *type;
  hr = CoCreateInstance(muxClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, multiplexer.PutVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IFileSinkFilter> fileSink;
  // A writer that writes its own file (the ASF writer) needs no file writer behind it.
  if (FAILED(multiplexer->QueryInterface(IID_IFileSinkFilter, fileSink.PutVoid())) || !fileSink) {
    hr = CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, writer.PutVoid());
    if (FAILED(hr)) return hr;
    hr = writer->QueryInterface(IID_IFileSinkFilter, fileSink.PutVoid());
    if (FAILED(hr)) return hr;
  }
  hr = fileSink->SetFileName(file, nullptr);
  if (FAILED(hr)) return hr;

  const char16_t* muxName = *type == MEDIASUBTYPE_Avi ? u"AVI Mux" : *type == MEDIASUBTYPE_Asf ? u"WM ASF Writer" : u"Mux";
  hr = graph_->AddFilter(multiplexer.Get(), muxName);
  if (FAILED(hr)) return hr;
  if (writer) {
    hr = graph_->AddFilter(writer.Get(), u"File writer");
    if (SUCCEEDED(hr)) {
      hr = VFW_E_CANNOT_CONNECT;
      const auto outs = FilterPins(multiplexer.Get(), PINDIR_OUTPUT, true);
      const auto ins = FilterPins(writer.Get(), PINDIR_INPUT, true);
      if (!outs.empty() && !ins.empty()) hr = graph_->ConnectDirect(outs[0].Get(), ins[0].Get(), nullptr);
    }
    if (FAILED(hr)) {
      graph_->RemoveFilter(writer.Get());
      graph_->RemoveFilter(multiplexer.Get());
      return hr;
    }
  }
  if (mux) *mux = multiplexer.Detach();
  if (sink) *sink = fileSink.Detach();
  return S_OK;
}

HRESULT CCaptureGraphBuilder::FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                                            void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!filter) return E_POINTER;
  if (SUCCEEDED(filter->QueryInterface(iid, object))) return S_OK;
  Visited visited;
  if (category && *category == LOOK_UPSTREAM_ONLY) return SearchUpstream(filter, iid, object, visited);
  visited.push_back(filter);
  for (const ComPtr<IPin>& pin : AllPins(filter)) {
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    if (!PinMatches(pin.Get(), d, category, type, false)) continue;
    if (SUCCEEDED(pin->QueryInterface(iid, object))) return S_OK;
  }
  for (const ComPtr<IPin>& out : FilterPins(filter, PINDIR_OUTPUT, false)) {
    if (!PinMatches(out.Get(), PINDIR_OUTPUT, category, type, false)) continue;
    ComPtr<IPin> peer;
    if (SUCCEEDED(out->ConnectedTo(peer.Put())) && peer && SUCCEEDED(SearchDownstream(peer.Get(), iid, object, visited)))
      return S_OK;
  }
  return E_NOINTERFACE;
}

HRESULT CCaptureGraphBuilder::FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                                      BOOL unconnected, int index, IPin** pin) {
  if (!source || !pin) return E_POINTER;
  *pin = nullptr;
  if (ComPtr<IPin> asPin = AsPin(source)) {
    if (index != 0 || !PinMatches(asPin.Get(), direction, category, type, unconnected != 0)) return E_FAIL;
    *pin = asPin.Detach();
    return S_OK;
  }
  ComPtr<IBaseFilter> filter = AsFilter(source);
  if (!filter) return E_NOINTERFACE;
  int n = 0;
  for (const ComPtr<IPin>& p : FilterPins(filter.Get(), direction, false)) {
    if (!PinMatches(p.Get(), direction, category, type, unconnected != 0)) continue;
    if (n++ == index) {
      *pin = p.Get();
      p->AddRef();
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT CCaptureGraphBuilder::ConnectToFilter(IPin* out, IBaseFilter* target) {
  HRESULT last = VFW_E_CANNOT_CONNECT;
  for (const ComPtr<IPin>& in : FilterPins(target, PINDIR_INPUT, true)) {
    last = graph_->Connect(out, in.Get());
    if (SUCCEEDED(last)) return S_OK;
  }
  return last;
}

void CCaptureGraphBuilder::AddUpstreamFilters(IBaseFilter* device, int depth) {
  if (depth > 2) return;
  const auto freeInputs = FilterPins(device, PINDIR_INPUT, true);
  if (freeInputs.empty()) return;
  std::vector<std::pair<ComPtr<IBaseFilter>, std::u16string>> candidates;
  {
    Provider& p = TheProvider();
    std::lock_guard lock(p.mutex);
    if (p.provider) candidates = p.provider(device);
  }
  if (candidates.empty()) {
    for (const GUID* category : {&AM_KSCATEGORY_CROSSBAR, &AM_KSCATEGORY_TVTUNER, &AM_KSCATEGORY_TVAUDIO}) {
      for (const RegisteredFilter& r : ReadRegisteredFilters(*category)) {
        ComPtr<IBaseFilter> f;
        if (SUCCEEDED(CoCreateInstance(r.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.PutVoid())))
          candidates.emplace_back(std::move(f), r.name.toStdU16String());
      }
    }
  }
  for (auto& [filter, name] : candidates) {
    if (InGraph(filter.Get())) continue;
    if (FAILED(graph_->AddFilter(filter.Get(), name.c_str()))) continue;
    bool used = false;
    for (const ComPtr<IPin>& in : FilterPins(device, PINDIR_INPUT, true)) {
      for (const ComPtr<IPin>& out : FilterPins(filter.Get(), PINDIR_OUTPUT, true)) {
        if (SUCCEEDED(graph_->ConnectDirect(out.Get(), in.Get(), nullptr))) {
          used = true;
          break;
        }
      }
    }
    if (!used) {
      graph_->RemoveFilter(filter.Get());
      continue;
    }
    // A tuner sits upstream of the crossbar it feeds.
    AddUpstreamFilters(filter.Get(), depth + 1);
  }
}

HRESULT CCaptureGraphBuilder::RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                           IBaseFilter* compressor, IBaseFilter* renderer) {
  if (!source) return E_POINTER;
  HRESULT hr = EnsureGraph();
  if (FAILED(hr)) return hr;
  if (compressor && FAILED(hr = EnsureInGraph(compressor, u"Compressor"))) return hr;
  if (renderer && FAILED(hr = EnsureInGraph(renderer, u"Renderer"))) return hr;

  HRESULT result = S_OK;
  ComPtr<IPin> pin = AsPin(source);
  ComPtr<IBaseFilter> device = pin ? FilterOfPin(pin.Get()) : AsFilter(source);
  if (!device) return E_NOINTERFACE;
  if (!pin) {
    FindPin(device.Get(), PINDIR_OUTPUT, category, type, 1, 0, pin.Put());
    const bool preview = category && *category == PIN_CATEGORY_PREVIEW;
    const bool capture = category && *category == PIN_CATEGORY_CAPTURE;
    if (!pin && (preview || capture)) {
      // The device's capture pin may already feed a Smart Tee: its free output of that category.
      ComPtr<IPin> capturePin;
      FindPin(device.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, type, 0, 0, capturePin.Put());
      ComPtr<IPin> peer;
      if (capturePin && SUCCEEDED(capturePin->ConnectedTo(peer.Put())) && peer) {
        ComPtr<IBaseFilter> next = FilterOfPin(peer.Get());
        ComPtr<IPersist> persist;
        CLSID clsid{};
        if (next && SUCCEEDED(next->QueryInterface(IID_IPersist, persist.PutVoid())) && SUCCEEDED(persist->GetClassID(&clsid)) &&
            clsid == CLSID_SmartTee) {
          FindPin(next.Get(), PINDIR_OUTPUT, category, nullptr, 1, 0, pin.Put());
          if (pin && preview) result = VFW_S_NOPREVIEWPIN;
        }
      }
      if (!pin && preview && capturePin) {
        // No preview pin: a Smart Tee on the capture pin gives one, and keeps feeding
        // whatever the capture pin fed through its capture output.
        ComPtr<IBaseFilter> tee;
        hr = CoCreateInstance(CLSID_SmartTee, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, tee.PutVoid());
        if (FAILED(hr)) return hr;
        if (FAILED(hr = graph_->AddFilter(tee.Get(), u"Smart Tee"))) return hr;
        if (peer) {
          capturePin->Disconnect();
          peer->Disconnect();
        }
        hr = ConnectToFilter(capturePin.Get(), tee.Get());
        ComPtr<IPin> teeCapture;
        if (SUCCEEDED(hr) && peer) {
          FindPin(tee.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, 1, 0, teeCapture.Put());
          hr = teeCapture ? graph_->Connect(teeCapture.Get(), peer.Get()) : VFW_E_CANNOT_CONNECT;
        }
        if (FAILED(hr)) {
          graph_->RemoveFilter(tee.Get());
          if (peer) graph_->ConnectDirect(capturePin.Get(), peer.Get(), nullptr);
          return hr;
        }
        FindPin(tee.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, 1, 0, pin.Put());
        result = VFW_S_NOPREVIEWPIN;
      }
    }
    if (!pin) return E_FAIL;
  } else if (Connected(pin.Get())) {
    return VFW_E_ALREADY_CONNECTED;
  }

  if (!compressor && !renderer) {
    AddUpstreamFilters(device.Get(), 0);
    hr = graph_->Render(pin.Get());
    return FAILED(hr) ? hr : result;
  }
  ComPtr<IPin> chain = pin;
  if (compressor) {
    if (FAILED(hr = ConnectToFilter(chain.Get(), compressor))) return hr;
    const auto outs = FilterPins(compressor, PINDIR_OUTPUT, true);
    if (outs.empty()) return VFW_E_CANNOT_CONNECT;
    chain = outs[0];
  }
  hr = renderer ? ConnectToFilter(chain.Get(), renderer) : graph_->Render(chain.Get());
  return FAILED(hr) ? hr : result;
}

HRESULT CCaptureGraphBuilder::ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter,
                                            REFERENCE_TIME* start, REFERENCE_TIME* stop, WORD startCookie,
                                            WORD stopCookie) {
  HRESULT hr = EnsureGraph();
  if (FAILED(hr)) return hr;
  std::vector<ComPtr<IBaseFilter>> filters;
  if (filter) {
    filters.emplace_back(filter);
  } else {
    ComPtr<IEnumFilters> all;
    if (FAILED(graph_->EnumFilters(all.Put()))) return E_FAIL;
    IBaseFilter* f = nullptr;
    ULONG fetched = 0;
    while (all->Next(1, &f, &fetched) == S_OK) filters.push_back(ComPtr<IBaseFilter>::Attach(f));
  }
  bool pinFound = false, applied = false;
  for (const ComPtr<IBaseFilter>& f : filters) {
    for (const ComPtr<IPin>& out : FilterPins(f.Get(), PINDIR_OUTPUT, false)) {
      if (!PinMatches(out.Get(), PINDIR_OUTPUT, category, type, false)) continue;
      // Without a category only pins that have one (device pins) are meant.
      if (!category && PinCategoryOf(out.Get()) == GUID_NULL) continue;
      pinFound = true;
      ComPtr<IAMStreamControl> control = StreamControlOnPath(out.Get(), 0);
      if (!control) continue;
      control->StartAt(start, startCookie);
      control->StopAt(stop, 0, stopCookie);
      applied = true;
    }
    if (filter) break;
  }
  if (applied) return S_OK;
  return pinFound ? E_NOINTERFACE : E_FAIL;
}

HRESULT CCaptureGraphBuilder::AllocCapFile(LPCWSTR file, uint64_t size) {
  if (!file) return E_POINTER;
  if (size > static_cast<uint64_t>(INT64_MAX)) return E_INVALIDARG;
  const QByteArray path = QFile::encodeName(QString::fromUtf16(file));
  struct stat before {};
  const bool existed = ::stat(path.constData(), &before) == 0;
  const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return errno == ENOENT ? kFileNotFound : E_FAIL;
  HRESULT hr = S_OK;
  if (!existed || static_cast<uint64_t>(before.st_size) < size) {
    // Reserve the blocks now, so that a capture never waits for the file system to find them.
    const int error = size ? ::posix_fallocate(fd, 0, static_cast<off_t>(size)) : 0;
    if (error) hr = error == ENOSPC ? kDiskFull : E_FAIL;
  }
  if (::close(fd) != 0 && SUCCEEDED(hr)) hr = E_FAIL;
  // A file this call made and could not fill is not left behind half-reserved.
  if (FAILED(hr) && !existed) ::unlink(path.constData());
  return hr;
}

HRESULT CCaptureGraphBuilder::CopyCaptureFile(LPWSTR oldFile, LPWSTR newFile, int, IAMCopyCaptureFileProgress* callback) {
  if (!oldFile || !newFile) return E_POINTER;
  const QByteArray from = QFile::encodeName(QString::fromUtf16(oldFile));
  const QByteArray to = QFile::encodeName(QString::fromUtf16(newFile));
  const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return kFileNotFound;
  struct stat st {};
  ::fstat(in, &st);
  const int64_t length = UsedRiffLength(in, st.st_size);
  const QByteArray partial = to + ".part";
  const int out = ::open(partial.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    ::close(in);
    return E_FAIL;
  }
  std::vector<char> buffer(1 << 20);
  int64_t done = 0;
  HRESULT hr = S_OK;
  int lastPercent = -1;
  while (done < length) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), length - done));
    const ssize_t got = ::pread(in, buffer.data(), want, done);
    if (got <= 0) {
      hr = E_FAIL;
      break;
    }
    ssize_t written = 0;
    while (written < got) {
      const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(got - written));
      if (w <= 0) {
        hr = errno == ENOSPC ? kDiskFull : E_FAIL;
        break;
      }
      written += w;
    }
    if (FAILED(hr)) break;
    done += got;
    const int percent = static_cast<int>(done * 100 / std::max<int64_t>(1, length));
    if (callback && percent != lastPercent) {
      lastPercent = percent;
      if (callback->Progress(percent) != S_OK) {
        hr = E_ABORT;
        break;
      }
    }
  }
  ::close(in);
  if (::fsync(out) != 0 && SUCCEEDED(hr)) hr = E_FAIL;
  if (::close(out) != 0 && SUCCEEDED(hr)) hr = E_FAIL;
  // The copy replaces the destination only when it is complete.
  if (SUCCEEDED(hr) && ::rename(partial.constData(), to.constData()) != 0) hr = E_FAIL;
  if (FAILED(hr)) ::unlink(partial.constData());
  return hr;
}

}  // namespace kestrom::dshow::graph
