#include "platform/dshow/base/Seeking.h"

#include "platform/com/ComPtr.h"

#include <cmath>

namespace kestrom::dshow {

using namespace com;

// ---- pass-through ----

CPosPassThru::CPosPassThru(const char* name, IUnknown* owner, IPin* input) : CUnknown(name, owner), input_(input) {}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CPosPassThru::Upstream(IMediaSeeking** seeking) {
  *seeking = nullptr;
  ComPtr<IPin> peer;
  if (!input_ || FAILED(input_->ConnectedTo(peer.Put())) || !peer) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking));
  return FAILED(hr) ? E_NOTIMPL : S_OK;
}

#define PASS_THROUGH(call)                        \
  ComPtr<IMediaSeeking> up;                       \
  const HRESULT found = Upstream(up.Put());       \
  if (FAILED(found)) return found;                \
  return up->call

HRESULT CPosPassThru::GetCapabilities(DWORD* c) { PASS_THROUGH(GetCapabilities(c)); }
HRESULT CPosPassThru::CheckCapabilities(DWORD* c) { PASS_THROUGH(CheckCapabilities(c)); }
HRESULT CPosPassThru::IsFormatSupported(const GUID* f) { PASS_THROUGH(IsFormatSupported(f)); }
HRESULT CPosPassThru::QueryPreferredFormat(GUID* f) { PASS_THROUGH(QueryPreferredFormat(f)); }
HRESULT CPosPassThru::GetTimeFormat(GUID* f) { PASS_THROUGH(GetTimeFormat(f)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* f) { PASS_THROUGH(IsUsingTimeFormat(f)); }
HRESULT CPosPassThru::SetTimeFormat(const GUID* f) { PASS_THROUGH(SetTimeFormat(f)); }
HRESULT CPosPassThru::GetDuration(LONGLONG* d) { PASS_THROUGH(GetDuration(d)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG* s) { PASS_THROUGH(GetStopPosition(s)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s, const GUID* sf) {
  PASS_THROUGH(ConvertTimeFormat(t, tf, s, sf));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* c, DWORD cf, LONGLONG* s, DWORD sf) {
  ResetMediaTime();
  PASS_THROUGH(SetPositions(c, cf, s, sf));
}
HRESULT CPosPassThru::GetAvailable(LONGLONG* e, LONGLONG* l) { PASS_THROUGH(GetAvailable(e, l)); }
HRESULT CPosPassThru::SetRate(double r) { PASS_THROUGH(SetRate(r)); }
HRESULT CPosPassThru::GetRate(double* r) { PASS_THROUGH(GetRate(r)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG* p) { PASS_THROUGH(GetPreroll(p)); }

HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  ComPtr<IMediaSeeking> up;
  const HRESULT found = Upstream(up.Put());
  {
    std::lock_guard lock(mutex_);
    if (mediaTimeValid_) {
      // What this filter shows is the position, in the caller's time format.
      if (SUCCEEDED(found)) {
        GUID format{};
        if (SUCCEEDED(up->GetTimeFormat(&format)) && !(format == TIME_FORMAT_MEDIA_TIME))
          return up->ConvertTimeFormat(current, &format, mediaTime_, &TIME_FORMAT_MEDIA_TIME);
      }
      *current = mediaTime_;
      return S_OK;
    }
  }
  if (FAILED(found)) return found;
  return up->GetCurrentPosition(current);
}

HRESULT CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
  if (current) {
    const HRESULT hr = GetCurrentPosition(current);
    if (FAILED(hr)) return hr;
  }
  if (stop) return GetStopPosition(stop);
  return S_OK;
}

void CPosPassThru::RegisterMediaTime(REFERENCE_TIME mediaTime) {
  std::lock_guard lock(mutex_);
  mediaTime_ = mediaTime;
  mediaTimeValid_ = true;
}

void CPosPassThru::ResetMediaTime() {
  std::lock_guard lock(mutex_);
  mediaTimeValid_ = false;
}

#undef PASS_THROUGH

// ---- source seeking ----

CSourceSeeking::CSourceSeeking(REFERENCE_TIME duration, REFERENCE_TIME frameDuration)
    : duration_(duration), frameDuration_(frameDuration), stop_(duration), format_(TIME_FORMAT_MEDIA_TIME) {}

HRESULT CSourceSeeking::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                  AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
  return S_OK;
}

HRESULT CSourceSeeking::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  DWORD ours = 0;
  GetCapabilities(&ours);
  const DWORD asked = *capabilities;
  *capabilities &= ours;
  if (*capabilities == asked) return S_OK;
  return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT CSourceSeeking::IsFormatSupported(const GUID* format) {
  if (!format) return E_POINTER;
  if (*format == TIME_FORMAT_MEDIA_TIME) return S_OK;
  if (*format == TIME_FORMAT_FRAME && frameDuration_ > 0) return S_OK;
  return S_FALSE;
}

HRESULT CSourceSeeking::QueryPreferredFormat(GUID* format) {
  if (!format) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT CSourceSeeking::GetTimeFormat(GUID* format) {
  if (!format) return E_POINTER;
  std::lock_guard lock(seekLock_);
  *format = format_;
  return S_OK;
}

HRESULT CSourceSeeking::IsUsingTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  std::lock_guard lock(seekLock_);
  return *format == format_ ? S_OK : S_FALSE;
}

HRESULT CSourceSeeking::SetTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  if (IsFormatSupported(format) != S_OK) return E_INVALIDARG;
  std::lock_guard lock(seekLock_);
  format_ = *format;
  return S_OK;
}

LONGLONG CSourceSeeking::ToMediaTime(LONGLONG value) const {
  if (format_ == TIME_FORMAT_FRAME && frameDuration_ > 0) return value * frameDuration_;
  return value;
}

LONGLONG CSourceSeeking::FromMediaTime(LONGLONG value) const {
  if (format_ == TIME_FORMAT_FRAME && frameDuration_ > 0)
    return static_cast<LONGLONG>(std::llround(static_cast<double>(value) / static_cast<double>(frameDuration_)));
  return value;
}

HRESULT CSourceSeeking::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  std::lock_guard lock(seekLock_);
  *duration = FromMediaTime(duration_);
  return S_OK;
}

HRESULT CSourceSeeking::GetStopPosition(LONGLONG* stop) {
  if (!stop) return E_POINTER;
  std::lock_guard lock(seekLock_);
  *stop = FromMediaTime(stop_);
  return S_OK;
}

HRESULT CSourceSeeking::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  std::lock_guard lock(seekLock_);
  *current = FromMediaTime(current_);
  return S_OK;
}

HRESULT CSourceSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                          const GUID* sourceFormat) {
  if (!target) return E_POINTER;
  std::lock_guard lock(seekLock_);
  const GUID from = sourceFormat ? *sourceFormat : format_;
  const GUID to = targetFormat ? *targetFormat : format_;
  auto supported = [&](const GUID& f) { return f == TIME_FORMAT_MEDIA_TIME || (f == TIME_FORMAT_FRAME && frameDuration_ > 0); };
  if (!supported(from) || !supported(to)) return E_INVALIDARG;
  LONGLONG media = from == TIME_FORMAT_FRAME ? source * frameDuration_ : source;
  *target = to == TIME_FORMAT_FRAME
                ? static_cast<LONGLONG>(std::llround(static_cast<double>(media) / static_cast<double>(frameDuration_)))
                : media;
  return S_OK;
}

HRESULT CSourceSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  const DWORD currentMode = currentFlags & AM_SEEKING_PositioningBitsMask;
  const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
  if ((currentMode && !current) || (stopMode && !stop)) return E_POINTER;
  bool startChanged = false, stopChanged = false;
  {
    std::lock_guard lock(seekLock_);
    REFERENCE_TIME newStart = start_, newStop = stop_;
    if (currentMode == AM_SEEKING_AbsolutePositioning) newStart = ToMediaTime(*current);
    else if (currentMode == AM_SEEKING_RelativePositioning) newStart = current_ + ToMediaTime(*current);
    else if (currentMode == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;
    if (stopMode == AM_SEEKING_AbsolutePositioning) newStop = *stop == MAX_TIME ? duration_ : ToMediaTime(*stop);
    else if (stopMode == AM_SEEKING_RelativePositioning) newStop = newStart + ToMediaTime(*stop);
    else if (stopMode == AM_SEEKING_IncrementalPositioning) newStop = newStart + ToMediaTime(*stop);
    if (newStart < 0) newStart = 0;
    if (newStop > duration_) newStop = duration_;
    if (currentMode) {
      start_ = newStart;
      current_ = newStart;
      startChanged = true;
    }
    if (stopMode && newStop != stop_) {
      stop_ = newStop;
      stopChanged = true;
    }
    if (currentFlags & AM_SEEKING_ReturnTime) *current = FromMediaTime(start_);
    if (stopFlags & AM_SEEKING_ReturnTime) *stop = FromMediaTime(stop_);
  }
  HRESULT hr = S_OK;
  if (stopChanged) hr = ChangeStop();
  if (startChanged) {
    const HRESULT started = ChangeStart();
    if (FAILED(started)) hr = started;
  }
  return hr;
}

HRESULT CSourceSeeking::GetPositions(LONGLONG* current, LONGLONG* stop) {
  std::lock_guard lock(seekLock_);
  if (current) *current = FromMediaTime(current_);
  if (stop) *stop = FromMediaTime(stop_);
  return S_OK;
}

HRESULT CSourceSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  std::lock_guard lock(seekLock_);
  if (earliest) *earliest = 0;
  if (latest) *latest = FromMediaTime(duration_);
  return S_OK;
}

HRESULT CSourceSeeking::SetRate(double rate) {
  if (!(rate > 0.0) || !std::isfinite(rate)) return E_INVALIDARG;
  {
    std::lock_guard lock(seekLock_);
    rate_ = rate;
  }
  return ChangeRate();
}

HRESULT CSourceSeeking::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  std::lock_guard lock(seekLock_);
  *rate = rate_;
  return S_OK;
}

HRESULT CSourceSeeking::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  *preroll = 0;
  return S_OK;
}

void CSourceSeeking::SetDuration(REFERENCE_TIME duration) {
  std::lock_guard lock(seekLock_);
  if (stop_ == duration_) stop_ = duration;
  duration_ = duration;
}

REFERENCE_TIME CSourceSeeking::SeekStart() {
  std::lock_guard lock(seekLock_);
  return start_;
}

REFERENCE_TIME CSourceSeeking::SeekStop() {
  std::lock_guard lock(seekLock_);
  return stop_;
}

double CSourceSeeking::Rate() {
  std::lock_guard lock(seekLock_);
  return rate_;
}

void CSourceSeeking::SetCurrentPosition(REFERENCE_TIME position) {
  std::lock_guard lock(seekLock_);
  current_ = position;
}

}  // namespace kestrom::dshow
