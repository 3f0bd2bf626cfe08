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

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

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
  const auto start = Clock::now();
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, QFile::encodeName(clip).constData(), nullptr, nullptr) != 0) return 0;
  avformat_find_stream_info(in, nullptr);
  const int video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVStream* stream = in->streams[video];
  const AVCodecParameters* par = stream->codecpar;
  AVCodecContext* decoder = avcodec_alloc_context3(avcodec_find_decoder(par->codec_id));
  avcodec_parameters_to_context(decoder, par);
  decoder->thread_count = 0;
  decoder->thread_type = FF_THREAD_SLICE;
  avcodec_open2(decoder, decoder->codec, nullptr);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MSMPEG4V2);
  AVCodecContext* encoder = avcodec_alloc_context3(codec);
  encoder->width = par->width;
  encoder->height = par->height;
  encoder->pix_fmt = AV_PIX_FMT_YUV420P;
  encoder->time_base = AVRational{1, 25};
  encoder->framerate = AVRational{25, 1};
  encoder->gop_size = 25;
  encoder->max_b_frames = 0;
  encoder->thread_count = 1;
  encoder->flags |= AV_CODEC_FLAG_QSCALE;
  encoder->global_quality = FF_QP2LAMBDA * 6;
  avcodec_open2(encoder, codec, nullptr);
  // Frame k of the clip has the time stamp k in the stream's time base (1/25 s).
  const int64_t first = kTrimIn - 1, last = kTrimOut - 1;
  av_seek_frame(in, video, av_rescale_q(first, AVRational{1, 25}, stream->time_base), AVSEEK_FLAG_BACKWARD);
  AVPacket* packet = av_packet_alloc();
  AVPacket* out = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int64_t pts = 0;
  bool done = false;
  auto drain = [&] {
    while (avcodec_receive_packet(encoder, out) == 0) av_packet_unref(out);
  };
  auto encodeDecoded = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      const int64_t k = av_rescale_q(frame->best_effort_timestamp, stream->time_base, AVRational{1, 25});
      if (k >= first && k <= last) {
        frame->pts = pts++;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        avcodec_send_frame(encoder, frame);
        drain();
      }
      if (k >= last) done = true;
      av_frame_unref(frame);
    }
  };
  while (!done && av_read_frame(in, packet) >= 0) {
    if (packet->stream_index == video) {
      avcodec_send_packet(decoder, packet);
      encodeDecoded();
    }
    av_packet_unref(packet);
  }
  avcodec_send_packet(decoder, nullptr);
  encodeDecoded();
  avcodec_send_frame(encoder, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&out);
  av_packet_free(&packet);
  avcodec_free_context(&encoder);
  avcodec_free_context(&decoder);
  avformat_close_input(&in);
  *encoded = pts;
  return Seconds(start);
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
