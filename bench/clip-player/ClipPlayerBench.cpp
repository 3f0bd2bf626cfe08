// Backward play of a 720x576 MPEG-4 V2 clip: how many frames a second the player shows next to
// the rate its steps are timed at (1000 / step interval). Each backward step seeks, so the source
// decodes from the key frame before the wanted one: with a key frame every 25 frames that is what
// the coach meets; the figure with one every 250 frames shows what longer groups cost.
#include "capture/engine/FK.h"
#include "capture/engine/SyncManager.h"
#include "platform/registry/Registry.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cstdlib>

using namespace kestrom;
using namespace kestrom::engine;

namespace {

constexpr int kFrames = 250;
constexpr int kSteps = 100;

QTemporaryDir* workDir = nullptr;

QString ClipWithKeyFramesEvery(int gop) {
  const QString path = QDir(workDir->path()).filePath(QStringLiteral("gop%1.avi").arg(gop));
  if (QFileInfo::exists(path)) return path;
  tools::ClipSpec clip;
  clip.path = path;
  clip.codec = QStringLiteral("msmpeg4v2");
  clip.size = {720, 576};
  clip.frames = kFrames;
  clip.gop = gop;
  QString error;
  if (!tools::WriteClip(clip, &error)) qFatal("clip not written: %s", qPrintable(error));
  return path;
}

bool WaitUntil(const std::function<bool()>& condition, int boundMs) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > boundMs) return false;
    PumpMessagesOnce();
    QThread::msleep(1);
  }
  return true;
}

int ShownCode(const TFK& k) {
  const TFrameData frame = k.KeptFrame();
  return frame.Bitmap.isNull() ? -1 : tools::ReadFrameCode(frame.Bitmap);
}

void BackwardPlay(benchmark::State& state) {
  const int gop = static_cast<int>(state.range(0));
  const QString clip = ClipWithKeyFramesEvery(gop);
  double shownPerSecond = 0, stepRate = 0;
  for (auto _ : state) {
    TFK k;
    k.SetAutoStartPlayer(false);
    k.SetPlayerFileName(clip);
    if (!k.OpenPlayer()) {
      state.SkipWithError("the clip did not open");
      return;
    }
    k.SetPlayerFramePosition(kFrames);
    WaitUntil([&] { return ShownCode(k) == kFrames - 1; }, 10000);
    int shown = 0, last = ShownCode(k);
    k.Events().OnFrameProgress = [&](QObject*, const TFrameInfo&) {
      const int code = ShownCode(k);
      if (code >= 0 && code != last) {
        ++shown;
        last = code;
      }
    };
    QElapsedTimer timer;
    timer.start();
    k.RunPlayerBackwards();
    WaitUntil([&] { return shown >= kSteps; }, 60000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    k.PausePlayer();
    shownPerSecond = shown / seconds;
    stepRate = 1000.0 / k.PlayerStepThread()->Interval();
    k.Events().OnFrameProgress = nullptr;
    k.ClosePlayer();
  }
  state.counters["frames_shown_per_s"] = shownPerSecond;
  state.counters["step_rate_per_s"] = stepRate;
  state.counters["percent_of_step_rate"] = shownPerSecond / stepRate * 100.0;
}

}  // namespace

BENCHMARK(BackwardPlay)->ArgName("key_frame_every")->Arg(25)->Arg(250)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QTemporaryDir registry, work;
  workDir = &work;
  registry::SetRegistryDirectory(registry.path());
  SetDeviceWatchThreadEnabled(false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopSyncManager();
  registry::SetRegistryDirectory({});
  return 0;
}
