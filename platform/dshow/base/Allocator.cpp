#include "platform/dshow/base/Allocator.h"

#include <cstdlib>

namespace kestrom::dshow {

using namespace com;

CMediaSample::CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size)
    : allocator_(allocator), ownBuffer_(buffer), ownSize_(size), buffer_(buffer), size_(size), actual_(size) {}

CMediaSample::~CMediaSample() = default;

HRESULT CMediaSample::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IMediaSample) return GetInterface(static_cast<IMediaSample*>(this), object);
  if (iid == IID_ISharedSampleData) return GetInterface(static_cast<ISharedSampleData*>(this), object);
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return static_cast<ULONG>(refs_.fetch_add(1) + 1); }

ULONG CMediaSample::Release() {
  const long left = refs_.fetch_sub(1) - 1;
  if (left == 0) allocator_->ReleaseBuffer(this);
  return static_cast<ULONG>(left < 0 ? 0 : left);
}

void CMediaSample::ResetForUse() {
  DropAttachedData();
  actual_ = size_;
  timeValid_ = stopValid_ = mediaTimeValid_ = false;
  sync_ = preroll_ = discontinuity_ = false;
  typeSet_ = false;
}

void CMediaSample::DropAttachedData() {
  holder_.reset();
  buffer_ = ownBuffer_;
  size_ = ownSize_;
}

HRESULT CMediaSample::AttachData(BYTE* data, LONG length, std::shared_ptr<void> holder) {
  if ((!data && length > 0) || length < 0) return E_POINTER;
  holder_ = std::move(holder);
  buffer_ = data;
  size_ = length;
  actual_ = length;
  return S_OK;
}

std::shared_ptr<void> CMediaSample::DataHolder() { return holder_; }

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = buffer_;
  return S_OK;
}

LONG CMediaSample::GetSize() { return size_; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (!start || !stop) return E_POINTER;
  if (!timeValid_) return VFW_E_SAMPLE_TIME_NOT_SET;
  *start = start_;
  if (!stopValid_) {
    *stop = start_ + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *stop = stop_;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  timeValid_ = start != nullptr;
  stopValid_ = start && stop;
  if (start) start_ = *start;
  if (stop) stop_ = *stop;
  return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return sync_ ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL sync) {
  sync_ = sync != 0;
  return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return preroll_ ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL preroll) {
  preroll_ = preroll != 0;
  return S_OK;
}
HRESULT CMediaSample::IsDiscontinuity() { return discontinuity_ ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
  discontinuity_ = discontinuity != 0;
  return S_OK;
}

LONG CMediaSample::GetActualDataLength() { return actual_; }

HRESULT CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
  actual_ = length;
  return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  if (!typeSet_) return S_FALSE;
  *type = CreateMediaType(type_.get());
  return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* type) {
  typeSet_ = false;
  if (!type) return S_OK;
  if (!type_ || !SameMediaType(*type_, *type)) {
    auto copy = std::make_unique<CMediaType>();
    if (FAILED(CopyMediaType(copy.get(), type))) return E_OUTOFMEMORY;
    type_ = std::move(copy);
  }
  typeSet_ = true;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start || !end) return E_POINTER;
  if (!mediaTimeValid_) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = mediaStart_;
  *end = mediaEnd_;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start || !end) {
    mediaTimeValid_ = false;
    return S_OK;
  }
  mediaStart_ = *start;
  mediaEnd_ = *end;
  mediaTimeValid_ = true;
  return S_OK;
}

CMemAllocator::CMemAllocator(IUnknown* outer) : CUnknown("memory allocator", outer) {}

CMemAllocator::~CMemAllocator() {
  std::lock_guard lock(mutex_);
  FreeMemoryLocked();
}

IMemAllocator* CMemAllocator::Create() {
  auto* allocator = new (std::nothrow) CMemAllocator();
  if (!allocator) return nullptr;
  IMemAllocator* result = nullptr;
  allocator->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&result));
  return result;
}

HRESULT CMemAllocator::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (committed_) return VFW_E_ALREADY_COMMITTED;
  if (outstanding_ > 0) return VFW_E_BUFFERS_OUTSTANDING;
  if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1)) != 0) return VFW_E_BADALIGN;
  if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
  props_ = *request;
  // Each buffer (with its prefix) starts on the alignment.
  const int64_t padded = ((int64_t{props_.cbBuffer} + props_.cbPrefix + props_.cbAlign - 1) / props_.cbAlign) *
                         props_.cbAlign - props_.cbPrefix;
  if (padded > INT32_MAX) return E_OUTOFMEMORY;
  props_.cbBuffer = static_cast<LONG>(padded);
  propsSet_ = true;
  *actual = props_;
  return S_OK;
}

HRESULT CMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  std::lock_guard lock(mutex_);
  *props = props_;
  return S_OK;
}

HRESULT CMemAllocator::Commit() {
  std::lock_guard lock(mutex_);
  if (committed_) return S_OK;
  if (!propsSet_ || props_.cBuffers <= 0 || props_.cbBuffer <= 0) return VFW_E_SIZENOTSET;
  if (samples_.empty()) {
    const size_t each = static_cast<size_t>(props_.cbBuffer) + static_cast<size_t>(props_.cbPrefix);
    const size_t align = static_cast<size_t>(props_.cbAlign);
    const size_t total = ((each * static_cast<size_t>(props_.cBuffers) + align - 1) / align) * align;
    memory_ = static_cast<BYTE*>(std::aligned_alloc(align < alignof(std::max_align_t) ? alignof(std::max_align_t) : align,
                                                    ((total + 63) / 64) * 64));
    if (!memory_) return E_OUTOFMEMORY;
    for (LONG i = 0; i < props_.cBuffers; ++i) {
      BYTE* buffer = memory_ + static_cast<size_t>(i) * each + static_cast<size_t>(props_.cbPrefix);
      samples_.push_back(std::make_unique<CMediaSample>(this, buffer, props_.cbBuffer));
      free_.push_back(samples_.back().get());
    }
  }
  committed_ = true;
  return S_OK;
}

HRESULT CMemAllocator::Decommit() {
  std::lock_guard lock(mutex_);
  if (!committed_) return S_OK;
  committed_ = false;
  // Samples still out are freed when the allocator goes; waiters learn it is decommitted.
  if (outstanding_ == 0) FreeMemoryLocked();
  freed_.notify_all();
  return S_OK;
}

HRESULT CMemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  CMediaSample* taken = nullptr;
  {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!committed_) return VFW_E_NOT_COMMITTED;
      if (!free_.empty()) break;
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      freed_.wait(lock);
    }
    taken = free_.back();
    free_.pop_back();
    ++outstanding_;
  }
  // A sample out keeps its allocator alive.
  GetOwner()->AddRef();
  taken->ResetForUse();
  if (start && end) taken->SetTime(start, end);
  taken->AddRef();
  *sample = taken;
  return S_OK;
}

HRESULT CMemAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  {
    std::lock_guard lock(mutex_);
    CMediaSample* ours = nullptr;
    for (const auto& s : samples_)
      if (static_cast<IMediaSample*>(s.get()) == sample) ours = s.get();
    if (!ours) return E_INVALIDARG;
    // Bytes held for the sample go now, not when it is next handed out.
    ours->DropAttachedData();
    free_.push_back(ours);
    --outstanding_;
    if (!committed_ && outstanding_ == 0) FreeMemoryLocked();
    freed_.notify_one();
  }
  GetOwner()->Release();
  return S_OK;
}

void CMemAllocator::FreeMemoryLocked() {
  free_.clear();
  samples_.clear();
  std::free(memory_);
  memory_ = nullptr;
}

}  // namespace kestrom::dshow
