#include "platform/dshow/sources/Mpeg2Demultiplexer.h"

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/sources/DvMpegInterfaces.h"
#include "platform/dshow/sources/GraphInterfaces.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace kestrom::dshow {

using namespace com;

namespace {

constexpr AVRational kReferenceTimeBase{1, 10000000};
// Bytes of the stream held before the upstream filter is made to wait.
constexpr size_t kQueueLimit = 4 << 20;
// A pack stream id: private stream 1, whose substreams are told apart by a filter value.
constexpr ULONG kPrivateStream1 = 0xBD;

class CDemux;

class CStreamIdMapEnum final : public CUnknown, public IEnumStreamIdMap {
 public:
  CStreamIdMapEnum(std::vector<STREAM_ID_MAP> maps, size_t position)
      : CUnknown("stream id map enumerator", nullptr), maps_(std::move(maps)), position_(position) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IEnumStreamIdMap) return GetInterface(static_cast<IEnumStreamIdMap*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT Next(ULONG count, STREAM_ID_MAP* maps, ULONG* received) override {
    if (!maps) return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < maps_.size()) maps[n++] = maps_[position_++];
    if (received) *received = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    position_ = std::min(maps_.size(), position_ + count);
    return position_ < maps_.size() ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumStreamIdMap** clone) override {
    if (!clone) return E_POINTER;
    auto* copy = new (std::nothrow) CStreamIdMapEnum(maps_, position_);
    if (!copy) return E_OUTOFMEMORY;
    return copy->NonDelegatingQueryInterface(IID_IEnumStreamIdMap, reinterpret_cast<void**>(clone));
  }

 private:
  std::vector<STREAM_ID_MAP> maps_;
  size_t position_;
};

class CDemuxOutputPin final : public CBaseOutputPin, public IMPEG2StreamIdMap {
 public:
  CDemuxOutputPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const CMediaType& type)
      : CBaseOutputPin("MPEG-2 demultiplexer output", filter, lock, nullptr, name), type_(type) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IMPEG2StreamIdMap) return GetInterface(static_cast<IMPEG2StreamIdMap*>(this), object);
    return CBaseOutputPin::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT CheckMediaType(const CMediaType* type) override {
    return type && *type == type_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = type_;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    // Whole coded frames: a picture of a broadcast stream stays well below 4 MB.
    const bool video = type_.majortype == MEDIATYPE_Video;
    const LONG bytes = video ? 4 << 20 : 256 << 10;
    request->cBuffers = std::max<LONG>(request->cBuffers, video ? 4 : 8);
    request->cbBuffer = std::max(request->cbBuffer, bytes);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < bytes ? E_FAIL : S_OK;
  }

  void SetType(const CMediaType& type) { type_ = type; }

  // ---- IMPEG2StreamIdMap ----

  HRESULT MapStreamId(ULONG streamId, DWORD content, ULONG substreamFilterValue, int32_t dataOffset) override {
    if (streamId > 0xFF || dataOffset < 0) return E_INVALIDARG;
    // Only the payload of the stream's packets is delivered; the other contents are not made here.
    if (content != MPEG2_PROGRAM_ELEMENTARY_STREAM) return E_NOTIMPL;
    std::lock_guard lock(mapLock_);
    std::erase_if(maps_, [&](const STREAM_ID_MAP& m) { return m.stream_id == streamId; });
    maps_.push_back({streamId, content, substreamFilterValue, dataOffset});
    return S_OK;
  }
  HRESULT UnmapStreamId(ULONG count, ULONG* streamIds) override {
    if (count && !streamIds) return E_POINTER;
    std::lock_guard lock(mapLock_);
    for (ULONG i = 0; i < count; ++i)
      std::erase_if(maps_, [&](const STREAM_ID_MAP& m) { return m.stream_id == streamIds[i]; });
    return S_OK;
  }
  HRESULT EnumStreamIdMap(IEnumStreamIdMap** maps) override {
    if (!maps) return E_POINTER;
    std::vector<STREAM_ID_MAP> copy;
    {
      std::lock_guard lock(mapLock_);
      copy = maps_;
    }
    auto* e = new (std::nothrow) CStreamIdMapEnum(std::move(copy), 0);
    if (!e) return E_OUTOFMEMORY;
    return e->NonDelegatingQueryInterface(IID_IEnumStreamIdMap, reinterpret_cast<void**>(maps));
  }

  /** @brief The map that takes a stream (a pack stream id, or 0xBD with a substream id); null when none. */
  bool Takes(ULONG streamId, int substream, int32_t* dataOffset) {
    std::lock_guard lock(mapLock_);
    for (const STREAM_ID_MAP& m : maps_) {
      if (m.stream_id != streamId) continue;
      if (streamId == kPrivateStream1 && substream >= 0 && m.ulSubstreamFilterValue != static_cast<ULONG>(substream)) continue;
      *dataOffset = m.iDataOffset;
      return true;
    }
    return false;
  }

 private:
  CMediaType type_;
  std::mutex mapLock_;
  std::vector<STREAM_ID_MAP> maps_;
};

class CDemuxInputPin final : public CBaseInputPin {
 public:
  CDemuxInputPin(CDemux* demux, std::recursive_mutex* lock);
  HRESULT CheckMediaType(const CMediaType* type) override {
    if (!type) return E_POINTER;
    return type->majortype == MEDIATYPE_Stream && type->subtype == MEDIASUBTYPE_MPEG2_PROGRAM ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;

 private:
  CDemux* demux_;
};

class CDemux final : public CBaseFilter, public IMpeg2Demultiplexer {
 public:
  explicit CDemux(IUnknown* outer)
      : CBaseFilter("MPEG-2 demultiplexer", outer, &filterLock_, CLSID_MPEG2Demultiplexer), input_(this, &filterLock_) {}
  ~CDemux() override { StopDemuxing(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IMpeg2Demultiplexer) return GetInterface(static_cast<IMpeg2Demultiplexer*>(this), object);
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
  }

  int GetPinCount() override {
    std::lock_guard lock(filterLock_);
    return 1 + static_cast<int>(outputs_.size());
  }
  CBasePin* GetPin(int n) override {
    std::lock_guard lock(filterLock_);
    if (n == 0) return &input_;
    return n > 0 && n <= static_cast<int>(outputs_.size()) ? outputs_[static_cast<size_t>(n - 1)].get() : nullptr;
  }

  // ---- IMpeg2Demultiplexer ----

  HRESULT CreateOutputPin(AM_MEDIA_TYPE* type, LPWSTR name, IPin** pin) override {
    if (!type || !name || !pin) return E_POINTER;
    *pin = nullptr;
    std::lock_guard lock(filterLock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    if (*name == 0 || Find(name)) return E_INVALIDARG;
    auto made = std::unique_ptr<CDemuxOutputPin>(new (std::nothrow) CDemuxOutputPin(this, &filterLock_, name, CMediaType(*type)));
    if (!made) return E_OUTOFMEMORY;
    outputs_.push_back(std::move(made));
    return outputs_.back()->NonDelegatingQueryInterface(IID_IPin, reinterpret_cast<void**>(pin));
  }

  HRESULT SetOutputPinMediaType(LPWSTR name, AM_MEDIA_TYPE* type) override {
    if (!type || !name) return E_POINTER;
    std::lock_guard lock(filterLock_);
    CDemuxOutputPin* pin = Find(name);
    if (!pin) return VFW_E_NOT_FOUND;
    if (pin->IsConnected()) return VFW_E_ALREADY_CONNECTED;
    pin->SetType(CMediaType(*type));
    return S_OK;
  }

  HRESULT DeleteOutputPin(LPWSTR name) override {
    if (!name) return E_POINTER;
    std::lock_guard lock(filterLock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    auto it = std::find_if(outputs_.begin(), outputs_.end(), [&](const auto& p) { return p->Name() == std::u16string(name); });
    if (it == outputs_.end()) return VFW_E_NOT_FOUND;
    if (IPin* peer = (*it)->GetConnected()) {
      ComPtr<IPin> held(peer);
      if (graph_) {
        graph_->Disconnect(held.Get());
        graph_->Disconnect(it->get());
      } else {
        held->Disconnect();
        (*it)->Disconnect();
      }
    }
    // A caller may still hold the pin: it lives on, out of the filter's list, as long as the filter.
    retired_.push_back(std::move(*it));
    outputs_.erase(it);
    return S_OK;
  }

  // ---- states ----

  HRESULT Pause() override {
    std::lock_guard lock(filterLock_);
    const bool starting = IsStopped();
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr) || !starting) return hr;
    if (input_.IsConnected()) StartDemuxing();
    return hr;
  }

  HRESULT Stop() override {
    std::lock_guard lock(filterLock_);
    StopDemuxing();
    return CBaseFilter::Stop();
  }

  // ---- from the input pin ----

  HRESULT Take(const BYTE* data, size_t size) {
    std::unique_lock lock(queueLock_);
    queueChanged_.wait(lock, [&] { return queued_ < kQueueLimit || stopping_ || flushing_; });
    if (stopping_ || flushing_) return S_FALSE;
    queue_.emplace_back(data, data + size);
    queued_ += size;
    queueChanged_.notify_all();
    return S_OK;
  }
  void EndOfInput() {
    std::lock_guard lock(queueLock_);
    inputEnded_ = true;
    queueChanged_.notify_all();
  }
  void BeginFlush() {
    {
      std::lock_guard lock(queueLock_);
      flushing_ = true;
      queueChanged_.notify_all();
    }
    for (CDemuxOutputPin* pin : ConnectedOutputs()) pin->DeliverBeginFlush();
    JoinThread();
  }
  void EndFlush() {
    {
      std::lock_guard lock(queueLock_);
      queue_.clear();
      queued_ = 0;
      flushing_ = false;
      inputEnded_ = false;
    }
    for (CDemuxOutputPin* pin : ConnectedOutputs()) pin->DeliverEndFlush();
    std::lock_guard lock(filterLock_);
    if (!IsStopped()) StartDemuxing();
  }

 private:
  CDemuxOutputPin* Find(LPCWSTR name) {
    const std::u16string wanted(name);
    for (const auto& p : outputs_)
      if (p->Name() == wanted) return p.get();
    return nullptr;
  }

  std::vector<CDemuxOutputPin*> ConnectedOutputs() {
    std::lock_guard lock(filterLock_);
    std::vector<CDemuxOutputPin*> result;
    for (const auto& p : outputs_)
      if (p->IsConnected()) result.push_back(p.get());
    return result;
  }

  void StartDemuxing() {
    JoinThread();
    {
      std::lock_guard lock(queueLock_);
      stopping_ = false;
      inputEnded_ = false;
      queue_.clear();
      queued_ = 0;
    }
    targets_ = ConnectedOutputs();
    std::lock_guard lock(threadLock_);
    thread_ = std::thread([this] { Demux(); });
  }

  void StopDemuxing() {
    {
      std::lock_guard lock(queueLock_);
      stopping_ = true;
      queueChanged_.notify_all();
    }
    JoinThread();
  }

  // A flush (the upstream thread) and a stop (the application's) may both wait for the thread.
  void JoinThread() {
    std::lock_guard lock(threadLock_);
    if (thread_.joinable()) thread_.join();
  }

  // The read callback of FFmpeg: waits for bytes from the input pin.
  static int ReadQueued(void* opaque, uint8_t* buffer, int wanted) {
    auto* self = static_cast<CDemux*>(opaque);
    std::unique_lock lock(self->queueLock_);
    self->queueChanged_.wait(lock, [&] { return !self->queue_.empty() || self->inputEnded_ || self->stopping_ || self->flushing_; });
    if (self->stopping_ || self->flushing_) return AVERROR_EXIT;
    if (self->queue_.empty()) return AVERROR_EOF;
    size_t given = 0;
    while (given < static_cast<size_t>(wanted) && !self->queue_.empty()) {
      std::vector<uint8_t>& front = self->queue_.front();
      const size_t n = std::min(front.size() - self->frontUsed_, static_cast<size_t>(wanted) - given);
      std::memcpy(buffer + given, front.data() + self->frontUsed_, n);
      given += n;
      self->frontUsed_ += n;
      if (self->frontUsed_ == front.size()) {
        self->queued_ -= front.size();
        self->queue_.pop_front();
        self->frontUsed_ = 0;
      }
    }
    self->queueChanged_.notify_all();
    return static_cast<int>(given);
  }

  void Demux() {
    constexpr int kBufferSize = 64 << 10;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kBufferSize, 0, this, &ReadQueued, nullptr, nullptr) : nullptr;
    if (!io) av_free(buffer);
    AVFormatContext* format = io ? avformat_alloc_context() : nullptr;
    bool complete = false;
    if (format) {
      format->pb = io;
      format->flags |= AVFMT_FLAG_CUSTOM_IO;
      static const AVInputFormat* const programStream = av_find_input_format("mpeg");
      if (avformat_open_input(&format, nullptr, programStream, nullptr) >= 0) {
        complete = ReadPackets(format);
        avformat_close_input(&format);
      }
    }
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    // At the end of the input (or when it could not be read) every output ends its stream;
    // a stop or a flush ends nothing.
    bool interrupted;
    {
      std::lock_guard lock(queueLock_);
      interrupted = stopping_ || flushing_;
    }
    if (!interrupted) {
      if (!complete) NotifyEvent(EC_ERRORABORT, VFW_E_INVALID_FILE_FORMAT, 0);
      for (CDemuxOutputPin* pin : targets_) pin->DeliverEndOfStream();
    }
  }

  // Delivers every packet of a mapped stream; true when the stream was read to its end.
  bool ReadPackets(AVFormatContext* format) {
    AVPacket* packet = av_packet_alloc();
    if (!packet) return false;
    int64_t origin = AV_NOPTS_VALUE;  // the first time stamp of the stream, in 100 ns units
    bool ended = false;
    for (;;) {
      const int rc = av_read_frame(format, packet);
      if (rc < 0) {
        ended = rc == AVERROR_EOF || avio_feof(format->pb);
        break;
      }
      const AVStream* stream = format->streams[packet->stream_index];
      // Pack stream ids are 0x1xx start codes; substreams of private stream 1 carry their own id.
      ULONG streamId = 0;
      int substream = -1;
      if (stream->id >= 0x100) streamId = static_cast<ULONG>(stream->id & 0xFF);
      else streamId = kPrivateStream1, substream = stream->id;
      int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      REFERENCE_TIME time = 0;
      const bool timed = ts != AV_NOPTS_VALUE;
      if (timed) {
        time = av_rescale_q(ts, stream->time_base, kReferenceTimeBase);
        if (origin == AV_NOPTS_VALUE) origin = time;
        time -= origin;
      }
      const REFERENCE_TIME duration =
          packet->duration > 0 ? av_rescale_q(packet->duration, stream->time_base, kReferenceTimeBase) : 1;
      for (CDemuxOutputPin* pin : targets_) {
        int32_t offset = 0;
        if (!pin->Takes(streamId, substream, &offset) || offset >= packet->size) continue;
        Deliver(pin, packet->data + offset, static_cast<size_t>(packet->size - offset), timed ? &time : nullptr,
                time + duration, (packet->flags & AV_PKT_FLAG_KEY) != 0);
      }
      av_packet_unref(packet);
      std::lock_guard lock(queueLock_);
      if (stopping_ || flushing_) break;
    }
    av_packet_free(&packet);
    return ended;
  }

  static void Deliver(CDemuxOutputPin* pin, const uint8_t* data, size_t size, REFERENCE_TIME* start, REFERENCE_TIME stop,
                      bool sync) {
    IMediaSample* out = nullptr;
    if (FAILED(pin->GetDeliveryBuffer(&out, nullptr, nullptr, 0)) || !out) return;
    BYTE* target = nullptr;
    out->GetPointer(&target);
    if (static_cast<size_t>(out->GetSize()) >= size) {
      std::memcpy(target, data, size);
      out->SetActualDataLength(static_cast<LONG>(size));
      out->SetTime(start, start ? &stop : nullptr);
      out->SetSyncPoint(sync);
      pin->Deliver(out);
    }
    out->Release();
  }

  std::recursive_mutex filterLock_;
  CDemuxInputPin input_;
  std::vector<std::unique_ptr<CDemuxOutputPin>> outputs_;
  std::vector<std::unique_ptr<CDemuxOutputPin>> retired_;
  std::vector<CDemuxOutputPin*> targets_;  // the connected outputs of the current run

  std::mutex queueLock_;
  std::condition_variable queueChanged_;
  std::deque<std::vector<uint8_t>> queue_;
  size_t queued_ = 0;
  size_t frontUsed_ = 0;
  bool inputEnded_ = false;
  bool stopping_ = false;
  bool flushing_ = false;
  std::mutex threadLock_;
  std::thread thread_;
};

CDemuxInputPin::CDemuxInputPin(CDemux* demux, std::recursive_mutex* lock)
    : CBaseInputPin("MPEG-2 demultiplexer input", demux, lock, nullptr, u"MPEG-2 Stream"), demux_(demux) {}

HRESULT CDemuxInputPin::Receive(IMediaSample* sample) {
  const HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();
  if (!data || length <= 0) return S_OK;
  return demux_->Take(data, static_cast<size_t>(length)) == S_OK ? S_OK : S_FALSE;
}

HRESULT CDemuxInputPin::EndOfStream() {
  if (CheckStreaming() != S_OK) return S_OK;
  demux_->EndOfInput();
  return S_OK;
}

HRESULT CDemuxInputPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  demux_->BeginFlush();
  return S_OK;
}

HRESULT CDemuxInputPin::EndFlush() {
  demux_->EndFlush();
  return CBaseInputPin::EndFlush();
}

}  // namespace

CUnknown* CreateMpeg2Demultiplexer(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CDemux(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

}  // namespace kestrom::dshow
