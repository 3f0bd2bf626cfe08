#include "platform/dshow/writers/EncodingWriter.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace kestrom::dshow {

using namespace com;

struct CEncodingWriter::Stream {
  InputPin* pin = nullptr;
  int index = 0;
  bool video = true;
  VideoEncoder videoEncoder;
  AudioEncoder audioEncoder;
  REFERENCE_TIME frameTime = 400000;
  int64_t nextFrame = 0;
  bool ended = false;
  AVRational codecTimeBase{1, 25};
  AVRational streamTimeBase{1, 25};
};

class CEncodingWriter::InputPin final : public CBaseInputPin {
 public:
  InputPin(CEncodingWriter* writer, std::recursive_mutex* lock, const WriterStreamSpec& streamSpec)
      : CBaseInputPin("encoding writer input", writer, lock, nullptr, reinterpret_cast<LPCWSTR>(streamSpec.pinName.utf16())),
        writer_(writer),
        spec_(streamSpec) {}

  HRESULT CheckMediaType(const CMediaType* type) override {
    return writer_->Accepts(spec_, *type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Receive(IMediaSample* sample) override {
    const HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return writer_->ReceiveFrom(this, sample);
  }
  HRESULT EndOfStream() override {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return writer_->EndOfStreamFrom(this);
  }
  const WriterStreamSpec& StreamSettings() const { return spec_; }

 private:
  CEncodingWriter* writer_;
  WriterStreamSpec spec_;
};

CEncodingWriter::CEncodingWriter(const char* objectName, IUnknown* outer, REFCLSID clsid, const char* format)
    : CBaseFilter(objectName, outer, &filterLock_, clsid), format_(format) {}

CEncodingWriter::~CEncodingWriter() {
  std::lock_guard lock(muxLock_);
  muxer_.Abort();
}

HRESULT CEncodingWriter::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IFileSinkFilter2) return GetInterface(static_cast<IFileSinkFilter2*>(this), object);
  if (iid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), object);
  if (iid == IID_IAMFilterMiscFlags) return GetInterface(static_cast<IAMFilterMiscFlags*>(this), object);
  return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

int CEncodingWriter::GetPinCount() {
  std::lock_guard lock(filterLock_);
  return int(inputs_.size());
}

CBasePin* CEncodingWriter::GetPin(int n) {
  std::lock_guard lock(filterLock_);
  return n >= 0 && size_t(n) < inputs_.size() ? inputs_[size_t(n)].get() : nullptr;
}

HRESULT CEncodingWriter::SetStreams(const std::vector<WriterStreamSpec>& streams) {
  std::lock_guard lock(filterLock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  for (const auto& pin : inputs_)
    if (pin->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  inputs_.clear();
  for (const WriterStreamSpec& streamSpec : streams) inputs_.push_back(std::make_unique<InputPin>(this, &filterLock_, streamSpec));
  return S_OK;
}

bool CEncodingWriter::Accepts(const WriterStreamSpec& streamSpec, const CMediaType& type) const {
  if (streamSpec.video) return type.majortype == MEDIATYPE_Video && VideoEncoder::Accepts(type, streamSpec.videoSettings);
  const WAVEFORMATEX* wf = WaveFormat(type);
  if (!(type.majortype == MEDIATYPE_Audio) || !wf || wf->wFormatTag != WAVE_FORMAT_PCM || wf->wBitsPerSample != 16 ||
      wf->nChannels < 1 || wf->nChannels > 2)
    return false;
  // The codec must take the rate as it is.
  const AVCodec* codec = avcodec_find_encoder(streamSpec.audioSettings.codec);
  if (!codec) return false;
  if (!codec->supported_samplerates) return true;
  for (const int* r = codec->supported_samplerates; *r; ++r)
    if (*r == int(wf->nSamplesPerSec)) return true;
  return false;
}

HRESULT CEncodingWriter::Pause() {
  std::lock_guard lock(filterLock_);
  if (IsStopped()) {
    std::lock_guard mux(muxLock_);
    const HRESULT hr = StartFileLocked();
    if (FAILED(hr)) return hr;
  }
  return CBaseFilter::Pause();
}

HRESULT CEncodingWriter::Stop() {
  std::lock_guard lock(filterLock_);
  HRESULT finished = S_OK;
  {
    std::lock_guard mux(muxLock_);
    finished = FinishFileLocked();
  }
  const HRESULT hr = CBaseFilter::Stop();
  return FAILED(finished) ? finished : hr;
}

HRESULT CEncodingWriter::SetFileName(LPCWSTR fileName, const AM_MEDIA_TYPE*) {
  if (!fileName) return E_POINTER;
  const QString name = QString::fromUtf16(fileName);
  if (name.isEmpty()) return E_INVALIDARG;
  std::lock_guard mux(muxLock_);
  fileName_ = name;
  return S_OK;
}

HRESULT CEncodingWriter::GetCurFile(LPWSTR* fileName, AM_MEDIA_TYPE* type) {
  if (!fileName) return E_POINTER;
  std::lock_guard mux(muxLock_);
  *fileName = nullptr;
  if (type) *type = AM_MEDIA_TYPE{};
  if (fileName_.isEmpty()) return S_OK;
  const size_t bytes = size_t(fileName_.size() + 1) * sizeof(WCHAR);
  *fileName = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*fileName) return E_OUTOFMEMORY;
  std::memcpy(*fileName, fileName_.utf16(), bytes);
  return S_OK;
}

HRESULT CEncodingWriter::SetMode(DWORD flags) {
  if (flags & ~AM_FILE_OVERWRITE) return E_INVALIDARG;
  mode_ = flags;
  return S_OK;
}

HRESULT CEncodingWriter::GetMode(DWORD* flags) {
  if (!flags) return E_POINTER;
  *flags = mode_;
  return S_OK;
}

HRESULT CEncodingWriter::OpenOutput(const QString& fileName, ByteSink** output) {
  if (fileName.isEmpty()) return E_INVALIDARG;
  // These writers always make a new file: their containers cannot end early inside an old one.
  const HRESULT hr = file_.Open(fileName, true);
  *output = SUCCEEDED(hr) ? &file_ : nullptr;
  return hr;
}

HRESULT CEncodingWriter::CloseOutput() { return file_.Close(); }

HRESULT CEncodingWriter::StartFileLocked() {
  streams_.clear();
  fileOpen_ = false;
  errorPosted_ = false;
  HRESULT hr = S_OK;
  for (const auto& pin : inputs_) {
    if (!pin->IsConnected()) continue;
    auto s = std::make_unique<Stream>();
    s->pin = pin.get();
    s->video = pin->StreamSettings().video;
    const CMediaType& mt = pin->CurrentMediaType();
    if (s->video) {
      VideoEncoderSettings settings = pin->StreamSettings().videoSettings;
      if (AvgTimePerFrame(mt) > 0) settings.frameTime = AvgTimePerFrame(mt);
      s->frameTime = settings.frameTime;
      hr = s->videoEncoder.Open(mt, settings);
      if (SUCCEEDED(hr)) s->codecTimeBase = s->videoEncoder.Context()->time_base;
    } else {
      hr = s->audioEncoder.Open(*WaveFormat(mt), pin->StreamSettings().audioSettings);
      if (SUCCEEDED(hr)) s->codecTimeBase = s->audioEncoder.Context()->time_base;
    }
    if (FAILED(hr)) {
      streams_.clear();
      return hr;
    }
    s->index = int(streams_.size());
    streams_.push_back(std::move(s));
  }
  if (streams_.empty()) return VFW_E_NOT_CONNECTED;
  ByteSink* output = nullptr;
  hr = OpenOutput(fileName_, &output);
  if (FAILED(hr)) {
    streams_.clear();
    if (hr != E_INVALIDARG) Fail(hr);  // no destination at all is the caller's mistake
    return hr;
  }
  hr = muxer_.Open(format_, output);
  for (auto& s : streams_) {
    if (FAILED(hr)) break;
    AVCodecParameters* par = avcodec_parameters_alloc();
    const AVCodecContext* c = s->video ? s->videoEncoder.Context() : s->audioEncoder.Context();
    if (!par || avcodec_parameters_from_context(par, c) < 0 || !muxer_.AddStream(par, c->time_base)) hr = E_OUTOFMEMORY;
    avcodec_parameters_free(&par);
  }
  if (SUCCEEDED(hr)) hr = muxer_.WriteHeader();
  if (FAILED(hr)) {
    muxer_.Abort();
    CloseOutput();
    streams_.clear();
    Fail(hr);
    return hr;
  }
  HeaderWritten(muxer_);
  for (auto& s : streams_) s->streamTimeBase = muxer_.Context()->streams[s->index]->time_base;
  fileOpen_ = true;
  return S_OK;
}

HRESULT CEncodingWriter::FinishFileLocked() {
  if (!fileOpen_) return S_OK;
  fileOpen_ = false;
  HRESULT hr = S_OK;
  for (auto& s : streams_) {
    auto sink = [&](const AVPacket& p) {
      return muxer_.WritePacket(s->index, p.data, p.size, av_rescale_q(p.pts, s->codecTimeBase, s->streamTimeBase),
                                av_rescale_q(p.duration, s->codecTimeBase, s->streamTimeBase),
                                (p.flags & AV_PKT_FLAG_KEY) != 0, true);
    };
    const HRESULT flushed = s->video ? s->videoEncoder.Flush(sink) : s->audioEncoder.Flush(sink);
    if (FAILED(flushed) && SUCCEEDED(hr)) hr = flushed;
  }
  const HRESULT finished = muxer_.Finish();
  if (SUCCEEDED(hr)) hr = finished;
  const HRESULT closed = CloseOutput();
  if (SUCCEEDED(hr)) hr = closed;
  streams_.clear();
  if (FAILED(hr)) Fail(hr);
  return hr;
}

HRESULT CEncodingWriter::ReceiveFrom(InputPin* pin, IMediaSample* sample) {
  std::lock_guard lock(muxLock_);
  if (!fileOpen_) return S_FALSE;
  auto it = std::find_if(streams_.begin(), streams_.end(), [&](const auto& s) { return s->pin == pin; });
  if (it == streams_.end() || (*it)->ended) return S_FALSE;
  Stream& s = **it;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const LONG length = sample->GetActualDataLength();
  auto sink = [&](const AVPacket& p) {
    return muxer_.WritePacket(s.index, p.data, p.size, av_rescale_q(p.pts, s.codecTimeBase, s.streamTimeBase),
                              av_rescale_q(p.duration, s.codecTimeBase, s.streamTimeBase), (p.flags & AV_PKT_FLAG_KEY) != 0,
                              true);
  };
  HRESULT hr;
  if (s.video) {
    REFERENCE_TIME start = 0, stop = 0;
    int64_t frame = s.nextFrame;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) frame = std::max<int64_t>(s.nextFrame, std::llround(double(start) / s.frameTime));
    s.nextFrame = frame + 1;
    hr = s.videoEncoder.Encode(data, length, frame, sink);
  } else {
    hr = s.audioEncoder.Push(reinterpret_cast<const int16_t*>(data), size_t(length / 2), sink);
  }
  if (FAILED(hr)) Fail(hr);
  return hr;
}

HRESULT CEncodingWriter::EndOfStreamFrom(InputPin* pin) {
  std::lock_guard lock(muxLock_);
  bool all = true;
  for (auto& s : streams_) {
    if (s->pin == pin) s->ended = true;
    all = all && s->ended;
  }
  if (!all || !fileOpen_) return S_OK;
  const HRESULT hr = FinishFileLocked();
  if (SUCCEEDED(hr)) Notify(EC_COMPLETE, S_OK, 0);
  return hr;
}

void CEncodingWriter::Fail(HRESULT hr) {
  if (errorPosted_) return;
  errorPosted_ = true;
  Notify(EC_ERRORABORT, hr, 0);
}

void CEncodingWriter::Notify(LONG code, LONG_PTR param1, LONG_PTR param2) {
  IFilterGraph* graph = graph_;
  if (!graph) return;
  ComPtr<IMediaEventSink> sink;
  if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid())) && sink) sink->Notify(code, param1, param2);
}

// ---- MPEG writer ----

CMpegWriter::CMpegWriter(IUnknown* outer) : CEncodingWriter("MPEG writer", outer, CLSID_MpegWriter, "mpeg") {
  WriterStreamSpec video;
  video.pinName = QStringLiteral("Video Input");
  video.video = true;
  video.videoSettings.codec = AV_CODEC_ID_MPEG2VIDEO;
  video.videoSettings.quality = 0.9;
  video.videoSettings.keyFrameRate = 12;
  WriterStreamSpec audio;
  audio.pinName = QStringLiteral("Audio Input");
  audio.video = false;
  audio.audioSettings.codec = AV_CODEC_ID_MP2;
  audio.audioSettings.bitRate = 128000;
  SetStreams({video, audio});
}

CUnknown* CMpegWriter::CreateInstance(IUnknown* outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CMpegWriter(outer);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

}  // namespace kestrom::dshow
