#include "platform/dshow/sources/CapturePin.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrom::dshow {

using namespace com;

namespace {

// A requested interval matches an offered one within a microsecond: rates such as 29.97 fps are
// written with different roundings by different callers.
constexpr REFERENCE_TIME kIntervalTolerance = 10;

HRESULT CopyOut(const CMediaType& type, AM_MEDIA_TYPE** out) {
  if (!out) return E_POINTER;
  *out = CreateMediaType(&type);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

REFERENCE_TIME IntervalOfRate(double framesPerSecond) {
  return framesPerSecond > 0 ? std::llround(1e7 / framesPerSecond) : 0;
}

CMediaType MakeCapabilityType(const VideoCapability& cap, REFERENCE_TIME interval) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(cap.subtype);
  mt.SetFormatType(FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  const bool rgb = cap.compression == BI_RGB;
  const DWORD image = rgb ? static_cast<DWORD>(RgbStride(cap.width, cap.bitCount)) * static_cast<DWORD>(cap.height)
                          : static_cast<DWORD>((int64_t{cap.width} * cap.height * std::max<int>(cap.bitCount, 16)) / 8);
  vih->AvgTimePerFrame = interval;
  vih->dwBitRate = interval > 0 ? static_cast<DWORD>(std::min<double>(4294967295.0, image * 8.0 * 1e7 / interval)) : 0;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = cap.width;
  vih->bmiHeader.biHeight = cap.height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = cap.bitCount;
  vih->bmiHeader.biCompression = cap.compression;
  vih->bmiHeader.biSizeImage = image;
  mt.bFixedSizeSamples = rgb || cap.compression == MEDIASUBTYPE_YUY2.Data1;
  mt.SetTemporalCompression(false);
  mt.SetSampleSize(mt.bFixedSizeSamples ? image : 0);
  if (!mt.bFixedSizeSamples) mt.lSampleSize = 0;
  return mt;
}

HRESULT GetPinCategoryProperty(const GUID& category, REFGUID set, DWORD id, void* data, DWORD dataSize,
                               DWORD* returned) {
  if (!(set == AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (!data) return E_POINTER;
  if (dataSize < sizeof(GUID)) return E_UNEXPECTED;
  std::memcpy(data, &category, sizeof(GUID));
  if (returned) *returned = sizeof(GUID);
  return S_OK;
}

// ---- video ----

CVideoCapturePin::CVideoCapturePin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name,
                                   const GUID& category)
    : CPushPin(objectName, filter, lock, name), category_(category) {}

HRESULT CVideoCapturePin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), object);
  if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
  if (iid == IID_IAMDroppedFrames) return GetInterface(static_cast<IAMDroppedFrames*>(this), object);
  if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
  return CPushPin::NonDelegatingQueryInterface(iid, object);
}

void CVideoCapturePin::SetCapabilities(std::vector<VideoCapability> caps, size_t defaultIndex,
                                       REFERENCE_TIME defaultInterval) {
  std::lock_guard lock(formatLock_);
  caps_ = std::move(caps);
  formatSet_ = false;
  format_ = CMediaType();
  if (defaultIndex < caps_.size()) format_ = MakeCapabilityType(caps_[defaultIndex], defaultInterval);
}

int CVideoCapturePin::FindCapability(const AM_MEDIA_TYPE& type, REFERENCE_TIME* interval) const {
  if (!(type.majortype == MEDIATYPE_Video) || !(type.formattype == FORMAT_VideoInfo)) return -1;
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(type);
  if (!h) return -1;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
  for (size_t i = 0; i < caps_.size(); ++i) {
    const VideoCapability& cap = caps_[i];
    if (!(cap.subtype == type.subtype) || h->biWidth != cap.width || std::abs(h->biHeight) != cap.height) continue;
    // Uncompressed pictures may be asked for top-down (a negative height) only as RGB.
    if (h->biHeight < 0 && cap.compression != BI_RGB) continue;
    if (h->biBitCount != 0 && h->biBitCount != cap.bitCount) continue;
    REFERENCE_TIME wanted = vih->AvgTimePerFrame;
    if (wanted == 0) wanted = cap.intervals.empty() ? 0 : cap.intervals.back();
    if (cap.intervals.empty()) continue;
    // As drivers do, an interval between the fastest and the slowest offered is taken as the
    // nearest offered one (a 30/15 fps camera asked for 25 fps runs at 30).
    if (wanted < cap.intervals.front() - kIntervalTolerance || wanted > cap.intervals.back() + kIntervalTolerance)
      continue;
    REFERENCE_TIME nearest = cap.intervals.front();
    for (REFERENCE_TIME offered : cap.intervals)
      if (std::llabs(offered - wanted) < std::llabs(nearest - wanted)) nearest = offered;
    if (interval) *interval = nearest;
    return static_cast<int>(i);
  }
  return -1;
}

HRESULT CVideoCapturePin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  std::lock_guard lock(formatLock_);
  return FindCapability(*type, nullptr) >= 0 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVideoCapturePin::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  std::lock_guard lock(formatLock_);
  // The format set by SetFormat (or the default) comes first, then every capability.
  if (position == 0) {
    if (!format_.pbFormat) return VFW_S_NO_MORE_ITEMS;
    *type = format_;
    return S_OK;
  }
  // Once a format was chosen through SetFormat, the pin offers that format only.
  const size_t index = static_cast<size_t>(position - 1);
  if (formatSet_ || index >= caps_.size()) return VFW_S_NO_MORE_ITEMS;
  const VideoCapability& cap = caps_[index];
  *type = MakeCapabilityType(cap, cap.intervals.empty() ? 0 : cap.intervals.back());
  return S_OK;
}

HRESULT CVideoCapturePin::SetMediaType(const CMediaType* type) {
  HRESULT hr = ApplyFormat(*type);
  if (FAILED(hr)) return hr;
  return CPushPin::SetMediaType(type);
}

CMediaType CVideoCapturePin::StreamFormat() const {
  if (IsConnected()) return CurrentMediaType();
  std::lock_guard lock(formatLock_);
  return format_;
}

LONG CVideoCapturePin::FrameBufferSize() {
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(mt_);
  if (!h) return 0;
  // Compressed pictures vary in size: room for an uncompressed 32-bit picture at least.
  const int64_t largest = std::max<int64_t>({int64_t{mt_.lSampleSize}, int64_t{h->biSizeImage},
                                             int64_t{RgbStride(h->biWidth, std::max<int>(h->biBitCount, 32))} *
                                                 std::abs(int64_t{h->biHeight})});
  return static_cast<LONG>(std::min<int64_t>(largest, 1 << 30));
}

HRESULT CVideoCapturePin::SetFormat(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (!IsFilterStopped()) return VFW_E_NOT_STOPPED;
  REFERENCE_TIME interval = 0;
  CMediaType chosen;
  {
    std::lock_guard lock(formatLock_);
    const int index = FindCapability(*type, &interval);
    if (index < 0) return VFW_E_INVALIDMEDIATYPE;
    // The pin's own description of the format, so that sizes and counts in the header are right
    // whatever the caller left in them.
    chosen = MakeCapabilityType(caps_[static_cast<size_t>(index)], interval);
    if (GetBitmapInfoHeader(*type)->biHeight < 0)
      reinterpret_cast<VIDEOINFOHEADER*>(chosen.pbFormat)->bmiHeader.biHeight *= -1;
  }
  if (IsConnected()) {
    // A connected pin reconnects with the new format, when the other pin takes it.
    IPin* peer = GetConnected();
    if (peer->QueryAccept(&chosen) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    peer->AddRef();
    peer->Disconnect();
    Disconnect();
    const HRESULT hr = Connect(peer, &chosen);
    peer->Release();
    if (FAILED(hr)) return hr;
  }
  std::lock_guard lock(formatLock_);
  format_ = chosen;
  formatSet_ = true;
  return S_OK;
}

HRESULT CVideoCapturePin::GetFormat(AM_MEDIA_TYPE** type) { return CopyOut(StreamFormat(), type); }

HRESULT CVideoCapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  std::lock_guard lock(formatLock_);
  *count = static_cast<int>(caps_.size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT CVideoCapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (!type || !caps) return E_POINTER;
  std::lock_guard lock(formatLock_);
  if (index < 0 || static_cast<size_t>(index) >= caps_.size()) return S_FALSE;
  const VideoCapability& cap = caps_[static_cast<size_t>(index)];
  const REFERENCE_TIME slowest = cap.intervals.empty() ? 0 : cap.intervals.back();
  const REFERENCE_TIME fastest = cap.intervals.empty() ? 0 : cap.intervals.front();
  const CMediaType mt = MakeCapabilityType(cap, slowest);
  VIDEO_STREAM_CONFIG_CAPS record{};
  record.guid = FORMAT_VideoInfo;
  record.VideoStandard = 0;
  record.InputSize = {cap.width, cap.height};
  record.MinCroppingSize = record.MaxCroppingSize = {cap.width, cap.height};
  record.CropGranularityX = record.CropGranularityY = 1;
  record.CropAlignX = record.CropAlignY = 1;
  record.MinOutputSize = record.MaxOutputSize = {cap.width, cap.height};
  record.OutputGranularityX = record.OutputGranularityY = 1;
  record.MinFrameInterval = fastest;
  record.MaxFrameInterval = slowest;
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(mt);
  const double bits = h ? h->biSizeImage * 8.0 : 0.0;
  record.MinBitsPerSecond = slowest > 0 ? static_cast<LONG>(std::min(2147483647.0, bits * 1e7 / slowest)) : 0;
  record.MaxBitsPerSecond = fastest > 0 ? static_cast<LONG>(std::min(2147483647.0, bits * 1e7 / fastest)) : 0;
  std::memcpy(caps, &record, sizeof record);
  return CopyOut(mt, type);
}

HRESULT CVideoCapturePin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT CVideoCapturePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize, DWORD* returned) {
  return GetPinCategoryProperty(category_, set, id, data, dataSize, returned);
}

HRESULT CVideoCapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!(set == AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

void CVideoCapturePin::ResetCounts() {
  std::lock_guard lock(countLock_);
  delivered_ = dropped_ = 0;
  deliveredBytes_ = 0;
  droppedFrames_.clear();
}

void CVideoCapturePin::CountDelivered(LONG bytes) {
  std::lock_guard lock(countLock_);
  ++delivered_;
  deliveredBytes_ += bytes;
}

void CVideoCapturePin::CountDropped(LONG frame) {
  std::lock_guard lock(countLock_);
  ++dropped_;
  // The numbers of the latest drops are kept; older ones only count.
  if (droppedFrames_.size() >= 1024) droppedFrames_.erase(droppedFrames_.begin());
  droppedFrames_.push_back(frame);
}

HRESULT CVideoCapturePin::GetNumDropped(LONG* dropped) {
  if (!dropped) return E_POINTER;
  std::lock_guard lock(countLock_);
  *dropped = dropped_;
  return S_OK;
}

HRESULT CVideoCapturePin::GetNumNotDropped(LONG* notDropped) {
  if (!notDropped) return E_POINTER;
  std::lock_guard lock(countLock_);
  *notDropped = delivered_;
  return S_OK;
}

HRESULT CVideoCapturePin::GetDroppedInfo(LONG size, LONG* array, LONG* copied) {
  if (!array || !copied) return E_POINTER;
  if (size <= 0) return E_INVALIDARG;
  std::lock_guard lock(countLock_);
  const LONG n = std::min<LONG>(size, static_cast<LONG>(droppedFrames_.size()));
  std::copy_n(droppedFrames_.end() - n, n, array);
  *copied = n;
  return S_OK;
}

HRESULT CVideoCapturePin::GetAverageFrameSize(LONG* averageSize) {
  if (!averageSize) return E_POINTER;
  std::lock_guard lock(countLock_);
  *averageSize = delivered_ ? static_cast<LONG>(deliveredBytes_ / delivered_) : 0;
  return S_OK;
}

// ---- audio ----

CMediaType MakePcmType(int rate, int channels, int bits) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Audio);
  mt.SetSubtype(MEDIASUBTYPE_PCM);
  mt.SetFormatType(FORMAT_WaveFormatEx);
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  if (!wfx) return mt;
  wfx->wFormatTag = WAVE_FORMAT_PCM;
  wfx->nChannels = static_cast<WORD>(channels);
  wfx->nSamplesPerSec = static_cast<DWORD>(rate);
  wfx->wBitsPerSample = static_cast<WORD>(bits);
  wfx->nBlockAlign = static_cast<WORD>(channels * bits / 8);
  wfx->nAvgBytesPerSec = static_cast<DWORD>(rate) * wfx->nBlockAlign;
  wfx->cbSize = 0;
  mt.bFixedSizeSamples = 1;
  mt.SetSampleSize(wfx->nBlockAlign);
  return mt;
}

CAudioCapturePin::CAudioCapturePin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, LPCWSTR name)
    : CPushPin(objectName, filter, lock, name) {}

HRESULT CAudioCapturePin::NonDelegatingQueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (iid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), object);
  if (iid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), object);
  if (iid == IID_ISpecifyPropertyPages) return GetInterface(&pages_, object);
  return CPushPin::NonDelegatingQueryInterface(iid, object);
}

void CAudioCapturePin::SetCapability(const AudioCapability& cap, int rate, int channels, int bits) {
  std::lock_guard lock(formatLock_);
  cap_ = cap;
  format_ = MakePcmType(rate, channels, bits);
}

bool CAudioCapturePin::Accepts(const AM_MEDIA_TYPE& type) const {
  if (!(type.majortype == MEDIATYPE_Audio) || !(type.formattype == FORMAT_WaveFormatEx) || !type.pbFormat ||
      type.cbFormat < sizeof(WAVEFORMATEX))
    return false;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
  if (wfx->wFormatTag != WAVE_FORMAT_PCM) return false;
  const int rate = static_cast<int>(wfx->nSamplesPerSec);
  if (wfx->nChannels < cap_.minChannels || wfx->nChannels > cap_.maxChannels) return false;
  if (wfx->wBitsPerSample < cap_.minBits || wfx->wBitsPerSample > cap_.maxBits || wfx->wBitsPerSample % 8) return false;
  if (rate < cap_.minRate || rate > cap_.maxRate) return false;
  if (!cap_.rates.empty() && std::find(cap_.rates.begin(), cap_.rates.end(), rate) == cap_.rates.end()) return false;
  return wfx->nBlockAlign == wfx->nChannels * wfx->wBitsPerSample / 8 &&
         wfx->nAvgBytesPerSec == wfx->nSamplesPerSec * wfx->nBlockAlign;
}

HRESULT CAudioCapturePin::CheckMediaType(const CMediaType* type) {
  if (!type) return E_POINTER;
  std::lock_guard lock(formatLock_);
  return Accepts(*type) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioCapturePin::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  std::lock_guard lock(formatLock_);
  *type = format_;
  return S_OK;
}

HRESULT CAudioCapturePin::SetMediaType(const CMediaType* type) { return CPushPin::SetMediaType(type); }

CMediaType CAudioCapturePin::StreamFormat() const {
  if (IsConnected()) return CurrentMediaType();
  std::lock_guard lock(formatLock_);
  return format_;
}

LONG CAudioCapturePin::FrameBufferSize() {
  if (mt_.cbFormat < sizeof(WAVEFORMATEX)) return 0;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt_.pbFormat);
  return static_cast<LONG>(std::max<DWORD>(wfx->nBlockAlign, wfx->nAvgBytesPerSec / 10 / wfx->nBlockAlign * wfx->nBlockAlign));
}

HRESULT CAudioCapturePin::SetFormat(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (!IsFilterStopped()) return VFW_E_NOT_STOPPED;
  {
    std::lock_guard lock(formatLock_);
    if (!Accepts(*type)) return VFW_E_INVALIDMEDIATYPE;
  }
  CMediaType chosen(*type);
  if (IsConnected()) {
    IPin* peer = GetConnected();
    if (peer->QueryAccept(&chosen) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    peer->AddRef();
    peer->Disconnect();
    Disconnect();
    const HRESULT hr = Connect(peer, &chosen);
    peer->Release();
    if (FAILED(hr)) return hr;
  }
  std::lock_guard lock(formatLock_);
  format_ = chosen;
  return S_OK;
}

HRESULT CAudioCapturePin::GetFormat(AM_MEDIA_TYPE** type) { return CopyOut(StreamFormat(), type); }

HRESULT CAudioCapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  *count = 1;
  *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
  return S_OK;
}

HRESULT CAudioCapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (!type || !caps) return E_POINTER;
  if (index != 0) return S_FALSE;
  std::lock_guard lock(formatLock_);
  AUDIO_STREAM_CONFIG_CAPS record{};
  record.guid = MEDIATYPE_Audio;
  record.MinimumChannels = static_cast<ULONG>(cap_.minChannels);
  record.MaximumChannels = static_cast<ULONG>(cap_.maxChannels);
  record.ChannelsGranularity = 1;
  record.MinimumBitsPerSample = static_cast<ULONG>(cap_.minBits);
  record.MaximumBitsPerSample = static_cast<ULONG>(cap_.maxBits);
  record.BitsPerSampleGranularity = 8;
  record.MinimumSampleFrequency = static_cast<ULONG>(cap_.minRate);
  record.MaximumSampleFrequency = static_cast<ULONG>(cap_.maxRate);
  record.SampleFrequencyGranularity = 1;
  std::memcpy(caps, &record, sizeof record);
  return CopyOut(format_, type);
}

HRESULT CAudioCapturePin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return set == AMPROPSETID_Pin ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT CAudioCapturePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD dataSize, DWORD* returned) {
  return GetPinCategoryProperty(PIN_CATEGORY_CAPTURE, set, id, data, dataSize, returned);
}

HRESULT CAudioCapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!(set == AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

}  // namespace kestrom::dshow
