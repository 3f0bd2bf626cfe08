#pragma once
// What the recording and streaming benchmarks share: process CPU time, filters joined by hand on
// the layer, the test camera's format, and waiting for a number of camera frames.

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Interfaces.h"
#include "platform/dshow/base/MediaType.h"

#include <chrono>
#include <ctime>

namespace kestrom::bench {

/** @brief CPU time of every thread of the process, and wall time, since construction. */
class CpuWatch {
 public:
  CpuWatch() : cpu_(ProcessCpuSeconds()), wall_(std::chrono::steady_clock::now()) {}
  double CpuSeconds() const { return ProcessCpuSeconds() - cpu_; }
  double WallSeconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count(); }
  static double ProcessCpuSeconds() { return Seconds(CLOCK_PROCESS_CPUTIME_ID); }
  static double ThreadCpuSeconds() { return Seconds(CLOCK_THREAD_CPUTIME_ID); }

 private:
  static double Seconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  }
  double cpu_;
  std::chrono::steady_clock::time_point wall_;
};

com::ComPtr<dshow::IBaseFilter> CreateFilter(const dshow::CLSID& clsid);

/** @brief Connects the first free output of `up` (named `output` when given) to the first free input of `down`. */
bool Join(dshow::IGraphBuilder* graph, dshow::IBaseFilter* up, dshow::IBaseFilter* down, const char16_t* output = nullptr);

/** @brief Sets the camera's capture pin to RGB24 at the size, 30 frames a second. */
bool SetCameraFormat(dshow::IPin* capture, dshow::LONG width, dshow::LONG height);

/** @brief Frames the graph's video capture pin has delivered so far (-1 without one). */
long CameraFrames(dshow::IFilterGraph* graph);

/** @brief Waits (a minute at most) until the graph's camera has delivered `frames`. */
void WaitForCameraFrames(dshow::IFilterGraph* graph, long frames);

}  // namespace kestrom::bench
