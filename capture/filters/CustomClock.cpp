// The custom reference clock of the player without audio: real time scaled by
// (15,000 / 23) / value, so the value 326 runs the graph about twice as fast.
#include "capture/filters/ModuleFilters.h"
#include "platform/dshow/base/BaseFilter.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <new>

namespace kestrom::filters {

using namespace dshow;
using com::E_OUTOFMEMORY;
using com::E_POINTER;
using com::S_OK;

namespace {
int64_t SteadyTime(void*) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
             .count() /
         100;
}
}  // namespace

class CCustomClock final : public CBaseFilter, public IReferenceClock, public IClockRate {
 public:
  explicit CCustomClock(IUnknown* outer)
      : CBaseFilter("custom clock", outer, &lock_, CLSID_TfcCustomClock), module_(TfcatchModule()) {
    anchorBase_ = base_(baseContext_);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IReferenceClock) return com::GetInterface(static_cast<IReferenceClock*>(this), object);
    if (iid == IID_IClockRate) return com::GetInterface(static_cast<IClockRate*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return 0; }
  CBasePin* GetPin(int) override { return nullptr; }

  HRESULT GetTime(REFERENCE_TIME* time) override {
    if (!time) return E_POINTER;
    std::lock_guard lock(timeLock_);
    *time = NowLocked();
    // A reference clock never goes backwards, whatever its rate did.
    if (*time < last_) *time = last_;
    last_ = *time;
    return S_OK;
  }

  HRESULT SetRate(int64_t value) override {
    if (value <= 0) return com::E_INVALIDARG;
    std::lock_guard lock(timeLock_);
    Reanchor();
    factor_ = kClockRealTimeValue / static_cast<double>(value);
    return S_OK;
  }

  HRESULT SetTimeBase(ClockTimeBase base, void* context) override {
    std::lock_guard lock(timeLock_);
    anchorClock_ = NowLocked();
    base_ = base ? base : &SteadyTime;
    baseContext_ = base ? context : nullptr;
    anchorBase_ = base_(baseContext_);
    return S_OK;
  }

 private:
  REFERENCE_TIME NowLocked() const {
    return anchorClock_ + static_cast<REFERENCE_TIME>(std::llround((base_(baseContext_) - anchorBase_) * factor_));
  }
  // From now on the clock runs at the new rate, continuing from where it stands.
  void Reanchor() {
    anchorClock_ = NowLocked();
    anchorBase_ = base_(baseContext_);
  }

  std::recursive_mutex lock_;
  com::ModuleObject module_;
  mutable std::mutex timeLock_;
  ClockTimeBase base_ = &SteadyTime;
  void* baseContext_ = nullptr;
  int64_t anchorBase_ = 0;
  REFERENCE_TIME anchorClock_ = 0, last_ = 0;
  double factor_ = 1.0;
};

com::CUnknown* NewCustomClock(IUnknown* outer, HRESULT* hr) {
  auto* clock = new (std::nothrow) CCustomClock(outer);
  if (!clock && hr) *hr = E_OUTOFMEMORY;
  return clock;
}

}  // namespace kestrom::filters
