#pragma once
// An input line of an audio capture device (microphone, line in, CD ...) as an input pin with
// its own mixer settings. The lines are never connected; choosing one and its level is done
// through IAMAudioInputMixer on its pin, and the device's master settings through the same
// interface on the filter.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/sources/DeviceInterfaces.h"

#include <functional>
#include <mutex>

namespace kestrom::dshow {

/** @brief The settings of one line (or of the whole device). */
struct MixerSettings {
  bool enable = false;
  bool mono = false;
  double level = 1.0;
  double pan = 0.0;
  bool loudness = false;
  double treble = 0.0;
  double bass = 0.0;
};

/** @brief The mixer calls over one settings record; changes go through apply (may refuse). */
class CMixerControl : public IAMAudioInputMixer {
 public:
  using Apply = std::function<bool(const MixerSettings&)>;

  HRESULT put_Enable(BOOL enable) override;
  HRESULT get_Enable(BOOL* enable) override;
  HRESULT put_Mono(BOOL mono) override;
  HRESULT get_Mono(BOOL* mono) override;
  HRESULT put_MixLevel(double level) override;
  HRESULT get_MixLevel(double* level) override;
  HRESULT put_Pan(double pan) override;
  HRESULT get_Pan(double* pan) override;
  HRESULT put_Loudness(BOOL loudness) override;
  HRESULT get_Loudness(BOOL* loudness) override;
  HRESULT put_Treble(double treble) override;
  HRESULT get_Treble(double* treble) override;
  HRESULT get_TrebleRange(double* range) override;
  HRESULT put_Bass(double bass) override;
  HRESULT get_Bass(double* bass) override;
  HRESULT get_BassRange(double* range) override;

  MixerSettings Settings() const;
  void SetApply(Apply apply) { apply_ = std::move(apply); }
  void InitSettings(const MixerSettings& settings);
  /** @brief Whether the device can pan and set tone (the test microphone can; ALSA lines pan only). */
  void SetToneControls(bool tone) { tone_ = tone; }

 private:
  HRESULT Change(const std::function<void(MixerSettings&)>& edit);

  mutable std::mutex lock_;
  MixerSettings settings_;
  Apply apply_;
  bool tone_ = true;
};

class CMixerLinePin final : public CBaseInputPin, public CMixerControl {
 public:
  CMixerLinePin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
};

}  // namespace kestrom::dshow
