#include "platform/dshow/sources/CaptureState.h"

#include "platform/dshow/base/MediaType.h"

#include <QtEndian>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrom::dshow {

using namespace com;

namespace {

constexpr char kMagic[4] = {'K', 'C', 'S', '1'};
constexpr LONG kProcAmpCount = 10, kCameraCount = 7;

REFERENCE_TIME IntervalOf(const AM_MEDIA_TYPE& type) {
  if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
  if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame;
  return 0;
}

void SetInterval(AM_MEDIA_TYPE& type, REFERENCE_TIME interval) {
  if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
    reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame = interval;
  else if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
    reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->AvgTimePerFrame = interval;
}

class Writer {
 public:
  void Bytes(const void* data, size_t n) {
    std::memcpy(buffer_.data() + at_, data, n);
    at_ += n;
  }
  void Long(LONG v) {
    qToLittleEndian(v, buffer_.data() + at_);
    at_ += 4;
  }
  void LongLong(LONGLONG v) {
    qToLittleEndian(v, buffer_.data() + at_);
    at_ += 8;
  }
  std::array<BYTE, kCaptureFilterStateSize> buffer_{};

 private:
  size_t at_ = 0;
};

class Reader {
 public:
  explicit Reader(const BYTE* data) : data_(data) {}
  void Bytes(void* out, size_t n) {
    std::memcpy(out, data_ + at_, n);
    at_ += n;
  }
  LONG Long() {
    const LONG v = qFromLittleEndian<LONG>(data_ + at_);
    at_ += 4;
    return v;
  }
  LONGLONG LongLong() {
    const LONGLONG v = qFromLittleEndian<LONGLONG>(data_ + at_);
    at_ += 8;
    return v;
  }

 private:
  const BYTE* data_;
  size_t at_ = 0;
};

void SaveControls(Writer& w, const ControlTable* table, LONG count) {
  for (LONG p = 0; p < count; ++p) {
    LONG value = 0, flags = 0;
    if (!table || FAILED(table->Get(p, &value, &flags))) value = flags = 0;  // flags 0: the device lacks it
    w.Long(value);
    w.Long(flags);
  }
}

void LoadControls(Reader& r, ControlTable* table, LONG count) {
  for (LONG p = 0; p < count; ++p) {
    const LONG value = r.Long(), flags = r.Long();
    if (!table || (flags != VideoProcAmp_Flags_Auto && flags != VideoProcAmp_Flags_Manual)) continue;
    // The manual value first, so that a control saved on auto still gets its last manual value;
    // a control the device no longer accepts keeps what it has.
    table->Set(p, value, VideoProcAmp_Flags_Manual);
    if (flags == VideoProcAmp_Flags_Auto) table->Set(p, value, VideoProcAmp_Flags_Auto);
  }
}

// The device's capability type with this subtype and size, at the saved interval; null when none.
AM_MEDIA_TYPE* FindOffered(IAMStreamConfig* config, const GUID& subtype, LONG width, LONG height,
                           REFERENCE_TIME interval) {
  int count = 0, size = 0;
  if (FAILED(config->GetNumberOfCapabilities(&count, &size))) return nullptr;
  std::vector<BYTE> caps(static_cast<size_t>(std::max(size, 1)));
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* type = nullptr;
    if (FAILED(config->GetStreamCaps(i, &type, caps.data())) || !type) continue;
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type);
    if (type->subtype == subtype && h && h->biWidth == width && std::abs(h->biHeight) == std::abs(height)) {
      SetInterval(*type, interval);
      return type;
    }
    DeleteMediaType(type);
  }
  return nullptr;
}

}  // namespace

HRESULT CCaptureFilterPersist::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

// Controls change through their own interfaces without telling us: always worth saving.
HRESULT CCaptureFilterPersist::IsDirty() { return S_OK; }

HRESULT CCaptureFilterPersist::GetSizeMax(ULONGLONG* size) {
  if (!size) return E_POINTER;
  *size = kCaptureFilterStateSize;
  return S_OK;
}

HRESULT CCaptureFilterPersist::Save(IStream* stream, BOOL) {
  if (!stream) return E_POINTER;
  Writer w;
  w.Bytes(kMagic, 4);
  AM_MEDIA_TYPE* type = nullptr;
  GUID subtype{};
  LONG width = 0, height = 0;
  REFERENCE_TIME interval = 0;
  if (format_ && SUCCEEDED(format_->GetFormat(&type)) && type) {
    subtype = type->subtype;
    if (const BITMAPINFOHEADER* h = GetBitmapInfoHeader(*type)) {
      width = h->biWidth;
      height = h->biHeight;
    }
    interval = IntervalOf(*type);
    DeleteMediaType(type);
  }
  w.Bytes(&subtype, sizeof subtype);
  w.Long(width);
  w.Long(height);
  w.LongLong(interval);
  SaveControls(w, procAmp_, kProcAmpCount);
  SaveControls(w, camera_, kCameraCount);
  ULONG written = 0;
  const HRESULT hr = stream->Write(w.buffer_.data(), kCaptureFilterStateSize, &written);
  if (FAILED(hr)) return hr;
  return written == kCaptureFilterStateSize ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT CCaptureFilterPersist::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  std::array<BYTE, kCaptureFilterStateSize> bytes{};
  ULONG read = 0;
  const HRESULT hr = stream->Read(bytes.data(), kCaptureFilterStateSize, &read);
  if (FAILED(hr)) return hr;
  if (read != kCaptureFilterStateSize) return STG_E_READFAULT;
  Reader r(bytes.data());
  char magic[4];
  r.Bytes(magic, 4);
  if (std::memcmp(magic, kMagic, 4) != 0) return E_INVALIDARG;  // another filter's or another layout's state
  GUID subtype{};
  r.Bytes(&subtype, sizeof subtype);
  const LONG width = r.Long(), height = r.Long();
  const REFERENCE_TIME interval = r.LongLong();
  if (format_ && width > 0) {
    AM_MEDIA_TYPE* type = FindOffered(format_, subtype, width, height, interval);
    if (!type) return VFW_E_TYPE_NOT_ACCEPTED;  // a format this device does not offer (any more)
    const HRESULT set = format_->SetFormat(type);
    DeleteMediaType(type);
    if (FAILED(set)) return set;
  }
  LoadControls(r, procAmp_, kProcAmpCount);
  LoadControls(r, camera_, kCameraCount);
  return S_OK;
}

}  // namespace kestrom::dshow
