#pragma once
// A renderer for source tests: takes what a predicate allows and keeps every sample it receives
// (bytes, times, the type), and lets a test wait, with a bound, for a number of samples, for
// the end of the stream or for a graph event.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/sources/GraphInterfaces.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::dshow::test {

struct ReceivedSample {
  std::vector<uint8_t> bytes;
  REFERENCE_TIME start = -1, stop = -1;
  bool sync = false;
};

class CCollector final : public CBaseFilter {
 public:
  using Accept = std::function<bool(const CMediaType&)>;
  explicit CCollector(Accept accept = nullptr);
  ~CCollector() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  IPin* Input();

  /** @brief Waits (at most the bound) until count samples arrived; true when they did. */
  bool WaitForSamples(size_t count, std::chrono::milliseconds bound = std::chrono::seconds(20));
  bool WaitForEndOfStream(std::chrono::milliseconds bound = std::chrono::seconds(20));
  std::vector<ReceivedSample> Samples();
  CMediaType Type();
  /** @brief Refuses further samples once this many arrived (0: no limit), so a fast source waits. */
  void SetLimit(size_t limit);
  /** @brief Keeps the first sample this long before taking it, as a writer opening its file does. */
  void SetFirstSampleHold(std::chrono::milliseconds hold) { firstHold_ = hold; }

 private:
  class Pin;
  friend class Pin;
  std::recursive_mutex lock_;
  std::unique_ptr<Pin> pin_;
  std::mutex dataLock_;
  std::condition_variable changed_;
  std::vector<ReceivedSample> samples_;
  bool endOfStream_ = false;
  size_t limit_ = 0;
  std::chrono::milliseconds firstHold_{0};
};

/** @brief A graph stand-in that records the events filters post to it. */
class CEventRecorder final : public com::CUnknown, public IFilterGraph, public IMediaEventSink {
 public:
  CEventRecorder();
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters**) override { return com::E_NOTIMPL; }
  HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return com::E_NOTIMPL; }
  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override { return out->Connect(in, type); }
  HRESULT Reconnect(IPin*) override { return com::E_NOTIMPL; }
  HRESULT Disconnect(IPin* pin) override { return pin->Disconnect(); }
  HRESULT SetDefaultSyncSource() override { return com::S_OK; }

  HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;

  struct Event {
    LONG code;
    LONG_PTR param1, param2;
  };
  std::vector<Event> Events();

 private:
  std::mutex lock_;
  std::vector<Event> events_;
};

}  // namespace kestrom::dshow::test
