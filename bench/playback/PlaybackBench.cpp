// Playback at normal speed as the analysis window runs it: each tick works out the position,
// seeks the media player (which draws the frame into the window's canvas) and runs an overlay
// pass. Ticks come at the real tick interval, as the window's timer fires them, so whatever the
// reader does between ticks has the time it has in the program. Reports the median and worst
// tick over 500 ticks next to the tick interval, which a tick must stay well under for no tick to
// be missed, with the load average of the machine at the end of the run.
#include "analysis/playback/MediaPlayerPort.h"
#include "analysis/playback/PlaybackClock.h"
#include "platform/core/Clock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/ui/Canvas.h"
#include "tools/ClipWriter.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using namespace kestrom;

constexpr int kTicks = 500;

// The window as the clock sees it, drawing a coach's usual overlays on every pass.
class BenchHost final : public playback::PlaybackHost {
 public:
  explicit BenchHost(ui::Canvas& canvas) : canvas_(canvas) {}
  bool timer = false;
  void StartTimer(int) override { timer = true; }
  void StopTimer() override { timer = false; }
  bool TimerRunning() const override { return timer; }
  void SetScrollPosition(int64_t) override {}
  void ShowFrameNumber(int64_t) override {}
  void RedrawOverlays() override {
    canvas_.Pen.Color = core::clRed;
    canvas_.Pen.Width = 2;
    for (int i = 0; i < 10; ++i) {  // an angle's arms, lines and a shape or two
      canvas_.MoveTo(100 + 20 * i, 100);
      canvas_.LineTo(300 + 10 * i, 400 - 15 * i);
    }
    canvas_.Brush.Style = ui::BrushStyle::Clear;
    canvas_.Ellipse(200, 200, 320, 300);
    canvas_.Rectangle(400, 150, 520, 260);
    canvas_.TextOut(120, 80, "42.5");
  }
  void PaintMargins() override {}
  void SnapshotFrame() override {}
  void ShowScrollPosition() override {}
  void BringToTop() override {}
  bool PartlyOffScreen() const override { return false; }
  bool Looping() const override { return true; }
  void StopMediaPlayerPlay() override {}
  void ShowDiagnostic(const QString&) override {}

 private:
  ui::Canvas& canvas_;
};

double LoadAverage() {
  QFile file("/proc/loadavg");
  if (!file.open(QIODevice::ReadOnly)) return -1;
  return file.readAll().split(' ').value(0).toDouble();
}

QString WriteFixture(const QTemporaryDir& dir, const QString& name, QSize size, int frames, int gop) {
  tools::ClipSpec clipSpec;
  clipSpec.path = dir.filePath(name);
  clipSpec.size = size;
  clipSpec.frames = frames;
  clipSpec.gop = gop;
  QString error;
  if (!tools::WriteClip(clipSpec, &error)) qFatal("%s", qPrintable(error));
  return clipSpec.path;
}

// window: the client area; empty for one that holds the whole picture at zoom 1.0.
void PlayAtNormalSpeed(benchmark::State& state, QSize size, int frames, int gop, QSize window = {}) {
  QTemporaryDir dir;
  const QString path = WriteFixture(dir, "clip.avi", size, frames, gop);
  if (window.isEmpty()) window = QSize(size.width() + 16, size.height() + 120);
  ui::Canvas canvas(window.width(), window.height());
  core::ManualClock clock(0);
  media::MediaPlayer player(nullptr, &clock);
  player.SetDisplay(&canvas.Image());
  player.SetFileName(path);
  if (!player.Open()) qFatal("%s", qPrintable(player.ErrorString()));
  // Centred in the picture area when it fits, else from its top left corner (not scrolled).
  const int left = std::max(0, (window.width() - 16 - size.width()) / 2);
  player.SetDisplayRect(QRect(QPoint(left, 56), size));
  playback::MediaPlayerPort port(player);
  BenchHost host(canvas);
  playback::PlaybackClock tick(host, port, clock);
  tick.SetVideo(playback::MeasureVideo(path, size.width(), size.height(), player.LengthFrames(), player.LengthMs()));

  // The window has drawn text long before it plays; loading the font is no part of a tick.
  host.RedrawOverlays();

  std::vector<double> ms;
  int worstTick = 0;
  double worst = 0;
  for (auto _ : state) {
    ms.clear();
    tick.Play(playback::kNormalSpeed);
    auto due = std::chrono::steady_clock::now();
    for (int i = 0; i < kTicks; ++i) {
      // The program's clock would read the same; the manual one keeps each tick on its frame.
      clock.Advance(tick.TimerInterval);
      due += std::chrono::milliseconds(tick.TimerInterval);
      std::this_thread::sleep_until(due);
      const auto start = std::chrono::steady_clock::now();
      tick.Timer1Timer();
      ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
      if (ms.back() > worst) worst = ms.back(), worstTick = i;
    }
  }
  const auto late = std::count_if(ms.begin(), ms.end(), [&](double t) { return t >= tick.TimerInterval; });
  std::sort(ms.begin(), ms.end());
  const double median = ms[ms.size() / 2];
  state.counters["interval_ms"] = tick.TimerInterval;
  state.counters["median_ms"] = median;
  state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
  state.counters["worst_ms"] = ms.back();
  state.counters["worst_tick"] = worstTick;
  state.counters["ticks_over_interval"] = static_cast<double>(late);
  state.counters["median_per_interval"] = median / tick.TimerInterval;
  state.counters["worst_per_interval"] = ms.back() / tick.TimerInterval;
  state.counters["load1"] = LoadAverage();
  const media::ReaderStats stats = player.Reader().Stats();
  state.counters["decoded"] = static_cast<double>(stats.decodedFrames);
  state.counters["decoded_ahead"] = static_cast<double>(stats.readAheadFrames);
}

void BM_SampleClip720x576(benchmark::State& state) { PlayAtNormalSpeed(state, {720, 576}, 250, 250); }
void BM_Full1920x1080(benchmark::State& state) { PlayAtNormalSpeed(state, {1920, 1080}, 125, 25); }

// The same clip in a window on a 1280 x 1024 screen, where the picture at zoom 1.0 overflows.
void BM_Full1920x1080InSmallWindow(benchmark::State& state) {
  PlayAtNormalSpeed(state, {1920, 1080}, 125, 25, {1264, 960});
}

BENCHMARK(BM_SampleClip720x576)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Full1920x1080)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Full1920x1080InSmallWindow)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
