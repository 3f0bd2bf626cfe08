// A real-time recording run as the capture program makes one: the test camera live at 720x576,
// 25 frames per second, through the MPEG-4 V2 compressor, and the test microphone through the
// ADPCM compressor, into an AVI file by the capture graph builder, for a given number of
// minutes. The devices and compressors are found by name through the engine's device lists.
//
// Afterwards it reads the file back through the media layer and prints: frames written, frames
// the camera dropped (its own counter) and gaps in the frame numbers the pictures carry, the
// sound's length against the pictures' (drift in ms and in frames), and the CPU time per frame.
//
//   recording_realtime [--minutes M] [--output FILE.avi] [--audio-rate HZ]
//
// The default is a quarter of a minute, so that the benchmark runner gets a quick figure.

#include "capture/engine/DeviceProvider.h"
#include "capture/engine/Devices.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/media/VideoReader.h"
#include "platform/registry/Registry.h"
#include "tools/FrameCode.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

using namespace kestrom;
using namespace kestrom::dshow;
using com::ComPtr;
using com::FAILED;
using com::SUCCEEDED;

constexpr LONG kWidth = 720, kHeight = 576;
constexpr REFERENCE_TIME kFrameTime = 400000;  // 25 frames per second
constexpr double kFrameMs = 40.0;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

[[noreturn]] void Fail(const char* what, HRESULT hr = com::E_FAIL) {
  std::fprintf(stderr, "recording_realtime: %s (0x%08X)\n", what, unsigned(hr));
  std::exit(1);
}

// A device or compressor of a category, found by its name as the capture program finds it.
ComPtr<IBaseFilter> Bind(const char* category, const QString& name) {
  QString friendly;
  engine::DeviceMoniker moniker;
  if (!engine::FindDeviceMoniker(QString::fromLatin1(category), name, 0, friendly, moniker)) return nullptr;
  return engine::BindFilter(moniker);
}

ComPtr<IPin> CapturePin(IBaseFilter* filter) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == com::S_OK) {
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_OUTPUT) return held;
  }
  return nullptr;
}

// 720x576 YUY2 at 25 frames per second, as a PAL capture card delivers it.
void ChoosePalFormat(IBaseFilter* camera) {
  ComPtr<IAMStreamConfig> config;
  if (FAILED(CapturePin(camera)->QueryInterface(IID_IAMStreamConfig, config.PutVoid()))) Fail("camera has no format");
  int count = 0, size = 0;
  config->GetNumberOfCapabilities(&count, &size);
  std::vector<BYTE> caps(static_cast<size_t>(std::max(size, 1)));
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* type = nullptr;
    if (FAILED(config->GetStreamCaps(i, &type, caps.data())) || !type) continue;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    const bool wanted = type->subtype == MEDIASUBTYPE_YUY2 && vih->bmiHeader.biWidth == kWidth &&
                        std::abs(vih->bmiHeader.biHeight) == kHeight;
    vih->AvgTimePerFrame = kFrameTime;
    const HRESULT hr = wanted ? config->SetFormat(type) : com::E_FAIL;
    DeleteMediaType(type);
    if (SUCCEEDED(hr)) return;
  }
  Fail("the camera offers no 720x576 YUY2 format");
}

void ChooseAudioFormat(IBaseFilter* microphone, int rate) {
  ComPtr<IAMStreamConfig> config;
  if (FAILED(CapturePin(microphone)->QueryInterface(IID_IAMStreamConfig, config.PutVoid())))
    Fail("microphone has no format");
  CMediaType pcm = MakePcmType(rate, 2, 16);
  const HRESULT hr = config->SetFormat(&pcm);
  if (FAILED(hr)) Fail("the microphone refuses the sound format", hr);
}

struct ReadBack {
  int64_t frames = 0;
  int64_t gaps = 0;        // frame numbers missing between pictures (and before the first)
  int64_t unreadable = 0;  // pictures whose number could not be read
  int64_t repeats = 0;     // a number read twice in a row
  QStringList where;       // the first places where the numbers do not step by one
  double videoMs = 0;
  double audioMs = -1;
};

// Frame numbers wrap after kMaxFrameCode: a step is the distance forward modulo the wrap.
ReadBack ReadFile(const QString& path) {
  ReadBack r;
  media::VideoReader reader;
  if (!reader.Open(path)) Fail(qPrintable("cannot read the recording back: " + reader.ErrorString()));
  const media::ClipInfo info = reader.Info();
  r.frames = info.frameCount;
  r.videoMs = double(info.frameCount) * 1000.0 * info.rateDen / info.rateNum;
  reader.SetCacheBudget(size_t(32) << 20);
  const int wrap = tools::kMaxFrameCode + 1;
  int previous = -1;
  for (int64_t n = 0; n < info.frameCount; ++n) {
    const int code = tools::ReadFrameCode(reader.Frame(n));
    if (code < 0) {
      ++r.unreadable;
      continue;
    }
    if (previous < 0) {
      r.gaps += code;  // the camera counts from 0: a later first number means lost frames
      if (code != 0) r.where << QStringLiteral("starts at number %1").arg(code);
    } else {
      const int step = (code - previous + wrap) % wrap;
      if (step == 0) ++r.repeats;
      else r.gaps += step - 1;
      if (step != 1 && r.where.size() < 10)
        r.where << QStringLiteral("frame %1: number %2 after %3").arg(n).arg(code).arg(previous);
    }
    previous = code;
  }
  // The sound's length: every sample the file's sound decodes to (ADPCM blocks in AVI carry no
  // duration of their own).
  AVFormatContext* format = nullptr;
  const QByteArray name = QFile::encodeName(path);
  if (avformat_open_input(&format, name.constData(), nullptr, nullptr) == 0 &&
      avformat_find_stream_info(format, nullptr) >= 0) {
    const AVCodec* codec = nullptr;
    const int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    AVCodecContext* decoder = audio >= 0 && codec ? avcodec_alloc_context3(codec) : nullptr;
    if (decoder && avcodec_parameters_to_context(decoder, format->streams[audio]->codecpar) >= 0 &&
        avcodec_open2(decoder, codec, nullptr) == 0) {
      int64_t samples = 0;
      AVPacket* packet = av_packet_alloc();
      AVFrame* frame = av_frame_alloc();
      auto drain = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
          samples += frame->nb_samples;
          av_frame_unref(frame);
        }
      };
      while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == audio && avcodec_send_packet(decoder, packet) >= 0) drain();
        av_packet_unref(packet);
      }
      avcodec_send_packet(decoder, nullptr);
      drain();
      av_frame_free(&frame);
      av_packet_free(&packet);
      r.audioMs = double(samples) * 1000.0 / decoder->sample_rate;
    }
    avcodec_free_context(&decoder);
  }
  avformat_close_input(&format);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  av_log_set_level(AV_LOG_ERROR);
  double minutes = 0.25;
  int audioRate = 44100;
  QString output;
  for (int i = 1; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    if (arg == "--minutes" && i + 1 < argc) minutes = QString::fromLocal8Bit(argv[++i]).toDouble();
    else if (arg == "--output" && i + 1 < argc) output = QString::fromLocal8Bit(argv[++i]);
    else if (arg == "--audio-rate" && i + 1 < argc) audioRate = QString::fromLocal8Bit(argv[++i]).toInt();
    else if (!arg.startsWith("--benchmark")) {  // the benchmark runner's options are not ours
      std::fprintf(stderr, "usage: %s [--minutes M] [--output FILE.avi] [--audio-rate HZ]\n", argv[0]);
      return 2;
    }
  }
  if (!(minutes > 0)) Fail("--minutes must be above 0");

  // A registry of our own, so that the run neither reads nor changes the user's settings.
  QTemporaryDir registryDir, fileDir;
  registry::SetRegistryDirectory(registryDir.path());
  if (output.isEmpty()) output = fileDir.filePath("realtime.avi");
  // A new file: the file writer keeps an existing file's length (preallocated capture files), and
  // the tail of a longer older recording would be read back as part of this one.
  if (QFileInfo::exists(output) && !QFile::remove(output)) Fail("cannot replace the output file");
  SetTestDevicesLive(true);
  engine::EnsureGraphFiltersRegistered();

  ComPtr<IBaseFilter> camera = Bind(engine::CLSID_VideoInputDeviceCategory, QString::fromUtf16(kTestCameraName));
  ComPtr<IBaseFilter> microphone =
      Bind(engine::CLSID_AudioInputDeviceCategory, QString::fromUtf16(kTestMicrophoneName));
  ComPtr<IBaseFilter> videoCodec = Bind(engine::CLSID_VideoCompressorCategory, "Microsoft MPEG-4 Video Codec V2");
  ComPtr<IBaseFilter> audioCodec = Bind(engine::CLSID_AudioCompressorCategory, "Microsoft ADPCM");
  if (!camera || !microphone) Fail("the test camera or microphone is not listed (KESTROM_TEST_DEVICES=0?)");
  if (!videoCodec || !audioCodec) Fail("the MPEG-4 V2 or ADPCM compressor is not listed");
  ChoosePalFormat(camera.Get());
  ChooseAudioFormat(microphone.Get(), audioRate);

  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  HRESULT hr = com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.PutVoid());
  if (FAILED(hr)) Fail("no filter graph", hr);
  hr = com::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, com::CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                             builder.PutVoid());
  if (FAILED(hr) || FAILED(hr = builder->SetFiltergraph(graph.Get()))) Fail("no capture graph builder", hr);
  graph->AddFilter(camera.Get(), u"Video Capture");
  graph->AddFilter(microphone.Get(), u"Audio Capture");
  graph->AddFilter(videoCodec.Get(), u"Video Compressor");
  graph->AddFilter(audioCodec.Get(), u"Audio Compressor");
  ComPtr<IBaseFilter> mux;
  ComPtr<IFileSinkFilter> sink;
  hr = builder->SetOutputFileName(&MEDIASUBTYPE_Avi, reinterpret_cast<LPCWSTR>(output.utf16()), mux.Put(), sink.Put());
  if (FAILED(hr)) Fail("cannot set the output file", hr);
  hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera.Get(), videoCodec.Get(), mux.Get());
  if (FAILED(hr)) Fail("cannot connect the video stream", hr);
  hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, microphone.Get(), audioCodec.Get(), mux.Get());
  if (FAILED(hr)) Fail("cannot connect the audio stream", hr);
  // Sound is the master stream, as in the capture program: the file's timing follows the sound.
  ComPtr<IConfigAviMux> config;
  if (SUCCEEDED(mux->QueryInterface(IID_IConfigAviMux, config.PutVoid()))) config->SetMasterStream(1);

  ComPtr<IMediaControl> control;
  ComPtr<IAMDroppedFrames> dropped;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  camera->QueryInterface(IID_IAMDroppedFrames, dropped.PutVoid());

  std::printf("recording %.2f min of 720x576 YUY2 at 25 fps (MPEG-4 V2) with %d Hz stereo sound (ADPCM) to %s\n",
              minutes, audioRate, qPrintable(output));
  std::fflush(stdout);
  const double cpuBefore = CpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  hr = control->Run();
  if (FAILED(hr)) Fail("the graph does not run", hr);
  const auto length = std::chrono::milliseconds(std::llround(minutes * 60000.0));
  auto nextReport = wallBefore + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() - wallBefore < length) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (std::chrono::steady_clock::now() >= nextReport) {
      LONG delivered = 0, lost = 0;
      dropped->GetNumNotDropped(&delivered);
      dropped->GetNumDropped(&lost);
      std::printf("  %4lld s: %ld frames delivered, %ld dropped\n",
                  static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(
                                             std::chrono::steady_clock::now() - wallBefore)
                                             .count()),
                  long(delivered), long(lost));
      std::fflush(stdout);
      nextReport += std::chrono::seconds(30);
    }
  }
  LONG delivered = 0, lost = 0;
  dropped->GetNumNotDropped(&delivered);
  dropped->GetNumDropped(&lost);
  control->Stop();
  const double wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  const double cpu = CpuSeconds() - cpuBefore;
  graph.Reset();
  builder.Reset();
  mux.Reset();
  sink.Reset();

  const ReadBack r = ReadFile(output);
  const double drift = r.audioMs - r.videoMs;
  std::printf("\nrun: %.1f s wall, %.1f s CPU\n", wallSeconds, cpu);
  std::printf("frames written:             %lld (camera delivered %ld)\n", static_cast<long long>(r.frames),
              long(delivered));
  std::printf("dropped (camera counter):   %ld\n", long(lost));
  std::printf("gaps in frame numbers:      %lld (unreadable %lld, repeated %lld)\n", static_cast<long long>(r.gaps),
              static_cast<long long>(r.unreadable), static_cast<long long>(r.repeats));
  for (const QString& w : r.where) std::printf("  %s\n", qPrintable(w));
  if (r.audioMs >= 0)
    std::printf("sound %.1f ms, pictures %.1f ms: drift %+.1f ms (%+.2f frames)\n", r.audioMs, r.videoMs, drift,
                drift / kFrameMs);
  else
    std::printf("no sound stream in the file\n");
  std::printf("CPU per frame:              %.2f ms (%.1f%% of one core at 25 fps)\n",
              r.frames ? cpu * 1000.0 / double(r.frames) : 0.0, r.frames ? cpu / wallSeconds * 100.0 : 0.0);
  std::printf("file size:                  %.1f MB\n", double(QFileInfo(output).size()) / 1e6);
  std::printf("verdict:                    %s\n",
              lost == 0 && r.gaps == 0 && r.unreadable == 0 ? "no frame lost" : "FRAMES LOST");
  registry::SetRegistryDirectory({});
  return 0;  // a figure, not a test: the runner goes on to the next benchmark
}
