#pragma once
// Seeking helpers. CPosPassThru answers IMediaSeeking for a filter that is not a source by
// asking the output pin upstream of one of its input pins (renderers, transforms, tees).
// CSourceSeeking keeps a source pin's positions, rate and time format (media time, or frames
// when the frame duration is known) and tells the derived pin when they change.

#include "platform/dshow/base/ControlInterfaces.h"

#include <atomic>
#include <mutex>

namespace kestrom::dshow {

class CBasePin;

/** @brief IMediaSeeking forwarded to the pin connected to input; its IUnknown is the owner's. */
class CPosPassThru : public com::CUnknown, public IMediaSeeking {
 public:
  CPosPassThru(const char* name, IUnknown* owner, IPin* input);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

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

  /** @brief A renderer reports the media time of the sample it shows; GetCurrentPosition answers it. */
  void RegisterMediaTime(REFERENCE_TIME mediaTime);
  void ResetMediaTime();

 protected:
  /** @brief The upstream IMediaSeeking with a reference; E_NOTIMPL when there is none. */
  HRESULT Upstream(IMediaSeeking** seeking);

 private:
  IPin* input_;
  std::mutex mutex_;
  bool mediaTimeValid_ = false;
  REFERENCE_TIME mediaTime_ = 0;
};

/** @brief Positions of a source stream; mix into a pin and answer IMediaSeeking with it. */
class CSourceSeeking : public IMediaSeeking {
 public:
  /** @brief frameDuration (100-ns units, 0: unknown) enables TIME_FORMAT_FRAME. */
  CSourceSeeking(REFERENCE_TIME duration, REFERENCE_TIME frameDuration);

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

 protected:
  // Called without the seeking lock held, outside the streaming thread.
  /** @brief The start position changed (the pin repositions, usually through CSourceStream::Restart). */
  virtual HRESULT ChangeStart() = 0;
  virtual HRESULT ChangeStop() { return com::S_OK; }
  virtual HRESULT ChangeRate() { return com::S_OK; }

  void SetDuration(REFERENCE_TIME duration);
  /** @brief The positions in media time (start is where the next segment begins). */
  REFERENCE_TIME SeekStart();
  REFERENCE_TIME SeekStop();
  double Rate();
  /** @brief The streaming thread reports the media time it reached (for GetCurrentPosition). */
  void SetCurrentPosition(REFERENCE_TIME position);

  std::mutex seekLock_;

 private:
  LONGLONG ToMediaTime(LONGLONG value) const;
  LONGLONG FromMediaTime(LONGLONG value) const;

  REFERENCE_TIME duration_;
  REFERENCE_TIME frameDuration_;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_;
  REFERENCE_TIME current_ = 0;
  double rate_ = 1.0;
  GUID format_;
};

}  // namespace kestrom::dshow
