#pragma once
// Stream control of one pin (IAMStreamControl): the pin lets samples through only between a
// start and a stop time on the reference clock. Sample times are stream times, so a sample's
// reference time is the filter's run start plus its start time; an untimed sample is judged by
// the clock's current time. EC_STREAM_CONTROL_STARTED / _STOPPED carry the pin and the cookie.

#include "platform/dshow/base/ControlInterfaces.h"

#include <mutex>

namespace kestrom::dshow {

class CBaseFilter;

class CBaseStreamControl : public IAMStreamControl {
 public:
  /** @brief pin: what the events carry as their first parameter (the filter when null). */
  explicit CBaseStreamControl(CBaseFilter* filter, IPin* pin = nullptr);

  HRESULT StartAt(const REFERENCE_TIME* start, DWORD cookie) override;
  HRESULT StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) override;
  HRESULT GetInfo(AM_STREAM_INFO* info) override;

  enum StreamControlState { STREAM_FLOWING, STREAM_DISCARDING };
  /** @brief Whether this sample passes (streaming thread); posts the start and stop events once each. */
  StreamControlState CheckStreamState(IMediaSample* sample);
  /** @brief Forget pending times (the filter stopped). */
  void ResetStreamControl();

 private:
  LONG_PTR EventSource() const;

  CBaseFilter* filter_;
  IPin* pin_;
  std::mutex mutex_;
  bool startDefined_ = false;
  bool stopDefined_ = false;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
  DWORD startCookie_ = 0;
  DWORD stopCookie_ = 0;
  bool sendExtra_ = false;
  bool extraSent_ = false;
  bool startNotified_ = true;
  bool stopNotified_ = true;
  bool discarding_ = false;
};

}  // namespace kestrom::dshow
