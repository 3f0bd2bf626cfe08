#include "tests/platform/dshow/support/TestFilters.h"

#include "platform/com/ClassFactory.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterMapper.h"

#include <cstring>
#include <gtest/gtest.h>

namespace kestrom::dshow::test {

using namespace com;

// ---- source ----

class CTestSource::Pin final : public CBaseOutputPin {
 public:
  Pin(CTestSource* filter, std::recursive_mutex* lock, const CMediaType& offered)
      : CBaseOutputPin("test source pin", filter, lock, nullptr, u"Out"), offered_(offered) {}

  HRESULT CheckMediaType(const CMediaType* type) override { return *type == offered_ ? S_OK : S_FALSE; }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = offered_;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 2;
    request->cbBuffer = static_cast<LONG>(offered_.lSampleSize);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }

 private:
  CMediaType offered_;
};

CTestSource::CTestSource(const CMediaType& offered)
    : CBaseFilter("test source", nullptr, &lock_, GUID_NULL), pin_(std::make_unique<Pin>(this, &lock_, offered)) {}

CTestSource::~CTestSource() = default;

CBasePin* CTestSource::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }

IPin* CTestSource::Output() { return pin_.get(); }

HRESULT CTestSource::DeliverFrame(const std::vector<uint8_t>& bytes, REFERENCE_TIME start, REFERENCE_TIME stop) {
  IMediaSample* sample = nullptr;
  HRESULT hr = pin_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  if (static_cast<size_t>(sample->GetSize()) < bytes.size()) {
    sample->Release();
    return E_FAIL;
  }
  std::memcpy(data, bytes.data(), bytes.size());
  sample->SetActualDataLength(static_cast<LONG>(bytes.size()));
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(1);
  hr = pin_->Deliver(sample);
  sample->Release();
  return hr;
}

// ---- renderer ----

class CTestRenderer::Pin final : public CBaseInputPin {
 public:
  Pin(CTestRenderer* filter, std::recursive_mutex* lock, Accept accept)
      : CBaseInputPin("test renderer pin", filter, lock, nullptr, u"In"), renderer_(filter), accept_(std::move(accept)) {}

  HRESULT CheckMediaType(const CMediaType* type) override { return accept_(*type) ? S_OK : S_FALSE; }
  HRESULT Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    renderer_->lastFrame.assign(data, data + sample->GetActualDataLength());
    renderer_->lastType = CurrentMediaType();
    sample->GetTime(&renderer_->lastStart, &renderer_->lastStop);
    ++renderer_->received;
    return S_OK;
  }

 private:
  CTestRenderer* renderer_;
  Accept accept_;
};

CTestRenderer::CTestRenderer(Accept accept)
    : CBaseFilter("test renderer", nullptr, &lock_, GUID_NULL), pin_(std::make_unique<Pin>(this, &lock_, std::move(accept))) {}

CTestRenderer::~CTestRenderer() = default;

CBasePin* CTestRenderer::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }

IPin* CTestRenderer::Input() { return pin_.get(); }

// ---- half scaler ----

CTestHalfScaler::CTestHalfScaler(IUnknown* outer) : CTransformFilter("test half scaler", outer, CLSID_TestHalfScaler) {}

CUnknown* CTestHalfScaler::CreateInstance(IUnknown* outer, HRESULT*) { return new CTestHalfScaler(outer); }

HRESULT CTestHalfScaler::CheckInputType(const CMediaType* type) {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
  return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_RGB24 && h && h->biBitCount == 24 ? S_OK
                                                                                                              : S_FALSE;
}

HRESULT CTestHalfScaler::CheckTransform(const CMediaType* in, const CMediaType* out) {
  const BITMAPINFOHEADER* hi = GetBitmapInfoHeader(*in);
  const BITMAPINFOHEADER* ho = GetBitmapInfoHeader(*out);
  if (!hi || !ho || !(out->subtype == MEDIASUBTYPE_RGB24)) return S_FALSE;
  return ho->biWidth == hi->biWidth / 2 && ho->biHeight == hi->biHeight / 2 ? S_OK : S_FALSE;
}

HRESULT CTestHalfScaler::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  request->cBuffers = 1;
  request->cbBuffer = static_cast<LONG>(OutputPin()->CurrentMediaType().lSampleSize);
  ALLOCATOR_PROPERTIES actual{};
  return allocator->SetProperties(request, &actual);
}

HRESULT CTestHalfScaler::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(InputPin()->CurrentMediaType());
  if (!h) return E_UNEXPECTED;
  *type = MakeRgbVideoType(24, h->biWidth / 2, h->biHeight / 2, 400000);
  return S_OK;
}

HRESULT CTestHalfScaler::Transform(IMediaSample*, IMediaSample* out) {
  return out->SetActualDataLength(static_cast<LONG>(OutputPin()->CurrentMediaType().lSampleSize));
}

// ---- helpers ----

InProcessClass::InProcessClass(REFCLSID clsid, NewComObjectFunction create) {
  auto* factory = new CClassFactory(create, nullptr);
  factory->NonDelegatingAddRef();
  EXPECT_EQ(CoRegisterClassObject(clsid, factory->GetInner(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_), S_OK);
  factory->NonDelegatingRelease();
}

InProcessClass::~InProcessClass() { CoRevokeClassObject(cookie_); }

HRESULT RegisterRgb24Filter(REFCLSID clsid, const char16_t* name, DWORD merit) {
  static const REGPINTYPES types[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
  static const REGFILTERPINS pins[] = {{u"Input", 0, 0, 0, 0, &GUID_NULL, nullptr, 1, types},
                                       {u"Output", 0, 1, 0, 0, &GUID_NULL, nullptr, 1, types}};
  const REGFILTER2 data{1, merit, 2, pins};
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.PutVoid());
  if (FAILED(hr)) return hr;
  return mapper->RegisterFilter(clsid, name, nullptr, &CLSID_LegacyAmFilterCategory, nullptr, &data);
}

std::vector<std::u16string> FilterNames(IFilterGraph* graph) {
  std::vector<std::u16string> names;
  ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(filters.Put()))) return names;
  IBaseFilter* f = nullptr;
  ULONG fetched = 0;
  while (filters->Next(1, &f, &fetched) == S_OK) {
    FILTER_INFO info{};
    f->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    names.emplace_back(info.achName);
    f->Release();
  }
  return names;
}

std::vector<uint8_t> CoordinateFrame(int bitCount, int width, int height) {
  const int bpp = bitCount / 8;
  const LONG stride = RgbStride(width, bitCount);
  const int rows = height < 0 ? -height : height;
  std::vector<uint8_t> frame(static_cast<size_t>(stride) * rows, 0xEE);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = frame.data() + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bpp;
      p[0] = static_cast<uint8_t>(x & 0xFF);
      p[1] = static_cast<uint8_t>(((x >> 8) & 0x0F) | ((y >> 8) << 4));
      p[2] = static_cast<uint8_t>(y & 0xFF);
      if (bpp == 4) p[3] = 0xA5;
    }
  }
  return frame;
}

}  // namespace kestrom::dshow::test
