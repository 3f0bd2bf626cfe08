// What the engine's recording graph costs a frame next to the same chain built by hand on the
// layer. The test camera (not live, 1080p30 RGB24, so frames come as fast as the graph takes them)
// and the test microphone record through the MPEG-4 V2 and ADPCM compressors into an AVI file:
//  - engine: RestartGraph's recording with the frame grabber on the capture stream and a pausable
//    recording (so its grabbers sit in both chains), and its preview renderer;
//  - layer: camera -> Smart Tee -> MPEG-4 V2 -> AVI mux -> file writer, microphone -> ADPCM -> mux.
// Each records about the same number of frames; the figure is the process CPU time per frame
// written, from the start of the build to the end of the teardown.
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
#include <cstdio>

namespace kestrom::bench {
namespace {

using namespace kestrom::engine;
using namespace kestrom::dshow;
using com::ComPtr;

constexpr LONG kFrames = 150;

struct Run {
  double cpuSeconds = 0, wallSeconds = 0;
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
Run EngineRecording(const QString& folder, bool grabbers) {
  TFK fk;
  fk.SetStoragePath(folder);
  fk.SetVideoDevice(DeviceIndex(VideoDeviceList(), kTestCameraName));
  fk.SetAudioDevice(DeviceIndex(AudioDeviceList(), kTestMicrophoneName));
  fk.SetAudioRecording(true);
  fk.SetVideoSize(static_cast<int>(fk.FormatLists().sizes[sf_PAL].indexOf("1920x1080")));
  fk.SetVideoSubtype(1);  // RGB24
  fk.SetFrameRate(30);
  fk.SetVideoCompressor(IndexOfClass(VideoCompressorList(), CLSID_Mpeg4V2Compressor));
  fk.SetAudioCompressor(IndexOfClass(AudioCompressorList(), CLSID_AdpcmCompressor));
  fk.SetCompressionMode(cm_CompressOnTheFly);
  fk.SetCompressionType(ct_AudioVideo);
  fk.SetFrameGrabber(grabbers ? fg_CaptureStream : fg_Disabled);
  fk.SetRecordingCanPause(grabbers);
  Run run;
  const CpuWatch watch;
  if (!fk.StartRecording()) return run;
  WaitForCameraFrames(fk.Graph(), kFrames);
  fk.StopRecording();
  run.cpuSeconds = watch.CpuSeconds();
  run.wallSeconds = watch.WallSeconds();
  run.framesWritten = FramesIn(fk.GetLastRecordedFile());
  return run;
}

/** @brief The same chain joined by hand on the layer, no grabbers and no preview. */
Run LayerRecording(const QString& file) {
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
  for (const auto& [up, down] : links)
    if (!Join(graph.Get(), up, down, up == tee.Get() ? u"Capture" : nullptr)) {
      std::fprintf(stderr, "layer: %s -> %s did not connect\n", qPrintable(engine::FilterName(up)),
                   qPrintable(engine::FilterName(down)));
      return run;
    }
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  control->Run();
  WaitForCameraFrames(graph.Get(), kFrames);
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
  graph.Reset();
  run.cpuSeconds = watch.CpuSeconds();
  run.wallSeconds = watch.WallSeconds();
  run.framesWritten = FramesIn(file);
  return run;
}

void Report(benchmark::State& state, const char* prefix, const Run& total, int runs) {
  const std::string p(prefix);
  state.counters[p + "_frames"] = double(total.framesWritten) / runs;
  state.counters[p + "_cpu_ms_per_frame"] = total.framesWritten ? 1e3 * total.cpuSeconds / total.framesWritten : 0;
  state.counters[p + "_wall_ms_per_frame"] = total.framesWritten ? 1e3 * total.wallSeconds / total.framesWritten : 0;
}

void Add(Run& total, const Run& run, const char* what) {
  std::fprintf(stderr, "%s: %d frames, %.1f ms CPU, %.1f ms wall\n", what, run.framesWritten, run.cpuSeconds * 1e3,
               run.wallSeconds * 1e3);
  total.cpuSeconds += run.cpuSeconds;
  total.wallSeconds += run.wallSeconds;
  total.framesWritten += run.framesWritten;
}

double PerFrame(const Run& r) { return r.framesWritten ? r.cpuSeconds / r.framesWritten : 0; }

void BM_RecordingGraphAgainstLayer1080p(benchmark::State& state) {
  QTemporaryDir folder;
  Run engine, plain, layer;
  int runs = 0;
  for (auto _ : state) {
    // Alternated, so drifts of the machine's load fall on every kind alike.
    Add(layer, LayerRecording(QDir(folder.path()).filePath(QStringLiteral("layer%1.avi").arg(runs))), "layer");
    Add(engine, EngineRecording(folder.path(), true), "engine");
    Add(plain, EngineRecording(folder.path(), false), "engine, no grabbers");
    ++runs;
  }
  if (!engine.framesWritten || !layer.framesWritten) {
    state.SkipWithError("a recording wrote no frames");
    return;
  }
  Report(state, "engine", engine, runs);
  Report(state, "engine_no_grabbers", plain, runs);
  Report(state, "layer", layer, runs);
  state.counters["ratio_engine_to_layer"] = PerFrame(engine) / PerFrame(layer);
  state.counters["ratio_no_grabbers_to_layer"] = PerFrame(plain) / PerFrame(layer);
}

BENCHMARK(BM_RecordingGraphAgainstLayer1080p)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kestrom::bench
