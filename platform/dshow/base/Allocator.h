#pragma once
// Media samples and the memory allocator that owns them. A sample handed out by GetBuffer goes
// back to its allocator when its last reference is released; the allocator stays alive while any
// of its samples is out.

#include "platform/dshow/base/Interfaces.h"
#include "platform/dshow/base/MediaType.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrom::dshow {

class CMemAllocator;

/**
 * @brief Our samples' own interface: a sample may carry bytes held elsewhere (a demultiplexed
 * packet) instead of copying them into its buffer. The holder keeps them alive and goes when
 * the sample is released or refilled; a receiver that keeps the bytes past the sample takes a
 * share of the holder instead of the sample, so that it never holds an allocator's buffer.
 */
inline constexpr IID IID_ISharedSampleData = com::MakeGuid("{7C2E9A51-3D48-4B0F-A6E1-58D90C4B27F3}");
struct ISharedSampleData : IUnknown {
  /** @brief The sample's bytes become data (length bytes, all of them valid) while holder lives. */
  virtual HRESULT AttachData(BYTE* data, LONG length, std::shared_ptr<void> holder) = 0;
  /** @brief The holder of attached bytes; empty when the bytes are the sample's own buffer. */
  virtual std::shared_ptr<void> DataHolder() = 0;

 protected:
  ~ISharedSampleData() = default;
};

class CMediaSample final : public IMediaSample, public ISharedSampleData {
 public:
  CMediaSample(CMemAllocator* allocator, BYTE* buffer, LONG size);
  ~CMediaSample();

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetPointer(BYTE** buffer) override;
  LONG GetSize() override;
  HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  HRESULT IsSyncPoint() override;
  HRESULT SetSyncPoint(BOOL sync) override;
  HRESULT IsPreroll() override;
  HRESULT SetPreroll(BOOL preroll) override;
  LONG GetActualDataLength() override;
  HRESULT SetActualDataLength(LONG length) override;
  HRESULT GetMediaType(AM_MEDIA_TYPE** type) override;
  HRESULT SetMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT IsDiscontinuity() override;
  HRESULT SetDiscontinuity(BOOL discontinuity) override;
  HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  HRESULT SetMediaTime(LONGLONG* start, LONGLONG* end) override;

  HRESULT AttachData(BYTE* data, LONG length, std::shared_ptr<void> holder) override;
  std::shared_ptr<void> DataHolder() override;

  /** @brief Back to a fresh state before it is handed out again. */
  void ResetForUse();
  /** @brief Lets go of attached bytes (the sample went back to its allocator). */
  void DropAttachedData();

 private:
  CMemAllocator* allocator_;
  BYTE* const ownBuffer_;
  const LONG ownSize_;
  BYTE* buffer_;
  LONG size_;
  std::shared_ptr<void> holder_;
  std::atomic<long> refs_{0};
  LONG actual_ = 0;
  bool timeValid_ = false, stopValid_ = false, mediaTimeValid_ = false;
  REFERENCE_TIME start_ = 0, stop_ = 0;
  LONGLONG mediaStart_ = 0, mediaEnd_ = 0;
  bool sync_ = false, preroll_ = false, discontinuity_ = false;
  // Kept between uses, so that a filter setting the same type on every sample allocates nothing.
  std::unique_ptr<CMediaType> type_;
  bool typeSet_ = false;
};

/** @brief Allocator of samples in one block of ordinary memory. */
class CMemAllocator final : public com::CUnknown, public IMemAllocator {
 public:
  explicit CMemAllocator(IUnknown* outer = nullptr);
  ~CMemAllocator() override;

  /** @brief A new allocator with one reference held by the caller. */
  static IMemAllocator* Create();

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override;
  HRESULT Commit() override;
  HRESULT Decommit() override;
  /** @brief Waits for a free sample unless AM_GBF_NOWAIT is given; VFW_E_NOT_COMMITTED once decommitted. */
  HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  HRESULT ReleaseBuffer(IMediaSample* sample) override;

 private:
  void FreeMemoryLocked();

  std::mutex mutex_;
  std::condition_variable freed_;
  ALLOCATOR_PROPERTIES props_{};
  bool propsSet_ = false;
  bool committed_ = false;
  long outstanding_ = 0;
  std::vector<std::unique_ptr<CMediaSample>> samples_;
  std::vector<CMediaSample*> free_;
  BYTE* memory_ = nullptr;
};

}  // namespace kestrom::dshow
