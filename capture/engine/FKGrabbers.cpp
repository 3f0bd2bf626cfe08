// The grabbers of the companion module in the engine's chains: their insertion under their control
// names, their configuration, and the routines they call on the streaming thread.
#include "capture/engine/FK.h"

#include "capture/engine/GraphHelpers.h"
#include "platform/dshow/base/Guids.h"

#include <QDate>
#include <algorithm>
#include <cstring>

namespace kestrom::engine {

using com::ComPtr;
using com::FAILED;
using com::SUCCEEDED;
using namespace dshow;

namespace {

// The grabbers' control names by kind (kind 6 has none).
const char* const kControlNames[] = {"GRB_Sample", "GRB_Notify", "GRB_Lock", "GRB_LockAndShift",
                                     "GRB_DvData", "GRB_Clear",  "",         "GRB_RGB"};

/** @brief The grabber kind of a control name; -1 for none. */
int GrabberKind(const QString& controlName) {
  for (int kind = 0; kind < 8; ++kind)
    if (*kControlNames[kind] && controlName == QLatin1String(kControlNames[kind])) return kind;
  return -1;
}

void CopyProcessing(filters::TGrabberConfig& record, const TFK& fk) {
  record.brightness = fk.GetVideoProcessing_Brightness();
  record.contrast = fk.GetVideoProcessing_Contrast();
  record.saturation = fk.GetVideoProcessing_Saturation();
  record.hue = fk.GetVideoProcessing_Hue();
  record.grayScale = fk.GetVideoProcessing_GrayScale();
  record.invert = fk.GetVideoProcessing_InvertColors();
  record.flipHorizontal = fk.GetVideoProcessing_FlipHorizontal();
  record.flipVertical = fk.GetVideoProcessing_FlipVertical();
  record.deinterlacing = fk.GetVideoProcessing_Deinterlacing();
  record.rotation = fk.GetVideoProcessing_Rotation();
}

QString ControlName(int kind) { return QLatin1String(kControlNames[kind & 7]); }

/** @brief A sample's format kind (7 for sound) and, for video, the bitmap header inside its format block. */
void DescribeSampleFormat(bool isVideo, const AM_MEDIA_TYPE& type, int32_t& kind, const BITMAPINFOHEADER*& header) {
  header = nullptr;
  if (!isVideo) {
    kind = 7;
    return;
  }
  kind = MediaFormatKind(type);
  const uint32_t at = kind == 0 || kind == 3 ? 48 : kind == 1 || kind == 4 ? 72 : 0;
  if (at && type.pbFormat && type.cbFormat >= at + sizeof(BITMAPINFOHEADER))
    header = reinterpret_cast<const BITMAPINFOHEADER*>(type.pbFormat + at);
}

}  // namespace

bool TFK::InsertGrabber(const QString& controlName, ComPtr<IPin>& chain) {
  const int kind = GrabberKind(controlName);
  if (kind < 0) return false;
  return InsertGrabber(chain, kind, nullptr, GrabberHolder(kind), snapshot_.rgbFormat);
}

bool TFK::InsertGrabber(ComPtr<IPin>& chain, int kind, const AM_MEDIA_TYPE* type, TModuleHolder& holder,
                        int rgbFormat) {
  if (!chain || !graph_ || kind < 0 || kind > 7 || kind == 6) return false;
  if (kind == filters::gk_RGB) {
    const bool colour = VideoProcessing_Brightness_ != 0 || VideoProcessing_Contrast_ != 0 ||
                        VideoProcessing_Saturation_ != 0 || VideoProcessing_Hue_ != 0 || VideoProcessing_GrayScale_ ||
                        VideoProcessing_InvertColors_;
    const bool geometry = (VideoProcessing_Rotation_ & 1) != 0 || GetVideoProcessing_Deinterlacing() == di_HalfSize;
    if ((colour || geometry) && (rgbFormat == fgf_RGB565 || rgbFormat == fgf_RGB555 || rgbFormat == fgf_RGB8)) {
      // Fewer bits than 24 are processed from a 24-bit picture that a converting grabber gives.
      if (!InsertGrabberFilter(chain, kind, type, furtherHolders_[0], fgf_RGB24, false)) return false;
      type = nullptr;
    }
  }
  if (!InsertGrabberFilter(chain, kind, type, holder, rgbFormat, true)) return false;
  if (kind == filters::gk_RGB && SampleCapture_Video_ == sc_AfterOnDraw)
    return InsertGrabberFilter(chain, filters::gk_Sample, nullptr, sampleNotifyHolder_, fgf_Default, true);
  return true;
}

bool TFK::InsertGrabberFilter(ComPtr<IPin>& chain, int kind, const AM_MEDIA_TYPE* type, TModuleHolder& holder,
                              int rgbFormat, bool frameGrabber) {
  const QString name = ControlName(kind);
  ComPtr<IBaseFilter> filter;
  ComPtr<filters::IGrabberControl> control;
  bool added = false;
  const bool ok = [&] {
    if (!CreateOwnFilter(FilterImage(), name, kind == filters::gk_RGB ? filters::kCreateGrabber
                                                                      : filters::kCreateGrabberNoModify,
                         holder, filter))
      return false;
    filters::TGrabberConfig* record = nullptr;
    if (FAILED(filter->QueryInterface(filters::IID_IGrabberControl, control.PutVoid())) || !control ||
        FAILED(control->GetConfig(kind, &record)) || !record)
      return false;
    if (CheckAndLog(this, record->version != filters::kGrabberConfigVersion, ll_Error,
                    QStringLiteral("TFramecatcher Dx filter obsolete"), TLogType::e_TFramecatcher_Filter_obsolete))
      return false;
    for (uint8_t& flag : record->enable) flag = 1;
    record->enable[filters::kEnableFrameGrabber] = frameGrabber ? 1 : 0;
    record->owner = this;
    record->frame = &TFK::FrameGrabbed;
    record->frameTime = &TFK::FrameTimeReported;
    record->dvDate = &TFK::DVDateReported;
    // Deferred sample events are copied here and fired on the main thread after the frame progress.
    record->sample = SampleCaptureAsyncEvent_ ? &TFK::SampleCapturedDeferred : &TFK::SampleCaptured;
    record->frameDivider = 1;
    CopyProcessing(*record, *this);
    if (rgbFormat == fgf_Default && (state_ == cs_Preview || state_ == cs_Recording)) {
      const QString subtype = SubtypeEntryName(videoSubtypes_.value(GetVideoSubtype()));
      rgbFormat = subtype == QLatin1String("RGB32")    ? fgf_RGB32
                  : subtype == QLatin1String("RGB555") ? fgf_RGB555
                                                       : fgf_RGB24;
    }
    record->rgbFormat = rgbFormat;
    control->ApplyConfig();
    PublishFrameSettings();
    if (!AddFilterToGraph(filter.Get(), UniqueName(name))) return false;
    added = true;
    ComPtr<IPin> input, output;
    if (FAILED(FindPinByName(filter.Get(), PINDIR_INPUT, QString(), input, true, true)) ||
        FAILED(FindPinByName(filter.Get(), PINDIR_OUTPUT, QString(), output, true, true)))
      return false;
    if (type ? FAILED(chain->Connect(input.Get(), type)) : !ConnectPins(chain.Get(), input.Get())) return false;
    chain = output;
    return true;
  }();
  if (ok) {
    holder.filter = filter;
    holder.second = ComPtr<com::IUnknown>(control.Get());
    grabbers_.push_back(control);
  } else {
    if (added) graph_->RemoveFilter(filter.Get());
    holder.ReleaseInterfaces();
  }
  CheckAndLog(this, !ok, ll_Trace, QStringLiteral("insert grabber filter"), TLogType::e_failed);
  return ok;
}

bool TFK::UpdateVideoProcessing() {
  TModuleHolder& holder = GrabberHolder(filters::gk_RGB);
  ComPtr<filters::IGrabberControl> control;
  filters::TGrabberConfig* record = nullptr;
  if (!holder.second ||
      FAILED(holder.second->QueryInterface(filters::IID_IGrabberControl, control.PutVoid())) || !control ||
      FAILED(control->GetConfig(filters::gk_RGB, &record)) || !record)
    return false;
  CopyProcessing(*record, *this);
  return SUCCEEDED(control->ApplyConfig());
}

void TFK::SetGrabbersPaused(bool paused) {
  for (const ComPtr<filters::IGrabberControl>& grabber : grabbers_) grabber->SetPaused(paused ? 1 : 0);
}

std::array<int32_t, 6> TFK::DVDate() const {
  std::lock_guard lock(dvDateLock_);
  return dvDate_;
}

void TFK::SampleCaptured(void* owner, BOOL isVideo, IMediaSample* sample, const AM_MEDIA_TYPE* type, int32_t w1,
                         int32_t w2, int32_t w3, int32_t w4) {
  auto* self = static_cast<TFK*>(owner);
  if (!self || !sample || self->destroying_) return;
  const auto& event = isVideo ? self->slots_->OnSampleCapture_Video : self->slots_->OnSampleCapture_Audio;
  if (!event) return;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return;
  TSampleData d;
  d.Buffer = data;
  d.BufferSize = sample->GetSize();
  d.DataLength = sample->GetActualDataLength();
  if (type) {
    d.FormatBlock = type->pbFormat;
    DescribeSampleFormat(isVideo, *type, d.FormatKind, d.BitmapHeader);
  }
  d.W1 = w1;
  d.W2 = w2;
  d.W3 = w3;
  d.W4 = w4;
  event(self->host_.sender, d);
}

void TFK::FrameTimeReported(void* owner, int32_t, IMediaSample*, int64_t frameTime, int32_t, int32_t) {
  auto* self = static_cast<TFK*>(owner);
  if (!self) return;
  self->lastFrameTime_ = frameTime;
  // Only a graph without a frame grabber has this grabber (the frame grabber counts its own frames).
  if (self->graphActive_) self->UpdateCounters(frameTime);
  self->notificationPending_ = true;
}

std::array<int32_t, 6> TFK::ValidDVDate(const int32_t* values) {
  std::array<int32_t, 6> date{};
  if (!values) return date;
  std::copy(values, values + 6, date.begin());
  // Only a real calendar day is kept (29 February in leap years only).
  const bool valid = date[0] >= 1 && date[0] <= 9999 && date[1] >= 1 && date[1] <= 12 && date[2] >= 1 &&
                     date[2] <= QDate(date[0], date[1], 1).daysInMonth();
  if (!valid) date.fill(0);
  return date;
}

void TFK::DVDateReported(void* owner, const int32_t* values) {
  auto* self = static_cast<TFK*>(owner);
  if (!self || !values) return;
  const std::array<int32_t, 6> date = ValidDVDate(values);
  {
    std::lock_guard lock(self->dvDateLock_);
    self->dvDate_ = date;
  }
  // The frame information carries the date at once, whatever counts the frames (none may in preview).
  std::lock_guard lock(self->frameLock_);
  self->frameInfo_.SetDVDate(date);
}

void TFK::FrameGrabbed(void* owner, IMediaSample* sample, const BITMAPINFOHEADER* header, BYTE* bits, LONG length) {
  auto* self = static_cast<TFK*>(owner);
  if (!self) return;
  REFERENCE_TIME start = 0, stop = 0;
  // A preview stream's samples carry no time: the counters then take the graph clock's.
  if (!sample || FAILED(sample->GetTime(&start, &stop))) start = kUntimedSample;
  self->OnGrabberFrame(start, header, bits, length);
}

void TFK::SampleCapturedDeferred(void* owner, BOOL isVideo, IMediaSample* sample, const AM_MEDIA_TYPE* type, int32_t w1,
                                 int32_t w2, int32_t w3, int32_t w4) {
  auto* self = static_cast<TFK*>(owner);
  if (!self || !sample || self->destroying_) return;
  const auto& event = isVideo ? self->slots_->OnSampleCapture_Video : self->slots_->OnSampleCapture_Audio;
  TSampleCopy& copy = self->SampleCopy(isVideo != 0);
  if (!event || copy.locked.load()) return;
  copy.busy = true;
  // The main thread may have locked it meanwhile: then its copy stays as it is.
  BYTE* data = nullptr;
  if (!copy.locked.load() && SUCCEEDED(sample->GetPointer(&data)) && data) {
    copy.formatKind = 7;
    copy.bitmapHeader = nullptr;
    copy.formatBlock = type ? type->pbFormat : nullptr;
    if (type) DescribeSampleFormat(isVideo, *type, copy.formatKind, copy.bitmapHeader);
    const size_t size = size_t(std::max<LONG>(sample->GetSize(), 0));
    if (copy.data.size() != size) copy.data.assign(size, 0);  // reallocated only when the size changes
    if (size) std::memcpy(copy.data.data(), data, size);
    copy.dataLength = sample->GetActualDataLength();
    copy.w1 = w1;
    copy.w2 = w2;
    copy.w3 = w3;
    copy.w4 = w4;
    copy.ready = true;
  }
  copy.busy = false;
}

void TFK::FireDeferredSampleEvents() {
  for (bool video : {true, false}) {
    TSampleCopy& copy = SampleCopy(video);
    if (!copy.ready.load() || copy.busy.load()) continue;
    copy.locked = true;
    // A copy that began before the lock is left to finish and delivered next time.
    if (copy.busy.load()) {
      copy.locked = false;
      continue;
    }
    copy.ready = false;
    const auto& event = video ? slots_->OnSampleCapture_Video : slots_->OnSampleCapture_Audio;
    if (event && !destroying_) {
      TSampleData d;
      d.Buffer = copy.data.data();
      d.BufferSize = int32_t(copy.data.size());
      d.DataLength = copy.dataLength;
      d.FormatKind = copy.formatKind;
      d.FormatBlock = copy.formatBlock;
      d.BitmapHeader = copy.bitmapHeader;
      d.W1 = copy.w1;
      d.W2 = copy.w2;
      d.W3 = copy.w3;
      d.W4 = copy.w4;
      event(host_.sender, d);
    }
    copy.locked = false;
  }
}

}  // namespace kestrom::engine
