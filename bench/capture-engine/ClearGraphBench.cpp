// What the engine's teardown of a running test-camera graph costs next to the least it could
// cost: the graph's own Stop and the release of the same graph built by hand, in the same run.
#include "capture/engine/DeviceProvider.h"
#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/registry/Registry.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>

using namespace kestrom;
using namespace kestrom::engine;
using namespace kestrom::dshow;
using com::ComPtr;

namespace {

using Clock = std::chrono::steady_clock;

int CameraIndex() { return VideoDeviceList()->IndexOfName(QString::fromUtf16(kTestCameraName) + " (WDM)"); }

ComPtr<IBaseFilter> NullRenderer() {
  ComPtr<IBaseFilter> renderer;
  com::CoCreateInstance(CLSID_NullRenderer, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.PutVoid());
  return renderer;
}

bool ConnectToRenderer(IGraphBuilder* graph, IBaseFilter* camera, IBaseFilter* renderer) {
  ComPtr<IPin> out, in;
  return FindPinOfType(camera, PINDIR_OUTPUT, MEDIATYPE_Video, out) == com::S_OK &&
         FindPinByName(renderer, PINDIR_INPUT, "", in, true, true) == com::S_OK &&
         graph->Connect(out.Get(), in.Get()) == com::S_OK;
}

/** @brief The camera graph built by hand, running; teardown is Stop and the releases. */
double HandTeardownSeconds() {
  ComPtr<IGraphBuilder> graph;
  com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
  QString friendly;
  DeviceMoniker moniker;
  FindDeviceMoniker(VideoDeviceList()->Category(), VideoDeviceList()->Entry(CameraIndex())->Key, 3, friendly, moniker);
  ComPtr<IBaseFilter> camera = BindFilter(moniker);
  ComPtr<IBaseFilter> renderer = NullRenderer();
  graph->AddFilter(camera.Get(), u"0 camera");
  graph->AddFilter(renderer.Get(), u"Null Renderer");
  ConnectToRenderer(graph.Get(), camera.Get(), renderer.Get());
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  control->Run();
  QThread::msleep(30);
  const auto start = Clock::now();
  control->Stop();
  control.Reset();
  camera.Reset();
  renderer.Reset();
  graph.Reset();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double EngineTeardownSeconds(TFK& fk) {
  fk.SnapshotBuildParameters();
  fk.CreateFilterGraph();
  int index = CameraIndex();
  ComPtr<IBaseFilter> camera;
  fk.BindDevice(VideoDeviceList(), index, QString(), false, true, camera);
  ComPtr<IBaseFilter> renderer = NullRenderer();
  fk.AddFilterToGraph(renderer.Get(), "Null Renderer");
  ConnectToRenderer(fk.Graph(), camera.Get(), renderer.Get());
  camera.Reset();
  renderer.Reset();
  fk.TakeGraphControls();
  fk.SetGraphState(2, "bench");
  QThread::msleep(30);
  const auto start = Clock::now();
  fk.ClearGraph(true);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void ClearGraphOfARunningCameraGraph(benchmark::State& state) {
  TFK fk;
  double engine = 0, hand = 0;
  int64_t rounds = 0;
  for (auto _ : state) {
    engine += EngineTeardownSeconds(fk);
    hand += HandTeardownSeconds();
    ++rounds;
  }
  state.counters["ms_clear_graph"] = engine / rounds * 1e3;
  state.counters["ms_stop_and_release"] = hand / rounds * 1e3;
  state.counters["overhead_percent"] = (engine / hand - 1.0) * 100.0;
}

}  // namespace

BENCHMARK(ClearGraphOfARunningCameraGraph)->Iterations(100)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir registry;
  registry::SetRegistryDirectory(registry.path());
  SetDeviceWatchThreadEnabled(false);
  dshow::SetTestCameraPlugged(true);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopSyncManager();
  registry::SetRegistryDirectory({});
  return 0;
}
