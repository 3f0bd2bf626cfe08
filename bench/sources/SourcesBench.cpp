// The test camera's picture painting against memcpy of the same bytes, measured in the same
// run ("vs_memcpy": painting's frames per second divided by memcpy's), and the not-live test
// camera streaming through its pin into a counting sink (frames per second).

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/sources/TestPattern.h"

#include <benchmark/benchmark.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace {

using namespace kestrom::dshow;
using kestrom::com::ComPtr;

const GUID* const kSubtypes[] = {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_YUY2};

std::map<std::pair<int, int>, double>& MemcpyRates() {
  static std::map<std::pair<int, int>, double> rates;
  return rates;
}

BITMAPINFOHEADER Header(int w, int h, int bits) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = w;
  header.biHeight = h;
  header.biBitCount = static_cast<WORD>(bits);
  return header;
}

void BM_Memcpy(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const GUID& subtype = *kSubtypes[state.range(2)];
  const size_t bytes = TestFrameSize(subtype, w, h);
  std::vector<uint8_t> a(bytes, 1), b(bytes);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  MemcpyRates()[{w, int(state.range(2))}] = double(state.iterations()) / seconds;
  state.counters["frames_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PaintTestFrame(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const GUID& subtype = *kSubtypes[state.range(2)];
  const int bits = subtype == MEDIASUBTYPE_RGB24 ? 24 : subtype == MEDIASUBTYPE_RGB32 ? 32 : 16;
  std::vector<uint8_t> buffer(TestFrameSize(subtype, w, h));
  const BITMAPINFOHEADER header = Header(w, h, bits);
  int64_t frame = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    PaintTestFrame(buffer.data(), buffer.size(), subtype, header, frame++);
    benchmark::DoNotOptimize(buffer.data());
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate = double(state.iterations()) / seconds;
  state.counters["frames_per_s"] = rate;
  const auto base = MemcpyRates().find({w, int(state.range(2))});
  if (base != MemcpyRates().end()) state.counters["vs_memcpy"] = rate / base->second;
}

// Counts what arrives and lets the camera run as fast as it can.
class CCountingSink final : public CBaseFilter {
 public:
  CCountingSink() : CBaseFilter("counting sink", nullptr, &lock_, kestrom::com::GUID_NULL), pin_(this, &lock_) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  IPin* Input() { return &pin_; }
  std::atomic<long> received{0};

 private:
  class Pin final : public CBaseInputPin {
   public:
    Pin(CCountingSink* sink, std::recursive_mutex* lock) : CBaseInputPin("counting pin", sink, lock, nullptr, u"In"), sink_(sink) {}
    HRESULT CheckMediaType(const CMediaType*) override { return kestrom::com::S_OK; }
    HRESULT Receive(IMediaSample* sample) override {
      const HRESULT hr = CBaseInputPin::Receive(sample);
      if (hr == kestrom::com::S_OK) sink_->received.fetch_add(1);
      return hr;
    }

   private:
    CCountingSink* sink_;
  };
  std::recursive_mutex lock_;
  Pin pin_;
};

void BM_TestCameraNotLive(benchmark::State& state) {
  SetTestDevicesLive(false);
  HRESULT hr = 0;
  kestrom::com::CUnknown* made = CreateTestCamera(nullptr, &hr);
  made->NonDelegatingAddRef();
  ComPtr<IBaseFilter> camera;
  made->NonDelegatingQueryInterface(IID_IBaseFilter, camera.PutVoid());
  made->NonDelegatingRelease();
  ComPtr<IEnumPins> pins;
  camera->EnumPins(pins.Put());
  ComPtr<IPin> out;
  ULONG n = 0;
  pins->Next(1, out.Put(), &n);
  ComPtr<IAMStreamConfig> config;
  out->QueryInterface(IID_IAMStreamConfig, config.PutVoid());
  const GUID& subtype = *kSubtypes[state.range(2)];
  const WORD bits = subtype == MEDIASUBTYPE_RGB24 ? 24 : subtype == MEDIASUBTYPE_RGB32 ? 32 : 16;
  CMediaType type = MakeCapabilityType({subtype, bits == 16 ? subtype.Data1 : BI_RGB, bits, LONG(state.range(0)), LONG(state.range(1)), {}}, 400000);
  config->SetFormat(&type);
  auto* sink = new CCountingSink;
  sink->NonDelegatingAddRef();
  out->Connect(sink->Input(), nullptr);
  sink->Pause();
  camera->Pause();
  long before = sink->received.load();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long frames = sink->received.load() - before;
  camera->Stop();
  sink->Stop();
  out->Disconnect();
  sink->Input()->Disconnect();
  sink->NonDelegatingRelease();
  state.counters["frames_per_s"] = double(frames) / seconds;
  SetTestDevicesLive(true);
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int subtype = 0; subtype < 3; ++subtype) {
    b->Args({720, 576, subtype});
    b->Args({1920, 1080, subtype});
  }
}

BENCHMARK(BM_Memcpy)->Apply(Sizes);
BENCHMARK(BM_PaintTestFrame)->Apply(Sizes);
BENCHMARK(BM_TestCameraNotLive)->Apply(Sizes)->Iterations(10)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
