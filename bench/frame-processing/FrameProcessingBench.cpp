// What the capture engine does to every 1080p RGB24 frame, as shares of the 30 fps frame interval:
// the default text overlay plus one shape drawn into the frame's own bytes, and motion detection
// on a 10 x 10 grid sampling every pixel (plain, and with grey scale and noise reduction). Each
// prints its share as interval_%; the baseline is a memcpy of one frame.
#include "capture/engine/FKProperties.h"
#include "capture/engine/MotionDetector.h"
#include "capture/engine/TextOverlay.h"
#include "platform/ui/ShapeOverlay.h"

#include <QGuiApplication>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

using namespace kestrom;

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr double kFrameIntervalMs = 1000.0 / 30.0;

// Two frames of camera-like noise with a moving block, bottom-up RGB24 as the grabber hands them.
struct Frames {
  std::vector<uchar> a, b;
  core::FrameBits first, second;
  Frames() {
    const qsizetype stride = ((qsizetype(kW) * 24 + 31) / 32) * 4;
    a.resize(size_t(stride * kH));
    QRandomGenerator random(7);
    for (uchar& v : a) v = uchar(96 + random.bounded(24));
    b = a;
    for (int y = 300; y < 600; ++y)
      for (int x = 800; x < 1200; ++x) std::memset(b.data() + y * stride + x * 3, 230, 3);
    first = {a.data(), kW, kH, core::FramePixels::Rgb24, 0, nullptr, 0};
    second = {b.data(), kW, kH, core::FramePixels::Rgb24, 0, nullptr, 0};
  }
};

Frames& TheFrames() {
  static Frames frames;
  return frames;
}

// Times the loop of a benchmark and reports one iteration as a share of the frame interval.
class ShareOfInterval {
 public:
  explicit ShareOfInterval(benchmark::State& state) : state_(state), start_(std::chrono::steady_clock::now()) {}
  ~ShareOfInterval() {
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start_;
    if (state_.iterations() > 0)
      state_.counters["interval_%"] = 100.0 * spent.count() / double(state_.iterations()) / kFrameIntervalMs;
  }

 private:
  benchmark::State& state_;
  std::chrono::steady_clock::time_point start_;
};

engine::TFrameInfo InfoOf(int frame) {
  engine::TFrameInfo info;
  info.FrameNumber = frame;
  info.Time = int64_t(frame) * 333'333;
  info.TotalHundredths = info.Time / 100'000;
  info.TotalSeconds = info.TotalHundredths / 100;
  info.Hundredths = int32_t(info.TotalHundredths % 100);
  info.TotalMinutes = int32_t(info.TotalSeconds / 60);
  info.Seconds = int32_t(info.TotalSeconds % 60);
  info.Hours = info.TotalMinutes / 60;
  info.Minutes = info.TotalMinutes % 60;
  return info;
}

void FrameCopy(benchmark::State& state) {
  Frames& f = TheFrames();
  std::vector<uchar> copy(f.a.size());
  const ShareOfInterval share(state);
  for (auto _ : state) {
    std::memcpy(copy.data(), f.a.data(), f.a.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
}

void TextOverlayAndShape(benchmark::State& state) {
  Frames& f = TheFrames();
  engine::TextOverlayText text;
  text.Set(QString::fromLatin1(engine::DefaultTextOverlayString));
  engine::TextOverlayStyle style;
  style.Font = {"DejaVu Sans", 8, false, false, false, false, core::clAqua};
  ui::ShapeSnapshot shape;
  shape.Shape = ui::stEllipse;
  shape.Left = 900, shape.Top = 500, shape.Width = 200, shape.Height = 120;
  shape.Pen = {core::clRed, 2};
  const std::array<QString, 10> custom;
  int frame = 0;
  const ShareOfInterval share(state);
  for (auto _ : state) {
    ui::Canvas canvas = ui::Canvas::OverFrame(f.first);
    ui::DrawShape(canvas, shape);
    const auto current = text.Current();
    const QString shown = engine::ComposeTextOverlay(current->Segments, InfoOf(++frame), QDateTime::currentDateTime(), custom);
    engine::DrawTextOverlay(canvas, style, shown);
    benchmark::ClobberMemory();
  }
}

void MotionDetection(benchmark::State& state) {
  Frames& f = TheFrames();
  engine::TImplMotionDetector detector;
  detector.Enabled = true;
  detector.GreyScale = state.range(0) != 0;
  detector.ReduceVideoNoise = state.range(0) != 0;
  detector.Detect(nullptr, &f.first, 0, 0);
  detector.Detect(&f.first, &f.second, 1, 1);
  bool flip = false;
  int frame = 2;
  const ShareOfInterval share(state);
  for (auto _ : state) {
    // The frame just compared comes back as the previous one, as kept frames do.
    const core::FrameBits& previous = flip ? f.first : f.second;
    const core::FrameBits& current = flip ? f.second : f.first;
    benchmark::DoNotOptimize(detector.Detect(&previous, &current, frame, frame));
    ++frame;
    flip = !flip;
  }
}

}  // namespace

// Aims: text and shape under 5 %, motion under 20 %, with grey scale and noise reduction under 40 %.
BENCHMARK(FrameCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TextOverlayAndShape)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MotionDetection)->ArgName("grey_and_noise")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
