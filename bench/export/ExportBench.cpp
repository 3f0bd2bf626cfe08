// The two halves of an export, each against what it cannot do without:
// - the window's export steps at 720x576 (seek, copy of the frame from the canvas, BMP file)
//   against the same seeks alone;
// - the export program joining 1000 frame files of 720x576 into an AVI against reading the same
//   files and encoding them with libavcodec alone (no graph, no mux, no file).
// Each prints its figures and their ratio.
#include "analysis/exportavi/ExportProtocol.h"
#include "analysis/exportavi/FrameJoiner.h"
#include "platform/core/Bmp.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/writers/EncoderCore.h"
#include "platform/media/MediaPlayer.h"
#include "platform/registry/Registry.h"
#include "platform/ui/Canvas.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

using namespace kestrom;
using Clock = std::chrono::steady_clock;

constexpr QSize kSize{720, 576};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The processor time of this process (all its threads), in ms: on a machine busy with other work
// it counts what the work itself costs, where the wall clock also counts the waits for a core.
double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// ---- export steps -------------------------------------------------------------------------------

void BM_ExportStepsAgainstSeeks720x576(benchmark::State& state) {
  constexpr int kFrames = 250;
  QTemporaryDir dir;
  tools::ClipSpec clip;
  clip.path = dir.filePath("clip.avi");
  clip.size = kSize;
  clip.frames = kFrames;
  clip.gop = 250;
  QString error;
  if (!tools::WriteClip(clip, &error)) qFatal("%s", qPrintable(error));
  const QString temp = dir.filePath("Temp");
  QDir().mkpath(temp);

  // The window as the export sees it: the picture at zoom 1 below a 56-pixel menu panel. Each
  // pass opens the clip afresh, so neither finds frames that the other decoded.
  ui::Canvas canvas(kSize.width() + 16, kSize.height() + 120);
  const QRect picture(QPoint(0, 56), kSize);
  QImage exportPicture(kSize, QImage::Format_RGB32);
  enum class Save { None, CopyThenWrite, StraightFromCanvas };
  struct Timing {
    double wallMs, cpuMs;
  };
  const auto pass = [&](Save save) {
    media::MediaPlayer player(nullptr);
    player.SetDisplay(&canvas.Image());
    player.SetFileName(clip.path);
    if (!player.Open()) qFatal("%s", qPrintable(player.ErrorString()));
    player.SetDisplayRect(picture);
    player.SetPosition(0);
    const auto start = Clock::now();
    const double cpuStart = ProcessCpuMs();
    for (int n = 1; n < kFrames; ++n) {
      player.SetPosition(std::llround(n * 40.0));  // one frame forward, as each step seeks
      if (save == Save::None) continue;
      const QString file = exportavi::ExportFrameFile(temp, n);
      if (save == Save::StraightFromCanvas) {
        if (!exportavi::WriteExportFrame(file, canvas.Image(), picture)) qFatal("BMP not written");
        continue;
      }
      {
        QPainter painter(&exportPicture);
        painter.drawImage(QPoint(0, 0), canvas.Image(), picture);
      }
      if (!exportavi::WriteExportFrame(file, exportPicture)) qFatal("BMP not written");
    }
    return Timing{MsSince(start), ProcessCpuMs() - cpuStart};
  };

  // Seeks alone are timed before and after the steps, and the lesser taken: on a busy machine a
  // single pass of either kind can be held up by other work. The processor time of each pass is
  // the steadier figure there.
  Timing seeks{}, steps{}, straight{};
  for (auto _ : state) {
    seeks = pass(Save::None);
    steps = pass(Save::CopyThenWrite);
    straight = pass(Save::StraightFromCanvas);
    const Timing again = pass(Save::None);
    seeks = {std::min(seeks.wallMs, again.wallMs), std::min(seeks.cpuMs, again.cpuMs)};
  }
  const int n = kFrames - 1;
  state.counters["seek_ms_per_frame"] = seeks.wallMs / n;
  state.counters["step_ms_per_frame"] = steps.wallMs / n;
  state.counters["straight_ms_per_frame"] = straight.wallMs / n;
  state.counters["ratio"] = steps.wallMs / seeks.wallMs;
  state.counters["cpu_ratio"] = steps.cpuMs / seeks.cpuMs;
  state.counters["straight_cpu_ratio"] = straight.cpuMs / seeks.cpuMs;
  std::printf("export steps 720x576: %.2f ms per frame, seeks alone %.2f ms per frame, ratio %.2f (aim: at most 1.5)\n",
              steps.wallMs / n, seeks.wallMs / n, steps.wallMs / seeks.wallMs);
  std::printf("  processor time: steps %.2f ms per frame, seeks alone %.2f ms per frame, ratio %.2f\n",
              steps.cpuMs / n, seeks.cpuMs / n, steps.cpuMs / seeks.cpuMs);
  std::printf("  written straight from the canvas: %.2f ms per frame (ratio %.2f), processor time %.2f ms (ratio %.2f)\n",
              straight.wallMs / n, straight.wallMs / seeks.wallMs, straight.cpuMs / n, straight.cpuMs / seeks.cpuMs);
}

// ---- the export program's join ------------------------------------------------------------------

void BM_JoinAgainstReadAndEncode1000x720x576(benchmark::State& state) {
  constexpr int kFrames = 1000;
  QTemporaryDir dir;
  registry::SetRegistryDirectory(dir.filePath("registry"));
  const QString temp = dir.filePath("Temp");
  QDir().mkpath(temp);
  QImage frame(kSize, QImage::Format_RGB32);
  for (int n = 1; n <= kFrames; ++n) {
    tools::PaintCodedFrame(frame, n, kFrames);
    if (!exportavi::WriteExportFrame(exportavi::ExportFrameFile(temp, n), frame)) qFatal("BMP not written");
  }

  double joinMs = 0, baselineMs = 0;
  for (auto _ : state) {
    // Reading and encoding alone, as the join's source and compressor do it.
    const dshow::CMediaType type = dshow::MakeRgbVideoType(32, kSize.width(), kSize.height(), 400000);
    dshow::VideoEncoder encoder;
    if (com::FAILED(encoder.Open(type, dshow::VideoEncoderSettings{}))) qFatal("no encoder");
    std::vector<uint8_t> buffer(type.lSampleSize);
    int64_t bytes = 0;
    const dshow::PacketSink sink = [&](const AVPacket& packet) {
      bytes += packet.size;
      return 0;
    };
    auto start = Clock::now();
    for (int n = 1; n <= kFrames; ++n) {
      const QImage picture = core::ReadBmpFile(exportavi::ExportFrameFile(temp, n));
      const size_t stride = size_t(kSize.width()) * 4;
      for (int y = 0; y < kSize.height(); ++y)
        std::memcpy(&buffer[size_t(kSize.height() - 1 - y) * stride], picture.constScanLine(y), stride);
      encoder.Encode(buffer.data(), static_cast<dshow::LONG>(buffer.size()), n - 1, sink);
    }
    encoder.Flush(sink);
    baselineMs = MsSince(start);
    benchmark::DoNotOptimize(bytes);

    start = Clock::now();
    exportavi::FrameJoiner joiner({25.0, dir.filePath("joined.avi"), kFrames, kSize.width(), kSize.height()}, temp);
    if (!joiner.Start()) qFatal("%s", qPrintable(joiner.Error()));
    while (joiner.Poll(100) == exportavi::JoinState::Running) {
    }
    joinMs = MsSince(start);
    if (joiner.State() != exportavi::JoinState::Finished) qFatal("%s", qPrintable(joiner.Error()));
  }
  registry::SetRegistryDirectory({});
  state.counters["join_ms"] = joinMs;
  state.counters["read_encode_ms"] = baselineMs;
  state.counters["ratio"] = joinMs / baselineMs;
  std::printf("join of 1000 frames 720x576: %.0f ms, reading and encoding alone %.0f ms, ratio %.2f (aim: at most 1.2)\n",
              joinMs, baselineMs, joinMs / baselineMs);
}

BENCHMARK(BM_ExportStepsAgainstSeeks720x576)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinAgainstReadAndEncode1000x720x576)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
