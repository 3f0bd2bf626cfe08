#include "deinterlacer/DeinterlaceFilter.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/registry/Registry.h"
#include "tests/deinterlacer/DeinterlacerTestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::deinterlacer {
namespace {

using namespace com;
using dshow::test::MakeFilter;

CMediaType VideoInfo2Type(int bits, LONG width, LONG height) {
  const CMediaType vi = MakeRgbVideoType(bits, width, height, 333667);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(vi.pbFormat);
  CMediaType mt = vi;
  mt.SetFormatType(FORMAT_VideoInfo2);
  auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
  vih2->AvgTimePerFrame = vih->AvgTimePerFrame;
  vih2->dwInterlaceFlags = 1;
  vih2->bmiHeader = vih->bmiHeader;
  return mt;
}

TEST(DeinterlacerTypes, RemembersTheFirstDepthUntilAnInputIsRefused) {
  auto filter = MakeFilter<CDeinterlaceFilter>(nullptr);
  const CMediaType rgb24 = MakeRgbVideoType(24, 720, 576, 400000);
  const CMediaType rgb32 = MakeRgbVideoType(32, 720, 576, 400000);
  EXPECT_EQ(filter->RememberedDepth(), 0);
  EXPECT_EQ(filter->CheckInputType(&rgb24), S_OK);
  EXPECT_EQ(filter->RememberedDepth(), 24);
  // The output check refuses the other depth but keeps the remembered one.
  EXPECT_EQ(filter->CheckOutputType(&rgb32), E_FAIL);
  EXPECT_EQ(filter->RememberedDepth(), 24);
  EXPECT_EQ(filter->CheckOutputType(nullptr), E_POINTER);
  // An input of the other depth is refused, and the refusal forgets the depth…
  EXPECT_EQ(filter->CheckInputType(&rgb32), E_FAIL);
  EXPECT_EQ(filter->RememberedDepth(), 0);
  // …so the same type offered again is taken.
  EXPECT_EQ(filter->CheckInputType(&rgb32), S_OK);
  EXPECT_EQ(filter->RememberedDepth(), 32);
  EXPECT_EQ(filter->CheckTransform(&rgb32, &rgb24), E_FAIL);
  EXPECT_EQ(filter->CheckTransform(&rgb32, &rgb32), S_OK);
}

TEST(DeinterlacerTypes, RefusesWhatIsNotRgbVideoWithAWholeHeader) {
  const CMediaType good = MakeRgbVideoType(24, 64, 48, 0);
  struct Case {
    const char* what;
    CMediaType type;
  };
  std::vector<Case> cases;
  cases.push_back({"audio", good});
  cases.back().type.SetType(MEDIATYPE_Audio);
  cases.push_back({"YUY2", good});
  cases.back().type.SetSubtype(MEDIASUBTYPE_YUY2);
  cases.push_back({"wave format", good});
  cases.back().type.SetFormatType(FORMAT_WaveFormatEx);
  cases.push_back({"bit count not the subtype's", good});
  reinterpret_cast<VIDEOINFOHEADER*>(cases.back().type.pbFormat)->bmiHeader.biBitCount = 32;
  cases.push_back({"block one byte short", good});
  cases.back().type.cbFormat = 87;
  cases.push_back({"video info 2 with a video info block", good});
  cases.back().type.SetFormatType(FORMAT_VideoInfo2);
  cases.push_back({"width without a magnitude", good});
  reinterpret_cast<VIDEOINFOHEADER*>(cases.back().type.pbFormat)->bmiHeader.biWidth = INT32_MIN;
  cases.push_back({"no block", good});
  cases.back().type.ResetFormatBuffer();
  for (Case& c : cases) {
    auto filter = MakeFilter<CDeinterlaceFilter>(nullptr);
    EXPECT_EQ(filter->CheckInputType(&c.type), E_FAIL) << c.what;
    EXPECT_EQ(filter->RememberedDepth(), 0) << c.what;
    if (c.type.cbFormat == 87) c.type.cbFormat = 88;  // the block must be freed at its real size
  }
  auto filter = MakeFilter<CDeinterlaceFilter>(nullptr);
  EXPECT_EQ(filter->CheckInputType(&good), S_OK);
  CMediaType shortBlock = good;
  shortBlock.cbFormat = 60;
  EXPECT_EQ(filter->SetMediaType(PINDIR_INPUT, &shortBlock), E_FAIL);
  shortBlock.cbFormat = 88;
}

TEST(DeinterlacerTypes, OutputFormatFollowsTheOutputTypesFormatAndTheInputsOrientation) {
  auto filter = MakeFilter<CDeinterlaceFilter>(nullptr);
  const CMediaType in2 = VideoInfo2Type(24, 720, -576);  // top-down
  ASSERT_EQ(filter->CheckInputType(&in2), S_OK);
  ASSERT_EQ(filter->SetMediaType(PINDIR_INPUT, &in2), S_OK);

  ASSERT_EQ(filter->SetMediaType(PINDIR_OUTPUT, &in2), S_OK);
  const CMediaType& out = filter->OutputMediaType();
  EXPECT_EQ(out.formattype, FORMAT_VideoInfo2);
  ASSERT_EQ(out.cbFormat, 112u);
  const auto* vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(out.pbFormat);
  EXPECT_EQ(vih2->AvgTimePerFrame, 333667);
  EXPECT_EQ(vih2->dwInterlaceFlags, 0u);
  EXPECT_EQ(vih2->rcSource.right, 0);
  EXPECT_EQ(vih2->bmiHeader.biSize, 40u);
  EXPECT_EQ(vih2->bmiHeader.biWidth, 360);
  EXPECT_EQ(vih2->bmiHeader.biHeight, -288);
  EXPECT_EQ(vih2->bmiHeader.biPlanes, 1);
  EXPECT_EQ(vih2->bmiHeader.biBitCount, 24);
  EXPECT_EQ(vih2->bmiHeader.biSizeImage, 311040u);

  const CMediaType in1 = MakeRgbVideoType(24, 720, 576, 400000);
  ASSERT_EQ(filter->SetMediaType(PINDIR_OUTPUT, &in1), S_OK);
  EXPECT_EQ(filter->OutputMediaType().cbFormat, 88u);

  CMediaType wave = in1;
  wave.SetFormatType(FORMAT_WaveFormatEx);
  EXPECT_EQ(filter->SetMediaType(PINDIR_OUTPUT, &wave), E_FAIL);
  EXPECT_EQ(filter->SetMediaType(static_cast<PIN_DIRECTION>(2), &in1), E_FAIL);
  EXPECT_EQ(filter->SetMediaType(PINDIR_OUTPUT, nullptr), E_POINTER);
}

class ConnectedDeinterlacer : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.PutVoid()), S_OK);
  }
  void TearDown() override {
    graph_.Reset();
    registry::SetRegistryDirectory({});
  }
  HRESULT ConnectInput(const CMediaType& type) {
    source_ = MakeFilter<dshow::test::CTestSource>(type);
    graph_->AddFilter(source_.Get(), u"Source");
    graph_->AddFilter(filter_.Get(), kFilterName);
    return graph_->ConnectDirect(source_->Output(), filter_->InputPin(), nullptr);
  }

  QTemporaryDir registryDir_;
  ComPtr<IGraphBuilder> graph_;
  ComPtr<CDeinterlaceFilter> filter_ = MakeFilter<CDeinterlaceFilter>(nullptr);
  ComPtr<dshow::test::CTestSource> source_;
};

TEST_F(ConnectedDeinterlacer, ProposesOneVideoInfoTypeAtPositionsZeroAndOne) {
  CMediaType mt;
  EXPECT_EQ(filter_->GetMediaType(0, &mt), E_UNEXPECTED);
  ASSERT_EQ(ConnectInput(VideoInfo2Type(24, 720, 576)), S_OK);
  EXPECT_EQ(filter_->GetMediaType(0, nullptr), E_POINTER);
  EXPECT_EQ(filter_->GetMediaType(-1, &mt), E_INVALIDARG);
  EXPECT_EQ(filter_->GetMediaType(2, &mt), VFW_S_NO_MORE_ITEMS);

  CMediaType first, second;
  ASSERT_EQ(filter_->GetMediaType(0, &first), S_OK);
  ASSERT_EQ(filter_->GetMediaType(1, &second), S_OK);
  EXPECT_TRUE(first == second);
  EXPECT_EQ(first.subtype, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(first.formattype, FORMAT_VideoInfo);  // even for a VideoInfo2 input
  ASSERT_EQ(first.cbFormat, 88u);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(first.pbFormat);
  EXPECT_EQ(vih->rcSource.right, 360);
  EXPECT_EQ(vih->rcSource.bottom, 288);
  EXPECT_EQ(vih->rcTarget.right, 360);
  EXPECT_EQ(vih->AvgTimePerFrame, 333667);
  EXPECT_EQ(vih->bmiHeader.biHeight, 288);
  EXPECT_EQ(vih->bmiHeader.biSizeImage, 311040u);
  EXPECT_EQ(first.lSampleSize, 311040u);
}

TEST_F(ConnectedDeinterlacer, AsksForABufferThatHoldsTheOutputImage) {
  ALLOCATOR_PROPERTIES props{};
  IMemAllocator* allocator = CMemAllocator::Create();
  EXPECT_EQ(filter_->DecideBufferSize(allocator, &props), E_UNEXPECTED);
  allocator->Release();

  // An input type that understates its sample size still gets an output buffer of a whole field.
  CMediaType understated = MakeRgbVideoType(32, 720, 576, 400000);
  understated.SetSampleSize(1000);
  ASSERT_EQ(ConnectInput(understated), S_OK);
  CMediaType proposed;
  ASSERT_EQ(filter_->GetMediaType(0, &proposed), S_OK);
  EXPECT_EQ(proposed.subtype, MEDIASUBTYPE_RGB32);
  auto renderer = MakeFilter<dshow::test::CTestRenderer>([](const CMediaType&) { return true; });
  graph_->AddFilter(renderer.Get(), u"Renderer");
  ASSERT_EQ(graph_->ConnectDirect(filter_->OutputPin(), renderer->Input(), nullptr), S_OK);

  ComPtr<IMemInputPin> input;
  ASSERT_EQ(renderer->Input()->QueryInterface(IID_IMemInputPin, input.PutVoid()), S_OK);
  ComPtr<IMemAllocator> agreed;
  ASSERT_EQ(input->GetAllocator(agreed.Put()), S_OK);
  ASSERT_EQ(agreed->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 1);
  EXPECT_GE(props.cbBuffer, 1440 * 288);
}

}  // namespace
}  // namespace kestrom::deinterlacer
