// Samples carrying bytes held elsewhere: the bytes outlive the sample through a share of their
// holder, while the sample itself goes back to its allocator for the next delivery.
#include "platform/com/ComPtr.h"
#include "platform/dshow/base/Allocator.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace kestrom::dshow {
namespace {

using namespace com;

ComPtr<IMemAllocator> OneBufferAllocator(LONG size) {
  ComPtr<IMemAllocator> allocator = ComPtr<IMemAllocator>::Attach(CMemAllocator::Create());
  ALLOCATOR_PROPERTIES request{1, size, 1, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  return allocator;
}

TEST(SharedSampleData, AttachedBytesOutliveTheSampleWhileItsBufferServesTheNextDelivery) {
  ComPtr<IMemAllocator> allocator = OneBufferAllocator(64);
  auto bytes = std::make_shared<std::vector<uint8_t>>(1000, uint8_t{0x5A});
  std::weak_ptr<std::vector<uint8_t>> watch = bytes;

  IMediaSample* raw = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&raw, nullptr, nullptr, 0), S_OK);
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Attach(raw);
  BYTE* own = nullptr;
  sample->GetPointer(&own);
  ComPtr<ISharedSampleData> shared;
  ASSERT_EQ(sample->QueryInterface(IID_ISharedSampleData, shared.PutVoid()), S_OK);
  EXPECT_FALSE(shared->DataHolder());  // its own buffer: nothing to share
  // Larger than the allocator's buffer: the sample is the packet's size now.
  ASSERT_EQ(shared->AttachData(bytes->data(), 1000, bytes), S_OK);
  bytes.reset();
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_EQ(sample->GetSize(), 1000);
  EXPECT_EQ(sample->GetActualDataLength(), 1000);
  EXPECT_EQ(sample->SetActualDataLength(1001), VFW_E_BUFFER_OVERFLOW);

  // A receiver keeps the bytes, not the sample.
  std::shared_ptr<void> kept = shared->DataHolder();
  ASSERT_TRUE(kept);
  shared.Reset();
  sample.Reset();

  // The only buffer is free again, as it was before the bytes were attached.
  raw = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&raw, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
  ComPtr<IMediaSample> next = ComPtr<IMediaSample>::Attach(raw);
  BYTE* again = nullptr;
  next->GetPointer(&again);
  EXPECT_EQ(again, own);
  EXPECT_EQ(next->GetSize(), 64);
  ASSERT_EQ(next->QueryInterface(IID_ISharedSampleData, shared.PutVoid()), S_OK);
  EXPECT_FALSE(shared->DataHolder());
  shared.Reset();

  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(data[0], 0x5A);
  EXPECT_EQ(data[999], 0x5A);
  kept.reset();
  EXPECT_TRUE(watch.expired());

  // Released without a share taken, the bytes go with the sample's return.
  bytes = std::make_shared<std::vector<uint8_t>>(10);
  watch = bytes;
  ASSERT_EQ(next->QueryInterface(IID_ISharedSampleData, shared.PutVoid()), S_OK);
  BYTE* small = bytes->data();
  ASSERT_EQ(shared->AttachData(small, 10, std::move(bytes)), S_OK);
  shared.Reset();
  next.Reset();
  EXPECT_TRUE(watch.expired());
  allocator->Decommit();
}

}  // namespace
}  // namespace kestrom::dshow
