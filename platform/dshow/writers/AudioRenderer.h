#pragma once
// "Audio Renderer": plays 16-bit (or 8-bit) PCM through the default ALSA device. Without a sound
// device it uses up each sample when the graph's clock reaches it, so a graph runs at the same
// pace on a machine without sound. It offers the graph its reference clock (the graph prefers a
// renderer's clock), and refuses any playback rate but 1.0. Its volume and balance (IBasicAudio)
// scale the samples themselves, so they hold with or without a device.

#include "platform/core/Clock.h"
#include "platform/dshow/base/Renderer.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::dshow {

/** @brief An unsupported audio rate (SetRate other than 1.0). */
inline constexpr HRESULT VFW_E_UNSUPPORTED_AUDIO = com::MakeHResult(0x8004025E);

/**
 * @brief Scales PCM samples (16-bit signed or 8-bit unsigned, interleaved) in place: volume and
 * balance in hundredths of a decibel as IBasicAudio gives them; a negative balance attenuates the
 * right channel, a positive one the left; -10000 is silence.
 */
void ApplyVolumeAndBalance(BYTE* data, LONG length, const WAVEFORMATEX& format, LONG volume, LONG balance);

class CAudioRenderer final : public CBaseRenderer, public IMediaSeeking, public IBasicAudio {
 public:
  explicit CAudioRenderer(IUnknown* outer);
  ~CAudioRenderer() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  /** @brief The clock the renderer's reference clock reads (tests drive it by hand). */
  void SetClock(const core::Clock* clock);
  /** @brief False keeps the renderer off the sound device (tests, and machines without one). */
  void UseDevice(bool use);
  /** @brief Bytes of sound used up since the last start. */
  int64_t BytesRendered() const;

  // CBaseRenderer
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  void OnStartStreaming() override;
  void OnStopStreaming() override;
  /** @brief The device sets the pace when there is one; otherwise the clock does. */
  bool ScheduleSamples() const override { return pcm_ == nullptr; }

  // IMediaSeeking: the renderer's positions, but its rate is fixed at 1.0.
  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source, const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  // IBasicAudio: volume -10000..0, balance -10000..10000 (E_INVALIDARG outside).
  HRESULT put_Volume(LONG volume) override;
  HRESULT get_Volume(LONG* volume) override;
  HRESULT put_Balance(LONG balance) override;
  HRESULT get_Balance(LONG* balance) override;

 private:
  class Clock;
  struct ClockSource;
  void CloseDevice();

  std::shared_ptr<ClockSource> clockSource_;
  Clock* clock_object_ = nullptr;  // referenced; a separate object, so the graph holding it keeps no cycle
  bool useDevice_ = true;
  void* pcm_ = nullptr;
  mutable std::mutex countLock_;
  int64_t bytesRendered_ = 0;
  std::atomic<LONG> volume_{0};
  std::atomic<LONG> balance_{0};
  std::vector<BYTE> scaled_;  // streaming thread only: the scaled copy of a sample
};

}  // namespace kestrom::dshow
