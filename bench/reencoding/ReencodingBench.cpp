// What the engine's re-encoding costs next to the least the same work could cost, measured in one
// run:
// - 1000 frames of 720x576 MPEG-4 V2 with ADPCM sound compressed to MPEG-4 V2 (the sound copied)
//   against libavcodec decoding and encoding the same pictures alone, with the compressor's
//   settings (quantiser 6, a key frame every 25, one thread);
// - copy mode against reading and writing the file's bytes, on that clip and on what copy mode
//   is for, a capture file: 300 frames of 720x576 DV with 48 kHz stereo sound. Both sides read
//   the file from the page cache (it was just written) and write a new file beside it: the copy
//   of the round before is deleted first, untimed, since deleting a file of that size (or
//   truncating it) costs the file system as much as a good part of the copy;
// - a job of the size a coach saves, 10 s of 720x576 (250 frames) with its sound, against the
//   ffmpeg command line doing the same at matched settings (MPEG-4 V2 at quantiser 6, a key frame
//   every 25, one encoding thread, the sound copied), both timed on the wall clock from start to
//   a closed file: the engine's build, run and teardown against the program's start-up and run.
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
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace kestrom;
using namespace kestrom::engine;

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir* workDir = nullptr;
QString clip;     // the MPEG-4 V2 clip
QString capture;  // the DV capture file
QString shortClip;  // 10 s of the MPEG-4 V2 clip

QString InWork(const QString& name) { return QDir(workDir->path()).filePath(name); }

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

/** @brief Decodes every video packet of the clip and encodes the pictures again, nothing else. */
double CodecAloneSeconds() {
  const tools::CodecAloneRun run = tools::DecodeAndEncodeMpeg4V2(clip);
  benchmark::DoNotOptimize(run.bytes);
  return run.seconds;
}

/** @brief The file's bytes read and written to a new file in 1 MB blocks. */
double PlainCopySeconds(const QString& file) {
  QFile::remove(InWork("plain copy.avi"));
  const auto start = Clock::now();
  QFile from(file), to(InWork("plain copy.avi"));
  if (!from.open(QIODevice::ReadOnly) || !to.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
  std::vector<char> block(1 << 20);
  for (qint64 n; (n = from.read(block.data(), qint64(block.size()))) > 0;) to.write(block.data(), n);
  to.close();
  return Seconds(start);
}

/** @brief The ffmpeg command line re-encoding the file as the engine does; 0 when it failed. */
double CommandLineSeconds(const QString& file) {
  const QString program = QStandardPaths::findExecutable("ffmpeg");
  if (program.isEmpty()) return 0;
  QFile::remove(InWork("command line.avi"));
  const QStringList arguments = {"-nostdin", "-loglevel", "error", "-y", "-threads", "0", "-i", file,
                                 "-c:v", "msmpeg4v2", "-q:v", "6", "-g", "25", "-bf", "0", "-threads:v", "1",
                                 "-c:a", "copy", InWork("command line.avi")};
  const auto start = Clock::now();
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForFinished(-1) || process.exitCode() != 0) return 0;
  return Seconds(start);
}

int CompressorIndex(const TDevices* list, const com::GUID& clsid) {
  for (int i = 0; list && i < list->Count(); ++i)
    if (list->Entry(i)->Key.contains(com::GuidToString(clsid), Qt::CaseInsensitive)) return i;
  return -1;
}

double EngineSeconds(TFK& fk, const QString& file, bool copyMode) {
  QFile::remove(InWork("reencoded.avi"));
  const auto start = Clock::now();
  const bool ok = fk.Reencode(file, InWork("reencoded.avi"), copyMode, false, !copyMode, false, true);
  const double seconds = Seconds(start);
  if (!ok) std::fprintf(stderr, "re-encoding failed\n");
  return seconds;
}

void Report(benchmark::State& state, double engine, double baseline, const char* baselineName, int64_t rounds) {
  state.counters["s_engine"] = engine / double(rounds);
  state.counters[baselineName] = baseline / double(rounds);
  state.counters["ratio"] = engine / baseline;
  state.counters["overhead_percent"] = (engine / baseline - 1.0) * 100.0;
}

void ReencodeToMpeg4V2AgainstCodecAlone(benchmark::State& state) {
  TFK fk;
  fk.SetFrameGrabber(fg_Disabled);
  fk.SetVideoCompressor(CompressorIndex(VideoCompressorList(), dshow::CLSID_Mpeg4V2Compressor));
  double engine = 0, alone = 0;
  int64_t rounds = 0;
  for (auto _ : state) {
    engine += EngineSeconds(fk, clip, false);
    alone += CodecAloneSeconds();
    ++rounds;
  }
  Report(state, engine, alone, "s_codec_alone", rounds);
}

void TenSecondJobAgainstTheCommandLine(benchmark::State& state) {
  TFK fk;
  fk.SetFrameGrabber(fg_Disabled);
  fk.SetVideoCompressor(CompressorIndex(VideoCompressorList(), dshow::CLSID_Mpeg4V2Compressor));
  // The first run of a new engine builds its device lists and fails: it is left out of the figures.
  fk.Reencode(shortClip, InWork("reencoded.avi"), false, false, true, false, true);
  double engine = 0, commandLine = 0;
  int64_t rounds = 0;
  for (auto _ : state) {
    engine += EngineSeconds(fk, shortClip, false);
    const double c = CommandLineSeconds(shortClip);
    if (c <= 0) {
      state.SkipWithError("the ffmpeg command line did not run");
      return;
    }
    commandLine += c;
    ++rounds;
  }
  Report(state, engine, commandLine, "s_command_line", rounds);
}

/** @brief Argument 0: the MPEG-4 V2 clip; 1: the DV capture file. */
void CopyModeAgainstPlainCopy(benchmark::State& state) {
  const QString& file = state.range(0) == 0 ? clip : capture;
  TFK fk;
  fk.SetFrameGrabber(fg_Disabled);
  double engine = 0, plain = 0;
  int64_t rounds = 0;
  for (auto _ : state) {
    engine += EngineSeconds(fk, file, true);
    plain += PlainCopySeconds(file);
    ++rounds;
  }
  Report(state, engine, plain, "s_plain_copy", rounds);
  state.counters["MB_file"] = double(QFileInfo(file).size()) / double(1 << 20);
}

}  // namespace

BENCHMARK(ReencodeToMpeg4V2AgainstCodecAlone)->Iterations(3)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(TenSecondJobAgainstTheCommandLine)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(CopyModeAgainstPlainCopy)->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

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
  clipSpec.frames = 1000;
  clipSpec.audio = true;
  clipSpec.audioCodec = "adpcm_ms";
  QString error;
  if (!tools::WriteClip(clipSpec, &error)) {
    std::fprintf(stderr, "cannot write the clip: %s\n", qPrintable(error));
    return 1;
  }
  clipSpec.path = shortClip = InWork("ten seconds.avi");
  clipSpec.frames = 250;
  if (!tools::WriteClip(clipSpec, &error)) {
    std::fprintf(stderr, "cannot write the short clip: %s\n", qPrintable(error));
    return 1;
  }
  tools::ClipSpec dv;
  dv.path = capture = InWork("capture.avi");
  dv.codec = "dvvideo";
  dv.frames = 300;
  dv.audio = true;
  dv.audioRate = 48000;
  dv.audioChannels = 2;
  if (!tools::WriteClip(dv, &error)) {
    std::fprintf(stderr, "cannot write the capture file: %s\n", qPrintable(error));
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopSyncManager();
  registry::SetRegistryDirectory({});
  return 0;
}
