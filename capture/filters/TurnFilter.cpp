// The transform of the companion module: turns RGB video by quarter turns (mirrored or not), or
// keeps one field at half width and half height. One instance does one of the two.
#include "capture/filters/ModuleFilters.h"
#include "capture/filters/PictureProcessing.h"
#include "deinterlacer/FieldTransform.h"
#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/TransformFilter.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace kestrom::filters {

using namespace dshow;
using com::E_FAIL;
using com::E_OUTOFMEMORY;
using com::E_POINTER;
using com::FAILED;
using com::S_OK;

class CTurnFilter final : public CTransformFilter {
 public:
  explicit CTurnFilter(IUnknown* outer)
      : CTransformFilter("TrnfFltr", outer, CLSID_TfcTransform), module_(TfcatchModule()), settings_(*this) {}

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_ITransformSettings) return com::GetInterface(&settings_, object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT CheckInputType(const CMediaType* type) override {
    if (!type) return E_POINTER;
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
    if (!(type->majortype == MEDIATYPE_Video) || !h) return E_FAIL;
    if (!(type->subtype == MEDIASUBTYPE_RGB24 && h->biBitCount == 24) &&
        !(type->subtype == MEDIASUBTYPE_RGB32 && h->biBitCount == 32))
      return E_FAIL;
    return h->biWidth > 0 && h->biHeight != 0 && h->biHeight != INT32_MIN ? S_OK : E_FAIL;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!in || !out) return E_POINTER;
    CMediaType wanted;
    if (FAILED(OutputTypeFor(*in, wanted))) return E_FAIL;
    const BITMAPINFOHEADER* a = GetBitmapInfoHeader(wanted);
    const BITMAPINFOHEADER* b = GetBitmapInfoHeader(*out);
    return b && out->subtype == wanted.subtype && a->biWidth == b->biWidth && std::abs(a->biHeight) == std::abs(b->biHeight)
               ? S_OK
               : E_FAIL;
  }

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (!type) return E_POINTER;
    if (!InputPin()->IsConnected()) return com::E_UNEXPECTED;
    if (position < 0) return com::E_INVALIDARG;
    if (position > 0) return com::VFW_S_NO_MORE_ITEMS;
    return OutputTypeFor(InputPin()->CurrentMediaType(), *type);
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    if (!allocator || !request) return E_POINTER;
    CMediaType out;
    if (FAILED(GetMediaType(0, &out))) return E_FAIL;
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = static_cast<LONG>(out.lSampleSize);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    const BITMAPINFOHEADER* ih = GetBitmapInfoHeader(InputPin()->CurrentMediaType());
    const BITMAPINFOHEADER* oh = GetBitmapInfoHeader(OutputPin()->CurrentMediaType());
    BYTE *src = nullptr, *dst = nullptr;
    if (!ih || !oh || FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst))) return E_FAIL;
    TTransformSettings s;
    {
      std::lock_guard lock(settingsLock_);
      s = settings_.values;
    }
    const int bpp = ih->biBitCount / 8;
    const int w = ih->biWidth, h = std::abs(ih->biHeight);
    const LONG inStride = RgbStride(w, ih->biBitCount);
    const int ow = oh->biWidth, oh_ = std::abs(oh->biHeight);
    const LONG outStride = RgbStride(ow, oh->biBitCount);
    if (static_cast<int64_t>(inStride) * h > in->GetActualDataLength() ||
        static_cast<int64_t>(outStride) * oh_ > out->GetSize())
      return E_FAIL;
    if (s.halfSize) {
      deinterlacer::FieldLayout layout{w, h, ow, oh_, inStride, outStride, bpp};
      deinterlacer::TransformField(src, dst, layout, 0, 0);
    } else {
      // Both pictures as shown, top row first; the output keeps the input's row order.
      const bool bottomUp = ih->biHeight > 0;
      const PictureView inView{bottomUp ? src + static_cast<intptr_t>(h - 1) * inStride : src, w, h,
                               bottomUp ? -inStride : inStride, bpp};
      const PictureView outView{bottomUp ? dst + static_cast<intptr_t>(oh_ - 1) * outStride : dst, ow, oh_,
                                bottomUp ? -outStride : outStride, bpp};
      RotatePicture(inView, outView, s.rotation);
    }
    ClearRowPadding(dst, oh_, outStride, ow * bpp);
    out->SetActualDataLength(outStride * oh_);
    return S_OK;
  }

 private:
  struct Settings final : ITransformSettings {
    explicit Settings(CTurnFilter& f) : f_(f) {}
    HRESULT QueryInterface(REFIID iid, void** object) override { return f_.GetOwner()->QueryInterface(iid, object); }
    com::ULONG AddRef() override { return f_.GetOwner()->AddRef(); }
    com::ULONG Release() override { return f_.GetOwner()->Release(); }
    HRESULT SetSettings(const TTransformSettings* settings) override {
      if (!settings) return E_POINTER;
      if (settings->rotation < 0 || settings->rotation > 7) return com::E_INVALIDARG;
      std::lock_guard lock(f_.settingsLock_);
      values = *settings;
      // The picture turns on its side exactly when the rotation says so.
      values.swapWidthHeight = RotationSwapsSides(values.rotation) ? 1 : 0;
      return S_OK;
    }
    CTurnFilter& f_;
    TTransformSettings values;
  };

  HRESULT OutputTypeFor(const AM_MEDIA_TYPE& in, CMediaType& out) {
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(in);
    if (!h) return E_FAIL;
    TTransformSettings s;
    {
      std::lock_guard lock(settingsLock_);
      s = settings_.values;
    }
    LONG w = h->biWidth, height = std::abs(h->biHeight);
    if (s.halfSize) {
      w /= 2;
      height /= 2;
    } else if (s.swapWidthHeight) {
      std::swap(w, height);
    }
    if (w <= 0 || height <= 0) return E_FAIL;
    REFERENCE_TIME avg = 0;
    if (in.cbFormat >= 48) std::memcpy(&avg, in.pbFormat + 40, sizeof avg);
    out = MakeRgbVideoType(h->biBitCount, w, h->biHeight < 0 ? -height : height, avg);
    return out.pbFormat ? S_OK : E_OUTOFMEMORY;
  }

  com::ModuleObject module_;
  std::mutex settingsLock_;
  Settings settings_;
};

com::CUnknown* NewTransform(IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CTurnFilter(outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

}  // namespace kestrom::filters
