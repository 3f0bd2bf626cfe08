// What a direct network stream with two viewers costs a frame next to the same ASF writer writing
// a file alone. The test camera (not live, 1080p30 RGB24) feeds the ASF writer (the first system
// profile); in one run the writer's only sink is its file, in the other a network sink on a free
// loopback port that two plain HTTP clients read as fast as they can. The figure is the process
// CPU time per camera frame, viewers included; their own share is printed beside it.
#include "GraphBenchSupport.h"

#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/AsfNetworkSinks.h"
#include "platform/dshow/writers/AsfWriter.h"
#include "platform/dshow/writers/WriterInterfaces.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestrom::bench {
namespace {

using namespace kestrom::dshow;
using com::ComPtr;

constexpr long kFrames = 150;

/** @brief A client that asks for the stream over plain HTTP and reads it until told to stop. */
class Viewer {
 public:
  explicit Viewer(DWORD port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    static constexpr char kRequest[] = "GET / HTTP/1.0\r\n\r\n";
    send(fd_, kRequest, sizeof kRequest - 1, MSG_NOSIGNAL);
    reader_ = std::thread([this] { Read(); });
  }
  ~Viewer() { Stop(); }
  void Stop() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  uint64_t Bytes() const { return bytes_; }
  double CpuSeconds() const { return cpu_; }

 private:
  void Read() {
    static thread_local char buffer[1 << 16];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      bytes_ += uint64_t(n);
    }
    cpu_ = CpuWatch::ThreadCpuSeconds();
  }
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  uint64_t bytes_ = 0;
  double cpu_ = 0;
};

struct Run {
  double cpuSeconds = 0, viewerCpuSeconds = 0;
  long frames = 0;
  uint64_t viewerBytes = 0, fileBytes = 0;
};

/** @brief Camera -> ASF writer, with its file or with a network sink and two viewers. */
Run Stream(const QString& file, bool network) {
  Run run;
  const CpuWatch watch;
  ComPtr<IGraphBuilder> graph;
  com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
  ComPtr<IBaseFilter> camera = CreateFilter(CLSID_KestromTestCamera), writer = CreateFilter(CLSID_WMAsfWriter);
  if (!camera || !writer) return run;
  graph->AddFilter(camera.Get(), u"Video Capture");
  graph->AddFilter(writer.Get(), u"ASF Writer");
  IWMProfileManager* rawManager = nullptr;
  WMCreateProfileManager(&rawManager);
  ComPtr<IWMProfileManager> manager = ComPtr<IWMProfileManager>::Attach(rawManager);
  ComPtr<IWMProfile> profile;
  ComPtr<IConfigAsfWriter> config;
  if (!manager || manager->LoadSystemProfile(0, profile.Put()) != com::S_OK ||
      writer->QueryInterface(IID_IConfigAsfWriter, config.PutVoid()) != com::S_OK ||
      config->ConfigureFilterUsingProfile(profile.Get()) != com::S_OK)
    return run;
  ComPtr<IFileSinkFilter> fileName;
  writer->QueryInterface(IID_IFileSinkFilter, fileName.PutVoid());
  fileName->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr);
  ComPtr<IPin> capture, input;
  engine::FindPinOfType(camera.Get(), PINDIR_OUTPUT, MEDIATYPE_Video, capture);
  engine::FindPinByName(writer.Get(), PINDIR_INPUT, QStringLiteral("Video"), input, true, true);
  if (!capture || !input || !SetCameraFormat(capture.Get(), 1920, 1080) ||
      graph->ConnectDirect(capture.Get(), input.Get(), nullptr) != com::S_OK)
    return run;

  ComPtr<IWMWriterNetworkSink> sink;
  DWORD port = 0;
  if (network) {
    ComPtr<IServiceProvider> provider;
    ComPtr<IWMWriterAdvanced2> advanced;
    ComPtr<IWMWriterSink> fileSink;
    IWMWriterNetworkSink* rawSink = nullptr;
    if (writer->QueryInterface(IID_IServiceProvider, provider.PutVoid()) != com::S_OK ||
        provider->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, advanced.PutVoid()) != com::S_OK ||
        advanced->GetSink(0, fileSink.Put()) != com::S_OK || advanced->RemoveSink(fileSink.Get()) != com::S_OK ||
        WMCreateWriterNetworkSink(&rawSink) != com::S_OK)
      return run;
    sink = ComPtr<IWMWriterNetworkSink>::Attach(rawSink);
    if (sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP) != com::S_OK || sink->SetMaximumClients(5) != com::S_OK ||
        sink->Open(&port) != com::S_OK || advanced->AddSink(sink.Get()) != com::S_OK ||
        advanced->SetLiveSource(TRUE) != com::S_OK)
      return run;
  }
  std::vector<std::unique_ptr<Viewer>> viewers;
  if (network)
    for (int i = 0; i < 2; ++i) viewers.push_back(std::make_unique<Viewer>(port));

  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  control->Run();
  WaitForCameraFrames(graph.Get(), kFrames);
  control->Stop();
  run.frames = CameraFrames(graph.Get());
  for (auto& viewer : viewers) {
    viewer->Stop();
    run.viewerBytes += viewer->Bytes();
    run.viewerCpuSeconds += viewer->CpuSeconds();
  }
  if (sink) sink->Close();
  control.Reset();
  sink.Reset();
  fileName.Reset();
  config.Reset();
  camera.Reset();
  writer.Reset();
  graph.Reset();
  run.cpuSeconds = watch.CpuSeconds();
  run.fileBytes = uint64_t(QFileInfo(file).size());
  return run;
}

void BM_DirectStreamTwoViewersAgainstFile1080p(benchmark::State& state) {
  QTemporaryDir folder;
  Run file, stream;
  int runs = 0;
  for (auto _ : state) {
    const Run f = Stream(QDir(folder.path()).filePath(QStringLiteral("alone%1.wmv").arg(runs)), false);
    const Run s = Stream(QDir(folder.path()).filePath(QStringLiteral("stream%1.wmv").arg(runs)), true);
    std::fprintf(stderr, "file alone: %ld frames, %.1f ms CPU; stream: %ld frames, %.1f ms CPU (viewers %.1f ms, %llu bytes)\n",
                 f.frames, f.cpuSeconds * 1e3, s.frames, s.cpuSeconds * 1e3, s.viewerCpuSeconds * 1e3,
                 static_cast<unsigned long long>(s.viewerBytes));
    file.cpuSeconds += f.cpuSeconds;
    file.frames += f.frames;
    file.fileBytes += f.fileBytes;
    stream.cpuSeconds += s.cpuSeconds;
    stream.viewerCpuSeconds += s.viewerCpuSeconds;
    stream.frames += s.frames;
    stream.viewerBytes += s.viewerBytes;
    ++runs;
  }
  if (file.frames <= 0 || stream.frames <= 0) {
    state.SkipWithError("a run delivered no frames");
    return;
  }
  const double filePerFrame = file.cpuSeconds / double(file.frames);
  const double streamPerFrame = stream.cpuSeconds / double(stream.frames);
  state.counters["file_frames"] = double(file.frames) / runs;
  state.counters["stream_frames"] = double(stream.frames) / runs;
  state.counters["file_cpu_ms_per_frame"] = 1e3 * filePerFrame;
  state.counters["stream_cpu_ms_per_frame"] = 1e3 * streamPerFrame;
  state.counters["viewers_cpu_ms_per_frame"] = 1e3 * stream.viewerCpuSeconds / double(stream.frames);
  // Each viewer should have had about the whole file's worth (less its header and index).
  state.counters["viewer_kbytes_per_run"] = double(stream.viewerBytes) / 1024.0 / runs;
  state.counters["file_kbytes_per_run"] = double(file.fileBytes) / 1024.0 / runs;
  state.counters["ratio_stream_to_file"] = streamPerFrame / filePerFrame;
}

BENCHMARK(BM_DirectStreamTwoViewersAgainstFile1080p)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kestrom::bench
