#pragma once
// A filter with one input and one output pin that makes one output sample from each input
// sample. The derived filter says which types it takes and gives and does the transform. A
// filter that leaves a sample's bytes as they are may hand the input sample on itself instead
// (pass-through), which spares a copy of every frame.

#include "platform/dshow/base/BaseFilter.h"
#include "platform/dshow/base/Seeking.h"

#include <atomic>
#include <memory>

namespace kestrom::dshow {

class CTransformFilter;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name);

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  CTransformFilter* transform_;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name);

  /** @brief Also IMediaSeeking, passed to the pin upstream of the filter's input. */
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT CheckMediaType(const CMediaType* type) override;
  HRESULT SetMediaType(const CMediaType* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  /** @brief The base agreement; samples passed through are read-only downstream when they are here. */
  HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override;

  /** @brief The allocator agreed with the downstream pin (not referenced), null before. */
  IMemAllocator* PeekAllocator() const { return allocator_; }

 private:
  CTransformFilter* transform_;
  std::unique_ptr<CPosPassThru> seeking_;
};

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(const char* objectName, IUnknown* outer, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;

  HRESULT Stop() override;
  HRESULT Pause() override;

  // What the derived filter decides.
  virtual HRESULT CheckInputType(const CMediaType* type) = 0;
  virtual HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  virtual HRESULT GetMediaType(int position, CMediaType* type) = 0;
  /** @brief S_OK delivers the output sample, S_FALSE drops it, an error fails the input sample. */
  virtual HRESULT Transform(IMediaSample* in, IMediaSample* out) = 0;

  // Pass-through. A filter that may hand samples on as they came says so in CanPassThrough;
  // PassesThrough then decides each sample on the streaming thread. A sample that passes goes to
  // TransformInPlace and then downstream itself, with no output buffer, provided the agreed
  // allocators permit it (see PassThroughPermitted). Samples the upstream pin marked read-only
  // (a tee shares them between branches) must keep their bytes, times and flags: a filter that
  // would change any of them answers false for such a sample and transforms a copy.
  /** @brief True when the filter ever passes samples through; false (the default) always copies. */
  virtual bool CanPassThrough() const { return false; }
  /** @brief True when this input sample goes on as it is; only asked when CanPassThrough. */
  virtual bool PassesThrough(IMediaSample* in);
  /** @brief The work on a sample that passes: S_OK delivers it, S_FALSE drops it. */
  virtual HRESULT TransformInPlace(IMediaSample* sample);
  /** @brief The upstream pin shares its samples: they must not be changed. */
  bool InputIsReadOnly() { return InputPin() && InputPin()->IsReadOnly(); }
  /**
   * @brief The samples of the input's allocator meet what the output's allocator agreed with the
   * downstream pin (size, alignment, prefix), so they may be delivered in place of its own.
   * Decided when streaming starts.
   */
  bool PassThroughPermitted() const { return passThroughPermitted_.load(std::memory_order_relaxed); }

  /** @brief The agreed type of one side; S_OK by default. */
  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* type);
  virtual HRESULT CheckConnect(PIN_DIRECTION direction, IPin* pin);
  virtual HRESULT BreakConnect(PIN_DIRECTION direction);
  virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin);
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();

  /** @brief Makes, delivers and releases the output sample of one input sample. */
  virtual HRESULT Receive(IMediaSample* sample);
  /** @brief A delivery buffer with the input sample's times and flags. */
  virtual HRESULT InitializeOutputSample(IMediaSample* in, IMediaSample** out);
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  /** @brief The pins (made on first use; null only when they could not be made). */
  // Streaming threads call these while Stop holds the filter lock and waits for the receive lock,
  // so once the pins exist they are handed out without taking the filter lock.
  CTransformInputPin* InputPin() {
    if (!pinsMade_.load(std::memory_order_acquire)) GetPin(0);
    return input_.get();
  }
  CTransformOutputPin* OutputPin() {
    if (!pinsMade_.load(std::memory_order_acquire)) GetPin(1);
    return output_.get();
  }

 protected:
  std::recursive_mutex filterLock_;
  std::mutex receiveLock_;
  std::unique_ptr<CTransformInputPin> input_;
  std::unique_ptr<CTransformOutputPin> output_;
  bool pinsFailed_ = false;
  std::atomic<bool> pinsMade_{false};  // both pins made; they live as long as the filter

 private:
  bool AllocatorsPermitPassThrough();
  std::atomic<bool> passThroughPermitted_{false};
};

/** @brief The transform base of video filters. */
class CVideoTransformFilter : public CTransformFilter {
 public:
  using CTransformFilter::CTransformFilter;
};

}  // namespace kestrom::dshow
