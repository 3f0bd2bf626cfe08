// What the engine's re-encoding costs next to the least the same work could cost, measured in one
// run:
// - 1000 frames of 720x576 MPEG-4 V2 with ADPCM sound compressed to MPEG-4 V2 (the sound copied)
//   against libavcodec decoding and encoding the same pictures alone, with the compressor's
//   settings (quantiser 6, a key frame every 25, one thread);
// - copy mode against reading and writing the file's bytes, on that clip and on what copy mode
//   is for, a capture file: 300 frames of 720x576 DV with 48 kHz stereo sound. Both sides read
//   the file from the page cache (it was just written) and write a new file beside it: the copy
//   of the round before is deleted first, untimed, since deleting a file of that size (or
//   truncating it) costs the file system as much as a good part of the copy.
#include "capture/engine/FK.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/registry/Registry.h"
#include "tools/ClipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

using namespace kestrom;
using namespace kestrom::engine;

namespace {

using Clock = std::chrono::steady_clock;

QTemporaryDir* workDir = nullptr;
QString clip;     // the MPEG-4 V2 clip
QString capture;  // the DV capture file

QString InWork(const QString& name) { return QDir(workDir->path()).filePath(name); }

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

/** @brief Decodes every video packet of the clip and encodes the pictures again, nothing else. */
double CodecAloneSeconds() {
  const auto start = Clock::now();
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, QFile::encodeName(clip).constData(), nullptr, nullptr) != 0) return 0;
  avformat_find_stream_info(in, nullptr);
  const int video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVCodecParameters* par = in->streams[video]->codecpar;
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
  AVPacket* packet = av_packet_alloc();
  AVPacket* out = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  int64_t bytes = 0, pts = 0;
  auto drain = [&] {
    while (avcodec_receive_packet(encoder, out) == 0) {
      bytes += out->size;
      av_packet_unref(out);
    }
  };
  auto encodeDecoded = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      frame->pts = pts++;
      frame->pict_type = AV_PICTURE_TYPE_NONE;
      avcodec_send_frame(encoder, frame);
      av_frame_unref(frame);
      drain();
    }
  };
  while (av_read_frame(in, packet) >= 0) {
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
  benchmark::DoNotOptimize(bytes);
  return Seconds(start);
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
