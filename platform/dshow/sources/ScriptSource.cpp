#include "platform/dshow/sources/ScriptSource.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/CapturePin.h"
#include "platform/dshow/sources/DeviceFilter.h"
#include "platform/dshow/sources/StreamTypes.h"
#include "platform/media/ScriptSource.h"
#include "platform/media/VideoReader.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

extern "C" {
#include <libswscale/swscale.h>
}

namespace kestrom::dshow {

using namespace com;
using namespace sources;

namespace {

class CScriptSource;

// Where a pin starts and stops, in frames of the clip; shared by the filter with its pins.
struct Segment {
  int64_t firstFrame = 0;
  int64_t endFrame = 0;  // one past the last
  double rate = 1.0;
};

class CScriptPin : public CPushPin {
 public:
  CScriptPin(CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name, const Segment* segment, const media::ClipInfo& info)
      : CPushPin("script source pin", filter, lock, name), segment_(segment), info_(info) {}

  void Halt() { StopThread(); }
  void Restart() { StartThread(); }

 protected:
  REFERENCE_TIME TimeOfFrame(int64_t frame) const {
    return av_rescale(frame - segment_->firstFrame, int64_t{info_.rateDen} * 10000000, info_.rateNum);
  }

  const Segment* segment_;
  media::ClipInfo info_;
};

class CScriptVideoPin final : public CScriptPin {
 public:
  CScriptVideoPin(CBaseFilter* filter, std::recursive_mutex* lock, const Segment* segment, const media::ClipInfo& info,
                  const QString& path)
      : CScriptPin(filter, lock, u"Video", segment, info), path_(path) {}
  ~CScriptVideoPin() override {
    StopThread();
    av_frame_free(&frame_);
  }

  // Planar 4:2:0 comes last: a filter that takes it (a compressor) is handed the decoder's
  // pictures through the script's filters without a colour conversion on either side.
  HRESULT CheckMediaType(const CMediaType* type) override {
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
    if (!h || !(type->majortype == MEDIATYPE_Video)) return VFW_E_TYPE_NOT_ACCEPTED;
    const bool planar = type->subtype == MEDIASUBTYPE_I420;
    if (!(type->subtype == MEDIASUBTYPE_RGB32) && !(type->subtype == MEDIASUBTYPE_YUY2) && !planar) return VFW_E_TYPE_NOT_ACCEPTED;
    if (h->biHeight < 0 && !(type->subtype == MEDIASUBTYPE_RGB32)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (planar && (info_.size.width() % 2 || info_.size.height() % 2)) return VFW_E_TYPE_NOT_ACCEPTED;
    return h->biWidth == info_.size.width() && std::abs(h->biHeight) == info_.size.height() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    static const GUID* const kSubtypes[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_I420};
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(std::size(kSubtypes))) return VFW_S_NO_MORE_ITEMS;
    const REFERENCE_TIME interval = av_rescale(10000000, info_.rateDen, info_.rateNum);
    *type = MakeUncompressedType(*kSubtypes[position], info_.size.width(), info_.size.height(), interval);
    return S_OK;
  }

 protected:
  LONG FrameBufferSize() override { return static_cast<LONG>(UncompressedSize(mt_)); }

  HRESULT OnThreadStart() override {
    next_ = segment_->firstFrame;
    // The source belongs to this thread: one per pin.
    if (!source_) {
      QString error;
      source_ = media::VideoReader::OpenSource(path_, &error);
      if (!source_) return VFW_E_INVALID_FILE_FORMAT;
      // Read straight on, every frame once: a few pictures of cache suffice, and the decoder's
      // buffers are used again instead of fresh memory for each picture.
      source_->SetCacheBudget(size_t(16) << 20);
    }
    return S_OK;
  }

  HRESULT FillBuffer(IMediaSample* sample) override {
    if (next_ >= segment_->endFrame) return S_FALSE;
    if (!frame_ && !(frame_ = av_frame_alloc())) return E_OUTOFMEMORY;
    av_frame_unref(frame_);
    QImage rgb;
    // Planar pictures are taken as they are; a source that has none is converted from RGB.
    if (!(mt_.subtype == MEDIASUBTYPE_I420 && media::ScriptSource::PlanarFrame(*source_, next_, frame_))) {
      const QImage picture = source_->Frame(next_);
      if (picture.isNull()) return S_FALSE;
      rgb = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
      frame_->width = rgb.width();
      frame_->height = rgb.height();
      frame_->format = AV_PIX_FMT_BGRA;
      frame_->data[0] = const_cast<uint8_t*>(rgb.constBits());
      frame_->linesize[0] = static_cast<int>(rgb.bytesPerLine());
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const bool converted = ConvertPicture(frame_, mt_, data, static_cast<size_t>(sample->GetSize()), scaler_);
    av_frame_unref(frame_);
    if (!converted) return E_FAIL;
    sample->SetActualDataLength(static_cast<LONG>(UncompressedSize(mt_)));
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(TimeOfFrame(next_) / segment_->rate);
    REFERENCE_TIME stop = static_cast<REFERENCE_TIME>(TimeOfFrame(next_ + 1) / segment_->rate);
    LONGLONG mediaStart = next_, mediaStop = next_ + 1;
    sample->SetTime(&start, &stop);
    sample->SetMediaTime(&mediaStart, &mediaStop);
    sample->SetSyncPoint(1);
    ++next_;
    return S_OK;
  }

 private:
  QString path_;
  std::unique_ptr<media::FrameSource> source_;
  int64_t next_ = 0;
  AVFrame* frame_ = nullptr;
  media::PictureScaler scaler_;
};

class CScriptAudioPin final : public CScriptPin {
 public:
  CScriptAudioPin(CBaseFilter* filter, std::recursive_mutex* lock, const Segment* segment, const media::ClipInfo& info,
                  const QString& path)
      : CScriptPin(filter, lock, u"Audio", segment, info), path_(path), type_(MakePcmType(info.audioRate, info.audioChannels, 16)) {}
  ~CScriptAudioPin() override { StopThread(); }

  HRESULT CheckMediaType(const CMediaType* type) override { return *type == type_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = type_;
    return S_OK;
  }

 protected:
  LONG FrameBufferSize() override { return std::max(1, info_.audioRate / 10) * info_.audioChannels * 2; }

  HRESULT OnThreadStart() override {
    next_ = av_rescale(segment_->firstFrame, int64_t{info_.audioRate} * info_.rateDen, info_.rateNum);
    if (!reader_) {
      reader_ = std::make_unique<media::VideoReader>();
      if (!reader_->Open(path_)) return VFW_E_INVALID_FILE_FORMAT;
    }
    return S_OK;
  }

  HRESULT FillBuffer(IMediaSample* sample) override {
    const int64_t end = av_rescale(segment_->endFrame, int64_t{info_.audioRate} * info_.rateDen, info_.rateNum);
    if (next_ >= end) return S_FALSE;
    const int64_t count = std::min<int64_t>(std::max(1, info_.audioRate / 10), end - next_);
    block_.clear();
    if (!reader_->ReadAudio(next_, count, block_) || block_.empty()) return S_FALSE;
    const int64_t frames = static_cast<int64_t>(block_.size()) / info_.audioChannels;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const size_t bytes = std::min<size_t>(block_.size() * 2, static_cast<size_t>(sample->GetSize()));
    std::memcpy(data, block_.data(), bytes);
    sample->SetActualDataLength(static_cast<LONG>(bytes));
    const int64_t origin = av_rescale(segment_->firstFrame, int64_t{info_.audioRate} * info_.rateDen, info_.rateNum);
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>((next_ - origin) * 10000000 / info_.audioRate / segment_->rate);
    REFERENCE_TIME stop = static_cast<REFERENCE_TIME>((next_ + frames - origin) * 10000000 / info_.audioRate / segment_->rate);
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(1);
    next_ += frames;
    return S_OK;
  }

 private:
  QString path_;
  CMediaType type_;
  std::unique_ptr<media::VideoReader> reader_;
  int64_t next_ = 0;
  std::vector<int16_t> block_;
};

class CScriptSource final : public CDeviceFilter, public IFileSourceFilter, public IMediaSeeking {
 public:
  explicit CScriptSource(IUnknown* outer) : CDeviceFilter("script source", outer, CLSID_KestromScriptSource) {}
  ~CScriptSource() override {
    Stop();
    pins_.clear();
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

  HRESULT Load(LPCWSTR fileName, const AM_MEDIA_TYPE*) override {
    if (!fileName) return E_POINTER;
    std::lock_guard lock(*lock_);
    if (!pins_.empty()) return E_UNEXPECTED;
    const QString path = QString::fromUtf16(fileName);
    if (!QFile::exists(path)) return com::MakeHResult(0x80070002);
    media::VideoReader probe;
    if (!probe.Open(path)) {
      error_ = probe.ErrorString();
      return VFW_E_INVALID_FILE_FORMAT;
    }
    info_ = probe.Info();
    if (info_.frameCount <= 0 || info_.rateNum <= 0) return VFW_E_INVALID_FILE_FORMAT;
    segment_ = {0, info_.frameCount, 1.0};
    pins_.push_back(std::make_unique<CScriptVideoPin>(this, lock_, &segment_, info_, path));
    if (info_.hasAudio && info_.audioRate > 0 && info_.audioChannels > 0)
      pins_.push_back(std::make_unique<CScriptAudioPin>(this, lock_, &segment_, info_, path));
    path_ = path;
    return S_OK;
  }
  HRESULT GetCurFile(LPWSTR* fileName, AM_MEDIA_TYPE* type) override {
    if (!fileName) return E_POINTER;
    std::lock_guard lock(*lock_);
    *fileName = nullptr;
    if (pins_.empty()) return E_FAIL;
    if (const HRESULT hr = CopyToTaskMemory(path_, fileName); FAILED(hr)) return hr;
    if (type) *type = AM_MEDIA_TYPE{};
    return S_OK;
  }

  HRESULT Pause() override {
    std::lock_guard lock(*lock_);
    const bool starting = State() == State_Stopped;
    const HRESULT hr = CDeviceFilter::Pause();
    if (SUCCEEDED(hr) && starting)
      for (const auto& pin : pins_)
        if (pin->IsConnected()) pin->DeliverNewSegment(0, Duration(segment_.firstFrame, segment_.endFrame), segment_.rate);
    return hr;
  }

  // ---- IMediaSeeking, in media time or frames ----
  HRESULT GetCapabilities(DWORD* c) override {
    if (!c) return E_POINTER;
    *c = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetCurrentPos |
         AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
    return S_OK;
  }
  HRESULT CheckCapabilities(DWORD* c) override {
    if (!c) return E_POINTER;
    DWORD ours = 0;
    GetCapabilities(&ours);
    const DWORD asked = *c;
    *c &= ours;
    return *c == asked ? S_OK : *c ? S_FALSE : E_FAIL;
  }
  HRESULT IsFormatSupported(const GUID* f) override {
    if (!f) return E_POINTER;
    return *f == TIME_FORMAT_MEDIA_TIME || *f == TIME_FORMAT_FRAME ? S_OK : S_FALSE;
  }
  HRESULT QueryPreferredFormat(GUID* f) override {
    if (!f) return E_POINTER;
    *f = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  HRESULT GetTimeFormat(GUID* f) override {
    if (!f) return E_POINTER;
    *f = timeFormat_;
    return S_OK;
  }
  HRESULT IsUsingTimeFormat(const GUID* f) override {
    if (!f) return E_POINTER;
    return *f == timeFormat_ ? S_OK : S_FALSE;
  }
  HRESULT SetTimeFormat(const GUID* f) override {
    if (!f) return E_POINTER;
    if (IsFormatSupported(f) != S_OK) return E_INVALIDARG;
    std::lock_guard lock(*lock_);
    timeFormat_ = *f;
    return S_OK;
  }
  HRESULT GetDuration(LONGLONG* d) override {
    if (!d) return E_POINTER;
    *d = ToFormat(info_.frameCount);
    return S_OK;
  }
  HRESULT GetStopPosition(LONGLONG* s) override {
    if (!s) return E_POINTER;
    *s = ToFormat(segment_.endFrame);
    return S_OK;
  }
  HRESULT GetCurrentPosition(LONGLONG* c) override {
    if (!c) return E_POINTER;
    *c = ToFormat(segment_.firstFrame);
    return S_OK;
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* tf, LONGLONG source, const GUID* sf) override {
    if (!target) return E_POINTER;
    const GUID from = sf ? *sf : timeFormat_, to = tf ? *tf : timeFormat_;
    if (IsFormatSupported(&from) != S_OK || IsFormatSupported(&to) != S_OK) return E_INVALIDARG;
    const int64_t frame = from == TIME_FORMAT_FRAME ? source : FrameOf(source);
    *target = to == TIME_FORMAT_FRAME ? frame : Duration(0, frame);
    return S_OK;
  }
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override {
    std::lock_guard lock(*lock_);
    if (pins_.empty()) return E_UNEXPECTED;
    Segment next = segment_;
    const DWORD cm = currentFlags & AM_SEEKING_PositioningBitsMask, sm = stopFlags & AM_SEEKING_PositioningBitsMask;
    if (cm != AM_SEEKING_NoPositioning) {
      if (!current) return E_POINTER;
      const int64_t f = FromFormat(*current);
      next.firstFrame = cm == AM_SEEKING_AbsolutePositioning ? f : segment_.firstFrame + f;
    }
    if (sm != AM_SEEKING_NoPositioning) {
      if (!stop) return E_POINTER;
      const int64_t f = FromFormat(*stop);
      next.endFrame = sm == AM_SEEKING_AbsolutePositioning ? f : sm == AM_SEEKING_RelativePositioning ? segment_.endFrame + f : next.firstFrame + f;
    }
    next.firstFrame = std::clamp<int64_t>(next.firstFrame, 0, info_.frameCount);
    next.endFrame = std::clamp<int64_t>(next.endFrame, next.firstFrame, info_.frameCount);
    const bool running = State() != State_Stopped && cm != AM_SEEKING_NoPositioning;
    if (running)
      for (const auto& pin : pins_)
        if (pin->IsConnected()) {
          pin->DeliverBeginFlush();
          pin->Halt();
          pin->DeliverEndFlush();
        }
    segment_ = next;
    if (running)
      for (const auto& pin : pins_)
        if (pin->IsConnected()) {
          pin->DeliverNewSegment(0, Duration(segment_.firstFrame, segment_.endFrame), segment_.rate);
          pin->Restart();
        }
    return S_OK;
  }
  HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override {
    if (c) GetCurrentPosition(c);
    if (s) GetStopPosition(s);
    return S_OK;
  }
  HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override {
    if (e) *e = 0;
    if (l) *l = ToFormat(info_.frameCount);
    return S_OK;
  }
  HRESULT SetRate(double rate) override {
    if (!(rate > 0.0) || rate > 100.0) return E_INVALIDARG;
    std::lock_guard lock(*lock_);
    if (State() != State_Stopped) return VFW_E_NOT_STOPPED;
    segment_.rate = rate;
    return S_OK;
  }
  HRESULT GetRate(double* rate) override {
    if (!rate) return E_POINTER;
    *rate = segment_.rate;
    return S_OK;
  }
  HRESULT GetPreroll(LONGLONG* p) override {
    if (!p) return E_POINTER;
    *p = 0;
    return S_OK;
  }

 private:
  REFERENCE_TIME Duration(int64_t from, int64_t to) const {
    return av_rescale(to - from, int64_t{info_.rateDen} * 10000000, info_.rateNum);
  }
  int64_t FrameOf(REFERENCE_TIME time) const {
    return av_rescale_rnd(time, info_.rateNum, int64_t{info_.rateDen} * 10000000, AV_ROUND_NEAR_INF);
  }
  LONGLONG ToFormat(int64_t frame) const { return timeFormat_ == TIME_FORMAT_FRAME ? frame : Duration(0, frame); }
  int64_t FromFormat(LONGLONG value) const { return timeFormat_ == TIME_FORMAT_FRAME ? value : FrameOf(value); }

  std::vector<std::unique_ptr<CScriptPin>> pins_;
  media::ClipInfo info_;
  Segment segment_;
  QString path_;
  QString error_;
  GUID timeFormat_ = TIME_FORMAT_MEDIA_TIME;
};

}  // namespace

CUnknown* CreateScriptSource(IUnknown* outer, HRESULT* hr) {
  auto* source = new (std::nothrow) CScriptSource(outer);
  if (!source && hr) *hr = E_OUTOFMEMORY;
  return source;
}

}  // namespace kestrom::dshow
