#pragma once
// A video file decoded by FFmpeg with frame-exact random access.
//
// Frame numbers come from the decoded pictures' timestamps against the first picture's, so they
// hold in every container and with B-frames. A position without a picture of its own (an empty
// chunk where a recording dropped a frame, a gap in the times) shows the picture before it. To
// reach frame n the reader seeks to the keyframe at or before it (by presentation time) and decodes
// forward; when the decoder lands past n (pictures that depend on an earlier group are dropped
// after a seek) it seeks one keyframe further back. The pictures decoded on the way are kept in a
// cache bounded in bytes, so stepping back through a long group costs one decode of the group for
// every cacheful of frames, not one per step. While the requests move forward or jump the cache
// recycles a few pictures' memory instead (fresh memory costs more than a decode on some
// machines); it grows only as stepping back asks, up to its budget.
//
// With read-ahead switched on (the media player does), a worker thread decodes the next frames
// into the cache while the requests move forward, so that a playback tick finds its frame decoded.
// The worker only ever goes on from where the decoder stands and decodes one picture at a time
// under the decoder's lock; a step back or a jump stops it and is served exactly as without it.
// Pictures leave the cache as counted references, so the worker's evictions never free a picture
// that is being converted.

#include "platform/media/FrameSource.h"

#include "platform/media/FramePool.h"
#include "platform/media/PictureScaler.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
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
  void PrepareFrameInto(QSize target, const QRect& rect) override;
  bool ReadAudio(int64_t first, int64_t count, std::vector<int16_t>& out) override;
  ReaderStats Stats() const override;
  void SetCacheBudget(size_t bytes) override;
  void SetReadAhead(int frames) override;

  /** @brief The decoded picture of frame n without conversion, valid until the next call. */
  const AVFrame* DecodedFrame(int64_t n);

 private:
  struct FrameFree {
    void operator()(AVFrame* frame) const;
  };
  /** @brief A counted reference to a decoded picture: the cache may drop it meanwhile. */
  using FrameRef = std::unique_ptr<AVFrame, FrameFree>;

  FileSource() = default;
  FrameRef Fetch(int64_t n);  // frame n from the cache, the worker or the decoder
  FrameRef TakeCached(int64_t n);  // with mutex_ held: a reference to a cached frame, counted as a hit
  void ReadOnFrom(int64_t n, int64_t ahead);  // with mutex_ held: lets the worker run past n
  void StopReadAhead();  // with mutex_ held
  void ReadAheadLoop();
  void ReadAheadOne(uint64_t generation);  // with decoderMutex_ held
  bool Init(const QString& path, QString* error);
  bool BuildIndex(int64_t fileSize);
  bool SeekToKey(size_t key);  // repositions at keys_[key]
  bool ReadKeyPacket(int64_t fromPos);  // the first keyframe packet from where the demuxer stands
  bool ReadVideoPacket();  // next video packet into packet_; false at the end of the file
  const AVFrame* DecodeTo(int64_t n);  // with decoderMutex_ held; the result lives while it is held
  bool NextPicture(int64_t* number);  // next picture into picture_; false when none is left
  void DropDrained();
  int64_t FrameNumberOf(const AVFrame* frame) const;
  size_t KeyAtOrBefore(int64_t pts) const;  // index into keys_, by presentation time
  size_t KeyOfPacket(int64_t dts) const;    // index into keys_, by decoding time
  int64_t KeyFrameNumber(size_t key) const;
  // Takes picture_ (frame m) as where the decoder stands: the cache keeps it and the positions
  // since the previous picture that have none of their own, from keepFrom on; when n is one of
  // those it is remembered last, so that it is the one a small cache still holds.
  void Accept(int64_t m, int64_t keepFrom, int64_t n);
  int64_t TsOfFrame(int64_t n) const;
  void Remember(int64_t n, const AVFrame* frame);  // locks mutex_
  static size_t BytesOf(const AVFrame* frame);  // the memory a picture holds
  bool IsCached(int64_t n);  // locks mutex_
  const AVFrame* CachedFrame(int64_t n);  // locks mutex_; stable while decoderMutex_ is held
  void Trim();  // with mutex_ held
  bool PrepareScaler(const AVFrame* frame, QSize size);  // for a picture of size in RGB32
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
  PictureScaler scaler_;
  // What the scaler's context was made and given its colour details for (setting them rebuilds
  // its tables, so only a new context gets them).
  std::array<int, 6> scalerKey_ = {};
  int stream_ = -1;
  std::shared_ptr<FramePool> pool_;

  double step_ = 1.0;           // one frame in stream time-base units
  int64_t firstTs_ = 0;         // timestamp of frame 0
  struct Key {
    int64_t ts;   // decoding timestamp, as most demuxers seek by it
    int64_t pos;  // byte position, for containers whose timestamp seeking is approximate
    int64_t pts;  // presentation timestamp of the keyframe's picture
    bool operator<(const Key& o) const { return ts < o.ts; }
    bool operator==(const Key& o) const { return ts == o.ts; }
  };
  std::vector<Key> keys_;       // the keyframes, ascending
  bool byteSeek_ = false;
  bool intraOnly_ = false;      // every picture is a keyframe
  bool seekByPts_ = false;      // the demuxer seeks by presentation time (found on a first seek)

  // Where the decoder stands: the last frame it gave, whether it was just repositioned.
  int64_t lastOut_ = -1;
  AVFrame* last_ = nullptr;     // a reference to that picture, shown on until the next one
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
  int64_t backWindow_ = 16;     // frames before the target that a decoding run keeps
  int64_t hold_ = 0;            // pictures stepping back has asked the cache to hold (mutex_)

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

  // Counted from both threads.
  std::atomic<int64_t> decodedFrames_{0};
  std::atomic<int64_t> seeks_{0};
  std::atomic<int64_t> cacheHits_{0};
  std::atomic<int64_t> readAheadFrames_{0};

  // Locks: decoderMutex_ guards the demuxer, the decoder and where it stands (everything above
  // the cache); mutex_ guards the cache and the read-ahead state below. decoderMutex_ is taken
  // first when both are needed; the GUI thread never waits for decoderMutex_ while the worker
  // has anything but the picture in hand to finish.
  std::mutex decoderMutex_;
  mutable std::mutex mutex_;
  std::condition_variable workReady_;   // the worker has something to do
  std::condition_variable frameReady_;  // the worker finished a picture or stopped
  std::thread worker_;
  bool quit_ = false;
  bool workerBusy_ = false;     // the worker is decoding a picture
  int readAhead_ = 0;           // frames to decode ahead of forward motion; 0 = off
  int64_t lastRequest_ = -1;    // the frame asked for last
  bool forwardTravel_ = false;  // the requests move forward: the read-ahead's pictures are kept
  bool stepBack_ = false;       // the request is one frame before the last
  int64_t aheadAt_ = -1;        // the frame the decoder stands on, as the worker sees it
  int64_t aheadTo_ = -1;        // the worker decodes while aheadAt_ < aheadTo_; -1: no run
  uint64_t aheadGeneration_ = 0;  // raised by every cancellation
  FrameRef held_;               // what DecodedFrame handed out last
  QImage scratch_;              // FrameInto's picture for frames that stand partly outside
};

}  // namespace kestrom::media
