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
