// The overlay redraw pass an analysis window runs on every playback tick, drawn through the
// canvas and, as the baseline, straight through QPainter; and the not-xor rubber band of a drag.
#include "platform/ui/Canvas.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>

using namespace kestrom::ui;
using namespace kestrom::core;

namespace {

constexpr int kW = 1920, kH = 1080;

struct Scene {
  std::vector<QPoint> freehand;  // 2000 points in strokes of 50
  std::vector<QRect> shapes;     // 200: lines, rectangles, ellipses
  std::vector<std::array<QPoint, 3>> angles;  // 100
};

const Scene& TheScene() {
  static const Scene scene = [] {
    Scene s;
    QRandomGenerator r(42);
    QPoint p(500, 500);
    for (int i = 0; i < 2000; ++i) {
      if (i % 50 == 0) p = QPoint(r.bounded(kW), r.bounded(kH));
      p += QPoint(r.bounded(-8, 9), r.bounded(-8, 9));
      s.freehand.push_back(p);
    }
    for (int i = 0; i < 200; ++i) {
      const QPoint a(r.bounded(kW), r.bounded(kH));
      s.shapes.emplace_back(a, a + QPoint(r.bounded(20, 400), r.bounded(20, 300)));
    }
    for (int i = 0; i < 100; ++i) {
      const QPoint v(r.bounded(100, kW - 100), r.bounded(100, kH - 100));
      s.angles.push_back({v + QPoint(-80, -60), v, v + QPoint(90, 10)});
    }
    return s;
  }();
  return scene;
}

void CanvasPass(benchmark::State& state) {
  Canvas canvas(kW, kH);
  const Scene& s = TheScene();
  for (auto _ : state) {
    canvas.Pen = {clRed, 3};
    for (std::size_t i = 0; i < s.freehand.size(); ++i) {
      if (i % 50 == 0) canvas.MoveTo(s.freehand[i].x(), s.freehand[i].y());
      else canvas.LineTo(s.freehand[i].x(), s.freehand[i].y());
    }
    canvas.Pen = {clYellow, 2};
    canvas.Brush.Style = BrushStyle::Clear;
    for (std::size_t i = 0; i < s.shapes.size(); ++i) {
      const QRect& q = s.shapes[i];
      switch (i % 3) {
        case 0: canvas.MoveTo(q.left(), q.top()); canvas.LineTo(q.right(), q.bottom()); break;
        case 1: canvas.Rectangle(q.left(), q.top(), q.right(), q.bottom()); break;
        default: canvas.Ellipse(q.left(), q.top(), q.right(), q.bottom()); break;
      }
    }
    canvas.Pen = {clLime, 3};
    for (const auto& a : s.angles) canvas.Polyline({a[0], a[1], a[2]});
    benchmark::DoNotOptimize(canvas.Image().constBits());
  }
}

void QPainterPass(benchmark::State& state) {
  QImage image(kW, kH, QImage::Format_RGB32);
  image.fill(Qt::white);
  const Scene& s = TheScene();
  for (auto _ : state) {
    QPainter p(&image);
    p.setPen(QPen(Qt::red, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (std::size_t i = 1; i < s.freehand.size(); ++i)
      if (i % 50 != 0) p.drawLine(s.freehand[i - 1], s.freehand[i]);
    p.setPen(QPen(Qt::yellow, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (std::size_t i = 0; i < s.shapes.size(); ++i) {
      const QRect& q = s.shapes[i];
      switch (i % 3) {
        case 0: p.drawLine(q.topLeft(), q.bottomRight()); break;
        case 1: p.drawRect(q); break;
        default: p.drawEllipse(q); break;
      }
    }
    p.setPen(QPen(Qt::green, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const auto& a : s.angles) {
      const QPoint pts[3] = {a[0], a[1], a[2]};
      p.drawPolyline(pts, 3);
    }
    benchmark::DoNotOptimize(image.constBits());
  }
}

void RubberBandNotXor(benchmark::State& state) {
  Canvas canvas(kW, kH);
  canvas.Pen = {clRed, static_cast<int>(state.range(0)), PenStyle::Solid, PenMode::NotXor};
  for (auto _ : state) {
    canvas.MoveTo(10, 10);
    canvas.LineTo(kW - 10, kH - 10);
  }
}

void RubberBandQPainter(benchmark::State& state) {
  QImage image(kW, kH, QImage::Format_RGB32);
  image.fill(Qt::white);
  for (auto _ : state) {
    QPainter p(&image);
    p.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
    p.setPen(QPen(Qt::red, static_cast<int>(state.range(0))));
    p.drawLine(10, 10, kW - 10, kH - 10);
  }
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) times[r.benchmark_name()] = r.GetAdjustedRealTime();
  }
  std::map<std::string, double> times;
};

}  // namespace

BENCHMARK(CanvasPass)->Unit(benchmark::kMillisecond);
BENCHMARK(QPainterPass)->Unit(benchmark::kMillisecond);
BENCHMARK(RubberBandNotXor)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(RubberBandQPainter)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* a, const char* b) {
    if (reporter.times.count(a) && reporter.times.count(b))
      std::printf("%-24s / %-26s = %.2f\n", a, b, reporter.times[a] / reporter.times[b]);
  };
  ratio("CanvasPass", "QPainterPass");
  ratio("RubberBandNotXor/1", "RubberBandQPainter/1");
  ratio("RubberBandNotXor/5", "RubberBandQPainter/5");
  benchmark::Shutdown();
  return 0;
}
