#pragma once
// The filter graph: holds filters under unique names, connects their pins directly or through
// registered filters in merit order, renders pins and files, runs, pauses and stops its filters
// against a reference clock, queues the events its filters post and notifies the program by
// posting, seeks and steps through its renderers, and passes the renderer interfaces
// (IVideoWindow, IBasicVideo, IBasicAudio) on to the filter that answers them.

#include "platform/com/ComPtr.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/GraphRendererControls.h"
#include "platform/dshow/base/Interfaces.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace kestrom::dshow {

/**
 * @brief The source filter class for files with this extension (".avi", any case); consulted
 * before the registry's HKEY_CLASSES_ROOT\Media Type\Extensions\.ext "Source Filter" value.
 * GUID_NULL withdraws it.
 */
void SetSourceFilterForExtension(const QString& extension, REFCLSID clsid);

class CFilterGraph : public com::CUnknown,
                     public IFilterGraph2,
                     public IMediaControl,
                     public IMediaEventEx,
                     public IMediaEventSink,
                     public IMediaSeeking,
                     public IMediaPosition,
                     public IVideoFrameStep,
                     public IMediaFilter {
 public:
  explicit CFilterGraph(IUnknown* outer);
  ~CFilterGraph() override;

  DECLARE_IUNKNOWN
  static com::CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  // IFilterGraph
  /** @brief A name already in use gets " 0001" (and so on) added, with VFW_S_DUPLICATE_NAME. */
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
  HRESULT RemoveFilter(IBaseFilter* filter) override;
  HRESULT EnumFilters(IEnumFilters** filters) override;
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
  HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override;
  HRESULT Reconnect(IPin* pin) override;
  HRESULT Disconnect(IPin* pin) override;
  HRESULT SetDefaultSyncSource() override;

  // IGraphBuilder
  /**
   * @brief Connects directly, else through registered filters of the filter category tried in
   * merit order (highest first); a filter of merit MERIT_DO_NOT_USE or less is never tried.
   */
  HRESULT Connect(IPin* out, IPin* in) override;
  HRESULT Render(IPin* out) override;
  HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
  HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) override;
  HRESULT SetLogFile(uintptr_t file) override;
  HRESULT Abort() override;
  HRESULT ShouldOperationContinue() override;

  // IFilterGraph2
  HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context, LPCWSTR name, IBaseFilter** filter) override;
  HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* type) override;
  HRESULT RenderEx(IPin* out, DWORD flags, DWORD* context) override;

  // IMediaControl (Stop and Pause serve IMediaFilter too)
  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;
  HRESULT GetState(LONG timeoutMs, FILTER_STATE* state) override;
  HRESULT RenderFile(LPCWSTR file) override;
  HRESULT StopWhenReady() override;

  // IMediaFilter
  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  /** @brief Only while stopped; null runs the graph without a clock (samples as they come). */
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;

  // IMediaEventEx
  HRESULT GetEventHandle(OAEVENT* handle) override;
  HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override;
  HRESULT WaitForCompletion(LONG timeoutMs, LONG* code) override;
  HRESULT CancelDefaultHandling(LONG code) override;
  HRESULT RestoreDefaultHandling(LONG code) override;
  HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override;
  HRESULT SetNotifyWindow(OAHWND window, LONG msg, LONG_PTR instance) override;
  HRESULT SetNotifyFlags(LONG flags) override;
  HRESULT GetNotifyFlags(LONG* flags) override;

  // IMediaEventSink
  HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;

  // IMediaSeeking: answered by the graph's sinks (renderers, writers) that offer it.
  HRESULT GetCapabilities(DWORD* capabilities) override;
  HRESULT CheckCapabilities(DWORD* capabilities) override;
  HRESULT IsFormatSupported(const GUID* format) override;
  HRESULT QueryPreferredFormat(GUID* format) override;
  HRESULT GetTimeFormat(GUID* format) override;
  HRESULT IsUsingTimeFormat(const GUID* format) override;
  HRESULT SetTimeFormat(const GUID* format) override;
  HRESULT GetDuration(LONGLONG* duration) override;
  HRESULT GetStopPosition(LONGLONG* stop) override;
  HRESULT GetCurrentPosition(LONGLONG* current) override;
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source, const GUID* sourceFormat) override;
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
  HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT SetRate(double rate) override;
  HRESULT GetRate(double* rate) override;
  HRESULT GetPreroll(LONGLONG* preroll) override;

  // IMediaPosition: seconds over IMediaSeeking, converted from whatever time format it uses.
  HRESULT get_Duration(REFTIME* length) override;
  HRESULT put_CurrentPosition(REFTIME time) override;
  HRESULT get_CurrentPosition(REFTIME* time) override;
  HRESULT get_StopTime(REFTIME* time) override;
  HRESULT put_StopTime(REFTIME time) override;
  HRESULT get_PrerollTime(REFTIME* time) override;
  /** @brief E_NOTIMPL: no filter of the graph takes a preroll time. */
  HRESULT put_PrerollTime(REFTIME time) override;
  HRESULT put_Rate(double rate) override;
  HRESULT get_Rate(double* rate) override;
  HRESULT CanSeekForward(LONG* canSeek) override;
  HRESULT CanSeekBackward(LONG* canSeek) override;

  // IVideoFrameStep
  HRESULT Step(DWORD frames, IUnknown* stepObject) override;
  HRESULT CanStep(LONG multiple, IUnknown* stepObject) override;
  HRESULT CancelStep() override;

 protected:
  struct Entry {
    IBaseFilter* filter;  // referenced
    std::u16string name;
  };

  HRESULT AddFilterLocked(IBaseFilter* filter, LPCWSTR name);
  HRESULT ConnectThroughRegistered(IPin* out, IPin* in, int depth);
  HRESULT ConnectThroughRegisteredLocked(IPin* out, IPin* in, int depth);
  bool Contains(IBaseFilter* filter);
  bool PinInGraph(IPin* pin);
  void DisconnectAllPins(IBaseFilter* filter);

  struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
  };

  /** @brief The filters, those downstream before those upstream (the order of state changes). */
  std::vector<IBaseFilter*> DownstreamFirst();
  void ChooseDefaultClockLocked();
  void DistributeClockLocked();
  HRESULT PauseLocked();
  HRESULT RunLocked(REFERENCE_TIME start);
  HRESULT StopLocked();
  int CountRenderers();
  void QueueEvent(const Event& event);
  std::vector<com::ComPtr<IMediaSeeking>> Seekers();
  std::vector<com::ComPtr<IVideoFrameStep>> Steppers();
  HRESULT RenderPin(IPin* out, int depth);
  HRESULT ReconnectLocked(IPin* pin, const AM_MEDIA_TYPE* type);
  /** @brief A value in the seeking time format as seconds, and back. */
  HRESULT SecondsOf(LONGLONG value, REFTIME* seconds);
  HRESULT ValueOf(REFTIME seconds, LONGLONG* value);
  HRESULT CanSeek(DWORD capability, LONG* canSeek);
  /** @brief The event handle follows the queue (under eventMutex_). */
  void SignalQueueLocked();

  /** @brief The filters, referenced, taken under the lock (for calls made without it). */
  std::vector<com::ComPtr<IBaseFilter>> FilterSnapshot();

  std::recursive_mutex lock_;
  std::vector<Entry> filters_;
  std::unique_ptr<CGraphRendererControls> rendererControls_;

  // Run state, guarded by lock_ (the state itself is read by any thread).
  std::atomic<FILTER_STATE> state_{State_Stopped};
  IReferenceClock* clock_ = nullptr;  // referenced
  bool clockExplicit_ = false;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME pausedAt_ = 0;  // stream time when paused from running

  // Events, guarded by eventMutex_ (streaming threads post them).
  std::mutex eventMutex_;
  std::condition_variable eventArrived_;
  std::deque<Event> events_;
  int eventHandle_ = -1;  // eventfd, readable while events_ is not empty
  bool eventSignalled_ = false;
  std::set<LONG> cancelled_;
  OAHWND notifyWindow_ = 0;
  LONG notifyMessage_ = 0;
  LONG_PTR notifyInstance_ = 0;
  LONG notifyFlags_ = 0;
  int renderersExpected_ = 0;
  int renderersComplete_ = 0;
};

/** @brief The pins of a filter in one direction (only the unconnected ones when asked). */
std::vector<com::ComPtr<IPin>> FilterPins(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnectedOnly);

/** @brief The same object, compared by identity (the IUnknown each hands out). */
bool IsSameObject(IUnknown* a, IUnknown* b);

}  // namespace kestrom::dshow
