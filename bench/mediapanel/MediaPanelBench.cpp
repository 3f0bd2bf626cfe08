// The media panel's frame grabbing: playback with the grabber in the graph and no request (frames
// rendered against the frames of the clip), the callback's copy of a frame against memcpy of the
// same bytes, and a JPEG capture at quality 100 against compressing the same picture alone.
#include "common/mediapanel/ActiveMovie.h"
#include "common/mediapanel/SampleGrabberCB.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "platform/jpeg/Jpeg.h"
#include "platform/registry/Registry.h"
#include "tools/ClipWriter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

using namespace kestrom;
using namespace kestrom::mediapanel;

QTemporaryDir& Folder() {
  static QTemporaryDir dir;
  return dir;
}

QString Clip(QSize size, int frames) {
  tools::ClipSpec clipSpec;
  clipSpec.path = Folder().filePath(QStringLiteral("clip%1x%2_%3.avi").arg(size.width()).arg(size.height()).arg(frames));
  if (QFile::exists(clipSpec.path)) return clipSpec.path;
  clipSpec.size = size;
  clipSpec.frames = frames;
  QString error;
  if (!tools::WriteClip(clipSpec, &error)) qFatal("%s", qPrintable(error));
  return clipSpec.path;
}

template <typename F>
bool RunUntil(F condition, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

// 20 s at 25 fps with the grabber spliced in and no request open.
void PlayWithGrabber(benchmark::State& state, QSize size) {
  constexpr int kFrames = 500;
  const QString clip = Clip(size, kFrames);
  for (auto _ : state) {
    TActiveMovie panel;
    panel.resize(640, 480);
    panel.show();
    panel.SetFGrabber_Enabled(true);
    if (!panel.Open(clip) || !panel.SampleGrabberConnected()) {
      state.SkipWithError("the grabber is not connected");
      return;
    }
    com::ComPtr<dshow::IBaseFilter> renderer;
    panel.Player()->FilterGraph()->FindFilterByName(u"Video Renderer", renderer.Put());
    auto* video = dynamic_cast<dshow::CVideoRenderer*>(renderer.Get());
    RunUntil([&] { return panel.Player()->PlayState() == mpStopped; }, 60);
    const double rendered = video ? double(video->FramesRendered()) : -1;
    state.counters["frames_rendered"] = rendered;
    state.counters["rendered_per_clip_frames"] = rendered / kFrames;
  }
}

void BM_PlaybackWithGrabber720x576(benchmark::State& state) { PlayWithGrabber(state, {720, 576}); }
void BM_PlaybackWithGrabber1920x1080(benchmark::State& state) { PlayWithGrabber(state, {1920, 1080}); }

class Sink final : public QObject {
 public:
  bool event(QEvent* e) override { return e->type() == FrameGrabbedEvent::Type() || QObject::event(e); }
};

// BufferCB taking every frame (burst count 0) against memcpy of the frame's bytes.
void BM_BufferCBAgainstMemcpy(benchmark::State& state) {
  const dshow::LONG width = 720, height = 576;
  const dshow::CMediaType type = dshow::MakeRgbVideoType(24, width, height, 400000);
  std::vector<uint8_t> frame(size_t(dshow::RgbStride(width, 24)) * height, 0x5A);
  std::vector<uint8_t> target(frame.size());
  Sink sink;
  auto callback = TSampleGrabberCB::Create();
  callback->SetMediaType(&type);
  callback->SetWindow(&sink);
  callback->SetBurst(true, 0, 1);
  callback->OpenRequest(false);
  constexpr int kRounds = 2000;
  double callbackNs = 0, memcpyNs = 0;
  for (auto _ : state) {
    QElapsedTimer t;
    for (int i = 0; i < kRounds; ++i) {
      t.start();
      callback->BufferCB(i * 0.04, frame.data(), dshow::LONG(frame.size()));
      callbackNs += double(t.nsecsElapsed());
      callback->ReleaseFrame();
      QCoreApplication::removePostedEvents(&sink);
      frame[size_t(i) % frame.size()] ^= 1;
      t.start();
      std::memcpy(target.data(), frame.data(), frame.size());
      benchmark::DoNotOptimize(target.data());
      memcpyNs += double(t.nsecsElapsed());
    }
  }
  const double rounds = double(kRounds) * double(state.iterations());
  state.counters["buffercb_us"] = callbackNs / rounds / 1000;
  state.counters["memcpy_us"] = memcpyNs / rounds / 1000;
  state.counters["buffercb_per_memcpy"] = callbackNs / memcpyNs;
}

// Notes when the frame event reaches the panel.
class FrameArrival final : public QObject {
 public:
  explicit FrameArrival(const QElapsedTimer& clock) : clock_(clock) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == FrameGrabbedEvent::Type()) at = clock_.nsecsElapsed();
    return false;
  }
  qint64 at = 0;

 private:
  const QElapsedTimer& clock_;
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A JPEG capture at quality 100: from the frame's arrival at the panel (grabber) and from the
// request (renderer's picture) to the completion event, against compressing the same picture alone.
// Both sides write a new file each round; medians of the rounds, so that a busy machine's stalls
// (the file system's among them) do not decide the ratio.
void BM_JpegCaptureAgainstCompression(benchmark::State& state) {
  const QString clip = Clip({720, 576}, 100);
  TActiveMovie panel;
  panel.resize(640, 480);
  panel.SetStoragePath(Folder().filePath("pictures"));
  QDir().mkpath(panel.StoragePath());
  QDir().mkpath(Folder().filePath("alone"));
  panel.SetJPEGQuality(100);
  panel.SetFGrabber_Enabled(true);
  QElapsedTimer clock;
  clock.start();
  FrameArrival arrival(clock);
  panel.installEventFilter(&arrival);
  QImage picture;
  qint64 finished = 0;
  bool done = false;
  panel.OnFGrabberCaptureCompleted = [&](const QImage& bitmap, TFrameCapture_Dest, const QString&, bool ok) {
    finished = clock.nsecsElapsed();
    picture = bitmap.copy();
    done = ok;
  };
  if (!panel.Open(clip)) {
    state.SkipWithError("cannot open the clip");
    return;
  }
  constexpr int kRounds = 40;
  std::vector<double> grabbedNs, rendererNs, aloneNs;
  int written = 0;
  for (auto _ : state) {
    for (int i = 0; i < kRounds; ++i) {
      // Grabber: frame arrival to event.
      panel.SetFGrabber_Enabled(true);
      done = false;
      panel.RequestCapture(TFrameCapture_Dest::fcJpegFile);
      RunUntil([&] { return done; }, 10);
      grabbedNs.push_back(double(finished - arrival.at));
      // The same picture compressed alone, into a new file as the capture does. A capture starts
      // when a frame arrives, after the GUI thread waited for it while the player decoded: the
      // compression alone starts from the same state, one frame interval later, not straight
      // after the capture with everything it touched still at hand.
      const auto idle = std::chrono::steady_clock::now() + std::chrono::milliseconds(40);
      RunUntil([&] { return std::chrono::steady_clock::now() >= idle; }, 1);
      QElapsedTimer t;
      t.start();
      jpeg::CompressOptions options;
      options.quality = 100;
      jpeg::CompressToFile(picture, Folder().filePath(QStringLiteral("alone/%1.jpg").arg(++written)), options);
      aloneNs.push_back(double(t.nsecsElapsed()));
    }
  }
  // Renderer's picture: request to event, with the grabber taken out of the graph's way.
  panel.ResetSampleGrabber();
  for (int i = 0; i < kRounds; ++i) {
    done = false;
    const qint64 start = clock.nsecsElapsed();
    panel.RequestCapture(TFrameCapture_Dest::fcJpegFile);
    RunUntil([&] { return done; }, 10);
    rendererNs.push_back(double(finished - start));
  }
  const double grabbed = Median(grabbedNs), renderer = Median(rendererNs), alone = Median(aloneNs);
  state.counters["grabbed_to_event_ms"] = grabbed / 1e6;
  state.counters["request_to_event_renderer_ms"] = renderer / 1e6;
  state.counters["compress_alone_ms"] = alone / 1e6;
  state.counters["grabbed_per_alone"] = grabbed / alone;
  state.counters["renderer_per_alone"] = renderer / alone;
}

BENCHMARK(BM_BufferCBAgainstMemcpy)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegCaptureAgainstCompression)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaybackWithGrabber720x576)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaybackWithGrabber1920x1080)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  registry::SetRegistryDirectory(Folder().path());  // the graph's classes go into a registry of the run's own
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
