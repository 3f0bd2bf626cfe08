// The field transform against memcpy of the same output bytes, measured in the same run.
// Rates are input megapixels per second (one input frame per iteration); "vs_memcpy" is the
// transform's rate divided by memcpy's for the same frame.

#include "deinterlacer/FieldTransform.h"
#include "platform/dshow/base/MediaType.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

namespace {

using kestrom::deinterlacer::FieldLayout;
using kestrom::deinterlacer::TransformField;
using kestrom::dshow::RgbStride;

struct Frame {
  FieldLayout layout;
  std::vector<uint8_t> in, out;

  Frame(int width, int height, int bits) {
    layout = {width, height, width / 2, height / 2, RgbStride(width, bits), RgbStride(width / 2, bits), bits / 8};
    in.resize(static_cast<size_t>(layout.inStride) * height);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7);
    out.resize(static_cast<size_t>(layout.outStride) * layout.outHeight);
  }
  size_t OutputBytes() const { return out.size(); }
};

std::map<std::pair<int, int>, double>& MemcpyRates() {
  static std::map<std::pair<int, int>, double> rates;
  return rates;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_Memcpy(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const int bits = static_cast<int>(state.range(2));
  Frame f(width, height, bits);
  const auto begin = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::memcpy(f.out.data(), f.in.data(), f.OutputBytes());
    benchmark::ClobberMemory();
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - begin);
  const double pixels = double(width) * height * double(state.iterations());
  MemcpyRates()[{width * 10 + bits, height}] = pixels / seconds / 1e6;
  state.counters["MPix/s"] = benchmark::Counter(double(width) * height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.SetBytesProcessed(static_cast<int64_t>(f.OutputBytes()) * state.iterations());
}

void BM_Transform(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const int bits = static_cast<int>(state.range(2));
  Frame f(width, height, bits);
  const auto begin = std::chrono::steady_clock::now();
  for (auto _ : state) {
    TransformField(f.in.data(), f.out.data(), f.layout, 0, 0);
    benchmark::ClobberMemory();
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - begin);
  const double rate = double(width) * height * double(state.iterations()) / seconds / 1e6;
  state.counters["MPix/s"] = benchmark::Counter(double(width) * height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.SetBytesProcessed(static_cast<int64_t>(f.OutputBytes()) * state.iterations());
  const auto memcpyRate = MemcpyRates().find({width * 10 + bits, height});
  if (memcpyRate != MemcpyRates().end()) state.counters["vs_memcpy"] = rate / memcpyRate->second;
}

// Each memcpy baseline runs just before the transform of the same frame.
void Frames(benchmark::internal::Benchmark* b) {
  for (auto [w, h] : {std::pair{720, 576}, std::pair{1920, 1080}})
    for (int bits : {24, 32}) b->Args({w, h, bits});
}

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(Frames);
BENCHMARK(BM_Transform)->Apply(Frames);
BENCHMARK_MAIN();
