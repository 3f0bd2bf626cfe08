// What selecting the test camera costs once its formats are cached, next to its first selection,
// which discovers them: both measured in the same run, the device's key removed before each
// first selection so that every round discovers again.
#include "capture/engine/DeviceProvider.h"
#include "capture/engine/FK.h"
#include "capture/engine/Registry2.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"

#include <benchmark/benchmark.h>
#include <chrono>

using namespace kestrom;
using namespace kestrom::engine;

namespace {

using Clock = std::chrono::steady_clock;

int TestCameraIndex() {
  return VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::kTestCameraName) + " (WDM)");
}

/**
 * @brief Seconds the selection of the test camera takes on a new component; negative when the
 * camera was not taken. With forget, the camera's key (settings and format cache) goes first.
 */
double SelectionSeconds(bool forget) {
  TFK fk;  // the device lists exist from the first component on
  fk.SetAudioRecording(false);
  const int index = TestCameraIndex();
  if (index < 0) return -1.0;
  if (forget) registry::TRegistry().DeleteKey(DeviceKeyPath(VideoDeviceList()->RegistryKeyOf(index)));
  const auto start = Clock::now();
  fk.SetVideoDevice(index);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return fk.VideoSettings().Bool("_DeviceDiscovered") ? seconds : -1.0;
}

void SelectingACachedDeviceNextToItsDiscovery(benchmark::State& state) {
  double discovery = 0, cached = 0;
  int64_t rounds = 0;
  for (auto _ : state) {
    const double first = SelectionSeconds(true);
    const double again = SelectionSeconds(false);
    if (first < 0 || again < 0) {
      state.SkipWithError("the test camera was not selected");
      return;
    }
    discovery += first;
    cached += again;
    ++rounds;
  }
  state.counters["ms_first_selection_discovering"] = discovery / rounds * 1e3;
  state.counters["ms_selection_from_cache"] = cached / rounds * 1e3;
  state.counters["cached_percent_of_discovery"] = cached / discovery * 100.0;
}

}  // namespace

BENCHMARK(SelectingACachedDeviceNextToItsDiscovery)->Iterations(20)->Unit(benchmark::kMillisecond);
