#include "platform/dshow/base/Allocator.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"

#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;

TEST(MediaType, RgbRowsArePaddedToFourBytes) {
  const struct {
    LONG width;
    int bits;
    LONG stride;
  } cases[] = {{720, 24, 2160}, {360, 24, 1080}, {721, 24, 2164}, {1, 24, 4}, {2, 24, 8},
               {720, 32, 2880}, {361, 32, 1444}, {-3, 24, 12}, {0, 24, 0}};
  for (const auto& c : cases) EXPECT_EQ(RgbStride(c.width, c.bits), c.stride) << c.width << "x" << c.bits;
}

TEST(MediaType, RgbVideoTypeIsBottomUpUnlessHeightIsNegative) {
  const CMediaType up = MakeRgbVideoType(24, 721, 577, 400000);
  EXPECT_EQ(up.majortype, MEDIATYPE_Video);
  EXPECT_EQ(up.subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(up.formattype, FORMAT_VideoInfo);
  ASSERT_EQ(up.cbFormat, 88u);
  const BITMAPINFOHEADER* h = GetBitmapInfoHeader(up);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(h) - up.pbFormat, 48);
  EXPECT_EQ(h->biHeight, 577);
  EXPECT_EQ(h->biSizeImage, 2164u * 577u);
  EXPECT_EQ(up.lSampleSize, 2164u * 577u);
  EXPECT_EQ(up.bFixedSizeSamples, 1);

  const CMediaType down = MakeRgbVideoType(32, 720, -576, 400000);
  EXPECT_EQ(down.subtype, MEDIASUBTYPE_RGB32);
  EXPECT_EQ(GetBitmapInfoHeader(down)->biHeight, -576);
  EXPECT_EQ(down.lSampleSize, 2880u * 576u);
}

TEST(MediaType, FormatBlockShorterThanItsHeaderHasNoHeader) {
  CMediaType mt = MakeRgbVideoType(24, 8, 8, 0);
  mt.cbFormat = 87;
  EXPECT_EQ(GetBitmapInfoHeader(mt), nullptr);
  mt.cbFormat = 88;
  mt.formattype = FORMAT_VideoInfo2;  // needs 112 bytes
  EXPECT_EQ(GetBitmapInfoHeader(mt), nullptr);
  mt.formattype = FORMAT_WaveFormatEx;
  EXPECT_EQ(GetBitmapInfoHeader(mt), nullptr);
}

TEST(MediaType, CopiesOwnTheirFormatBlocks) {
  CMediaType a = MakeRgbVideoType(24, 16, 16, 0);
  CMediaType b = a;
  EXPECT_TRUE(a == b);
  EXPECT_NE(a.pbFormat, b.pbFormat);
  reinterpret_cast<VIDEOINFOHEADER*>(b.pbFormat)->bmiHeader.biWidth = 32;
  EXPECT_FALSE(a == b);
  AM_MEDIA_TYPE* task = CreateMediaType(&a);
  ASSERT_NE(task, nullptr);
  EXPECT_TRUE(CMediaType(*task) == a);
  DeleteMediaType(task);

  CMediaType partial;
  partial.SetType(MEDIATYPE_Video);
  EXPECT_TRUE(partial.IsPartiallySpecified());
  EXPECT_TRUE(partial.MatchesPartial(a));
  partial.SetSubtype(MEDIASUBTYPE_RGB32);
  EXPECT_FALSE(partial.MatchesPartial(a));
}

TEST(Allocator, HandsOutCommittedSamplesThatComeBackOnRelease) {
  IMemAllocator* allocator = CMemAllocator::Create();
  ASSERT_NE(allocator, nullptr);
  ALLOCATOR_PROPERTIES request{2, 1000, 0, 0}, actual{};
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
  request.cbAlign = 16;
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(actual.cBuffers, 2);
  EXPECT_GE(actual.cbBuffer, 1000);

  IMediaSample* sample = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* a = nullptr;
  IMediaSample* b = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(allocator->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);

  // Sample state: times, flags, lengths and media type.
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(a->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME s = 10, e = 20;
  a->SetTime(&s, &e);
  EXPECT_EQ(a->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 20);
  EXPECT_EQ(a->IsSyncPoint(), S_FALSE);
  a->SetSyncPoint(1);
  EXPECT_EQ(a->IsSyncPoint(), S_OK);
  EXPECT_EQ(a->GetActualDataLength(), a->GetSize());
  EXPECT_EQ(a->SetActualDataLength(a->GetSize() + 1), VFW_E_BUFFER_OVERFLOW);
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(a->GetMediaType(&type), S_FALSE);
  CMediaType mt = MakeRgbVideoType(24, 4, 4, 0);
  a->SetMediaType(&mt);
  ASSERT_EQ(a->GetMediaType(&type), S_OK);
  EXPECT_TRUE(CMediaType(*type) == mt);
  DeleteMediaType(type);

  BYTE* pa = nullptr;
  a->GetPointer(&pa);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pa) % 16, 0u);
  a->Release();
  // A returned sample is handed out again, fresh.
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  sample->Release();

  // The allocator outlives its last outside reference while a sample is out.
  allocator->Decommit();
  allocator->Release();
  BYTE* pb = nullptr;
  b->GetPointer(&pb);
  pb[0] = 1;
  b->Release();
}

}  // namespace
}  // namespace kestrom::dshow
