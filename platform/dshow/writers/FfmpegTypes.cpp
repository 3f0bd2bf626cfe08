#include "platform/dshow/writers/FfmpegTypes.h"

#include "platform/dshow/base/Guids.h"

#include <cerrno>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrom::dshow {

using namespace com;

AVPixelFormat PixelFormatOf(const AM_MEDIA_TYPE& type) {
  if (!(type.majortype == MEDIATYPE_Video)) return AV_PIX_FMT_NONE;
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
  if (!h) return AV_PIX_FMT_NONE;
  if (type.subtype == MEDIASUBTYPE_RGB24 && h->biBitCount == 24) return AV_PIX_FMT_BGR24;
  if ((type.subtype == MEDIASUBTYPE_RGB32 || type.subtype == MEDIASUBTYPE_ARGB32) && h->biBitCount == 32)
    return AV_PIX_FMT_BGRA;
  if (type.subtype == MEDIASUBTYPE_YUY2) return AV_PIX_FMT_YUYV422;
  if (type.subtype == MEDIASUBTYPE_UYVY) return AV_PIX_FMT_UYVY422;
  if (type.subtype == MEDIASUBTYPE_I420 || type.subtype == MEDIASUBTYPE_IYUV) return AV_PIX_FMT_YUV420P;
  if (type.subtype == MEDIASUBTYPE_YV12) return AV_PIX_FMT_YUV420P;  // planes swapped by the caller
  return AV_PIX_FMT_NONE;
}

REFERENCE_TIME AvgTimePerFrame(const AM_MEDIA_TYPE& type) {
  if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
  if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
  return 0;
}

const WAVEFORMATEX* WaveFormat(const AM_MEDIA_TYPE& type) {
  if (!(type.formattype == FORMAT_WaveFormatEx) || type.cbFormat < sizeof(WAVEFORMATEX) || !type.pbFormat) return nullptr;
  return reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
}

namespace {

bool SetExtradata(AVCodecParameters* par, const BYTE* data, size_t size) {
  av_freep(&par->extradata);
  par->extradata_size = 0;
  if (size == 0) return true;
  par->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!par->extradata) return false;
  std::memcpy(par->extradata, data, size);
  par->extradata_size = static_cast<int>(size);
  return true;
}

}  // namespace

bool CodecParametersFromMediaType(const AM_MEDIA_TYPE& type, AVCodecParameters* par) {
  if (type.majortype == MEDIATYPE_Interleaved && type.subtype == MEDIASUBTYPE_dvsd) {
    // Interleaved DV is written as it comes: a DV video stream whose frames carry the sound.
    // The frame size tells the system (PAL 144,000 bytes, NTSC 120,000).
    if (type.lSampleSize != 144000 && type.lSampleSize != 120000) return false;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_DVVIDEO;
    par->codec_tag = MEDIASUBTYPE_dvsd.Data1;
    par->width = 720;
    par->height = type.lSampleSize == 144000 ? 576 : 480;
    return true;
  }
  if (type.majortype == MEDIATYPE_Video) {
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
    if (!h || h->biWidth <= 0 || h->biHeight == 0) return false;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->width = h->biWidth;
    par->height = h->biHeight < 0 ? -h->biHeight : h->biHeight;
    par->bits_per_coded_sample = h->biBitCount;
    if (h->biCompression == BI_RGB || h->biCompression == BI_BITFIELDS) {
      if (h->biHeight < 0) return false;  // AVI stores RGB rows bottom-up only
      par->codec_id = AV_CODEC_ID_RAWVIDEO;
      par->codec_tag = 0;
      par->format = h->biBitCount == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
      if (h->biBitCount != 24 && h->biBitCount != 32) return false;
    } else {
      par->codec_tag = h->biCompression;
      const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
      par->codec_id = av_codec_get_id(tags, h->biCompression);
      if (par->codec_id == AV_CODEC_ID_NONE) return false;
    }
    // Codec data stored after the bitmap header (biSize covers it).
    const BYTE* header = reinterpret_cast<const BYTE*>(h);
    const size_t available = type.cbFormat - size_t(header - type.pbFormat);
    const size_t total = std::min<size_t>(h->biSize, available);
    std::vector<BYTE> extra;
    if (total > sizeof(BITMAPINFOHEADER)) extra.assign(header + sizeof(BITMAPINFOHEADER), header + total);
    // The muxer takes raw RGB rows as top-down unless the codec data ends with this marker; our
    // rows are bottom-up (the header's height is positive), and the file must say so.
    if (par->codec_id == AV_CODEC_ID_RAWVIDEO) {
      static constexpr char kBottomUp[] = "BottomUp";
      extra.insert(extra.end(), kBottomUp, kBottomUp + sizeof kBottomUp);
    }
    return SetExtradata(par, extra.data(), extra.size());
  }
  if (type.majortype == MEDIATYPE_Audio) {
    const WAVEFORMATEX* wf = WaveFormat(type);
    if (!wf || wf->nChannels == 0 || wf->nSamplesPerSec == 0 || wf->nBlockAlign == 0) return false;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_tag = wf->wFormatTag;
    if (wf->wFormatTag == WAVE_FORMAT_PCM) {
      if (wf->wBitsPerSample == 16) par->codec_id = AV_CODEC_ID_PCM_S16LE;
      else if (wf->wBitsPerSample == 8) par->codec_id = AV_CODEC_ID_PCM_U8;
      else if (wf->wBitsPerSample == 24) par->codec_id = AV_CODEC_ID_PCM_S24LE;
      else if (wf->wBitsPerSample == 32) par->codec_id = AV_CODEC_ID_PCM_S32LE;
      else return false;
    } else {
      const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
      par->codec_id = av_codec_get_id(tags, wf->wFormatTag);
      if (par->codec_id == AV_CODEC_ID_NONE) return false;
    }
    av_channel_layout_default(&par->ch_layout, wf->nChannels);
    par->sample_rate = static_cast<int>(wf->nSamplesPerSec);
    par->block_align = wf->nBlockAlign;
    par->bit_rate = int64_t(wf->nAvgBytesPerSec) * 8;
    par->bits_per_coded_sample = wf->wBitsPerSample;
    const size_t extra = std::min<size_t>(wf->cbSize, type.cbFormat - sizeof(WAVEFORMATEX));
    return SetExtradata(par, type.pbFormat + sizeof(WAVEFORMATEX), extra);
  }
  return false;
}


HRESULT HResultFromErrno(int error) {
  switch (error) {
    case 0: return S_OK;
    case ENOMEM: return E_OUTOFMEMORY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return MakeHResult(0x80070070);  // disk full
    case EACCES:
    case EPERM:
    case EROFS: return MakeHResult(0x80070005);  // access denied
    case ENOENT: return MakeHResult(0x80070003);  // path not found
    default: return MakeHResult(0x8007001D);      // write fault
  }
}

HRESULT HResultFromAvError(int error) {
  if (error < 0 && error > -4096) return HResultFromErrno(-error);
  return E_FAIL;
}

}  // namespace kestrom::dshow
