#pragma once
// The stream configuration of an output pin: capture sources and compressors both expose it, so
// it lives below either of them. Published identifier and method order.

#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"

namespace kestrom::dshow {

inline constexpr IID IID_IAMStreamConfig = MakeGuid("{C6E13340-30AC-11D0-A18C-00A0C9118956}");

/** @brief The format an output pin delivers. */
struct IAMStreamConfig : IUnknown {
  virtual HRESULT SetFormat(AM_MEDIA_TYPE* type) = 0;
  /**
   * @brief The current (or, before any SetFormat, the default) type: a task-memory copy the caller
   * frees with DeleteMediaType.
   */
  virtual HRESULT GetFormat(AM_MEDIA_TYPE** type) = 0;
  virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
  virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) = 0;

 protected:
  ~IAMStreamConfig() = default;
};

}  // namespace kestrom::dshow
