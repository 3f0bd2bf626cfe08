#include "platform/dshow/writers/AudioRenderer.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <atomic>
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

}  // namespace

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

}  // namespace kestrom::dshow
