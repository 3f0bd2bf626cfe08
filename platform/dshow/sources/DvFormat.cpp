#include "platform/dshow/sources/DvFormat.h"

#include "platform/dshow/sources/StreamTypes.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace kestrom::dshow::sources {

namespace {

constexpr size_t kDifBlock = 80;
constexpr size_t kDifSequence = 150 * kDifBlock;

// A pack is an id byte and four data bytes; DVINFO keeps the data bytes, the first lowest.
DWORD PackData(const uint8_t* pack) {
  return DWORD(pack[1]) | (DWORD(pack[2]) << 8) | (DWORD(pack[3]) << 16) | (DWORD(pack[4]) << 24);
}

// The pack of an id in the audio blocks (one pack each, 9 blocks from block 6, every 16th) or
// the video auxiliary blocks (3 to 5, 15 packs each) of one DIF sequence.
bool FindPack(const uint8_t* sequence, uint8_t id, bool audio, DWORD* data) {
  if (audio) {
    for (int i = 0; i < 9; ++i) {
      const uint8_t* pack = sequence + (6 + 16 * i) * kDifBlock + 3;
      if (pack[0] == id) return *data = PackData(pack), true;
    }
    return false;
  }
  for (int block = 3; block <= 5; ++block)
    for (int i = 0; i < 15; ++i) {
      const uint8_t* pack = sequence + block * kDifBlock + 3 + 5 * i;
      if (pack[0] == id) return *data = PackData(pack), true;
    }
  return false;
}

struct MemoryReader {
  const uint8_t* data;
  size_t size;
  size_t position;
};

int ReadMemory(void* opaque, uint8_t* buffer, int wanted) {
  auto* m = static_cast<MemoryReader*>(opaque);
  const size_t left = m->size - m->position;
  if (left == 0) return AVERROR_EOF;
  const size_t n = std::min(left, static_cast<size_t>(wanted));
  std::memcpy(buffer, m->data + m->position, n);
  m->position += n;
  return static_cast<int>(n);
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
  auto* m = static_cast<MemoryReader*>(opaque);
  whence &= ~AVSEEK_FORCE;
  int64_t target = 0;
  switch (whence) {
    case AVSEEK_SIZE: return static_cast<int64_t>(m->size);
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = static_cast<int64_t>(m->position) + offset; break;
    case SEEK_END: target = static_cast<int64_t>(m->size) + offset; break;
    default: return AVERROR(EINVAL);
  }
  if (target < 0 || target > static_cast<int64_t>(m->size)) return AVERROR(EINVAL);
  m->position = static_cast<size_t>(target);
  return target;
}

}  // namespace

DvGeometry DvGeometryOfSystem(bool pal) {
  DvGeometry g;
  g.pal = pal;
  g.width = 720;
  g.height = pal ? 576 : 480;
  g.frameInterval = pal ? 400000 : 333667;
  g.frameSize = pal ? 144000 : 120000;
  return g;
}

bool ReadDvInfo(const uint8_t* frame, size_t size, DVINFO* info, DvGeometry* geometry) {
  if (!frame || size < kDifSequence) return false;
  // The header block of the first sequence: section type 0 (header), sequence 0.
  if ((frame[0] & 0xE0) != 0x00 || (frame[1] >> 4) != 0) return false;
  const bool pal = (frame[3] & 0x80) != 0;
  const DvGeometry g = DvGeometryOfSystem(pal);
  if (size < g.frameSize) return false;
  DVINFO out{};
  const uint8_t* first = frame;
  const uint8_t* second = frame + (pal ? 6 : 5) * kDifSequence;  // the second half of the channels
  FindPack(first, 0x50, true, &out.dwDVAAuxSrc);
  FindPack(first, 0x51, true, &out.dwDVAAuxCtl);
  FindPack(second, 0x50, true, &out.dwDVAAuxSrc1);
  FindPack(second, 0x51, true, &out.dwDVAAuxCtl1);
  FindPack(first, 0x60, false, &out.dwDVVAuxSrc);
  FindPack(first, 0x61, false, &out.dwDVVAuxCtl);
  if (info) *info = out;
  if (geometry) *geometry = g;
  return true;
}

int DvAudioRate(DWORD pack) {
  if (pack == 0 || pack == 0xFFFFFFFF) return 0;
  switch ((pack >> 27) & 7) {  // SMP, bits 3..5 of the fourth data byte
    case 0: return 48000;
    case 1: return 44100;
    case 2: return 32000;
    default: return 0;
  }
}

CMediaType MakeInterleavedDvType(const DVINFO& info, const DvGeometry& geometry) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Interleaved);
  mt.SetSubtype(MEDIASUBTYPE_dvsd);
  mt.SetFormatType(FORMAT_DvInfo);
  mt.SetFormat(&info, sizeof info);
  mt.SetSampleSize(geometry.frameSize);
  mt.SetTemporalCompression(false);
  return mt;
}

CMediaType MakeDvVideoType(const DvGeometry& geometry) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(MEDIASUBTYPE_dvsd);
  mt.SetFormatType(FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  vih->AvgTimePerFrame = geometry.frameInterval;
  vih->dwBitRate = static_cast<DWORD>(int64_t{geometry.frameSize} * 8 * 10000000 / geometry.frameInterval);
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = geometry.width;
  vih->bmiHeader.biHeight = geometry.height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 24;
  vih->bmiHeader.biCompression = MEDIASUBTYPE_dvsd.Data1;
  vih->bmiHeader.biSizeImage = geometry.frameSize;
  mt.SetSampleSize(geometry.frameSize);
  mt.SetTemporalCompression(false);
  return mt;
}

bool IsDvType(const AM_MEDIA_TYPE& type) {
  if (!(type.majortype == MEDIATYPE_Video) && !(type.majortype == MEDIATYPE_Interleaved)) return false;
  uint32_t tag = FourccOfSubtype(type.subtype);
  if (const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type); h && h->biCompression) tag = h->biCompression;
  uint32_t lower = 0;
  for (int i = 0; i < 4; ++i) {
    const uint32_t c = (tag >> (8 * i)) & 0xFF;
    lower |= (c >= 'A' && c <= 'Z' ? c + 32 : c) << (8 * i);
  }
  for (const char* code : {"dvsd", "dvhd", "dvsl", "dv25", "dv50", "dvh1", "dvcs"})
    if (lower == Fourcc(code[0], code[1], code[2], code[3])) return true;
  return false;
}

DvGeometry DvGeometryOfType(const AM_MEDIA_TYPE& type) {
  if (const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type); h && h->biWidth > 0 && h->biHeight != 0) {
    DvGeometry g = DvGeometryOfSystem(std::abs(h->biHeight) != 480 && std::abs(h->biHeight) != 240);
    g.width = h->biWidth;
    g.height = std::abs(h->biHeight);
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const REFERENCE_TIME interval = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
      if (interval > 0) g.frameInterval = interval;
    }
    return g;
  }
  // Interleaved DV: the sample size tells the system, else the video source pack's 50/60 bit.
  if (type.lSampleSize == 120000) return DvGeometryOfSystem(false);
  if (type.lSampleSize == 144000) return DvGeometryOfSystem(true);
  if (type.formattype == FORMAT_DvInfo && type.cbFormat >= sizeof(DVINFO)) {
    const auto* info = reinterpret_cast<const DVINFO*>(type.pbFormat);
    if (info->dwDVVAuxSrc != 0) return DvGeometryOfSystem((info->dwDVVAuxSrc >> 16) & 0x20);
  }
  return DvGeometryOfSystem(true);
}

bool ExtractDvSound(const uint8_t* frame, size_t size, DvSound* sound) {
  static const AVInputFormat* const dv = av_find_input_format("dv");
  if (!dv || !frame || !sound || size == 0) return false;
  sound->pairs.clear();
  sound->rate = sound->channels = 0;
  MemoryReader reader{frame, size, 0};
  constexpr int kBufferSize = 16384;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
  if (!buffer) return false;
  AVIOContext* io = avio_alloc_context(buffer, kBufferSize, 0, &reader, &ReadMemory, nullptr, &SeekMemory);
  if (!io) {
    av_free(buffer);
    return false;
  }
  AVFormatContext* format = avformat_alloc_context();
  bool ok = false;
  if (format) {
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The context is freed by a failed open.
    if (avformat_open_input(&format, nullptr, dv, nullptr) >= 0) {
      AVPacket* packet = av_packet_alloc();
      while (packet && av_read_frame(format, packet) >= 0) {
        const AVStream* stream = format->streams[packet->stream_index];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && packet->size > 0) {
          // Streams are numbered video first, then one per channel pair in frame order.
          int pair = 0;
          for (int i = 0; i < packet->stream_index; ++i)
            if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) ++pair;
          if (sound->pairs.size() <= static_cast<size_t>(pair)) sound->pairs.resize(static_cast<size_t>(pair) + 1);
          sound->pairs[static_cast<size_t>(pair)].assign(packet->data, packet->data + packet->size);
          sound->rate = stream->codecpar->sample_rate;
          sound->channels = stream->codecpar->ch_layout.nb_channels;
          ok = true;
        }
        av_packet_unref(packet);
      }
      av_packet_free(&packet);
      avformat_close_input(&format);
    }
  }
  av_freep(&io->buffer);
  avio_context_free(&io);
  return ok && sound->rate > 0 && sound->channels > 0;
}

}  // namespace kestrom::dshow::sources
