#include "platform/dshow/base/Renderer.h"

#include "platform/com/ComPtr.h"

#include <algorithm>
#include <chrono>

namespace kestrom::dshow {

using namespace com;

// ---- pin ----

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* hr, LPCWSTR name)
    : CBaseInputPin("renderer input pin", renderer, renderer->FilterLock(), hr, name), renderer_(renderer) {}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* type) { return renderer_->CheckMediaType(type); }

HRESULT CRendererInputPin::SetMediaType(const CMediaType* type) {
  const HRESULT hr = CBaseInputPin::SetMediaType(type);
  return FAILED(hr) ? hr : renderer_->SetMediaType(type);
}

HRESULT CRendererInputPin::BreakConnect() {
  renderer_->BreakConnect();
  return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = renderer_->CompleteConnect(receivePin);
  return FAILED(hr) ? hr : CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  return renderer_->Receive(sample);
}

HRESULT CRendererInputPin::EndOfStream() {
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  return renderer_->EndOfStream();
}

HRESULT CRendererInputPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  return renderer_->BeginFlush();
}

HRESULT CRendererInputPin::EndFlush() {
  renderer_->EndFlush();
  return CBaseInputPin::EndFlush();
}

HRESULT CRendererInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return CBaseInputPin::NewSegment(start, stop, rate);
}

// ---- renderer ----

CBaseRenderer::CBaseRenderer(const char* objectName, IUnknown* outer, REFCLSID clsid, LPCWSTR pinName)
    : CBaseFilter(objectName, outer, &filterLock_, clsid) {
  HRESULT hr = S_OK;
  input_ = std::make_unique<CRendererInputPin>(this, &hr, pinName);
  seeking_ = std::make_unique<CPosPassThru>("renderer seeking", GetOwner(), input_.get());
}

CBaseRenderer::~CBaseRenderer() {
  std::lock_guard lock(renderLock_);
  ReleaseHeldLocked();
}

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
  if (iid == IID_IMediaSeeking) return seeking_->NonDelegatingQueryInterface(iid, object);
  if (iid == IID_IVideoFrameStep && CanFrameStep()) return GetInterface(static_cast<IVideoFrameStep*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* CBaseRenderer::GetPin(int n) { return n == 0 ? input_.get() : nullptr; }

void CBaseRenderer::ReleaseHeldLocked() {
  if (held_) {
    held_->Release();
    held_ = nullptr;
  }
}

bool CBaseRenderer::MustLeaveLocked() const { return state_ == State_Stopped || flushing_; }

// Events are posted with no render lock held: the graph's event lock comes after the filters' locks.
bool CBaseRenderer::CompleteDueLocked() {
  if (completeSent_) return false;
  completeSent_ = true;
  return true;
}

void CBaseRenderer::SendComplete() {
  NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

HRESULT CBaseRenderer::Stop() {
  std::lock_guard lock(filterLock_);
  if (state_ == State_Stopped) return S_OK;
  // The state changes first so that a waiting Receive leaves and no new sample is held; the
  // pin's Inactive then decommits the allocator, which wakes an upstream GetBuffer.
  {
    std::lock_guard render(renderLock_);
    state_ = State_Stopped;
    ReleaseHeldLocked();
    ready_ = false;
    eos_ = false;
    completeSent_ = false;
    stepLeft_ = 0;
    stepping_ = false;
  }
  changed_.notify_all();
  const HRESULT hr = input_->IsConnected() ? input_->Inactive() : S_OK;
  seeking_->ResetMediaTime();
  OnStopStreaming();
  return hr;
}

HRESULT CBaseRenderer::Pause() {
  std::lock_guard lock(filterLock_);
  const FILTER_STATE old = state_;
  if (old == State_Stopped) {
    OnStartStreaming();
    std::lock_guard render(renderLock_);
    ready_ = !input_->IsConnected();
    eos_ = false;
    completeSent_ = false;
  }
  HRESULT hr;
  {
    std::lock_guard render(renderLock_);
    hr = CBaseFilter::Pause();
  }
  changed_.notify_all();
  return hr;
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME start) {
  std::lock_guard lock(filterLock_);
  if (state_ == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  bool complete = false;
  {
    std::lock_guard render(renderLock_);
    CBaseFilter::Run(start);
    stepLeft_ = 0;
    stepping_ = false;
    if (eos_) complete = CompleteDueLocked();
  }
  changed_.notify_all();
  if (complete) SendComplete();
  return S_OK;
}

HRESULT CBaseRenderer::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  std::unique_lock lock(renderLock_);
  if (state_ == State_Paused && !ready_) {
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return ready_ || state_ != State_Paused; });
  }
  *state = state_;
  if (state_ == State_Paused && !ready_) return VFW_S_STATE_INTERMEDIATE;
  return S_OK;
}

HRESULT CBaseRenderer::CanStep(LONG, IUnknown*) { return CanFrameStep() ? S_OK : S_FALSE; }

HRESULT CBaseRenderer::Step(DWORD frames, IUnknown*) {
  if (frames == 0) return E_INVALIDARG;
  bool ended = false;
  {
    std::lock_guard render(renderLock_);
    if (state_ != State_Paused) return VFW_E_NOT_PAUSED;
    stepLeft_ = frames;
    stepping_ = true;
    // The held frame was shown already: let the stream move on to the next one.
    ReleaseHeldLocked();
    if (eos_) {
      // Nothing more will come: the step ends where it stands.
      stepLeft_ = 0;
      stepping_ = false;
      ended = true;
    }
  }
  changed_.notify_all();
  if (ended) NotifyEvent(EC_STEP_COMPLETE, 0, 0);
  return S_OK;
}

HRESULT CBaseRenderer::CancelStep() {
  {
    std::lock_guard render(renderLock_);
    stepLeft_ = 0;
    stepping_ = false;
  }
  changed_.notify_all();
  return S_OK;
}

bool CBaseRenderer::HoldsSample() {
  std::lock_guard render(renderLock_);
  return held_ != nullptr;
}

HRESULT CBaseRenderer::Receive(IMediaSample* sample) {
  std::unique_lock lock(renderLock_);
  if (eos_) return VFW_E_SAMPLE_REJECTED_EOS;
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
  if (timed) seeking_->RegisterMediaTime(input_->SegmentStart() + start);

  bool held = false;  // this sample became the paused frame
  for (;;) {
    if (MustLeaveLocked()) return state_ == State_Stopped ? VFW_E_WRONG_STATE : S_FALSE;
    // A step let go of it: it was shown, the stream moves on.
    if (held && held_ != sample) return S_OK;
    if (state_ == State_Paused) {
      if (held) {
        changed_.wait(lock);
        continue;
      }
      // A step shows frames while paused; the last one (or a plain paused frame) is held.
      const bool stepping = stepping_;
      if (stepping && stepLeft_ > 1) {
        --stepLeft_;
        lock.unlock();
        OnReceiveFirstSample(sample);
        return S_OK;
      }
      ReleaseHeldLocked();
      held_ = sample;
      held_->AddRef();
      held = true;
      // The paused state is complete once the frame is shown, not before: a caller that
      // waited in GetState reads the picture it paused on.
      lock.unlock();
      OnReceiveFirstSample(sample);
      lock.lock();
      if (held_ == sample) ready_ = true;
      const bool stepDone = stepping && stepping_;
      if (stepDone) {
        stepping_ = false;
        stepLeft_ = 0;
      }
      changed_.notify_all();
      if (stepDone) {
        lock.unlock();
        NotifyEvent(EC_STEP_COMPLETE, 0, 0);
        lock.lock();
      }
      continue;
    }
    // Running: wait for the sample's time on the reference clock, if there is one.
    if (timed && ScheduleSamples()) {
      IReferenceClock* clock = clock_;
      if (clock) {
        REFERENCE_TIME now = 0;
        clock->GetTime(&now);
        const REFERENCE_TIME due = runStart_.load() + start;
        if (now < due) {
          const auto wait = std::chrono::microseconds(std::min<REFERENCE_TIME>((due - now) / 10, 100000));
          changed_.wait_for(lock, wait);
          continue;
        }
      }
    }
    if (held_ == sample) ReleaseHeldLocked();
    break;
  }
  lock.unlock();
  return DoRenderSample(sample);
}

HRESULT CBaseRenderer::EndOfStream() {
  bool stepDone = false, complete = false;
  {
    std::lock_guard lock(renderLock_);
    if (MustLeaveLocked()) return S_OK;
    eos_ = true;
    ready_ = true;
    if (stepping_) {
      stepping_ = false;
      stepLeft_ = 0;
      stepDone = true;
    }
    if (state_ == State_Running) complete = CompleteDueLocked();
  }
  changed_.notify_all();
  if (stepDone) NotifyEvent(EC_STEP_COMPLETE, 0, 0);
  if (complete) SendComplete();
  return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
  {
    std::lock_guard lock(renderLock_);
    flushing_ = true;
    ReleaseHeldLocked();
    eos_ = false;
    completeSent_ = false;
  }
  changed_.notify_all();
  return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
  {
    std::lock_guard lock(renderLock_);
    flushing_ = false;
    // Paused, the renderer waits for the new paused frame.
    if (state_ == State_Paused) ready_ = false;
  }
  seeking_->ResetMediaTime();
  changed_.notify_all();
  return S_OK;
}

}  // namespace kestrom::dshow
