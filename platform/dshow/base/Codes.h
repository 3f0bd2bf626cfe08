#pragma once
// Event codes that filters post to the graph and the graph queues for the program, further
// result codes of the filter graph, and the flags of its control interfaces.

#include "platform/com/HResult.h"
#include "platform/dshow/base/Types.h"

namespace kestrom::dshow {

using com::MakeHResult;

// Further result codes (the common ones live with the COM runtime).
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = MakeHResult(0x00040237);
inline constexpr HRESULT VFW_S_PARTIAL_RENDER = MakeHResult(0x00040242);
inline constexpr HRESULT VFW_S_CANT_CUE = MakeHResult(0x00040268);
inline constexpr HRESULT VFW_S_NOPREVIEWPIN = MakeHResult(0x0004027E);
inline constexpr HRESULT VFW_E_NO_CLOCK = MakeHResult(0x80040213);
inline constexpr HRESULT VFW_E_NOT_PAUSED = MakeHResult(0x80040225);
inline constexpr HRESULT VFW_E_NOT_RUNNING = MakeHResult(0x80040226);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED = MakeHResult(0x8004022B);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = MakeHResult(0x8004022C);
inline constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = MakeHResult(0x80040240);
inline constexpr HRESULT VFW_E_NO_TIME_FORMAT = MakeHResult(0x80040252);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = MakeHResult(0x80040265);
inline constexpr HRESULT VFW_E_FRAME_STEP_UNSUPPORTED = MakeHResult(0x8004028E);

// Event codes (IMediaEventSink::Notify, IMediaEvent::GetEvent).
inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;
inline constexpr LONG EC_TIME = 0x04;
inline constexpr LONG EC_REPAINT = 0x05;
inline constexpr LONG EC_STREAM_ERROR_STOPPED = 0x06;
inline constexpr LONG EC_STREAM_ERROR_STILLPLAYING = 0x07;
inline constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
inline constexpr LONG EC_PALETTE_CHANGED = 0x09;
inline constexpr LONG EC_VIDEO_SIZE_CHANGED = 0x0A;
inline constexpr LONG EC_QUALITY_CHANGE = 0x0B;
inline constexpr LONG EC_SHUTTING_DOWN = 0x0C;
inline constexpr LONG EC_CLOCK_CHANGED = 0x0D;
inline constexpr LONG EC_PAUSED = 0x0E;
inline constexpr LONG EC_OPENING_FILE = 0x10;
inline constexpr LONG EC_BUFFERING_DATA = 0x11;
inline constexpr LONG EC_FULLSCREEN_LOST = 0x12;
inline constexpr LONG EC_ACTIVATE = 0x13;
inline constexpr LONG EC_NEED_RESTART = 0x14;
inline constexpr LONG EC_WINDOW_DESTROYED = 0x15;
inline constexpr LONG EC_DISPLAY_CHANGED = 0x16;
inline constexpr LONG EC_STARVATION = 0x17;
inline constexpr LONG EC_STREAM_CONTROL_STOPPED = 0x1A;
inline constexpr LONG EC_STREAM_CONTROL_STARTED = 0x1B;
inline constexpr LONG EC_END_OF_SEGMENT = 0x1C;
inline constexpr LONG EC_SEGMENT_STARTED = 0x1D;
inline constexpr LONG EC_LENGTH_CHANGED = 0x1E;
inline constexpr LONG EC_DEVICE_LOST = 0x1F;
inline constexpr LONG EC_STEP_COMPLETE = 0x24;
inline constexpr LONG EC_TIMECODE_AVAILABLE = 0x30;
inline constexpr LONG EC_LOADSTATUS = 0x43;
inline constexpr LONG EC_ERRORABORTEX = 0x45;
inline constexpr LONG EC_CLOCK_UNSET = 0x51;
/** @brief Codes from here on belong to the program (and its filters). */
inline constexpr LONG EC_USER = 0x8000;

// IMediaEventEx::SetNotifyFlags.
inline constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

// IAMFilterMiscFlags::GetMiscFlags.
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
inline constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;

// IMediaSeeking capabilities.
inline constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
inline constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
inline constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
inline constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
inline constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
inline constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
inline constexpr DWORD AM_SEEKING_CanPlayBackwards = 0x40;
inline constexpr DWORD AM_SEEKING_CanDoSegments = 0x80;
inline constexpr DWORD AM_SEEKING_Source = 0x100;

// IMediaSeeking::SetPositions flags.
inline constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
inline constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
inline constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;
inline constexpr DWORD AM_SEEKING_PositioningBitsMask = 0x3;
inline constexpr DWORD AM_SEEKING_SeekToKeyFrame = 0x4;
inline constexpr DWORD AM_SEEKING_ReturnTime = 0x8;
inline constexpr DWORD AM_SEEKING_Segment = 0x10;
inline constexpr DWORD AM_SEEKING_NoFlush = 0x20;

/** @brief The largest media time: "no stop position". */
inline constexpr REFERENCE_TIME MAX_TIME = 0x7FFFFFFFFFFFFFFF;

// IAMStreamControl.
inline constexpr DWORD AM_STREAM_INFO_START_DEFINED = 0x1;
inline constexpr DWORD AM_STREAM_INFO_STOP_DEFINED = 0x2;
inline constexpr DWORD AM_STREAM_INFO_DISCARDING = 0x4;
inline constexpr DWORD AM_STREAM_INFO_STOP_SEND_EXTRA = 0x10;

struct AM_STREAM_INFO {
  REFERENCE_TIME tStart;
  REFERENCE_TIME tStop;
  DWORD dwStartCookie;
  DWORD dwStopCookie;
  DWORD dwFlags;
};

// IKsPropertySet on pins: the pin's category.
inline constexpr DWORD AMPROPERTY_PIN_CATEGORY = 0;
inline constexpr DWORD AMPROPERTY_PIN_MEDIUM = 1;
inline constexpr DWORD KSPROPERTY_SUPPORT_GET = 1;
inline constexpr DWORD KSPROPERTY_SUPPORT_SET = 2;

// ISampleGrabber::SetCallback: which method of the callback is called.
inline constexpr LONG SAMPLEGRABBER_CB_SAMPLE = 0;
inline constexpr LONG SAMPLEGRABBER_CB_BUFFER = 1;

/** @brief 100-ns units per second and per millisecond. */
inline constexpr REFERENCE_TIME UNITS = 10000000;
inline constexpr REFERENCE_TIME MILLISECONDS = 10000;

}  // namespace kestrom::dshow
