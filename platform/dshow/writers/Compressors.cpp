#include "platform/dshow/writers/Compressors.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace kestrom::dshow {

using namespace com;

namespace {

struct VideoCodecSpec {
  const CLSID* clsid;
  const char* name;
  AVCodecID codec;
  uint32_t fourcc;
  bool keyFramesOnly;
};

struct AudioCodecSpec {
  const CLSID* clsid;
  const char* name;
  AVCodecID codec;
  WORD tag;
};

// Names as the capture program looks for them.
const VideoCodecSpec kVideoCodecs[] = {
    {&CLSID_Mpeg4V2Compressor, "Microsoft MPEG-4 Video Codec V2", AV_CODEC_ID_MSMPEG4V2, MakeFourcc('M', 'P', '4', '2'), false},
    {&CLSID_MjpegCompressor, "MJPEG Compressor", AV_CODEC_ID_MJPEG, MakeFourcc('M', 'J', 'P', 'G'), true},
    {&CLSID_DvCompressor, "DV Video Encoder", AV_CODEC_ID_DVVIDEO, MakeFourcc('d', 'v', 's', 'd'), true},
    {&CLSID_Wmv2Compressor, "WMV2 Video Encoder", AV_CODEC_ID_WMV2, MakeFourcc('W', 'M', 'V', '2'), false},
};

const AudioCodecSpec kAudioCodecs[] = {
    {&CLSID_AdpcmCompressor, "Microsoft ADPCM", AV_CODEC_ID_ADPCM_MS, WAVE_FORMAT_ADPCM},
    {&CLSID_Wmav2Compressor, "Windows Media Audio V2", AV_CODEC_ID_WMAV2, WAVE_FORMAT_WMAUDIO2},
    {&CLSID_PcmCompressor, "PCM", AV_CODEC_ID_PCM_S16LE, WAVE_FORMAT_PCM},
};

constexpr REFERENCE_TIME kDefaultFrameTime = 400000;  // 25 frames per second
constexpr double kDefaultQuality = 0.85;
constexpr LONG kDefaultKeyFrameRate = 25;

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// Common COM plumbing of both compressors: IAMStreamConfig over the output type.
class CCompressorBase : public CTransformFilter, public IAMStreamConfig {
 public:
  CCompressorBase(const char* name, IUnknown* outer, REFCLSID clsid) : CTransformFilter(name, outer, clsid) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
  }

  // IAMStreamConfig
  HRESULT GetFormat(AM_MEDIA_TYPE** type) override {
    if (!type) return E_POINTER;
    std::lock_guard lock(filterLock_);
    CMediaType mt;
    if (OutputPin()->IsConnected()) {
      mt = OutputPin()->CurrentMediaType();
    } else {
      // Before the output connects: the type it would offer, once the input is known.
      const HRESULT hr = InputPin()->IsConnected() ? GetMediaType(0, &mt) : VFW_E_NOT_CONNECTED;
      if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_NOT_CONNECTED;
    }
    *type = CreateMediaType(&mt);
    return *type ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetNumberOfCapabilities(int* count, int* size) override {
    if (!count || !size) return E_POINTER;
    *count = 1;
    *size = 0;
    return S_OK;
  }
  HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE*) override {
    if (!type) return E_POINTER;
    if (index != 0) return S_FALSE;
    return GetFormat(type);
  }
};

// ---- video ----

class CVideoCompressor final : public CCompressorBase, public IAMVideoCompression {
 public:
  CVideoCompressor(IUnknown* outer, const VideoCodecSpec& spec)
      : CCompressorBase("video compressor", outer, *spec.clsid), spec_(spec) {}
  ~CVideoCompressor() override { FreeEncoder(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMVideoCompression) return GetInterface(static_cast<IAMVideoCompression*>(this), object);
    return CCompressorBase::NonDelegatingQueryInterface(iid, object);
  }

  // IAMVideoCompression
  HRESULT put_KeyFrameRate(LONG rate) override {
    std::lock_guard lock(filterLock_);
    keyFrameRate_ = rate < 0 ? kDefaultKeyFrameRate : rate;
    return S_OK;
  }
  HRESULT get_KeyFrameRate(LONG* rate) override {
    if (!rate) return E_POINTER;
    *rate = spec_.keyFramesOnly ? 1 : keyFrameRate_;
    return S_OK;
  }
  HRESULT put_PFramesPerKeyFrame(LONG) override { return E_NOTIMPL; }
  HRESULT get_PFramesPerKeyFrame(LONG*) override { return E_NOTIMPL; }
  HRESULT put_Quality(double quality) override {
    if (quality > 1.0) return E_INVALIDARG;
    std::lock_guard lock(filterLock_);
    quality_ = quality < 0 ? kDefaultQuality : quality;
    return S_OK;
  }
  HRESULT get_Quality(double* quality) override {
    if (!quality) return E_POINTER;
    *quality = quality_;
    return S_OK;
  }
  HRESULT put_WindowSize(uint64_t) override { return E_NOTIMPL; }
  HRESULT get_WindowSize(uint64_t*) override { return E_NOTIMPL; }
  HRESULT GetInfo(WCHAR* version, int* versionChars, WCHAR* description, int* descriptionChars, LONG* defaultKeyFrameRate,
                  LONG* defaultPFrames, double* defaultQuality, LONG* capabilities) override {
    CopyText(LIBAVCODEC_IDENT, version, versionChars);
    CopyText(spec_.name, description, descriptionChars);
    if (defaultKeyFrameRate) *defaultKeyFrameRate = spec_.keyFramesOnly ? 1 : kDefaultKeyFrameRate;
    if (defaultPFrames) *defaultPFrames = 0;
    if (defaultQuality) *defaultQuality = kDefaultQuality;
    if (capabilities) *capabilities = spec_.codec == AV_CODEC_ID_DVVIDEO ? 0 : CompressionCaps_CanQuality | CompressionCaps_CanCrunch | (spec_.keyFramesOnly ? 0 : CompressionCaps_CanKeyFrame);
    return S_OK;
  }
  HRESULT OverrideKeyFrame(LONG) override { return E_NOTIMPL; }
  HRESULT OverrideFrameSize(LONG, LONG) override { return E_NOTIMPL; }

  // IAMStreamConfig: the output format may change only its data rate and frame time.
  HRESULT SetFormat(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    std::lock_guard lock(filterLock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    if (!(type->majortype == MEDIATYPE_Video) || !(type->formattype == FORMAT_VideoInfo) ||
        type->cbFormat < sizeof(VIDEOINFOHEADER))
      return VFW_E_INVALIDMEDIATYPE;
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    if (vih->bmiHeader.biCompression != spec_.fourcc) return VFW_E_INVALIDMEDIATYPE;
    if (InputPin()->IsConnected()) {
      const BITMAPINFOHEADER* in = GetBitmapInfoHeader(InputPin()->CurrentMediaType());
      if (in && (vih->bmiHeader.biWidth != in->biWidth || std::abs(vih->bmiHeader.biHeight) != std::abs(in->biHeight)))
        return VFW_E_INVALIDMEDIATYPE;
    }
    dataRate_ = vih->dwBitRate;
    if (vih->AvgTimePerFrame > 0) frameTime_ = vih->AvgTimePerFrame;
    return S_OK;
  }

  // Transform filter
  HRESULT CheckInputType(const CMediaType* type) override {
    const AVPixelFormat pf = PixelFormatOf(*type);
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
    if (pf == AV_PIX_FMT_NONE || !h || h->biWidth <= 0 || h->biHeight == 0) return VFW_E_TYPE_NOT_ACCEPTED;
    const LONG height = std::abs(h->biHeight);
    if (h->biWidth % 2 || height % 2) return VFW_E_TYPE_NOT_ACCEPTED;
    if (spec_.codec == AV_CODEC_ID_DVVIDEO && !(h->biWidth == 720 && (height == 576 || height == 480)))
      return VFW_E_TYPE_NOT_ACCEPTED;
    if (pf != AV_PIX_FMT_BGR24 && pf != AV_PIX_FMT_BGRA && h->biHeight < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    const BITMAPINFOHEADER* hi = GetBitmapInfoHeader(*in);
    const BITMAPINFOHEADER* ho = GetBitmapInfoHeader(*out);
    if (!hi || !ho || !(out->majortype == MEDIATYPE_Video) || ho->biCompression != spec_.fourcc) return VFW_E_TYPE_NOT_ACCEPTED;
    return ho->biWidth == hi->biWidth && std::abs(ho->biHeight) == std::abs(hi->biHeight) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (!InputPin()->IsConnected()) return E_UNEXPECTED;
    return MakeOutputType(InputPin()->CurrentMediaType(), type);
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(InputPin()->CurrentMediaType());
    if (!h) return E_UNEXPECTED;
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    // A coded frame never needs more than a raw 24-bit frame plus headers.
    request->cbBuffer = std::max<LONG>(request->cbBuffer, h->biWidth * std::abs(h->biHeight) * 3 + 65536);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }  // Receive does the work

  HRESULT StartStreaming() override { return OpenEncoder(); }
  HRESULT StopStreaming() override {
    FreeEncoder();
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    std::lock_guard lock(receiveLock_);
    if (!output_->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (!encoder_) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (length < inputFrameBytes_) return VFW_E_BUFFER_OVERFLOW;

    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timed = sample->GetTime(&start, &stop);
    int64_t pts = nextPts_;
    if (SUCCEEDED(timed)) pts = std::max<int64_t>(nextPts_, std::llround(double(start - firstStart_) / frameTime_));
    nextPts_ = pts + 1;

    HRESULT hr = FillFrame(data);
    if (FAILED(hr)) return hr;
    frame_->pts = pts;
    frame_->pict_type = AV_PICTURE_TYPE_NONE;
    const int sent = avcodec_send_frame(encoder_.get(), frame_.get());
    if (sent < 0) return HResultFromAvError(sent);
    return DeliverPackets();
  }

  HRESULT EndOfStream() override {
    {
      std::lock_guard lock(receiveLock_);
      if (encoder_ && avcodec_send_frame(encoder_.get(), nullptr) >= 0) DeliverPackets();
    }
    return CTransformFilter::EndOfStream();
  }

  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type) override {
    if (direction == PINDIR_INPUT) {
      const REFERENCE_TIME t = AvgTimePerFrame(*type);
      if (t > 0 && frameTimeFromInput_) frameTime_ = t;
    }
    return S_OK;
  }

 private:
  static void CopyText(const char* text, WCHAR* target, int* chars) {
    if (!chars) return;
    const QString s = QString::fromLatin1(text);
    if (!target) {
      *chars = int(s.size()) + 1;
      return;
    }
    const int n = std::min<int>(int(s.size()), *chars - 1);
    for (int i = 0; i < n; ++i) target[i] = s[i].unicode();
    if (*chars > 0) target[std::max(n, 0)] = 0;
  }

  AVPixelFormat EncoderPixelFormat(LONG height) const {
    switch (spec_.codec) {
      case AV_CODEC_ID_MJPEG: return AV_PIX_FMT_YUVJ420P;
      case AV_CODEC_ID_DVVIDEO: return height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
      default: return AV_PIX_FMT_YUV420P;
    }
  }

  // Sets up an encoder context for the input type and the settings (not opened).
  CodecContextPtr NewEncoder(const AM_MEDIA_TYPE& in) const {
    const AVCodec* codec = avcodec_find_encoder(spec_.codec);
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(in);
    if (!codec || !h) return nullptr;
    CodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c) return nullptr;
    c->width = h->biWidth;
    c->height = std::abs(h->biHeight);
    c->pix_fmt = EncoderPixelFormat(c->height);
    // MPEG-4 family time bases must fit 16 bits: 29.97 becomes 1001/30000.
    int num = 0, den = 0;
    av_reduce(&num, &den, frameTime_, 10000000, 65535);
    c->time_base = AVRational{num, den};
    c->framerate = AVRational{den, num};
    c->gop_size = spec_.keyFramesOnly ? 1 : std::max<LONG>(keyFrameRate_, 1);
    c->max_b_frames = 0;
    c->thread_count = 1;
    if (spec_.codec != AV_CODEC_ID_DVVIDEO) {
      if (dataRate_ > 0) {
        c->bit_rate = dataRate_;
        c->rc_max_rate = 0;
      } else {
        c->flags |= AV_CODEC_FLAG_QSCALE;
        const int q = std::clamp(static_cast<int>(std::lround(31.0 - quality_ * 29.0)), 2, 31);
        c->global_quality = FF_QP2LAMBDA * q;
      }
    }
    return c;
  }

  HRESULT MakeOutputType(const AM_MEDIA_TYPE& in, CMediaType* type) {
    CodecContextPtr probe = NewEncoder(in);
    if (!probe) return E_FAIL;
    if (avcodec_open2(probe.get(), probe->codec, nullptr) < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    const size_t extra = size_t(std::max(probe->extradata_size, 0));
    BYTE* format = type->AllocFormatBuffer(ULONG(sizeof(VIDEOINFOHEADER) + extra));
    if (!format) return E_OUTOFMEMORY;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(format);
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(in);
    vih->rcSource = RECT{0, 0, h->biWidth, std::abs(h->biHeight)};
    vih->rcTarget = vih->rcSource;
    vih->AvgTimePerFrame = frameTime_;
    vih->dwBitRate = dataRate_;
    BITMAPINFOHEADER& b = vih->bmiHeader;
    b.biSize = DWORD(sizeof(BITMAPINFOHEADER) + extra);
    b.biWidth = h->biWidth;
    b.biHeight = std::abs(h->biHeight);
    b.biPlanes = 1;
    b.biBitCount = 24;
    b.biCompression = spec_.fourcc;
    b.biSizeImage = spec_.codec == AV_CODEC_ID_DVVIDEO ? (b.biHeight == 576 ? 144000 : 120000) : DWORD(b.biWidth * b.biHeight * 3);
    if (extra) std::memcpy(format + sizeof(VIDEOINFOHEADER), probe->extradata, extra);
    type->SetType(MEDIATYPE_Video);
    type->SetSubtype(FourccSubtype(spec_.fourcc));
    type->SetFormatType(FORMAT_VideoInfo);
    type->SetTemporalCompression(!spec_.keyFramesOnly);
    type->bFixedSizeSamples = spec_.codec == AV_CODEC_ID_DVVIDEO;
    type->lSampleSize = spec_.codec == AV_CODEC_ID_DVVIDEO ? b.biSizeImage : 0;
    return S_OK;
  }

  HRESULT OpenEncoder() {
    FreeEncoder();
    const CMediaType& in = InputPin()->CurrentMediaType();
    encoder_ = NewEncoder(in);
    if (!encoder_) return E_OUTOFMEMORY;
    if (avcodec_open2(encoder_.get(), encoder_->codec, nullptr) < 0) {
      encoder_.reset();
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(in);
    inputFormat_ = PixelFormatOf(in);
    swapChroma_ = in.subtype == MEDIASUBTYPE_YV12;
    width_ = h->biWidth;
    height_ = std::abs(h->biHeight);
    bottomUp_ = (inputFormat_ == AV_PIX_FMT_BGR24 || inputFormat_ == AV_PIX_FMT_BGRA) && h->biHeight > 0;
    inputFrameBytes_ = av_image_get_buffer_size(inputFormat_, width_, height_, 1);
    if (inputFormat_ == AV_PIX_FMT_BGR24 || inputFormat_ == AV_PIX_FMT_BGRA)
      inputFrameBytes_ = RgbStride(width_, inputFormat_ == AV_PIX_FMT_BGR24 ? 24 : 32) * height_;
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_) return E_OUTOFMEMORY;
    frame_->format = encoder_->pix_fmt;
    frame_->width = width_;
    frame_->height = height_;
    if (inputFormat_ != encoder_->pix_fmt) {
      if (av_frame_get_buffer(frame_.get(), 32) < 0) return E_OUTOFMEMORY;
      scaler_ = sws_getContext(width_, height_, inputFormat_, width_, height_, encoder_->pix_fmt, SWS_POINT, nullptr,
                               nullptr, nullptr);
      if (!scaler_) return E_FAIL;
    }
    nextPts_ = 0;
    firstStart_ = 0;
    startKnown_ = false;
    return S_OK;
  }

  void FreeEncoder() {
    encoder_.reset();
    frame_.reset();
    packet_.reset();
    if (scaler_) sws_freeContext(scaler_);
    scaler_ = nullptr;
  }

  HRESULT FillFrame(BYTE* data) {
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    if (av_image_fill_arrays(const_cast<uint8_t**>(planes), strides, data, inputFormat_, width_, height_, 1) < 0) return E_FAIL;
    if (inputFormat_ == AV_PIX_FMT_BGR24 || inputFormat_ == AV_PIX_FMT_BGRA) {
      strides[0] = RgbStride(width_, inputFormat_ == AV_PIX_FMT_BGR24 ? 24 : 32);
      if (bottomUp_) {
        planes[0] = data + size_t(strides[0]) * (height_ - 1);
        strides[0] = -strides[0];
      }
    }
    if (swapChroma_) std::swap(planes[1], planes[2]);
    if (!scaler_) {
      // Same layout as the encoder's: encode straight from the sample's buffer.
      for (int i = 0; i < 4; ++i) {
        frame_->data[i] = const_cast<uint8_t*>(planes[i]);
        frame_->linesize[i] = strides[i];
      }
      return S_OK;
    }
    if (av_frame_make_writable(frame_.get()) < 0) return E_OUTOFMEMORY;
    sws_scale(scaler_, planes, strides, 0, height_, frame_->data, frame_->linesize);
    return S_OK;
  }

  HRESULT DeliverPackets() {
    for (;;) {
      const int got = avcodec_receive_packet(encoder_.get(), packet_.get());
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return S_OK;
      if (got < 0) return HResultFromAvError(got);
      IMediaSample* out = nullptr;
      HRESULT hr = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
      if (FAILED(hr)) {
        av_packet_unref(packet_.get());
        return hr;
      }
      BYTE* target = nullptr;
      out->GetPointer(&target);
      if (packet_->size > out->GetSize()) {
        out->Release();
        av_packet_unref(packet_.get());
        return VFW_E_BUFFER_OVERFLOW;
      }
      std::memcpy(target, packet_->data, size_t(packet_->size));
      out->SetActualDataLength(packet_->size);
      REFERENCE_TIME start = firstStart_ + packet_->pts * frameTime_;
      REFERENCE_TIME stop = start + frameTime_;
      out->SetTime(&start, &stop);
      out->SetSyncPoint((packet_->flags & AV_PKT_FLAG_KEY) != 0);
      av_packet_unref(packet_.get());
      hr = output_->Deliver(out);
      out->Release();
      if (hr != S_OK) return hr;
    }
  }

  const VideoCodecSpec& spec_;
  double quality_ = kDefaultQuality;
  LONG keyFrameRate_ = kDefaultKeyFrameRate;
  DWORD dataRate_ = 0;
  REFERENCE_TIME frameTime_ = kDefaultFrameTime;
  bool frameTimeFromInput_ = true;

  CodecContextPtr encoder_;
  FramePtr frame_;
  PacketPtr packet_;
  SwsContext* scaler_ = nullptr;
  AVPixelFormat inputFormat_ = AV_PIX_FMT_NONE;
  bool swapChroma_ = false, bottomUp_ = false, startKnown_ = false;
  int width_ = 0, height_ = 0;
  LONG inputFrameBytes_ = 0;
  int64_t nextPts_ = 0;
  REFERENCE_TIME firstStart_ = 0;
};

// ---- audio ----

class CAudioCompressor final : public CCompressorBase {
 public:
  CAudioCompressor(IUnknown* outer, const AudioCodecSpec& spec) : CCompressorBase("audio compressor", outer, *spec.clsid), spec_(spec) {}
  ~CAudioCompressor() override { encoder_.reset(); }

  HRESULT SetFormat(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    std::lock_guard lock(filterLock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    const WAVEFORMATEX* wf = WaveFormat(*type);
    if (!wf || wf->wFormatTag != spec_.tag) return VFW_E_INVALIDMEDIATYPE;
    if (spec_.codec == AV_CODEC_ID_WMAV2 && wf->nAvgBytesPerSec > 0) bitRate_ = int64_t(wf->nAvgBytesPerSec) * 8;
    return S_OK;
  }

  HRESULT CheckInputType(const CMediaType* type) override {
    const WAVEFORMATEX* wf = WaveFormat(*type);
    if (!(type->majortype == MEDIATYPE_Audio) || !wf || wf->wFormatTag != WAVE_FORMAT_PCM || wf->wBitsPerSample != 16 ||
        wf->nChannels < 1 || wf->nChannels > 2 || wf->nSamplesPerSec < 4000 || wf->nSamplesPerSec > 96000)
      return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    const WAVEFORMATEX* wi = WaveFormat(*in);
    const WAVEFORMATEX* wo = WaveFormat(*out);
    if (!wi || !wo || wo->wFormatTag != spec_.tag) return VFW_E_TYPE_NOT_ACCEPTED;
    return wo->nChannels == wi->nChannels && wo->nSamplesPerSec == wi->nSamplesPerSec ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    if (!InputPin()->IsConnected()) return E_UNEXPECTED;
    CodecContextPtr probe = NewEncoder(*WaveFormat(InputPin()->CurrentMediaType()));
    if (!probe || avcodec_open2(probe.get(), probe->codec, nullptr) < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    const size_t extra = size_t(std::max(probe->extradata_size, 0));
    BYTE* format = type->AllocFormatBuffer(ULONG(sizeof(WAVEFORMATEX) + extra));
    if (!format) return E_OUTOFMEMORY;
    auto* wf = reinterpret_cast<WAVEFORMATEX*>(format);
    wf->wFormatTag = spec_.tag;
    wf->nChannels = WORD(probe->ch_layout.nb_channels);
    wf->nSamplesPerSec = DWORD(probe->sample_rate);
    if (spec_.codec == AV_CODEC_ID_PCM_S16LE) {
      wf->nBlockAlign = WORD(2 * wf->nChannels);
      wf->wBitsPerSample = 16;
      wf->nAvgBytesPerSec = wf->nSamplesPerSec * wf->nBlockAlign;
    } else {
      wf->nBlockAlign = WORD(probe->block_align);
      wf->wBitsPerSample = WORD(probe->bits_per_coded_sample);
      wf->nAvgBytesPerSec = spec_.codec == AV_CODEC_ID_ADPCM_MS
                                ? DWORD(int64_t(probe->sample_rate) * probe->block_align / std::max(probe->frame_size, 1))
                                : DWORD(probe->bit_rate / 8);
    }
    wf->cbSize = WORD(extra);
    if (extra) std::memcpy(format + sizeof(WAVEFORMATEX), probe->extradata, extra);
    type->SetType(MEDIATYPE_Audio);
    type->SetSubtype(FourccSubtype(spec_.tag));
    type->SetFormatType(FORMAT_WaveFormatEx);
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = wf->nBlockAlign;
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 4);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, 1 << 16);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }

  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }

  HRESULT StartStreaming() override {
    const WAVEFORMATEX* wf = WaveFormat(InputPin()->CurrentMediaType());
    if (!wf) return E_UNEXPECTED;
    encoder_ = NewEncoder(*wf);
    if (!encoder_ || avcodec_open2(encoder_.get(), encoder_->codec, nullptr) < 0) {
      encoder_.reset();
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    channels_ = wf->nChannels;
    rate_ = int(wf->nSamplesPerSec);
    pending_.clear();
    consumed_ = 0;
    startKnown_ = false;
    packet_.reset(av_packet_alloc());
    return packet_ ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT StopStreaming() override {
    encoder_.reset();
    packet_.reset();
    pending_.clear();
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    std::lock_guard lock(receiveLock_);
    if (!output_->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (!encoder_) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (!startKnown_) {
      REFERENCE_TIME start = 0, stop = 0;
      if (SUCCEEDED(sample->GetTime(&start, &stop))) base_ = start;
      startKnown_ = true;
    }
    const auto* samples = reinterpret_cast<const int16_t*>(data);
    pending_.insert(pending_.end(), samples, samples + length / 2);
    return EncodePending(false);
  }

  HRESULT EndOfStream() override {
    {
      std::lock_guard lock(receiveLock_);
      if (encoder_) {
        EncodePending(true);
        if (avcodec_send_frame(encoder_.get(), nullptr) >= 0) DeliverPackets();
      }
    }
    return CTransformFilter::EndOfStream();
  }

 private:
  CodecContextPtr NewEncoder(const WAVEFORMATEX& wf) const {
    const AVCodec* codec = avcodec_find_encoder(spec_.codec);
    if (!codec) return nullptr;
    CodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c) return nullptr;
    c->sample_rate = int(wf.nSamplesPerSec);
    av_channel_layout_default(&c->ch_layout, wf.nChannels);
    c->sample_fmt = spec_.codec == AV_CODEC_ID_WMAV2 ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    c->time_base = AVRational{1, c->sample_rate};
    if (spec_.codec == AV_CODEC_ID_WMAV2) c->bit_rate = bitRate_ > 0 ? bitRate_ : (wf.nSamplesPerSec >= 32000 ? 64000 : 32000);
    if (spec_.codec == AV_CODEC_ID_ADPCM_MS) {
      // Blocks of about 1/20 s per channel, like the usual 22 kHz mono block of 512 bytes.
      const int block = (wf.nSamplesPerSec <= 11025 ? 256 : wf.nSamplesPerSec <= 22050 ? 512 : 1024) * wf.nChannels;
      av_opt_set_int(c.get(), "block_size", block, AV_OPT_SEARCH_CHILDREN);
    }
    return c;
  }

  // Encodes whole frames of the pending samples; at the end the rest is padded with silence.
  HRESULT EncodePending(bool flush) {
    const int frameSize = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
    size_t offset = 0;
    HRESULT hr = S_OK;
    while (SUCCEEDED(hr)) {
      const size_t available = (pending_.size() - offset) / size_t(channels_);
      if (available == 0 || (available < size_t(frameSize) && !flush)) break;
      const int count = int(std::min<size_t>(available, size_t(frameSize)));
      FramePtr frame(av_frame_alloc());
      if (!frame) return E_OUTOFMEMORY;
      frame->format = encoder_->sample_fmt;
      frame->nb_samples = encoder_->frame_size > 0 ? frameSize : count;
      av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout);
      frame->sample_rate = rate_;
      if (av_frame_get_buffer(frame.get(), 0) < 0) return E_OUTOFMEMORY;
      const int16_t* src = pending_.data() + offset;
      if (encoder_->sample_fmt == AV_SAMPLE_FMT_FLTP) {
        for (int ch = 0; ch < channels_; ++ch) {
          auto* dst = reinterpret_cast<float*>(frame->data[ch]);
          for (int i = 0; i < frame->nb_samples; ++i) dst[i] = i < count ? src[i * channels_ + ch] / 32768.0f : 0.0f;
        }
      } else {
        auto* dst = reinterpret_cast<int16_t*>(frame->data[0]);
        std::memcpy(dst, src, size_t(count) * channels_ * 2);
        std::fill(dst + size_t(count) * channels_, dst + size_t(frame->nb_samples) * channels_, int16_t(0));
      }
      frame->pts = consumed_;
      consumed_ += count;
      offset += size_t(count) * channels_;
      const int sent = avcodec_send_frame(encoder_.get(), frame.get());
      hr = sent < 0 ? HResultFromAvError(sent) : DeliverPackets();
    }
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(offset));
    return hr;
  }

  HRESULT DeliverPackets() {
    for (;;) {
      const int got = avcodec_receive_packet(encoder_.get(), packet_.get());
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return S_OK;
      if (got < 0) return HResultFromAvError(got);
      IMediaSample* out = nullptr;
      HRESULT hr = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
      if (FAILED(hr) || packet_->size > out->GetSize()) {
        if (out) out->Release();
        av_packet_unref(packet_.get());
        return FAILED(hr) ? hr : VFW_E_BUFFER_OVERFLOW;
      }
      BYTE* target = nullptr;
      out->GetPointer(&target);
      std::memcpy(target, packet_->data, size_t(packet_->size));
      out->SetActualDataLength(packet_->size);
      const int64_t duration = packet_->duration > 0 ? packet_->duration : 0;
      REFERENCE_TIME start = base_ + av_rescale(packet_->pts, 10000000, rate_);
      REFERENCE_TIME stop = base_ + av_rescale(packet_->pts + duration, 10000000, rate_);
      out->SetTime(&start, &stop);
      out->SetSyncPoint(TRUE);
      av_packet_unref(packet_.get());
      hr = output_->Deliver(out);
      out->Release();
      if (hr != S_OK) return hr;
    }
  }

  const AudioCodecSpec& spec_;
  int64_t bitRate_ = 0;
  CodecContextPtr encoder_;
  PacketPtr packet_;
  std::vector<int16_t> pending_;
  int channels_ = 1, rate_ = 22050;
  int64_t consumed_ = 0;
  REFERENCE_TIME base_ = 0;
  bool startKnown_ = false;
};

}  // namespace

std::vector<CompressorInfo> VideoCompressors() {
  std::vector<CompressorInfo> list;
  for (const VideoCodecSpec& s : kVideoCodecs)
    if (avcodec_find_encoder(s.codec)) list.push_back({*s.clsid, QString::fromLatin1(s.name)});
  return list;
}

std::vector<CompressorInfo> AudioCompressors() {
  std::vector<CompressorInfo> list;
  for (const AudioCodecSpec& s : kAudioCodecs)
    if (avcodec_find_encoder(s.codec)) list.push_back({*s.clsid, QString::fromLatin1(s.name)});
  return list;
}

CUnknown* CreateCompressor(REFCLSID clsid, IUnknown* outer, HRESULT* hr) {
  for (const VideoCodecSpec& s : kVideoCodecs) {
    if (!(*s.clsid == clsid)) continue;
    auto* f = new (std::nothrow) CVideoCompressor(outer, s);
    if (!f && hr) *hr = E_OUTOFMEMORY;
    return f;
  }
  for (const AudioCodecSpec& s : kAudioCodecs) {
    if (!(*s.clsid == clsid)) continue;
    auto* f = new (std::nothrow) CAudioCompressor(outer, s);
    if (!f && hr) *hr = E_OUTOFMEMORY;
    return f;
  }
  if (hr) *hr = CLASS_E_CLASSNOTAVAILABLE;
  return nullptr;
}

}  // namespace kestrom::dshow
