#pragma once
// The common base of source filters: it keeps what the streaming threads need from the graph
// (the reference clock and the start time of the run, the graph's event sink) behind a lock of
// its own, because a streaming thread must never wait for the filter lock that Stop holds while
// it waits for the thread to end.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/sources/GraphInterfaces.h"

#include <QString>
#include <chrono>
#include <mutex>

namespace kestrom::dshow {

class CDeviceFilter : public CBaseFilter, public IAMFilterMiscFlags {
 public:
  CDeviceFilter(const char* objectName, IUnknown* outer, REFCLSID clsid);

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
  ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }
  /** @brief A live source cannot cue while paused: VFW_S_CANT_CUE. */
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  /** @brief Live sources (devices) deliver only while running. */
  virtual bool IsLiveSource() const { return false; }

  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

  FILTER_STATE State() const { return state_.load(); }
  /**
   * @brief Stream time now: the graph clock's time less the run's start time, or the time since
   * Run on the steady clock when the graph has no clock. 0 while not running.
   */
  REFERENCE_TIME StreamTime();
  /** @brief Posts an event to the graph (no-op outside a graph or when it takes no events). */
  void NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

 protected:
  std::recursive_mutex filterLock_;

 private:
  std::mutex streamLock_;
  com::ComPtr<IReferenceClock> runClock_;
  REFERENCE_TIME runStart_ = 0;
  std::chrono::steady_clock::time_point steadyStart_{};
  bool running_ = false;
  IFilterGraph* eventGraph_ = nullptr;  // not referenced: the graph owns us
};

/**
 * @brief A task-memory copy of text with its terminator, as a file source hands out its file
 * name (the caller frees it with CoTaskMemFree). E_OUTOFMEMORY leaves *out null.
 */
HRESULT CopyToTaskMemory(const QString& text, LPWSTR* out);

}  // namespace kestrom::dshow
