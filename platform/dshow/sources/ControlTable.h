#pragma once
// The ranges and values of a device's image or camera controls, answering the three calls the
// control interfaces share (range, set, get) with the same checks for every device.

#include "platform/dshow/sources/DeviceInterfaces.h"

#include <functional>
#include <mutex>
#include <vector>

namespace kestrom::dshow {

struct ControlRange {
  bool available = false;
  LONG min = 0, max = 0, step = 1, defaultValue = 0;
  LONG capsFlags = 0;  // Auto (1) and/or Manual (2)
  LONG value = 0;
  LONG flags = 2;
};

class ControlTable {
 public:
  /** @brief Applies a value to the device; false refuses it (the table keeps the old one). */
  using Apply = std::function<bool(LONG property, LONG value, LONG flags)>;

  explicit ControlTable(size_t count) : controls_(count) {}

  void Define(LONG property, LONG min, LONG max, LONG step, LONG defaultValue, LONG capsFlags);
  void SetApply(Apply apply) { apply_ = std::move(apply); }

  HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue, LONG* capsFlags) const;
  /**
   * @brief E_PROP_ID_UNSUPPORTED for a control the device lacks; E_INVALIDARG for flags the
   * control does not take or a manual value outside its range or off its steps.
   */
  HRESULT Set(LONG property, LONG value, LONG flags);
  HRESULT Get(LONG property, LONG* value, LONG* flags) const;
  /** @brief The current value (the default when unavailable). */
  LONG Value(LONG property) const;

 private:
  mutable std::mutex lock_;
  std::vector<ControlRange> controls_;
  Apply apply_;
};

}  // namespace kestrom::dshow

namespace kestrom::dshow {

/**
 * @brief IAMVideoProcAmp or IAMCameraControl over a control table, as a member object of a
 * filter: the two interfaces have the same calls, so one class cannot implement both itself.
 */
template <typename Interface>
class TControlInterface final : public Interface {
 public:
  TControlInterface(com::IUnknown* owner, ControlTable* table) : owner_(owner), table_(table) {}

  HRESULT QueryInterface(REFIID iid, void** object) override { return owner_->QueryInterface(iid, object); }
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

  HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue, LONG* capsFlags) override {
    return table_->GetRange(property, min, max, step, defaultValue, capsFlags);
  }
  HRESULT Set(LONG property, LONG value, LONG flags) override { return table_->Set(property, value, flags); }
  HRESULT Get(LONG property, LONG* value, LONG* flags) override { return table_->Get(property, value, flags); }

 private:
  com::IUnknown* owner_;
  ControlTable* table_;
};

}  // namespace kestrom::dshow
