#include "platform/dshow/sources/Decoders.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/TransformFilter.h"
#include "platform/dshow/sources/DecoderTable.h"
#include "platform/dshow/sources/DvDecoder.h"
#include "platform/dshow/sources/StreamTypes.h"

#include <algorithm>
#include <vector>
#include <cctype>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace kestrom::dshow {

using namespace com;
using namespace sources;

namespace {

constexpr AVRational kReferenceTimeBase{1, 10000000};

// The uncompressed outputs of decoders and of the converter, in order of preference.
const GUID* const kPictureOutputs[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_I420};

uint32_t UpperFourcc(uint32_t fourcc) {
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i)
    result |= uint32_t(std::toupper(static_cast<int>((fourcc >> (8 * i)) & 0xFF))) << (8 * i);
  return result;
}

bool IsPictureOutput(const GUID& subtype) {
  return std::any_of(std::begin(kPictureOutputs), std::end(kPictureOutputs), [&](const GUID* g) { return *g == subtype; });
}

REFERENCE_TIME FrameInterval(const AM_MEDIA_TYPE& type) {
  if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
  return 0;
}

// The picture size of an input type. A stream whose size is learnt only from its first sequence
// header (an MPEG-2 demultiplexer's output) is given the broadcast size, and its pictures are
// scaled to it.
bool PictureSize(const AM_MEDIA_TYPE& input, LONG* width, LONG* height) {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(input);
  if (!h) return false;
  *width = h->biWidth;
  *height = std::abs(h->biHeight);
  if (*width <= 0 || *height <= 0) *width = 720, *height = 576;
  return true;
}

HRESULT PictureOutputType(const AM_MEDIA_TYPE& input, int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position >= static_cast<int>(std::size(kPictureOutputs))) return VFW_S_NO_MORE_ITEMS;
  LONG w = 0, h = 0;
  if (!PictureSize(input, &w, &h)) return E_UNEXPECTED;
  *type = MakeUncompressedType(*kPictureOutputs[position], w, h, FrameInterval(input));
  return S_OK;
}

HRESULT CheckPictureTransform(const AM_MEDIA_TYPE& in, const AM_MEDIA_TYPE& out) {
  LONG w = 0, h = 0;
  const BITMAPINFOHEADER* ho = GetBitmapInfoHeader(out);
  if (!PictureSize(in, &w, &h) || !ho || !(out.majortype == MEDIATYPE_Video) || !IsPictureOutput(out.subtype))
    return VFW_E_TYPE_NOT_ACCEPTED;
  // YUV pictures are always top-down; only RGB may be turned over.
  if (ho->biHeight < 0 && !(out.subtype == MEDIASUBTYPE_RGB24 || out.subtype == MEDIASUBTYPE_RGB32)) return VFW_E_TYPE_NOT_ACCEPTED;
  return ho->biWidth == w && std::abs(ho->biHeight) == h ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG bytes, LONG count) {
  if (bytes <= 0) return E_UNEXPECTED;
  request->cBuffers = std::max(request->cBuffers, count);
  request->cbBuffer = std::max(request->cbBuffer, bytes);
  if (request->cbAlign <= 0) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < bytes ? E_FAIL : S_OK;
}

// ---------------------------------------------------------------- decoder base

// Decodes each input sample and delivers every picture or block of sound the decoder gives
// back: decoders with reordered frames give pictures late, and flush them at the end.
class CAvDecoder : public CTransformFilter {
 public:
  CAvDecoder(const char* objectName, IUnknown* outer, const DecoderClass& cls)
      : CTransformFilter(objectName, outer, *cls.clsid), class_(cls) {}
  ~CAvDecoder() override { CloseCodec(); }

  HRESULT CheckInputType(const CMediaType* type) override {
    if (!type || !(type->majortype == class_.major)) return VFW_E_TYPE_NOT_ACCEPTED;
    uint32_t tag = type->majortype == MEDIATYPE_Video ? VideoTagOfType(*type) : FourccOfSubtype(type->subtype);
    if (type->majortype == MEDIATYPE_Audio && type->cbFormat >= sizeof(WAVEFORMATEX))
      tag = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat)->wFormatTag;
    if (!std::any_of(class_.tags.begin(), class_.tags.end(), [&](uint32_t t) { return UpperFourcc(t) == UpperFourcc(tag); }))
      return VFW_E_TYPE_NOT_ACCEPTED;
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par) return E_OUTOFMEMORY;
    const bool ok = DecoderParametersOf(*type, par);
    avcodec_parameters_free(&par);
    return ok ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT StartStreaming() override {
    CloseCodec();
    const CMediaType& in = InputPin()->CurrentMediaType();
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par) return E_OUTOFMEMORY;
    HRESULT hr = E_FAIL;
    if (DecoderParametersOf(in, par)) {
      const AVCodec* codec = avcodec_find_decoder(par->codec_id);
      codec_ = codec ? avcodec_alloc_context3(codec) : nullptr;
      if (codec_ && avcodec_parameters_to_context(codec_, par) >= 0) {
        codec_->pkt_timebase = kReferenceTimeBase;
        codec_->thread_count = 0;
        codec_->thread_type = FF_THREAD_SLICE;  // no frame threading: it would hold pictures back
        if (avcodec_open2(codec_, codec, nullptr) >= 0) hr = S_OK;
      }
    }
    avcodec_parameters_free(&par);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (FAILED(hr) || !frame_ || !packet_) {
      CloseCodec();
      return FAILED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : E_OUTOFMEMORY;
    }
    nextTime_ = 0;
    return S_OK;
  }

  HRESULT StopStreaming() override {
    CloseCodec();
    return S_OK;
  }

  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }  // Receive does the work

  HRESULT Receive(IMediaSample* sample) override {
    std::lock_guard lock(receiveLock_);
    if (!OutputPin()->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (!codec_) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (length <= 0) return RepeatLastFrame(sample);
    if (av_new_packet(packet_, length) < 0) return E_OUTOFMEMORY;
    std::memcpy(packet_->data, data, static_cast<size_t>(length));
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timed = sample->GetTime(&start, &stop);
    packet_->pts = SUCCEEDED(timed) ? start : AV_NOPTS_VALUE;
    if (sample->IsSyncPoint() == S_OK) packet_->flags |= AV_PKT_FLAG_KEY;
    if (sample->IsPreroll() == S_OK) preroll_ = true;
    const int rc = avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
    // A damaged frame is skipped, as a player would; the stream goes on.
    if (rc < 0 && rc != AVERROR(EAGAIN)) return S_OK;
    return Drain();
  }

  HRESULT EndOfStream() override {
    {
      std::lock_guard lock(receiveLock_);
      if (codec_) {
        avcodec_send_packet(codec_, nullptr);
        Drain();
        avcodec_flush_buffers(codec_);
      }
    }
    return CTransformFilter::EndOfStream();
  }

  HRESULT EndFlush() override {
    {
      std::lock_guard lock(receiveLock_);
      if (codec_) avcodec_flush_buffers(codec_);
    }
    return CTransformFilter::EndFlush();
  }

 protected:
  /** @brief Delivers one decoded frame downstream. */
  virtual HRESULT DeliverFrame(AVFrame* frame) = 0;
  /** @brief An empty sample (a frame the capture dropped): by default nothing to decode. */
  virtual HRESULT RepeatLastFrame(IMediaSample*) { return S_OK; }
  /** @brief A picture before the segment's start, not delivered (a dropped frame may repeat it). */
  virtual void KeepPrimingFrame(AVFrame*) {}

  HRESULT Drain() {
    for (;;) {
      const int rc = avcodec_receive_frame(codec_, frame_);
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return S_OK;
      if (rc < 0) return S_OK;
      HRESULT hr = S_OK;
      // Pictures before the segment's start only prime the decoder.
      const int64_t pts = frame_->best_effort_timestamp;
      if (!(pts != AV_NOPTS_VALUE && pts < 0)) hr = DeliverFrame(frame_);
      else KeepPrimingFrame(frame_);
      av_frame_unref(frame_);
      if (hr != S_OK) return hr;
    }
  }

  void CloseCodec() {
    avcodec_free_context(&codec_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    scaler_.Reset();
    swr_free(&resampler_);
  }

  const DecoderClass& class_;
  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  media::PictureScaler scaler_;
  SwrContext* resampler_ = nullptr;
  REFERENCE_TIME nextTime_ = 0;
  bool preroll_ = false;
};

// ---------------------------------------------------------------- video

class CVideoDecoder final : public CAvDecoder {
 public:
  CVideoDecoder(IUnknown* outer, const DecoderClass& cls) : CAvDecoder("video decoder", outer, cls) {}

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override { return CheckPictureTransform(*in, *out); }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    return PictureOutputType(InputPin()->CurrentMediaType(), position, type);
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    return SizeBuffers(allocator, request, static_cast<LONG>(UncompressedSize(OutputPin()->CurrentMediaType())), 3);
  }

 protected:
  HRESULT DeliverFrame(AVFrame* frame) override {
    IMediaSample* out = nullptr;
    HRESULT hr = OutputPin()->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    const CMediaType& type = OutputPin()->CurrentMediaType();
    BYTE* data = nullptr;
    out->GetPointer(&data);
    if (!ConvertPicture(frame, type, data, static_cast<size_t>(out->GetSize()), scaler_)) {
      out->Release();
      return S_OK;  // a picture that cannot be converted is left out
    }
    const size_t size = UncompressedSize(type);
    last_.assign(data, data + size);
    return Send(out, size, frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : nextTime_);
  }

  // A dropped frame shows the picture before it, at its own time.
  HRESULT RepeatLastFrame(IMediaSample* sample) override {
    if (last_.empty()) return S_OK;
    REFERENCE_TIME start = nextTime_, stop = 0;
    const HRESULT timed = sample->GetTime(&start, &stop);
    if (FAILED(timed)) start = nextTime_;
    if (start < 0) return S_OK;  // before the segment: nothing to show
    IMediaSample* out = nullptr;
    HRESULT hr = OutputPin()->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    out->GetPointer(&data);
    if (static_cast<size_t>(out->GetSize()) < last_.size()) {
      out->Release();
      return S_OK;
    }
    std::memcpy(data, last_.data(), last_.size());
    return Send(out, last_.size(), start);
  }

  // Sends a whole picture of the given size starting at start, one frame long; the next picture
  // without a time of its own follows it.
  HRESULT Send(IMediaSample* out, size_t size, REFERENCE_TIME start) {
    out->SetActualDataLength(static_cast<LONG>(size));
    REFERENCE_TIME stop = start + std::max<REFERENCE_TIME>(1, FrameInterval(InputPin()->CurrentMediaType()));
    nextTime_ = stop;
    out->SetTime(&start, &stop);
    out->SetSyncPoint(1);
    const HRESULT hr = OutputPin()->Deliver(out);
    out->Release();
    return hr;
  }

  void KeepPrimingFrame(AVFrame* frame) override {
    const CMediaType& type = OutputPin()->CurrentMediaType();
    last_.resize(UncompressedSize(type));
    if (!ConvertPicture(frame, type, last_.data(), last_.size(), scaler_)) last_.clear();
  }

  HRESULT StopStreaming() override {
    last_.clear();
    return CAvDecoder::StopStreaming();
  }

 private:
  std::vector<uint8_t> last_;  // the last picture delivered
};

// ---------------------------------------------------------------- audio

class CAudioDecoder final : public CAvDecoder {
 public:
  CAudioDecoder(IUnknown* outer, const DecoderClass& cls) : CAvDecoder("audio decoder", outer, cls) {}

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    if (!(out->majortype == MEDIATYPE_Audio) || !(out->subtype == MEDIASUBTYPE_PCM) || out->cbFormat < sizeof(WAVEFORMATEX))
      return VFW_E_TYPE_NOT_ACCEPTED;
    const auto* wi = reinterpret_cast<const WAVEFORMATEX*>(in->pbFormat);
    const auto* wo = reinterpret_cast<const WAVEFORMATEX*>(out->pbFormat);
    return wo->wFormatTag == WAVE_FORMAT_PCM && wo->wBitsPerSample == 16 && wo->nChannels == wi->nChannels &&
                   wo->nSamplesPerSec == wi->nSamplesPerSec
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    const auto* wi = reinterpret_cast<const WAVEFORMATEX*>(InputPin()->CurrentMediaType().pbFormat);
    *type = MakePcm(static_cast<int>(wi->nSamplesPerSec), wi->nChannels);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const auto* wo = reinterpret_cast<const WAVEFORMATEX*>(OutputPin()->CurrentMediaType().pbFormat);
    return SizeBuffers(allocator, request, static_cast<LONG>(std::max<DWORD>(wo->nAvgBytesPerSec, 65536)), 4);
  }

  static CMediaType MakePcm(int rate, int channels) {
    CMediaType mt;
    mt.SetType(MEDIATYPE_Audio);
    mt.SetSubtype(MEDIASUBTYPE_PCM);
    mt.SetFormatType(FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    if (!wfx) return mt;
    wfx->wFormatTag = WAVE_FORMAT_PCM;
    wfx->nChannels = static_cast<WORD>(channels);
    wfx->nSamplesPerSec = static_cast<DWORD>(rate);
    wfx->wBitsPerSample = 16;
    wfx->nBlockAlign = static_cast<WORD>(channels * 2);
    wfx->nAvgBytesPerSec = static_cast<DWORD>(rate) * wfx->nBlockAlign;
    mt.SetSampleSize(wfx->nBlockAlign);
    return mt;
  }

 protected:
  HRESULT DeliverFrame(AVFrame* frame) override {
    const auto* wo = reinterpret_cast<const WAVEFORMATEX*>(OutputPin()->CurrentMediaType().pbFormat);
    if (!resampler_) {
      AVChannelLayout layout{};
      av_channel_layout_default(&layout, wo->nChannels);
      if (swr_alloc_set_opts2(&resampler_, &layout, AV_SAMPLE_FMT_S16, static_cast<int>(wo->nSamplesPerSec), &frame->ch_layout,
                              static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr) < 0 ||
          swr_init(resampler_) < 0) {
        swr_free(&resampler_);
        return S_OK;
      }
    }
    IMediaSample* out = nullptr;
    HRESULT hr = OutputPin()->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    out->GetPointer(&data);
    const int capacity = out->GetSize() / wo->nBlockAlign;
    uint8_t* planes[1] = {data};
    const int frames = swr_convert(resampler_, planes, capacity, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (frames <= 0) {
      out->Release();
      return S_OK;
    }
    out->SetActualDataLength(frames * wo->nBlockAlign);
    REFERENCE_TIME start = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : nextTime_;
    REFERENCE_TIME stop = start + REFERENCE_TIME{frames} * 10000000 / wo->nSamplesPerSec;
    nextTime_ = stop;
    out->SetTime(&start, &stop);
    out->SetSyncPoint(1);
    hr = OutputPin()->Deliver(out);
    out->Release();
    return hr;
  }
};

// ---------------------------------------------------------------- colour space converter

class CColourConverter final : public CTransformFilter {
 public:
  explicit CColourConverter(IUnknown* outer) : CTransformFilter("colour space converter", outer, CLSID_Colour) {}
  ~CColourConverter() override {
    av_frame_free(&frame_);
  }

  HRESULT CheckInputType(const CMediaType* type) override {
    return type && type->majortype == MEDIATYPE_Video && UncompressedSize(*type) > 0 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    const HRESULT hr = CheckPictureTransform(*in, *out);
    // A converter that changes nothing has no place in a graph.
    if (hr == S_OK && in->subtype == out->subtype && GetBitmapInfoHeader(*in)->biHeight == GetBitmapInfoHeader(*out)->biHeight)
      return VFW_E_TYPE_NOT_ACCEPTED;
    return hr;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    return PictureOutputType(InputPin()->CurrentMediaType(), position, type);
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    return SizeBuffers(allocator, request, static_cast<LONG>(UncompressedSize(OutputPin()->CurrentMediaType())), 2);
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    const CMediaType& inType = InputPin()->CurrentMediaType();
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(inType);
    if (!frame_ && !(frame_ = av_frame_alloc())) return E_OUTOFMEMORY;
    BYTE* source = nullptr;
    in->GetPointer(&source);
    if (static_cast<size_t>(in->GetActualDataLength()) < UncompressedSize(inType)) return S_FALSE;
    const AVPixelFormat format = PixelFormatOfType(inType);
    const int rows = std::abs(h->biHeight);
    frame_->width = h->biWidth;
    frame_->height = rows;
    frame_->format = format;
    const bool rgb = inType.subtype == MEDIASUBTYPE_RGB24 || inType.subtype == MEDIASUBTYPE_RGB32 ||
                     inType.subtype == MEDIASUBTYPE_RGB565 || inType.subtype == MEDIASUBTYPE_RGB555;
    if (rgb) {
      const int stride = RgbStride(h->biWidth, h->biBitCount);
      frame_->data[0] = h->biHeight > 0 ? source + static_cast<size_t>(stride) * (rows - 1) : source;
      frame_->linesize[0] = h->biHeight > 0 ? -stride : stride;
    } else if (av_image_fill_arrays(frame_->data, frame_->linesize, source, format, h->biWidth, rows, 1) < 0) {
      return S_FALSE;
    } else if (inType.subtype == MEDIASUBTYPE_YV12) {
      std::swap(frame_->data[1], frame_->data[2]);
    }
    BYTE* target = nullptr;
    out->GetPointer(&target);
    const CMediaType& outType = OutputPin()->CurrentMediaType();
    if (!ConvertPicture(frame_, outType, target, static_cast<size_t>(out->GetSize()), scaler_)) return S_FALSE;
    return out->SetActualDataLength(static_cast<LONG>(UncompressedSize(outType)));
  }

 private:
  media::PictureScaler scaler_;
  AVFrame* frame_ = nullptr;
};


// ---------------------------------------------------------------- audio converter

// PCM to 16-bit PCM of another rate or channel count, as the filter downstream asks.
class CAudioConverter final : public CTransformFilter {
 public:
  explicit CAudioConverter(IUnknown* outer) : CTransformFilter("audio converter", outer, CLSID_AudioConverter) {}
  ~CAudioConverter() override { swr_free(&resampler_); }

  static const WAVEFORMATEX* Pcm(const AM_MEDIA_TYPE& type) {
    if (!(type.majortype == MEDIATYPE_Audio) || !(type.formattype == FORMAT_WaveFormatEx) || type.cbFormat < sizeof(WAVEFORMATEX))
      return nullptr;
    const auto* w = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    return w->wFormatTag == WAVE_FORMAT_PCM && (w->wBitsPerSample == 8 || w->wBitsPerSample == 16) && w->nChannels >= 1 &&
                   w->nChannels <= 8 && w->nSamplesPerSec >= 1000 && w->nSamplesPerSec <= 192000
               ? w
               : nullptr;
  }

  HRESULT CheckInputType(const CMediaType* type) override { return Pcm(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    const WAVEFORMATEX *wi = Pcm(*in), *wo = Pcm(*out);
    if (!wi || !wo || wo->wBitsPerSample != 16 || wo->nChannels > 2) return VFW_E_TYPE_NOT_ACCEPTED;
    // Converting to the same format is no conversion.
    return wi->nSamplesPerSec == wo->nSamplesPerSec && wi->nChannels == wo->nChannels && wi->wBitsPerSample == 16
               ? VFW_E_TYPE_NOT_ACCEPTED
               : S_OK;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    static constexpr int kRates[] = {44100, 48000, 22050, 11025, 8000};
    if (position < 0) return E_INVALIDARG;
    if (position >= 2 * int(std::size(kRates))) return VFW_S_NO_MORE_ITEMS;
    *type = CAudioDecoder::MakePcm(kRates[position / 2], position % 2 == 0 ? 2 : 1);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const WAVEFORMATEX* wi = Pcm(InputPin()->CurrentMediaType());
    const WAVEFORMATEX* wo = Pcm(OutputPin()->CurrentMediaType());
    if (!wi || !wo) return E_UNEXPECTED;
    // Room for a second of sound, and for an input block of up to a second at the new rate.
    return SizeBuffers(allocator, request, static_cast<LONG>(wo->nAvgBytesPerSec + wo->nAvgBytesPerSec / 4), 4);
  }
  HRESULT StartStreaming() override {
    swr_free(&resampler_);
    const WAVEFORMATEX* wi = Pcm(InputPin()->CurrentMediaType());
    const WAVEFORMATEX* wo = Pcm(OutputPin()->CurrentMediaType());
    if (!wi || !wo) return E_UNEXPECTED;
    AVChannelLayout in{}, out{};
    av_channel_layout_default(&in, wi->nChannels);
    av_channel_layout_default(&out, wo->nChannels);
    if (swr_alloc_set_opts2(&resampler_, &out, AV_SAMPLE_FMT_S16, static_cast<int>(wo->nSamplesPerSec), &in,
                            wi->wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16, static_cast<int>(wi->nSamplesPerSec),
                            0, nullptr) < 0 ||
        swr_init(resampler_) < 0) {
      swr_free(&resampler_);
      return E_FAIL;
    }
    return S_OK;
  }
  HRESULT StopStreaming() override {
    swr_free(&resampler_);
    return S_OK;
  }
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    const WAVEFORMATEX* wi = Pcm(InputPin()->CurrentMediaType());
    const WAVEFORMATEX* wo = Pcm(OutputPin()->CurrentMediaType());
    if (!resampler_ || !wi || !wo) return E_UNEXPECTED;
    BYTE *source = nullptr, *target = nullptr;
    in->GetPointer(&source);
    out->GetPointer(&target);
    const int frames = in->GetActualDataLength() / wi->nBlockAlign;
    const uint8_t* inPlanes[1] = {source};
    uint8_t* outPlanes[1] = {target};
    const int made = swr_convert(resampler_, outPlanes, out->GetSize() / wo->nBlockAlign, inPlanes, frames);
    if (made <= 0) return S_FALSE;
    return out->SetActualDataLength(made * wo->nBlockAlign);
  }

 private:
  SwrContext* resampler_ = nullptr;
};

}  // namespace

CUnknown* CreateAudioConverter(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CAudioConverter(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

CUnknown* CreateDecoderOf(const DecoderClass& cls, IUnknown* outer, HRESULT* hr) {
  // The DV decoder has display sizes of its own.
  if (*cls.clsid == CLSID_DVVideoCodec) return CreateDvDecoder(outer, hr);
  CUnknown* f = nullptr;
  if (cls.major == MEDIATYPE_Video) f = new (std::nothrow) CVideoDecoder(outer, cls);
  else f = new (std::nothrow) CAudioDecoder(outer, cls);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

CUnknown* CreateColourConverter(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CColourConverter(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

}  // namespace kestrom::dshow
