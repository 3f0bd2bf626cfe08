#pragma once
// What a program needs to use the deinterlacing filter: its class id and its settings interface.
// The filter is reached only through these, by creating it by class id.

#include "platform/com/Unknown.h"

#include <cstdint>

namespace kestrom::deinterlacer {

inline constexpr com::CLSID CLSID_Deinterlacer = com::MakeGuid("{2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF}");
inline constexpr com::IID IID_IDeinterlaceSettings = com::MakeGuid("{92DF11E3-D2B0-4CB7-9838-F88BD1810DFE}");

/**
 * @brief Which field and which pixel column the filter keeps. Row phase 0 keeps the rows 0, 2, 4 …
 * of the buffer, any other value the rows 1, 3, 5 …; pixel phase 0 keeps the pixels 1, 3, 5 … of
 * a row, any other value 0, 2, 4 … (for an odd width the pixel phase flips at each kept row).
 */
struct IDeinterlaceSettings : com::IUnknown {
  virtual com::HRESULT GetPhases(int32_t* rowPhase, int32_t* pixelPhase) = 0;
  /** @brief Takes effect with the next sample. */
  virtual com::HRESULT SetPhases(int32_t rowPhase, int32_t pixelPhase) = 0;

 protected:
  ~IDeinterlaceSettings() = default;
};

}  // namespace kestrom::deinterlacer
