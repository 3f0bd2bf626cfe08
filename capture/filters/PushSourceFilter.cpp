// The push source of video from images: one output pin that asks the engine's fill callback for
// every frame, at the frame rate the engine gives.
#include "capture/filters/ModuleFilters.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/SourceFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace kestrom::filters {

using namespace dshow;
using com::E_FAIL;
using com::E_OUTOFMEMORY;
using com::E_POINTER;
using com::FAILED;
using com::S_FALSE;
using com::S_OK;

class CPushSourceFilter;

class CPushStream final : public CSourceStream {
 public:
  CPushStream(HRESULT* hr, CPushSourceFilter* filter);

  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT CheckMediaType(const CMediaType* type) override {
    CMediaType mine;
    if (!type || FAILED(GetMediaType(0, &mine))) return E_FAIL;
    return *type == mine ? S_OK : E_FAIL;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    if (!allocator || !request) return E_POINTER;
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = static_cast<LONG>(std::max<ULONG>(mt_.lSampleSize, 1));
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }
  HRESULT OnThreadStartPlay() override {
    frame_ = 0;
    base_ = 0;
    rate_ = 0;
    return S_OK;
  }
  HRESULT FillBuffer(IMediaSample* sample) override;

 private:
  CPushSourceFilter* owner_;
  int64_t frame_ = 0;  // frames timed at the current rate
  REFERENCE_TIME base_ = 0;  // where the current rate's frames start
  double rate_ = 0;
};

class CPushSourceFilter final : public CSource {
 public:
  explicit CPushSourceFilter(IUnknown* outer)
      : CSource("PushSrc", outer, CLSID_TfcPushSource), module_(TfcatchModule()), settings_(*this) {
    HRESULT hr = S_OK;
    AddPin(std::make_unique<CPushStream>(&hr, this));
  }

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IPushSourceSettings) return com::GetInterface(&settings_, object);
    return CSource::NonDelegatingQueryInterface(iid, object);
  }

  TPushSourceRecord Record() {
    std::lock_guard lock(recordLock_);
    return record_;
  }

 private:
  struct Settings final : IPushSourceSettings {
    explicit Settings(CPushSourceFilter& f) : f_(f) {}
    HRESULT QueryInterface(REFIID iid, void** object) override { return f_.GetOwner()->QueryInterface(iid, object); }
    com::ULONG AddRef() override { return f_.GetOwner()->AddRef(); }
    com::ULONG Release() override { return f_.GetOwner()->Release(); }
    HRESULT SetSettings(const TPushSourceRecord* record) override {
      if (!record) return E_POINTER;
      if (!(record->framesPerSecond > 0) || !record->fill || !record->format) return com::E_INVALIDARG;
      std::lock_guard lock(f_.recordLock_);
      f_.record_ = *record;
      return S_OK;
    }
    CPushSourceFilter& f_;
  };

  com::ModuleObject module_;
  std::mutex recordLock_;
  TPushSourceRecord record_;
  Settings settings_;
};

CPushStream::CPushStream(HRESULT* hr, CPushSourceFilter* filter)
    : CSourceStream("push source output", hr, filter, u"Output"), owner_(filter) {}

HRESULT CPushStream::GetMediaType(int position, CMediaType* type) {
  if (!type) return E_POINTER;
  if (position < 0) return com::E_INVALIDARG;
  if (position > 0) return com::VFW_S_NO_MORE_ITEMS;
  const TPushSourceRecord record = owner_->Record();
  if (!record.format) return E_FAIL;
  LONG size = 0;
  BYTE* format = nullptr;
  BYTE* buffer = nullptr;
  const HRESULT hr = record.format(record.fillData, &size, &format, &buffer);
  // The buffer is the engine's task memory: freed here whatever happened.
  std::unique_ptr<BYTE, void (*)(BYTE*)> owned(buffer, [](BYTE* p) { com::CoTaskMemFree(p); });
  if (FAILED(hr) || !format || size < static_cast<LONG>(sizeof(BITMAPINFOHEADER))) return E_FAIL;
  BITMAPINFOHEADER header;
  std::memcpy(&header, format, sizeof header);
  if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN ||
      (header.biBitCount != 24 && header.biBitCount != 32 && header.biBitCount != 16 && header.biBitCount != 8))
    return E_FAIL;
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(header.biBitCount == 32   ? MEDIASUBTYPE_RGB32
                : header.biBitCount == 24 ? MEDIASUBTYPE_RGB24
                : header.biBitCount == 16 ? MEDIASUBTYPE_RGB555
                                          : MEDIASUBTYPE_RGB8);
  mt.SetFormatType(FORMAT_VideoInfo);
  const ULONG headerBlock = static_cast<ULONG>(size);
  BYTE* block = mt.AllocFormatBuffer(offsetof(VIDEOINFOHEADER, bmiHeader) + headerBlock);
  if (!block) return E_OUTOFMEMORY;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
  std::memcpy(block + offsetof(VIDEOINFOHEADER, bmiHeader), format, headerBlock);
  const LONG width = header.biWidth, height = std::abs(header.biHeight);
  const ULONG image = static_cast<ULONG>(RgbStride(width, header.biBitCount)) * static_cast<ULONG>(height);
  vih->bmiHeader.biSizeImage = image;
  vih->rcSource = RECT{0, 0, width, height};
  vih->rcTarget = RECT{0, 0, width, height};
  vih->AvgTimePerFrame = static_cast<REFERENCE_TIME>(std::llround(10'000'000.0 / record.framesPerSecond));
  mt.SetSampleSize(image);
  mt.SetTemporalCompression(false);
  *type = mt;
  return S_OK;
}

HRESULT CPushStream::FillBuffer(IMediaSample* sample) {
  const TPushSourceRecord record = owner_->Record();
  BYTE* data = nullptr;
  if (!record.fill || FAILED(sample->GetPointer(&data))) return E_FAIL;
  const LONG size = std::min<LONG>(sample->GetSize(), static_cast<LONG>(mt_.lSampleSize));
  BOOL endOfStream = 0;
  const HRESULT hr = record.fill(record.fillData, data, size, &endOfStream);
  if (FAILED(hr)) return hr;
  if (endOfStream) return S_FALSE;
  // A rate given while the stream runs times the next frame from where the last one ended.
  if (record.framesPerSecond != rate_) {
    if (rate_ > 0) base_ += std::llround(frame_ * (10'000'000.0 / rate_));
    frame_ = 0;
    rate_ = record.framesPerSecond;
  }
  const double duration = 10'000'000.0 / rate_;
  REFERENCE_TIME start = base_ + std::llround(frame_ * duration), stop = base_ + std::llround((frame_ + 1) * duration);
  ++frame_;
  sample->SetTime(&start, &stop);
  sample->SetActualDataLength(size);
  sample->SetSyncPoint(1);
  return S_OK;
}

com::CUnknown* NewPushSource(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CPushSourceFilter(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

}  // namespace kestrom::filters
