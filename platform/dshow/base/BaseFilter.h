#pragma once
// Base classes of filters and pins: a filter holds its pins and state; pins negotiate a media
// type when they connect and then move samples through IMemInputPin with an agreed allocator.

#include "platform/dshow/base/Allocator.h"
#include "platform/dshow/base/Interfaces.h"
#include "platform/dshow/base/MediaType.h"

#include <atomic>
#include <mutex>
#include <string>

namespace kestrom::dshow {

class CBasePin;

/** @brief A filter with its state, name, graph and pins (the derived class supplies the pins). */
class CBaseFilter : public com::CUnknown, public IBaseFilter {
 public:
  CBaseFilter(const char* objectName, IUnknown* outer, std::recursive_mutex* lock, REFCLSID clsid);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  virtual int GetPinCount() = 0;
  /** @brief The pin at index n (not referenced), null past the end. */
  virtual CBasePin* GetPin(int n) = 0;

  // IPersist
  HRESULT GetClassID(CLSID* clsid) override;
  // IMediaFilter
  HRESULT Stop() override;
  HRESULT Pause() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT SetSyncSource(IReferenceClock* clock) override;
  HRESULT GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT EnumPins(IEnumPins** pins) override;
  HRESULT FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT QueryVendorInfo(LPWSTR* vendorInfo) override;

  bool IsStopped() const { return state_ == State_Stopped; }
  std::recursive_mutex* FilterLock() const { return lock_; }

 protected:
  std::recursive_mutex* lock_;
  // Read by streaming threads without the filter lock.
  std::atomic<FILTER_STATE> state_{State_Stopped};
  REFERENCE_TIME start_ = 0;
  IFilterGraph* graph_ = nullptr;  // not referenced: the graph owns us
  std::u16string name_;
  CLSID clsid_;
  IReferenceClock* clock_ = nullptr;
};

/** @brief A pin; its references are its filter's, and its filter deletes it. */
class CBasePin : public com::CUnknown, public IPin {
 public:
  CBasePin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, HRESULT* hr,
           LPCWSTR name, PIN_DIRECTION direction);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // IPin
  HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT Disconnect() override;
  HRESULT ConnectedTo(IPin** pin) override;
  HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT QueryPinInfo(PIN_INFO* info) override;
  HRESULT QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT QueryId(LPWSTR* id) override;
  HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override = 0;
  HRESULT EndFlush() override = 0;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // What a derived pin decides.
  /** @brief S_OK when the type is acceptable. */
  virtual HRESULT CheckMediaType(const CMediaType* type) = 0;
  /** @brief The preferred type at position (0-based); VFW_S_NO_MORE_ITEMS past the end. */
  virtual HRESULT GetMediaType(int position, CMediaType* type);
  /** @brief Records the agreed type. */
  virtual HRESULT SetMediaType(const CMediaType* type);
  /** @brief Checks the other pin before a type is tried (direction by default). */
  virtual HRESULT CheckConnect(IPin* pin);
  /** @brief Undoes CheckConnect and CompleteConnect. */
  virtual HRESULT BreakConnect();
  /** @brief Runs once the other pin accepted the type. */
  virtual HRESULT CompleteConnect(IPin* receivePin);
  /** @brief The filter leaves or enters the stopped state. */
  virtual HRESULT Active();
  virtual HRESULT Inactive();

  bool IsConnected() const { return connected_ != nullptr; }
  IPin* GetConnected() const { return connected_; }
  const CMediaType& CurrentMediaType() const { return mt_; }
  const std::u16string& Name() const { return name_; }
  PIN_DIRECTION Direction() const { return direction_; }

 protected:
  HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* type);
  HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types);
  HRESULT AttemptConnection(IPin* receivePin, const CMediaType* type);
  bool IsFilterStopped() const { return filter_->IsStopped(); }

  CBaseFilter* filter_;
  std::recursive_mutex* lock_;
  std::u16string name_;
  PIN_DIRECTION direction_;
  IPin* connected_ = nullptr;  // referenced
  CMediaType mt_;
  REFERENCE_TIME segmentStart_ = 0, segmentStop_ = 0;
  double segmentRate_ = 1.0;
};

/** @brief An output pin that agrees an allocator with the input pin it connects to and delivers samples. */
class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, HRESULT* hr, LPCWSTR name);
  ~CBaseOutputPin() override;

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT Active() override;
  HRESULT Inactive() override;
  HRESULT BeginFlush() override { return com::E_UNEXPECTED; }
  HRESULT EndFlush() override { return com::E_UNEXPECTED; }
  HRESULT EndOfStream() override { return com::E_UNEXPECTED; }

  /** @brief Sets the buffer count and size on the allocator (with SetProperties). */
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  /** @brief Agrees the allocator: the input pin's own, else a memory allocator of ours. */
  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);

  HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
  HRESULT Deliver(IMediaSample* sample);
  HRESULT DeliverEndOfStream();
  HRESULT DeliverBeginFlush();
  HRESULT DeliverEndFlush();
  HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

 protected:
  IMemAllocator* allocator_ = nullptr;  // referenced
  IMemInputPin* inputPin_ = nullptr;    // referenced
};

/** @brief An input pin that receives samples; a stopped or flushing pin refuses them. */
class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(const char* objectName, CBaseFilter* filter, std::recursive_mutex* lock, HRESULT* hr, LPCWSTR name);
  ~CBaseInputPin() override;

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  // IMemInputPin
  HRESULT GetAllocator(IMemAllocator** allocator) override;
  HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  /** @brief The checks every sample passes: streaming, and any new type acceptable. */
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  HRESULT ReceiveCanBlock() override;

  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT BreakConnect() override;
  HRESULT Inactive() override;

  /** @brief S_OK while samples may flow: connected, not flushing, filter not stopped. */
  HRESULT CheckStreaming();
  bool IsFlushing() const { return flushing_; }

 protected:
  IMemAllocator* allocator_ = nullptr;  // referenced
  bool readOnly_ = false;
  std::atomic<bool> flushing_{false};
};

}  // namespace kestrom::dshow
