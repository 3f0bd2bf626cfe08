#include "platform/dshow/writers/AudioRenderer.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <algorithm>
#include <chrono>
#include <new>

#ifdef KESTROM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace kestrom::dshow {

using namespace com;

namespace {

// A wait for the clock wakes at least this often, so that a clock moved by hand is noticed.
constexpr auto kPoll = std::chrono::milliseconds(5);

// The device can only use a type it can open.
bool PlayablePcm(const AM_MEDIA_TYPE& type) {
  const WAVEFORMATEX* wf = WaveFormat(type);
  return type.majortype == MEDIATYPE_Audio && wf && wf->wFormatTag == WAVE_FORMAT_PCM &&
         (wf->wBitsPerSample == 16 || wf->wBitsPerSample == 8) && wf->nChannels >= 1 && wf->nChannels <= 8 &&
         wf->nSamplesPerSec >= 1000 && wf->nSamplesPerSec <= 192000 && wf->nBlockAlign == wf->nChannels * wf->wBitsPerSample / 8;
}

}  // namespace

class CAudioRenderer::InputPin final : public CBaseInputPin {
 public:
  InputPin(CAudioRenderer* renderer, std::recursive_mutex* lock)
      : CBaseInputPin("audio renderer input", renderer, lock, nullptr, u"Audio Input pin (rendered)"), renderer_(renderer) {}

  HRESULT CheckMediaType(const CMediaType* type) override { return PlayablePcm(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return renderer_->Render(sample);
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    renderer_->EndOfStreamReached();
    return S_OK;
  }
  HRESULT BeginFlush() override {
    renderer_->Flushing(true);
    return CBaseInputPin::BeginFlush();
  }
  HRESULT EndFlush() override {
    renderer_->Flushing(false);
    return CBaseInputPin::EndFlush();
  }
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
    CBaseInputPin::NewSegment(start, stop, rate);
    return renderer_->NewSegmentRate(rate);
  }

 private:
  CAudioRenderer* renderer_;
};

CAudioRenderer::CAudioRenderer(IUnknown* outer)
    : CBaseFilter("audio renderer", outer, &filterLock_, CLSID_AudioRender), clock_(&core::SystemClock()) {
  pin_ = std::make_unique<InputPin>(this, &filterLock_);
}

CAudioRenderer::~CAudioRenderer() { CloseDevice(); }

CUnknown* CAudioRenderer::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CAudioRenderer(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

HRESULT CAudioRenderer::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), object);
  if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* CAudioRenderer::GetPin(int n) { return n == 0 ? pin_.get() : nullptr; }

void CAudioRenderer::SetClock(const core::Clock* clock) {
  std::lock_guard lock(waitLock_);
  clock_ = clock ? clock : &core::SystemClock();
}

void CAudioRenderer::UseDevice(bool use) {
  std::lock_guard lock(filterLock_);
  useDevice_ = use;
}

int64_t CAudioRenderer::BytesRendered() const {
  std::lock_guard lock(waitLock_);
  return bytesRendered_;
}

HRESULT CAudioRenderer::Pause() {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) {
    {
      std::lock_guard wait(waitLock_);
      stopping_ = false;
      running_ = false;
      bytesRendered_ = 0;
      runStartMs_ = clock_->NowMs();
      pausedAtMs_ = runStartMs_;
    }
#ifdef KESTROM_HAVE_ALSA
    const WAVEFORMATEX* wf = WaveFormat(pin_->CurrentMediaType());
    if (useDevice_ && pin_->IsConnected() && wf && !pcm_) {
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
  } else {
    std::lock_guard wait(waitLock_);
    if (running_) pausedAtMs_ = clock_->NowMs();
    running_ = false;
  }
  return CBaseFilter::Pause();
}

HRESULT CAudioRenderer::Run(REFERENCE_TIME start) {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  {
    std::lock_guard wait(waitLock_);
    if (!running_) {
      const int64_t now = clock_->NowMs();
      if (pausedAtMs_ >= 0) runStartMs_ += now - pausedAtMs_;
      pausedAtMs_ = -1;
      running_ = true;
    }
  }
  wake_.notify_all();
  return CBaseFilter::Run(start);
}

HRESULT CAudioRenderer::Stop() {
  {
    std::lock_guard wait(waitLock_);
    stopping_ = true;
    running_ = false;
  }
  wake_.notify_all();
  std::lock_guard lock(filterLock_);
  const HRESULT hr = CBaseFilter::Stop();
  CloseDevice();
  return hr;
}

void CAudioRenderer::CloseDevice() {
#ifdef KESTROM_HAVE_ALSA
  if (pcm_) {
    snd_pcm_drop(static_cast<snd_pcm_t*>(pcm_));
    snd_pcm_close(static_cast<snd_pcm_t*>(pcm_));
  }
#endif
  pcm_ = nullptr;
}

REFERENCE_TIME CAudioRenderer::StreamTimeLocked() const {
  const int64_t now = running_ ? clock_->NowMs() : (pausedAtMs_ >= 0 ? pausedAtMs_ : clock_->NowMs());
  return (now - runStartMs_) * 10000;
}

HRESULT CAudioRenderer::Render(IMediaSample* sample) {
  const WAVEFORMATEX* wf = WaveFormat(pin_->CurrentMediaType());
  if (!wf) return VFW_E_NOT_CONNECTED;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timed = sample->GetTime(&start, &stop);
  const REFERENCE_TIME duration = wf->nAvgBytesPerSec ? REFERENCE_TIME(length) * 10000000 / wf->nAvgBytesPerSec : 0;

  std::unique_lock wait(waitLock_);
  if (timed != S_OK) stop = (timed == VFW_S_NO_STOP_TIME ? start : StreamTimeLocked()) + duration;
  // Paused: hold the sample until the graph runs (or stops, or flushes).
  while (!running_ && !stopping_ && !flushing_) wake_.wait_for(wait, kPoll);
  if (stopping_ || flushing_) return S_FALSE;

#ifdef KESTROM_HAVE_ALSA
  if (pcm_) {
    wait.unlock();
    auto* pcm = static_cast<snd_pcm_t*>(pcm_);
    const snd_pcm_sframes_t frames = length / wf->nBlockAlign;
    snd_pcm_sframes_t done = 0;
    while (done < frames) {
      const snd_pcm_sframes_t n = snd_pcm_writei(pcm, data + done * wf->nBlockAlign, snd_pcm_uframes_t(frames - done));
      if (n < 0) {
        if (snd_pcm_recover(pcm, int(n), 1) < 0) break;
        continue;
      }
      done += n;
    }
    wait.lock();
    bytesRendered_ += length;
    return S_OK;
  }
#endif
  // No device: the sample is used up when the clock reaches its end.
  while (!stopping_ && !flushing_ && (!running_ || StreamTimeLocked() < stop)) wake_.wait_for(wait, kPoll);
  if (stopping_ || flushing_) return S_FALSE;
  bytesRendered_ += length;
  return S_OK;
}

HRESULT CAudioRenderer::NewSegmentRate(double rate) { return rate == 1.0 ? S_OK : VFW_E_UNSUPPORTED_AUDIO; }

void CAudioRenderer::EndOfStreamReached() {
#ifdef KESTROM_HAVE_ALSA
  if (pcm_) snd_pcm_drain(static_cast<snd_pcm_t*>(pcm_));
#endif
  Notify(EC_COMPLETE, S_OK, 0);
}

void CAudioRenderer::Flushing(bool flushing) {
  {
    std::lock_guard wait(waitLock_);
    flushing_ = flushing;
  }
  wake_.notify_all();
#ifdef KESTROM_HAVE_ALSA
  if (flushing && pcm_) {
    snd_pcm_drop(static_cast<snd_pcm_t*>(pcm_));
    snd_pcm_prepare(static_cast<snd_pcm_t*>(pcm_));
  }
#endif
}

void CAudioRenderer::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  IFilterGraph* graph = graph_;
  if (!graph) return;
  ComPtr<IMediaEventSink> sink;
  if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid())) && sink) sink->Notify(code, param1, param2);
}

HRESULT CAudioRenderer::GetTime(REFERENCE_TIME* time) {
  if (!time) return E_POINTER;
  std::lock_guard wait(waitLock_);
  *time = clock_->NowMs() * 10000;
  return S_OK;
}

// ---- IMediaSeeking ----

ComPtr<IMediaSeeking> CAudioRenderer::Upstream() {
  ComPtr<IMediaSeeking> seeking;
  IPin* peer = pin_->GetConnected();
  if (!peer) return seeking;
  if (SUCCEEDED(peer->QueryInterface(IID_IMediaSeeking, seeking.PutVoid())) && seeking) return seeking;
  PIN_INFO info{};
  if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
    ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
    filter->QueryInterface(IID_IMediaSeeking, seeking.PutVoid());
  }
  return seeking;
}

#define KESTROM_FORWARD_SEEKING(call)          \
  ComPtr<IMediaSeeking> upstream = Upstream(); \
  return upstream ? upstream->call : E_NOTIMPL;

HRESULT CAudioRenderer::GetCapabilities(DWORD* c) { KESTROM_FORWARD_SEEKING(GetCapabilities(c)) }
HRESULT CAudioRenderer::CheckCapabilities(DWORD* c) { KESTROM_FORWARD_SEEKING(CheckCapabilities(c)) }
HRESULT CAudioRenderer::IsFormatSupported(const GUID* f) { KESTROM_FORWARD_SEEKING(IsFormatSupported(f)) }
HRESULT CAudioRenderer::QueryPreferredFormat(GUID* f) { KESTROM_FORWARD_SEEKING(QueryPreferredFormat(f)) }
HRESULT CAudioRenderer::GetTimeFormat(GUID* f) { KESTROM_FORWARD_SEEKING(GetTimeFormat(f)) }
HRESULT CAudioRenderer::IsUsingTimeFormat(const GUID* f) { KESTROM_FORWARD_SEEKING(IsUsingTimeFormat(f)) }
HRESULT CAudioRenderer::SetTimeFormat(const GUID* f) { KESTROM_FORWARD_SEEKING(SetTimeFormat(f)) }
HRESULT CAudioRenderer::GetDuration(LONGLONG* d) { KESTROM_FORWARD_SEEKING(GetDuration(d)) }
HRESULT CAudioRenderer::GetStopPosition(LONGLONG* s) { KESTROM_FORWARD_SEEKING(GetStopPosition(s)) }
HRESULT CAudioRenderer::GetCurrentPosition(LONGLONG* c) { KESTROM_FORWARD_SEEKING(GetCurrentPosition(c)) }
HRESULT CAudioRenderer::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s, const GUID* sf) {
  KESTROM_FORWARD_SEEKING(ConvertTimeFormat(t, tf, s, sf))
}
HRESULT CAudioRenderer::SetPositions(LONGLONG* c, DWORD cf, LONGLONG* s, DWORD sf) {
  KESTROM_FORWARD_SEEKING(SetPositions(c, cf, s, sf))
}
HRESULT CAudioRenderer::GetPositions(LONGLONG* c, LONGLONG* s) { KESTROM_FORWARD_SEEKING(GetPositions(c, s)) }
HRESULT CAudioRenderer::GetAvailable(LONGLONG* e, LONGLONG* l) { KESTROM_FORWARD_SEEKING(GetAvailable(e, l)) }
HRESULT CAudioRenderer::GetPreroll(LONGLONG* p) { KESTROM_FORWARD_SEEKING(GetPreroll(p)) }

#undef KESTROM_FORWARD_SEEKING

// Sound is played at its own rate only: other rates fail, so callers fall back to stepping.
HRESULT CAudioRenderer::SetRate(double rate) { return rate == 1.0 ? S_OK : VFW_E_UNSUPPORTED_AUDIO; }

HRESULT CAudioRenderer::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  *rate = 1.0;
  return S_OK;
}

}  // namespace kestrom::dshow
