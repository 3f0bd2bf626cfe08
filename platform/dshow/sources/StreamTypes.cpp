#include "platform/dshow/sources/StreamTypes.h"

#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"

#include <algorithm>
#include <array>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace kestrom::dshow::sources {

namespace {


// FOURCCs written for codecs whose stream carries no tag of its own (files other than AVI).
uint32_t DefaultFourcc(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_MSMPEG4V2: return Fourcc('M', 'P', '4', '2');
    case AV_CODEC_ID_MSMPEG4V3: return Fourcc('M', 'P', '4', '3');
    case AV_CODEC_ID_MPEG4: return Fourcc('F', 'M', 'P', '4');
    case AV_CODEC_ID_MJPEG: return Fourcc('M', 'J', 'P', 'G');
    case AV_CODEC_ID_DVVIDEO: return Fourcc('d', 'v', 's', 'd');
    case AV_CODEC_ID_WMV1: return Fourcc('W', 'M', 'V', '1');
    case AV_CODEC_ID_WMV2: return Fourcc('W', 'M', 'V', '2');
    case AV_CODEC_ID_WMV3: return Fourcc('W', 'M', 'V', '3');
    case AV_CODEC_ID_MPEG1VIDEO: return Fourcc('M', 'P', 'G', '1');
    case AV_CODEC_ID_MPEG2VIDEO: return Fourcc('M', 'P', 'G', '2');
    case AV_CODEC_ID_H264: return Fourcc('H', '2', '6', '4');
    case AV_CODEC_ID_FFV1: return Fourcc('F', 'F', 'V', '1');
    default: {
      const unsigned tag = av_codec_get_tag(std::array{avformat_get_riff_video_tags(), (const AVCodecTag*)nullptr}.data(), id);
      return tag;
    }
  }
}

}  // namespace

uint32_t VideoTagOfType(const AM_MEDIA_TYPE& type) {
  if (const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type); h && h->biCompression) return h->biCompression;
  if (type.subtype == MEDIASUBTYPE_MPEG2_VIDEO) return Fourcc('M', 'P', 'G', '2');
  if (type.subtype == MEDIASUBTYPE_MPEG1Payload) return Fourcc('M', 'P', 'G', '1');
  return FourccOfSubtype(type.subtype);
}

CMediaType MediaTypeOfStream(const AVStream* stream) {
  CMediaType mt;
  const AVCodecParameters* par = stream->codecpar;
  const int extra = par->extradata && par->extradata_size > 0 ? std::min(par->extradata_size, 1 << 20) : 0;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    const REFERENCE_TIME interval = rate.num > 0 ? av_rescale(10000000, rate.den, rate.num) : 0;
    uint32_t fourcc = par->codec_tag;
    const bool raw = par->codec_id == AV_CODEC_ID_RAWVIDEO && (fourcc == 0 || fourcc == Fourcc('D', 'I', 'B', ' '));
    if (raw) {
      const int bits = par->bits_per_coded_sample ? par->bits_per_coded_sample : 24;
      if (bits != 24 && bits != 32) return mt;
      mt = MakeUncompressedType(bits == 24 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_RGB32, par->width, par->height, interval);
      return mt;
    }
    if (fourcc == 0) fourcc = DefaultFourcc(par->codec_id);
    if (fourcc == 0) return mt;
    mt.SetType(MEDIATYPE_Video);
    mt.SetSubtype(FourccSubtype(fourcc));
    mt.SetFormatType(FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(static_cast<ULONG>(sizeof(VIDEOINFOHEADER) + extra)));
    if (!vih) return CMediaType();
    vih->AvgTimePerFrame = interval;
    vih->dwBitRate = static_cast<DWORD>(std::clamp<int64_t>(par->bit_rate, 0, 0xFFFFFFFF));
    vih->bmiHeader.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + extra);
    vih->bmiHeader.biWidth = par->width;
    vih->bmiHeader.biHeight = par->height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = static_cast<WORD>(par->bits_per_coded_sample ? par->bits_per_coded_sample : 24);
    vih->bmiHeader.biCompression = fourcc;
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(int64_t{par->width} * par->height * 3);
    if (extra) std::memcpy(reinterpret_cast<BYTE*>(vih) + sizeof(VIDEOINFOHEADER), par->extradata, static_cast<size_t>(extra));
    mt.bFixedSizeSamples = 0;
    mt.lSampleSize = 0;
    mt.SetTemporalCompression(par->codec_id != AV_CODEC_ID_MJPEG && par->codec_id != AV_CODEC_ID_DVVIDEO);
    return mt;
  }
  if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
    uint32_t tag = par->codec_tag;
    if (tag == 0 || tag > 0xFFFF)
      tag = av_codec_get_tag(std::array{avformat_get_riff_audio_tags(), (const AVCodecTag*)nullptr}.data(), par->codec_id);
    if (tag == 0 || tag > 0xFFFF) return mt;
    const int channels = par->ch_layout.nb_channels;
    mt.SetType(MEDIATYPE_Audio);
    mt.SetSubtype(FourccSubtype(tag));
    mt.SetFormatType(FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(static_cast<ULONG>(sizeof(WAVEFORMATEX) + extra)));
    if (!wfx) return CMediaType();
    wfx->wFormatTag = static_cast<WORD>(tag);
    wfx->nChannels = static_cast<WORD>(channels);
    wfx->nSamplesPerSec = static_cast<DWORD>(par->sample_rate);
    wfx->wBitsPerSample = static_cast<WORD>(par->bits_per_coded_sample);
    wfx->nBlockAlign = static_cast<WORD>(par->block_align ? par->block_align : channels * par->bits_per_coded_sample / 8);
    wfx->nAvgBytesPerSec = tag == WAVE_FORMAT_PCM ? wfx->nSamplesPerSec * wfx->nBlockAlign
                                                   : static_cast<DWORD>(std::clamp<int64_t>(par->bit_rate / 8, 0, 0xFFFFFFFF));
    wfx->cbSize = static_cast<WORD>(extra);
    if (extra) std::memcpy(reinterpret_cast<BYTE*>(wfx) + sizeof(WAVEFORMATEX), par->extradata, static_cast<size_t>(extra));
    if (tag == WAVE_FORMAT_PCM) mt.SetSampleSize(wfx->nBlockAlign);
    else {
      mt.bFixedSizeSamples = 0;
      mt.lSampleSize = 0;
    }
    return mt;
  }
  return mt;
}

bool DecoderParametersOf(const AM_MEDIA_TYPE& type, AVCodecParameters* par) {
  const BYTE* extra = nullptr;
  size_t extraSize = 0;
  if (type.majortype == MEDIATYPE_Video) {
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
    if (!h) return false;
    const uint32_t tag = VideoTagOfType(type);
    AVCodecID id = av_codec_get_id(std::array{avformat_get_riff_video_tags(), (const AVCodecTag*)nullptr}.data(), tag);
    if (id == AV_CODEC_ID_NONE) {
      // FOURCCs of our own default table that the RIFF table spells differently.
      if (tag == Fourcc('F', 'F', 'V', '1')) id = AV_CODEC_ID_FFV1;
      else return false;
    }
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = id;
    par->codec_tag = tag;
    par->width = h->biWidth;
    par->height = std::abs(h->biHeight);
    par->bits_per_coded_sample = h->biBitCount;
    const size_t headerEnd = reinterpret_cast<const BYTE*>(h) - type.pbFormat + sizeof(BITMAPINFOHEADER);
    if (type.formattype == FORMAT_MPEG2Video) {
      // The codec's extra data is the sequence header the block carries, if any.
      const size_t at = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
      const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat);
      if (type.cbFormat >= sizeof(MPEG2VIDEOINFO) && info->cbSequenceHeader > 0) {
        extra = type.pbFormat + at;
        extraSize = std::min<size_t>(info->cbSequenceHeader, type.cbFormat - at);
      }
    } else if (type.cbFormat > headerEnd) {
      extra = type.pbFormat + headerEnd;
      extraSize = type.cbFormat - headerEnd;
    }
  } else if (type.majortype == MEDIATYPE_Audio) {
    if (!(type.formattype == FORMAT_WaveFormatEx) || type.cbFormat < sizeof(WAVEFORMATEX)) return false;
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    AVCodecID id = av_codec_get_id(std::array{avformat_get_riff_audio_tags(), (const AVCodecTag*)nullptr}.data(), wfx->wFormatTag);
    if (wfx->wFormatTag == WAVE_FORMAT_PCM)
      id = wfx->wBitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : wfx->wBitsPerSample == 16 ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_NONE;
    if (id == AV_CODEC_ID_NONE) return false;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = id;
    par->codec_tag = wfx->wFormatTag;
    par->sample_rate = static_cast<int>(wfx->nSamplesPerSec);
    av_channel_layout_default(&par->ch_layout, wfx->nChannels);
    par->block_align = wfx->nBlockAlign;
    par->bits_per_coded_sample = wfx->wBitsPerSample;
    par->bit_rate = int64_t{wfx->nAvgBytesPerSec} * 8;
    const size_t available = type.cbFormat - sizeof(WAVEFORMATEX);
    extraSize = std::min<size_t>(wfx->cbSize, available);
    if (extraSize) extra = type.pbFormat + sizeof(WAVEFORMATEX);
  } else {
    return false;
  }
  if (extraSize && extraSize < (1u << 20)) {
    par->extradata = static_cast<uint8_t*>(av_mallocz(extraSize + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return false;
    std::memcpy(par->extradata, extra, extraSize);
    par->extradata_size = static_cast<int>(extraSize);
  }
  return avcodec_find_decoder(par->codec_id) != nullptr;
}

AVPixelFormat PixelFormatOfType(const AM_MEDIA_TYPE& type) {
  if (!(type.majortype == MEDIATYPE_Video)) return AV_PIX_FMT_NONE;
  if (type.subtype == MEDIASUBTYPE_RGB24) return AV_PIX_FMT_BGR24;
  if (type.subtype == MEDIASUBTYPE_RGB32 || type.subtype == MEDIASUBTYPE_ARGB32) return AV_PIX_FMT_BGRA;
  if (type.subtype == MEDIASUBTYPE_RGB565) return AV_PIX_FMT_RGB565LE;
  if (type.subtype == MEDIASUBTYPE_RGB555) return AV_PIX_FMT_RGB555LE;
  if (type.subtype == MEDIASUBTYPE_YUY2) return AV_PIX_FMT_YUYV422;
  if (type.subtype == MEDIASUBTYPE_UYVY) return AV_PIX_FMT_UYVY422;
  if (type.subtype == MEDIASUBTYPE_I420 || type.subtype == MEDIASUBTYPE_IYUV) return AV_PIX_FMT_YUV420P;
  if (type.subtype == MEDIASUBTYPE_YV12) return AV_PIX_FMT_YUV420P;  // planes swapped when written
  return AV_PIX_FMT_NONE;
}

CMediaType MakeUncompressedType(const GUID& subtype, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(subtype);
  mt.SetFormatType(FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  WORD bits = 24;
  DWORD compression = BI_RGB;
  if (subtype == MEDIASUBTYPE_RGB32) bits = 32;
  else if (subtype == MEDIASUBTYPE_RGB565 || subtype == MEDIASUBTYPE_RGB555) bits = 16;
  else if (!(subtype == MEDIASUBTYPE_RGB24)) {
    compression = subtype.Data1;
    bits = subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_UYVY ? 16 : 12;
  }
  vih->AvgTimePerFrame = avgTimePerFrame;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = bits;
  vih->bmiHeader.biCompression = compression;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(UncompressedSize(mt));
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  mt.SetTemporalCompression(false);
  return mt;
}

size_t UncompressedSize(const AM_MEDIA_TYPE& type) {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
  const AVPixelFormat format = PixelFormatOfType(type);
  if (!h || format == AV_PIX_FMT_NONE || h->biWidth <= 0 || h->biHeight == 0) return 0;
  const size_t rows = static_cast<size_t>(std::abs(h->biHeight));
  if (type.subtype == MEDIASUBTYPE_RGB24 || type.subtype == MEDIASUBTYPE_RGB32 || type.subtype == MEDIASUBTYPE_RGB565 ||
      type.subtype == MEDIASUBTYPE_RGB555)
    return static_cast<size_t>(RgbStride(h->biWidth, h->biBitCount)) * rows;
  const int size = av_image_get_buffer_size(format, h->biWidth, static_cast<int>(rows), 1);
  return size > 0 ? static_cast<size_t>(size) : 0;
}

bool ConvertPicture(const AVFrame* frame, const AM_MEDIA_TYPE& type, BYTE* target, size_t targetSize,
                    media::PictureScaler& scaler) {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
  const AVPixelFormat format = PixelFormatOfType(type);
  if (!h || format == AV_PIX_FMT_NONE || UncompressedSize(type) > targetSize) return false;
  const int w = h->biWidth, rows = std::abs(h->biHeight);
  if (!scaler.Prepare(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), w, rows, format,
                      SWS_BICUBIC))
    return false;
  uint8_t* planes[4] = {};
  int strides[4] = {};
  const bool rgb = type.subtype == MEDIASUBTYPE_RGB24 || type.subtype == MEDIASUBTYPE_RGB32 ||
                   type.subtype == MEDIASUBTYPE_RGB565 || type.subtype == MEDIASUBTYPE_RGB555;
  if (rgb) {
    const int stride = RgbStride(w, h->biBitCount);
    // A positive height is a bottom-up picture: write from the last row upwards.
    if (h->biHeight > 0) {
      planes[0] = target + static_cast<size_t>(stride) * (rows - 1);
      strides[0] = -stride;
    } else {
      planes[0] = target;
      strides[0] = stride;
    }
  } else {
    if (av_image_fill_arrays(planes, strides, target, format, w, rows, 1) < 0) return false;
    if (type.subtype == MEDIASUBTYPE_YV12) std::swap(planes[1], planes[2]);
  }
  return scaler.Scale(frame->data, frame->linesize, planes, strides);
}

}  // namespace kestrom::dshow::sources
