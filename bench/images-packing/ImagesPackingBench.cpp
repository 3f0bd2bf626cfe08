// Packing a folder of 500 JPEG pictures of 720x576 into an images file, against decoding the
// same files with the JPEG library alone: the packing adds the BMP encoding and the file writes.
// Prints both figures and their ratio.
#include "capture/engine/FK.h"
#include "capture/engine/SyncManager.h"
#include "platform/jpeg/Jpeg.h"
#include "platform/registry/Registry.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

namespace {

using namespace kestrom;
using Clock = std::chrono::steady_clock;

constexpr int kPictures = 500;
constexpr QSize kSize{720, 576};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void BM_Pack500JpegsAgainstDecodingThem(benchmark::State& state) {
  QTemporaryDir dir;
  const QString pictures = dir.filePath("Temp");
  QDir().mkpath(pictures);
  QImage frame(kSize, QImage::Format_RGB32);
  QStringList files;
  for (int n = 0; n < kPictures; ++n) {
    tools::PaintCodedFrame(frame, n, kPictures);
    files << pictures + QStringLiteral("/Sample%1.jpg").arg(n + 100);
    jpeg::CompressToFile(frame, files.back());
  }

  engine::TFK fk;
  fk.SetVideoSource(engine::vs_VideoFromImages);
  fk.SetVideoFromImages_SourceDirectory(pictures);
  fk.SetVideoFromImages_TemporaryFile(dir.filePath("SetOfBitmaps01.dat"));

  // Best of three rounds each, taken in turn, so neither side profits from a warmer cache.
  double decodeMs = std::numeric_limits<double>::max(), packMs = decodeMs;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      auto start = Clock::now();
      int64_t pixels = 0;
      for (const QString& file : files) pixels += jpeg::DecompressFile(file).sizeInBytes();
      benchmark::DoNotOptimize(pixels);
      decodeMs = std::min(decodeMs, MsSince(start));

      start = Clock::now();
      if (!fk.CreateVideoFromImagesFile()) qFatal("packing failed");
      packMs = std::min(packMs, MsSince(start));
    }
  }
  state.counters["pack_ms"] = packMs;
  state.counters["decode_ms"] = decodeMs;
  state.counters["ratio"] = packMs / decodeMs;
  std::printf("packing %d JPEGs of 720x576: %.0f ms, decoding them alone %.0f ms, ratio %.2f (aim: at most 1.3)\n",
              kPictures, packMs, decodeMs, packMs / decodeMs);
}

BENCHMARK(BM_Pack500JpegsAgainstDecodingThem)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QTemporaryDir registry;
  registry::SetRegistryDirectory(registry.path());
  engine::SetDeviceWatchThreadEnabled(false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  engine::StopSyncManager();
  registry::SetRegistryDirectory({});
  return 0;
}
