// Recording 720x576 frames at 25 fps through the compressor filter, the AVI mux and the file
// writer, against encoding the same frames with libswscale + libavcodec alone, in the same run.
// Times are the process's CPU time per frame; "vs_libavcodec" is the filter chain's CPU time per
// frame divided by the bare codec's for the same input layout (1.0 means no overhead).

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/registry/Registry.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace {

using namespace kestrom;
using namespace kestrom::dshow;
using namespace kestrom::com;

constexpr int kWidth = 720, kHeight = 576, kFrames = 50;
constexpr REFERENCE_TIME kFrameTime = 400000;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Input layouts: 0 = I420 (no conversion needed), 1 = bottom-up RGB24 (converted).
struct Input {
  CMediaType type;
  AVPixelFormat format;
  std::vector<std::vector<uint8_t>> frames;
};

Input MakeInput(int layout) {
  Input in;
  if (layout == 1) {
    in.type = MakeRgbVideoType(24, kWidth, kHeight, kFrameTime);
    in.format = AV_PIX_FMT_BGR24;
  } else {
    in.type.SetType(MEDIATYPE_Video);
    in.type.SetSubtype(MEDIASUBTYPE_I420);
    in.type.SetFormatType(FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = kFrameTime;
    vih.bmiHeader = BITMAPINFOHEADER{40, kWidth, kHeight, 3, 12, 0x30323449, kWidth * kHeight * 3 / 2, 0, 0, 0, 0};
    in.type.SetFormat(&vih, sizeof vih);
    in.type.lSampleSize = kWidth * kHeight * 3 / 2;
    in.format = AV_PIX_FMT_YUV420P;
  }
  const size_t bytes = layout == 1 ? size_t(RgbStride(kWidth, 24)) * kHeight : size_t(kWidth) * kHeight * 3 / 2;
  in.type.lSampleSize = ULONG(bytes);
  // Moving gradients: something for the codec to predict and something to code.
  for (int f = 0; f < kFrames; ++f) {
    std::vector<uint8_t> frame(bytes);
    for (size_t i = 0; i < bytes; ++i) frame[i] = uint8_t((i % 720) + (i / 720) * 3 + f * 5 + ((i * 7919) % 13));
    in.frames.push_back(std::move(frame));
  }
  return in;
}

std::map<int, double>& BaselineCpu() {
  static std::map<int, double> perFrame;
  return perFrame;
}

AVCodecContext* OpenEncoder() {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MSMPEG4V2);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, 25};
  c->framerate = AVRational{25, 1};
  c->gop_size = 25;
  c->max_b_frames = 0;
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = FF_QP2LAMBDA * 6;  // the compressor's default quality
  avcodec_open2(c, codec, nullptr);
  return c;
}

void BM_LibavcodecAlone(benchmark::State& state) {
  const int layout = int(state.range(0));
  Input in = MakeInput(layout);
  AVCodecContext* c = OpenEncoder();
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = kWidth;
  frame->height = kHeight;
  av_frame_get_buffer(frame, 32);
  SwsContext* sws = layout == 1 ? sws_getContext(kWidth, kHeight, in.format, kWidth, kHeight, AV_PIX_FMT_YUV420P, SWS_POINT,
                                                 nullptr, nullptr, nullptr)
                                : nullptr;
  AVFrame* direct = av_frame_alloc();
  direct->format = AV_PIX_FMT_YUV420P;
  direct->width = kWidth;
  direct->height = kHeight;
  AVPacket* packet = av_packet_alloc();
  int64_t n = 0;
  const double begin = CpuSeconds();
  for (auto _ : state) {
    const uint8_t* data = in.frames[size_t(n % kFrames)].data();
    AVFrame* target = frame;
    if (sws) {
      av_frame_make_writable(frame);
      const int stride = RgbStride(kWidth, 24);
      const uint8_t* planes[1] = {data + size_t(stride) * (kHeight - 1)};
      const int strides[1] = {-stride};
      sws_scale(sws, planes, strides, 0, kHeight, frame->data, frame->linesize);
    } else {
      // The codec reads the caller's buffer (and copies what it keeps).
      target = direct;
      av_image_fill_arrays(direct->data, direct->linesize, data, AV_PIX_FMT_YUV420P, kWidth, kHeight, 1);
    }
    target->pts = n++;
    avcodec_send_frame(c, target);
    while (avcodec_receive_packet(c, packet) == 0) {
      benchmark::DoNotOptimize(packet->data);
      av_packet_unref(packet);
    }
  }
  BaselineCpu()[layout] = (CpuSeconds() - begin) / double(state.iterations());
  state.counters["cpu_ms_per_frame"] = BaselineCpu()[layout] * 1e3;
  av_packet_free(&packet);
  if (sws) sws_freeContext(sws);
  av_frame_free(&direct);
  av_frame_free(&frame);
  avcodec_free_context(&c);
}

// A source that pushes the prepared frames on the benchmark's thread.
class BenchSource final : public CBaseFilter {
 public:
  explicit BenchSource(const CMediaType& type) : CBaseFilter("bench source", nullptr, &lock_, GUID_NULL), pin_(this, &lock_, type) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  IPin* Output() { return &pin_; }
  HRESULT Push(const std::vector<uint8_t>& bytes, int64_t n) {
    IMediaSample* sample = nullptr;
    HRESULT hr = pin_.GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, bytes.data(), bytes.size());  // as a capture device fills its buffer
    sample->SetActualDataLength(LONG(bytes.size()));
    REFERENCE_TIME start = n * kFrameTime, stop = start + kFrameTime;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(1);
    hr = pin_.Deliver(sample);
    sample->Release();
    return hr;
  }

 private:
  class Pin final : public CBaseOutputPin {
   public:
    Pin(BenchSource* f, std::recursive_mutex* lock, const CMediaType& type) : CBaseOutputPin("bench out", f, lock, nullptr, u"Out"), type_(type) {}
    HRESULT CheckMediaType(const CMediaType* t) override { return *t == type_ ? com::S_OK : com::S_FALSE; }
    HRESULT GetMediaType(int position, CMediaType* t) override {
      if (position != 0) return VFW_S_NO_MORE_ITEMS;
      *t = type_;
      return com::S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* r) override {
      r->cBuffers = 3;
      r->cbBuffer = LONG(type_.lSampleSize);
      ALLOCATOR_PROPERTIES actual{};
      return a->SetProperties(r, &actual);
    }

   private:
    CMediaType type_;
  };
  std::recursive_mutex lock_;
  Pin pin_;
};

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  filter->EnumPins(pins.Put());
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == com::S_OK) {
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION d;
    pin->QueryDirection(&d);
    ComPtr<IPin> peer;
    if (d == direction && pin->ConnectedTo(peer.Put()) == VFW_E_NOT_CONNECTED) return held;
  }
  return nullptr;
}

void BM_CompressorAndAviMux(benchmark::State& state) {
  const int layout = int(state.range(0));
  Input in = MakeInput(layout);
  QTemporaryDir dir;
  registry::SetRegistryDirectory(dir.path());
  RegisterWriterFilters();
  ComPtr<IGraphBuilder> graph;
  com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid());
  auto* raw = new BenchSource(in.type);
  raw->NonDelegatingAddRef();
  ComPtr<BenchSource> source = ComPtr<BenchSource>::Attach(raw);
  ComPtr<IBaseFilter> encoder, mux, writer;
  com::CoCreateInstance(CLSID_Mpeg4V2Compressor, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, encoder.PutVoid());
  com::CoCreateInstance(CLSID_AviDest, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, mux.PutVoid());
  com::CoCreateInstance(CLSID_FileWriter, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, writer.PutVoid());
  graph->AddFilter(source.Get(), u"Source");
  graph->AddFilter(encoder.Get(), u"Encoder");
  graph->AddFilter(mux.Get(), u"Mux");
  graph->AddFilter(writer.Get(), u"Writer");
  ComPtr<IFileSinkFilter> sink;
  writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid());
  const QString file = dir.filePath("bench.avi");
  sink->SetFileName(reinterpret_cast<LPCWSTR>(file.utf16()), nullptr);
  if (graph->ConnectDirect(source->Output(), PinOf(encoder.Get(), PINDIR_INPUT).Get(), nullptr) != com::S_OK ||
      graph->ConnectDirect(PinOf(encoder.Get(), PINDIR_OUTPUT).Get(), PinOf(mux.Get(), PINDIR_INPUT).Get(), nullptr) != com::S_OK ||
      graph->ConnectDirect(PinOf(mux.Get(), PINDIR_OUTPUT).Get(), PinOf(writer.Get(), PINDIR_INPUT).Get(), nullptr) != com::S_OK) {
    state.SkipWithError("cannot build the graph");
    return;
  }
  for (IBaseFilter* f : {writer.Get(), mux.Get(), encoder.Get(), static_cast<IBaseFilter*>(source.Get())}) f->Run(0);
  int64_t n = 0;
  const double begin = CpuSeconds();
  for (auto _ : state) {
    if (source->Push(in.frames[size_t(n % kFrames)], n) != com::S_OK) {
      state.SkipWithError("a frame was refused");
      break;
    }
    ++n;
  }
  const double perFrame = (CpuSeconds() - begin) / double(std::max<int64_t>(state.iterations(), 1));
  for (IBaseFilter* f : {static_cast<IBaseFilter*>(source.Get()), encoder.Get(), mux.Get(), writer.Get()}) f->Stop();
  state.counters["cpu_ms_per_frame"] = perFrame * 1e3;
  if (BaselineCpu().count(layout)) state.counters["vs_libavcodec"] = perFrame / BaselineCpu()[layout];
  graph.Reset();
  registry::SetRegistryDirectory({});
}

// Argument: input layout (0 I420, 1 RGB24). The baseline runs first.
BENCHMARK(BM_LibavcodecAlone)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_CompressorAndAviMux)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_ERROR);  // the encoder's notes on clipped coefficients would drown the figures
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
