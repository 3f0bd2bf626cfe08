#pragma once
// The graph-side interfaces a source filter calls: event notification to the graph (device
// lost, stream errors) and media seeking. Declared here until the graph runtime provides them.

#include "platform/dshow/base/Interfaces.h"

namespace kestrom::dshow {

using LONG_PTR = intptr_t;

inline constexpr IID IID_IMediaEventSink = com::MakeGuid("{56A868A2-0AD4-11CE-B03A-0020AF0BA770}");
inline constexpr IID IID_IMediaSeeking = com::MakeGuid("{36B73880-C2C8-11CF-8B46-00805F6CEF60}");
inline constexpr IID IID_IFileSourceFilter = com::MakeGuid("{56A868A6-0AD4-11CE-B03A-0020AF0BA770}");

inline constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = com::MakeHResult(0x8004022F);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = com::MakeHResult(0x80040265);

inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_ERRORABORT = 0x03;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;

struct IMediaEventSink : IUnknown {
  virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;

 protected:
  ~IMediaEventSink() = default;
};

inline constexpr GUID TIME_FORMAT_NONE{};
inline constexpr GUID TIME_FORMAT_FRAME = com::MakeGuid("{7B785570-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_BYTE = com::MakeGuid("{7B785571-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_SAMPLE = com::MakeGuid("{7B785572-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_FIELD = com::MakeGuid("{7B785573-8C82-11CF-BC0C-00AA00AC74F6}");
inline constexpr GUID TIME_FORMAT_MEDIA_TIME = com::MakeGuid("{7B785574-8C82-11CF-BC0C-00AA00AC74F6}");

enum AM_SEEKING_SEEKING_CAPABILITIES : DWORD {
  AM_SEEKING_CanSeekAbsolute = 0x1,
  AM_SEEKING_CanSeekForwards = 0x2,
  AM_SEEKING_CanSeekBackwards = 0x4,
  AM_SEEKING_CanGetCurrentPos = 0x8,
  AM_SEEKING_CanGetStopPos = 0x10,
  AM_SEEKING_CanGetDuration = 0x20,
  AM_SEEKING_CanPlayBackwards = 0x40,
  AM_SEEKING_CanDoSegments = 0x80,
  AM_SEEKING_Source = 0x100,
};

enum AM_SEEKING_SEEKING_FLAGS : DWORD {
  AM_SEEKING_NoPositioning = 0x0,
  AM_SEEKING_AbsolutePositioning = 0x1,
  AM_SEEKING_RelativePositioning = 0x2,
  AM_SEEKING_IncrementalPositioning = 0x3,
  AM_SEEKING_PositioningBitsMask = 0x3,
  AM_SEEKING_SeekToKeyFrame = 0x4,
  AM_SEEKING_ReturnTime = 0x8,
};

struct IMediaSeeking : IUnknown {
  virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT CheckCapabilities(DWORD* capabilities) = 0;
  virtual HRESULT IsFormatSupported(const GUID* format) = 0;
  virtual HRESULT QueryPreferredFormat(GUID* format) = 0;
  virtual HRESULT GetTimeFormat(GUID* format) = 0;
  virtual HRESULT IsUsingTimeFormat(const GUID* format) = 0;
  virtual HRESULT SetTimeFormat(const GUID* format) = 0;
  virtual HRESULT GetDuration(LONGLONG* duration) = 0;
  virtual HRESULT GetStopPosition(LONGLONG* stop) = 0;
  virtual HRESULT GetCurrentPosition(LONGLONG* current) = 0;
  virtual HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                    const GUID* sourceFormat) = 0;
  virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) = 0;
  virtual HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
  virtual HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
  virtual HRESULT SetRate(double rate) = 0;
  virtual HRESULT GetRate(double* rate) = 0;
  virtual HRESULT GetPreroll(LONGLONG* preroll) = 0;

 protected:
  ~IMediaSeeking() = default;
};

/** @brief A source that opens a file by name (the graph's AddSourceFilter uses it). */
struct IFileSourceFilter : IUnknown {
  virtual HRESULT Load(LPCWSTR fileName, const AM_MEDIA_TYPE* type) = 0;
  /** @brief The name in task memory; the type's format block too. */
  virtual HRESULT GetCurFile(LPWSTR* fileName, AM_MEDIA_TYPE* type) = 0;

 protected:
  ~IFileSourceFilter() = default;
};

}  // namespace kestrom::dshow
