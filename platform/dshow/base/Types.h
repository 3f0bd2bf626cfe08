#pragma once
// The fixed-width types and structures of the filter graph. Format blocks keep the Windows byte
// layout, because callers and stored data read them at fixed offsets.

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"
#include "platform/com/Unknown.h"

#include <cstddef>
#include <cstdint>

namespace kestrom::dshow {

using com::CLSID;
using com::GUID;
using com::HRESULT;
using com::IID;
using com::REFCLSID;
using com::REFGUID;
using com::REFIID;
using com::ULONG;

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using LONGLONG = int64_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
/** @brief Media time in 100-nanosecond units. */
using REFERENCE_TIME = int64_t;


struct RECT {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};
static_assert(sizeof(RECT) == 16);

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  /** @brief Positive: bottom-up rows; negative: top-down rows. */
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);

inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_BITFIELDS = 3;

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  DWORD dwControlFlags;
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);
static_assert(offsetof(VIDEOINFOHEADER2, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) == 72);

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

inline constexpr WORD WAVE_FORMAT_PCM = 1;

/**
 * @brief A media type. The format block (pbFormat, cbFormat bytes) is task memory
 * (CoTaskMemAlloc); pUnk is unused and kept null.
 */
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  com::IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};
static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16);

inline constexpr int MAX_PIN_NAME = 128;
inline constexpr int MAX_FILTER_NAME = 128;

struct IBaseFilter;
struct IFilterGraph;

/** @brief Pin information; pFilter carries a reference the caller releases. */
struct PIN_INFO {
  IBaseFilter* pFilter;
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

/** @brief Filter information; pGraph carries a reference the caller releases. */
struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;
};

// Merits of registered filters: automatic graph building tries higher merits first and never
// uses a filter at or below MERIT_DO_NOT_USE.
inline constexpr DWORD MERIT_PREFERRED = 0x00800000;
inline constexpr DWORD MERIT_NORMAL = 0x00600000;
inline constexpr DWORD MERIT_UNLIKELY = 0x00400000;
inline constexpr DWORD MERIT_DO_NOT_USE = 0x00200000;
inline constexpr DWORD MERIT_SW_COMPRESSOR = 0x00100000;
inline constexpr DWORD MERIT_HW_COMPRESSOR = 0x00100050;

// Registration data of a filter (version 1 records).
struct REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
};

struct REGFILTERPINS {
  LPCWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  LPCWSTR strConnectsToPin;
  ULONG nMediaTypes;
  const REGPINTYPES* lpMediaType;
};

struct REGFILTER2 {
  DWORD dwVersion;  // 1: cPins / rgPins
  DWORD dwMerit;
  ULONG cPins;
  const REGFILTERPINS* rgPins;
};

using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using AMOVIESETUP_PIN = REGFILTERPINS;

/** @brief The registration of one filter class in a module's factory table. */
struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  LPCWSTR strName;
  DWORD dwMerit;
  ULONG nPins;
  const AMOVIESETUP_PIN* lpPin;
};

// Sample flags for GetBuffer.
inline constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
inline constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
inline constexpr DWORD AM_GBF_NOWAIT = 4;

}  // namespace kestrom::dshow
