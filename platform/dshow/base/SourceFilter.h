#pragma once
// Source filters: each output pin runs its own streaming thread that asks the derived pin to
// fill a buffer and delivers it downstream, until the filter stops, the stream ends or delivery
// fails. A live source (a device) delivers only while the filter runs.

#include "platform/dshow/base/BaseFilter.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace kestrom::dshow {

class CSource;

/** @brief Answers IKsPropertySet with a pin category (PIN_CATEGORY_CAPTURE, ...) for a pin. */
class CPinCategory : public IKsPropertySet {
 public:
  void SetCategory(const GUID& category) { category_ = category; }
  const GUID& Category() const { return category_; }
  bool HasCategory() const { return !(category_ == com::GUID_NULL); }

  HRESULT Set(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data, DWORD dataLength) override;
  HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data, DWORD dataLength,
              DWORD* returned) override;
  HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

 private:
  GUID category_{};
};

/** @brief The category of a pin (through IKsPropertySet), GUID_NULL when it has none. */
GUID PinCategoryOf(IPin* pin);

/**
 * @brief An output pin with its own streaming thread. The thread starts when the filter leaves
 * the stopped state and is joined when it stops: Inactive first asks it to stop, calls
 * Interrupt (to wake a FillBuffer waiting on a device), decommits the allocator (to wake a
 * waiting GetBuffer with VFW_E_NOT_COMMITTED), and only then joins.
 */
class CSourceStream : public CBaseOutputPin, public CPinCategory {
 public:
  CSourceStream(const char* objectName, HRESULT* hr, CSource* filter, LPCWSTR pinName);
  ~CSourceStream() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  // What the derived pin does, on the streaming thread.
  /** @brief Fills one sample (data, length, times): S_OK delivers it, S_FALSE ends the stream, an error aborts it (EC_ERRORABORT). */
  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  virtual HRESULT OnThreadCreate() { return com::S_OK; }
  virtual HRESULT OnThreadDestroy() { return com::S_OK; }
  /** @brief Before the first sample after the thread starts or restarts (a new segment). */
  virtual HRESULT OnThreadStartPlay() { return com::S_OK; }
  /** @brief Called on the stopping thread before the join: wake whatever FillBuffer waits on. */
  virtual void Interrupt() {}

  /** @brief By default a type is accepted when it equals one of GetMediaType's. */
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  /** @brief True once the thread was asked to stop or to pause for a restart; FillBuffer should return soon. */
  bool StopRequested() const { return stop_.load() || hold_.load(); }
  /** @brief Sleeps up to the duration; false when a stop or restart came first. */
  bool SleepUnlessStopped(std::chrono::milliseconds duration);

  /**
   * @brief Repositions the stream (a seek): flushes downstream, holds the thread outside
   * FillBuffer, runs reposition, ends the flush and lets the thread restart with
   * OnThreadStartPlay. Without a running thread only reposition runs. Not on the streaming thread.
   */
  HRESULT Restart(const std::function<void()>& reposition);

  /** @brief The filter's state changed (wakes a live source waiting for Run). */
  void StateChanged();

 protected:
  CSource* source_;

 private:
  void ThreadProc();
  /** @brief Waits until the thread may produce; false when it must leave. */
  bool WaitToProduce(bool& startPlay);
  void Idle();

  std::thread thread_;
  std::mutex threadMutex_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hold_{false};
  bool idle_ = false;  // the thread waits outside FillBuffer (guarded by threadMutex_)
  bool restarted_ = false;
};

/**
 * @brief A source filter that owns its CSourceStream pins. A live source (SetLive) delivers only
 * while running, and its paused state answers VFW_S_CANT_CUE.
 */
class CSource : public CBaseFilter, public IAMFilterMiscFlags {
 public:
  CSource(const char* objectName, IUnknown* outer, REFCLSID clsid);
  ~CSource() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  /** @brief Takes the pin into the filter (it lives as long as the filter). */
  void AddPin(std::unique_ptr<CSourceStream> pin);

  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;

  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  void SetLive(bool live) { live_ = live; }
  bool IsLive() const { return live_.load(); }
  std::recursive_mutex* StateLock() { return &filterLock_; }

 protected:
  std::recursive_mutex filterLock_;
  std::vector<std::unique_ptr<CSourceStream>> pins_;
  std::atomic<bool> live_{false};
};

}  // namespace kestrom::dshow
