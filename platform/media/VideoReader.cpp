#include "platform/media/VideoReader.h"

#include "platform/media/FileSource.h"
#include "platform/media/ScriptSource.h"

namespace kestrom::media {

VideoReader::VideoReader() = default;
VideoReader::~VideoReader() = default;
VideoReader::VideoReader(VideoReader&&) noexcept = default;
VideoReader& VideoReader::operator=(VideoReader&&) noexcept = default;

bool VideoReader::IsScript(const QString& path) { return path.endsWith(".avs", Qt::CaseInsensitive); }

std::unique_ptr<FrameSource> VideoReader::OpenSource(const QString& path, QString* error, int depth) {
  if (IsScript(path)) return ScriptSource::Open(path, error, depth);
  return FileSource::Open(path, error);
}

bool VideoReader::Open(const QString& path) {
  QString error;
  std::unique_ptr<FrameSource> source = OpenSource(path, &error);
  if (!source) {
    error_ = error;
    return false;
  }
  source_ = std::move(source);
  source_->SetCacheBudget(cacheBudget_);
  source_->SetReadAhead(readAhead_);
  path_ = path;
  error_.clear();
  return true;
}

void VideoReader::Close() {
  source_.reset();
  path_.clear();
}

const ClipInfo& VideoReader::Info() const {
  static const ClipInfo none{};
  return source_ ? source_->Info() : none;
}

QImage VideoReader::Frame(int64_t n, QSize size) { return source_ ? source_->Frame(n, size) : QImage(); }

bool VideoReader::FrameInto(int64_t n, QImage& target, const QRect& rect) {
  return source_ && source_->FrameInto(n, target, rect);
}

void VideoReader::PrepareFrameInto(QSize target, const QRect& rect) {
  if (source_) source_->PrepareFrameInto(target, rect);
}

bool VideoReader::ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) {
  out.clear();
  return source_ && source_->ReadAudio(first, count, out);
}

void VideoReader::SetCacheBudget(size_t bytes) {
  cacheBudget_ = bytes;
  if (source_) source_->SetCacheBudget(bytes);
}

void VideoReader::SetReadAhead(int frames) {
  readAhead_ = frames;
  if (source_) source_->SetReadAhead(frames);
}

ReaderStats VideoReader::Stats() const { return source_ ? source_->Stats() : ReaderStats{}; }

}  // namespace kestrom::media
