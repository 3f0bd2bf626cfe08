#include "platform/dshow/writers/EncoderCore.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"
#include "platform/media/LibraryLog.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace kestrom::dshow {

using namespace com;

namespace {

AVPixelFormat CodecPixelFormat(AVCodecID codec, int height) {
  switch (codec) {
    case AV_CODEC_ID_MJPEG: return AV_PIX_FMT_YUVJ420P;
    case AV_CODEC_ID_DVVIDEO: return height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
    default: return AV_PIX_FMT_YUV420P;
  }
}

bool IsRgb(AVPixelFormat f) { return f == AV_PIX_FMT_BGR24 || f == AV_PIX_FMT_BGRA; }

}  // namespace

// ---- video ----

AVCodecContext* NewVideoContext(const AM_MEDIA_TYPE& input, const VideoEncoderSettings& s) {
  media::UseLibraryLog();  // the encoders' notes go to the library log, not the terminal
  const AVCodec* codec = avcodec_find_encoder(s.codec);
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(input);
  if (!codec || !h) return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  c->width = s.width > 0 ? s.width : h->biWidth;
  c->height = s.height > 0 ? s.height : std::abs(h->biHeight);
  c->pix_fmt = CodecPixelFormat(s.codec, c->height);
  // MPEG-4 family time bases must fit 16 bits: 29.97 becomes 1001/30000.
  int num = 0, den = 0;
  av_reduce(&num, &den, s.frameTime > 0 ? s.frameTime : 400000, 10000000, 65535);
  c->time_base = AVRational{num, den};
  c->framerate = AVRational{den, num};
  c->gop_size = std::max(s.keyFrameRate, 1);
  c->max_b_frames = 0;
  c->thread_count = 1;
  if (s.codec != AV_CODEC_ID_DVVIDEO) {
    if (s.bitRate > 0) {
      c->bit_rate = s.bitRate;
    } else {
      c->flags |= AV_CODEC_FLAG_QSCALE;
      const int q = std::clamp(static_cast<int>(std::lround(31.0 - s.quality * 29.0)), 2, 31);
      c->global_quality = FF_QP2LAMBDA * q;
    }
  }
  if (s.codec == AV_CODEC_ID_MPEG2VIDEO || s.codec == AV_CODEC_ID_MPEG1VIDEO) c->max_b_frames = 0;
  return c;
}

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() { Close(); }

bool VideoEncoder::Accepts(const AM_MEDIA_TYPE& input, const VideoEncoderSettings& s) {
  const AVPixelFormat pf = PixelFormatOf(input);
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(input);
  if (pf == AV_PIX_FMT_NONE || !h || h->biWidth <= 0 || h->biHeight == 0) return false;
  const int width = s.width > 0 ? s.width : h->biWidth;
  const int height = s.height > 0 ? s.height : std::abs(h->biHeight);
  if (width % 2 || height % 2 || h->biWidth % 2 || std::abs(h->biHeight) % 2) return false;
  if (s.codec == AV_CODEC_ID_DVVIDEO && !(width == 720 && (height == 576 || height == 480))) return false;
  if (!IsRgb(pf) && h->biHeight < 0) return false;
  return true;
}

HRESULT VideoEncoder::Open(const AM_MEDIA_TYPE& input, const VideoEncoderSettings& s) {
  Close();
  if (!Accepts(input, s)) return VFW_E_TYPE_NOT_ACCEPTED;
  context_ = NewVideoContext(input, s);
  if (!context_) return E_OUTOFMEMORY;
  if (avcodec_open2(context_, context_->codec, nullptr) < 0) {
    Close();
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(input);
  const AVPixelFormat pf = PixelFormatOf(input);
  inputFormat_ = pf;
  swapChroma_ = input.subtype == MEDIASUBTYPE_YV12;
  inWidth_ = h->biWidth;
  inHeight_ = std::abs(h->biHeight);
  bottomUp_ = IsRgb(pf) && h->biHeight > 0;
  inputBytes_ = IsRgb(pf) ? RgbStride(inWidth_, pf == AV_PIX_FMT_BGR24 ? 24 : 32) * inHeight_
                          : av_image_get_buffer_size(pf, inWidth_, inHeight_, 1);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (!frame_ || !packet_) {
    Close();
    return E_OUTOFMEMORY;
  }
  frame_->format = context_->pix_fmt;
  frame_->width = context_->width;
  frame_->height = context_->height;
  direct_ = pf == context_->pix_fmt && inWidth_ == context_->width && inHeight_ == context_->height;
  // A codec without delay and without frame threads encodes each frame as it is sent.
  shareInput_ = direct_ && !(context_->codec->capabilities & AV_CODEC_CAP_DELAY) && context_->thread_count == 1;
  if (!direct_) {
    if (av_frame_get_buffer(frame_, 32) < 0) {
      Close();
      return E_OUTOFMEMORY;
    }
    const bool scaling = inWidth_ != context_->width || inHeight_ != context_->height;
    scaler_ = sws_getContext(inWidth_, inHeight_, pf, context_->width, context_->height, context_->pix_fmt,
                             scaling ? SWS_BICUBIC : SWS_POINT, nullptr, nullptr, nullptr);
    if (!scaler_) {
      Close();
      return E_FAIL;
    }
  }
  return S_OK;
}

void VideoEncoder::Close() {
  avcodec_free_context(&context_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  if (scaler_) sws_freeContext(scaler_);
  scaler_ = nullptr;
}

namespace {
void ReleaseSample(void* opaque, uint8_t*) { static_cast<IMediaSample*>(opaque)->Release(); }
}  // namespace

HRESULT VideoEncoder::Encode(const BYTE* data, LONG length, int64_t frame, const PacketSink& sink, bool keyFrame,
                             IMediaSample* keep) {
  if (!context_) return VFW_E_WRONG_STATE;
  if (length < inputBytes_) return VFW_E_BUFFER_OVERFLOW;
  const auto pf = AVPixelFormat(inputFormat_);
  const uint8_t* planes[4] = {};
  int strides[4] = {};
  if (av_image_fill_arrays(const_cast<uint8_t**>(planes), strides, data, pf, inWidth_, inHeight_, 1) < 0) return E_FAIL;
  if (IsRgb(pf)) {
    strides[0] = RgbStride(inWidth_, pf == AV_PIX_FMT_BGR24 ? 24 : 32);
    if (bottomUp_) {
      planes[0] = data + size_t(strides[0]) * (inHeight_ - 1);
      strides[0] = -strides[0];
    }
  }
  if (swapChroma_) std::swap(planes[1], planes[2]);
  if (direct_) {
    // Same layout as the codec's: it reads the sample's buffer (and copies what it keeps).
    for (int i = 0; i < 4; ++i) {
      frame_->data[i] = const_cast<uint8_t*>(planes[i]);
      frame_->linesize[i] = strides[i];
    }
  } else {
    if (av_frame_make_writable(frame_) < 0) return E_OUTOFMEMORY;
    sws_scale(scaler_, planes, strides, 0, inHeight_, frame_->data, frame_->linesize);
  }
  frame_->pts = frame;
  frame_->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  // A counted reference to the sample spares the codec its own copy of the frame.
  if (direct_ && shareInput_ && keep) {
    keep->AddRef();
    frame_->buf[0] = av_buffer_create(const_cast<uint8_t*>(data), size_t(length), &ReleaseSample, keep, AV_BUFFER_FLAG_READONLY);
    if (!frame_->buf[0]) keep->Release();
  }
  const int sent = avcodec_send_frame(context_, frame_);
  if (direct_ && frame_->buf[0]) {
    // Still referenced: the codec keeps its input. It gets copies from now on.
    if (av_buffer_get_ref_count(frame_->buf[0]) > 1) shareInput_ = false;
    av_buffer_unref(&frame_->buf[0]);
  }
  if (sent < 0) return HResultFromAvError(sent);
  return Drain(sink);
}

HRESULT VideoEncoder::Flush(const PacketSink& sink) {
  if (!context_) return S_OK;
  if (avcodec_send_frame(context_, nullptr) < 0) return S_OK;
  return Drain(sink);
}

HRESULT VideoEncoder::Drain(const PacketSink& sink) {
  for (;;) {
    const int got = avcodec_receive_packet(context_, packet_);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return S_OK;
    if (got < 0) return HResultFromAvError(got);
    const HRESULT hr = sink(*packet_);
    av_packet_unref(packet_);
    if (FAILED(hr)) return hr;
  }
}

// ---- audio ----

AVCodecContext* NewAudioContext(const WAVEFORMATEX& wf, const AudioEncoderSettings& s) {
  media::UseLibraryLog();
  const AVCodec* codec = avcodec_find_encoder(s.codec);
  if (!codec) return nullptr;
  AVCodecContext* c = avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  const int channels = s.channels > 0 ? s.channels : wf.nChannels;
  c->sample_rate = int(wf.nSamplesPerSec);
  av_channel_layout_default(&c->ch_layout, channels);
  c->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  c->time_base = AVRational{1, c->sample_rate};
  if (s.codec == AV_CODEC_ID_WMAV2 || s.codec == AV_CODEC_ID_MP2)
    c->bit_rate = s.bitRate > 0 ? s.bitRate : (wf.nSamplesPerSec >= 32000 ? 64000 : 32000) * channels;
  if (s.codec == AV_CODEC_ID_ADPCM_MS) {
    // Blocks of about 1/20 s per channel, like the usual 22 kHz mono block of 512 bytes.
    const int block = (wf.nSamplesPerSec <= 11025 ? 256 : wf.nSamplesPerSec <= 22050 ? 512 : 1024) * channels;
    av_opt_set_int(c, "block_size", block, AV_OPT_SEARCH_CHILDREN);
  }
  return c;
}

AudioEncoder::AudioEncoder() = default;
AudioEncoder::~AudioEncoder() { Close(); }

HRESULT AudioEncoder::Open(const WAVEFORMATEX& input, const AudioEncoderSettings& s) {
  Close();
  if (input.wFormatTag != WAVE_FORMAT_PCM || input.wBitsPerSample != 16 || input.nChannels < 1) return VFW_E_TYPE_NOT_ACCEPTED;
  context_ = NewAudioContext(input, s);
  if (!context_) return E_OUTOFMEMORY;
  const AVSampleFormat f = context_->sample_fmt;
  if ((f != AV_SAMPLE_FMT_S16 && f != AV_SAMPLE_FMT_FLTP && f != AV_SAMPLE_FMT_S16P) ||
      avcodec_open2(context_, context_->codec, nullptr) < 0) {
    Close();
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  packet_ = av_packet_alloc();
  if (!packet_) {
    Close();
    return E_OUTOFMEMORY;
  }
  inChannels_ = input.nChannels;
  consumed_ = 0;
  pending_.clear();
  return S_OK;
}

void AudioEncoder::Close() {
  avcodec_free_context(&context_);
  av_packet_free(&packet_);
  pending_.clear();
}

HRESULT AudioEncoder::Push(const int16_t* samples, size_t count, const PacketSink& sink) {
  if (!context_) return VFW_E_WRONG_STATE;
  pending_.insert(pending_.end(), samples, samples + count);
  return EncodeFrames(false, sink);
}

HRESULT AudioEncoder::Flush(const PacketSink& sink) {
  if (!context_) return S_OK;
  HRESULT hr = EncodeFrames(true, sink);
  if (SUCCEEDED(hr) && avcodec_send_frame(context_, nullptr) >= 0) hr = Drain(sink);
  return hr;
}

HRESULT AudioEncoder::EncodeFrames(bool flush, const PacketSink& sink) {
  const int frameSize = context_->frame_size > 0 ? context_->frame_size : 1024;
  const int outChannels = context_->ch_layout.nb_channels;
  size_t offset = 0;
  HRESULT hr = S_OK;
  while (SUCCEEDED(hr)) {
    const size_t available = (pending_.size() - offset) / size_t(inChannels_);
    if (available == 0 || (available < size_t(frameSize) && !flush)) break;
    const int count = int(std::min<size_t>(available, size_t(frameSize)));
    AVFrame* frame = av_frame_alloc();
    if (!frame) return E_OUTOFMEMORY;
    frame->format = context_->sample_fmt;
    frame->nb_samples = context_->frame_size > 0 ? frameSize : count;
    av_channel_layout_copy(&frame->ch_layout, &context_->ch_layout);
    frame->sample_rate = context_->sample_rate;
    if (av_frame_get_buffer(frame, 0) < 0) {
      av_frame_free(&frame);
      return E_OUTOFMEMORY;
    }
    const int16_t* src = pending_.data() + offset;
    // Sample i of output channel ch: the same channel, or the mix down / copy across.
    auto value = [&](int i, int ch) -> int {
      if (i >= count) return 0;
      const int16_t* s = src + size_t(i) * inChannels_;
      if (outChannels == inChannels_) return s[ch];
      if (outChannels < inChannels_) {
        int sum = 0;
        for (int k = 0; k < inChannels_; ++k) sum += s[k];
        return sum / inChannels_;
      }
      return s[std::min(ch, inChannels_ - 1)];
    };
    for (int ch = 0; ch < outChannels; ++ch) {
      for (int i = 0; i < frame->nb_samples; ++i) {
        const int v = value(i, ch);
        switch (context_->sample_fmt) {
          case AV_SAMPLE_FMT_FLTP: reinterpret_cast<float*>(frame->data[ch])[i] = float(v) / 32768.0f; break;
          case AV_SAMPLE_FMT_S16P: reinterpret_cast<int16_t*>(frame->data[ch])[i] = int16_t(v); break;
          default: reinterpret_cast<int16_t*>(frame->data[0])[size_t(i) * outChannels + ch] = int16_t(v); break;
        }
      }
    }
    frame->pts = consumed_;
    consumed_ += count;
    offset += size_t(count) * inChannels_;
    const int sent = avcodec_send_frame(context_, frame);
    av_frame_free(&frame);
    hr = sent < 0 ? HResultFromAvError(sent) : Drain(sink);
  }
  pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(offset));
  return hr;
}

HRESULT AudioEncoder::Drain(const PacketSink& sink) {
  for (;;) {
    const int got = avcodec_receive_packet(context_, packet_);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return S_OK;
    if (got < 0) return HResultFromAvError(got);
    const HRESULT hr = sink(*packet_);
    av_packet_unref(packet_);
    if (FAILED(hr)) return hr;
  }
}

}  // namespace kestrom::dshow
