#include "deinterlacer/DeinterlaceFilter.h"

#include "deinterlacer/FieldTransform.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace kestrom::deinterlacer {

using namespace com;

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};

const AMOVIESETUP_PIN kPins[] = {
    {u"Input", 0, 0, 0, 0, &GUID_NULL, nullptr, 1, kPinTypes},
    {u"Output", 0, 1, 0, 0, &GUID_NULL, nullptr, 1, kPinTypes},
};

// Merit MERIT_DO_NOT_USE keeps automatic graph building from ever choosing the filter.
const AMOVIESETUP_FILTER kFilterSetup = {&CLSID_Deinterlacer, kFilterName, MERIT_DO_NOT_USE, 2, kPins};

/** @brief The bitmap header of a VideoInfo or VideoInfo2 block, read by value; false when the block is too short. */
bool ReadHeader(const AM_MEDIA_TYPE& type, BITMAPINFOHEADER* header, REFERENCE_TIME* avgTimePerFrame) {
  size_t headerAt = 0, needed = 0;
  if (type.formattype == FORMAT_VideoInfo) {
    headerAt = offsetof(VIDEOINFOHEADER, bmiHeader);
    needed = sizeof(VIDEOINFOHEADER);
  } else if (type.formattype == FORMAT_VideoInfo2) {
    headerAt = offsetof(VIDEOINFOHEADER2, bmiHeader);
    needed = sizeof(VIDEOINFOHEADER2);
  } else {
    return false;
  }
  // A block shorter than the header it names would be read past its end.
  if (!type.pbFormat || type.cbFormat < needed) return false;
  std::memcpy(header, type.pbFormat + headerAt, sizeof(BITMAPINFOHEADER));
  // Sizes whose magnitude has no 32-bit value describe no picture.
  if (header->biWidth == INT32_MIN || header->biHeight == INT32_MIN) return false;
  if (avgTimePerFrame) std::memcpy(avgTimePerFrame, type.pbFormat + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), 8);
  return true;
}

LONG Abs(LONG v) { return v < 0 ? -v : v; }

}  // namespace

ModuleRefCount& DeinterlacerModule() {
  static ModuleRefCount module;
  return module;
}

const CFactoryTemplate g_Templates[] = {
    {kFilterName, &CLSID_Deinterlacer, &CDeinterlaceFilter::CreateInstance, nullptr, &kFilterSetup},
};
const int g_cTemplates = 1;

CUnknown* CDeinterlaceFilter::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CDeinterlaceFilter(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

CDeinterlaceFilter::CDeinterlaceFilter(IUnknown* outer)
    : CVideoTransformFilter("Brightfold Deinterlacer", outer, CLSID_Deinterlacer),
      moduleObject_(DeinterlacerModule()),
      settings_(*this) {}

CDeinterlaceFilter::~CDeinterlaceFilter() = default;

HRESULT CDeinterlaceFilter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  std::lock_guard lock(filterLock_);
  if (iid == IID_IDeinterlaceSettings) return GetInterface(&settings_, object);
  return CVideoTransformFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT CDeinterlaceFilter::CSettings::GetPhases(int32_t* rowPhase, int32_t* pixelPhase) {
  if (!rowPhase || !pixelPhase) return E_POINTER;
  *rowPhase = filter_.rowPhase_.load();
  *pixelPhase = filter_.pixelPhase_.load();
  return S_OK;
}

HRESULT CDeinterlaceFilter::CSettings::SetPhases(int32_t rowPhase, int32_t pixelPhase) {
  filter_.rowPhase_.store(rowPhase);
  filter_.pixelPhase_.store(pixelPhase);
  return S_OK;
}

HRESULT CDeinterlaceFilter::CheckVideoType(const CMediaType* type) {
  if (!type) return E_POINTER;
  if (!(type->majortype == MEDIATYPE_Video)) return E_FAIL;
  if (type->formattype == FORMAT_VideoInfo2) videoInfo2_ = true;
  else if (type->formattype == FORMAT_VideoInfo) videoInfo2_ = false;
  else return E_FAIL;

  int depth = 0;
  if (type->subtype == MEDIASUBTYPE_RGB24) depth = 24;
  else if (type->subtype == MEDIASUBTYPE_RGB32) depth = 32;
  else return E_FAIL;
  if (depth_ == 0) depth_ = depth;
  else if (depth_ != depth) return E_FAIL;

  BITMAPINFOHEADER header;
  if (!ReadHeader(*type, &header, nullptr)) return E_FAIL;
  return header.biBitCount == depth_ ? S_OK : E_FAIL;
}

HRESULT CDeinterlaceFilter::CheckInputType(const CMediaType* type) {
  const HRESULT hr = CheckVideoType(type);
  // A refused input lets the next offer choose the depth afresh.
  if (FAILED(hr)) depth_ = 0;
  return hr;
}

HRESULT CDeinterlaceFilter::CheckOutputType(const CMediaType* type) {
  if (!type) return E_POINTER;
  return CheckVideoType(type);
}

HRESULT CDeinterlaceFilter::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (in) {
    const HRESULT hr = CheckInputType(in);
    if (FAILED(hr)) return hr;
  }
  if (out) {
    const HRESULT hr = CheckOutputType(out);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void CDeinterlaceFilter::FillOutputHeader(BITMAPINFOHEADER& header) const {
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = outWidth_;
  header.biHeight = OutputHeightSigned();
  header.biPlanes = planes_;
  header.biBitCount = static_cast<WORD>(depth_);
  header.biCompression = compression_;
  header.biSizeImage = OutputImageSize();
  header.biXPelsPerMeter = xPelsPerMeter_;
  header.biYPelsPerMeter = yPelsPerMeter_;
  header.biClrUsed = clrUsed_;
  header.biClrImportant = clrImportant_;
}

HRESULT CDeinterlaceFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* type) {
  if (!type) return E_POINTER;
  HRESULT hr = CVideoTransformFilter::SetMediaType(direction, type);
  if (FAILED(hr)) return hr;

  if (direction == PINDIR_INPUT) {
    if (!(type->formattype == FORMAT_VideoInfo) && !(type->formattype == FORMAT_VideoInfo2)) return S_OK;
    if (!type->pbFormat || type->cbFormat == 0) return S_OK;
    BITMAPINFOHEADER header;
    REFERENCE_TIME avg = 0;
    if (!ReadHeader(*type, &header, &avg)) return E_FAIL;
    width_ = Abs(header.biWidth);
    height_ = Abs(header.biHeight);
    topDown_ = header.biHeight < 0;
    planes_ = header.biPlanes;
    compression_ = header.biCompression;
    xPelsPerMeter_ = header.biXPelsPerMeter;
    yPelsPerMeter_ = header.biYPelsPerMeter;
    clrUsed_ = header.biClrUsed;
    clrImportant_ = header.biClrImportant;
    avgTimePerFrame_ = avg;
    outWidth_ = width_ / 2;
    outHeight_ = height_ / 2;
    inStride_ = RgbStride(width_, depth_);
    outStride_ = RgbStride(outWidth_, depth_);
    return S_OK;
  }

  if (direction == PINDIR_OUTPUT) {
    CMediaType output(*type);
    if (type->formattype == FORMAT_VideoInfo) {
      auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(output.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
      if (!vih) return E_OUTOFMEMORY;
      vih->AvgTimePerFrame = avgTimePerFrame_;
      FillOutputHeader(vih->bmiHeader);
    } else if (type->formattype == FORMAT_VideoInfo2) {
      auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(output.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
      if (!vih2) return E_OUTOFMEMORY;
      vih2->AvgTimePerFrame = avgTimePerFrame_;
      FillOutputHeader(vih2->bmiHeader);
    } else {
      return E_FAIL;
    }
    outputType_ = output;
    return S_OK;
  }
  return E_FAIL;
}

HRESULT CDeinterlaceFilter::GetMediaType(int position, CMediaType* type) {
  if (!InputPin() || !InputPin()->IsConnected()) return E_UNEXPECTED;
  if (!type) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 1) return VFW_S_NO_MORE_ITEMS;

  CMediaType proposal;
  proposal.SetType(MEDIATYPE_Video);
  proposal.SetSubtype(depth_ == 24 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_RGB32);
  proposal.SetFormatType(FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(proposal.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return E_OUTOFMEMORY;
  vih->rcSource = RECT{0, 0, outWidth_, outHeight_};
  vih->rcTarget = RECT{0, 0, outWidth_, outHeight_};
  vih->AvgTimePerFrame = avgTimePerFrame_;
  FillOutputHeader(vih->bmiHeader);
  proposal.SetSampleSize(OutputImageSize());
  proposal.SetTemporalCompression(false);
  *type = proposal;
  return S_OK;
}

HRESULT CDeinterlaceFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  if (!InputPin() || !InputPin()->IsConnected() || !OutputPin() || !OutputPin()->IsConnected()) return E_UNEXPECTED;
  if (!allocator || !request) return E_POINTER;
  // The output image must fit even when the input type states a smaller sample size.
  const ULONG inputSampleSize = InputPin()->CurrentMediaType().lSampleSize;
  const ULONG needed = std::max<ULONG>(inputSampleSize, OutputImageSize());
  if (needed > static_cast<ULONG>(INT32_MAX)) return E_FAIL;
  request->cBuffers = 1;
  request->cbBuffer = static_cast<LONG>(needed);
  if (request->cbAlign <= 0) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cBuffers < request->cBuffers || actual.cbBuffer < request->cbBuffer) return E_FAIL;
  return S_OK;
}

HRESULT CDeinterlaceFilter::CopySampleProperties(IMediaSample* in, IMediaSample* out) {
  if (!in || !out) return E_POINTER;
  out->SetMediaType(&outputType_);

  REFERENCE_TIME start = 0, stop = 0;
  if (in->GetTime(&start, &stop) == S_OK) out->SetTime(&start, &stop);
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (in->GetMediaTime(&mediaStart, &mediaStop) == S_OK) out->SetMediaTime(&mediaStart, &mediaStop);

  struct Flag {
    HRESULT (IMediaSample::*is)();
    HRESULT (IMediaSample::*set)(BOOL);
  };
  const Flag flags[] = {{&IMediaSample::IsSyncPoint, &IMediaSample::SetSyncPoint},
                        {&IMediaSample::IsPreroll, &IMediaSample::SetPreroll},
                        {&IMediaSample::IsDiscontinuity, &IMediaSample::SetDiscontinuity}};
  for (const Flag& f : flags) {
    const HRESULT hr = (in->*f.is)();
    if (hr == S_OK) (out->*f.set)(1);
    else if (hr == S_FALSE) (out->*f.set)(0);
    else return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT CDeinterlaceFilter::Transform(IMediaSample* in, IMediaSample* out) {
  HRESULT hr = CopySampleProperties(in, out);
  if (FAILED(hr)) return hr;
  if (depth_ != 24 && depth_ != 32) return E_UNEXPECTED;

  const int32_t rowPhase = rowPhase_.load();
  const int32_t pixelPhase = pixelPhase_.load();

  BYTE* src = nullptr;
  BYTE* dst = nullptr;
  if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst)) || !src || !dst) return E_POINTER;
  // A short buffer on either side fails the sample rather than reading or writing past it.
  const int64_t inBytes = int64_t{inStride_} * height_;
  const int64_t outBytes = int64_t{outStride_} * outHeight_;
  if (in->GetActualDataLength() < inBytes || out->GetSize() < outBytes) return E_FAIL;

  FieldLayout layout;
  layout.width = width_;
  layout.height = height_;
  layout.outWidth = outWidth_;
  layout.outHeight = outHeight_;
  layout.inStride = inStride_;
  layout.outStride = outStride_;
  layout.bytesPerPixel = depth_ / 8;
  TransformField(src, dst, layout, rowPhase, pixelPhase);
  return out->SetActualDataLength(static_cast<LONG>(outBytes));
}

}  // namespace kestrom::deinterlacer
