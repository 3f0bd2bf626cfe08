#include "platform/media/FileSource.h"

#include "platform/media/AvError.h"
#include "platform/media/LibraryLog.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace kestrom::media {
namespace {

constexpr int64_t kJumpWindow = 16;  // frames kept before the target of a jump
// Pictures the cache holds beside the read-ahead until stepping back asks for more. Fresh memory
// costs more to touch than a picture costs to decode on some machines, so the cache recycles a
// small set of pictures while the clip moves forward or jumps, and grows (up to its budget) only
// for the long groups a coach steps back through.
constexpr int64_t kFirstHold = kJumpWindow + 4;
constexpr int64_t kIntraHold = 1;
// Once forward play reaches the last frame, the worker readies this many from the first on: play
// starts again there (looping, or at the next play button).
constexpr int64_t kRestartAhead = 2;
// A request at most this far beyond the worker waits for it rather than taking the decoder.
constexpr int64_t kWaitSpan = 4;
// Bound on that wait; the worker gives a picture long before, unless the machine stalls.
constexpr auto kLongestWait = std::chrono::milliseconds(1000);

void QuietLibraries() {
  static bool done = false;
  if (!done) {
    // Damaged files are expected input (cut-off recordings) and the reader reports what
    // matters; a level the program chose itself is left alone.
    UseLibraryLog();
    done = true;
  }
}

bool IsAviOrMov(const AVFormatContext* format) {
  const char* name = format->iformat->name;
  return std::strcmp(name, "avi") == 0 || std::strstr(name, "mov") != nullptr;
}

// The full-range "J" formats are deprecated in the scaler; it wants the plain format plus a range.
AVPixelFormat PlainFormat(int format, bool* fullRange) {
  switch (format) {
    case AV_PIX_FMT_YUVJ420P: *fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *fullRange = true; return AV_PIX_FMT_YUV440P;
    default: *fullRange = false; return AVPixelFormat(format);
  }
}

// An AVI chunk whose data starts at pos is whole when its declared size fits in the file.
bool AviChunkComplete(QFile& file, int64_t pos, int64_t fileSize) {
  if (pos < 8) return true;
  unsigned char header[8];
  if (!file.seek(pos - 8) || file.read(reinterpret_cast<char*>(header), 8) != 8) return false;
  const int64_t size = int64_t(header[4]) | int64_t(header[5]) << 8 | int64_t(header[6]) << 16 |
                       int64_t(header[7]) << 24;
  return pos + size <= fileSize;
}

// Whether a packet starts a keyframe. A file without an index marks every packet as one, so the
// picture types of the recording codecs are read from the bitstream itself.
bool IsKeyPicture(AVCodecID codec, const AVPacket* packet) {
  const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec);
  if (descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY)) return true;
  const uint8_t* d = packet->data;
  const int size = packet->size;
  switch (codec) {
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
      return size > 0 && (d[0] >> 6) == 0;  // picture type in the first two bits, 0 = intra
    case AV_CODEC_ID_MPEG4:
      for (int i = 0; i + 4 < size; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xB6) return (d[i + 4] >> 6) == 0;
      return false;
    default:
      return packet->flags & AV_PKT_FLAG_KEY;
  }
}

}  // namespace

std::unique_ptr<FileSource> FileSource::Open(const QString& path, QString* error) {
  QuietLibraries();
  std::unique_ptr<FileSource> source(new FileSource);
  QString message;
  if (!source->Init(path, &message)) {
    if (error) *error = message;
    return nullptr;
  }
  return source;
}

FileSource::~FileSource() {
  // The worker goes first: it may be holding the decoder for one more picture.
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  workReady_.notify_all();
  if (worker_.joinable()) worker_.join();
  held_.reset();
  DropDrained();
  for (auto& [n, item] : cache_) av_frame_free(&item.frame);
  av_frame_free(&last_);
  av_frame_free(&picture_);
  av_packet_free(&packet_);
  avcodec_free_context(&decoder_);
  avformat_close_input(&format_);
  swr_free(&resampler_);
  av_frame_free(&audioFrame_);
  av_packet_free(&audioPacket_);
  avcodec_free_context(&audioDecoder_);
  avformat_close_input(&audioFormat_);
}

bool FileSource::Init(const QString& path, QString* error) {
  path_ = path;
  const QString name = QFileInfo(path).fileName();
  const QFileInfo file(path);
  if (!file.exists()) {
    *error = QString("The file \"%1\" does not exist.").arg(path);
    return false;
  }
  if (file.size() == 0) {
    *error = QString("The file \"%1\" is empty.").arg(path);
    return false;
  }
  const QByteArray encoded = QFile::encodeName(path);
  int rc = avformat_open_input(&format_, encoded.constData(), nullptr, nullptr);
  if (rc < 0) {
    *error = QString("The file \"%1\" is not a video file that can be read (%2).").arg(path, AvErrorText(rc));
    return false;
  }
  rc = avformat_find_stream_info(format_, nullptr);
  if (rc < 0) {
    *error = QString("The file \"%1\" is damaged: its streams cannot be read (%2).").arg(path, AvErrorText(rc));
    return false;
  }
  const AVCodec* codec = nullptr;
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  // A cover picture in a sound file is no video.
  if (stream_ >= 0 && (format_->streams[stream_]->disposition & AV_DISPOSITION_ATTACHED_PIC)) stream_ = -1;
  if (stream_ < 0) {
    *error = QString("The file \"%1\" holds no video stream.").arg(path);
    return false;
  }
  AVStream* st = format_->streams[stream_];
  if (!codec) {
    *error = QString("The video of \"%1\" is coded with %2, which this system cannot decode.")
                 .arg(path, QString::fromUtf8(avcodec_get_name(st->codecpar->codec_id)));
    return false;
  }
  for (unsigned i = 0; i < format_->nb_streams; ++i)
    if (int(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;

  decoder_ = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(decoder_, st->codecpar);
  // One thread: frame threading would hand back pictures with another packet's timestamps, and
  // the numbering of pictures rests on those.
  decoder_->thread_count = 1;
  decoder_->opaque = this;
  if (codec->capabilities & AV_CODEC_CAP_DR1) decoder_->get_buffer2 = &FileSource::GetBuffer;
  rc = avcodec_open2(decoder_, codec, nullptr);
  if (rc < 0) {
    *error = QString("The video decoder for \"%1\" cannot start (%2).").arg(path, AvErrorText(rc));
    return false;
  }
  if (st->codecpar->width <= 0 || st->codecpar->height <= 0) {
    *error = QString("The file \"%1\" gives no picture size.").arg(path);
    return false;
  }
  info_.size = QSize(st->codecpar->width, st->codecpar->height);
  info_.codec = QString::fromUtf8(codec->name);
  AVRational rate = st->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  av_reduce(&rate.num, &rate.den, rate.num, rate.den, 1 << 30);
  info_.rateNum = rate.num;
  info_.rateDen = rate.den;
  step_ = av_q2d(av_inv_q(rate)) / av_q2d(st->time_base);
  frameBytes_ = size_t(std::max(1, av_image_get_buffer_size(AVPixelFormat(st->codecpar->format), info_.size.width(),
                                                            info_.size.height(), 1)));

  const int audio = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (audio >= 0) {
    const AVCodecParameters* par = format_->streams[audio]->codecpar;
    info_.hasAudio = par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
    info_.audioRate = par->sample_rate;
    info_.audioChannels = std::min(2, par->ch_layout.nb_channels);
  }

  packet_ = av_packet_alloc();
  picture_ = av_frame_alloc();
  last_ = av_frame_alloc();
  if (!packet_ || !picture_ || !last_) {
    *error = QString("There is not enough memory to open \"%1\".").arg(path);
    return false;
  }
  if (!BuildIndex(file.size())) {
    *error = QString("The file \"%1\" holds no complete video frame.").arg(path);
    return false;
  }

  // The first picture fixes the timestamp of frame 0; every other number is counted from it.
  if (!SeekToKey(0)) {
    *error = QString("The file \"%1\" cannot be read from its start.").arg(path);
    return false;
  }
  bool got = false;
  for (;;) {
    rc = avcodec_receive_frame(decoder_, picture_);
    if (rc == 0) {
      got = true;
      break;
    }
    if (rc != AVERROR(EAGAIN)) break;
    if (!ReadVideoPacket()) {
      avcodec_send_packet(decoder_, nullptr);
      continue;
    }
    avcodec_send_packet(decoder_, packet_);
    av_packet_unref(packet_);
  }
  if (!got) {
    *error = QString("No picture of \"%1\" can be decoded.").arg(path);
    return false;
  }
  ++decodedFrames_;
  int64_t ts = picture_->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = picture_->pts;
  firstTs_ = ts == AV_NOPTS_VALUE ? 0 : ts;
  decoderFresh_ = false;
  aheadAt_ = 0;
  Accept(0, 0, 0);
  return true;
}

bool FileSource::BuildIndex(int64_t fileSize) {
  AVStream* st = format_->streams[stream_];
  const bool avi = std::strcmp(format_->iformat->name, "avi") == 0;
  const int entries = avformat_index_get_entries_count(st);
  // An AVI file has one chunk per frame time; a frame the recording dropped is an empty chunk,
  // which the demuxer leaves out of its index and its packets but counts in the timestamps. Its
  // frames are therefore counted as positions, from the first whole chunk's time to the last's.
  int64_t firstTs = AV_NOPTS_VALUE, lastTs = AV_NOPTS_VALUE;
  auto position = [&](int64_t ts) {
    if (ts == AV_NOPTS_VALUE) return;
    if (firstTs == AV_NOPTS_VALUE) firstTs = ts;
    lastTs = std::max(lastTs == AV_NOPTS_VALUE ? ts : lastTs, ts);
  };
  auto lastEntryTs = [&] {
    for (int i = entries; i-- > 0;) {
      const AVIndexEntry* e = avformat_index_get_entry(st, i);
      if (e->pos + e->size <= fileSize) return e->timestamp;
    }
    return int64_t(AV_NOPTS_VALUE);
  };
  // AVI and QuickTime files carry an entry for every frame; other containers are counted by
  // reading every packet once. An AVI index is trusted when it agrees with the header, frame for
  // frame or position for position (a recording that dropped frames); a recording cut off before
  // its index was written, or one whose header and index disagree, is counted packet by packet.
  bool trusted = entries > 0 && (!avi || entries == st->nb_frames);
  if (avi && !trusted && entries > 0 && st->nb_frames > 0) {
    const int64_t first = avformat_index_get_entry(st, 0)->timestamp, last = lastEntryTs();
    trusted = last != AV_NOPTS_VALUE && std::llround(double(last - first) / step_) + 1 == st->nb_frames;
  }
  if (IsAviOrMov(format_) && trusted) {
    for (int i = 0; i < entries; ++i) {
      const AVIndexEntry* e = avformat_index_get_entry(st, i);
      if (e->pos + e->size > fileSize) break;  // a recording whose end is missing
      ++info_.frameCount;
      position(e->timestamp);
      if (e->flags & AVINDEX_KEYFRAME) keys_.push_back({e->timestamp, e->pos, e->timestamp});
    }
    // The index holds decoding times. With B-frames a keyframe is shown some frames after it is
    // decoded, by the same offset for every keyframe; the first packet tells it.
    if (!avi && ReadVideoPacket()) {
      if (packet_->pts != AV_NOPTS_VALUE && packet_->dts != AV_NOPTS_VALUE && packet_->pts > packet_->dts)
        for (Key& k : keys_) k.pts = k.ts + (packet_->pts - packet_->dts);
      av_packet_unref(packet_);
    }
  } else {
    QFile raw(path_);
    if (avi) raw.open(QIODevice::ReadOnly);
    while (av_read_frame(format_, packet_) >= 0) {
      const bool whole = !(packet_->flags & AV_PKT_FLAG_CORRUPT) &&
                         (!avi || AviChunkComplete(raw, packet_->pos, fileSize));
      if (packet_->stream_index == stream_ && packet_->size > 0 && whole) {
        const int64_t ts = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
        ++info_.frameCount;
        position(ts);
        if (IsKeyPicture(st->codecpar->codec_id, packet_) && ts != AV_NOPTS_VALUE) {
          keys_.push_back({ts, packet_->pos, packet_->pts != AV_NOPTS_VALUE ? packet_->pts : ts});
          if (!trusted)  // AVI index entries point at the chunk header, eight bytes before the data
            av_add_index_entry(st, avi ? packet_->pos - 8 : packet_->pos, ts, packet_->size, 0, AVINDEX_KEYFRAME);
        }
      }
      av_packet_unref(packet_);
    }
  }
  intraOnly_ = int64_t(keys_.size()) >= info_.frameCount;  // before the empty chunks count
  if (avi && firstTs != AV_NOPTS_VALUE)
    info_.frameCount = std::max<int64_t>(info_.frameCount, std::llround(double(lastTs - firstTs) / step_) + 1);
  std::sort(keys_.begin(), keys_.end());
  keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
  // Programme and transport streams seek by timestamp only roughly; their keyframes are
  // found again by byte position.
  const QByteArray demuxer(format_->iformat->name);
  byteSeek_ = (demuxer == "mpeg" || demuxer == "mpegts" || demuxer == "mpegvideo") &&
              std::all_of(keys_.begin(), keys_.end(), [](const Key& k) { return k.pos >= 0; });
  return info_.frameCount > 0 && !keys_.empty();
}

bool FileSource::SeekToKey(size_t key) {
  ++seeks_;
  const Key& k = keys_[key];
  auto seek = [&](int64_t ts) {
    int rc = byteSeek_ ? av_seek_frame(format_, stream_, k.pos, AVSEEK_FLAG_BYTE)
                       : av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0) rc = av_seek_frame(format_, stream_, ts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
    return rc >= 0;
  };
  if (!seek(seekByPts_ ? k.pts : k.ts)) return false;
  avcodec_flush_buffers(decoder_);
  DropDrained();
  draining_ = false;
  atEnd_ = false;
  decoderFresh_ = true;
  lastOut_ = -1;
  av_frame_unref(last_);
  if (!ReadKeyPacket(k.pos)) return false;
  runKey_ = key;
  if (!byteSeek_) {
    // The demuxer may have landed elsewhere. One that seeks by presentation time lands a whole
    // group early when given a keyframe's decoding time (B-frames put it earlier than its
    // picture's time); it is asked again by the picture's time, as every later seek is.
    int64_t landed = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
    if (landed != AV_NOPTS_VALUE && landed < k.ts && k.pts > k.ts && !seekByPts_) {
      av_packet_unref(packet_);
      if (!seek(k.pts) || !ReadKeyPacket(k.pos)) return false;
      landed = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
      seekByPts_ = landed == k.ts;
    }
    // Wherever it landed, the run starts from there.
    if (landed != AV_NOPTS_VALUE) runKey_ = std::min(key, KeyOfPacket(landed));
  }
  avcodec_send_packet(decoder_, packet_);
  av_packet_unref(packet_);
  return true;
}

bool FileSource::ReadKeyPacket(int64_t fromPos) {
  // Decoding starts at a keyframe, whatever the demuxer landed on.
  const AVCodecID codec = format_->streams[stream_]->codecpar->codec_id;
  for (;;) {
    if (!ReadVideoPacket()) return false;
    if (IsKeyPicture(codec, packet_) && (!byteSeek_ || packet_->pos < 0 || packet_->pos >= fromPos)) return true;
    av_packet_unref(packet_);
  }
}

bool FileSource::ReadVideoPacket() {
  for (;;) {
    const int rc = av_read_frame(format_, packet_);
    if (rc < 0) return false;
    if (packet_->stream_index == stream_ && packet_->size > 0) return true;
    av_packet_unref(packet_);
  }
}

int64_t FileSource::TsOfFrame(int64_t n) const { return firstTs_ + int64_t(std::llround(double(n) * step_)); }

int64_t FileSource::FrameNumberOf(const AVFrame* frame) const {
  int64_t ts = frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = frame->pts;
  if (ts == AV_NOPTS_VALUE) return lastOut_ + 1;
  return std::llround(double(ts - firstTs_) / step_);
}

size_t FileSource::KeyAtOrBefore(int64_t pts) const {
  auto it = std::upper_bound(keys_.begin(), keys_.end(), pts, [](int64_t t, const Key& k) { return t < k.pts; });
  return it == keys_.begin() ? 0 : size_t(it - keys_.begin()) - 1;
}

size_t FileSource::KeyOfPacket(int64_t dts) const {
  auto it = std::upper_bound(keys_.begin(), keys_.end(), Key{dts, 0, 0});
  return it == keys_.begin() ? 0 : size_t(it - keys_.begin()) - 1;
}

int64_t FileSource::KeyFrameNumber(size_t key) const {
  return std::llround(double(keys_[key].pts - firstTs_) / step_);
}

int FileSource::GetBuffer(AVCodecContext* context, AVFrame* frame, int flags) {
  auto* self = static_cast<FileSource*>(context->opaque);
  const auto format = AVPixelFormat(frame->format);
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  if (!descriptor || (descriptor->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL)) || frame->width <= 0 ||
      frame->height <= 0)
    return avcodec_default_get_buffer2(context, frame, flags);
  int w = frame->width, h = frame->height;
  int alignment[AV_NUM_DATA_POINTERS];
  avcodec_align_dimensions2(context, &w, &h, alignment);
  // Widen until every line starts on a 64-byte boundary, as the decoders' vector code expects.
  int linesize[4] = {};
  for (;;) {
    const int rc = av_image_fill_linesizes(linesize, format, w);
    if (rc < 0) return rc;
    bool aligned = true;
    for (int i = 0; i < 4; ++i) aligned = aligned && linesize[i] % 64 == 0;
    if (aligned) break;
    w += w & ~(w - 1);
  }
  ptrdiff_t strides[4];
  for (int i = 0; i < 4; ++i) strides[i] = linesize[i];
  size_t planes[4] = {};
  if (av_image_fill_plane_sizes(planes, format, h, strides) < 0) return avcodec_default_get_buffer2(context, frame, flags);
  size_t offsets[4] = {}, total = 0;
  for (int i = 0; i < 4; ++i) {
    offsets[i] = total;
    total += (planes[i] + 16 + 63) & ~size_t(63);  // room for the decoders' overreads
  }
  std::shared_ptr<FramePool> pool;
  {
    std::lock_guard lock(self->mutex_);  // Stats() reads it from the owner's thread
    if (!self->pool_ || self->pool_->BufferSize() != total) self->pool_ = std::make_shared<FramePool>(total);
    pool = self->pool_;
  }
  AVBufferRef* buffer = pool->Get();
  if (!buffer) return AVERROR(ENOMEM);
  frame->buf[0] = buffer;
  for (int i = 0; i < 4; ++i) {
    frame->data[i] = planes[i] ? buffer->data + offsets[i] : nullptr;
    frame->linesize[i] = planes[i] ? linesize[i] : 0;
  }
  frame->extended_data = frame->data;
  return 0;
}

void FileSource::FrameFree::operator()(AVFrame* frame) const { av_frame_free(&frame); }

ReaderStats FileSource::Stats() const {
  ReaderStats stats{decodedFrames_.load(), seeks_.load(), cacheHits_.load(), readAheadFrames_.load(), false};
  std::lock_guard lock(mutex_);
  stats.readingAhead = workerBusy_ || aheadAt_ < aheadTo_;
  stats.pictureBytes = pool_ ? int64_t(pool_->MappedBytes()) : 0;
  return stats;
}

void FileSource::SetCacheBudget(size_t bytes) {
  std::lock_guard lock(mutex_);
  cacheBudget_ = std::max(bytes, frameBytes_);
  Trim();
}

void FileSource::Remember(int64_t n, const AVFrame* frame) {
  std::lock_guard lock(mutex_);
  auto found = cache_.find(n);
  if (found != cache_.end()) {
    ages_.splice(ages_.begin(), ages_, found->second.age);
    return;
  }
  AVFrame* copy = av_frame_clone(frame);
  if (!copy) return;
  const size_t bytes = std::max<size_t>(1, BytesOf(copy));
  frameBytes_ = bytes;
  ages_.push_front(n);
  cache_.emplace(n, Cached{copy, bytes, ages_.begin()});
  cacheBytes_ += bytes;
  Trim();
}

size_t FileSource::BytesOf(const AVFrame* frame) {
  size_t bytes = 0;
  for (const AVBufferRef* buffer : frame->buf)
    if (buffer) bytes += buffer->size;
  for (int i = 0; i < frame->nb_extended_buf; ++i) bytes += frame->extended_buf[i]->size;
  return bytes;
}

bool FileSource::IsCached(int64_t n) {
  std::lock_guard lock(mutex_);
  return cache_.count(n) != 0;
}

const AVFrame* FileSource::CachedFrame(int64_t n) {
  // Only decoding adds to or drops from the cache, and it holds decoderMutex_ as the caller does.
  std::lock_guard lock(mutex_);
  auto it = cache_.find(n);
  return it == cache_.end() ? nullptr : it->second.frame;
}

void FileSource::Trim() {
  // The cache holds what stepping back asked for, and the read-ahead while the requests move
  // forward; beyond that, pictures make room for newer ones, and their buffers are the decoder's
  // next. A clip of keyframes only decodes any frame at the cost of one: its cache holds a few.
  const int64_t ahead = forwardTravel_ ? readAhead_ : 0;
  const size_t held = size_t(std::max(hold_, intraOnly_ ? kIntraHold : kFirstHold) + ahead) * frameBytes_;
  // The budget bounds all the memory of the pictures, the decoder's own and the spare buffers
  // beside the cached ones: while they take more, the cache gives up pictures, down to three
  // quarters of the budget (what the decoder holds cannot be given up), and that memory goes
  // back to the system.
  bool budget = false;
  auto over = [&] {
    if (cacheBytes_ > cacheBudget_ ||
        (cacheBytes_ > cacheBudget_ / 4 * 3 && pool_ && pool_->MappedBytes() > cacheBudget_))
      return budget = true;
    return cacheBytes_ > held;
  };
  while (ages_.size() > 1 && over()) {
    const int64_t oldest = ages_.back();
    ages_.pop_back();
    auto it = cache_.find(oldest);
    cacheBytes_ -= it->second.bytes;
    av_frame_free(&it->second.frame);
    cache_.erase(it);
  }
  if (budget && pool_) pool_->ReleaseIdle();
}

FileSource::FrameRef FileSource::TakeCached(int64_t n) {
  auto it = cache_.find(n);
  if (it == cache_.end()) return nullptr;
  FrameRef frame(av_frame_clone(it->second.frame));
  if (!frame) return nullptr;
  ++cacheHits_;
  ages_.splice(ages_.begin(), ages_, it->second.age);
  return frame;
}

const AVFrame* FileSource::DecodedFrame(int64_t n) {
  if (n < 0 || n >= info_.frameCount) return nullptr;
  held_ = Fetch(n);
  return held_.get();
}

void FileSource::DropDrained() {
  for (Numbered& d : drained_) av_frame_free(&d.frame);
  drained_.clear();
}

bool FileSource::NextPicture(int64_t* number) {
  if (drained_.empty() && !draining_) {
    for (;;) {
      const int rc = avcodec_receive_frame(decoder_, picture_);
      if (rc == 0) {
        ++decodedFrames_;
        int64_t ts = picture_->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE) ts = picture_->pts;
        *number = ts != AV_NOPTS_VALUE ? FrameNumberOf(picture_) : lastOut_ + 1;
        return true;
      }
      if (rc != AVERROR(EAGAIN)) {
        atEnd_ = true;
        return false;
      }
      if (!ReadVideoPacket()) break;
      avcodec_send_packet(decoder_, packet_);  // a damaged packet costs its picture, nothing more
      av_packet_unref(packet_);
    }
    // The end of the file: the decoder gives back what it holds, often without timestamps. Those
    // pictures are the last of the clip, so they are numbered back from the last frame.
    draining_ = true;
    avcodec_send_packet(decoder_, nullptr);
    for (;;) {
      AVFrame* frame = av_frame_alloc();
      if (avcodec_receive_frame(decoder_, frame) != 0) {
        av_frame_free(&frame);
        break;
      }
      ++decodedFrames_;
      int64_t ts = frame->best_effort_timestamp;
      if (ts == AV_NOPTS_VALUE) ts = frame->pts;
      drained_.push_back({frame, ts != AV_NOPTS_VALUE ? FrameNumberOf(frame) : INT64_MIN});
    }
    int64_t previous = lastOut_;
    for (Numbered& d : drained_) {
      if (d.number == INT64_MIN && previous >= 0) d.number = previous + 1;
      previous = d.number;
    }
    int64_t next = info_.frameCount;
    for (auto it = drained_.rbegin(); it != drained_.rend(); ++it) {
      if (it->number == INT64_MIN) it->number = next - 1;
      next = it->number;
    }
    std::reverse(drained_.begin(), drained_.end());  // served from the back
  }
  if (drained_.empty()) {
    atEnd_ = true;
    return false;
  }
  av_frame_unref(picture_);
  av_frame_move_ref(picture_, drained_.back().frame);
  av_frame_free(&drained_.back().frame);
  *number = drained_.back().number;
  drained_.pop_back();
  return true;
}

const AVFrame* FileSource::DecodeTo(int64_t n) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = cache_.find(n); it != cache_.end()) {
      ++cacheHits_;
      ages_.splice(ages_.begin(), ages_, it->second.age);
      return it->second.frame;
    }
  }
  const int64_t target = TsOfFrame(n);
  // Only the frames closest to the target are kept from a long decoding run: those are the
  // ones the coach steps back through next. A jump keeps a few; stepping back from a cached
  // frame keeps twice as many each time, up to what the budget holds, so a long group is
  // decoded about once on the way back without every jump filling the cache.
  int64_t most = 1;
  {
    std::lock_guard lock(mutex_);
    most = std::max<int64_t>(1, int64_t(cacheBudget_ / frameBytes_) - 1);
  }
  bool back = false;
  {
    std::lock_guard lock(mutex_);
    back = stepBack_ && cache_.count(n + 1) != 0;
  }
  const size_t key = KeyAtOrBefore(target);
  // A jump close behind its keyframe keeps only its frame: a step back decodes that short run
  // again for less than keeping it costs (every kept picture takes memory of its own).
  const bool shortRun = n - KeyFrameNumber(key) <= kJumpWindow;
  backWindow_ = back ? std::min(most, std::max(kJumpWindow, backWindow_ * 2))
                     : std::min<int64_t>(most, shortRun ? 0 : kJumpWindow);
  const int64_t window = backWindow_;
  if (back && KeyFrameNumber(key) < n) {
    // Stepping back through a group: the cache keeps what it holds and the new run's pictures.
    std::lock_guard lock(mutex_);
    hold_ = std::max(hold_, int64_t(cache_.size()) + window + 1);
  }
  // Decoding on from where the decoder stands beats a seek while no keyframe lies between: past
  // one, the seek decodes fewer pictures (on a clip of keyframes only, just the one asked for).
  const bool onTheWay = !atEnd_ && !decoderFresh_ && lastOut_ >= 0 && n > lastOut_ && lastOut_ + 1 >= KeyFrameNumber(key);
  if (!onTheWay && !SeekToKey(key)) return nullptr;

  size_t retries = 0;
  int64_t m = 0;
  for (;;) {
    if (!NextPicture(&m)) {
      // The target lies past the last picture the file gives: the last one shows on.
      if (last_->buf[0]) {
        Remember(n, last_);
        return CachedFrame(n);
      }
      return lastOut_ >= 0 ? CachedFrame(lastOut_) : nullptr;
    }
    if (decoderFresh_) {
      const bool isKey = picture_->key_frame || picture_->pict_type == AV_PICTURE_TYPE_I;
      if (isKey && m <= n) {
        decoderFresh_ = false;
      } else if (m >= n && runKey_ > 0 && retries < keys_.size()) {
        // Landed past the target, or on pictures that lean on an earlier group: start one
        // keyframe further back.
        av_frame_unref(picture_);
        ++retries;
        if (!SeekToKey(runKey_ - 1)) return nullptr;
        continue;
      } else if (m >= n) {
        // Nothing earlier to start from: the nearest picture the file gives will do.
        decoderFresh_ = false;
      } else {
        av_frame_unref(picture_);  // a leading picture of an open group: not to be trusted
        continue;
      }
    }
    const int64_t before = lastOut_;
    Accept(m, n - window, n);
    if (m >= n) return CachedFrame(before >= 0 && before < n && n < m ? n : m);
  }
}

void FileSource::Accept(int64_t m, int64_t keepFrom, int64_t n) {
  const int64_t before = lastOut_;
  if (before >= 0 && m > before + 1 && last_->buf[0]) {
    for (int64_t g = std::max(before + 1, keepFrom); g < m; ++g)
      if (g != n) Remember(g, last_);
  }
  if (m >= keepFrom || m >= n) Remember(m, picture_);
  if (before >= 0 && before < n && n < m && last_->buf[0]) Remember(n, last_);
  lastOut_ = m;
  av_frame_unref(last_);
  av_frame_move_ref(last_, picture_);
}

FileSource::FrameRef FileSource::Fetch(int64_t n) {
  bool forward = false;
  {
    std::unique_lock lock(mutex_);
    forward = lastRequest_ >= 0 && n > lastRequest_ && n - lastRequest_ <= readAhead_;
    if (n != lastRequest_) forwardTravel_ = forward;
    stepBack_ = n == lastRequest_ - 1;
    const bool again = n == lastRequest_;
    lastRequest_ = n;
    if (FrameRef frame = TakeCached(n)) {
      if (forward)
        ReadOnFrom(n, readAhead_);
      else if (!again)
        StopReadAhead();  // a step back or a jump served from the cache: nothing to read on to
      return frame;
    }
    if (forward) {
      ReadOnFrom(n, readAhead_);
      if (aheadAt_ < n && n <= aheadTo_ && n - aheadAt_ <= kWaitSpan) {
        // The worker is about to give it: waiting costs less than taking the decoder from it.
        frameReady_.wait_for(lock, kLongestWait, [&] { return cache_.count(n) || aheadAt_ >= n || aheadTo_ < n; });
        if (FrameRef frame = TakeCached(n)) return frame;
      }
    }
    StopReadAhead();  // the worker stops after the picture in hand
  }
  FrameRef frame;
  {
    std::lock_guard decoding(decoderMutex_);
    if (const AVFrame* decoded = DecodeTo(n)) frame.reset(av_frame_clone(decoded));
    std::lock_guard lock(mutex_);
    aheadAt_ = lastOut_;
    // Only forward motion is read ahead: after a step back or a jump the frames past n are no
    // more likely than any others, and decoding them would hold up the next request.
    if (forward) ReadOnFrom(n, readAhead_);
  }
  return frame;
}

void FileSource::ReadOnFrom(int64_t n, int64_t ahead) {
  // The worker reads on from where the decoder stands, so only when that is near the request.
  if (n - aheadAt_ > readAhead_ || aheadAt_ < 0) return;
  // Never more frames ahead than half the cache holds: they must not push out the ones shown.
  const int64_t room = std::max<int64_t>(0, int64_t(cacheBudget_ / frameBytes_) / 2 - 1);
  const int64_t to = std::min(n + std::min(ahead, room), info_.frameCount - 1);
  if (to <= aheadAt_) return;
  aheadTo_ = std::max(aheadTo_, to);
  if (!worker_.joinable()) {
    try {
      worker_ = std::thread(&FileSource::ReadAheadLoop, this);
    } catch (const std::system_error&) {
      readAhead_ = 0;  // no thread to be had: every request decodes for itself, as without
      aheadTo_ = -1;
      return;
    }
  }
  workReady_.notify_one();
}

void FileSource::StopReadAhead() {
  ++aheadGeneration_;
  aheadTo_ = -1;
  frameReady_.notify_all();
}

void FileSource::SetReadAhead(int frames) {
  std::lock_guard lock(mutex_);
  readAhead_ = std::max(0, frames);
  if (readAhead_ == 0) {
    StopReadAhead();
    return;
  }
  // A clip just opened is about to be played from where it stands: the analysis window starts
  // every clip it opens, so the first frames are decoded before the first tick asks.
  if (lastRequest_ < 0) {
    lastRequest_ = aheadAt_;
    forwardTravel_ = true;
    ReadOnFrom(aheadAt_, readAhead_);
  }
}

void FileSource::ReadAheadLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    workReady_.wait(lock, [&] { return quit_ || aheadAt_ < aheadTo_; });
    if (quit_) return;
    const uint64_t generation = aheadGeneration_;
    workerBusy_ = true;
    lock.unlock();
    {
      std::lock_guard decoding(decoderMutex_);
      ReadAheadOne(generation);
    }
    lock.lock();
    workerBusy_ = false;
    frameReady_.notify_all();
  }
}

void FileSource::ReadAheadOne(uint64_t generation) {
  {
    std::lock_guard lock(mutex_);
    if (quit_ || generation != aheadGeneration_ || aheadAt_ >= aheadTo_) return;
  }
  // Only a decoder that stands on a frame it reached in order goes on from there; anything else
  // needs a seek, which is for a request to make.
  int64_t m = -1;
  const bool going = !atEnd_ && !decoderFresh_ && lastOut_ >= 0 && NextPicture(&m);
  if (going) {
    ++readAheadFrames_;
    Accept(m, lastOut_ + 1, -1);
  }
  // After the last frame play starts again from the first, looping or at the next play button,
  // so the first frames are made ready too.
  bool wrap = going ? m >= info_.frameCount - 1 : atEnd_;
  if (wrap) {
    {
      std::lock_guard lock(mutex_);
      wrap = generation == aheadGeneration_ && cache_.count(0) == 0;  // not when a request waits
    }
    const int64_t before = decodedFrames_;
    if (wrap) DecodeTo(0);
    readAheadFrames_ += decodedFrames_ - before;
  }
  std::lock_guard lock(mutex_);
  aheadAt_ = lastOut_;
  if (wrap && aheadAt_ == 0 && generation == aheadGeneration_)
    aheadTo_ = std::min<int64_t>(kRestartAhead, info_.frameCount - 1);
  else if (!going || m >= info_.frameCount - 1)
    aheadTo_ = -1;
}

bool FileSource::ConvertInto(const AVFrame* frame, uint8_t* destination, int stride, QSize size) {
  if (!PrepareScaler(frame, size)) return false;
  uint8_t* const dst[4] = {destination};
  const int dstStride[4] = {stride};
  return scaler_.Scale(frame->data, frame->linesize, dst, dstStride);
}

bool FileSource::PrepareScaler(const AVFrame* frame, QSize size) {
  bool fullRange = false;
  const AVPixelFormat format = PlainFormat(frame->format, &fullRange);
  if (!scaler_.Prepare(frame->width, frame->height, format, size.width(), size.height(), AV_PIX_FMT_RGB32,
                       size == QSize(frame->width, frame->height) ? SWS_POINT : SWS_BILINEAR))
    return false;
  // The cached context is made again only when one of these changes.
  const std::array<int, 6> key = {frame->width, frame->height, int(format), size.width(), size.height(), fullRange};
  if (key != scalerKey_) {
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(scaler_.Context(), coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16, 1 << 16);
    scalerKey_ = key;
  }
  return true;
}

QImage FileSource::Convert(const AVFrame* frame, QSize size) {
  if (!size.isValid() || size.isEmpty()) size = info_.size;
  // Straight into a picture of its own: no copy of the rows on the way.
  if (!PrepareScaler(frame, size)) return QImage();
  return scaler_.ScaleToPicture(frame->data, frame->linesize);
}

void FileSource::PrepareFrameInto(QSize target, const QRect& rect) {
  if (rect.isEmpty() || QRect(QPoint(0, 0), target).contains(rect) || scratch_.size() == rect.size()) return;
  scratch_ = QImage(rect.size(), QImage::Format_RGB32);
  if (!scratch_.isNull()) scratch_.fill(0);  // the first touch of its memory is the slow part
}

bool FileSource::FrameInto(int64_t n, QImage& target, const QRect& rect) {
  const bool argb = target.format() == QImage::Format_ARGB32;
  if ((target.format() != QImage::Format_RGB32 && !argb) || rect.isEmpty()) return FrameSource::FrameInto(n, target, rect);
  if (n < 0 || n >= info_.frameCount) return false;
  const FrameRef frame = Fetch(n);
  if (!frame) return false;
  const QRect visible = rect.intersected(target.rect());
  bool done = false;
  if (visible == rect) {
    // Straight into the owner's picture: no picture in between to allocate and copy, which at
    // full HD is most of a playback tick.
    uint8_t* origin = target.bits() + qsizetype(rect.top()) * target.bytesPerLine() + qsizetype(rect.left()) * 4;
    done = ConvertInto(frame.get(), origin, int(target.bytesPerLine()), rect.size());
  } else {
    // A zoomed or scrolled picture larger than the area: converted into a picture kept from one
    // frame to the next, then its visible part copied. A fresh picture for every frame would
    // pay for its first touch of memory on every tick.
    if (scratch_.size() != rect.size()) scratch_ = QImage(rect.size(), QImage::Format_RGB32);
    done = !scratch_.isNull() && ConvertInto(frame.get(), scratch_.bits(), int(scratch_.bytesPerLine()), rect.size());
    if (done && !visible.isEmpty()) {
      const qsizetype left = qsizetype(visible.left() - rect.left()) * 4;
      for (int y = visible.top(); y <= visible.bottom(); ++y)
        std::memcpy(target.scanLine(y) + qsizetype(visible.left()) * 4, scratch_.constScanLine(y - rect.top()) + left,
                    size_t(visible.width()) * 4);
    }
  }
  if (done && argb) {
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(target.scanLine(y));
      for (int x = visible.left(); x <= visible.right(); ++x) line[x] |= 0xff000000u;
    }
  }
  return done;
}

QImage FileSource::Frame(int64_t n, QSize size) {
  if (n < 0 || n >= info_.frameCount) return QImage();
  const FrameRef frame = Fetch(n);
  return frame ? Convert(frame.get(), size) : QImage();
}

bool FileSource::OpenAudio() {
  if (audioDecoder_) return true;
  if (!info_.hasAudio) return false;
  const QByteArray encoded = QFile::encodeName(path_);
  if (avformat_open_input(&audioFormat_, encoded.constData(), nullptr, nullptr) < 0) return false;
  if (avformat_find_stream_info(audioFormat_, nullptr) < 0) return false;
  const AVCodec* codec = nullptr;
  audioStream_ = av_find_best_stream(audioFormat_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (audioStream_ < 0 || !codec) return false;
  for (unsigned i = 0; i < audioFormat_->nb_streams; ++i)
    if (int(i) != audioStream_) audioFormat_->streams[i]->discard = AVDISCARD_ALL;
  AVCodecContext* decoder = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(decoder, audioFormat_->streams[audioStream_]->codecpar);
  if (avcodec_open2(decoder, codec, nullptr) < 0) {
    avcodec_free_context(&decoder);
    return false;
  }
  AVChannelLayout layout;
  av_channel_layout_default(&layout, info_.audioChannels);
  if (swr_alloc_set_opts2(&resampler_, &layout, AV_SAMPLE_FMT_S16, info_.audioRate, &decoder->ch_layout,
                          decoder->sample_fmt, decoder->sample_rate, 0, nullptr) < 0 ||
      swr_init(resampler_) < 0) {
    avcodec_free_context(&decoder);
    return false;
  }
  audioDecoder_ = decoder;
  audioPacket_ = av_packet_alloc();
  audioFrame_ = av_frame_alloc();
  return true;
}

bool FileSource::ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) {
  out.clear();
  if (!OpenAudio() || count <= 0 || first < 0) return info_.hasAudio && count <= 0;
  const int channels = info_.audioChannels;
  AVStream* st = audioFormat_->streams[audioStream_];
  const int64_t buffered = int64_t(audioPending_.size()) / channels;
  if (audioNext_ < 0 || first < audioNext_ || first > audioNext_ + buffered + info_.audioRate) {
    const int64_t ts = av_rescale_q(first, AVRational{1, info_.audioRate}, st->time_base);
    av_seek_frame(audioFormat_, audioStream_, ts, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(audioDecoder_);
    swr_init(resampler_);
    audioPending_.clear();
    audioNext_ = -1;
    audioEnd_ = false;
  }
  auto available = [&] { return audioNext_ < 0 ? 0 : audioNext_ + int64_t(audioPending_.size()) / channels; };
  while (!audioEnd_ && available() < first + count) {
    int rc = avcodec_receive_frame(audioDecoder_, audioFrame_);
    if (rc == AVERROR(EAGAIN)) {
      rc = av_read_frame(audioFormat_, audioPacket_);
      if (rc < 0) {
        avcodec_send_packet(audioDecoder_, nullptr);
      } else {
        if (audioPacket_->stream_index == audioStream_) avcodec_send_packet(audioDecoder_, audioPacket_);
        av_packet_unref(audioPacket_);
      }
      continue;
    }
    if (rc < 0) {
      audioEnd_ = true;
      break;
    }
    if (audioNext_ < 0) {
      int64_t ts = audioFrame_->best_effort_timestamp;
      audioNext_ = ts == AV_NOPTS_VALUE ? 0 : av_rescale_q(ts, st->time_base, AVRational{1, info_.audioRate});
    }
    const int room = swr_get_out_samples(resampler_, audioFrame_->nb_samples);
    const size_t old = audioPending_.size();
    audioPending_.resize(old + size_t(room) * channels);
    uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(audioPending_.data() + old)};
    const int made = swr_convert(resampler_, dst, room, const_cast<const uint8_t**>(audioFrame_->extended_data),
                                 audioFrame_->nb_samples);
    audioPending_.resize(old + size_t(std::max(0, made)) * channels);
    av_frame_unref(audioFrame_);
  }
  if (audioNext_ < 0) return true;
  if (first > audioNext_) {  // drop what lies before the request
    const int64_t drop = std::min<int64_t>(first - audioNext_, int64_t(audioPending_.size()) / channels);
    audioPending_.erase(audioPending_.begin(), audioPending_.begin() + drop * channels);
    audioNext_ += drop;
  }
  if (first < audioNext_) out.assign(size_t(std::min(count, audioNext_ - first)) * channels, 0);
  const int64_t from = std::max(first, audioNext_);
  const int64_t take = std::min<int64_t>(first + count - from, int64_t(audioPending_.size()) / channels);
  if (take > 0) out.insert(out.end(), audioPending_.begin(), audioPending_.begin() + take * channels);
  return true;
}

}  // namespace kestrom::media
