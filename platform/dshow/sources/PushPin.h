#pragma once
// An output pin with its own streaming thread: while its filter is paused or running the thread
// asks the pin to fill one sample after another and delivers each downstream.

#include "platform/dshow/base/BaseFilter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrom::dshow {

class CPushPin : public CBaseOutputPin {
 public:
  CPushPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name);
  ~CPushPin() override;

  /** @brief Commits the allocator and starts the streaming thread. */
  HRESULT Active() override;
  /** @brief Stops the streaming thread and decommits the allocator. */
  HRESULT Inactive() override;

  /** @brief Sizes the buffers after the agreed type's sample size (FrameBufferSize when 0). */
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

  bool IsStreaming() const { return thread_.joinable(); }

 protected:
  /**
   * @brief Fills one sample with data, length and times. S_OK delivers it; S_FALSE ends the
   * stream (end-of-stream goes downstream); VFW_S_NO_MORE_ITEMS skips it without delivering;
   * an error stops the thread and is reported through StreamError.
   */
  virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
  /** @brief On the streaming thread, before the first sample and after the last. */
  virtual HRESULT OnThreadStart() { return com::S_OK; }
  virtual void OnThreadStop() {}
  /** @brief The stream failed (FillBuffer or delivery returned an error). */
  virtual void StreamError(HRESULT) {}
  /** @brief Runs when a stop is asked for, before the thread is joined: wake what the thread waits on. */
  virtual void OnStopRequested() {}
  /** @brief The largest sample the pin will fill, for DecideBufferSize. */
  virtual LONG FrameBufferSize() { return static_cast<LONG>(mt_.lSampleSize); }
  virtual LONG BufferCount() { return 3; }

  /** @brief True once the thread has been asked to stop. */
  bool StopRequested() const { return stop_.load(); }
  /** @brief Waits up to timeout; false when a stop was asked for meanwhile. */
  bool WaitUnlessStopped(std::chrono::nanoseconds timeout);
  /** @brief Stops the thread (not from the thread itself); safe to call when none runs. */
  void StopThread();
  HRESULT StartThread();

 private:
  void ThreadProc();

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex waitMutex_;
  std::condition_variable wake_;
};

}  // namespace kestrom::dshow
