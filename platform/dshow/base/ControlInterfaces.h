#pragma once
// The interfaces through which a program runs a graph (control, events, seeking, stepping),
// through which filters report to the graph, and those of capture building and the simple
// filters (stream control, file sinks, the sample grabber, pin categories).

#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/Interfaces.h"

#include <functional>

namespace kestrom::dshow {

/** @brief A window handle as the graph carries it (only handed back to the program's poster). */
using OAHWND = intptr_t;
using LONG_PTR = intptr_t;
using OAEVENT = intptr_t;

/** @brief Where filters post events; the graph answers it (query the graph a filter joined). */
struct IMediaEventSink : IUnknown {
  /** @brief Safe on any thread; never blocks on the program. */
  virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;

 protected:
  ~IMediaEventSink() = default;
};

struct IMediaControl : IUnknown {
  virtual HRESULT Run() = 0;
  /** @brief Returns at once: S_FALSE while filters still cue, VFW_S_CANT_CUE with a live source. */
  virtual HRESULT Pause() = 0;
  /** @brief Wakes every streaming thread, then joins them; never waits for the program. */
  virtual HRESULT Stop() = 0;
  /** @brief VFW_S_STATE_INTERMEDIATE while the change is under way after timeoutMs. */
  virtual HRESULT GetState(LONG timeoutMs, FILTER_STATE* state) = 0;
  virtual HRESULT RenderFile(LPCWSTR file) = 0;
  virtual HRESULT StopWhenReady() = 0;

 protected:
  ~IMediaControl() = default;
};

struct IMediaEvent : IUnknown {
  /**
   * @brief The graph's event handle: signalled while events are queued, reset when the queue
   * empties. It stays the graph's (never closed by the caller) and lives as long as the graph.
   */
  virtual HRESULT GetEventHandle(OAEVENT* handle) = 0;
  /** @brief The next queued event, waiting up to timeoutMs; E_ABORT when none came. */
  virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) = 0;
  virtual HRESULT WaitForCompletion(LONG timeoutMs, LONG* code) = 0;
  virtual HRESULT CancelDefaultHandling(LONG code) = 0;
  virtual HRESULT RestoreDefaultHandling(LONG code) = 0;
  virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;

 protected:
  ~IMediaEvent() = default;
};

struct IMediaEventEx : IMediaEvent {
  /** @brief Posts (msg, 0, instance) to the window for each queued event; window 0 switches it off. */
  virtual HRESULT SetNotifyWindow(OAHWND window, LONG msg, LONG_PTR instance) = 0;
  virtual HRESULT SetNotifyFlags(LONG flags) = 0;
  virtual HRESULT GetNotifyFlags(LONG* flags) = 0;

 protected:
  ~IMediaEventEx() = default;
};

/**
 * @brief Waiting on an event handle (a file descriptor that is readable while the event is
 * signalled, so it also serves poll() and QSocketNotifier). Waiting does not reset it.
 */
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
/** @brief WAIT_OBJECT_0 once the handle is signalled, WAIT_TIMEOUT after timeoutMs, WAIT_FAILED for a bad handle. */
DWORD WaitForSingleObject(OAEVENT handle, DWORD timeoutMs);

/**
 * @brief How the graph posts its notification message to a program window: the program gives
 * one poster for the process (window handles are the program's own). It must only post, never
 * wait for the window's thread; it is called on streaming threads.
 */
using GraphNotifyPoster = std::function<void(OAHWND window, LONG msg, LONG_PTR wParam, LONG_PTR lParam)>;
/** @brief Installs the process's poster (empty: notifications go nowhere). */
void SetGraphNotifyPoster(GraphNotifyPoster poster);

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

/** @brief Seconds, as IMediaPosition counts time. */
using REFTIME = double;
inline constexpr LONG OATRUE = -1;
inline constexpr LONG OAFALSE = 0;

/**
 * @brief The graph's position in seconds, whatever time format IMediaSeeking uses: a view of
 * the graph's IMediaSeeking for programs that count in seconds.
 */
struct IMediaPosition : IUnknown {
  virtual HRESULT get_Duration(REFTIME* length) = 0;
  virtual HRESULT put_CurrentPosition(REFTIME time) = 0;
  virtual HRESULT get_CurrentPosition(REFTIME* time) = 0;
  virtual HRESULT get_StopTime(REFTIME* time) = 0;
  virtual HRESULT put_StopTime(REFTIME time) = 0;
  virtual HRESULT get_PrerollTime(REFTIME* time) = 0;
  virtual HRESULT put_PrerollTime(REFTIME time) = 0;
  virtual HRESULT put_Rate(double rate) = 0;
  virtual HRESULT get_Rate(double* rate) = 0;
  /** @brief OATRUE or OAFALSE. */
  virtual HRESULT CanSeekForward(LONG* canSeek) = 0;
  virtual HRESULT CanSeekBackward(LONG* canSeek) = 0;

 protected:
  ~IMediaPosition() = default;
};

struct IVideoFrameStep : IUnknown {
  /** @brief Shows the next frames (frames of them), pauses and posts EC_STEP_COMPLETE. */
  virtual HRESULT Step(DWORD frames, IUnknown* stepObject) = 0;
  virtual HRESULT CanStep(LONG multiple, IUnknown* stepObject) = 0;
  virtual HRESULT CancelStep() = 0;

 protected:
  ~IVideoFrameStep() = default;
};

struct IBindCtx;  // not used: always null

/** @brief A name for an object (a device) that makes the object on request. */
struct IMoniker : IUnknown {
  virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
  /** @brief The object's storage, e.g. IID_IPropertyBag for a device's properties. */
  virtual HRESULT BindToStorage(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
  /** @brief *name is task memory. */
  virtual HRESULT GetDisplayName(IBindCtx* context, IMoniker* left, LPWSTR* name) = 0;

 protected:
  ~IMoniker() = default;
};

/** @brief The graph's extensions to IGraphBuilder. */
struct IFilterGraph2 : IGraphBuilder {
  /** @brief Binds the moniker to a filter and adds it under name (the moniker's display name without one). */
  virtual HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context, LPCWSTR name, IBaseFilter** filter) = 0;
  /** @brief Reconnect with this type (null: any type the pins agree on); the old one stays when the pins refuse it. */
  virtual HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT RenderEx(IPin* out, DWORD flags, DWORD* context) = 0;

 protected:
  ~IFilterGraph2() = default;
};

/** @brief Starts and stops one pin's stream at given reference times (cookies come back in events). */
struct IAMStreamControl : IUnknown {
  /** @brief null: start now; MAX_TIME: cancel a pending start. */
  virtual HRESULT StartAt(const REFERENCE_TIME* start, DWORD cookie) = 0;
  /** @brief null: stop now; MAX_TIME: cancel a pending stop. */
  virtual HRESULT StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) = 0;
  virtual HRESULT GetInfo(AM_STREAM_INFO* info) = 0;

 protected:
  ~IAMStreamControl() = default;
};

struct IAMFilterMiscFlags : IUnknown {
  virtual ULONG GetMiscFlags() = 0;

 protected:
  ~IAMFilterMiscFlags() = default;
};

/** @brief Property sets; pins answer AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY with their category. */
struct IKsPropertySet : IUnknown {
  virtual HRESULT Set(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data, DWORD dataLength) = 0;
  virtual HRESULT Get(REFGUID set, DWORD id, void* instance, DWORD instanceLength, void* data, DWORD dataLength,
                      DWORD* returned) = 0;
  virtual HRESULT QuerySupported(REFGUID set, DWORD id, DWORD* support) = 0;

 protected:
  ~IKsPropertySet() = default;
};

struct IFileSinkFilter : IUnknown {
  virtual HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE* type) = 0;
  /** @brief *file is task memory; type may be null. */
  virtual HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) = 0;

 protected:
  ~IFileSinkFilter() = default;
};

struct IFileSourceFilter : IUnknown {
  virtual HRESULT Load(LPCWSTR file, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) = 0;

 protected:
  ~IFileSourceFilter() = default;
};

struct IAMCopyCaptureFileProgress : IUnknown {
  virtual HRESULT Progress(int percent) = 0;

 protected:
  ~IAMCopyCaptureFileProgress() = default;
};

struct ICaptureGraphBuilder2 : IUnknown {
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
  virtual HRESULT SetOutputFileName(const GUID* type, LPCWSTR file, IBaseFilter** mux, IFileSinkFilter** sink) = 0;
  virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                                void** object) = 0;
  virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* compressor,
                               IBaseFilter* renderer) = 0;
  virtual HRESULT ControlStream(const GUID* category, const GUID* type, IBaseFilter* filter, REFERENCE_TIME* start,
                                REFERENCE_TIME* stop, WORD startCookie, WORD stopCookie) = 0;
  virtual HRESULT AllocCapFile(LPCWSTR file, uint64_t size) = 0;
  virtual HRESULT CopyCaptureFile(LPWSTR oldFile, LPWSTR newFile, int allowEscAbort,
                                  IAMCopyCaptureFileProgress* callback) = 0;
  virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category, const GUID* type,
                          BOOL unconnected, int index, IPin** pin) = 0;

 protected:
  ~ICaptureGraphBuilder2() = default;
};

struct ISampleGrabberCB : IUnknown {
  /** @brief On the streaming thread; the sample is only lent for the call. */
  virtual HRESULT SampleCB(double sampleTime, IMediaSample* sample) = 0;
  /** @brief On the streaming thread, with a copy of the sample's data. */
  virtual HRESULT BufferCB(double sampleTime, BYTE* buffer, LONG length) = 0;

 protected:
  ~ISampleGrabberCB() = default;
};

struct ISampleGrabber : IUnknown {
  /** @brief After one sample the grabber ends the stream (EC_COMPLETE). */
  virtual HRESULT SetOneShot(BOOL oneShot) = 0;
  /** @brief The type to accept; only the fields given (not GUID_NULL) must match. */
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
  /**
   * @brief With a null buffer: the size needed in *size; else copies the last sample
   * (E_OUTOFMEMORY when *size is short). E_INVALIDARG while not buffering,
   * VFW_E_WRONG_STATE before the first sample.
   */
  virtual HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) = 0;
  /**
   * @brief A sample of the program's own holding a copy of the last sample (bytes, times,
   * flags); VFW_E_WRONG_STATE while not buffering or before the first sample.
   */
  virtual HRESULT GetCurrentSample(IMediaSample** sample) = 0;
  /** @brief which: 0 SampleCB, 1 BufferCB; a null callback removes it. */
  virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG which) = 0;

 protected:
  ~ISampleGrabber() = default;
};

}  // namespace kestrom::dshow
