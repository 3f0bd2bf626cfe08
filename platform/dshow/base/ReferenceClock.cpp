#include "platform/dshow/base/ReferenceClock.h"

#include "platform/dshow/base/Guids.h"

#include <chrono>
#include <new>

namespace kestrom::dshow {

using namespace com;

CSystemClock::CSystemClock(IUnknown* outer) : CUnknown("system clock", outer) {}

CUnknown* CSystemClock::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* clock = new (std::nothrow) CSystemClock(outer);
  if (!clock && hr) *hr = E_OUTOFMEMORY;
  return clock;
}

IReferenceClock* CSystemClock::Create() {
  auto* clock = new (std::nothrow) CSystemClock(nullptr);
  if (!clock) return nullptr;
  IReferenceClock* result = nullptr;
  clock->NonDelegatingQueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&result));
  return result;
}

HRESULT CSystemClock::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), object);
  return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CSystemClock::GetTime(REFERENCE_TIME* time) {
  if (!time) return E_POINTER;
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  *time = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
  return S_OK;
}

}  // namespace kestrom::dshow
