// The running side of the filter graph: state changes, the reference clock, events and their
// notification, seeking and frame stepping.

#include "platform/dshow/base/FilterGraph.h"

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/ReferenceClock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

namespace kestrom::dshow {

using namespace com;

namespace {

// Time between Run and stream time 0, so that every filter is running when the first sample is due.
constexpr REFERENCE_TIME kRunLatency = 10 * MILLISECONDS;

struct Poster {
  std::mutex mutex;
  GraphNotifyPoster poster;
};

Poster& ThePoster() {
  static auto* poster = new Poster;
  return *poster;
}

bool HasDefaultHandling(LONG code) {
  return code == EC_COMPLETE || code == EC_REPAINT || code == EC_CLOCK_CHANGED || code == EC_ACTIVATE ||
         code == EC_DISPLAY_CHANGED || code == EC_NEED_RESTART;
}

ULONG MiscFlags(IBaseFilter* filter) {
  ComPtr<IAMFilterMiscFlags> flags;
  if (FAILED(filter->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid())) || !flags) return 0;
  return flags->GetMiscFlags();
}

std::vector<ComPtr<IBaseFilter>> Downstream(IBaseFilter* filter) {
  std::vector<ComPtr<IBaseFilter>> result;
  for (const ComPtr<IPin>& out : FilterPins(filter, PINDIR_OUTPUT, false)) {
    ComPtr<IPin> peer;
    if (FAILED(out->ConnectedTo(peer.Put())) || !peer) continue;
    PIN_INFO info{};
    if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) result.push_back(ComPtr<IBaseFilter>::Attach(info.pFilter));
  }
  return result;
}

bool IsSink(IBaseFilter* filter) {
  for (const ComPtr<IPin>& out : FilterPins(filter, PINDIR_OUTPUT, false)) {
    ComPtr<IPin> peer;
    if (SUCCEEDED(out->ConnectedTo(peer.Put())) && peer) return false;
  }
  return true;
}

}  // namespace

DWORD WaitForSingleObject(OAEVENT handle, DWORD timeoutMs) {
  if (handle < 0 || handle > INT32_MAX) return WAIT_FAILED;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs != INFINITE) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
    }
    pollfd fd{static_cast<int>(handle), POLLIN, 0};
    const int ready = poll(&fd, 1, wait);
    if (ready > 0) return (fd.revents & POLLIN) ? WAIT_OBJECT_0 : WAIT_FAILED;
    if (ready == 0) return WAIT_TIMEOUT;
    if (errno != EINTR) return WAIT_FAILED;
  }
}

void SetGraphNotifyPoster(GraphNotifyPoster poster) {
  Poster& p = ThePoster();
  std::lock_guard lock(p.mutex);
  p.poster = std::move(poster);
}

std::vector<IBaseFilter*> CFilterGraph::DownstreamFirst() {
  std::vector<IBaseFilter*> pending;
  for (const Entry& e : filters_) pending.push_back(e.filter);
  std::vector<IBaseFilter*> ordered;
  while (!pending.empty()) {
    bool progress = false;
    for (auto it = pending.begin(); it != pending.end();) {
      bool ready = true;
      for (const ComPtr<IBaseFilter>& d : Downstream(*it)) {
        const bool done = std::any_of(ordered.begin(), ordered.end(), [&](IBaseFilter* o) { return IsSameObject(o, d.Get()); });
        const bool inGraph = std::any_of(pending.begin(), pending.end(), [&](IBaseFilter* p) { return IsSameObject(p, d.Get()); });
        if (!done && inGraph) ready = false;
      }
      if (ready) {
        ordered.push_back(*it);
        it = pending.erase(it);
        progress = true;
      } else {
        ++it;
      }
    }
    if (!progress) {  // a cycle cannot be ordered; take the rest as they are
      ordered.insert(ordered.end(), pending.begin(), pending.end());
      break;
    }
  }
  return ordered;
}

void CFilterGraph::ChooseDefaultClockLocked() {
  IReferenceClock* chosen = nullptr;
  // A renderer's clock first (the sound device sets the pace), then any filter's.
  for (int pass = 0; pass < 2 && !chosen; ++pass) {
    for (const Entry& e : filters_) {
      if (pass == 0 && !(MiscFlags(e.filter) & AM_FILTER_MISC_FLAGS_IS_RENDERER)) continue;
      IReferenceClock* clock = nullptr;
      if (SUCCEEDED(e.filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock))) && clock) {
        chosen = clock;
        break;
      }
    }
  }
  if (!chosen) chosen = CSystemClock::Create();
  if (clock_) clock_->Release();
  clock_ = chosen;
}

void CFilterGraph::DistributeClockLocked() {
  for (const Entry& e : filters_) e.filter->SetSyncSource(clock_);
}

int CFilterGraph::CountRenderers() {
  int count = 0;
  for (const Entry& e : filters_) {
    if (!(MiscFlags(e.filter) & AM_FILTER_MISC_FLAGS_IS_RENDERER)) continue;
    // Only a renderer fed by the graph will ever report the end of its stream.
    for (const ComPtr<IPin>& in : FilterPins(e.filter, PINDIR_INPUT, false)) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(in->ConnectedTo(peer.Put())) && peer) {
        ++count;
        break;
      }
    }
  }
  return count;
}

HRESULT CFilterGraph::PauseLocked() {
  if (state_ == State_Stopped) {
    if (!clockExplicit_) ChooseDefaultClockLocked();
    DistributeClockLocked();
    // Counted before the event lock is taken: a streaming thread posts under its filter's
    // locks, so the event lock must never wait for a filter's.
    const int renderers = CountRenderers();
    std::lock_guard events(eventMutex_);
    renderersExpected_ = renderers;
    renderersComplete_ = 0;
  } else if (state_ == State_Running && clock_) {
    REFERENCE_TIME now = 0;
    clock_->GetTime(&now);
    pausedAt_ = std::max<REFERENCE_TIME>(0, now - start_);
  }
  const std::vector<IBaseFilter*> order = DownstreamFirst();
  for (IBaseFilter* f : order) {
    const HRESULT hr = f->Pause();
    if (FAILED(hr)) {
      StopLocked();
      return hr;
    }
  }
  state_ = State_Paused;
  HRESULT result = S_OK;
  for (IBaseFilter* f : order) {
    FILTER_STATE s;
    const HRESULT hr = f->GetState(0, &s);
    if (hr == VFW_S_CANT_CUE) return VFW_S_CANT_CUE;
    if (hr == VFW_S_STATE_INTERMEDIATE) result = S_FALSE;
  }
  return result;
}

HRESULT CFilterGraph::RunLocked(REFERENCE_TIME start) {
  if (state_ == State_Stopped) {
    const HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
  }
  start_ = start;
  for (IBaseFilter* f : DownstreamFirst()) {
    const HRESULT hr = f->Run(start_);
    if (FAILED(hr)) {
      StopLocked();
      return hr;
    }
  }
  state_ = State_Running;
  return S_OK;
}

HRESULT CFilterGraph::StopLocked() {
  // Downstream first: a renderer lets go of its paused frame and refuses further samples, each
  // filter decommits its allocators and wakes its threads, and a source joins its streaming
  // threads only after everything they could wait on has been released.
  HRESULT result = S_OK;
  for (IBaseFilter* f : DownstreamFirst()) {
    const HRESULT hr = f->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  state_ = State_Stopped;
  pausedAt_ = 0;
  std::lock_guard events(eventMutex_);
  renderersComplete_ = 0;
  return result;
}

// ---- IMediaControl / IMediaFilter ----

HRESULT CFilterGraph::Run() {
  std::lock_guard lock(lock_);
  try {
    if (state_ == State_Running) return S_OK;
    if (state_ == State_Stopped) {
      const HRESULT hr = PauseLocked();
      if (FAILED(hr)) return hr;
    }
    // Without a clock, sample times are taken as they are; resuming keeps the stream time
    // reached when the graph paused.
    if (!clock_) return RunLocked(0);
    REFERENCE_TIME now = 0;
    clock_->GetTime(&now);
    return RunLocked(now + kRunLatency - pausedAt_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::Run(REFERENCE_TIME start) {
  std::lock_guard lock(lock_);
  try {
    return RunLocked(start);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::Pause() {
  std::lock_guard lock(lock_);
  try {
    return PauseLocked();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::Stop() {
  std::lock_guard lock(lock_);
  try {
    return StopLocked();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CFilterGraph::GetState(LONG timeoutMs, FILTER_STATE* state) {
  return GetState(static_cast<DWORD>(timeoutMs < 0 ? 0xFFFFFFFFu : static_cast<DWORD>(timeoutMs)), state);
}

HRESULT CFilterGraph::GetState(DWORD timeoutMs, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  std::vector<ComPtr<IBaseFilter>> filters;
  {
    std::lock_guard lock(lock_);
    *state = state_;
    if (state_ != State_Paused) return S_OK;
    for (const Entry& e : filters_) filters.emplace_back(e.filter);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  HRESULT result = S_OK;
  for (const ComPtr<IBaseFilter>& f : filters) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    FILTER_STATE s;
    const HRESULT hr = f->GetState(static_cast<DWORD>(std::max<int64_t>(0, left.count())), &s);
    if (hr == VFW_S_CANT_CUE) result = VFW_S_CANT_CUE;
    else if (hr == VFW_S_STATE_INTERMEDIATE && result == S_OK) result = VFW_S_STATE_INTERMEDIATE;
  }
  return result;
}

HRESULT CFilterGraph::StopWhenReady() {
  const HRESULT hr = Pause();
  if (FAILED(hr)) return hr;
  FILTER_STATE state;
  GetState(static_cast<LONG>(5000), &state);
  return Stop();
}

HRESULT CFilterGraph::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = CLSID_FilterGraph;
  return S_OK;
}

HRESULT CFilterGraph::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard lock(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  if (clock) clock->AddRef();
  if (clock_) clock_->Release();
  clock_ = clock;
  clockExplicit_ = true;
  DistributeClockLocked();
  QueueEvent({EC_CLOCK_CHANGED, 0, 0});
  return S_OK;
}

HRESULT CFilterGraph::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard lock(lock_);
  *clock = clock_;
  if (clock_) clock_->AddRef();
  return S_OK;
}

HRESULT CFilterGraph::SetDefaultSyncSource() {
  std::lock_guard lock(lock_);
  if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
  clockExplicit_ = false;
  ChooseDefaultClockLocked();
  DistributeClockLocked();
  return S_OK;
}

// ---- events ----

void CFilterGraph::QueueEvent(const Event& event) {
  std::lock_guard lock(eventMutex_);
  // Switched off, the graph keeps no events (nobody is listening).
  if (notifyFlags_ & AM_MEDIAEVENT_NONOTIFY) return;
  events_.push_back(event);
  SignalQueueLocked();
  eventArrived_.notify_all();
  if (notifyWindow_ && !(notifyFlags_ & AM_MEDIAEVENT_NONOTIFY)) {
    Poster& p = ThePoster();
    std::lock_guard posterLock(p.mutex);
    if (p.poster) p.poster(notifyWindow_, notifyMessage_, 0, notifyInstance_);
  }
}

HRESULT CFilterGraph::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  try {
    {
      std::lock_guard lock(eventMutex_);
      if (!cancelled_.count(code) && HasDefaultHandling(code)) {
        if (code != EC_COMPLETE) return S_OK;
        // One EC_COMPLETE for the program once every renderer finished.
        if (++renderersComplete_ < renderersExpected_) return S_OK;
        param1 = S_OK;
        param2 = 0;
      }
    }
    QueueEvent({code, param1, param2});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CFilterGraph::SignalQueueLocked() {
  const bool wanted = !events_.empty();
  if (eventHandle_ < 0 || wanted == eventSignalled_) return;
  if (wanted) {
    const uint64_t one = 1;
    if (write(eventHandle_, &one, sizeof one) != sizeof one) return;
  } else {
    uint64_t count = 0;
    if (read(eventHandle_, &count, sizeof count) != sizeof count) return;
  }
  eventSignalled_ = wanted;
}

HRESULT CFilterGraph::GetEventHandle(OAEVENT* handle) {
  if (!handle) return E_POINTER;
  *handle = eventHandle_;
  return eventHandle_ >= 0 ? S_OK : E_FAIL;
}

HRESULT CFilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) {
  if (!code || !param1 || !param2) return E_POINTER;
  std::unique_lock lock(eventMutex_);
  if (events_.empty() && timeoutMs != 0) {
    if (timeoutMs < 0) eventArrived_.wait(lock, [&] { return !events_.empty(); });
    else eventArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !events_.empty(); });
  }
  if (events_.empty()) {
    *code = 0;
    *param1 = *param2 = 0;
    return E_ABORT;
  }
  const Event e = events_.front();
  events_.pop_front();
  SignalQueueLocked();
  *code = e.code;
  *param1 = e.param1;
  *param2 = e.param2;
  return S_OK;
}

HRESULT CFilterGraph::WaitForCompletion(LONG timeoutMs, LONG* code) {
  if (!code) return E_POINTER;
  *code = 0;
  if (state_ != State_Running) return VFW_E_WRONG_STATE;
  std::unique_lock lock(eventMutex_);
  auto done = [&] {
    for (const Event& e : events_)
      if (e.code == EC_COMPLETE || e.code == EC_ERRORABORT || e.code == EC_USERABORT) {
        *code = e.code;
        return true;
      }
    return false;
  };
  if (timeoutMs < 0) eventArrived_.wait(lock, done);
  else eventArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  return *code ? S_OK : E_ABORT;
}

HRESULT CFilterGraph::CancelDefaultHandling(LONG code) {
  std::lock_guard lock(eventMutex_);
  if (!HasDefaultHandling(code)) return S_FALSE;
  cancelled_.insert(code);
  return S_OK;
}

HRESULT CFilterGraph::RestoreDefaultHandling(LONG code) {
  std::lock_guard lock(eventMutex_);
  if (!HasDefaultHandling(code)) return S_FALSE;
  cancelled_.erase(code);
  return S_OK;
}

HRESULT CFilterGraph::FreeEventParams(LONG, LONG_PTR, LONG_PTR) { return S_OK; }

HRESULT CFilterGraph::SetNotifyWindow(OAHWND window, LONG msg, LONG_PTR instance) {
  // Under the event lock: once this returns, no post for the old window is under way.
  std::lock_guard lock(eventMutex_);
  notifyWindow_ = window;
  notifyMessage_ = msg;
  notifyInstance_ = instance;
  return S_OK;
}

HRESULT CFilterGraph::SetNotifyFlags(LONG flags) {
  if (flags != 0 && flags != AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
  std::lock_guard lock(eventMutex_);
  notifyFlags_ = flags;
  if (flags & AM_MEDIAEVENT_NONOTIFY) {
    events_.clear();
    SignalQueueLocked();
  }
  return S_OK;
}

HRESULT CFilterGraph::GetNotifyFlags(LONG* flags) {
  if (!flags) return E_POINTER;
  std::lock_guard lock(eventMutex_);
  *flags = notifyFlags_;
  return S_OK;
}

// ---- seeking ----

std::vector<ComPtr<IMediaSeeking>> CFilterGraph::Seekers() {
  std::vector<ComPtr<IMediaSeeking>> result;
  for (const Entry& e : filters_) {
    if (!IsSink(e.filter)) continue;
    ComPtr<IMediaSeeking> seeking;
    if (SUCCEEDED(e.filter->QueryInterface(IID_IMediaSeeking, seeking.PutVoid())) && seeking)
      result.push_back(std::move(seeking));
  }
  return result;
}

#define FIRST_SEEKER(call)                                      \
  std::lock_guard lock(lock_);                                  \
  HRESULT last = E_NOTIMPL;                                     \
  for (const ComPtr<IMediaSeeking>& seeker : Seekers()) {       \
    last = seeker->call;                                           \
    if (SUCCEEDED(last)) return last;                           \
  }                                                             \
  return last

#define ALL_SEEKERS(call)                                       \
  std::lock_guard lock(lock_);                                  \
  HRESULT result = E_NOTIMPL;                                   \
  bool any = false;                                             \
  for (const ComPtr<IMediaSeeking>& seeker : Seekers()) {       \
    const HRESULT hr = seeker->call;                               \
    if (SUCCEEDED(hr)) any = true;                              \
    if (!any || FAILED(result)) result = hr;                    \
  }                                                             \
  return any ? S_OK : result

HRESULT CFilterGraph::GetCapabilities(DWORD* c) { FIRST_SEEKER(GetCapabilities(c)); }
HRESULT CFilterGraph::CheckCapabilities(DWORD* c) { FIRST_SEEKER(CheckCapabilities(c)); }
HRESULT CFilterGraph::IsFormatSupported(const GUID* f) {
  if (f && *f == TIME_FORMAT_MEDIA_TIME) return S_OK;
  FIRST_SEEKER(IsFormatSupported(f));
}
HRESULT CFilterGraph::QueryPreferredFormat(GUID* f) {
  if (!f) return E_POINTER;
  *f = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}
HRESULT CFilterGraph::GetTimeFormat(GUID* f) {
  if (!f) return E_POINTER;
  *f = TIME_FORMAT_MEDIA_TIME;
  FIRST_SEEKER(GetTimeFormat(f));
}
HRESULT CFilterGraph::IsUsingTimeFormat(const GUID* f) { FIRST_SEEKER(IsUsingTimeFormat(f)); }
HRESULT CFilterGraph::SetTimeFormat(const GUID* f) { ALL_SEEKERS(SetTimeFormat(f)); }
HRESULT CFilterGraph::GetDuration(LONGLONG* d) { FIRST_SEEKER(GetDuration(d)); }
HRESULT CFilterGraph::GetStopPosition(LONGLONG* s) { FIRST_SEEKER(GetStopPosition(s)); }
HRESULT CFilterGraph::GetCurrentPosition(LONGLONG* c) { FIRST_SEEKER(GetCurrentPosition(c)); }
HRESULT CFilterGraph::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s, const GUID* sf) {
  FIRST_SEEKER(ConvertTimeFormat(t, tf, s, sf));
}
HRESULT CFilterGraph::GetPositions(LONGLONG* c, LONGLONG* s) { FIRST_SEEKER(GetPositions(c, s)); }
HRESULT CFilterGraph::GetAvailable(LONGLONG* e, LONGLONG* l) { FIRST_SEEKER(GetAvailable(e, l)); }
HRESULT CFilterGraph::SetRate(double r) {
  std::lock_guard lock(lock_);
  // A renderer cut off from the streams (no input connected) plays nothing: it has no say in the rate.
  std::vector<ComPtr<IMediaSeeking>> seekers;
  for (const Entry& e : filters_) {
    if (!IsSink(e.filter)) continue;
    bool fed = false;
    for (const ComPtr<IPin>& in : FilterPins(e.filter, PINDIR_INPUT, false)) {
      ComPtr<IPin> peer;
      if (SUCCEEDED(in->ConnectedTo(peer.Put())) && peer) fed = true;
    }
    ComPtr<IMediaSeeking> seeking;
    if (fed && SUCCEEDED(e.filter->QueryInterface(IID_IMediaSeeking, seeking.PutVoid())) && seeking)
      seekers.push_back(std::move(seeking));
  }
  double previous = 1.0;
  for (const ComPtr<IMediaSeeking>& seeker : seekers)
    if (SUCCEEDED(seeker->GetRate(&previous))) break;
  // One rate for the whole graph: when a renderer refuses it (sound plays at its own rate only),
  // those that took it go back and the graph keeps its rate.
  // A sink with nothing to seek upstream (E_NOTIMPL) takes no part.
  HRESULT result = E_NOTIMPL;
  std::vector<IMediaSeeking*> took;
  for (const ComPtr<IMediaSeeking>& seeker : seekers) {
    const HRESULT hr = seeker->SetRate(r);
    if (SUCCEEDED(hr)) {
      took.push_back(seeker.Get());
      result = S_OK;
    } else if (hr != E_NOTIMPL) {
      for (IMediaSeeking* back : took) back->SetRate(previous);
      return hr;
    }
  }
  return result;
}
HRESULT CFilterGraph::GetRate(double* r) { FIRST_SEEKER(GetRate(r)); }
HRESULT CFilterGraph::GetPreroll(LONGLONG* p) { FIRST_SEEKER(GetPreroll(p)); }

HRESULT CFilterGraph::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  std::lock_guard lock(lock_);
  const bool moves = (currentFlags & AM_SEEKING_PositioningBitsMask) != 0;
  const bool wasRunning = state_ == State_Running;
  // A running graph pauses for the seek and runs again with the new segment at stream time 0.
  if (wasRunning && moves) PauseLocked();
  HRESULT result = E_NOTIMPL;
  bool any = false;
  for (const ComPtr<IMediaSeeking>& s : Seekers()) {
    const HRESULT hr = s->SetPositions(current, currentFlags, stop, stopFlags);
    if (SUCCEEDED(hr)) any = true;
    if (!any || FAILED(result)) result = hr;
  }
  if (moves) {
    pausedAt_ = 0;
    std::lock_guard events(eventMutex_);
    renderersComplete_ = 0;
  }
  if (wasRunning && moves) {
    REFERENCE_TIME now = 0;
    if (clock_) clock_->GetTime(&now);
    RunLocked(clock_ ? now + kRunLatency : 0);
  }
  return any ? S_OK : result;
}

#undef FIRST_SEEKER
#undef ALL_SEEKERS

// ---- position in seconds ----

namespace {

// Beyond this a REFTIME no longer fits a 64-bit media time.
constexpr double kLargestSeconds = 9.2e11;

bool IsMediaTime(const GUID& format) { return format == TIME_FORMAT_MEDIA_TIME; }

}  // namespace

HRESULT CFilterGraph::SecondsOf(LONGLONG value, REFTIME* seconds) {
  GUID format = TIME_FORMAT_MEDIA_TIME;
  GetTimeFormat(&format);
  LONGLONG media = value;
  if (!IsMediaTime(format) && !(value == MAX_TIME)) {
    const HRESULT hr = ConvertTimeFormat(&media, &TIME_FORMAT_MEDIA_TIME, value, &format);
    if (FAILED(hr)) return hr;
  }
  *seconds = static_cast<double>(media) / static_cast<double>(UNITS);
  return S_OK;
}

HRESULT CFilterGraph::ValueOf(REFTIME seconds, LONGLONG* value) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestSeconds) return E_INVALIDARG;
  const LONGLONG media = std::llround(seconds * static_cast<double>(UNITS));
  GUID format = TIME_FORMAT_MEDIA_TIME;
  GetTimeFormat(&format);
  if (IsMediaTime(format)) {
    *value = media;
    return S_OK;
  }
  return ConvertTimeFormat(value, &format, media, &TIME_FORMAT_MEDIA_TIME);
}

HRESULT CFilterGraph::get_Duration(REFTIME* length) {
  if (!length) return E_POINTER;
  LONGLONG value = 0;
  const HRESULT hr = GetDuration(&value);
  return FAILED(hr) ? hr : SecondsOf(value, length);
}

HRESULT CFilterGraph::get_CurrentPosition(REFTIME* time) {
  if (!time) return E_POINTER;
  LONGLONG value = 0;
  const HRESULT hr = GetCurrentPosition(&value);
  return FAILED(hr) ? hr : SecondsOf(value, time);
}

HRESULT CFilterGraph::put_CurrentPosition(REFTIME time) {
  LONGLONG value = 0;
  const HRESULT hr = ValueOf(time, &value);
  if (FAILED(hr)) return hr;
  return SetPositions(&value, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
}

HRESULT CFilterGraph::get_StopTime(REFTIME* time) {
  if (!time) return E_POINTER;
  LONGLONG value = 0;
  const HRESULT hr = GetStopPosition(&value);
  return FAILED(hr) ? hr : SecondsOf(value, time);
}

HRESULT CFilterGraph::put_StopTime(REFTIME time) {
  LONGLONG value = 0;
  const HRESULT hr = ValueOf(time, &value);
  if (FAILED(hr)) return hr;
  return SetPositions(nullptr, AM_SEEKING_NoPositioning, &value, AM_SEEKING_AbsolutePositioning);
}

HRESULT CFilterGraph::get_PrerollTime(REFTIME* time) {
  if (!time) return E_POINTER;
  LONGLONG value = 0;
  const HRESULT hr = GetPreroll(&value);
  return FAILED(hr) ? hr : SecondsOf(value, time);
}

HRESULT CFilterGraph::put_PrerollTime(REFTIME) { return E_NOTIMPL; }

HRESULT CFilterGraph::put_Rate(double rate) {
  if (!std::isfinite(rate) || rate == 0.0) return E_INVALIDARG;
  return SetRate(rate);
}

HRESULT CFilterGraph::get_Rate(double* rate) {
  if (!rate) return E_POINTER;
  return GetRate(rate);
}

HRESULT CFilterGraph::CanSeek(DWORD capability, LONG* canSeek) {
  if (!canSeek) return E_POINTER;
  DWORD capabilities = 0;
  // Nothing in the graph that seeks: a plain "no".
  if (FAILED(GetCapabilities(&capabilities))) capabilities = 0;
  *canSeek = (capabilities & capability) ? OATRUE : OAFALSE;
  return S_OK;
}

HRESULT CFilterGraph::CanSeekForward(LONG* canSeek) { return CanSeek(AM_SEEKING_CanSeekForwards, canSeek); }
HRESULT CFilterGraph::CanSeekBackward(LONG* canSeek) { return CanSeek(AM_SEEKING_CanSeekBackwards, canSeek); }

// ---- frame step ----

std::vector<ComPtr<IVideoFrameStep>> CFilterGraph::Steppers() {
  std::vector<ComPtr<IVideoFrameStep>> result;
  for (const Entry& e : filters_) {
    ComPtr<IVideoFrameStep> step;
    if (SUCCEEDED(e.filter->QueryInterface(IID_IVideoFrameStep, step.PutVoid())) && step)
      result.push_back(std::move(step));
  }
  return result;
}

HRESULT CFilterGraph::Step(DWORD frames, IUnknown* stepObject) {
  if (stepObject) return E_INVALIDARG;
  std::lock_guard lock(lock_);
  const auto steppers = Steppers();
  if (steppers.empty()) return VFW_E_FRAME_STEP_UNSUPPORTED;
  if (state_ != State_Paused) {
    const HRESULT hr = PauseLocked();
    if (FAILED(hr)) return hr;
  }
  return steppers.front()->Step(frames, nullptr);
}

HRESULT CFilterGraph::CanStep(LONG multiple, IUnknown* stepObject) {
  if (stepObject) return E_INVALIDARG;
  std::lock_guard lock(lock_);
  const auto steppers = Steppers();
  if (steppers.empty()) return S_FALSE;
  return steppers.front()->CanStep(multiple, nullptr);
}

HRESULT CFilterGraph::CancelStep() {
  std::lock_guard lock(lock_);
  for (const ComPtr<IVideoFrameStep>& s : Steppers()) s->CancelStep();
  return S_OK;
}

}  // namespace kestrom::dshow
