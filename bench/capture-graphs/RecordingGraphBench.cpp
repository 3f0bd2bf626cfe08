// What the engine's recording graph costs a frame next to the same graph built by hand on the
// layer without grabbers. The test camera (1080p30 RGB24) and the test microphone record through
// the MPEG-4 V2 and ADPCM compressors into an AVI file:
//  - engine: RestartGraph's recording with the frame grabber on the capture stream and a pausable
//    recording (so its grabbers sit in both chains), and its preview renderer;
//  - layer: camera -> Smart Tee -> MPEG-4 V2 -> AVI mux -> file writer, microphone -> ADPCM -> mux,
//    and the Smart Tee's preview output in the video renderer, as the engine's is.
// Like is compared with like: both graphs show the same preview, and sound goes with live devices
// only. Not live, the test microphone gives sound as fast as the graph takes it for as long as the
// camera runs, so the slower graph would also encode more seconds of sound; live, both graphs take
// the same seconds of pictures and sound. Each records about the same number of frames; the
// figure is the process CPU time per frame written, from the start of the build to the end of the
// teardown.
#include "GraphBenchSupport.h"

#include "capture/engine/Devices.h"
#include "capture/engine/FK.h"
#include "capture/engine/GraphHelpers.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/VideoReader.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstdio>

namespace kestrom::bench {
namespace {

using namespace kestrom::engine;
using namespace kestrom::dshow;
using com::ComPtr;

constexpr LONG kFrames = 150;

struct Run {
  double cpuSeconds = 0, wallSeconds = 0;
  // Of cpuSeconds: building up to running, and from running until the camera gave kFrames.
  double buildCpuSeconds = 0, streamingCpuSeconds = 0;
  int framesWritten = 0;
};

int FramesIn(const QString& file) {
  media::VideoReader reader;
  return reader.Open(file) ? reader.Info().frameCount : 0;
}

int IndexOfClass(const TDevices* list, const GUID& clsid) {
  for (int i = 0; i < list->Count(); ++i)
    if (list->Entry(i)->Key.contains(com::GuidToString(clsid), Qt::CaseInsensitive)) return i;
  return -1;
}

int DeviceIndex(const TDevices* list, const char16_t* name) {
  for (int i = 0; i < list->Count(); ++i)
    if (list->Name(i).startsWith(QString::fromUtf16(name))) return i;
  return -1;
}

ComPtr<IBaseFilter> BindDevice(const TDevices* list, const char16_t* name) {
  QString friendly;
  DeviceMoniker moniker;
  const int index = DeviceIndex(list, name);
  if (index < 0 || !FindDeviceMoniker(list->Category(), list->Entry(index)->Key, 3, friendly, moniker)) return {};
  return BindFilter(moniker);
}

/** @brief The engine's recording; the file it wrote is read back for the frame count. */
Run EngineRecording(const QString& folder, bool withAudio, bool frameGrabber, bool canPause) {
  SetTestDevicesLive(withAudio);
  TFK fk;
  fk.SetStoragePath(folder);
  fk.SetVideoDevice(DeviceIndex(VideoDeviceList(), kTestCameraName));
  fk.SetAudioDevice(DeviceIndex(AudioDeviceList(), kTestMicrophoneName));
  fk.SetAudioRecording(withAudio);
  fk.SetVideoSize(static_cast<int>(fk.FormatLists().sizes[sf_PAL].indexOf("1920x1080")));
  fk.SetVideoSubtype(1);  // RGB24
  fk.SetFrameRate(30);
  fk.SetVideoCompressor(IndexOfClass(VideoCompressorList(), CLSID_Mpeg4V2Compressor));
  fk.SetAudioCompressor(IndexOfClass(AudioCompressorList(), CLSID_AdpcmCompressor));
  fk.SetCompressionMode(cm_CompressOnTheFly);
  fk.SetCompressionType(ct_AudioVideo);
  fk.SetFrameGrabber(frameGrabber ? fg_CaptureStream : fg_Disabled);
  fk.SetRecordingCanPause(canPause);
  Run run;
  const CpuWatch watch;
  if (!fk.StartRecording()) return run;
  run.buildCpuSeconds = watch.CpuSeconds();
  WaitForCameraFrames(fk.Graph(), kFrames);
  run.streamingCpuSeconds = watch.CpuSeconds() - run.buildCpuSeconds;
  fk.StopRecording();
  run.cpuSeconds = watch.CpuSeconds();
  run.wallSeconds = watch.WallSeconds();
  run.framesWritten = FramesIn(fk.GetLastRecordedFile());
  return run;
}

/**
 * @brief The same chain joined by hand on the layer, no grabbers; with a preview, the Smart Tee's
 * preview output goes into the video renderer as the engine's does.
 */
Run LayerRecording(const QString& file, bool withAudio, bool withPreview) {
  SetTestDevicesLive(withAudio);
  Run run;
  const CpuWatch watch;
  ComPtr<IGraphBuilder> graph;
  com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
  ComPtr<IBaseFilter> camera = BindDevice(VideoDeviceList(), kTestCameraName);
  ComPtr<IBaseFilter> microphone = BindDevice(AudioDeviceList(), kTestMicrophoneName);
  ComPtr<IBaseFilter> tee = CreateFilter(CLSID_SmartTee), video = CreateFilter(CLSID_Mpeg4V2Compressor),
                      audio = CreateFilter(CLSID_AdpcmCompressor), mux = CreateFilter(CLSID_AviDest),
                      writer = CreateFilter(CLSID_FileWriter);
  if (!camera || !microphone || !tee || !video || !audio || !mux || !writer) {
    std::fprintf(stderr, "layer: a filter could not be made\n");
    return run;
  }
  graph->AddFilter(camera.Get(), u"Video Capture");
  graph->AddFilter(microphone.Get(), u"Audio Capture");
  graph->AddFilter(tee.Get(), u"Smart Tee");
  graph->AddFilter(video.Get(), u"Video Compressor");
  graph->AddFilter(audio.Get(), u"Audio Compressor");
  graph->AddFilter(mux.Get(), u"AVI Mux");
  graph->AddFilter(writer.Get(), u"File Writer");
  ComPtr<IFileSinkFilter> sink;
  writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid());
  sink->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr);
  ComPtr<IPin> capture;
  FindPinOfType(camera.Get(), PINDIR_OUTPUT, MEDIATYPE_Video, capture);
  if (!capture || !SetCameraFormat(capture.Get(), 1920, 1080)) {
    std::fprintf(stderr, "layer: the camera refused 1080p30 RGB24\n");
    return run;
  }
  const std::pair<IBaseFilter*, IBaseFilter*> links[] = {{camera.Get(), tee.Get()},     {tee.Get(), video.Get()},
                                                         {video.Get(), mux.Get()},      {microphone.Get(), audio.Get()},
                                                         {audio.Get(), mux.Get()},      {mux.Get(), writer.Get()}};
  if (!withAudio) {
    graph->RemoveFilter(microphone.Get());
    graph->RemoveFilter(audio.Get());
  }
  for (const auto& [up, down] : links) {
    const bool sound = up == microphone.Get() || up == audio.Get();
    if ((withAudio || !sound) && !Join(graph.Get(), up, down, up == tee.Get() ? u"Capture" : nullptr)) {
      std::fprintf(stderr, "layer: %s -> %s did not connect\n", qPrintable(engine::FilterName(up)),
                   qPrintable(engine::FilterName(down)));
      return run;
    }
  }
  ComPtr<IBaseFilter> renderer;
  if (withPreview) {
    renderer = CreateFilter(CLSID_VideoRenderer);
    graph->AddFilter(renderer.Get(), u"Video Renderer");
    if (!Join(graph.Get(), tee.Get(), renderer.Get(), u"Preview")) {
      std::fprintf(stderr, "layer: the preview did not connect\n");
      return run;
    }
  }
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  control->Run();
  run.buildCpuSeconds = watch.CpuSeconds();
  WaitForCameraFrames(graph.Get(), kFrames);
  run.streamingCpuSeconds = watch.CpuSeconds() - run.buildCpuSeconds;
  control->Stop();
  control.Reset();
  sink.Reset();
  camera.Reset();
  microphone.Reset();
  tee.Reset();
  video.Reset();
  audio.Reset();
  mux.Reset();
  writer.Reset();
  renderer.Reset();
  graph.Reset();
  run.cpuSeconds = watch.CpuSeconds();
  run.wallSeconds = watch.WallSeconds();
  run.framesWritten = FramesIn(file);
  return run;
}

void Report(benchmark::State& state, const char* prefix, const Run& total, int runs) {
  const std::string p(prefix);
  const double frames = std::max(1, total.framesWritten);
  state.counters[p + "_frames"] = double(total.framesWritten) / runs;
  state.counters[p + "_cpu_ms_per_frame"] = 1e3 * total.cpuSeconds / frames;
  state.counters[p + "_streaming_cpu_ms_per_frame"] = 1e3 * total.streamingCpuSeconds / frames;
  state.counters[p + "_build_cpu_ms"] = 1e3 * total.buildCpuSeconds / runs;
  state.counters[p + "_wall_ms_per_frame"] = 1e3 * total.wallSeconds / frames;
}

void Add(Run& total, const Run& run, const char* what) {
  std::fprintf(stderr, "%s: %d frames, %.1f ms CPU (build %.1f, streaming %.1f), %.1f ms wall\n", what,
               run.framesWritten, run.cpuSeconds * 1e3, run.buildCpuSeconds * 1e3, run.streamingCpuSeconds * 1e3,
               run.wallSeconds * 1e3);
  total.cpuSeconds += run.cpuSeconds;
  total.wallSeconds += run.wallSeconds;
  total.buildCpuSeconds += run.buildCpuSeconds;
  total.streamingCpuSeconds += run.streamingCpuSeconds;
  total.framesWritten += run.framesWritten;
}

double PerFrame(const Run& r) { return r.framesWritten ? r.cpuSeconds / r.framesWritten : 0; }
double StreamingPerFrame(const Run& r) { return r.framesWritten ? r.streamingCpuSeconds / r.framesWritten : 0; }

void BM_RecordingGraphAgainstLayer1080p(benchmark::State& state) {
  QTemporaryDir folder;
  // The engine as asked, and without one or both of its grabber kinds, to show what each costs;
  // the layer without its preview shows what the preview costs. Sound only with live devices.
  struct Kind {
    const char* name;
    bool layer, audio, preview, frameGrabber, canPause;  // preview: on the layer (the engine always has one)
    Run total;
  };
  Kind kinds[] = {{"layer", true, false, true, false, false, {}},
                  {"engine", false, false, true, true, true, {}},
                  {"layer_without_preview", true, false, false, false, false, {}},
                  {"engine_frame_grabber_only", false, false, true, true, false, {}},
                  {"engine_pausable_only", false, false, true, false, true, {}},
                  {"engine_no_grabbers", false, false, true, false, false, {}},
                  {"live_sound_layer", true, true, true, false, false, {}},
                  {"live_sound_engine", false, true, true, true, true, {}}};
  int runs = 0;
  for (auto _ : state) {
    // Alternated, so drifts of the machine's load fall on every kind alike.
    for (Kind& kind : kinds) {
      const QString file = QDir(folder.path()).filePath(QStringLiteral("%1%2.avi").arg(kind.name).arg(runs));
      Add(kind.total,
          kind.layer ? LayerRecording(file, kind.audio, kind.preview)
                     : EngineRecording(folder.path(), kind.audio, kind.frameGrabber, kind.canPause),
          kind.name);
    }
    ++runs;
  }
  for (const Kind& kind : kinds)
    if (!kind.total.framesWritten) {
      state.SkipWithError("a recording wrote no frames");
      return;
    }
  for (const Kind& kind : kinds) {
    Report(state, kind.name, kind.total, runs);
    if (kind.layer) continue;
    const Run& layer = kinds[kind.audio ? 6 : 0].total;
    state.counters[std::string("ratio_") + kind.name + "_to_layer"] = PerFrame(kind.total) / PerFrame(layer);
    state.counters[std::string("streaming_ratio_") + kind.name + "_to_layer"] =
        StreamingPerFrame(kind.total) / StreamingPerFrame(layer);
  }
  state.counters["ratio_layer_preview_cost"] = PerFrame(kinds[0].total) / PerFrame(kinds[2].total);
  SetTestDevicesLive(false);
}

BENCHMARK(BM_RecordingGraphAgainstLayer1080p)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kestrom::bench
