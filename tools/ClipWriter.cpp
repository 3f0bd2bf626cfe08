#include "tools/ClipWriter.h"

#include "tools/FrameCode.h"
#include "platform/media/AvError.h"

#include <QFile>
#include <QImage>
#include <cmath>
#include <algorithm>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace kestrom::tools {
namespace {

struct Output {
  AVFormatContext* format = nullptr;
  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  AVStream* videoStream = nullptr;
  AVStream* audioStream = nullptr;
  SwsContext* scaler = nullptr;
  AVFrame* frame = nullptr;
  AVFrame* audioFrame = nullptr;
  AVPacket* packet = nullptr;
  bool ioOpen = false;

  ~Output() {
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_frame_free(&audioFrame);
    av_packet_free(&packet);
    avcodec_free_context(&video);
    avcodec_free_context(&audio);
    if (format) {
      if (ioOpen) avio_closep(&format->pb);
      avformat_free_context(format);
    }
  }
};

int Drain(Output& out, AVCodecContext* codec, AVStream* stream) {
  for (;;) {
    int rc = avcodec_receive_packet(codec, out.packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
    if (rc < 0) return rc;
    av_packet_rescale_ts(out.packet, codec->time_base, stream->time_base);
    out.packet->stream_index = stream->index;
    rc = av_interleaved_write_frame(out.format, out.packet);
    if (rc < 0) return rc;
  }
}

}  // namespace

bool WriteClip(const ClipSpec& clipSpec, QString* error) {
  auto fail = [&](const QString& message) {
    if (error) *error = message;
    return false;
  };
  av_log_set_level(AV_LOG_ERROR);
  if (clipSpec.frames < 1 || clipSpec.frames > kMaxFrameCode + 1) return fail("frame count out of range");
  Output out;
  const QByteArray path = QFile::encodeName(clipSpec.path);
  int rc = avformat_alloc_output_context2(&out.format, nullptr, nullptr, path.constData());
  if (rc < 0) return fail("no container for " + clipSpec.path + ": " + media::AvErrorText(rc));

  const AVCodec* encoder = avcodec_find_encoder_by_name(clipSpec.codec.toUtf8().constData());
  if (!encoder) return fail("no encoder " + clipSpec.codec);
  out.videoStream = avformat_new_stream(out.format, nullptr);
  out.video = avcodec_alloc_context3(encoder);
  AVCodecContext* v = out.video;
  v->width = clipSpec.size.width();
  v->height = clipSpec.size.height();
  v->time_base = AVRational{clipSpec.rateDen, clipSpec.rateNum};
  v->framerate = AVRational{clipSpec.rateNum, clipSpec.rateDen};
  v->gop_size = clipSpec.gop;
  v->max_b_frames = clipSpec.bFrames;
  v->pix_fmt = clipSpec.codec == "mjpeg" ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  v->flags |= AV_CODEC_FLAG_QSCALE;
  v->global_quality = FF_QP2LAMBDA * clipSpec.quality;
  if (clipSpec.fieldCoded) v->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
  if (out.format->oformat->flags & AVFMT_GLOBALHEADER) v->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  rc = avcodec_open2(v, encoder, nullptr);
  if (rc < 0) return fail("cannot open encoder " + clipSpec.codec + ": " + media::AvErrorText(rc));
  avcodec_parameters_from_context(out.videoStream->codecpar, v);
  out.videoStream->time_base = v->time_base;
  out.videoStream->avg_frame_rate = v->framerate;

  const int rate = clipSpec.audioRate;
  const int channels = clipSpec.audioChannels;
  if (clipSpec.audio) {
    const AVCodec* pcm = avcodec_find_encoder_by_name(clipSpec.audioCodec.toUtf8().constData());
    if (!pcm) return fail("no encoder " + clipSpec.audioCodec);
    out.audioStream = avformat_new_stream(out.format, nullptr);
    out.audio = avcodec_alloc_context3(pcm);
    out.audio->sample_rate = rate;
    out.audio->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&out.audio->ch_layout, channels);
    out.audio->time_base = AVRational{1, rate};
    if (clipSpec.audioCodec != "pcm_s16le") out.audio->bit_rate = 192000;
    rc = avcodec_open2(out.audio, pcm, nullptr);
    if (rc < 0) return fail("cannot open the audio encoder: " + media::AvErrorText(rc));
    avcodec_parameters_from_context(out.audioStream->codecpar, out.audio);
    out.audioStream->time_base = out.audio->time_base;
  }

  rc = avio_open(&out.format->pb, path.constData(), AVIO_FLAG_WRITE);
  if (rc < 0) return fail("cannot create " + clipSpec.path + ": " + media::AvErrorText(rc));
  out.ioOpen = true;
  rc = avformat_write_header(out.format, nullptr);
  if (rc < 0) return fail("cannot write the header of " + clipSpec.path + ": " + media::AvErrorText(rc));

  out.frame = av_frame_alloc();
  out.frame->format = v->pix_fmt;
  out.frame->width = v->width;
  out.frame->height = v->height;
  av_frame_get_buffer(out.frame, 0);
  out.packet = av_packet_alloc();
  out.scaler = sws_getContext(v->width, v->height, AV_PIX_FMT_RGB32, v->width, v->height, v->pix_fmt,
                              SWS_BICUBIC, nullptr, nullptr, nullptr);
  // Encoders with a fixed frame size (mp2) take whole frames; the tone waits here until one is full.
  std::vector<int16_t> pendingSound;
  int64_t soundPts = 0;
  auto sendSound = [&](bool last) -> int {
    const int frameSize = out.audio->frame_size > 0 ? out.audio->frame_size : 0;
    // A short last frame is padded with silence where the encoder takes only whole ones.
    if (last && frameSize && !(out.audio->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME)) {
      const size_t whole = (pendingSound.size() / channels + frameSize - 1) / frameSize * frameSize * channels;
      pendingSound.resize(whole, 0);
    }
    for (;;) {
      const int available = int(pendingSound.size()) / channels;
      const int count = frameSize ? (available >= frameSize ? frameSize : (last ? available : 0)) : available;
      if (count <= 0) return 0;
      out.audioFrame->format = AV_SAMPLE_FMT_S16;
      out.audioFrame->sample_rate = rate;
      av_channel_layout_default(&out.audioFrame->ch_layout, channels);
      out.audioFrame->nb_samples = count;
      av_frame_get_buffer(out.audioFrame, 0);
      std::copy_n(pendingSound.begin(), count * channels, reinterpret_cast<int16_t*>(out.audioFrame->data[0]));
      pendingSound.erase(pendingSound.begin(), pendingSound.begin() + count * channels);
      out.audioFrame->pts = soundPts;
      soundPts += count;
      int rc = avcodec_send_frame(out.audio, out.audioFrame);
      av_frame_unref(out.audioFrame);
      if (rc < 0 || (rc = Drain(out, out.audio, out.audioStream)) < 0) return rc;
    }
  };
  if (out.audio) out.audioFrame = av_frame_alloc();

  QImage picture(clipSpec.size, QImage::Format_RGB32);
  int64_t audioWritten = 0;
  for (int n = 0; n < clipSpec.frames; ++n) {
    if (clipSpec.fieldCoded) PaintFieldCodedFrame(picture, 2 * n + 1, 2 * n);
    else PaintCodedFrame(picture, n, clipSpec.frames);
    av_frame_make_writable(out.frame);
    const uint8_t* src[1] = {picture.constBits()};
    const int srcStride[1] = {int(picture.bytesPerLine())};
    sws_scale(out.scaler, src, srcStride, 0, v->height, out.frame->data, out.frame->linesize);
    out.frame->pts = n;
    out.frame->quality = v->global_quality;
    if (clipSpec.fieldCoded) {
      out.frame->interlaced_frame = 1;
      out.frame->top_field_first = 0;
    }
    const bool dropped = std::find(clipSpec.droppedFrames.begin(), clipSpec.droppedFrames.end(), n) != clipSpec.droppedFrames.end();
    if (!dropped && ((rc = avcodec_send_frame(v, out.frame)) < 0 || (rc = Drain(out, v, out.videoStream)) < 0))
      return fail("cannot encode frame " + QString::number(n) + ": " + media::AvErrorText(rc));

    if (out.audio) {
      // A 440 Hz tone whose loudness steps up each second, so a cut is audible and measurable.
      const int64_t until = int64_t(std::llround((n + 1) * double(rate) * clipSpec.rateDen / clipSpec.rateNum));
      for (int64_t s = audioWritten; s < until; ++s) {
        const auto value = int16_t(std::sin(2 * M_PI * 440.0 * s / rate) * (3000 + 1000 * ((s / rate) % 8)));
        for (int c = 0; c < channels; ++c) pendingSound.push_back(value);
      }
      audioWritten = until;
      if ((rc = sendSound(false)) < 0) return fail("cannot encode the sound: " + media::AvErrorText(rc));
    }
  }
  avcodec_send_frame(v, nullptr);
  if ((rc = Drain(out, v, out.videoStream)) < 0) return fail("cannot finish the video: " + media::AvErrorText(rc));
  if (out.audio) {
    if ((rc = sendSound(true)) < 0) return fail("cannot encode the sound: " + media::AvErrorText(rc));
    avcodec_send_frame(out.audio, nullptr);
    Drain(out, out.audio, out.audioStream);
  }

  if (clipSpec.finish) {
    rc = av_write_trailer(out.format);
    if (rc < 0) return fail("cannot finish " + clipSpec.path + ": " + media::AvErrorText(rc));
  } else {
    av_interleaved_write_frame(out.format, nullptr);  // flush what the muxer holds, nothing more
    avio_flush(out.format->pb);
  }
  avio_closep(&out.format->pb);
  out.ioOpen = false;
  if (clipSpec.cutBytes > 0) {
    QFile file(clipSpec.path);
    if (!file.resize(std::max<qint64>(0, file.size() - clipSpec.cutBytes))) return fail("cannot cut " + clipSpec.path);
  }
  return true;
}

}  // namespace kestrom::tools
