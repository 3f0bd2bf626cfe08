#include "platform/dshow/writers/AviMux.h"

#include "platform/com/ComRuntime.h"
#include "platform/core/FrameRate.h"
#include "platform/dshow/base/Allocator.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/StreamControl.h"
#include "platform/dshow/writers/AviRepair.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

namespace kestrom::dshow {

using namespace com;

namespace {
constexpr size_t kMaxInputs = 16;
constexpr LONG kOutputBufferSize = 1 << 18;
}  // namespace

struct CAviMux::StreamState {
  InputPin* pin = nullptr;
  int index = 0;
  bool video = false;
  REFERENCE_TIME frameTime = 400000;
  AVRational unit{1, 25};      // what pts counts: one frame, or one sample
  AVRational timeBase{1, 25};  // the container's
  int64_t nextPts = 0;
  int sampleRate = 0;
  int64_t bytesPerSecond = 0;
  AVCodecParameters* par = nullptr;  // owned by the muxer's stream
  bool ended = false;
  bool counted = false;     // the source numbers its frames (media times)
  int64_t countOffset = 0;  // pts minus the source's frame number
  std::vector<bool> keyFrames;  // of every non-empty packet, in order (to mend a cut-off file)
};

// ---- output pin ----

class CAviMux::OutputPin final : public CBaseOutputPin {
 public:
  OutputPin(CAviMux* mux, std::recursive_mutex* lock) : CBaseOutputPin("AVI mux output", mux, lock, nullptr, u"AVI Out") {}
  ~OutputPin() override { ReleaseStream(); }

  HRESULT CheckMediaType(const CMediaType* type) override {
    return type->majortype == MEDIATYPE_Stream && (type->subtype == MEDIASUBTYPE_Avi || type->subtype == GUID_NULL)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = CMediaType();
    type->SetType(MEDIATYPE_Stream);
    type->SetSubtype(MEDIASUBTYPE_Avi);
    type->SetFormatType(FORMAT_None);
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = 1;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = std::max<LONG>(request->cBuffers, 2);
    request->cbBuffer = std::max<LONG>(request->cbBuffer, kOutputBufferSize);
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }
  HRESULT CompleteConnect(IPin* receivePin) override {
    ReleaseStream();
    receivePin->QueryInterface(IID_IFileWriterStream, reinterpret_cast<void**>(&stream_));
    return CBaseOutputPin::CompleteConnect(receivePin);
  }
  HRESULT BreakConnect() override {
    ReleaseStream();
    return CBaseOutputPin::BreakConnect();
  }

  IFileWriterStream* Stream() const { return stream_; }

  // Without a stream interface downstream, bytes go as samples whose times are positions.
  HRESULT DeliverBytes(int64_t position, const uint8_t* data, int length) {
    while (length > 0) {
      IMediaSample* sample = nullptr;
      HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
      if (FAILED(hr)) return hr;
      BYTE* target = nullptr;
      sample->GetPointer(&target);
      const int n = std::min(length, int(sample->GetSize()));
      std::memcpy(target, data, size_t(n));
      sample->SetActualDataLength(n);
      REFERENCE_TIME start = position, stop = position + n;
      sample->SetTime(&start, &stop);
      hr = Deliver(sample);
      sample->Release();
      if (FAILED(hr)) return hr;
      data += n;
      length -= n;
      position += n;
    }
    return S_OK;
  }

 private:
  void ReleaseStream() {
    if (stream_) stream_->Release();
    stream_ = nullptr;
  }
  IFileWriterStream* stream_ = nullptr;
};

namespace {

// The file behind the writer's stream, as the mending of a cut-off AVI reads and writes it.
class StreamFile final : public AviRepairFile {
 public:
  explicit StreamFile(IFileWriterStream* stream) : stream_(stream) {}
  int64_t Read(int64_t position, uint8_t* data, int64_t length) override {
    LONG read = 0;
    return SUCCEEDED(stream_->ReadAt(position, data, LONG(length), &read)) ? read : -1;
  }
  bool Write(int64_t position, const uint8_t* data, int64_t length) override {
    return SUCCEEDED(stream_->WriteAt(position, data, LONG(length)));
  }
  int64_t Size() override {
    LONGLONG size = -1;
    return SUCCEEDED(stream_->GetSize(&size)) ? size : -1;
  }
  bool SetSize(int64_t size) override { return SUCCEEDED(stream_->SetSize(size)); }

 private:
  IFileWriterStream* stream_;
};

class OutputSink final : public ByteSink {
 public:
  explicit OutputSink(CAviMux::OutputPin* pin) : pin_(pin) {}
  HRESULT Write(int64_t position, const uint8_t* data, int length) override {
    if (IFileWriterStream* stream = pin_->Stream()) return stream->WriteAt(position, data, length);
    return pin_->DeliverBytes(position, data, length);
  }

 private:
  CAviMux::OutputPin* pin_;
};

}  // namespace

// ---- input pins ----

// Stream control lets the capture engine hold or release writing per stream. A stream of
// temporally compressed frames (re)starts at a key frame: a file that begins with a delta frame
// shows garbage until the next key frame.
class CAviMux::InputPin final : public CBaseInputPin, public CBaseStreamControl {
 public:
  InputPin(CAviMux* mux, std::recursive_mutex* lock, LPCWSTR name)
      : CBaseInputPin("AVI mux input", mux, lock, nullptr, name), CBaseStreamControl(mux, this), mux_(mux) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IAMStreamControl) return GetInterface(static_cast<IAMStreamControl*>(this), object);
    return CBaseInputPin::NonDelegatingQueryInterface(iid, object);
  }
  HRESULT Inactive() override {
    ResetStreamControl();
    awaitKeyFrame_ = true;
    return CBaseInputPin::Inactive();
  }

  HRESULT CheckMediaType(const CMediaType* type) override {
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par) return E_OUTOFMEMORY;
    const bool ok = CodecParametersFromMediaType(*type, par);
    avcodec_parameters_free(&par);
    return ok ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CompleteConnect(IPin* receivePin) override {
    const HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) mux_->InputConnected();
    return hr;
  }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    const bool temporal = CurrentMediaType().bTemporalCompression;
    if (CheckStreamState(sample) == STREAM_DISCARDING) {
      awaitKeyFrame_ = true;
      // Whenever writing starts, the frame it starts with should be a key frame.
      if (temporal) RequestKeyFrame();
      return S_OK;  // held: not written
    }
    if (awaitKeyFrame_ && temporal && sample->IsSyncPoint() != S_OK) {
      RequestKeyFrame();
      return S_OK;
    }
    awaitKeyFrame_ = false;
    return mux_->ReceiveFrom(this, sample);
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return mux_->EndOfStreamFrom(this);
  }
  // A live source keeps its own pace: the mux never blocks its thread on another stream.
  HRESULT ReceiveCanBlock() override { return S_FALSE; }

 private:
  // Asks the encoder upstream, when it takes such requests, to make its next frame a key frame.
  void RequestKeyFrame() {
    IPin* peer = GetConnected();
    if (!peer) return;
    ComPtr<IAMVideoCompression> compression;
    if (FAILED(peer->QueryInterface(IID_IAMVideoCompression, compression.PutVoid())) || !compression) {
      PIN_INFO info{};
      if (FAILED(peer->QueryPinInfo(&info)) || !info.pFilter) return;
      ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
      if (FAILED(filter->QueryInterface(IID_IAMVideoCompression, compression.PutVoid())) || !compression) return;
    }
    compression->OverrideKeyFrame(0);
  }

  CAviMux* mux_;
  std::atomic<bool> awaitKeyFrame_{true};  // streaming thread, and Inactive on the program's
};

// ---- filter ----

CAviMux::CAviMux(IUnknown* outer) : CBaseFilter("AVI mux", outer, &filterLock_, CLSID_AviDest) {
  output_ = std::make_unique<OutputPin>(this, &filterLock_);
  inputs_.push_back(std::make_unique<InputPin>(this, &filterLock_, u"Input 01"));
}

CAviMux::~CAviMux() {
  std::lock_guard lock(muxLock_);
  muxer_.Abort();
}

CUnknown* CAviMux::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CAviMux(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

HRESULT CAviMux::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IConfigAviMux) return GetInterface(static_cast<IConfigAviMux*>(this), object);
  if (iid == IID_IConfigInterleaving) return GetInterface(static_cast<IConfigInterleaving*>(this), object);
  if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

int CAviMux::GetPinCount() {
  std::lock_guard lock(filterLock_);
  return int(inputs_.size()) + 1;
}

CBasePin* CAviMux::GetPin(int n) {
  std::lock_guard lock(filterLock_);
  if (n == 0) return output_.get();
  if (n > 0 && size_t(n) <= inputs_.size()) return inputs_[size_t(n) - 1].get();
  return nullptr;
}

void CAviMux::InputConnected() {
  std::lock_guard lock(filterLock_);
  for (const auto& pin : inputs_)
    if (!pin->IsConnected()) return;  // a free input is still there
  if (inputs_.size() >= kMaxInputs) return;
  char16_t name[16];
  const int n = int(inputs_.size()) + 1;
  name[0] = u'I', name[1] = u'n', name[2] = u'p', name[3] = u'u', name[4] = u't', name[5] = u' ';
  name[6] = char16_t(u'0' + n / 10), name[7] = char16_t(u'0' + n % 10), name[8] = 0;
  inputs_.push_back(std::make_unique<InputPin>(this, &filterLock_, name));
}

HRESULT CAviMux::Pause() {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) {
    std::lock_guard mux(muxLock_);
    const HRESULT hr = StartFileLocked();
    if (FAILED(hr)) return hr;
  }
  return CBaseFilter::Pause();
}

HRESULT CAviMux::Stop() {
  std::lock_guard lock(filterLock_);
  HRESULT finished = S_OK;
  {
    std::lock_guard mux(muxLock_);
    finished = FinishFileLocked();
  }
  const HRESULT hr = CBaseFilter::Stop();
  return FAILED(finished) ? finished : hr;
}

HRESULT CAviMux::StartFileLocked() {
  streams_.clear();
  written_ = 0;
  originKnown_ = false;
  origin_ = 0;
  errorPosted_ = false;
  fileOpen_ = false;
  if (!output_->IsConnected()) return VFW_E_NOT_CONNECTED;
  sink_ = std::make_unique<OutputSink>(output_.get());
  HRESULT hr = muxer_.Open("avi", sink_.get());
  if (FAILED(hr)) return hr;
  // The file is written in large blocks, not one write per packet.
  muxer_.Context()->flush_packets = 0;
  for (const auto& pin : inputs_) {
    if (!pin->IsConnected()) continue;
    const CMediaType& mt = pin->CurrentMediaType();
    AVCodecParameters* par = avcodec_parameters_alloc();
    if (!par || !CodecParametersFromMediaType(mt, par)) {
      avcodec_parameters_free(&par);
      muxer_.Abort();
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    StreamState s;
    s.pin = pin.get();
    s.index = int(streams_.size());
    s.video = par->codec_type == AVMEDIA_TYPE_VIDEO;
    AVRational timeBase{1, 25};
    if (s.video) {
      s.frameTime = AvgTimePerFrame(mt) > 0 ? AvgTimePerFrame(mt) : 400000;
      // A frame time rounded from a common rate is stored as that rate (333,333 as 30/1).
      const core::RateFraction rate = core::FrameRateOfFrameTime(s.frameTime);
      av_reduce(&timeBase.num, &timeBase.den, rate.den, rate.num, 1 << 30);
    } else {
      // Sound coded in blocks counts in blocks: the container's tick is one block's samples. Left
      // to the byte rate the type states (which a file may get wrong), a tick can be longer than a
      // block, and two blocks in a row would fall on the same tick.
      if (par->frame_size <= 0 && par->block_align > 0) {
        const int perBlock = av_get_audio_frame_duration2(par, par->block_align);
        if (perBlock > 1) par->frame_size = perBlock;
      }
      s.sampleRate = par->sample_rate;
      s.bytesPerSecond = par->bit_rate / 8;
      timeBase = AVRational{1, par->sample_rate};
    }
    AVStream* st = muxer_.AddStream(par, timeBase);
    avcodec_parameters_free(&par);
    if (!st) {
      muxer_.Abort();
      return E_OUTOFMEMORY;
    }
    s.par = st->codecpar;
    s.unit = timeBase;
    streams_.push_back(s);
  }
  if (streams_.empty()) {
    muxer_.Abort();
    return VFW_E_NOT_CONNECTED;
  }
  if (mode_ != INTERLEAVE_NONE && mode_ != INTERLEAVE_NONE_BUFFERED)
    muxer_.Context()->max_interleave_delta = std::max<int64_t>(interleave_ / 10, 100000);  // microseconds
  if (IFileWriterStream* stream = output_->Stream()) {
    hr = stream->BeginSession();
    if (FAILED(hr)) {
      muxer_.Abort();
      return hr;
    }
  }
  hr = muxer_.WriteHeader();
  if (FAILED(hr)) {
    muxer_.Abort();
    if (IFileWriterStream* stream = output_->Stream()) stream->EndSession();
    return hr;
  }
  for (StreamState& s : streams_) s.timeBase = muxer_.Context()->streams[s.index]->time_base;
  fileOpen_ = true;
  return S_OK;
}

HRESULT CAviMux::FinishFileLocked() {
  if (!fileOpen_) return S_OK;
  fileOpen_ = false;
  IFileWriterStream* stream = output_->Stream();
  // The AVI 1.0 index stays whatever the compatibility setting: the muxer writes it for the first
  // RIFF list only, and a file that never grew past that list has no other index to seek by.
  HRESULT hr = FAILED(muxer_.SinkError()) ? muxer_.SinkError() : muxer_.Finish();
  if (FAILED(muxer_.SinkError()) && stream) {
    // Writing failed (the disk is full): what the muxer still held could not go out, and neither
    // could its index. The file keeps what reached the disk, mended into a whole AVI.
    const HRESULT failure = muxer_.SinkError();
    muxer_.Abort();
    std::vector<std::vector<bool>> keyFrames;
    for (const StreamState& s : streams_) keyFrames.push_back(s.keyFrames);
    StreamFile file(stream);
    RepairCutAvi(file, keyFrames);
    stream->EndSession();
    if (!errorPosted_) {
      errorPosted_ = true;
      Notify(EC_ERRORABORT, failure, 0);
    }
    return failure;
  }
  muxer_.Abort();
  if (stream) stream->EndSession();
  if (FAILED(hr) && !errorPosted_) {
    errorPosted_ = true;
    Notify(EC_ERRORABORT, hr, 0);
  }
  return hr;
}

HRESULT CAviMux::ReceiveFrom(InputPin* pin, IMediaSample* sample) {
  std::lock_guard lock(muxLock_);
  if (!fileOpen_) return S_FALSE;
  auto it = std::find_if(streams_.begin(), streams_.end(), [&](const StreamState& s) { return s.pin == pin; });
  if (it == streams_.end() || it->ended) return S_FALSE;
  StreamState& s = *it;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timed = sample->GetTime(&start, &stop);
  const bool hasStart = timed == S_OK || timed == VFW_S_NO_STOP_TIME;

  // The file's time begins with the first sample written: a stream started late by stream
  // control does not begin with empty frames.
  if (!originKnown_) {
    originKnown_ = true;
    origin_ = hasStart ? start : 0;
  }
  int64_t pts = 0, duration = 0;
  if (s.video) {
    // One chunk per frame time: a gap left by dropped frames is written as empty chunks. A
    // source that numbers its frames tells its drops by the numbers; judged by the times, a
    // frame late by half a frame would leave a gap and push every later frame one slot on.
    LONGLONG number = 0, numberEnd = 0;
    const bool counted = sample->GetMediaTime(&number, &numberEnd) == S_OK;
    pts = s.nextPts;
    if (counted && s.counted) pts = std::max<int64_t>(s.nextPts, number + s.countOffset);
    else if (hasStart) pts = std::max<int64_t>(s.nextPts, std::llround(double(start - origin_) / double(s.frameTime)));
    if (counted && !s.counted) {
      s.counted = true;
      s.countOffset = pts - number;
    }
    duration = 1;
    s.nextPts = pts + 1;
    stop = (pts + 1) * s.frameTime;
  } else {
    int samples = av_get_audio_frame_duration2(s.par, length);
    if (samples <= 0 && s.bytesPerSecond > 0) samples = int(int64_t(length) * s.sampleRate / s.bytesPerSecond);
    pts = s.nextPts;
    duration = samples;
    s.nextPts += samples;
    stop = av_rescale(s.nextPts, 10000000, s.sampleRate);
  }
  // pts counts frames (video) or samples (audio); the container may have chosen its own time base.
  const int64_t ptsTb = av_rescale_q(pts, s.unit, s.timeBase);
  const int64_t durTb = av_rescale_q(duration, s.unit, s.timeBase);
  const bool interleaved = mode_ != INTERLEAVE_NONE && mode_ != INTERLEAVE_NONE_BUFFERED;
  // Bytes held apart from the sample's allocator (a source's packet) are kept by reference while
  // they wait to be interleaved; the allocator's own buffers are copied, never held, so that an
  // upstream pin with few buffers is not starved.
  std::shared_ptr<void> holder;
  ComPtr<ISharedSampleData> shared;
  if (interleaved && SUCCEEDED(sample->QueryInterface(IID_ISharedSampleData, shared.PutVoid())) && shared)
    holder = shared->DataHolder();
  const bool key = s.video ? sample->IsSyncPoint() == S_OK : true;
  if (FAILED(muxer_.SinkError())) return muxer_.SinkError();
  if (length > 0) s.keyFrames.push_back(key);
  const HRESULT hr = muxer_.WritePacket(s.index, data, length, ptsTb, durTb, key, interleaved, std::move(holder));
  if (FAILED(hr)) {
    if (!errorPosted_) {
      errorPosted_ = true;
      Notify(EC_ERRORABORT, hr, 0);
    }
    return hr;
  }
  written_ = std::max(written_, stop);
  return S_OK;
}

HRESULT CAviMux::EndOfStreamFrom(InputPin* pin) {
  bool all = true;
  {
    std::lock_guard lock(muxLock_);
    for (StreamState& s : streams_) {
      if (s.pin == pin) s.ended = true;
      all = all && s.ended;
    }
    if (!all || !fileOpen_) return S_OK;
    FinishFileLocked();
  }
  return output_->DeliverEndOfStream();
}

void CAviMux::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  IFilterGraph* graph = graph_;
  if (!graph) return;
  ComPtr<IMediaEventSink> sink;
  if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid())) && sink) sink->Notify(code, param1, param2);
}

// ---- IConfigAviMux, IConfigInterleaving ----

HRESULT CAviMux::SetMasterStream(LONG stream) {
  if (stream < -1) return E_INVALIDARG;
  std::lock_guard lock(filterLock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  masterStream_ = stream;
  return S_OK;
}

HRESULT CAviMux::GetMasterStream(LONG* stream) {
  if (!stream) return E_POINTER;
  *stream = masterStream_;
  return S_OK;
}

HRESULT CAviMux::SetOutputCompatibilityIndex(BOOL compatible) {
  std::lock_guard lock(filterLock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  compatibilityIndex_ = compatible ? TRUE : FALSE;
  return S_OK;
}

HRESULT CAviMux::GetOutputCompatibilityIndex(BOOL* compatible) {
  if (!compatible) return E_POINTER;
  *compatible = compatibilityIndex_;
  return S_OK;
}

HRESULT CAviMux::put_Mode(InterleavingMode mode) {
  if (mode < INTERLEAVE_NONE || mode > INTERLEAVE_NONE_BUFFERED) return E_INVALIDARG;
  std::lock_guard lock(filterLock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  mode_ = mode;
  return S_OK;
}

HRESULT CAviMux::get_Mode(InterleavingMode* mode) {
  if (!mode) return E_POINTER;
  *mode = mode_;
  return S_OK;
}

HRESULT CAviMux::put_Interleaving(const REFERENCE_TIME* interleave, const REFERENCE_TIME* preroll) {
  if (!interleave || !preroll) return E_POINTER;
  if (*interleave <= 0 || *preroll < 0) return E_INVALIDARG;
  std::lock_guard lock(filterLock_);
  interleave_ = *interleave;
  preroll_ = *preroll;
  return S_OK;
}

HRESULT CAviMux::get_Interleaving(REFERENCE_TIME* interleave, REFERENCE_TIME* preroll) {
  if (!interleave || !preroll) return E_POINTER;
  *interleave = interleave_;
  *preroll = preroll_;
  return S_OK;
}

// ---- IMediaSeeking ----

namespace {
constexpr DWORD kSeekingCaps = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos;
}

HRESULT CAviMux::GetCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  *capabilities = kSeekingCaps;
  return S_OK;
}

HRESULT CAviMux::CheckCapabilities(DWORD* capabilities) {
  if (!capabilities) return E_POINTER;
  const DWORD wanted = *capabilities;
  *capabilities &= kSeekingCaps;
  return *capabilities == wanted ? S_OK : (*capabilities ? S_FALSE : E_FAIL);
}

HRESULT CAviMux::IsFormatSupported(const GUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CAviMux::QueryPreferredFormat(GUID* format) {
  if (!format) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

HRESULT CAviMux::GetTimeFormat(GUID* format) { return QueryPreferredFormat(format); }

HRESULT CAviMux::IsUsingTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CAviMux::SetTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CAviMux::GetDuration(LONGLONG* duration) {
  if (!duration) return E_POINTER;
  // The longest of the streams coming in, asked of the filters upstream.
  LONGLONG longest = -1;
  std::vector<ComPtr<IPin>> upstream;
  {
    std::lock_guard lock(filterLock_);
    for (const auto& pin : inputs_)
      if (IPin* peer = pin->GetConnected()) upstream.emplace_back(peer);
  }
  for (const ComPtr<IPin>& peer : upstream) {
    ComPtr<IMediaSeeking> seeking;
    if (FAILED(peer->QueryInterface(IID_IMediaSeeking, seeking.PutVoid())) || !seeking) {
      PIN_INFO info{};
      if (FAILED(peer->QueryPinInfo(&info)) || !info.pFilter) continue;
      ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
      if (FAILED(filter->QueryInterface(IID_IMediaSeeking, seeking.PutVoid())) || !seeking) continue;
    }
    LONGLONG d = 0;
    if (SUCCEEDED(seeking->GetDuration(&d))) longest = std::max(longest, d);
  }
  if (longest < 0) {
    std::lock_guard lock(muxLock_);
    longest = written_;
  }
  *duration = longest;
  return S_OK;
}

HRESULT CAviMux::GetStopPosition(LONGLONG* stop) { return GetDuration(stop); }

HRESULT CAviMux::GetCurrentPosition(LONGLONG* current) {
  if (!current) return E_POINTER;
  std::lock_guard lock(muxLock_);
  *current = written_;
  return S_OK;
}

HRESULT CAviMux::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source, const GUID* sourceFormat) {
  if (!target) return E_POINTER;
  const bool toMedia = !targetFormat || *targetFormat == TIME_FORMAT_MEDIA_TIME;
  const bool fromMedia = !sourceFormat || *sourceFormat == TIME_FORMAT_MEDIA_TIME;
  if (!toMedia || !fromMedia) return E_INVALIDARG;
  *target = source;
  return S_OK;
}

HRESULT CAviMux::SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) { return E_NOTIMPL; }

HRESULT CAviMux::GetPositions(LONGLONG* current, LONGLONG* stop) {
  HRESULT hr = S_OK;
  if (current) hr = GetCurrentPosition(current);
  if (SUCCEEDED(hr) && stop) hr = GetStopPosition(stop);
  return hr;
}

HRESULT CAviMux::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  if (earliest) *earliest = 0;
  return latest ? GetCurrentPosition(latest) : S_OK;
}

HRESULT CAviMux::SetRate(double rate) { return rate == 1.0 ? S_OK : E_NOTIMPL; }

HRESULT CAviMux::GetRate(double* rate) {
  if (!rate) return E_POINTER;
  *rate = 1.0;
  return S_OK;
}

HRESULT CAviMux::GetPreroll(LONGLONG* preroll) {
  if (!preroll) return E_POINTER;
  *preroll = 0;
  return S_OK;
}

}  // namespace kestrom::dshow
