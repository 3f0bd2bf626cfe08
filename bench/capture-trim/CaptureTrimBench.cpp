// What saving a trimmed clip costs next to the least the same work could cost, in one run on one
// clip (500 frames of 720x576 25 fps MPEG-4 V2, frames 101 to 400 kept):
// - the engine re-encoding the player's five-line script (trim, one field of each frame at full
//   height) to MPEG-4 V2;
// - libavcodec alone seeking to the key frame before the first kept frame, decoding up to the
//   last one and encoding the kept frames with the compressor's settings (quantiser 6, a key
//   frame every 25, one thread).
#include "capture/app/TrimScript.h"
#include "capture/engine/Devices.h"
#include "capture/engine/FK.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/registry/Registry.h"
#include "tools/ClipWriter.h"
#include "tools/CodecAlone.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

using namespace kestrom;
using namespace kestrom::engine;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrames = 500;
constexpr int kTrimIn = 101, kTrimOut = 400;  // 1-based, as the player's trims

QTemporaryDir* workDir = nullptr;
QString clip, script;

QString InWork(const QString& name) { return QDir(workDir->path()).filePath(name); }

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

/** @brief Decodes the kept frames (from the key frame before them) and encodes them, nothing else. */
double CodecAloneSeconds(int64_t* encoded) {
  const tools::CodecAloneRun run = tools::DecodeAndEncodeMpeg4V2(clip, kTrimIn - 1, kTrimOut - 1);
  *encoded = run.frames;
  return run.seconds;
}

int CompressorIndex(const TDevices* list, const com::GUID& clsid) {
  for (int i = 0; list && i < list->Count(); ++i)
    if (list->Entry(i)->Key.contains(com::GuidToString(clsid), Qt::CaseInsensitive)) return i;
  return -1;
}

void TrimmedSaveAgainstCodecAlone(benchmark::State& state) {
  TFK fk;
  fk.SetFrameGrabber(fg_Disabled);
  fk.SetVideoCompressor(CompressorIndex(VideoCompressorList(), dshow::CLSID_Mpeg4V2Compressor));
  double engine = 0, alone = 0;
  int64_t rounds = 0, encoded = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    // As the player's "Save Video": the script, then the re-encoding with processing, no sound.
    if (!capture::WriteReencodeScript(script, clip, kTrimIn, kTrimOut) ||
        !fk.Reencode(script, InWork("trimmed.avi"), false, false, true, true, false))
      state.SkipWithError("re-encoding failed");
    engine += Seconds(start);
    alone += CodecAloneSeconds(&encoded);
    ++rounds;
  }
  if (encoded != kTrimOut - kTrimIn + 1) state.SkipWithError("the baseline encoded another number of frames");
  state.counters["s_engine"] = engine / double(rounds);
  state.counters["s_codec_alone"] = alone / double(rounds);
  state.counters["ratio"] = engine / alone;
}

/** @brief The same without the field lines: the script's source and trim alone, to show what the fields cost. */
void TrimOnlyScriptAgainstCodecAlone(benchmark::State& state) {
  TFK fk;
  fk.SetFrameGrabber(fg_Disabled);
  fk.SetVideoCompressor(CompressorIndex(VideoCompressorList(), dshow::CLSID_Mpeg4V2Compressor));
  const QString trimOnly = InWork("TrimOnly.avs");
  QFile file(trimOnly);
  if (!file.open(QIODevice::WriteOnly)) return state.SkipWithError("cannot write the script");
  file.write(("DirectShowSource(\"" + clip + "\") \r\n" + capture::TrimLine(kTrimIn, kTrimOut) + "\r\n").toUtf8());
  file.close();
  double engine = 0, alone = 0;
  int64_t rounds = 0, encoded = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!fk.Reencode(trimOnly, InWork("trimmed only.avi"), false, false, true, true, false))
      state.SkipWithError("re-encoding failed");
    engine += Seconds(start);
    alone += CodecAloneSeconds(&encoded);
    ++rounds;
  }
  state.counters["s_engine"] = engine / double(rounds);
  state.counters["s_codec_alone"] = alone / double(rounds);
  state.counters["ratio"] = engine / alone;
}

}  // namespace

BENCHMARK(TrimOnlyScriptAgainstCodecAlone)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(TrimmedSaveAgainstCodecAlone)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir registry, work;
  workDir = &work;
  registry::SetRegistryDirectory(registry.path());
  QDir::setCurrent(work.path());
  SetDeviceWatchThreadEnabled(false);
  dshow::SetTestCameraPlugged(true);
  tools::ClipSpec clipSpec;
  clipSpec.path = clip = InWork("clip.avi");
  clipSpec.frames = kFrames;
  script = InWork("Input.avs");
  QString error;
  if (!tools::WriteClip(clipSpec, &error)) {
    std::fprintf(stderr, "cannot write the clip: %s\n", qPrintable(error));
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopSyncManager();
  registry::SetRegistryDirectory({});
  return 0;
}
