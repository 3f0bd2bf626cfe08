// The grabber: one filter for every kind the engine inserts. Kinds below 7 pass the samples on
// unchanged (apart from dropping them during a pause and shifting their times); kind 7, the frame
// grabber, delivers RGB in the asked format with the video processing applied.
#include "capture/filters/ModuleFilters.h"
#include "capture/filters/PictureProcessing.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/TransformFilter.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/PictureScaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace kestrom::filters {

using namespace dshow;
using com::E_FAIL;
using com::E_OUTOFMEMORY;
using com::E_POINTER;
using com::FAILED;
using com::S_FALSE;
using com::S_OK;
using com::SUCCEEDED;

namespace {

// The engine's RGB format values.
enum { kDefault, kRGB32, kRGB24, kRGB565, kRGB555, kRGB8 };

struct RgbOut {
  const GUID* subtype;
  int bits;
  AVPixelFormat format;
};

RgbOut OutputFormat(int32_t rgbFormat) {
  switch (rgbFormat) {
    case kRGB32: return {&MEDIASUBTYPE_RGB32, 32, AV_PIX_FMT_BGR0};
    case kRGB565: return {&MEDIASUBTYPE_RGB565, 16, AV_PIX_FMT_RGB565LE};
    case kRGB555: return {&MEDIASUBTYPE_RGB555, 16, AV_PIX_FMT_RGB555LE};
    case kRGB8: return {&MEDIASUBTYPE_RGB8, 8, AV_PIX_FMT_BGR8};
    default: return {&MEDIASUBTYPE_RGB24, 24, AV_PIX_FMT_BGR24};
  }
}

/** @brief The pixel format of an input the frame grabber takes, AV_PIX_FMT_NONE for any other. */
AVPixelFormat InputFormat(const AM_MEDIA_TYPE& type) {
  if (type.subtype == MEDIASUBTYPE_RGB24) return AV_PIX_FMT_BGR24;
  if (type.subtype == MEDIASUBTYPE_RGB32) return AV_PIX_FMT_BGR0;
  if (type.subtype == MEDIASUBTYPE_RGB565) return AV_PIX_FMT_RGB565LE;
  if (type.subtype == MEDIASUBTYPE_RGB555) return AV_PIX_FMT_RGB555LE;
  if (type.subtype == MEDIASUBTYPE_YUY2) return AV_PIX_FMT_YUYV422;
  return AV_PIX_FMT_NONE;
}

bool IsRgb(AVPixelFormat f) {
  return f == AV_PIX_FMT_BGR24 || f == AV_PIX_FMT_BGR0 || f == AV_PIX_FMT_RGB565LE || f == AV_PIX_FMT_RGB555LE;
}

int BitsOf(AVPixelFormat f) {
  switch (f) {
    case AV_PIX_FMT_BGR24: return 24;
    case AV_PIX_FMT_BGR0: return 32;
    case AV_PIX_FMT_BGR8: return 8;
    default: return 16;
  }
}

/** @brief The output type of the frame grabber: a bottom-up bitmap of the asked format. */
CMediaType MakeOutputType(const RgbOut& out, LONG width, LONG height, REFERENCE_TIME avg) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(*out.subtype);
  mt.SetFormatType(FORMAT_VideoInfo);
  // 565 carries its three colour masks, 8 bits its palette, after the header.
  const ULONG extra = out.bits == 8 ? 256 * 4 : (out.subtype == &MEDIASUBTYPE_RGB565 ? 12 : 0);
  auto* block = mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER) + extra);
  const ULONG imageSize = static_cast<ULONG>(RgbStride(width, out.bits)) * static_cast<ULONG>(height);
  if (block) {
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(block);
    vih->rcSource = RECT{0, 0, width, height};
    vih->rcTarget = RECT{0, 0, width, height};
    vih->AvgTimePerFrame = avg;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = static_cast<WORD>(out.bits);
    vih->bmiHeader.biCompression = out.subtype == &MEDIASUBTYPE_RGB565 ? BI_BITFIELDS : BI_RGB;
    vih->bmiHeader.biSizeImage = imageSize;
    uint8_t* tail = block + sizeof(VIDEOINFOHEADER);
    if (out.subtype == &MEDIASUBTYPE_RGB565) {
      const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
      std::memcpy(tail, masks, sizeof masks);
    } else if (out.bits == 8) {
      // The 3-3-2 palette of the 8-bit conversion: blue in the top two bits, red in the lowest three.
      vih->bmiHeader.biClrUsed = 256;
      for (int i = 0; i < 256; ++i) {
        tail[i * 4 + 0] = static_cast<uint8_t>(((i >> 6) & 3) * 255 / 3);
        tail[i * 4 + 1] = static_cast<uint8_t>(((i >> 3) & 7) * 255 / 7);
        tail[i * 4 + 2] = static_cast<uint8_t>((i & 7) * 255 / 7);
        tail[i * 4 + 3] = 0;
      }
    }
  }
  mt.SetSampleSize(imageSize);
  mt.SetTemporalCompression(false);
  return mt;
}

}  // namespace

class CGrabberFilter final : public CTransformFilter {
 public:
  CGrabberFilter(bool mayModify, IUnknown* outer)
      : CTransformFilter("tfcatch grabber", outer, mayModify ? CLSID_TfcGrabber : CLSID_TfcGrabberNoModify),
        module_(TfcatchModule()),
        mayModify_(mayModify),
        control_(*this) {}

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IGrabberControl) return com::GetInterface(&control_, object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
  }

  bool IsFrameGrabber() const { return mayModify_ && config_.kind == gk_RGB; }

  HRESULT CheckInputType(const CMediaType* type) override {
    if (!type) return E_POINTER;
    if (!IsFrameGrabber()) return S_OK;
    const BITMAPINFOHEADER* header = GetBitmapInfoHeader(*type);
    if (!(type->majortype == MEDIATYPE_Video) || !header || InputFormat(*type) == AV_PIX_FMT_NONE) return E_FAIL;
    if (header->biWidth <= 0 || header->biHeight == 0 || header->biHeight == INT32_MIN) return E_FAIL;
    return S_OK;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!in || !out) return E_POINTER;
    if (!IsFrameGrabber()) return *in == *out || (in->majortype == out->majortype && in->subtype == out->subtype)
                                      ? S_OK
                                      : E_FAIL;
    const BITMAPINFOHEADER* oh = GetBitmapInfoHeader(*out);
    const BITMAPINFOHEADER* ih = GetBitmapInfoHeader(*in);
    if (!oh || !ih) return E_FAIL;
    const RgbOut wanted = OutputFormat(config_.rgbFormat);
    return out->subtype == *wanted.subtype && oh->biWidth == ih->biWidth && oh->biHeight == std::abs(ih->biHeight)
               ? S_OK
               : E_FAIL;
  }

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (!type) return E_POINTER;
    if (!InputPin()->IsConnected()) return com::E_UNEXPECTED;
    if (position < 0) return com::E_INVALIDARG;
    if (position > 0) return com::VFW_S_NO_MORE_ITEMS;
    const CMediaType& in = InputPin()->CurrentMediaType();
    if (!IsFrameGrabber()) {
      *type = in;
      return S_OK;
    }
    const BITMAPINFOHEADER* header = GetBitmapInfoHeader(in);
    if (!header) return E_FAIL;
    REFERENCE_TIME avg = 0;
    if (in.cbFormat >= 48) std::memcpy(&avg, in.pbFormat + 40, sizeof avg);
    *type = MakeOutputType(OutputFormat(config_.rgbFormat), header->biWidth, std::abs(header->biHeight), avg);
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    if (!allocator || !request) return E_POINTER;
    CMediaType out;
    HRESULT hr = GetMediaType(0, &out);
    if (FAILED(hr)) return hr;
    LONG size = static_cast<LONG>(out.lSampleSize);
    if (!IsFrameGrabber()) {
      // Passed-on samples keep their size: take the upstream allocator's buffers.
      ALLOCATOR_PROPERTIES upstream{};
      if (IMemAllocator* a = InputPin()->PeekAllocator(); a && a->GetProperties(&upstream) == S_OK)
        size = std::max(size, upstream.cbBuffer);
    }
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(size, 1);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT StartStreaming() override {
    TakeConfig();
    std::lock_guard lock(stateLock_);
    frames_ = 0;
    pausedNow_ = false;
    shift_ = 0;
    lastStop_ = 0;
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    if (!sample) return E_POINTER;
    TGrabberConfig c;
    {
      std::lock_guard lock(stateLock_);
      c = active_;
    }
    if (!c.enable[kEnableFrames]) return S_OK;
    if (c.kind == gk_Lock || c.kind == gk_LockAndShift || c.kind == gk_Clear) {
      if (!PassWhilePausing(sample, c)) return S_OK;
    }
    return CTransformFilter::Receive(sample);
  }

  HRESULT Transform(IMediaSample* in, IMediaSample* out) override { return Process(in, out); }

  // Samples whose bytes the grabber leaves alone go on as they came, without a copy: those of the
  // kinds that only watch or drop them, and the frame grabber's when the asked format is the
  // input's and no processing is set. Kind 0 copies: its callbacks hand the bytes to the
  // application. On a sample a tee shares, what would change it (new times after a pause, the
  // resume mark, the frame callback's drawing) goes to a copy.
  bool CanPassThrough() const override { return config_.kind != gk_Sample; }

  bool PassesThrough(IMediaSample* in) override {
    AM_MEDIA_TYPE* attached = nullptr;
    if (in->GetMediaType(&attached) == S_OK) {
      DeleteMediaType(attached);
      return false;  // a type change is left to the copying path, as before
    }
    std::lock_guard lock(stateLock_);
    const bool shared = InputIsReadOnly();
    switch (active_.kind) {
      case gk_Notify:
      case gk_Lock:
      case gk_DvData:
        return true;
      case gk_LockAndShift:
        return !shared || shift_ == 0;
      case gk_Clear:
        return !shared || !keyFrameWanted_;
      case gk_RGB:
        return !shared && IsFrameGrabber() && FrameGoesOnAsItIs(active_);
      default:
        return false;
    }
  }

  HRESULT TransformInPlace(IMediaSample* sample) override { return Process(sample, nullptr); }

 private:
  /** @brief The work on one sample: into out, or on the sample itself when out is null. */
  HRESULT Process(IMediaSample* in, IMediaSample* out) {
    TGrabberConfig c;
    REFERENCE_TIME shift = 0;
    bool keyFrame = false;
    int64_t frame = 0;
    {
      std::lock_guard lock(stateLock_);
      c = active_;
      shift = shift_;
      keyFrame = std::exchange(keyFrameWanted_, false);
      frame = frames_++;
    }
    IMediaSample* const target = out ? out : in;
    HRESULT hr = S_OK;
    if (out) hr = IsFrameGrabber() ? ConvertFrame(in, out, c, frame) : CopySample(in, out);
    else if (IsFrameGrabber()) hr = OfferFrame(in, c, frame);
    if (hr != S_OK) return hr;
    if (shift != 0) {
      REFERENCE_TIME start = 0, stop = 0;
      if (in->GetTime(&start, &stop) == S_OK) {
        start -= shift;
        stop -= shift;
        target->SetTime(&start, &stop);
      }
    }
    if (keyFrame) {
      target->SetDiscontinuity(1);
      RequestKeyFrame(frame);
    }
    if (c.enable[kEnableCallbacks]) Report(in, c);
    return S_OK;
  }

  /** @brief The asked picture is the input's: same format, bottom-up, no row padding, no processing. */
  bool FrameGoesOnAsItIs(const TGrabberConfig& c) {
    const CMediaType& inType = InputPin()->CurrentMediaType();
    const BITMAPINFOHEADER* ih = GetBitmapInfoHeader(inType);
    const RgbOut wanted = OutputFormat(c.rgbFormat);
    if (!ih || InputFormat(inType) != wanted.format || ih->biHeight <= 0) return false;
    if (c.enable[kEnableFrameGrabber] && (!colourIdentity_ || c.flipHorizontal || c.flipVertical)) return false;
    return RgbStride(ih->biWidth, wanted.bits) == static_cast<LONG>(ih->biWidth) * wanted.bits / 8;
  }

  /** @brief The frame callback on a frame that passes as it is. */
  HRESULT OfferFrame(IMediaSample* sample, const TGrabberConfig& c, int64_t frame) {
    const BITMAPINFOHEADER* oh = GetBitmapInfoHeader(OutputPin()->CurrentMediaType());
    BYTE* bits = nullptr;
    if (!oh || FAILED(sample->GetPointer(&bits))) return E_FAIL;
    const LONG length = RgbStride(oh->biWidth, oh->biBitCount) * std::abs(oh->biHeight);
    if (length > sample->GetActualDataLength()) return E_FAIL;
    if (c.enable[kEnableFrameGrabber] && c.frame && frame % std::max(1, c.frameDivider) == 0)
      c.frame(c.owner, sample, oh, bits, length);
    return S_OK;
  }

  class Control final : public IGrabberControl {
   public:
    explicit Control(CGrabberFilter& f) : f_(f) {}
    HRESULT QueryInterface(REFIID iid, void** object) override { return f_.GetOwner()->QueryInterface(iid, object); }
    com::ULONG AddRef() override { return f_.GetOwner()->AddRef(); }
    com::ULONG Release() override { return f_.GetOwner()->Release(); }
    HRESULT GetConfig(int32_t kind, TGrabberConfig** record) override {
      if (!record) return E_POINTER;
      if (kind < gk_Sample || kind > gk_RGB) return com::E_INVALIDARG;
      f_.config_.kind = kind;
      *record = &f_.config_;
      return S_OK;
    }
    HRESULT ApplyConfig() override {
      f_.TakeConfig();
      return S_OK;
    }
    HRESULT SetPaused(BOOL paused) override {
      std::lock_guard lock(f_.stateLock_);
      f_.pauseRequested_ = paused != 0;
      return S_OK;
    }

   private:
    CGrabberFilter& f_;
  };

  void TakeConfig() {
    std::lock_guard lock(stateLock_);
    active_ = config_;
    colour_ = ColourMatrix(ColourSettings{config_.brightness, config_.contrast, config_.saturation, config_.hue,
                                          config_.grayScale != 0, config_.invert != 0});
    colourIdentity_ = ColourSettings{config_.brightness, config_.contrast, config_.saturation, config_.hue,
                                     config_.grayScale != 0, config_.invert != 0}
                          .IsIdentity();
  }

  /** @brief Pause handling of kinds 2, 3 and 5: false when the sample is dropped. */
  bool PassWhilePausing(IMediaSample* sample, const TGrabberConfig& c) {
    std::lock_guard lock(stateLock_);
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = sample->GetTime(&start, &stop) == S_OK;
    if (pauseRequested_) {
      pausedNow_ = true;
      return false;
    }
    if (pausedNow_) {
      pausedNow_ = false;
      // The time spent paused comes off every later sample, so the file shows no gap.
      if (c.kind == gk_LockAndShift && timed && start - shift_ > lastStop_) shift_ = start - lastStop_;
      if (c.kind == gk_Clear) keyFrameWanted_ = true;
    }
    if (timed) lastStop_ = stop - shift_;
    return true;
  }

  HRESULT CopySample(IMediaSample* in, IMediaSample* out) {
    BYTE *src = nullptr, *dst = nullptr;
    if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst))) return E_FAIL;
    const LONG length = in->GetActualDataLength();
    if (length < 0 || length > out->GetSize()) return E_FAIL;
    std::memcpy(dst, src, static_cast<size_t>(length));
    out->SetActualDataLength(length);
    return S_OK;
  }

  HRESULT ConvertFrame(IMediaSample* in, IMediaSample* out, const TGrabberConfig& c, int64_t frame) {
    const CMediaType& inType = InputPin()->CurrentMediaType();
    const CMediaType& outType = OutputPin()->CurrentMediaType();
    const BITMAPINFOHEADER* ih = GetBitmapInfoHeader(inType);
    const BITMAPINFOHEADER* oh = GetBitmapInfoHeader(outType);
    BYTE *src = nullptr, *dst = nullptr;
    if (!ih || !oh || FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst))) return E_FAIL;
    const int width = ih->biWidth, height = std::abs(ih->biHeight);
    const AVPixelFormat inFormat = InputFormat(inType);
    const RgbOut wanted = OutputFormat(c.rgbFormat);
    const LONG inStride = RgbStride(width, BitsOf(inFormat));
    const LONG outStride = RgbStride(width, wanted.bits);
    if (static_cast<int64_t>(inStride) * height > in->GetActualDataLength() ||
        static_cast<int64_t>(outStride) * height > out->GetSize())
      return E_FAIL;
    // Rows as shown, top first: RGB bitmaps with a positive height are stored bottom-up.
    const bool inBottomUp = IsRgb(inFormat) && ih->biHeight > 0;
    const uint8_t* inTop = inBottomUp ? src + static_cast<intptr_t>(height - 1) * inStride : src;
    const int inStep = inBottomUp ? -inStride : inStride;
    uint8_t* outTop = dst + static_cast<intptr_t>(height - 1) * outStride;

    const bool process = c.enable[kEnableFrameGrabber] && (!colourIdentity_ || c.flipHorizontal || c.flipVertical);
    const bool rgbOut = wanted.bits >= 24;
    // Pictures of fewer bits are processed in a 24-bit picture first.
    uint8_t* workTop = outTop;
    int workStep = -outStride, workBpp = wanted.bits / 8;
    AVPixelFormat workFormat = wanted.format;
    if (!rgbOut && process) {
      const LONG ws = RgbStride(width, 24);
      work_.resize(static_cast<size_t>(ws) * height);
      workTop = work_.data();
      workStep = ws;
      workBpp = 3;
      workFormat = AV_PIX_FMT_BGR24;
    }
    if (!Convert(inTop, inStep, inFormat, workTop, workStep, workFormat, width, height, scaler_)) return E_FAIL;
    if (process) {
      const PictureView view{workTop, width, height, workStep, workBpp};
      if (!colourIdentity_) colour_.Apply(view);
      FlipPicture(view, c.flipHorizontal != 0, c.flipVertical != 0);
      if (workTop != outTop &&
          !Convert(workTop, workStep, workFormat, outTop, -outStride, wanted.format, width, height, scaler2_))
        return E_FAIL;
    }
    ClearRowPadding(dst, height, outStride, width * wanted.bits / 8);
    out->SetActualDataLength(outStride * height);
    if (c.enable[kEnableFrameGrabber] && c.frame && frame % std::max(1, c.frameDivider) == 0)
      c.frame(c.owner, out, oh, dst, outStride * height);
    return S_OK;
  }

  static bool Convert(const uint8_t* srcTop, int srcStep, AVPixelFormat srcFormat, uint8_t* dstTop, int dstStep,
                      AVPixelFormat dstFormat, int width, int height, media::PictureScaler& scaler) {
    if (srcFormat == dstFormat) {
      const size_t rowBytes = static_cast<size_t>(width) * BitsOf(srcFormat) / 8;
      for (int y = 0; y < height; ++y)
        std::memcpy(dstTop + static_cast<intptr_t>(y) * dstStep, srcTop + static_cast<intptr_t>(y) * srcStep, rowBytes);
      return true;
    }
    if (!scaler.Prepare(width, height, srcFormat, width, height, dstFormat, SWS_POINT)) return false;
    const uint8_t* srcPlanes[4] = {srcTop, nullptr, nullptr, nullptr};
    const int srcStrides[4] = {srcStep, 0, 0, 0};
    uint8_t* dstPlanes[4] = {dstTop, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {dstStep, 0, 0, 0};
    return scaler.Scale(srcPlanes, srcStrides, dstPlanes, dstStrides);
  }

  void Report(IMediaSample* in, const TGrabberConfig& c) {
    const CMediaType& type = InputPin()->CurrentMediaType();
    switch (c.kind) {
      case gk_Sample:
        if (c.sample) c.sample(c.owner, type.majortype == MEDIATYPE_Video, in, &type, 0, 0, 0, 0);
        break;
      case gk_Notify:
        if (c.frameTime) {
          REFERENCE_TIME start = 0, stop = 0;
          in->GetTime(&start, &stop);
          c.frameTime(c.owner, 0, in, start, 0, 0);
        }
        break;
      case gk_DvData:
        if (c.dvDate) {
          BYTE* data = nullptr;
          int32_t values[6] = {};
          if (SUCCEEDED(in->GetPointer(&data)) && ReadDVRecordingDate(data, in->GetActualDataLength(), values))
            c.dvDate(c.owner, values);
        }
        break;
      default:
        break;
    }
  }

  /** @brief Asks the compressor that takes our output for a key frame. */
  void RequestKeyFrame(int64_t frame) {
    IPin* next = OutputPin()->GetConnected();
    PIN_INFO info{};
    if (!next || FAILED(next->QueryPinInfo(&info)) || !info.pFilter) return;
    com::ComPtr<IBaseFilter> filter = com::ComPtr<IBaseFilter>::Attach(info.pFilter);
    com::ComPtr<IAMVideoCompression> compression;
    if (SUCCEEDED(filter->QueryInterface(IID_IAMVideoCompression, compression.PutVoid())) && compression)
      compression->OverrideKeyFrame(static_cast<LONG>(frame));
  }

  com::ModuleObject module_;
  const bool mayModify_;
  Control control_;
  TGrabberConfig config_;  // the engine's copy, written before the grabber connects or runs
  std::mutex stateLock_;   // what the streaming thread reads, against the engine's calls
  TGrabberConfig active_;
  ColourMatrix colour_{ColourSettings{}};
  bool colourIdentity_ = true;
  bool pauseRequested_ = false, pausedNow_ = false, keyFrameWanted_ = false;
  REFERENCE_TIME shift_ = 0, lastStop_ = 0;
  int64_t frames_ = 0;
  std::vector<uint8_t> work_;
  media::PictureScaler scaler_, scaler2_;
};

com::CUnknown* NewGrabber(bool mayModify, IUnknown* outer, HRESULT* hr) {
  auto* filter = new (std::nothrow) CGrabberFilter(mayModify, outer);
  if (!filter && hr) *hr = E_OUTOFMEMORY;
  return filter;
}

// A DV frame is made of DIF blocks of 80 bytes; the blocks of section type 2 (video auxiliary
// data) carry 15 packs of 5 bytes after their 3-byte id. Pack 0x62 holds the recording date,
// pack 0x63 the recording time, both in binary-coded decimal.
bool ReadDVRecordingDate(const uint8_t* frame, long length, int32_t values[6]) {
  if (!frame || length < 80) return false;
  const uint8_t* date = nullptr;
  const uint8_t* time = nullptr;
  for (long at = 0; at + 80 <= length && !(date && time); at += 80) {
    const uint8_t* block = frame + at;
    if ((block[0] >> 5) != 2) continue;
    for (int p = 0; p < 15; ++p) {
      const uint8_t* pack = block + 3 + p * 5;
      if (pack[0] == 0x62 && !date) date = pack;
      if (pack[0] == 0x63 && !time) time = pack;
    }
  }
  if (!date) return false;
  auto bcd = [](uint8_t v, int tensMask) { return ((v >> 4) & tensMask) * 10 + (v & 0x0F); };
  int year = bcd(date[4], 0x0F);
  year += year < 70 ? 2000 : 1900;
  values[0] = year;
  values[1] = bcd(date[3], 0x01);
  values[2] = bcd(date[2], 0x03);
  values[3] = time ? bcd(time[4], 0x03) : 0;
  values[4] = time ? bcd(time[3], 0x07) : 0;
  values[5] = time ? bcd(time[2], 0x07) : 0;
  return true;
}

}  // namespace kestrom::filters
