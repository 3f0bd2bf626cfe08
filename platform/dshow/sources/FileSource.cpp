#include "platform/dshow/sources/FileSource.h"

#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Allocator.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/DvFormat.h"
#include "platform/dshow/sources/PushPin.h"
#include "platform/dshow/sources/StreamTypes.h"

#include <QFile>
#include <QtEndian>
#include <QString>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace kestrom::dshow {

using namespace com;
using namespace sources;

namespace {

constexpr AVRational kReferenceTimeBase{1, 10000000};
// Packets waiting per pin: enough to interleave sound and picture of a few frames.
constexpr size_t kQueueLimit = 48;
// The reader and a pin's thread wake each other for this many packets at a time, not for each:
// a pin waiting for packets is woken once this many were read (or the reader is about to wait
// or ends), and a reader waiting for room once the pin has taken this many.
constexpr size_t kHandOffBatch = 8;

// A demultiplexed packet, kept as the demuxer gave it: its bytes go downstream by reference.
using PacketRef = std::shared_ptr<AVPacket>;

PacketRef TakePacket(AVPacket* from) {
  AVPacket* taken = av_packet_alloc();
  if (!taken) return nullptr;
  av_packet_move_ref(taken, from);
  return PacketRef(taken, [](AVPacket* p) { av_packet_free(&p); });
}

struct Packet {
  PacketRef data;
  REFERENCE_TIME start = 0, stop = 0;
  bool sync = false, preroll = false, discontinuity = false;
  bool endOfStream = false;
};

// Forwards every seeking call to its filter, so a graph may ask any pin.
template <typename Base>
class TSeekingForwarder : public IMediaSeeking {
 public:
  explicit TSeekingForwarder(IMediaSeeking* target) : target_(target) {}
  HRESULT GetCapabilities(DWORD* c) override { return target_->GetCapabilities(c); }
  HRESULT CheckCapabilities(DWORD* c) override { return target_->CheckCapabilities(c); }
  HRESULT IsFormatSupported(const GUID* f) override { return target_->IsFormatSupported(f); }
  HRESULT QueryPreferredFormat(GUID* f) override { return target_->QueryPreferredFormat(f); }
  HRESULT GetTimeFormat(GUID* f) override { return target_->GetTimeFormat(f); }
  HRESULT IsUsingTimeFormat(const GUID* f) override { return target_->IsUsingTimeFormat(f); }
  HRESULT SetTimeFormat(const GUID* f) override { return target_->SetTimeFormat(f); }
  HRESULT GetDuration(LONGLONG* d) override { return target_->GetDuration(d); }
  HRESULT GetStopPosition(LONGLONG* s) override { return target_->GetStopPosition(s); }
  HRESULT GetCurrentPosition(LONGLONG* c) override { return target_->GetCurrentPosition(c); }
  HRESULT ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s, const GUID* sf) override {
    return target_->ConvertTimeFormat(t, tf, s, sf);
  }
  HRESULT SetPositions(LONGLONG* c, DWORD cf, LONGLONG* s, DWORD sf) override { return target_->SetPositions(c, cf, s, sf); }
  HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override { return target_->GetPositions(c, s); }
  HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override { return target_->GetAvailable(e, l); }
  HRESULT SetRate(double r) override { return target_->SetRate(r); }
  HRESULT GetRate(double* r) override { return target_->GetRate(r); }
  HRESULT GetPreroll(LONGLONG* p) override { return target_->GetPreroll(p); }

 private:
  IMediaSeeking* target_;
};

class CStreamPin final : public CPushPin, public TSeekingForwarder<CStreamPin> {
 public:
  CStreamPin(CBaseFilter* filter, std::recursive_mutex* lock, IMediaSeeking* seeking, const std::u16string& name,
             int streamIndex, CMediaType type, LONG bufferSize)
      : CPushPin("file source pin", filter, lock, name.c_str()),
        TSeekingForwarder<CStreamPin>(seeking),
        streamIndex_(streamIndex),
        type_(std::move(type)),
        bufferSize_(bufferSize) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
    return CPushPin::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT CheckMediaType(const CMediaType* type) override {
    if (!type) return E_POINTER;
    return type->majortype == type_.majortype && type->subtype == type_.subtype && type->formattype == type_.formattype &&
                   type->cbFormat == type_.cbFormat &&
                   (type_.cbFormat == 0 || std::memcmp(type->pbFormat, type_.pbFormat, type_.cbFormat) == 0)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = type_;
    return S_OK;
  }

  int StreamIndex() const { return streamIndex_; }
  const CMediaType& StoredType() const { return type_; }

  /**
   * @brief Queues a packet; waits while the queue is full unless the pin stops, calling
   * beforeWait first (the reader wakes every pin before it sleeps). The pin's thread is woken
   * by Hand() or, for the end of the stream, at once. False when stopping.
   */
  template <typename BeforeWait>
  bool Push(Packet packet, const std::atomic<bool>& cancel, BeforeWait&& beforeWait) {
    std::unique_lock lock(queueLock_);
    if (queue_.size() >= kQueueLimit) {
      lock.unlock();
      beforeWait();
      lock.lock();
      readerWaiting_ = true;
      queueChanged_.wait(lock, [&] { return queue_.size() < kQueueLimit || cancel || StopRequested() || !IsStreaming(); });
      readerWaiting_ = false;
    }
    if (cancel) return false;
    if (StopRequested() || !IsStreaming()) return true;  // nobody takes it; drop it
    const bool last = packet.endOfStream;
    queue_.push_back(std::move(packet));
    if (last && pinWaiting_) queueChanged_.notify_all();
    return true;
  }
  /** @brief Wakes the pin's thread when it waits for packets that are queued. */
  void Hand() {
    std::lock_guard lock(queueLock_);
    if (pinWaiting_ && !queue_.empty()) queueChanged_.notify_all();
  }
  void ClearQueue() {
    std::lock_guard lock(queueLock_);
    queue_.clear();
    queueChanged_.notify_all();
  }
  void WakeQueue() {
    std::lock_guard lock(queueLock_);
    queueChanged_.notify_all();
  }
  void Restart() { StartThread(); }
  void Halt() {
    {
      std::lock_guard lock(queueLock_);
      queueChanged_.notify_all();
    }
    StopThread();
    ClearQueue();
  }
  HRESULT Inactive() override {
    WakeQueue();
    const HRESULT hr = CPushPin::Inactive();
    ClearQueue();
    return hr;
  }

 protected:
  void OnStopRequested() override { WakeQueue(); }
  LONG FrameBufferSize() override { return bufferSize_; }
  LONG BufferCount() override { return 4; }

  HRESULT FillBuffer(IMediaSample* sample) override {
    Packet packet;
    {
      std::unique_lock lock(queueLock_);
      if (queue_.empty() && !StopRequested()) {
        pinWaiting_ = true;
        queueChanged_.wait(lock, [&] { return !queue_.empty() || StopRequested(); });
        pinWaiting_ = false;
      }
      if (StopRequested()) return VFW_S_NO_MORE_ITEMS;
      packet = std::move(queue_.front());
      queue_.pop_front();
      if (readerWaiting_ && queue_.size() <= kQueueLimit - kHandOffBatch) queueChanged_.notify_all();
    }
    if (packet.endOfStream) return S_FALSE;
    AVPacket* stored = packet.data.get();
    const LONG length = stored->size;
    // Our allocator's samples carry the packet itself; any other sample gets a copy.
    ComPtr<ISharedSampleData> shared;
    if (stored->buf && SUCCEEDED(sample->QueryInterface(IID_ISharedSampleData, shared.PutVoid())) && shared) {
      shared->AttachData(stored->data, length, std::move(packet.data));
    } else {
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      if (length > sample->GetSize()) return VFW_S_NO_MORE_ITEMS;  // cannot happen: buffers fit the largest frame
      if (length > 0) std::memcpy(data, stored->data, static_cast<size_t>(length));
      sample->SetActualDataLength(length);
    }
    sample->SetTime(&packet.start, &packet.stop);
    sample->SetSyncPoint(packet.sync);
    sample->SetPreroll(packet.preroll);
    sample->SetDiscontinuity(packet.discontinuity);
    return S_OK;
  }

 private:
  int streamIndex_;
  CMediaType type_;
  LONG bufferSize_;
  std::mutex queueLock_;
  std::condition_variable queueChanged_;
  std::deque<Packet> queue_;
  bool pinWaiting_ = false;     // the pin's thread waits for a packet
  bool readerWaiting_ = false;  // the reader waits for room
};

// The type of a raw DV file, from the packs of its first frame.
CMediaType InterleavedDvTypeOf(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return CMediaType();
  const QByteArray first = file.read(144000);
  DVINFO info{};
  DvGeometry geometry;
  if (!ReadDvInfo(reinterpret_cast<const uint8_t*>(first.constData()), static_cast<size_t>(first.size()), &info, &geometry))
    return CMediaType();
  return MakeInterleavedDvType(info, geometry);
}

class CFileSource final : public CDeviceFilter, public IFileSourceFilter, public IMediaSeeking {
 public:
  explicit CFileSource(IUnknown* outer) : CDeviceFilter("file source", outer, CLSID_KestromFileSource) {}
  ~CFileSource() override {
    Stop();
    pins_.clear();
    avformat_close_input(&format_);
  }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), object);
    if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
    return CDeviceFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override { return static_cast<int>(pins_.size()); }
  CBasePin* GetPin(int n) override { return n >= 0 && n < GetPinCount() ? pins_[static_cast<size_t>(n)].get() : nullptr; }

  // ---- IFileSourceFilter ----

  HRESULT Load(LPCWSTR fileName, const AM_MEDIA_TYPE*) override {
    if (!fileName) return E_POINTER;
    std::lock_guard lock(*lock_);
    if (format_) return E_UNEXPECTED;  // one file per source
    const QString path = QString::fromUtf16(fileName);
    if (!QFile::exists(path)) return HRESULT(0x80070002);  // file not found
    AVFormatContext* format = nullptr;
    int rc = avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (rc < 0) return VFW_E_INVALID_FILE_FORMAT;
    rc = avformat_find_stream_info(format, nullptr);
    if (rc < 0) {
      avformat_close_input(&format);
      return VFW_E_INVALID_FILE_FORMAT;
    }
    std::vector<std::unique_ptr<CStreamPin>> pins;
    // A raw DV file is interleaved DV: each of FFmpeg's video packets is a whole frame, sound
    // included, and goes out as it is on one pin.
    const bool rawDv = std::strcmp(format->iformat->name, "dv") == 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
      AVStream* stream = format->streams[i];
      if (rawDv) {
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || videoStream_ >= 0) continue;
        CMediaType type = InterleavedDvTypeOf(path);
        if (type.majortype == GUID_NULL) continue;
        const LONG size = static_cast<LONG>(type.lSampleSize);
        pins.push_back(std::make_unique<CStreamPin>(this, lock_, static_cast<IMediaSeeking*>(this), u"DV A/V Out", static_cast<int>(i),
                                                    std::move(type), size));
        videoStream_ = static_cast<int>(i);
        continue;
      }
      const CMediaType type = MediaTypeOfStream(stream);
      if (type.majortype == GUID_NULL) continue;
      const bool video = type.majortype == MEDIATYPE_Video;
      // Every frame must fit one buffer: the largest frame of the index, else a generous guess.
      int64_t largest = 0;
      const int entries = avformat_index_get_entries_count(stream);
      for (int e = 0; e < entries; ++e) largest = std::max<int64_t>(largest, avformat_index_get_entry(stream, e)->size);
      const int64_t guess = video ? int64_t{stream->codecpar->width} * stream->codecpar->height * 4 + 65536 : 1 << 20;
      const LONG size = static_cast<LONG>(std::min<int64_t>(std::max(largest + 4096, guess), 256 << 20));
      const int number = static_cast<int>(std::count_if(pins.begin(), pins.end(), [&](const auto& p) {
        return p->StoredType().majortype == type.majortype;
      }));
      std::u16string name = video ? u"Video" : u"Audio";
      if (number > 0) name += u" " + std::u16string(1, static_cast<char16_t>(u'0' + std::min(number, 9)));
      pins.push_back(std::make_unique<CStreamPin>(this, lock_, static_cast<IMediaSeeking*>(this), name, static_cast<int>(i), type, size));
      if (video && videoStream_ < 0) videoStream_ = static_cast<int>(i);
    }
    if (pins.empty()) {
      avformat_close_input(&format);
      return VFW_E_UNSUPPORTED_STREAM;
    }
    format_ = format;
    pins_ = std::move(pins);
    path_ = path;
    duration_ = format_->duration > 0 ? av_rescale_q(format_->duration, AV_TIME_BASE_Q, kReferenceTimeBase) : 0;
    CountFramesThere();
    stop_ = duration_;
    return S_OK;
  }

  HRESULT GetCurFile(LPWSTR* fileName, AM_MEDIA_TYPE* type) override {
    if (!fileName) return E_POINTER;
    std::lock_guard lock(*lock_);
    *fileName = nullptr;
    if (!format_) return E_FAIL;
    if (const HRESULT hr = CopyToTaskMemory(path_, fileName); FAILED(hr)) return hr;
    if (type) {
      std::memset(type, 0, sizeof *type);
      type->majortype = MEDIATYPE_Stream;
    }
    return S_OK;
  }

  // ---- states ----

  HRESULT Pause() override {
    std::lock_guard lock(*lock_);
    const bool starting = State() == State_Stopped;
    const HRESULT hr = CDeviceFilter::Pause();
    if (FAILED(hr) || !starting) return hr;
    for (const auto& pin : pins_)
      if (pin->IsConnected()) pin->DeliverNewSegment(start_, stop_, rate_);
    discontinuity_ = true;
    StartReading();
    return hr;
  }

  HRESULT Stop() override {
    std::lock_guard lock(*lock_);
    StopReading();
    const HRESULT hr = CDeviceFilter::Stop();
    // A stopped source starts again where it stopped being asked to: at the start position.
    if (format_) Reposition(start_);
    return hr;
  }

  // ---- IMediaSeeking ----

  HRESULT GetCapabilities(DWORD* capabilities) override {
    if (!capabilities) return E_POINTER;
    *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                    AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    return S_OK;
  }
  HRESULT CheckCapabilities(DWORD* capabilities) override {
    if (!capabilities) return E_POINTER;
    DWORD ours = 0;
    GetCapabilities(&ours);
    const DWORD asked = *capabilities;
    *capabilities &= ours;
    return *capabilities == asked ? S_OK : *capabilities ? S_FALSE : E_FAIL;
  }
  HRESULT IsFormatSupported(const GUID* format) override {
    if (!format) return E_POINTER;
    if (*format == TIME_FORMAT_MEDIA_TIME) return S_OK;
    return *format == TIME_FORMAT_FRAME && FrameRate().num > 0 ? S_OK : S_FALSE;
  }
  HRESULT QueryPreferredFormat(GUID* format) override {
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  HRESULT GetTimeFormat(GUID* format) override {
    if (!format) return E_POINTER;
    std::lock_guard lock(*lock_);
    *format = timeFormat_;
    return S_OK;
  }
  HRESULT IsUsingTimeFormat(const GUID* format) override {
    if (!format) return E_POINTER;
    std::lock_guard lock(*lock_);
    return *format == timeFormat_ ? S_OK : S_FALSE;
  }
  HRESULT SetTimeFormat(const GUID* format) override {
    if (!format) return E_POINTER;
    if (IsFormatSupported(format) != S_OK) return E_INVALIDARG;
    std::lock_guard lock(*lock_);
    timeFormat_ = *format;
    return S_OK;
  }
  HRESULT GetDuration(LONGLONG* duration) override {
    if (!duration) return E_POINTER;
    std::lock_guard lock(*lock_);
    if (!format_) return E_UNEXPECTED;
    *duration = timeFormat_ == TIME_FORMAT_FRAME ? FrameCount() : duration_;
    return S_OK;
  }
  HRESULT GetStopPosition(LONGLONG* stop) override {
    if (!stop) return E_POINTER;
    std::lock_guard lock(*lock_);
    *stop = ToFormat(stop_);
    return S_OK;
  }
  HRESULT GetCurrentPosition(LONGLONG* current) override {
    if (!current) return E_POINTER;
    std::lock_guard lock(*lock_);
    *current = ToFormat(std::clamp<REFERENCE_TIME>(position_.load(), start_, stop_));
    return S_OK;
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source, const GUID* sourceFormat) override {
    if (!target) return E_POINTER;
    std::lock_guard lock(*lock_);
    const GUID from = sourceFormat ? *sourceFormat : timeFormat_;
    const GUID to = targetFormat ? *targetFormat : timeFormat_;
    REFERENCE_TIME time = 0;
    if (from == TIME_FORMAT_MEDIA_TIME) time = source;
    else if (from == TIME_FORMAT_FRAME && FrameRate().num > 0) time = FrameToTime(source);
    else return E_INVALIDARG;
    if (to == TIME_FORMAT_MEDIA_TIME) *target = time;
    else if (to == TIME_FORMAT_FRAME && FrameRate().num > 0) *target = TimeToFrame(time);
    else return E_INVALIDARG;
    return S_OK;
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override {
    std::lock_guard lock(*lock_);
    if (!format_) return E_UNEXPECTED;
    REFERENCE_TIME newStart = start_, newStop = stop_;
    const DWORD currentMode = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = stopFlags & AM_SEEKING_PositioningBitsMask;
    if (currentMode != AM_SEEKING_NoPositioning) {
      if (!current) return E_POINTER;
      const REFERENCE_TIME t = FromFormat(*current);
      newStart = currentMode == AM_SEEKING_AbsolutePositioning ? t : position_.load() + t;
    }
    if (stopMode != AM_SEEKING_NoPositioning) {
      if (!stop) return E_POINTER;
      const REFERENCE_TIME t = FromFormat(*stop);
      newStop = stopMode == AM_SEEKING_AbsolutePositioning ? t : stopMode == AM_SEEKING_RelativePositioning ? stop_ + t : newStart + t;
    }
    newStart = std::clamp<REFERENCE_TIME>(newStart, 0, duration_);
    newStop = std::clamp<REFERENCE_TIME>(newStop, newStart, duration_);
    if (currentFlags & AM_SEEKING_ReturnTime && current) *current = ToFormat(newStart);
    if (stopFlags & AM_SEEKING_ReturnTime && stop) *stop = ToFormat(newStop);
    const bool moved = currentMode != AM_SEEKING_NoPositioning;
    stop_ = newStop;
    if (!moved) return S_OK;
    start_ = newStart;
    if (State() == State_Stopped) {
      Reposition(start_);
      return S_OK;
    }
    // Flush what is on its way, move, and start a new segment from the new position.
    StopReading();
    for (const auto& pin : pins_) {
      if (!pin->IsConnected()) continue;
      pin->DeliverBeginFlush();
      pin->Halt();
      pin->DeliverEndFlush();
    }
    Reposition(start_);
    for (const auto& pin : pins_) {
      if (!pin->IsConnected()) continue;
      pin->DeliverNewSegment(start_, stop_, rate_);
      pin->Restart();
    }
    discontinuity_ = true;
    StartReading();
    return S_OK;
  }
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override {
    if (current) GetCurrentPosition(current);
    if (stop) GetStopPosition(stop);
    return S_OK;
  }
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
    std::lock_guard lock(*lock_);
    if (earliest) *earliest = 0;
    if (latest) *latest = ToFormat(duration_);
    return S_OK;
  }
  HRESULT SetRate(double rate) override {
    if (!(rate > 0.0) || rate > 100.0) return E_INVALIDARG;
    std::lock_guard lock(*lock_);
    rate_ = rate;
    return S_OK;
  }
  HRESULT GetRate(double* rate) override {
    if (!rate) return E_POINTER;
    std::lock_guard lock(*lock_);
    *rate = rate_;
    return S_OK;
  }
  HRESULT GetPreroll(LONGLONG* preroll) override {
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
  }

 private:
  AVRational FrameRate() const {
    if (videoStream_ < 0 || !format_) return {0, 1};
    const AVStream* s = format_->streams[videoStream_];
    return s->avg_frame_rate.num > 0 ? s->avg_frame_rate : s->r_frame_rate;
  }
  // Frames of the video stream: the index's count where it has one (as a recording's index
  // lists every frame), else the stream's own count, else from the duration. A file without an
  // index (an OpenDML file within its first part carries none) gives the reader an index only of
  // the frames it has read so far: fewer than the stream's header counts, so never taken.
  int64_t FrameCount() const {
    if (videoStream_ < 0) return 0;
    if (framesThere_ >= 0) return framesThere_;
    const AVStream* s = format_->streams[videoStream_];
    const int entries = avformat_index_get_entries_count(s);
    if (entries > 0 && entries >= s->nb_frames && std::strcmp(format_->iformat->name, "avi") == 0) return entries;
    if (s->nb_frames > 0) return s->nb_frames;
    return TimeToFrame(duration_);
  }
  REFERENCE_TIME FrameToTime(int64_t frame) const {
    const AVRational r = FrameRate();
    return av_rescale(frame, int64_t{r.den} * 10000000, r.num);
  }
  int64_t TimeToFrame(REFERENCE_TIME time) const {
    const AVRational r = FrameRate();
    return av_rescale_rnd(time, r.num, int64_t{r.den} * 10000000, AV_ROUND_NEAR_INF);
  }
  // An AVI header may promise frames the file does not hold (a copy broken off, a full disk),
  // and the duration is then a guess from the bytes. Without a whole index the chunk headers of
  // the file are walked (no picture is read): the whole video chunks there, empty ones included,
  // are its frames, and the duration is theirs.
  void CountFramesThere() {
    if (videoStream_ < 0 || videoStream_ > 99 || std::strcmp(format_->iformat->name, "avi") != 0) return;
    const AVStream* s = format_->streams[videoStream_];
    if (s->nb_frames <= 0 || avformat_index_get_entries_count(s) >= s->nb_frames) return;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return;
    const qint64 size = file.size();
    const QByteArray stream = QByteArray::number(videoStream_).rightJustified(2, '0');
    const auto header = [&](qint64 at, QByteArray& id, quint32& length) {
      if (!file.seek(at)) return false;
      const QByteArray bytes = file.read(8);
      if (bytes.size() < 8) return false;
      id = bytes.left(4);
      length = qFromLittleEndian<quint32>(bytes.constData() + 4);
      return true;
    };
    int64_t whole = 0;
    qint64 at = 12;  // after the file's RIFF header
    QByteArray id;
    quint32 length = 0;
    while (whole <= s->nb_frames && header(at, id, length)) {
      if (id == "RIFF" || id == "LIST") {
        file.seek(at + 8);
        const QByteArray type = file.read(4);
        // Into the parts and lists that hold chunks; past the others.
        at += type == "AVIX" || type == "movi" || type == "rec " || id == "RIFF" ? 12 : 8 + qint64{length} + (length & 1);
        continue;
      }
      if (at + 8 + qint64{length} > size) break;  // the chunk was cut off
      if (id.startsWith(stream) && (id.endsWith("dc") || id.endsWith("db"))) ++whole;
      at += 8 + qint64{length} + (length & 1);
    }
    if (whole >= s->nb_frames) return;  // all there: the header's count stands
    framesThere_ = whole;
    if (FrameRate().num > 0) duration_ = FrameToTime(whole);
  }
  LONGLONG ToFormat(REFERENCE_TIME time) const { return timeFormat_ == TIME_FORMAT_FRAME ? TimeToFrame(time) : time; }
  REFERENCE_TIME FromFormat(LONGLONG value) const { return timeFormat_ == TIME_FORMAT_FRAME ? FrameToTime(value) : value; }

  void Reposition(REFERENCE_TIME start) {
    const int64_t target = av_rescale_q(start, kReferenceTimeBase, AV_TIME_BASE_Q) + std::max<int64_t>(0, format_->start_time);
    // Back to the keyframe at or before the target; the frames before it go out as preroll.
    avformat_seek_file(format_, -1, INT64_MIN, target, target, AVSEEK_FLAG_BACKWARD);
    position_ = start;
  }

  void StartReading() {
    cancel_ = false;
    reader_ = std::thread([this] { ReadLoop(); });
  }

  void StopReading() {
    if (!reader_.joinable()) return;
    cancel_ = true;
    for (const auto& pin : pins_) pin->WakeQueue();
    reader_.join();
  }

  // Reads packets and hands each to the pin of its stream; pins without a connection skip them.
  void ReadLoop() {
    AVPacket* packet = av_packet_alloc();
    if (!packet) return;
    const REFERENCE_TIME start = start_, stop = stop_;
    const double rate = rate_;
    bool discontinuity = discontinuity_;
    std::vector<bool> ended(pins_.size(), false);
    // In an AVI an empty video chunk is a frame the capture dropped: it keeps its position and shows
    // the frame before it. FFmpeg skips such chunks, so the gap in the frame numbers tells them.
    const bool avi = std::strcmp(format_->iformat->name, "avi") == 0;
    std::vector<int64_t> nextFrame(pins_.size(), AV_NOPTS_VALUE);
    std::vector<PacketRef> lastFrame(pins_.size());
    size_t unhanded = 0;
    const auto handAll = [&] {
      unhanded = 0;
      for (const auto& pin : pins_) pin->Hand();
    };
    while (!cancel_) {
      const int rc = av_read_frame(format_, packet);
      if (rc < 0) break;  // end of file or a damaged tail: the stream ends there
      for (size_t i = 0; i < pins_.size(); ++i) {
        CStreamPin* pin = pins_[i].get();
        if (pin->StreamIndex() != packet->stream_index || ended[i] || !pin->IsConnected()) continue;
        const AVStream* stream = format_->streams[packet->stream_index];
        int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (ts == AV_NOPTS_VALUE) ts = 0;
        const int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        const REFERENCE_TIME t = av_rescale_q(ts - origin, stream->time_base, kReferenceTimeBase);
        const REFERENCE_TIME d = packet->duration > 0 ? av_rescale_q(packet->duration, stream->time_base, kReferenceTimeBase) : 1;
        if (t >= stop && stop < duration_) {
          ended[i] = true;
          pin->Push(Packet{{}, 0, 0, false, false, false, true}, cancel_, handAll);
          continue;
        }
        const bool dropMarks = avi && static_cast<int>(packet->stream_index) == videoStream_ && packet->pts != AV_NOPTS_VALUE;
        if (dropMarks && nextFrame[i] != AV_NOPTS_VALUE && packet->pts > nextFrame[i]) {
          bool pushed = true;
          for (int64_t n = nextFrame[i]; n < packet->pts && pushed && !cancel_; ++n)
            pushed = PushDroppedFrame(pin, stream, n, start, stop, rate, lastFrame[i], discontinuity, handAll);
          if (!pushed) break;
        }
        if (dropMarks) nextFrame[i] = packet->pts + 1;
        Packet p;
        p.data = TakePacket(packet);
        if (!p.data) {
          cancel_ = true;  // out of memory: the stream ends here
          break;
        }
        if (dropMarks) lastFrame[i] = p.data;
        p.start = static_cast<REFERENCE_TIME>((t - start) / rate);
        p.stop = p.start + std::max<REFERENCE_TIME>(1, static_cast<REFERENCE_TIME>(d / rate));
        p.sync = (p.data->flags & AV_PKT_FLAG_KEY) != 0;
        p.preroll = t < start;
        p.discontinuity = discontinuity;
        discontinuity = false;
        if (!p.preroll) position_ = t;
        if (!pin->Push(std::move(p), cancel_, handAll)) break;
        break;  // one pin per stream
      }
      av_packet_unref(packet);
      if (++unhanded >= kHandOffBatch) handAll();
      if (std::all_of(ended.begin(), ended.end(), [](bool e) { return e; })) break;
    }
    av_packet_free(&packet);
    handAll();
    if (cancel_) return;
    for (size_t i = 0; i < pins_.size(); ++i)
      if (!ended[i] && pins_[i]->IsConnected()) pins_[i]->Push(Packet{{}, 0, 0, false, false, false, true}, cancel_, handAll);
    handAll();
  }

  // A dropped frame at position n of the stream: a frame coded on its own goes out again as it is;
  // a frame that depends on others goes out empty, and the decoder repeats its last picture.
  template <typename HandAll>
  bool PushDroppedFrame(CStreamPin* pin, const AVStream* stream, int64_t n, REFERENCE_TIME start, REFERENCE_TIME stop,
                        double rate, const PacketRef& last, bool& discontinuity, HandAll&& handAll) {
    const int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const REFERENCE_TIME t = av_rescale_q(n - origin, stream->time_base, kReferenceTimeBase);
    if (t >= stop && stop < duration_) return true;
    const REFERENCE_TIME d = av_rescale_q(1, stream->time_base, kReferenceTimeBase);
    const AVCodecDescriptor* codec = avcodec_descriptor_get(stream->codecpar->codec_id);
    const bool intraOnly = codec && (codec->props & AV_CODEC_PROP_INTRA_ONLY);
    Packet p;
    if (intraOnly && last) {
      p.data = last;
    } else {
      AVPacket* empty = av_packet_alloc();
      if (!empty) return false;
      p.data = PacketRef(empty, [](AVPacket* e) { av_packet_free(&e); });
    }
    p.start = static_cast<REFERENCE_TIME>((t - start) / rate);
    p.stop = p.start + std::max<REFERENCE_TIME>(1, static_cast<REFERENCE_TIME>(d / rate));
    p.sync = intraOnly && last;
    p.preroll = t < start;
    p.discontinuity = discontinuity;
    discontinuity = false;
    if (!p.preroll) position_ = t;
    return pin->Push(std::move(p), cancel_, handAll);
  }

  AVFormatContext* format_ = nullptr;
  std::vector<std::unique_ptr<CStreamPin>> pins_;
  QString path_;
  int videoStream_ = -1;
  int64_t framesThere_ = -1;  // the whole frames of a file that holds fewer than its header promises
  REFERENCE_TIME duration_ = 0;
  REFERENCE_TIME start_ = 0, stop_ = 0;
  std::atomic<REFERENCE_TIME> position_{0};
  double rate_ = 1.0;
  GUID timeFormat_ = TIME_FORMAT_MEDIA_TIME;
  bool discontinuity_ = false;
  std::thread reader_;
  std::atomic<bool> cancel_{false};
};

}  // namespace

CUnknown* CreateFileSource(IUnknown* outer, HRESULT* hr) {
  auto* source = new (std::nothrow) CFileSource(outer);
  if (!source && hr) *hr = E_OUTOFMEMORY;
  return source;
}

}  // namespace kestrom::dshow
