#include "platform/dshow/sources/ControlTable.h"

namespace kestrom::dshow {

using namespace com;

void ControlTable::Define(LONG property, LONG min, LONG max, LONG step, LONG defaultValue, LONG capsFlags) {
  std::lock_guard lock(lock_);
  if (property < 0 || static_cast<size_t>(property) >= controls_.size()) return;
  ControlRange& c = controls_[static_cast<size_t>(property)];
  c = {true, min, max, step > 0 ? step : 1, defaultValue, capsFlags, defaultValue,
       (capsFlags & 1) ? 1 : 2};
}

HRESULT ControlTable::GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue,
                               LONG* capsFlags) const {
  if (!min || !max || !step || !defaultValue || !capsFlags) return E_POINTER;
  std::lock_guard lock(lock_);
  if (property < 0 || static_cast<size_t>(property) >= controls_.size() || !controls_[static_cast<size_t>(property)].available)
    return E_PROP_ID_UNSUPPORTED;
  const ControlRange& c = controls_[static_cast<size_t>(property)];
  *min = c.min;
  *max = c.max;
  *step = c.step;
  *defaultValue = c.defaultValue;
  *capsFlags = c.capsFlags;
  return S_OK;
}

HRESULT ControlTable::Set(LONG property, LONG value, LONG flags) {
  std::unique_lock lock(lock_);
  if (property < 0 || static_cast<size_t>(property) >= controls_.size() || !controls_[static_cast<size_t>(property)].available)
    return E_PROP_ID_UNSUPPORTED;
  ControlRange& c = controls_[static_cast<size_t>(property)];
  if ((flags != 1 && flags != 2) || !(c.capsFlags & flags)) return E_INVALIDARG;
  if (flags == 2 && (value < c.min || value > c.max || (value - c.min) % c.step != 0)) return E_INVALIDARG;
  const LONG newValue = flags == 2 ? value : c.value;
  if (apply_ && !apply_(property, newValue, flags)) return E_FAIL;
  c.value = newValue;
  c.flags = flags;
  return S_OK;
}

HRESULT ControlTable::Get(LONG property, LONG* value, LONG* flags) const {
  if (!value || !flags) return E_POINTER;
  std::lock_guard lock(lock_);
  if (property < 0 || static_cast<size_t>(property) >= controls_.size() || !controls_[static_cast<size_t>(property)].available)
    return E_PROP_ID_UNSUPPORTED;
  const ControlRange& c = controls_[static_cast<size_t>(property)];
  *value = c.value;
  *flags = c.flags;
  return S_OK;
}

LONG ControlTable::Value(LONG property) const {
  std::lock_guard lock(lock_);
  if (property < 0 || static_cast<size_t>(property) >= controls_.size()) return 0;
  return controls_[static_cast<size_t>(property)].value;
}

}  // namespace kestrom::dshow
