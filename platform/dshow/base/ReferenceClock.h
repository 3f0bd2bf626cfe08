#pragma once
// The system reference clock: monotonic time in 100-ns units. The graph uses it when no filter
// (an audio renderer) offers a clock of its own.

#include "platform/dshow/base/Interfaces.h"

namespace kestrom::dshow {

class CSystemClock final : public com::CUnknown, public IReferenceClock {
 public:
  explicit CSystemClock(IUnknown* outer);
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);
  /** @brief A new system clock with one reference held by the caller. */
  static IReferenceClock* Create();

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT GetTime(REFERENCE_TIME* time) override;
};

}  // namespace kestrom::dshow
