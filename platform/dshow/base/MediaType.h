#pragma once
// Media types: the plain AM_MEDIA_TYPE with its format block in task memory, helpers to copy and
// free it, and CMediaType, which owns one.

#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

/** @brief Frees the format block (and nothing else) of a media type. */
void FreeMediaType(AM_MEDIA_TYPE& type);
/** @brief Frees a media type made by CreateMediaType, with its format block. */
void DeleteMediaType(AM_MEDIA_TYPE* type);
/** @brief Deep copy into target (whose old format block the caller has freed). */
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
/** @brief Equal in every field and in the bytes of the format block. */
bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
/** @brief A new task-memory copy of a media type; null when memory runs out. */
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

/** @brief A media type that owns its format block. */
class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  CMediaType(const AM_MEDIA_TYPE& other);
  CMediaType(const CMediaType& other);
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  ~CMediaType();

  void SetType(const GUID& major) { majortype = major; }
  void SetSubtype(const GUID& sub) { subtype = sub; }
  void SetFormatType(const GUID& format) { formattype = format; }
  void SetSampleSize(ULONG size);
  void SetTemporalCompression(bool compressed) { bTemporalCompression = compressed; }

  /** @brief Replaces the format block with a zeroed one of size bytes; null when out of memory. */
  BYTE* AllocFormatBuffer(ULONG size);
  /** @brief Replaces the format block with a copy of data. */
  bool SetFormat(const void* data, ULONG size);
  void ResetFormatBuffer();
  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }

  /** @brief Major type, subtype and format type all given (none is GUID_NULL). */
  bool IsPartiallySpecified() const;
  /** @brief Equal wherever this type is specified (GUID_NULL matches anything). */
  bool MatchesPartial(const CMediaType& other) const;
  /** @brief Same major, sub and format type and identical format block. */
  bool operator==(const CMediaType& other) const;
};

/** @brief A FOURCC from its four characters, first character in the lowest byte. */
constexpr uint32_t Fourcc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) | (uint32_t(uint8_t(d)) << 24);
}

/** @brief The subtype of a FOURCC or a wave format tag: {XXXXXXXX-0000-0010-8000-00AA00389B71}. */
constexpr GUID FourccSubtype(uint32_t fourcc) {
  return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

/** @brief The FOURCC or format tag of such a subtype; 0 for other subtypes. */
constexpr uint32_t FourccOfSubtype(const GUID& subtype) {
  return subtype == FourccSubtype(subtype.Data1) ? subtype.Data1 : 0;
}

/** @brief Bytes of one row of an RGB image: rows are padded to 4 bytes. */
constexpr LONG RgbStride(LONG width, int bitCount) {
  const int64_t w = width < 0 ? -static_cast<int64_t>(width) : width;
  return static_cast<LONG>(((w * bitCount + 31) / 32) * 4);
}

/**
 * @brief The bitmap header of a VideoInfo, VideoInfo2, MPEG-1 or MPEG-2 video type; null for any other format or a
 * format block too short to hold its header.
 */
const BITMAPINFOHEADER* GetBitmapInfoHeader(const AM_MEDIA_TYPE& type);

/**
 * @brief An uncompressed RGB video type (bit count 24 or 32), VideoInfo format. A positive height
 * is a bottom-up image, a negative one top-down; rows are padded to 4 bytes.
 */
CMediaType MakeRgbVideoType(int bitCount, LONG width, LONG height, REFERENCE_TIME avgTimePerFrame);

}  // namespace kestrom::dshow
