#include "deinterlacer/DeinterlaceFilter.h"
#include "deinterlacer/FieldTransform.h"
#include "platform/dshow/base/FilterGraph.h"
#include "tests/deinterlacer/DeinterlacerTestSupport.h"

#include <gtest/gtest.h>

namespace kestrom::deinterlacer {
namespace {

using namespace com;
using namespace test;

// A filter set up for one input type as a connection would leave it.
com::ComPtr<CDeinterlaceFilter> FilterFor(const CMediaType& in) {
  auto filter = dshow::test::MakeFilter<CDeinterlaceFilter>(nullptr);
  EXPECT_EQ(filter->CheckInputType(&in), S_OK);
  EXPECT_EQ(filter->SetMediaType(PINDIR_INPUT, &in), S_OK);
  CMediaType out = in;
  EXPECT_EQ(filter->SetMediaType(PINDIR_OUTPUT, &out), S_OK);
  return filter;
}

struct Samples {
  explicit Samples(LONG inSize, LONG outSize) {
    for (auto [allocator, size] : {std::pair{&inAllocator, inSize}, std::pair{&outAllocator, outSize}}) {
      *allocator = CMemAllocator::Create();
      ALLOCATOR_PROPERTIES request{1, size, 1, 0}, actual{};
      EXPECT_EQ((*allocator)->SetProperties(&request, &actual), S_OK);
      EXPECT_EQ((*allocator)->Commit(), S_OK);
    }
    EXPECT_EQ(inAllocator->GetBuffer(&in, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(outAllocator->GetBuffer(&out, nullptr, nullptr, 0), S_OK);
  }
  ~Samples() {
    in->Release();
    out->Release();
    inAllocator->Release();
    outAllocator->Release();
  }
  void Fill(const std::vector<uint8_t>& bytes) {
    BYTE* p = nullptr;
    in->GetPointer(&p);
    std::memcpy(p, bytes.data(), bytes.size());
    in->SetActualDataLength(static_cast<LONG>(bytes.size()));
  }
  std::vector<uint8_t> Output() {
    BYTE* p = nullptr;
    out->GetPointer(&p);
    return {p, p + out->GetActualDataLength()};
  }
  IMemAllocator* inAllocator = nullptr;
  IMemAllocator* outAllocator = nullptr;
  IMediaSample* in = nullptr;
  IMediaSample* out = nullptr;
};

TEST(Deinterlacer, FullFrameGivesOneFieldAtHalfSize) {
  for (int bits : {24, 32}) {
    SCOPED_TRACE(bits);
    const CMediaType in = MakeRgbVideoType(bits, 720, 576, 400000);
    auto filter = FilterFor(in);
    const BITMAPINFOHEADER* h = GetBitmapInfoHeader(filter->OutputMediaType());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->biWidth, 360);
    EXPECT_EQ(h->biHeight, 288);
    EXPECT_EQ(h->biBitCount, bits);
    const LONG stride = bits == 24 ? 1080 : 1440;
    EXPECT_EQ(h->biSizeImage, static_cast<DWORD>(stride * 288));  // 311,040 bytes for RGB24

    Samples s(static_cast<LONG>(in.lSampleSize), stride * 288);
    const auto frame = CoordinateFrame(bits, 720, 576);
    s.Fill(frame);
    ASSERT_EQ(filter->Transform(s.in, s.out), S_OK);
    const auto out = s.Output();
    ASSERT_EQ(out.size(), static_cast<size_t>(stride * 288));
    // Both phases 0: rows 0, 2, 4 … and in each the pixels 1, 3, 5 ….
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {359, 0}, {0, 287}, {359, 287}, {200, 100}}) {
      const auto [sx, sy] = PixelAt(&out[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * (bits / 8)]);
      EXPECT_EQ(sx, 2 * x + 1);
      EXPECT_EQ(sy, 2 * y);
    }
    EXPECT_EQ(out, ExpectedField(frame, bits, 720, 576, 0, 0));
  }
}

TEST(Deinterlacer, EachPhasePairKeepsItsFieldAndPixels) {
  const struct {
    int32_t row, pixel;
    int firstRow, firstPixel;
  } cases[] = {{0, 0, 0, 1}, {1, 0, 1, 1}, {0, 1, 0, 0}, {1, 1, 1, 0}, {-7, 42, 1, 0}};
  for (int bits : {24, 32}) {
    const CMediaType in = MakeRgbVideoType(bits, 64, 48, 0);
    auto filter = FilterFor(in);
    ComPtr<IDeinterlaceSettings> settings;
    ASSERT_EQ(filter->QueryInterface(IID_IDeinterlaceSettings, settings.PutVoid()), S_OK);
    const auto frame = CoordinateFrame(bits, 64, 48);
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << bits << " bits, phases " << c.row << "," << c.pixel);
      ASSERT_EQ(settings->SetPhases(c.row, c.pixel), S_OK);
      int32_t row = 99, pixel = 99;
      ASSERT_EQ(settings->GetPhases(&row, &pixel), S_OK);
      EXPECT_EQ(row, c.row);
      EXPECT_EQ(pixel, c.pixel);

      Samples s(static_cast<LONG>(in.lSampleSize), RgbStride(32, bits) * 24);
      s.Fill(frame);
      ASSERT_EQ(filter->Transform(s.in, s.out), S_OK);
      const auto out = s.Output();
      const auto [x0, y0] = PixelAt(out.data());
      EXPECT_EQ(x0, c.firstPixel);
      EXPECT_EQ(y0, c.firstRow);
      EXPECT_EQ(out, ExpectedField(frame, bits, 64, 48, c.row, c.pixel));
    }
  }
}

TEST(Deinterlacer, OddSizesStayInsideTheirBuffers) {
  // 721 x 577: 360 x 288 out; with an odd width the pixel phase flips at every kept row.
  constexpr size_t kGuard = 64;
  for (int bits : {24, 32}) {
    for (auto [row, pixel] : {std::pair{0, 0}, {0, 1}, {1, 0}, {1, 1}}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, phases " << row << "," << pixel);
      const auto frame = CoordinateFrame(bits, 721, 577);
      std::vector<uint8_t> in(kGuard + frame.size() + kGuard, 0x5A);
      std::memcpy(in.data() + kGuard, frame.data(), frame.size());
      const int32_t outStride = RgbStride(360, bits);
      std::vector<uint8_t> out(kGuard + static_cast<size_t>(outStride) * 288 + kGuard, 0xC3);

      FieldLayout layout{721, 577, 360, 288, RgbStride(721, bits), outStride, bits / 8};
      TransformField(in.data() + kGuard, out.data() + kGuard, layout, row, pixel);

      const std::vector<uint8_t> body(out.begin() + kGuard, out.end() - kGuard);
      auto expected = ExpectedField(frame, bits, 721, 577, row, pixel);
      // Row padding is not written by the transform.
      for (int y = 0; y < 288; ++y)
        for (int b = 360 * bits / 8; b < outStride; ++b) expected[static_cast<size_t>(y) * outStride + b] = 0xC3;
      EXPECT_EQ(body, expected);
      for (size_t i = 0; i < kGuard; ++i) {
        ASSERT_EQ(out[i], 0xC3);
        ASSERT_EQ(out[out.size() - 1 - i], 0xC3);
      }
      // Kept row k starts at pixel 1 or 0 as the phase stands when the row begins.
      const auto [x1, y1] = PixelAt(body.data() + outStride);
      EXPECT_EQ(y1, 2 + row);
      EXPECT_EQ(x1, pixel ? 1 : 0);
    }
  }
}

TEST(Deinterlacer, CopiesSampleTimesFlagsAndTypeAndFailsShortBuffers) {
  const CMediaType in = MakeRgbVideoType(24, 720, 576, 400000);
  auto filter = FilterFor(in);
  {
    Samples s(static_cast<LONG>(in.lSampleSize), 311040);
    s.Fill(CoordinateFrame(24, 720, 576));
    REFERENCE_TIME start = 400000, stop = 800000;
    LONGLONG mstart = 1, mstop = 2;
    s.in->SetTime(&start, &stop);
    s.in->SetMediaTime(&mstart, &mstop);
    s.in->SetSyncPoint(1);
    s.in->SetDiscontinuity(1);
    s.out->SetPreroll(1);  // a stale flag of the output buffer is overwritten
    ASSERT_EQ(filter->Transform(s.in, s.out), S_OK);
    REFERENCE_TIME os = 0, oe = 0;
    ASSERT_EQ(s.out->GetTime(&os, &oe), S_OK);
    EXPECT_EQ(os, 400000);
    EXPECT_EQ(oe, 800000);
    LONGLONG ms = 0, me = 0;
    ASSERT_EQ(s.out->GetMediaTime(&ms, &me), S_OK);
    EXPECT_EQ(me, 2);
    EXPECT_EQ(s.out->IsSyncPoint(), S_OK);
    EXPECT_EQ(s.out->IsDiscontinuity(), S_OK);
    EXPECT_EQ(s.out->IsPreroll(), S_FALSE);
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(s.out->GetMediaType(&type), S_OK);
    EXPECT_TRUE(CMediaType(*type) == filter->OutputMediaType());
    DeleteMediaType(type);
    EXPECT_EQ(s.out->GetActualDataLength(), 311040);
  }
  {
    // An input holding less than a frame, or an output smaller than a field: the sample fails
    // and nothing is written.
    const struct {
      LONG inLength, outSize;
    } cases[] = {{static_cast<LONG>(in.lSampleSize) - 1, 311040}, {static_cast<LONG>(in.lSampleSize), 311039}};
    for (const auto& c : cases) {
      Samples s(static_cast<LONG>(in.lSampleSize), c.outSize);
      s.Fill(CoordinateFrame(24, 720, 576));
      s.in->SetActualDataLength(c.inLength);
      BYTE* p = nullptr;
      s.out->GetPointer(&p);
      std::memset(p, 0x77, static_cast<size_t>(c.outSize));
      EXPECT_EQ(filter->Transform(s.in, s.out), E_FAIL);
      EXPECT_EQ(p[0], 0x77);
    }
  }
  EXPECT_EQ(filter->CopySampleProperties(nullptr, nullptr), E_POINTER);
}

TEST(Deinterlacer, SettingsInterfaceBelongsToTheFilterObject) {
  auto filter = dshow::test::MakeFilter<CDeinterlaceFilter>(nullptr);
  ComPtr<IDeinterlaceSettings> settings;
  ASSERT_EQ(filter->QueryInterface(IID_IDeinterlaceSettings, settings.PutVoid()), S_OK);
  int32_t row = -1, pixel = -1;
  ASSERT_EQ(settings->GetPhases(&row, &pixel), S_OK);
  EXPECT_EQ(row, 0);
  EXPECT_EQ(pixel, 0);
  EXPECT_EQ(settings->GetPhases(nullptr, &pixel), E_POINTER);
  EXPECT_EQ(settings->GetPhases(&row, nullptr), E_POINTER);
  // Its IUnknown is the filter's.
  ComPtr<IBaseFilter> base;
  ASSERT_EQ(settings.As(IID_IBaseFilter, &base), S_OK);
  EXPECT_TRUE(dshow::IsSameObject(base.Get(), settings.Get()));
  CLSID clsid{};
  ASSERT_EQ(base->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_Deinterlacer);
}

}  // namespace
}  // namespace kestrom::deinterlacer
