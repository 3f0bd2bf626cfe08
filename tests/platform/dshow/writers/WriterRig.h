#pragma once
// What the writer tests share: a graph that records its events, frames whose pixels carry their
// numbers, and the chain source -> compressor -> AVI mux -> file writer.

#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "tests/platform/dshow/support/TestFilters.h"

#include <QString>
#include <mutex>
#include <vector>

namespace kestrom::dshow::test {

/** @brief The graph, keeping a copy of every event its filters post. */
class CEventGraph final : public CFilterGraph {
 public:
  CEventGraph() : CFilterGraph(nullptr) {}
  HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
    {
      std::lock_guard lock(mutex_);
      events_.emplace_back(code, param1);
      posted_.push_back({code, param1, param2});
    }
    return CFilterGraph::Notify(code, param1, param2);
  }
  std::vector<std::pair<LONG, LONG_PTR>> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  struct Posted {
    LONG code;
    LONG_PTR param1, param2;
  };
  /** @brief Every event with both its parameters. */
  std::vector<Posted> AllPosted() {
    std::lock_guard lock(mutex_);
    return posted_;
  }
  bool Has(LONG code) {
    for (const auto& e : Events())
      if (e.first == code) return true;
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<LONG, LONG_PTR>> events_;
  std::vector<Posted> posted_;
};

/** @brief A bottom-up 24-bit frame carrying number n (as the capture sources deliver them). */
std::vector<uint8_t> CodedRgbFrame(int n, int frames, int width, int height);

/** @brief A 16-bit PCM type. */
CMediaType PcmType(int rate, int channels);

/** @brief Samples of a tone, count per channel. */
std::vector<uint8_t> ToneBytes(int64_t first, int count, int rate, int channels);

/** @brief The filter's pin of a direction at an index (not connected ones included). */
com::ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction, int index = 0);

/** @brief The first unconnected pin of a direction. */
com::ComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION direction);

/** @brief Sends end of stream from a source's output to the pin it is connected to. */
void EndStream(IPin* output);

}  // namespace kestrom::dshow::test
