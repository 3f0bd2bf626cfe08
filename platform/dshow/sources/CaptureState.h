#pragma once
// What a video capture device filter saves of itself through IPersistStream: the capture pin's
// format (subtype, size, frame interval) and the value and auto/manual flag of every image and
// camera control. The state has one fixed size, so a stored state of another layout is known by
// its size alone; a state whose format the device no longer offers is refused whole.

#include "platform/dshow/base/PersistStream.h"
#include "platform/dshow/sources/ControlTable.h"

namespace kestrom::dshow {

/** @brief Bytes of a capture filter's saved state (what GetSizeMax reports). */
inline constexpr ULONG kCaptureFilterStateSize = 4 + 16 + 4 + 4 + 8 + (10 + 7) * 8;

/** @brief IPersistStream of a capture filter, as a member object that forwards IUnknown to the filter. */
class CCaptureFilterPersist final : public IPersistStream {
 public:
  CCaptureFilterPersist(com::IUnknown* owner, REFCLSID clsid, IAMStreamConfig* format, ControlTable* procAmp,
                        ControlTable* camera)
      : owner_(owner), clsid_(clsid), format_(format), procAmp_(procAmp), camera_(camera) {}

  HRESULT QueryInterface(REFIID iid, void** object) override { return owner_->QueryInterface(iid, object); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT IsDirty() override;
  /** @brief Applies the format, then the controls; a stream of another layout or an unknown format changes nothing. */
  HRESULT Load(IStream* stream) override;
  HRESULT Save(IStream* stream, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULONGLONG* size) override;

 private:
  com::IUnknown* owner_;
  CLSID clsid_;
  IAMStreamConfig* format_;
  ControlTable* procAmp_;
  ControlTable* camera_;
};

}  // namespace kestrom::dshow
