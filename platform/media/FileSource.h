#pragma once
// A video file decoded by FFmpeg with frame-exact random access.
//
// Frame numbers come from the decoded pictures' timestamps against the first picture's, so they
// hold in every container and with B-frames. To reach frame n the reader seeks to the keyframe at
// or before it and decodes forward; when the decoder lands past n (pictures that depend on an
// earlier group are dropped after a seek) it seeks one keyframe further back. The pictures decoded
// on the way are kept in a cache bounded in bytes, so stepping back through a long group costs
// one decode of the group for every cacheful of frames, not one per step.

#include "platform/media/FrameSource.h"

#include "platform/media/FramePool.h"

#include <list>
#include <memory>
#include <unordered_map>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwsContext;
struct SwrContext;
struct AVCodecContext;

namespace kestrom::media {

class FileSource final : public FrameSource {
 public:
  /** @brief Opens the file; nullptr with a message for the user when it is not a usable video. */
  static std::unique_ptr<FileSource> Open(const QString& path, QString* error);
  ~FileSource() override;

  const ClipInfo& Info() const override { return info_; }
  QImage Frame(int64_t n, QSize size = {}) override;
  bool FrameInto(int64_t n, QImage& target, const QRect& rect) override;
  bool ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) override;
  ReaderStats Stats() const override { return stats_; }
  void SetCacheBudget(size_t bytes) override;

  /** @brief The decoded picture of frame n without conversion (owned by the cache). */
  const AVFrame* DecodedFrame(int64_t n);

 private:
  FileSource() = default;
  bool Init(const QString& path, QString* error);
  bool BuildIndex(int64_t fileSize);
  bool SeekToKey(size_t key);  // repositions at keys_[key]
  bool ReadVideoPacket();  // next video packet into packet_; false at the end of the file
  const AVFrame* DecodeTo(int64_t n);
  bool NextPicture(int64_t* number);  // next picture into picture_; false when none is left
  void DropDrained();
  int64_t FrameNumberOf(const AVFrame* frame) const;
  size_t KeyAtOrBefore(int64_t ts) const;  // index into keys_
  int64_t TsOfFrame(int64_t n) const;
  void Remember(int64_t n, const AVFrame* frame);
  void Trim();
  QImage Convert(const AVFrame* frame, QSize size);
  bool ConvertInto(const AVFrame* frame, uint8_t* destination, int stride, QSize size);
  bool OpenAudio();
  static int GetBuffer(AVCodecContext* context, AVFrame* frame, int flags);

  ClipInfo info_;
  QString path_;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* picture_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int stream_ = -1;
  std::shared_ptr<FramePool> pool_;

  double step_ = 1.0;           // one frame in stream time-base units
  int64_t firstTs_ = 0;         // timestamp of frame 0
  struct Key {
    int64_t ts;   // decoding timestamp, as the demuxer seeks by it
    int64_t pos;  // byte position, for containers whose timestamp seeking is approximate
    bool operator<(const Key& o) const { return ts < o.ts; }
    bool operator==(const Key& o) const { return ts == o.ts; }
  };
  std::vector<Key> keys_;       // the keyframes, ascending
  bool byteSeek_ = false;

  // Where the decoder stands: the last frame it gave, whether it was just repositioned.
  int64_t lastOut_ = -1;
  size_t runKey_ = 0;           // the keyframe the current decoding run started from
  bool decoderFresh_ = false;   // no keyframe picture has come out since the last seek
  bool atEnd_ = false;          // the decoder has been drained; a seek must come first
  bool draining_ = false;       // the end of the file was sent to the decoder
  struct Numbered {
    AVFrame* frame;
    int64_t number;
  };
  std::vector<Numbered> drained_;  // pictures of the drain, numbered once all were out

  struct Cached {
    AVFrame* frame;
    size_t bytes;
    std::list<int64_t>::iterator age;
  };
  std::unordered_map<int64_t, Cached> cache_;
  std::list<int64_t> ages_;     // most recently used first
  size_t cacheBytes_ = 0;
  size_t cacheBudget_ = size_t(256) << 20;
  size_t frameBytes_ = 1;
  int64_t backWindow_ = 32;     // frames before the target that a decoding run keeps

  // Sound, on a second demuxer so that reading it never disturbs the pictures.
  AVFormatContext* audioFormat_ = nullptr;
  AVCodecContext* audioDecoder_ = nullptr;
  SwrContext* resampler_ = nullptr;
  AVPacket* audioPacket_ = nullptr;
  AVFrame* audioFrame_ = nullptr;
  int audioStream_ = -1;
  int64_t audioNext_ = -1;           // sample the pending buffer starts at
  std::vector<int16_t> audioPending_;
  bool audioEnd_ = false;

  ReaderStats stats_;
};

}  // namespace kestrom::media
