#include "platform/dshow/base/BaseFilter.h"

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrom::dshow {

using namespace com;

namespace {

void CopyName(const std::u16string& name, WCHAR* target, size_t capacity) {
  const size_t n = std::min(name.size(), capacity - 1);
  std::copy_n(name.data(), n, target);
  target[n] = u'\0';
}

/** @brief Enumerates a filter's pins by index; holds a reference to the filter. */
class CEnumPins final : public CUnknown, public IEnumPins {
 public:
  CEnumPins(CBaseFilter* filter, int position) : CUnknown("pin enumerator", nullptr), filter_(filter), position_(position) {
    filter_->AddRef();
  }
  ~CEnumPins() override { filter_->Release(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    if (!fetched && count > 1) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count) {
      CBasePin* pin = filter_->GetPin(position_);
      if (!pin) break;
      ++position_;
      pins[n] = pin;
      pin->AddRef();
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    const int total = filter_->GetPinCount();
    if (position_ + static_cast<int>(count) > total) {
      position_ = total;
      return S_FALSE;
    }
    position_ += static_cast<int>(count);
    return S_OK;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumPins** clone) override {
    if (!clone) return E_POINTER;
    auto* e = new (std::nothrow) CEnumPins(filter_, position_);
    if (!e) return E_OUTOFMEMORY;
    return e->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(clone));
  }

 private:
  CBaseFilter* filter_;
  int position_;
};

/** @brief Enumerates a pin's preferred media types; holds a reference to the pin. */
class CEnumMediaTypes final : public CUnknown, public IEnumMediaTypes {
 public:
  CEnumMediaTypes(CBasePin* pin, int position) : CUnknown("media type enumerator", nullptr), pin_(pin), position_(position) {
    pin_->AddRef();
  }
  ~CEnumMediaTypes() override { pin_->Release(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types) return E_POINTER;
    if (!fetched && count > 1) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count) {
      CMediaType mt;
      if (pin_->GetMediaType(position_, &mt) != S_OK) break;
      ++position_;
      types[n] = CreateMediaType(&mt);
      if (!types[n]) break;
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ += static_cast<int>(count);
    CMediaType mt;
    return pin_->GetMediaType(position_ - 1, &mt) == S_OK ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumMediaTypes** clone) override {
    if (!clone) return E_POINTER;
    auto* e = new (std::nothrow) CEnumMediaTypes(pin_, position_);
    if (!e) return E_OUTOFMEMORY;
    return e->NonDelegatingQueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void**>(clone));
  }

 private:
  CBasePin* pin_;
  int position_;
};

}  // namespace

// ---- CBaseFilter ----

CBaseFilter::CBaseFilter(const char* objectName, IUnknown* outer, std::recursive_mutex* lock, REFCLSID clsid)
    : CUnknown(objectName, outer), lock_(lock), clsid_(clsid) {}

CBaseFilter::~CBaseFilter() {
  if (clock_) clock_->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), object);
  if (iid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), object);
  if (iid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT CBaseFilter::Stop() {
  std::lock_guard lock(*lock_);
  HRESULT result = S_OK;
  if (state_ != State_Stopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      CBasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        const HRESULT hr = pin->Inactive();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
      }
    }
  }
  state_ = State_Stopped;
  return result;
}

HRESULT CBaseFilter::Pause() {
  std::lock_guard lock(*lock_);
  if (state_ == State_Stopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      CBasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        const HRESULT hr = pin->Active();
        if (FAILED(hr)) return hr;
      }
    }
  }
  state_ = State_Paused;
  return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
  std::lock_guard lock(*lock_);
  if (state_ == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  start_ = start;
  state_ = State_Running;
  return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = state_;
  return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard lock(*lock_);
  if (clock) clock->AddRef();
  if (clock_) clock_->Release();
  clock_ = clock;
  return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard lock(*lock_);
  *clock = clock_;
  if (clock_) clock_->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = nullptr;
  auto* e = new (std::nothrow) CEnumPins(this, 0);
  if (!e) return E_OUTOFMEMORY;
  return e->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(pins));
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  std::lock_guard lock(*lock_);
  for (int i = 0; i < GetPinCount(); ++i) {
    CBasePin* p = GetPin(i);
    if (p && p->Name() == id) {
      *pin = p;
      p->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard lock(*lock_);
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard lock(*lock_);
  try {
    name_ = name ? std::u16string(name) : std::u16string();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  graph_ = graph;
  return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR* vendorInfo) {
  if (vendorInfo) *vendorInfo = nullptr;
  return E_NOTIMPL;
}

// ---- CBasePin ----

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, HRESULT*, LPCWSTR name,
                   PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr), filter_(filter), lock_(lock), name_(name ? name : u""), direction_(direction) {}

CBasePin::~CBasePin() {
  if (connected_) connected_->Release();
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IPin) return GetInterface(static_cast<IPin*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

ULONG CBasePin::NonDelegatingAddRef() { return filter_->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return filter_->Release(); }

HRESULT CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) {
  if (!receivePin) return E_POINTER;
  std::lock_guard lock(*lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (!IsFilterStopped()) return VFW_E_NOT_STOPPED;
  if (type) {
    const CMediaType mt(*type);
    return AgreeMediaType(receivePin, &mt);
  }
  return AgreeMediaType(receivePin, nullptr);
}

HRESULT CBasePin::AgreeMediaType(IPin* receivePin, const CMediaType* type) {
  if (type && !type->IsPartiallySpecified()) return AttemptConnection(receivePin, type);
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  // The receiving pin's preferences first, then ours.
  for (int pass = 0; pass < 2; ++pass) {
    ComPtr<IEnumMediaTypes> types;
    const HRESULT hr = pass == 0 ? receivePin->EnumMediaTypes(types.Put()) : EnumMediaTypes(types.Put());
    if (FAILED(hr) || !types) continue;
    const HRESULT tried = TryMediaTypes(receivePin, type, types.Get());
    if (SUCCEEDED(tried)) return S_OK;
    if (tried != VFW_E_NO_ACCEPTABLE_TYPES) last = tried;
  }
  return last;
}

HRESULT CBasePin::TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types) {
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  for (;;) {
    AM_MEDIA_TYPE* next = nullptr;
    ULONG fetched = 0;
    if (types->Next(1, &next, &fetched) != S_OK || fetched != 1 || !next) break;
    const CMediaType mt(*next);
    DeleteMediaType(next);
    if (partial && !partial->MatchesPartial(mt)) continue;
    const HRESULT hr = AttemptConnection(receivePin, &mt);
    if (SUCCEEDED(hr)) return S_OK;
    last = hr;
  }
  return last;
}

HRESULT CBasePin::AttemptConnection(IPin* receivePin, const CMediaType* type) {
  HRESULT hr = CheckConnect(receivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(type);
  if (hr != S_OK) {
    BreakConnect();
    return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
  }
  connected_ = receivePin;
  connected_->AddRef();
  hr = SetMediaType(type);
  if (SUCCEEDED(hr)) {
    hr = receivePin->ReceiveConnection(this, type);
    if (SUCCEEDED(hr)) {
      hr = CompleteConnect(receivePin);
      if (SUCCEEDED(hr)) return S_OK;
      receivePin->Disconnect();
    }
  }
  BreakConnect();
  connected_->Release();
  connected_ = nullptr;
  mt_ = CMediaType();
  return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  std::lock_guard lock(*lock_);
  if (connected_) return VFW_E_ALREADY_CONNECTED;
  if (!IsFilterStopped()) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  const CMediaType mt(*type);
  hr = CheckMediaType(&mt);
  if (hr != S_OK) {
    BreakConnect();
    return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
  }
  connected_ = connector;
  connected_->AddRef();
  hr = SetMediaType(&mt);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(connector);
    if (SUCCEEDED(hr)) return S_OK;
  }
  BreakConnect();
  connected_->Release();
  connected_ = nullptr;
  mt_ = CMediaType();
  return hr;
}

HRESULT CBasePin::Disconnect() {
  std::lock_guard lock(*lock_);
  if (!IsFilterStopped()) return VFW_E_NOT_STOPPED;
  if (!connected_) return S_FALSE;
  BreakConnect();
  connected_->Release();
  connected_ = nullptr;
  mt_ = CMediaType();
  return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  std::lock_guard lock(*lock_);
  *pin = connected_;
  if (!connected_) return VFW_E_NOT_CONNECTED;
  connected_->AddRef();
  return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  std::lock_guard lock(*lock_);
  if (!connected_) {
    *type = AM_MEDIA_TYPE{};
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, &mt_);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter_;
  filter_->AddRef();
  info->dir = direction_;
  CopyName(name_, info->achName, MAX_PIN_NAME);
  return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  const size_t bytes = (name_.size() + 1) * sizeof(WCHAR);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::memcpy(*id, name_.c_str(), bytes);
  return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  const CMediaType mt(*type);
  const HRESULT hr = CheckMediaType(&mt);
  return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = nullptr;
  auto* e = new (std::nothrow) CEnumMediaTypes(this, 0);
  if (!e) return E_OUTOFMEMORY;
  return e->NonDelegatingQueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void**>(types));
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBasePin::EndOfStream() { return S_OK; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segmentStart_ = start;
  segmentStop_ = stop;
  segmentRate_ = rate;
  return S_OK;
}

HRESULT CBasePin::GetMediaType(int position, CMediaType*) {
  return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CBasePin::SetMediaType(const CMediaType* type) {
  mt_ = *type;
  return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION other;
  const HRESULT hr = pin->QueryDirection(&other);
  if (FAILED(hr)) return hr;
  return other == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::Active() { return S_OK; }
HRESULT CBasePin::Inactive() { return S_OK; }

// ---- CBaseOutputPin ----

CBaseOutputPin::CBaseOutputPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, HRESULT* hr,
                               LPCWSTR name)
    : CBasePin(objectName, filter, lock, hr, name, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
  if (allocator_) allocator_->Release();
  if (inputPin_) inputPin_->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
  HRESULT hr = CBasePin::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  if (inputPin_) {
    inputPin_->Release();
    inputPin_ = nullptr;
  }
  hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&inputPin_));
  return FAILED(hr) ? E_NOINTERFACE : S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (allocator_) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  if (inputPin_) {
    inputPin_->Release();
    inputPin_ = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  if (allocator_) {
    allocator_->Release();
    allocator_ = nullptr;
  }
  return DecideAllocator(inputPin_, &allocator_);
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  if (!pin) return E_POINTER;
  ALLOCATOR_PROPERTIES props{};
  pin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;

  HRESULT hr = pin->GetAllocator(allocator);
  if (SUCCEEDED(hr) && *allocator) {
    hr = DecideBufferSize(*allocator, &props);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*allocator, 0);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*allocator) {
    (*allocator)->Release();
    *allocator = nullptr;
  }
  *allocator = CMemAllocator::Create();
  if (!*allocator) return E_OUTOFMEMORY;
  hr = DecideBufferSize(*allocator, &props);
  if (SUCCEEDED(hr)) {
    hr = pin->NotifyAllocator(*allocator, 0);
    if (SUCCEEDED(hr)) return S_OK;
  }
  (*allocator)->Release();
  *allocator = nullptr;
  return hr;
}

HRESULT CBaseOutputPin::Active() { return allocator_ ? allocator_->Commit() : VFW_E_NO_ALLOCATOR; }

HRESULT CBaseOutputPin::Inactive() { return allocator_ ? allocator_->Decommit() : VFW_E_NO_ALLOCATOR; }

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) {
  if (!allocator_) return VFW_E_NO_ALLOCATOR;
  return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (!inputPin_) return VFW_E_NOT_CONNECTED;
  return inputPin_->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() { return connected_ ? connected_->EndOfStream() : VFW_E_NOT_CONNECTED; }
HRESULT CBaseOutputPin::DeliverBeginFlush() { return connected_ ? connected_->BeginFlush() : VFW_E_NOT_CONNECTED; }
HRESULT CBaseOutputPin::DeliverEndFlush() { return connected_ ? connected_->EndFlush() : VFW_E_NOT_CONNECTED; }
HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return connected_ ? connected_->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

// ---- CBaseInputPin ----

CBaseInputPin::CBaseInputPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, HRESULT* hr,
                             LPCWSTR name)
    : CBasePin(objectName, filter, lock, hr, name, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
  if (allocator_) allocator_->Release();
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), object);
  return CBasePin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  std::lock_guard lock(*lock_);
  if (!allocator_) {
    allocator_ = CMemAllocator::Create();
    if (!allocator_) return E_OUTOFMEMORY;
  }
  *allocator = allocator_;
  allocator_->AddRef();
  return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  std::lock_guard lock(*lock_);
  allocator->AddRef();
  if (allocator_) allocator_->Release();
  allocator_ = allocator;
  readOnly_ = readOnly != 0;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  if (IsFilterStopped()) return VFW_E_WRONG_STATE;
  if (flushing_) return S_FALSE;
  return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  AM_MEDIA_TYPE* changed = nullptr;
  if (sample->GetMediaType(&changed) == S_OK && changed) {
    const CMediaType mt(*changed);
    DeleteMediaType(changed);
    // Some filters attach their type to every sample; only a real change is checked and applied.
    if (!(mt == mt_)) {
      if (CheckMediaType(&mt) != S_OK) return VFW_E_INVALIDMEDIATYPE;
      SetMediaType(&mt);
    }
  }
  return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  HRESULT hr = S_OK;
  *processed = 0;
  while (count-- > 0) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() { return S_OK; }

HRESULT CBaseInputPin::BeginFlush() {
  std::lock_guard lock(*lock_);
  flushing_ = true;
  return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
  std::lock_guard lock(*lock_);
  flushing_ = false;
  return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
  if (allocator_) {
    allocator_->Decommit();
    allocator_->Release();
    allocator_ = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  flushing_ = false;
  if (allocator_) allocator_->Decommit();
  return S_OK;
}

}  // namespace kestrom::dshow
