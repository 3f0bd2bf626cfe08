#pragma once
// The filters of the companion module, as its exports make them. Each function returns a new
// filter with no reference yet, or null with *hr set.

#include "capture/filters/CompanionFilters.h"
#include "platform/com/Unknown.h"

namespace kestrom::filters {

/** @brief Counts the module's live filters (its exports keep no server locks). */
com::ModuleRefCount& TfcatchModule();

/** @brief mayModify: the frame grabber (kind 7 may change frames); else the variant that never does. */
com::CUnknown* NewGrabber(bool mayModify, IUnknown* outer, HRESULT* hr);
com::CUnknown* NewTransform(IUnknown* outer, HRESULT* hr);
com::CUnknown* NewPushSource(IUnknown* outer, HRESULT* hr);
com::CUnknown* NewCustomClock(IUnknown* outer, HRESULT* hr);
com::CUnknown* NewRawWriter(IUnknown* outer, HRESULT* hr);

/** @brief The recording date of a DV frame (year, month, day, hour, minute, second); false without one. */
bool ReadDVRecordingDate(const uint8_t* frame, long length, int32_t values[6]);

}  // namespace kestrom::filters
