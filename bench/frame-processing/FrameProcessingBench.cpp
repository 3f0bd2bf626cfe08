// What the capture engine does to every 1080p RGB24 frame, as shares of the 30 fps frame interval:
// the default text overlay plus one shape drawn into the frame's own bytes, and motion detection
// on a 10 x 10 grid sampling every pixel (plain, and with grey scale and noise reduction). Each
// prints its share as interval_%; the baseline is a memcpy of one frame. The engine's own path
// follows: the kept-frame copy (against the memcpy), a JPEG capture (against libjpeg alone on the
// same picture and settings), and overlay, motion and a quality-100 JPEG of every frame together.
#include "capture/engine/FK.h"
#include "capture/engine/FKProperties.h"
#include "capture/engine/MotionDetector.h"
#include "capture/engine/TextOverlay.h"
#include "platform/ui/ShapeOverlay.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <jpeglib.h>
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
  info.SetTime(int64_t(frame) * 333'333);
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

// A grabber's header for the frames above.
dshow::BITMAPINFOHEADER HeaderOf() {
  dshow::BITMAPINFOHEADER h{};
  h.biSize = sizeof(h);
  h.biWidth = kW;
  h.biHeight = kH;
  h.biPlanes = 1;
  h.biBitCount = 24;
  return h;
}

double memcpyMs = 0;

double MemcpyMs() {
  if (memcpyMs == 0) {
    Frames& f = TheFrames();
    std::vector<uchar> copy(f.a.size());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) {
      std::memcpy(copy.data(), f.a.data(), f.a.size());
      benchmark::DoNotOptimize(copy.data());
      benchmark::ClobberMemory();
    }
    memcpyMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 50;
  }
  return memcpyMs;
}

// The engine keeps a copy of each frame (motion detection on, nothing else to do): the copy
// reuses the bytes of the picture it displaces.
void KeptFrameCopy(benchmark::State& state) {
  Frames& f = TheFrames();
  engine::TFK fk;
  fk.SetMotionDetector_Enabled(true);
  fk.PublishFrameSettings();
  const dshow::BITMAPINFOHEADER header = HeaderOf();
  int64_t time = 0;
  const double baseline = MemcpyMs();
  const auto start = std::chrono::steady_clock::now();
  {
    const ShareOfInterval share(state);
    for (auto _ : state) fk.OnGrabberFrame(time += 333'333, &header, f.a.data(), int32_t(f.a.size()));
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (state.iterations() > 0) state.counters["x_memcpy"] = ms / double(state.iterations()) / baseline;
}

QImage Picture() {
  Frames& f = TheFrames();
  QImage picture(kW, kH, QImage::Format_BGR888);
  const qsizetype stride = ((qsizetype(kW) * 24 + 31) / 32) * 4;
  for (int y = 0; y < kH; ++y) std::memcpy(picture.scanLine(y), f.a.data() + stride * (kH - 1 - y), size_t(kW) * 3);
  return picture;
}

// libjpeg alone: the same BGR rows, quality 100, the exact DCT, into a file through stdio.
void LibjpegAlone(benchmark::State& state) {
  const QImage picture = Picture();
  QTemporaryDir dir;
  const QByteArray path = (dir.path() + "/alone.jpg").toLocal8Bit();
  const ShareOfInterval share(state);
  for (auto _ : state) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    FILE* out = std::fopen(path.constData(), "wb");
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = kW;
    cinfo.image_height = kH;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<JSAMPROW>(picture.constScanLine(int(cinfo.next_scanline)));
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);
  }
}

// The engine's JPEG capture of a kept frame: quality 100, written atomically to a file.
void JpegCapture(benchmark::State& state) {
  const QImage picture = Picture();
  QTemporaryDir dir;
  engine::TFK fk;
  fk.SetJPEGQuality(100);
  const QString file = dir.path() + "/capture.jpg";
  const ShareOfInterval share(state);
  for (auto _ : state) benchmark::DoNotOptimize(fk.SaveJpeg(picture, file));
}

// Every frame: the default text overlay and a shape, motion detection on every pixel, and a
// quality-100 JPEG of the frame (a burst without end), as the grabber and the GUI thread do it.
void OverlayMotionAndJpeg(benchmark::State& state) {
  Frames& f = TheFrames();
  QTemporaryDir dir;
  engine::TFK fk;
  fk.SetStoragePath(dir.path());
  fk.SetJPEGQuality(100);
  fk.SetTextOverlay_String(QString::fromLatin1(engine::DefaultTextOverlayString));
  fk.SetTextOverlay_Enabled(true);
  ui::ShapeSnapshot shape;
  shape.Shape = ui::stEllipse;
  shape.Left = 900, shape.Top = 500, shape.Width = 200, shape.Height = 120;
  shape.Pen = {core::clRed, 2};
  fk.Events().OnFrameOverlayUsingDC = [&](QObject*, const engine::TFrameInfo&, ui::Canvas& canvas) {
    ui::DrawShape(canvas, shape);
  };
  fk.SetMotionDetector_Enabled(true);
  fk.SetBurstType(engine::fc_JpegFile);
  fk.SetBurstCount(0);
  fk.SetBurstInterval(0);
  fk.SetBurstMode(true);
  const dshow::BITMAPINFOHEADER header = HeaderOf();
  std::vector<uchar> bytes[2] = {f.a, f.b};
  int64_t time = 0;
  int frame = 0;
  const ShareOfInterval share(state);
  for (auto _ : state) {
    std::vector<uchar>& in = bytes[frame++ % 2];
    fk.OnGrabberFrame(time += 333'333, &header, in.data(), int32_t(in.size()));
    fk.DispatchKeptFrame();
  }
}

}  // namespace

// Aims: text and shape under 5 %, motion under 20 %, with grey scale and noise reduction under 40 %.
BENCHMARK(FrameCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(TextOverlayAndShape)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(MotionDetection)->ArgName("grey_and_noise")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
// Aims: kept-frame copy under 2 x memcpy, JPEG capture under 1.2 x libjpeg alone, all together under 60 %.
BENCHMARK(KeptFrameCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibjpegAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(JpegCapture)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(OverlayMotionAndJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);  // the engine lives on a widget application
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
