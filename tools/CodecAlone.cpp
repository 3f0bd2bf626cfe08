#include "tools/CodecAlone.h"

#include <QFile>
#include <chrono>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace kestrom::tools {

CodecAloneRun DecodeAndEncodeMpeg4V2(const QString& clip, int64_t first, int64_t last) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  CodecAloneRun run;
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, QFile::encodeName(clip).constData(), nullptr, nullptr) != 0) return run;
  avformat_find_stream_info(in, nullptr);
  const int video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video < 0) {
    avformat_close_input(&in);
    return run;
  }
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
  if (first > 0)
    av_seek_frame(in, video, av_rescale_q(first, AVRational{1, 25}, stream->time_base), AVSEEK_FLAG_BACKWARD);

  AVPacket* packet = av_packet_alloc();
  AVPacket* out = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  bool done = false;
  int64_t decoded = 0;
  auto drain = [&] {
    while (avcodec_receive_packet(encoder, out) == 0) {
      run.bytes += out->size;
      av_packet_unref(out);
    }
  };
  auto encodeDecoded = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) {
      // Frame k of the clip has the time stamp k at 25 frames a second.
      const int64_t k = frame->best_effort_timestamp == AV_NOPTS_VALUE
                            ? decoded
                            : av_rescale_q(frame->best_effort_timestamp, stream->time_base, AVRational{1, 25});
      ++decoded;
      if (k >= first && k <= last) {
        frame->pts = run.frames++;
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
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return run;
}

}  // namespace kestrom::tools
