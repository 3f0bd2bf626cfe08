#include "platform/dshow/base/StreamControl.h"

#include "platform/dshow/base/BaseFilter.h"

#include <limits>

namespace kestrom::dshow {

using namespace com;

namespace {
constexpr REFERENCE_TIME kLongAgo = std::numeric_limits<REFERENCE_TIME>::min();
}

CBaseStreamControl::CBaseStreamControl(CBaseFilter* filter, IPin* pin) : filter_(filter), pin_(pin) {}

HRESULT CBaseStreamControl::StartAt(const REFERENCE_TIME* start, DWORD cookie) {
  std::lock_guard lock(mutex_);
  if (start && *start == MAX_TIME) {
    // Cancels a pending start.
    startDefined_ = false;
    return S_OK;
  }
  startDefined_ = true;
  start_ = start ? *start : kLongAgo;
  startCookie_ = cookie;
  startNotified_ = false;
  // Starting now releases the stream from any stop asked before.
  if (!start) stopDefined_ = false;
  return S_OK;
}

HRESULT CBaseStreamControl::StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) {
  std::lock_guard lock(mutex_);
  if (stop && *stop == MAX_TIME) {
    stopDefined_ = false;
    return S_OK;
  }
  stopDefined_ = true;
  stop_ = stop ? *stop : kLongAgo;
  stopCookie_ = cookie;
  sendExtra_ = sendExtra != 0;
  extraSent_ = false;
  stopNotified_ = false;
  // Stopping now holds the stream until a new start is asked.
  if (!stop) startDefined_ = false;
  return S_OK;
}

HRESULT CBaseStreamControl::GetInfo(AM_STREAM_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard lock(mutex_);
  *info = AM_STREAM_INFO{};
  if (startDefined_) {
    info->dwFlags |= AM_STREAM_INFO_START_DEFINED;
    info->tStart = start_ == kLongAgo ? 0 : start_;
    info->dwStartCookie = startCookie_;
  }
  if (stopDefined_) {
    info->dwFlags |= AM_STREAM_INFO_STOP_DEFINED;
    info->tStop = stop_ == kLongAgo ? 0 : stop_;
    info->dwStopCookie = stopCookie_;
    if (sendExtra_) info->dwFlags |= AM_STREAM_INFO_STOP_SEND_EXTRA;
  }
  if (discarding_) info->dwFlags |= AM_STREAM_INFO_DISCARDING;
  return S_OK;
}

LONG_PTR CBaseStreamControl::EventSource() const {
  return pin_ ? reinterpret_cast<LONG_PTR>(pin_) : reinterpret_cast<LONG_PTR>(filter_);
}

void CBaseStreamControl::ResetStreamControl() {
  std::lock_guard lock(mutex_);
  discarding_ = false;
  extraSent_ = false;
}

CBaseStreamControl::StreamControlState CBaseStreamControl::CheckStreamState(IMediaSample* sample) {
  REFERENCE_TIME when = 0;
  REFERENCE_TIME sampleStart = 0, sampleStop = 0;
  if (sample && SUCCEEDED(sample->GetTime(&sampleStart, &sampleStop))) {
    when = filter_->RunStartTime() + sampleStart;
  } else {
    REFERENCE_TIME stream = 0;
    when = SUCCEEDED(filter_->StreamTime(&stream)) ? filter_->RunStartTime() + stream : 0;
  }
  std::lock_guard lock(mutex_);
  bool flowing = true;
  bool pastStop = false;
  if (startDefined_ && stopDefined_ && start_ > stop_) {
    // Stopped for a while, then started again.
    flowing = when < stop_ || when >= start_;
    pastStop = when >= stop_;
  } else {
    if (startDefined_ && when < start_) flowing = false;
    if (stopDefined_ && when >= stop_) {
      pastStop = true;
      flowing = false;
    }
  }
  // One more sample after the stop time, so that a writer gets the frame that spans it.
  if (!flowing && pastStop && sendExtra_ && !extraSent_ && (!startDefined_ || when >= start_)) {
    extraSent_ = true;
    flowing = true;
  }
  if (flowing && startDefined_ && !startNotified_) {
    startNotified_ = true;
    filter_->NotifyEvent(EC_STREAM_CONTROL_STARTED, EventSource(), startCookie_);
  }
  if (!flowing && pastStop && !stopNotified_) {
    stopNotified_ = true;
    filter_->NotifyEvent(EC_STREAM_CONTROL_STOPPED, EventSource(), stopCookie_);
  }
  discarding_ = !flowing;
  return flowing ? STREAM_FLOWING : STREAM_DISCARDING;
}

}  // namespace kestrom::dshow
