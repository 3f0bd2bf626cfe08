#include "platform/dshow/base/MediaType.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"

#include <cstring>

namespace kestrom::dshow {

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.pbFormat) com::CoTaskMemFree(type.pbFormat);
  type.pbFormat = nullptr;
  type.cbFormat = 0;
  if (type.pUnk) {
    type.pUnk->Release();
    type.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  FreeMediaType(*type);
  com::CoTaskMemFree(type);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (!target || !source) return com::E_POINTER;
  *target = *source;
  target->pbFormat = nullptr;
  target->cbFormat = 0;
  if (source->cbFormat && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(com::CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) return com::E_OUTOFMEMORY;
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    target->cbFormat = source->cbFormat;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return com::S_OK;
}

bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
         a.bFixedSizeSamples == b.bFixedSizeSamples && a.bTemporalCompression == b.bTemporalCompression &&
         a.lSampleSize == b.lSampleSize && a.cbFormat == b.cbFormat &&
         (a.cbFormat == 0 || (a.pbFormat && b.pbFormat && std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0));
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* type = static_cast<AM_MEDIA_TYPE*>(com::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!type) return nullptr;
  if (com::FAILED(CopyMediaType(type, source))) {
    com::CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} {
  bFixedSizeSamples = 1;
  lSampleSize = 1;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} { CopyMediaType(this, &other); }

CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE{} { CopyMediaType(this, &other); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  if (&other != this) {
    FreeMediaType(*this);
    CopyMediaType(this, &other);
  }
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
  return *this = static_cast<const AM_MEDIA_TYPE&>(other);
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

void CMediaType::SetSampleSize(ULONG size) {
  lSampleSize = size;
  bFixedSizeSamples = size != 0;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG size) {
  ResetFormatBuffer();
  if (size == 0) return nullptr;
  pbFormat = static_cast<BYTE*>(com::CoTaskMemAlloc(size));
  if (!pbFormat) return nullptr;
  std::memset(pbFormat, 0, size);
  cbFormat = size;
  return pbFormat;
}

bool CMediaType::SetFormat(const void* data, ULONG size) {
  if (!AllocFormatBuffer(size)) return size == 0;
  std::memcpy(pbFormat, data, size);
  return true;
}

void CMediaType::ResetFormatBuffer() {
  if (pbFormat) com::CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

bool CMediaType::IsPartiallySpecified() const {
  return majortype == com::GUID_NULL || subtype == com::GUID_NULL || formattype == com::GUID_NULL;
}

bool CMediaType::MatchesPartial(const CMediaType& other) const {
  if (!(majortype == com::GUID_NULL) && !(majortype == other.majortype)) return false;
  if (!(subtype == com::GUID_NULL) && !(subtype == other.subtype)) return false;
  if (!(formattype == com::GUID_NULL)) {
    if (!(formattype == other.formattype)) return false;
    if (cbFormat && (cbFormat != other.cbFormat || std::memcmp(pbFormat, other.pbFormat, cbFormat) != 0))
      return false;
  }
  return true;
}

bool CMediaType::operator==(const CMediaType& other) const {
  return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
         cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE& type) {
  if (!type.pbFormat) return nullptr;
  if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
    return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  // MPEG-1 and MPEG-2 video blocks begin with a VideoInfo and a VideoInfo2 header.
  if ((type.formattype == FORMAT_VideoInfo2 || type.formattype == FORMAT_MPEG2Video) && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
  if (type.formattype == FORMAT_MPEGVideo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
    return &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  return nullptr;
}

CMediaType MakeRgbVideoType(int bitCount, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame) {
  CMediaType mt;
  mt.SetType(MEDIATYPE_Video);
  mt.SetSubtype(bitCount == 32 ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_RGB24);
  mt.SetFormatType(FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  const LONG absHeight = height < 0 ? -height : height;
  const ULONG imageSize = static_cast<ULONG>(RgbStride(width, bitCount)) * static_cast<ULONG>(absHeight);
  if (vih) {
    vih->AvgTimePerFrame = avgTimePerFrame;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = static_cast<WORD>(bitCount);
    vih->bmiHeader.biCompression = BI_RGB;
    vih->bmiHeader.biSizeImage = imageSize;
  }
  mt.SetSampleSize(imageSize);
  mt.SetTemporalCompression(false);
  return mt;
}

}  // namespace kestrom::dshow
