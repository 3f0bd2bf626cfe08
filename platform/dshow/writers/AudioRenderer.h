#pragma once
// "Audio Renderer": plays 16-bit PCM through the default ALSA device. Without a sound device it
// consumes each sample when the clock reaches the sample's end, so a graph runs at the same pace
// on a machine without sound. It offers the graph its reference clock, and refuses any playback
// rate but 1.0.

#include "platform/com/ComPtr.h"
#include "platform/core/Clock.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace kestrom::dshow {

/** @brief An unsupported audio rate (SetRate other than 1.0). */
inline constexpr HRESULT VFW_E_UNSUPPORTED_AUDIO = com::MakeHResult(0x8004025E);

class CAudioRenderer final : public CBaseFilter, public IReferenceClock, public IMediaSeeking {
 public:
  explicit CAudioRenderer(IUnknown* outer);
  ~CAudioRenderer() override;
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;

  /** @brief The clock that paces a renderer without a device, and that GetTime reads (tests). */
  void SetClock(const core::Clock* clock);
  /** @brief False keeps the renderer off the sound device (tests, and machines without one). */
  void UseDevice(bool use);
  /** @brief Bytes of sound consumed since the last start. */
  int64_t BytesRendered() const;

  // IReferenceClock
  HRESULT GetTime(REFERENCE_TIME* time) override;

  // IMediaSeeking: the rate is checked here, everything else is the source's.
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

  class InputPin;
  HRESULT Render(IMediaSample* sample);
  HRESULT NewSegmentRate(double rate);
  void EndOfStreamReached();
  void Flushing(bool flushing);

 private:
  com::ComPtr<IMediaSeeking> Upstream();
  void Notify(LONG code, LONG_PTR param1, LONG_PTR param2);
  void CloseDevice();
  REFERENCE_TIME StreamTimeLocked() const;

  std::recursive_mutex filterLock_;
  std::unique_ptr<InputPin> pin_;
  const core::Clock* clock_ = nullptr;
  bool useDevice_ = true;
  void* pcm_ = nullptr;

  mutable std::mutex waitLock_;
  std::condition_variable wake_;
  bool running_ = false, flushing_ = false, stopping_ = false;
  int64_t runStartMs_ = 0;    // clock time at which stream time runs from 0
  int64_t pausedAtMs_ = -1;   // clock time at which the stream was paused (-1: not paused)
  int64_t bytesRendered_ = 0;
};

}  // namespace kestrom::dshow
