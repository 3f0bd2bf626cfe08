#include "platform/dshow/sources/MixerLinePin.h"

#include <cmath>

namespace kestrom::dshow {

using namespace com;

HRESULT CMixerControl::Change(const std::function<void(MixerSettings&)>& edit) {
  std::lock_guard lock(lock_);
  MixerSettings next = settings_;
  edit(next);
  if (apply_ && !apply_(next)) return E_FAIL;
  settings_ = next;
  return S_OK;
}

void CMixerControl::InitSettings(const MixerSettings& settings) {
  std::lock_guard lock(lock_);
  settings_ = settings;
}

MixerSettings CMixerControl::Settings() const {
  std::lock_guard lock(lock_);
  return settings_;
}

HRESULT CMixerControl::put_Enable(BOOL enable) {
  return Change([&](MixerSettings& s) { s.enable = enable != 0; });
}
HRESULT CMixerControl::get_Enable(BOOL* enable) {
  if (!enable) return E_POINTER;
  *enable = Settings().enable;
  return S_OK;
}
HRESULT CMixerControl::put_Mono(BOOL mono) {
  return Change([&](MixerSettings& s) { s.mono = mono != 0; });
}
HRESULT CMixerControl::get_Mono(BOOL* mono) {
  if (!mono) return E_POINTER;
  *mono = Settings().mono;
  return S_OK;
}
HRESULT CMixerControl::put_MixLevel(double level) {
  if (!std::isfinite(level) || level < 0.0 || level > 1.0) return E_INVALIDARG;
  return Change([&](MixerSettings& s) { s.level = level; });
}
HRESULT CMixerControl::get_MixLevel(double* level) {
  if (!level) return E_POINTER;
  *level = Settings().level;
  return S_OK;
}
HRESULT CMixerControl::put_Pan(double pan) {
  if (!std::isfinite(pan) || pan < -1.0 || pan > 1.0) return E_INVALIDARG;
  return Change([&](MixerSettings& s) { s.pan = pan; });
}
HRESULT CMixerControl::get_Pan(double* pan) {
  if (!pan) return E_POINTER;
  *pan = Settings().pan;
  return S_OK;
}
HRESULT CMixerControl::put_Loudness(BOOL loudness) {
  if (!tone_) return E_NOTIMPL;
  return Change([&](MixerSettings& s) { s.loudness = loudness != 0; });
}
HRESULT CMixerControl::get_Loudness(BOOL* loudness) {
  if (!loudness) return E_POINTER;
  if (!tone_) return E_NOTIMPL;
  *loudness = Settings().loudness;
  return S_OK;
}
HRESULT CMixerControl::put_Treble(double treble) {
  if (!tone_) return E_NOTIMPL;
  if (!std::isfinite(treble) || std::fabs(treble) > 12.0) return E_INVALIDARG;
  return Change([&](MixerSettings& s) { s.treble = treble; });
}
HRESULT CMixerControl::get_Treble(double* treble) {
  if (!treble) return E_POINTER;
  if (!tone_) return E_NOTIMPL;
  *treble = Settings().treble;
  return S_OK;
}
HRESULT CMixerControl::get_TrebleRange(double* range) {
  if (!range) return E_POINTER;
  if (!tone_) return E_NOTIMPL;
  *range = 12.0;
  return S_OK;
}
HRESULT CMixerControl::put_Bass(double bass) {
  if (!tone_) return E_NOTIMPL;
  if (!std::isfinite(bass) || std::fabs(bass) > 12.0) return E_INVALIDARG;
  return Change([&](MixerSettings& s) { s.bass = bass; });
}
HRESULT CMixerControl::get_Bass(double* bass) {
  if (!bass) return E_POINTER;
  if (!tone_) return E_NOTIMPL;
  *bass = Settings().bass;
  return S_OK;
}
HRESULT CMixerControl::get_BassRange(double* range) {
  if (!range) return E_POINTER;
  if (!tone_) return E_NOTIMPL;
  *range = 12.0;
  return S_OK;
}

CMixerLinePin::CMixerLinePin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name)
    : CBaseInputPin("mixer line pin", filter, lock, nullptr, name) {}

HRESULT CMixerLinePin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMAudioInputMixer) return GetInterface(static_cast<IAMAudioInputMixer*>(this), object);
  return CBaseInputPin::NonDelegatingQueryInterface(iid, object);
}

HRESULT CMixerLinePin::CheckMediaType(const CMediaType* type) {
  return type && type->majortype == MEDIATYPE_AnalogAudio ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

}  // namespace kestrom::dshow
