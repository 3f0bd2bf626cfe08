// What the companion module's filters add to a 1080p30 frame: the frame grabber's colour
// processing and the transform's quarter turn, each measured as the time a frame takes through
// push source -> filter -> raw writer less the same graph without the filter, in the same run,
// and printed as a share of the 33.3 ms frame interval.
#include "capture/filters/CompanionFilters.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/registry/Registry.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <vector>

using namespace kestrom;
using namespace kestrom::dshow;
using namespace kestrom::filters;
using com::ComPtr;

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 30;
constexpr double kFrameIntervalMs = 1000.0 / 30.0;

void* Module() {
  static void* handle = ::dlopen(KESTROM_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  return handle;
}

ComPtr<IBaseFilter> Create(const char* name) {
  ComPtr<IBaseFilter> filter;
  if (auto create = reinterpret_cast<CreateFilterFunction>(Module() ? ::dlsym(Module(), name) : nullptr))
    create(filter.Put());
  return filter;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  ComPtr<IPin> pin;
  ULONG n = 0;
  while (pins->Next(1, pin.Put(), &n) == com::S_OK) {
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    if (d == direction) return pin;
  }
  return {};
}

struct Feed {
  std::vector<uint8_t> frame = std::vector<uint8_t>(static_cast<size_t>(RgbStride(kWidth, 24)) * kHeight);
  int given = 0;
  Feed() {
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 31 + (i >> 11));
  }
  static HRESULT Fill(void* self, BYTE* buffer, LONG size, BOOL* end) {
    auto* feed = static_cast<Feed*>(self);
    if (feed->given++ == kFrames) {
      *end = 1;
      return com::S_OK;
    }
    std::memcpy(buffer, feed->frame.data(), std::min<size_t>(feed->frame.size(), static_cast<size_t>(size)));
    return com::S_OK;
  }
  static HRESULT Format(void*, LONG* size, BYTE** format, BYTE** buffer) {
    // The layer's own type maker: the module finds the layer's library among those the program loaded.
    const CMediaType type = MakeRgbVideoType(24, kWidth, kHeight, 333333);
    auto* header = static_cast<BITMAPINFOHEADER*>(com::CoTaskMemAlloc(sizeof(BITMAPINFOHEADER)));
    *header = *GetBitmapInfoHeader(type);
    *size = sizeof(BITMAPINFOHEADER);
    *format = *buffer = reinterpret_cast<BYTE*>(header);
    return com::S_OK;
  }
};

/** @brief Milliseconds a frame takes through source -> (middle) -> raw writer into /dev/null. */
double MsPerFrame(const std::function<ComPtr<IBaseFilter>()>& middle) {
  ComPtr<IGraphBuilder> graph;
  com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
  Feed feed;
  ComPtr<IBaseFilter> source = Create(kCreatePushSource);
  ComPtr<IPushSourceSettings> settings;
  source->QueryInterface(IID_IPushSourceSettings, settings.PutVoid());
  TPushSourceRecord record;
  record.framesPerSecond = 30;
  record.fill = &Feed::Fill;
  record.fillData = &feed;
  record.format = &Feed::Format;
  settings->SetSettings(&record);
  graph->AddFilter(source.Get(), u"PushSrc");
  ComPtr<IPin> chain = PinOf(source.Get(), PINDIR_OUTPUT);
  if (ComPtr<IBaseFilter> filter = middle ? middle() : nullptr) {
    graph->AddFilter(filter.Get(), u"middle");
    graph->ConnectDirect(chain.Get(), PinOf(filter.Get(), PINDIR_INPUT).Get(), nullptr);
    chain = PinOf(filter.Get(), PINDIR_OUTPUT);
  }
  ComPtr<IBaseFilter> writer = Create(kCreateRawWriter);
  ComPtr<IFileSinkFilter> sink;
  writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid());
  sink->SetFileName(u"/dev/null", nullptr);
  graph->AddFilter(writer.Get(), u"RwCapFilter");
  if (graph->ConnectDirect(chain.Get(), PinOf(writer.Get(), PINDIR_INPUT).Get(), nullptr) != com::S_OK) return -1;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  graph->QueryInterface(IID_IMediaEvent, events.PutVoid());
  const auto start = std::chrono::steady_clock::now();
  control->Run();
  LONG code = 0;
  events->WaitForCompletion(60000, &code);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  control->Stop();
  return ms / kFrames;
}

ComPtr<IBaseFilter> ColourGrabber() {
  ComPtr<IBaseFilter> grabber = Create(kCreateGrabber);
  ComPtr<IGrabberControl> control;
  grabber->QueryInterface(IID_IGrabberControl, control.PutVoid());
  TGrabberConfig* c = nullptr;
  control->GetConfig(gk_RGB, &c);
  for (uint8_t& e : c->enable) e = 1;
  c->rgbFormat = 2;  // RGB24, as the camera gives it
  c->brightness = 20;
  c->contrast = 30;
  c->saturation = -40;
  c->hue = 25;
  control->ApplyConfig();
  return grabber;
}

ComPtr<IBaseFilter> QuarterTurn() {
  ComPtr<IBaseFilter> transform = Create(kCreateTransform);
  ComPtr<ITransformSettings> settings;
  transform->QueryInterface(IID_ITransformSettings, settings.PutVoid());
  TTransformSettings s;
  s.rotation = 1;
  s.active = 1;
  settings->SetSettings(&s);
  return transform;
}

void Measure(benchmark::State& state, ComPtr<IBaseFilter> (*middle)()) {
  if (!Create(kCreatePushSource)) {
    state.SkipWithError(::dlerror() ? ::dlerror() : "tfcatch.so did not load");
    return;
  }
  QTemporaryDir registry;
  registry::SetRegistryDirectory(registry.path());
  double added = 0, baseline = 0;
  int runs = 0;
  for (auto _ : state) {
    const double base = MsPerFrame({});
    const double with = MsPerFrame(middle);
    baseline += base;
    added += with - base;
    ++runs;
  }
  state.counters["baseline_ms_per_frame"] = baseline / runs;
  state.counters["added_ms_per_frame"] = added / runs;
  state.counters["share_of_frame_interval_pct"] = 100.0 * (added / runs) / kFrameIntervalMs;
  registry::SetRegistryDirectory({});
}

void BM_GrabberColourProcessing1080p(benchmark::State& state) { Measure(state, &ColourGrabber); }
void BM_QuarterTurn1080p(benchmark::State& state) { Measure(state, &QuarterTurn); }

BENCHMARK(BM_GrabberColourProcessing1080p)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_QuarterTurn1080p)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
