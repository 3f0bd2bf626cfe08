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
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

using namespace kestrom;
using Clock = std::chrono::steady_clock;

constexpr QSize kSize{720, 576};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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
  const auto pass = [&](bool save) {
    media::MediaPlayer player(nullptr);
    player.SetDisplay(&canvas.Image());
    player.SetFileName(clip.path);
    if (!player.Open()) qFatal("%s", qPrintable(player.ErrorString()));
    player.SetDisplayRect(picture);
    player.SetPosition(0);
    const auto start = Clock::now();
    for (int n = 1; n < kFrames; ++n) {
      player.SetPosition(std::llround(n * 40.0));  // one frame forward, as each step seeks
      if (!save) continue;
      {
        QPainter painter(&exportPicture);
        painter.drawImage(QPoint(0, 0), canvas.Image(), picture);
      }
      if (!exportavi::WriteExportFrame(exportavi::ExportFrameFile(temp, n), exportPicture)) qFatal("BMP not written");
    }
    return MsSince(start);
  };

  double seeksMs = 0, stepsMs = 0;
  for (auto _ : state) {
    seeksMs = pass(false);
    stepsMs = pass(true);
  }
  const int steps = kFrames - 1;
  state.counters["seek_ms_per_frame"] = seeksMs / steps;
  state.counters["step_ms_per_frame"] = stepsMs / steps;
  state.counters["ratio"] = stepsMs / seeksMs;
  std::printf("export steps 720x576: %.2f ms per frame, seeks alone %.2f ms per frame, ratio %.2f (aim: at most 1.5)\n",
              stepsMs / steps, seeksMs / steps, stepsMs / seeksMs);
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
