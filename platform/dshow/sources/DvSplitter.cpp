#include "platform/dshow/sources/DvSplitter.h"

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/Seeking.h"
#include "platform/dshow/sources/DvFormat.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/GraphInterfaces.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>

extern "C" {
#include <libswresample/swresample.h>
}

namespace kestrom::dshow {

using namespace com;
using namespace sources;

namespace {

class CDvSplitter;

class CDvInputPin final : public CBaseInputPin {
 public:
  CDvInputPin(CDvSplitter* filter, std::recursive_mutex* lock);
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  CDvSplitter* splitter_;
};

// An output whose type follows from the input's: DV video, or PCM of the frames' sound.
class CDvOutputPin final : public CBaseOutputPin {
 public:
  CDvOutputPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, bool video, CBaseInputPin* input)
      : CBaseOutputPin(video ? "DV video output" : "DV audio output", filter, lock, nullptr, name),
        video_(video),
        input_(input),
        seeking_(std::make_unique<CPosPassThru>("DV splitter seeking", GetOwner(), input)) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IMediaSeeking) return seeking_->NonDelegatingQueryInterface(iid, object);
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT CheckConnect(IPin* pin) override {
    if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    return CBaseOutputPin::CheckConnect(pin);
  }
  HRESULT CheckMediaType(const CMediaType* type) override {
    if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    return type && *type == OfferedType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = OfferedType();
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    const DvGeometry g = DvGeometryOfType(input_->CurrentMediaType());
    // Sound: the most samples one frame of any system carries (4 bytes per stereo sample).
    const LONG bytes = video_ ? static_cast<LONG>(std::max<ULONG>(g.frameSize, input_->CurrentMediaType().lSampleSize))
                              : 48000 * 4 / 25 + 4096;
    request->cBuffers = std::max<LONG>(request->cBuffers, video_ ? 4 : 8);
    request->cbBuffer = std::max(request->cbBuffer, bytes);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < bytes ? E_FAIL : S_OK;
  }

  /** @brief The type this output gives for the input's type. */
  CMediaType OfferedType() const {
    const CMediaType& in = input_->CurrentMediaType();
    if (video_) return MakeDvVideoType(DvGeometryOfType(in));
    int rate = 48000;
    if (in.formattype == FORMAT_DvInfo && in.cbFormat >= sizeof(DVINFO))
      if (const int announced = DvAudioRate(reinterpret_cast<const DVINFO*>(in.pbFormat)->dwDVAAuxSrc)) rate = announced;
    CMediaType mt;
    mt.SetType(MEDIATYPE_Audio);
    mt.SetSubtype(MEDIASUBTYPE_PCM);
    mt.SetFormatType(FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    if (!wfx) return mt;
    wfx->wFormatTag = WAVE_FORMAT_PCM;
    wfx->nChannels = 2;
    wfx->nSamplesPerSec = static_cast<DWORD>(rate);
    wfx->wBitsPerSample = 16;
    wfx->nBlockAlign = 4;
    wfx->nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    mt.SetSampleSize(4);
    return mt;
  }

  bool IsVideo() const { return video_; }

 private:
  bool video_;
  CBaseInputPin* input_;
  std::unique_ptr<CPosPassThru> seeking_;
};

class CDvSplitter final : public CBaseFilter, public IDVSplitter {
 public:
  explicit CDvSplitter(IUnknown* outer)
      : CBaseFilter("DV splitter", outer, &filterLock_, CLSID_DVSplitter),
        input_(this, &filterLock_),
        video_(this, &filterLock_, u"DVVidOut0", true, &input_),
        audio_(this, &filterLock_, u"AudOut00", false, &input_) {}
  ~CDvSplitter() override { swr_free(&resampler_); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IDVSplitter) return GetInterface(static_cast<IDVSplitter*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return 3; }
  CBasePin* GetPin(int n) override {
    switch (n) {
      case 0: return &input_;
      case 1: return &video_;
      case 2: return &audio_;
      default: return nullptr;
    }
  }

  HRESULT Pause() override {
    std::lock_guard lock(filterLock_);
    if (State() == State_Stopped) {
      frames_ = 0;
      audioTime_ = -1;
    }
    return CBaseFilter::Pause();
  }

  HRESULT DiscardAlternateVideoFrames(int discard) override {
    discard_ = discard != 0;
    return S_OK;
  }

  // ---- streaming ----

  HRESULT Receive(IMediaSample* sample) {
    std::lock_guard lock(receiveLock_);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (!data || length <= 0) return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
    const bool preroll = sample->IsPreroll() == S_OK;
    const bool discontinuity = sample->IsDiscontinuity() == S_OK;

    HRESULT videoResult = S_OK;
    const bool keep = !discard_.load() || frames_ % 2 == 0;
    ++frames_;
    if (video_.IsConnected() && keep) {
      const DvGeometry g = DvGeometryOfType(input_.CurrentMediaType());
      REFERENCE_TIME vstop = timed ? stop : 0;
      // A kept frame stands for the dropped one after it.
      if (timed && discard_.load()) vstop = start + 2 * std::max<REFERENCE_TIME>(stop - start, g.frameInterval);
      videoResult = DeliverBytes(&video_, data, static_cast<size_t>(length), timed ? &start : nullptr, &vstop, preroll, discontinuity);
    }
    HRESULT audioResult = S_OK;
    if (audio_.IsConnected()) {
      DvSound sound;
      const CMediaType type = audio_.CurrentMediaType();
      const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
      if (ExtractDvSound(data, static_cast<size_t>(length), &sound) && !sound.pairs.empty() && !sound.pairs[0].empty() &&
          sound.channels == 2 && wfx) {
        const int rate = static_cast<int>(wfx->nSamplesPerSec);
        // A tape whose sound changes rate (a 32 kHz scene after a 48 kHz one) keeps the
        // connected rate: the frame's sound is converted rather than left out or mislabelled.
        if (sound.rate != rate) Resample(sound.rate, rate, &sound.pairs[0]);
        const std::vector<uint8_t>& pcm = sound.pairs[0];
        const REFERENCE_TIME count = static_cast<REFERENCE_TIME>(pcm.size() / 4);
        REFERENCE_TIME astart = timed ? start : std::max<REFERENCE_TIME>(audioTime_, 0);
        REFERENCE_TIME astop = astart + count * 10000000 / rate;
        audioTime_ = astop;
        if (!pcm.empty()) audioResult = DeliverBytes(&audio_, pcm.data(), pcm.size(), &astart, &astop, preroll, discontinuity);
      }
    }
    // The stream goes on while one of the outputs still takes samples.
    const bool videoOpen = video_.IsConnected() && videoResult == S_OK;
    const bool audioOpen = audio_.IsConnected() && audioResult == S_OK;
    if (videoOpen || audioOpen) return S_OK;
    if (FAILED(videoResult)) return videoResult;
    if (FAILED(audioResult)) return audioResult;
    return S_FALSE;
  }

  HRESULT EndOfStream() {
    std::lock_guard lock(receiveLock_);
    for (CDvOutputPin* pin : {&video_, &audio_})
      if (pin->IsConnected()) pin->DeliverEndOfStream();
    return S_OK;
  }
  HRESULT BeginFlush() {
    for (CDvOutputPin* pin : {&video_, &audio_})
      if (pin->IsConnected()) pin->DeliverBeginFlush();
    return S_OK;
  }
  HRESULT EndFlush() {
    {
      std::lock_guard lock(receiveLock_);
      frames_ = 0;
      audioTime_ = -1;
    }
    for (CDvOutputPin* pin : {&video_, &audio_})
      if (pin->IsConnected()) pin->DeliverEndFlush();
    return S_OK;
  }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    for (CDvOutputPin* pin : {&video_, &audio_})
      if (pin->IsConnected()) pin->DeliverNewSegment(start, stop, rate);
    return S_OK;
  }

 private:
  void Resample(int from, int to, std::vector<uint8_t>* pcm) {
    if (!resampler_ || resampleFrom_ != from || resampleTo_ != to) {
      swr_free(&resampler_);
      AVChannelLayout stereo{};
      av_channel_layout_default(&stereo, 2);
      if (swr_alloc_set_opts2(&resampler_, &stereo, AV_SAMPLE_FMT_S16, to, &stereo, AV_SAMPLE_FMT_S16, from, 0, nullptr) < 0 ||
          swr_init(resampler_) < 0) {
        swr_free(&resampler_);
        pcm->clear();
        return;
      }
      resampleFrom_ = from;
      resampleTo_ = to;
    }
    const int in = static_cast<int>(pcm->size() / 4);
    std::vector<uint8_t> out(static_cast<size_t>(swr_get_out_samples(resampler_, in) + 16) * 4);
    const uint8_t* inPlanes[1] = {pcm->data()};
    uint8_t* outPlanes[1] = {out.data()};
    const int made = swr_convert(resampler_, outPlanes, static_cast<int>(out.size() / 4), inPlanes, in);
    out.resize(made > 0 ? static_cast<size_t>(made) * 4 : 0);
    pcm->swap(out);
  }

  static HRESULT DeliverBytes(CDvOutputPin* pin, const uint8_t* bytes, size_t size, REFERENCE_TIME* start,
                              REFERENCE_TIME* stop, bool preroll, bool discontinuity) {
    IMediaSample* out = nullptr;
    HRESULT hr = pin->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr) || !out) return FAILED(hr) ? hr : E_FAIL;
    BYTE* target = nullptr;
    out->GetPointer(&target);
    if (static_cast<size_t>(out->GetSize()) < size) {
      out->Release();
      return E_UNEXPECTED;  // the buffers were sized for whole frames
    }
    std::memcpy(target, bytes, size);
    out->SetActualDataLength(static_cast<LONG>(size));
    out->SetTime(start, start ? stop : nullptr);
    out->SetSyncPoint(1);
    out->SetPreroll(preroll);
    out->SetDiscontinuity(discontinuity);
    hr = pin->Deliver(out);
    out->Release();
    return hr;
  }

  std::recursive_mutex filterLock_;
  std::mutex receiveLock_;
  CDvInputPin input_;
  CDvOutputPin video_;
  CDvOutputPin audio_;
  std::atomic<bool> discard_{false};
  int64_t frames_ = 0;
  REFERENCE_TIME audioTime_ = -1;
  SwrContext* resampler_ = nullptr;
  int resampleFrom_ = 0, resampleTo_ = 0;
};

CDvInputPin::CDvInputPin(CDvSplitter* filter, std::recursive_mutex* lock)
    : CBaseInputPin("DV splitter input", filter, lock, nullptr, u"Input"), splitter_(filter) {}

HRESULT CDvInputPin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  // A camcorder's DV video pin carries whole frames, sound included, just as an interleaved one.
  return IsDvType(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CDvInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  return splitter_->Receive(sample);
}

HRESULT CDvInputPin::EndOfStream() {
  if (CheckStreaming() != S_OK) return S_OK;
  return splitter_->EndOfStream();
}

HRESULT CDvInputPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  return splitter_->BeginFlush();
}

HRESULT CDvInputPin::EndFlush() {
  const HRESULT hr = splitter_->EndFlush();
  CBaseInputPin::EndFlush();
  return hr;
}

HRESULT CDvInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBasePin::NewSegment(start, stop, rate);
  return splitter_->NewSegment(start, stop, rate);
}

}  // namespace

CUnknown* CreateDvSplitter(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CDvSplitter(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

}  // namespace kestrom::dshow
