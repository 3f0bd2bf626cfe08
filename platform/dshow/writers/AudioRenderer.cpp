#include "platform/dshow/writers/AudioRenderer.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#ifdef KESTROM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace kestrom::dshow {

using namespace com;

namespace {

bool PlayablePcm(const AM_MEDIA_TYPE& type) {
  const WAVEFORMATEX* wf = WaveFormat(type);
  return type.majortype == MEDIATYPE_Audio && wf && wf->wFormatTag == WAVE_FORMAT_PCM &&
         (wf->wBitsPerSample == 16 || wf->wBitsPerSample == 8) && wf->nChannels >= 1 && wf->nChannels <= 8 &&
         wf->nSamplesPerSec >= 1000 && wf->nSamplesPerSec <= 192000 &&
         wf->nBlockAlign == wf->nChannels * wf->wBitsPerSample / 8;
}

// Attenuation in hundredths of a decibel as an amplitude factor; -10000 and below is silence.
double Gain(LONG hundredthsDb) { return hundredthsDb <= -10000 ? 0.0 : std::pow(10.0, hundredthsDb / 2000.0); }

}  // namespace

void ApplyVolumeAndBalance(BYTE* data, LONG length, const WAVEFORMATEX& format, LONG volume, LONG balance) {
  const int channels = std::max<int>(1, format.nChannels);
  const double base = Gain(volume);
  // Balance attenuates one side of a stereo (or wider) stream: channel 0 is left, 1 right.
  const double left = channels >= 2 ? base * Gain(balance > 0 ? -balance : 0) : base;
  const double right = channels >= 2 ? base * Gain(balance < 0 ? balance : 0) : base;
  auto gainOf = [&](int channel) { return channel == 0 ? left : channel == 1 ? right : base; };
  if (format.wBitsPerSample == 16) {
    const LONG samples = length / 2;
    for (LONG i = 0; i < samples; ++i) {
      int16_t v;
      std::memcpy(&v, data + 2 * i, 2);
      v = int16_t(std::clamp(std::lround(v * gainOf(int(i % channels))), -32768L, 32767L));
      std::memcpy(data + 2 * i, &v, 2);
    }
  } else if (format.wBitsPerSample == 8) {
    for (LONG i = 0; i < length; ++i)
      data[i] = BYTE(std::clamp(128L + std::lround((int(data[i]) - 128) * gainOf(int(i % channels))), 0L, 255L));
  }
}

struct CAudioRenderer::ClockSource {
  std::atomic<const core::Clock*> clock{&core::SystemClock()};
};

// The renderer's reference clock. The graph keeps it and hands it to every filter, the renderer
// included; as its own object it holds no reference back, so no filter ends up owning itself.
class CAudioRenderer::Clock final : public CUnknown, public IReferenceClock {
 public:
  explicit Clock(std::shared_ptr<ClockSource> source) : CUnknown("audio renderer clock", nullptr), source_(std::move(source)) {}
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT GetTime(REFERENCE_TIME* time) override {
    if (!time) return E_POINTER;
    *time = source_->clock.load()->NowMs() * 10000;
    return S_OK;
  }

 private:
  std::shared_ptr<ClockSource> source_;
};

CAudioRenderer::CAudioRenderer(IUnknown* outer)
    : CBaseRenderer("audio renderer", outer, CLSID_AudioRender, u"Audio Input pin (rendered)"),
      clockSource_(std::make_shared<ClockSource>()) {
  clock_object_ = new Clock(clockSource_);
  clock_object_->NonDelegatingAddRef();
}

CAudioRenderer::~CAudioRenderer() {
  CloseDevice();
  clock_object_->NonDelegatingRelease();
}

CUnknown* CAudioRenderer::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CAudioRenderer(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

HRESULT CAudioRenderer::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IReferenceClock) return clock_object_->NonDelegatingQueryInterface(iid, object);
  if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
  if (iid == IID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), object);
  return CBaseRenderer::NonDelegatingQueryInterface(iid, object);
}

void CAudioRenderer::SetClock(const core::Clock* clock) { clockSource_->clock = clock ? clock : &core::SystemClock(); }

void CAudioRenderer::UseDevice(bool use) {
  std::lock_guard lock(filterLock_);
  useDevice_ = use;
}

int64_t CAudioRenderer::BytesRendered() const {
  std::lock_guard lock(countLock_);
  return bytesRendered_;
}

HRESULT CAudioRenderer::CheckMediaType(const CMediaType* type) { return PlayablePcm(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }

void CAudioRenderer::OnStartStreaming() {
  {
    std::lock_guard lock(countLock_);
    bytesRendered_ = 0;
  }
#ifdef KESTROM_HAVE_ALSA
  const WAVEFORMATEX* wf = WaveFormat(InputPin()->CurrentMediaType());
  if (useDevice_ && InputPin()->IsConnected() && wf && !pcm_) {
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) >= 0) {
      if (snd_pcm_set_params(pcm, wf->wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE,
                             SND_PCM_ACCESS_RW_INTERLEAVED, wf->nChannels, wf->nSamplesPerSec, 1, 200000) >= 0)
        pcm_ = pcm;
      else
        snd_pcm_close(pcm);
    }
  }
#endif
}

void CAudioRenderer::OnStopStreaming() { CloseDevice(); }

void CAudioRenderer::CloseDevice() {
#ifdef KESTROM_HAVE_ALSA
  if (pcm_) {
    snd_pcm_drop(static_cast<snd_pcm_t*>(pcm_));
    snd_pcm_close(static_cast<snd_pcm_t*>(pcm_));
  }
#endif
  pcm_ = nullptr;
}

HRESULT CAudioRenderer::DoRenderSample(IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();
  const LONG volume = volume_.load(), balance = balance_.load();
  const WAVEFORMATEX* format = WaveFormat(InputPin()->CurrentMediaType());
  if ((volume != 0 || balance != 0) && format && data && length > 0) {
    // The sample may be shared with other consumers: scale a copy.
    scaled_.assign(data, data + length);
    ApplyVolumeAndBalance(scaled_.data(), length, *format, volume, balance);
    data = scaled_.data();
  }
#ifdef KESTROM_HAVE_ALSA
  if (pcm_) {
    const WAVEFORMATEX* wf = WaveFormat(InputPin()->CurrentMediaType());
    auto* pcm = static_cast<snd_pcm_t*>(pcm_);
    const snd_pcm_sframes_t frames = wf ? length / wf->nBlockAlign : 0;
    snd_pcm_sframes_t done = 0;
    while (done < frames) {
      const snd_pcm_sframes_t n = snd_pcm_writei(pcm, data + done * wf->nBlockAlign, snd_pcm_uframes_t(frames - done));
      if (n < 0) {
        if (snd_pcm_recover(pcm, int(n), 1) < 0) break;  // an underrun after a stall: start again
        continue;
      }
      done += n;
    }
  }
#endif
  std::lock_guard lock(countLock_);
  bytesRendered_ += length;
  return S_OK;
}

// ---- IMediaSeeking ----

HRESULT CAudioRenderer::GetCapabilities(DWORD* c) { return seeking_->GetCapabilities(c); }
HRESULT CAudioRenderer::CheckCapabilities(DWORD* c) { return seeking_->CheckCapabilities(c); }
HRESULT CAudioRenderer::IsFormatSupported(const GUID* f) { return seeking_->IsFormatSupported(f); }
HRESULT CAudioRenderer::QueryPreferredFormat(GUID* f) { return seeking_->QueryPreferredFormat(f); }
HRESULT CAudioRenderer::GetTimeFormat(GUID* f) { return seeking_->GetTimeFormat(f); }
HRESULT CAudioRenderer::IsUsingTimeFormat(const GUID* f) { return seeking_->IsUsingTimeFormat(f); }
HRESULT CAudioRenderer::SetTimeFormat(const GUID* f) { return seeking_->SetTimeFormat(f); }
HRESULT CAudioRenderer::GetDuration(LONGLONG* d) { return seeking_->GetDuration(d); }
HRESULT CAudioRenderer::GetStopPosition(LONGLONG* s) { return seeking_->GetStopPosition(s); }
HRESULT CAudioRenderer::GetCurrentPosition(LONGLONG* c) { return seeking_->GetCurrentPosition(c); }
HRESULT CAudioRenderer::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s, const GUID* sf) {
  return seeking_->ConvertTimeFormat(t, tf, s, sf);
}
HRESULT CAudioRenderer::SetPositions(LONGLONG* c, DWORD cf, LONGLONG* s, DWORD sf) { return seeking_->SetPositions(c, cf, s, sf); }
HRESULT CAudioRenderer::GetPositions(LONGLONG* c, LONGLONG* s) { return seeking_->GetPositions(c, s); }
HRESULT CAudioRenderer::GetAvailable(LONGLONG* e, LONGLONG* l) { return seeking_->GetAvailable(e, l); }
HRESULT CAudioRenderer::GetPreroll(LONGLONG* p) { return seeking_->GetPreroll(p); }

// Sound plays at its own rate only: other rates fail, so callers fall back to stepping.
HRESULT CAudioRenderer::SetRate(double rate) { return rate == 1.0 ? seeking_->SetRate(rate) : VFW_E_UNSUPPORTED_AUDIO; }

HRESULT CAudioRenderer::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  *rate = 1.0;
  return S_OK;
}

// ---- IBasicAudio ----

HRESULT CAudioRenderer::put_Volume(LONG volume) {
  if (volume < -10000 || volume > 0) return E_INVALIDARG;
  volume_ = volume;
  return S_OK;
}

HRESULT CAudioRenderer::get_Volume(LONG* volume) {
  if (!volume) return E_POINTER;
  *volume = volume_.load();
  return S_OK;
}

HRESULT CAudioRenderer::put_Balance(LONG balance) {
  if (balance < -10000 || balance > 10000) return E_INVALIDARG;
  balance_ = balance;
  return S_OK;
}

HRESULT CAudioRenderer::get_Balance(LONG* balance) {
  if (!balance) return E_POINTER;
  *balance = balance_.load();
  return S_OK;
}

}  // namespace kestrom::dshow
