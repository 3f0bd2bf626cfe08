#include "platform/dshow/writers/Compressors.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/PersistStream.h"
#include "platform/dshow/base/PropertyPages.h"
#include "platform/dshow/writers/EncoderCore.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>
#include <new>

extern "C" {
#include <libavutil/opt.h>
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
    {&CLSID_Mpeg4V2Compressor, "Microsoft MPEG-4 Video Codec V2", AV_CODEC_ID_MSMPEG4V2, Fourcc('M', 'P', '4', '2'), false},
    {&CLSID_MjpegCompressor, "MJPEG Compressor", AV_CODEC_ID_MJPEG, Fourcc('M', 'J', 'P', 'G'), true},
    {&CLSID_DvCompressor, "DV Video Encoder", AV_CODEC_ID_DVVIDEO, Fourcc('d', 'v', 's', 'd'), true},
    {&CLSID_Wmv2Compressor, "WMV2 Video Encoder", AV_CODEC_ID_WMV2, Fourcc('W', 'M', 'V', '2'), false},
};

const AudioCodecSpec kAudioCodecs[] = {
    {&CLSID_AdpcmCompressor, "Microsoft ADPCM", AV_CODEC_ID_ADPCM_MS, WAVE_FORMAT_ADPCM},
    {&CLSID_Wmav2Compressor, "Windows Media Audio V2", AV_CODEC_ID_WMAV2, WAVE_FORMAT_WMAUDIO2},
    {&CLSID_PcmCompressor, "PCM", AV_CODEC_ID_PCM_S16LE, WAVE_FORMAT_PCM},
};

constexpr REFERENCE_TIME kDefaultFrameTime = 400000;  // 25 frames per second
constexpr double kDefaultQuality = 0.85;
constexpr LONG kDefaultKeyFrameRate = 25;


// Common COM plumbing of both compressors: IAMStreamConfig over the output type, and
// IPersistStream over the settings a coach chooses in the compressor's dialog.
class CCompressorBase : public CTransformFilter, public IAMStreamConfig {
 public:
  CCompressorBase(const char* name, IUnknown* outer, REFCLSID clsid) : CTransformFilter(name, outer, clsid) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), object);
    if (iid == IID_IPersistStream) return GetInterface(&persist_, object);
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
  }

  /**
   * @brief The settings as saved: a tag naming the codec (so that another codec's state is
   * refused), then the codec's own fields. Always the same size for a codec.
   */
  virtual std::vector<BYTE> SaveSettings() = 0;
  /** @brief False, with nothing changed, for settings of another codec or size. */
  virtual bool LoadSettings(const std::vector<BYTE>& bytes) = 0;
  virtual ULONG SettingsSize() const = 0;

 private:
  class Persist final : public IPersistStream {
   public:
    explicit Persist(CCompressorBase* filter) : filter_(filter) {}
    HRESULT QueryInterface(REFIID iid, void** object) override { return filter_->GetOwner()->QueryInterface(iid, object); }
    ULONG AddRef() override { return filter_->GetOwner()->AddRef(); }
    ULONG Release() override { return filter_->GetOwner()->Release(); }
    HRESULT GetClassID(CLSID* clsid) override { return filter_->GetClassID(clsid); }
    HRESULT IsDirty() override { return S_OK; }
    HRESULT Load(IStream* stream) override {
      if (!stream) return E_POINTER;
      std::vector<BYTE> bytes(filter_->SettingsSize());
      ULONG read = 0;
      const HRESULT hr = stream->Read(bytes.data(), ULONG(bytes.size()), &read);
      if (FAILED(hr)) return hr;
      if (read != bytes.size()) return STG_E_READFAULT;
      std::lock_guard lock(filter_->filterLock_);
      if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
      return filter_->LoadSettings(bytes) ? S_OK : E_INVALIDARG;
    }
    HRESULT Save(IStream* stream, BOOL) override {
      if (!stream) return E_POINTER;
      std::vector<BYTE> bytes;
      {
        std::lock_guard lock(filter_->filterLock_);
        bytes = filter_->SaveSettings();
      }
      ULONG written = 0;
      const HRESULT hr = stream->Write(bytes.data(), ULONG(bytes.size()), &written);
      if (FAILED(hr)) return hr;
      return written == bytes.size() ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT GetSizeMax(ULONGLONG* size) override {
      if (!size) return E_POINTER;
      *size = filter_->SettingsSize();
      return S_OK;
    }

   private:
    CCompressorBase* filter_;
  };
  Persist persist_{this};

 public:

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
  CVideoCompressor(IUnknown* outer, const VideoCodecSpec& streamSpec)
      : CCompressorBase("video compressor", outer, *streamSpec.clsid), spec_(streamSpec) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMVideoCompression) return GetInterface(static_cast<IAMVideoCompression*>(this), object);
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
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
  /** @brief Frame (counted by time from the start) becomes a key frame; one already past: the next. */
  HRESULT OverrideKeyFrame(LONG frame) override {
    if (frame < 0) return E_INVALIDARG;
    // No lock: a writer downstream asks from inside this filter's own delivery.
    keyFrameAt_.store(frame);
    return S_OK;
  }
  HRESULT OverrideFrameSize(LONG, LONG) override { return E_NOTIMPL; }

  // Saved: the FOURCC, quality, key-frame rate, data rate and frame time.
  static constexpr ULONG kSettingsSize = 4 + 8 + 4 + 4 + 8;
  ULONG SettingsSize() const override { return kSettingsSize; }
  std::vector<BYTE> SaveSettings() override {
    std::vector<BYTE> bytes(kSettingsSize);
    BYTE* p = bytes.data();
    std::memcpy(p, &spec_.fourcc, 4);
    std::memcpy(p + 4, &quality_, 8);
    std::memcpy(p + 12, &keyFrameRate_, 4);
    std::memcpy(p + 16, &dataRate_, 4);
    std::memcpy(p + 20, &frameTime_, 8);
    return bytes;
  }
  bool LoadSettings(const std::vector<BYTE>& bytes) override {
    if (bytes.size() != kSettingsSize) return false;
    uint32_t fourcc = 0;
    double quality = 0;
    LONG keyFrameRate = 0;
    DWORD dataRate = 0;
    REFERENCE_TIME frameTime = 0;
    std::memcpy(&fourcc, bytes.data(), 4);
    std::memcpy(&quality, bytes.data() + 4, 8);
    std::memcpy(&keyFrameRate, bytes.data() + 12, 4);
    std::memcpy(&dataRate, bytes.data() + 16, 4);
    std::memcpy(&frameTime, bytes.data() + 20, 8);
    if (fourcc != spec_.fourcc || !(quality >= 0.0 && quality <= 1.0) || keyFrameRate < 0 || frameTime <= 0) return false;
    quality_ = quality;
    keyFrameRate_ = keyFrameRate;
    dataRate_ = dataRate;
    frameTime_ = frameTime;
    return true;
  }

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
    return VideoEncoder::Accepts(*type, Settings()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
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

  HRESULT StartStreaming() override {
    nextFrame_ = 0;
    counted_ = false;
    keyFrameAt_.store(-1);
    return encoder_.Open(InputPin()->CurrentMediaType(), Settings());
  }
  HRESULT StopStreaming() override {
    encoder_.Close();
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    std::lock_guard lock(receiveLock_);
    if (!output_->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (!encoder_.IsOpen()) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    // Frames are numbered by their time, so the coded stream keeps the gaps of dropped frames;
    // by the source's own numbers when it gives them (times jitter, numbers do not).
    REFERENCE_TIME start = 0, stop = 0;
    LONGLONG number = 0, numberEnd = 0;
    const bool counted = sample->GetMediaTime(&number, &numberEnd) == S_OK;
    int64_t frame = nextFrame_;
    if (counted && counted_) frame = std::max<int64_t>(nextFrame_, number + countOffset_);
    else if (SUCCEEDED(sample->GetTime(&start, &stop))) frame = std::max<int64_t>(nextFrame_, std::llround(double(start) / frameTime_));
    if (counted && !counted_) {
      counted_ = true;
      countOffset_ = frame - number;
    }
    nextFrame_ = frame + 1;
    int64_t wanted = keyFrameAt_.load();
    const bool key = wanted >= 0 && frame >= wanted && keyFrameAt_.compare_exchange_strong(wanted, -1);
    // The codec may read the sample itself when its allocator has a buffer to spare.
    ALLOCATOR_PROPERTIES props{};
    IMemAllocator* allocator = InputPin()->PeekAllocator();
    const bool spare = allocator && SUCCEEDED(allocator->GetProperties(&props)) && props.cBuffers >= 2;
    return encoder_.Encode(data, sample->GetActualDataLength(), frame, sink_, key, spare ? sample : nullptr);
  }

  HRESULT EndOfStream() override {
    {
      std::lock_guard lock(receiveLock_);
      encoder_.Flush(sink_);
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

  VideoEncoderSettings Settings() const {
    VideoEncoderSettings s;
    s.codec = spec_.codec;
    s.frameTime = frameTime_;
    s.quality = quality_;
    s.bitRate = dataRate_;
    s.keyFrameRate = spec_.keyFramesOnly ? 1 : std::max<LONG>(keyFrameRate_, 1);
    return s;
  }

  HRESULT MakeOutputType(const AM_MEDIA_TYPE& in, CMediaType* type) {
    // The codec data (if any) is known only once a codec is opened.
    AVCodecContext* probe = NewVideoContext(in, Settings());
    if (!probe) return E_FAIL;
    if (avcodec_open2(probe, probe->codec, nullptr) < 0) {
      avcodec_free_context(&probe);
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const size_t extra = size_t(std::max(probe->extradata_size, 0));
    BYTE* format = type->AllocFormatBuffer(ULONG(sizeof(VIDEOINFOHEADER) + extra));
    if (!format) {
      avcodec_free_context(&probe);
      return E_OUTOFMEMORY;
    }
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
    avcodec_free_context(&probe);
    type->SetType(MEDIATYPE_Video);
    type->SetSubtype(FourccSubtype(spec_.fourcc));
    type->SetFormatType(FORMAT_VideoInfo);
    type->SetTemporalCompression(!spec_.keyFramesOnly);
    type->bFixedSizeSamples = spec_.codec == AV_CODEC_ID_DVVIDEO;
    type->lSampleSize = spec_.codec == AV_CODEC_ID_DVVIDEO ? b.biSizeImage : 0;
    return S_OK;
  }

  HRESULT DeliverPacket(const AVPacket& packet) {
    IMediaSample* out = nullptr;
    HRESULT hr = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* target = nullptr;
    out->GetPointer(&target);
    if (packet.size > out->GetSize()) {
      out->Release();
      return VFW_E_BUFFER_OVERFLOW;
    }
    std::memcpy(target, packet.data, size_t(packet.size));
    out->SetActualDataLength(packet.size);
    REFERENCE_TIME start = packet.pts * frameTime_;
    REFERENCE_TIME stop = start + frameTime_;
    out->SetTime(&start, &stop);
    LONGLONG number = packet.pts, numberEnd = packet.pts + 1;
    out->SetMediaTime(&number, &numberEnd);
    out->SetSyncPoint((packet.flags & AV_PKT_FLAG_KEY) != 0);
    hr = output_->Deliver(out);
    out->Release();
    return hr;
  }

  const VideoCodecSpec& spec_;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMVideoCompression, &CLSID_CompressionPage}}};
  double quality_ = kDefaultQuality;
  LONG keyFrameRate_ = kDefaultKeyFrameRate;
  DWORD dataRate_ = 0;
  REFERENCE_TIME frameTime_ = kDefaultFrameTime;
  bool frameTimeFromInput_ = true;
  VideoEncoder encoder_;
  int64_t nextFrame_ = 0;
  bool counted_ = false;     // the source numbers its frames (media times)
  int64_t countOffset_ = 0;  // frame minus the source's number
  std::atomic<int64_t> keyFrameAt_{-1};  // a key frame asked for, -1 none
  PacketSink sink_ = [this](const AVPacket& packet) { return DeliverPacket(packet); };
};

// ---- audio ----

class CAudioCompressor final : public CCompressorBase {
 public:
  CAudioCompressor(IUnknown* outer, const AudioCodecSpec& streamSpec) : CCompressorBase("audio compressor", outer, *streamSpec.clsid), spec_(streamSpec) {}

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
    return CCompressorBase::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT SetFormat(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    std::lock_guard lock(filterLock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    const WAVEFORMATEX* wf = WaveFormat(*type);
    if (!wf || wf->wFormatTag != spec_.tag) return VFW_E_INVALIDMEDIATYPE;
    if (spec_.codec == AV_CODEC_ID_WMAV2 && wf->nAvgBytesPerSec > 0) bitRate_ = int64_t(wf->nAvgBytesPerSec) * 8;
    return S_OK;
  }

  // Saved: the format tag and the bit rate.
  static constexpr ULONG kSettingsSize = 2 + 8;
  ULONG SettingsSize() const override { return kSettingsSize; }
  std::vector<BYTE> SaveSettings() override {
    std::vector<BYTE> bytes(kSettingsSize);
    std::memcpy(bytes.data(), &spec_.tag, 2);
    std::memcpy(bytes.data() + 2, &bitRate_, 8);
    return bytes;
  }
  bool LoadSettings(const std::vector<BYTE>& bytes) override {
    if (bytes.size() != kSettingsSize) return false;
    WORD tag = 0;
    int64_t bitRate = 0;
    std::memcpy(&tag, bytes.data(), 2);
    std::memcpy(&bitRate, bytes.data() + 2, 8);
    if (tag != spec_.tag || bitRate < 0) return false;
    bitRate_ = bitRate;
    return true;
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
    AVCodecContext* probe = NewAudioContext(*WaveFormat(InputPin()->CurrentMediaType()), Settings());
    if (!probe || avcodec_open2(probe, probe->codec, nullptr) < 0) {
      avcodec_free_context(&probe);
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    const size_t extra = size_t(std::max(probe->extradata_size, 0));
    BYTE* format = type->AllocFormatBuffer(ULONG(sizeof(WAVEFORMATEX) + extra));
    if (!format) {
      avcodec_free_context(&probe);
      return E_OUTOFMEMORY;
    }
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
    avcodec_free_context(&probe);
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
    rate_ = int(wf->nSamplesPerSec);
    startKnown_ = false;
    return encoder_.Open(*wf, Settings());
  }

  HRESULT StopStreaming() override {
    encoder_.Close();
    return S_OK;
  }

  HRESULT Receive(IMediaSample* sample) override {
    std::lock_guard lock(receiveLock_);
    if (!output_->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (!encoder_.IsOpen()) return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    if (!startKnown_) {
      REFERENCE_TIME start = 0, stop = 0;
      base_ = SUCCEEDED(sample->GetTime(&start, &stop)) ? start : 0;
      startKnown_ = true;
    }
    return encoder_.Push(reinterpret_cast<const int16_t*>(data), size_t(sample->GetActualDataLength() / 2), sink_);
  }

  HRESULT EndOfStream() override {
    {
      std::lock_guard lock(receiveLock_);
      encoder_.Flush(sink_);
    }
    return CTransformFilter::EndOfStream();
  }

 private:
  AudioEncoderSettings Settings() const {
    AudioEncoderSettings s;
    s.codec = spec_.codec;
    s.bitRate = bitRate_;
    return s;
  }

  // Times follow the samples coded, from the first input sample's start.
  HRESULT DeliverPacket(const AVPacket& packet) {
    IMediaSample* out = nullptr;
    HRESULT hr = output_->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    if (packet.size > out->GetSize()) {
      out->Release();
      return VFW_E_BUFFER_OVERFLOW;
    }
    BYTE* target = nullptr;
    out->GetPointer(&target);
    std::memcpy(target, packet.data, size_t(packet.size));
    out->SetActualDataLength(packet.size);
    REFERENCE_TIME start = base_ + av_rescale(packet.pts, 10000000, rate_);
    REFERENCE_TIME stop = base_ + av_rescale(packet.pts + std::max<int64_t>(packet.duration, 0), 10000000, rate_);
    out->SetTime(&start, &stop);
    out->SetSyncPoint(TRUE);
    hr = output_->Deliver(out);
    out->Release();
    return hr;
  }

  const AudioCodecSpec& spec_;
  CSpecifyPropertyPages pages_{GetOwner(), {{&IID_IAMStreamConfig, &CLSID_AudioFormatPage}}};
  int64_t bitRate_ = 0;
  AudioEncoder encoder_;
  int rate_ = 22050;
  REFERENCE_TIME base_ = 0;
  bool startKnown_ = false;
  PacketSink sink_ = [this](const AVPacket& packet) { return DeliverPacket(packet); };
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
