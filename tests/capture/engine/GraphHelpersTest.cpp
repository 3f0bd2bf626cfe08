#include "EngineFixtures.h"

#include "capture/engine/GraphHelpers.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/base/MediaType.h"
#include "tests/platform/dshow/support/TestFilters.h"

namespace kestrom::engine::test {

using namespace kestrom::dshow;
using com::ComPtr;

TEST(MediaTypes, FormatKindsAndBitmapHeaders) {
  const CMediaType rgb = MakeRgbVideoType(24, 320, 240, 400000);
  EXPECT_EQ(MediaFormatKind(rgb), 0);
  ASSERT_NE(BitmapHeaderOf(rgb), nullptr);
  EXPECT_EQ(BitmapHeaderOf(rgb)->biWidth, 320);
  EXPECT_EQ(ImageSize(BitmapHeaderOf(rgb)), 320 * 3 * 240);
  EXPECT_EQ(SubtypeName(rgb.subtype), "RGB24");
  EXPECT_EQ(SubtypeName(MEDIASUBTYPE_YUY2), "YUY2");

  struct Case {
    GUID major, format;
    int kind;
  };
  const Case cases[] = {
      {MEDIATYPE_Video, FORMAT_VideoInfo2, 1},         {MEDIATYPE_Interleaved, FORMAT_DvInfo, 2},
      {MEDIATYPE_Video, FORMAT_MPEGVideo, 3},          {MEDIATYPE_MPEG1SystemStream, FORMAT_MPEG2Video, 4},
      {MEDIATYPE_MPEG1SystemStream, FORMAT_MPEGStreams, 5}, {MEDIATYPE_MPEG1SystemStream, FORMAT_None, 6},
      {MEDIATYPE_Audio, FORMAT_WaveFormatEx, 7},       {MEDIATYPE_Audio, FORMAT_None, 8},
      {MEDIATYPE_Interleaved, FORMAT_VideoInfo, 8},
  };
  for (const Case& c : cases) {
    CMediaType type;
    type.SetType(c.major);
    type.SetFormatType(c.format);
    EXPECT_EQ(MediaFormatKind(type), c.kind) << com::GuidToString(c.major).toStdString();
  }
  CMediaType truncated;  // VideoInfo2 named, but its block is too short for a header
  truncated.SetType(MEDIATYPE_Video);
  truncated.SetFormatType(FORMAT_VideoInfo2);
  truncated.AllocFormatBuffer(40);
  EXPECT_EQ(BitmapHeaderOf(truncated), nullptr);
  EXPECT_EQ(ImageSize(static_cast<const BITMAPINFOHEADER*>(nullptr)), 0);
}

class GraphHelpersTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    graph_.PutVoid()),
              com::S_OK);
    source_ = dshow::test::MakeFilter<dshow::test::CTestSource>(MakeRgbVideoType(24, 320, 240, 400000));
    scaler_ = dshow::test::MakeFilter<dshow::test::CTestHalfScaler>(nullptr);
    renderer_ = dshow::test::MakeFilter<dshow::test::CTestRenderer>([](const CMediaType&) { return true; });
    ASSERT_EQ(graph_->AddFilter(source_.Get(), u"Source"), com::S_OK);
    ASSERT_EQ(graph_->AddFilter(scaler_.Get(), u"Half"), com::S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer_.Get(), u"Renderer"), com::S_OK);
  }
  void TearDown() override {
    graph_.Reset();
    EngineTest::TearDown();
  }
  void Connect() {
    ComPtr<IPin> scalerIn, scalerOut;
    ASSERT_EQ(FindPinByName(scaler_.Get(), PINDIR_INPUT, "", scalerIn, true, true), com::S_OK);
    ASSERT_EQ(FindPinByName(scaler_.Get(), PINDIR_OUTPUT, "", scalerOut, true, true), com::S_OK);
    ASSERT_EQ(graph_->ConnectDirect(source_->Output(), scalerIn.Get(), nullptr), com::S_OK);
    ASSERT_EQ(graph_->ConnectDirect(scalerOut.Get(), renderer_->Input(), nullptr), com::S_OK);
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<dshow::test::CTestSource> source_;
  ComPtr<dshow::test::CTestHalfScaler> scaler_;
  ComPtr<dshow::test::CTestRenderer> renderer_;
};

TEST_F(GraphHelpersTest, PinsAreFoundByNameDirectionTypeAndConnection) {
  EXPECT_EQ(PinNames(PINDIR_OUTPUT, source_.Get()), "Out\r\n");
  EXPECT_EQ(PinNames(PINDIR_INPUT, source_.Get()), "");
  ComPtr<IPin> pin;
  EXPECT_EQ(FindPinByName(source_.Get(), PINDIR_OUTPUT, "oUT", pin, false, false), com::S_OK);
  EXPECT_EQ(PinName(pin.Get()), "Out");
  EXPECT_EQ(FindPinByName(source_.Get(), PINDIR_OUTPUT, "Ou", pin, false, false), com::E_FAIL);
  EXPECT_EQ(FindPinByName(source_.Get(), PINDIR_OUTPUT, "ou", pin, false, true), com::S_OK);
  EXPECT_TRUE(PinSupportsType(source_->Output(), MEDIATYPE_Video, {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24}));
  EXPECT_FALSE(PinSupportsType(source_->Output(), MEDIATYPE_Video, {MEDIASUBTYPE_YUY2}));
  EXPECT_FALSE(PinSupportsType(source_->Output(), MEDIATYPE_Audio, {}));
  EXPECT_EQ(FindPinOfType(source_.Get(), PINDIR_OUTPUT, MEDIATYPE_Video, pin, MEDIASUBTYPE_RGB24), com::S_OK);
  EXPECT_EQ(FindPinOfType(source_.Get(), PINDIR_OUTPUT, MEDIATYPE_Audio, pin), com::E_FAIL);

  EXPECT_TRUE(FindGraphPin(graph_.Get(), PINDIR_OUTPUT, true, "Source", pin, MEDIATYPE_Video));
  EXPECT_FALSE(FindGraphPin(graph_.Get(), PINDIR_OUTPUT, false, "Source", pin, MEDIATYPE_Video));
  Connect();
  EXPECT_EQ(FindPinByName(source_.Get(), PINDIR_OUTPUT, "Out", pin, true, false), com::E_FAIL);
  EXPECT_TRUE(FindGraphPin(graph_.Get(), PINDIR_OUTPUT, false, "Source", pin, MEDIATYPE_Video));
  EXPECT_FALSE(FindGraphPin(graph_.Get(), PINDIR_OUTPUT, true, "Nobody", pin, MEDIATYPE_Video));
}

TEST_F(GraphHelpersTest, TheChainIsLoggedAndRemovedDownstreamOfAPin) {
  EnableProcessLog();
  Connect();
  QStringList names;
  LogFilterChain(source_.Get(), 0, names);
  EXPECT_EQ(names, (QStringList{"Source", "Half", "Renderer"}));
  const QStringList lines = ProcessLogLines();
  EXPECT_EQ(lines[lines.size() - 3], ".Source");
  EXPECT_EQ(lines[lines.size() - 2], "0.000   .Half");
  EXPECT_EQ(lines.last(), "0.000     .Renderer");

  RemoveDownstream(graph_.Get(), source_->Output());
  ComPtr<IPin> peer;
  EXPECT_NE(source_->Output()->ConnectedTo(peer.Put()), com::S_OK);
  const auto left = dshow::test::FilterNames(graph_.Get());
  EXPECT_EQ(left, (std::vector<std::u16string>{u"Source"}));
  RemoveDownstream(graph_.Get(), source_->Output());  // not connected: nothing
}

TEST_F(GraphHelpersTest, InstancesAreCreatedAndLogged) {
  EnableProcessLog();
  ComPtr<IGraphBuilder> graph;
  EXPECT_TRUE(CreateInstanceLogged(CLSID_FilterGraph, IID_IGraphBuilder, graph.PutVoid(), "graph"));
  EXPECT_TRUE(graph);
  ComPtr<IGraphBuilder> none;
  EXPECT_FALSE(CreateInstanceLogged(com::MakeGuid("{0BADF00D-0000-0000-0000-000000000000}"), IID_IGraphBuilder,
                                    none.PutVoid(), "nothing"));
  const QStringList lines = ProcessLogLines();
  EXPECT_EQ(lines[lines.size() - 2], "instance: graph: YES");
  EXPECT_EQ(lines.last(), "0.000 instance: nothing: no");
}

TEST_F(GraphHelpersTest, DisconnectAllFreesBothSidesOfEveryPin) {
  Connect();
  DisconnectAll(scaler_.Get());
  ComPtr<IPin> peer;
  EXPECT_NE(source_->Output()->ConnectedTo(peer.Put()), com::S_OK);
  EXPECT_NE(renderer_->Input()->ConnectedTo(peer.Put()), com::S_OK);
}

}  // namespace kestrom::engine::test
