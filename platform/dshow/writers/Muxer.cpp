#include "platform/dshow/writers/Muxer.h"

#include "platform/dshow/writers/FfmpegTypes.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace kestrom::dshow {

using namespace com;

namespace {
// Large enough that a coded frame usually goes out in one write.
constexpr int kIoBufferSize = 1 << 18;
}  // namespace

// ---- PositionalFile ----

PositionalFile::~PositionalFile() { Close(); }

HRESULT PositionalFile::Open(const QString& path, bool overwrite) {
  Close();
  fd_ = open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : 0), 0666);
  return fd_ < 0 ? HResultFromErrno(errno) : S_OK;
}

HRESULT PositionalFile::Write(int64_t position, const uint8_t* data, int length) {
  if (fd_ < 0) return VFW_E_WRONG_STATE;
  while (length > 0) {
    const ssize_t n = pwrite(fd_, data, size_t(length), off_t(position));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return HResultFromErrno(n == 0 ? ENOSPC : errno);
    data += n;
    length -= int(n);
    position += n;
  }
  return S_OK;
}

HRESULT PositionalFile::Close() {
  if (fd_ < 0) return S_OK;
  const int result = close(fd_);
  fd_ = -1;
  return result == 0 ? S_OK : HResultFromErrno(errno);
}

// ---- Muxer ----

Muxer::Muxer() = default;
Muxer::~Muxer() { Free(); }

void Muxer::ReleaseHolder(void* opaque, uint8_t*) { delete static_cast<std::shared_ptr<void>*>(opaque); }

int Muxer::WriteCallback(void* opaque, uint8_t* data, int length) {
  auto* self = static_cast<Muxer*>(opaque);
  // After a failed write nothing more goes out: the file stays as it was when writing failed (no
  // header patched to promise what is not there), for the writer to mend.
  if (FAILED(self->sinkError_)) return AVERROR(EIO);
  const HRESULT hr = self->sink_->Write(self->position_, data, length);
  if (FAILED(hr)) {
    if (SUCCEEDED(self->sinkError_)) self->sinkError_ = hr;
    return AVERROR(EIO);
  }
  self->position_ += length;
  self->size_ = std::max(self->size_, self->position_);
  return length;
}

int64_t Muxer::SeekCallback(void* opaque, int64_t offset, int whence) {
  auto* self = static_cast<Muxer*>(opaque);
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return self->size_;
    case SEEK_SET: self->position_ = offset; break;
    case SEEK_CUR: self->position_ += offset; break;
    case SEEK_END: self->position_ = self->size_ + offset; break;
    default: return AVERROR(EINVAL);
  }
  return self->position_;
}

HRESULT Muxer::Open(const char* format, ByteSink* sink) {
  Free();
  sink_ = sink;
  position_ = size_ = 0;
  sinkError_ = S_OK;
  if (avformat_alloc_output_context2(&context_, nullptr, format, nullptr) < 0 || !context_) return E_FAIL;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  packet_ = av_packet_alloc();
  if (!buffer || !packet_) {
    av_free(buffer);
    Free();
    return E_OUTOFMEMORY;
  }
  context_->pb = avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &WriteCallback, &SeekCallback);
  if (!context_->pb) {
    av_free(buffer);
    Free();
    return E_OUTOFMEMORY;
  }
  context_->pb->seekable = AVIO_SEEKABLE_NORMAL;
  context_->flags |= AVFMT_FLAG_CUSTOM_IO;
  return S_OK;
}

AVStream* Muxer::AddStream(const AVCodecParameters* par, AVRational timeBase) {
  if (!context_ || headerWritten_) return nullptr;
  AVStream* st = avformat_new_stream(context_, nullptr);
  if (!st) return nullptr;
  if (avcodec_parameters_copy(st->codecpar, par) < 0) return nullptr;
  st->time_base = timeBase;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) st->avg_frame_rate = av_inv_q(timeBase);
  return st;
}

HRESULT Muxer::WriteHeader(AVDictionary** options) {
  if (!context_) return VFW_E_WRONG_STATE;
  const int r = avformat_write_header(context_, options);
  if (r < 0) return FAILED(sinkError_) ? sinkError_ : HResultFromAvError(r);
  // The header goes out at once, so that a destination that takes no bytes fails the start.
  avio_flush(context_->pb);
  if (FAILED(sinkError_)) return sinkError_;
  headerWritten_ = true;
  return S_OK;
}

HRESULT Muxer::WritePacket(int stream, const uint8_t* data, int length, int64_t pts, int64_t duration, bool key,
                           bool interleaved, std::shared_ptr<void> holder) {
  if (!context_ || !headerWritten_) return VFW_E_WRONG_STATE;
  if (FAILED(sinkError_)) return sinkError_;
  av_packet_unref(packet_);
  // Refers to the caller's buffer; the interleaving queue copies what it keeps, unless the
  // bytes come with a holder: then it keeps a share of that.
  if (holder && interleaved && length > 0) {
    auto* share = new (std::nothrow) std::shared_ptr<void>(std::move(holder));
    if (share) {
      packet_->buf = av_buffer_create(const_cast<uint8_t*>(data), size_t(length), &ReleaseHolder, share, AV_BUFFER_FLAG_READONLY);
      if (!packet_->buf) delete share;
    }
  }
  packet_->data = const_cast<uint8_t*>(data);
  packet_->size = length;
  packet_->stream_index = stream;
  packet_->pts = packet_->dts = pts;
  packet_->duration = duration;
  packet_->flags = key ? AV_PKT_FLAG_KEY : 0;
  const int r = interleaved ? av_interleaved_write_frame(context_, packet_) : av_write_frame(context_, packet_);
  if (r < 0) return FAILED(sinkError_) ? sinkError_ : HResultFromAvError(r);
  return S_OK;
}

HRESULT Muxer::Finish() {
  if (!context_) return S_OK;
  HRESULT hr = S_OK;
  if (headerWritten_) {
    const int r = av_write_trailer(context_);
    avio_flush(context_->pb);
    if (r < 0 || context_->pb->error < 0) hr = FAILED(sinkError_) ? sinkError_ : HResultFromAvError(r < 0 ? r : context_->pb->error);
  }
  if (SUCCEEDED(hr) && FAILED(sinkError_)) hr = sinkError_;
  Free();
  return hr;
}

void Muxer::Abort() { Free(); }

void Muxer::Free() {
  if (context_) {
    if (context_->pb) {
      av_freep(&context_->pb->buffer);
      avio_context_free(&context_->pb);
    }
    avformat_free_context(context_);
    context_ = nullptr;
  }
  av_packet_free(&packet_);
  headerWritten_ = false;
}

}  // namespace kestrom::dshow
