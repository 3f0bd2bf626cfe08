// The renderer interfaces asked of the graph reach the renderer that answers them, and the sound
// renderer's volume and balance scale the samples.
#include "platform/com/ComRuntime.h"
#include "platform/dshow/sources/Registration.h"
#include "platform/dshow/writers/AudioRenderer.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/writers/WriterRig.h"
#include "tools/ClipWriter.h"

#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

class RendererControls : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.path());
    ASSERT_EQ(RegisterSourceFilters(), S_OK);
    ASSERT_EQ(RegisterWriterFilters(), S_OK);
    graph_ = MakeFilter<CEventGraph>();
  }
  void TearDown() override {
    graph_.Reset();
    registry::SetRegistryDirectory({});
  }
  QTemporaryDir dir_;
  ComPtr<CEventGraph> graph_;
};

template <typename I>
ComPtr<I> Query(IUnknown* object, REFIID iid) {
  ComPtr<I> p;
  EXPECT_EQ(object->QueryInterface(iid, p.PutVoid()), S_OK);
  return p;
}

ComPtr<IBaseFilter> FilterNamed(IFilterGraph* graph, const char16_t* name) {
  ComPtr<IBaseFilter> filter;
  graph->FindFilterByName(name, filter.Put());
  return filter;
}

TEST_F(RendererControls, GraphPassesCallsToTheRendererFoundAtEachCall) {
  auto video = Query<IBasicVideo>(static_cast<IGraphBuilder*>(graph_.Get()), IID_IBasicVideo);
  auto window = Query<IVideoWindow>(static_cast<IGraphBuilder*>(graph_.Get()), IID_IVideoWindow);
  auto audio = Query<IBasicAudio>(static_cast<IGraphBuilder*>(graph_.Get()), IID_IBasicAudio);
  ASSERT_TRUE(video && window && audio);
  LONG width = 0, volume = 1;
  // No renderer yet: nothing answers.
  EXPECT_EQ(video->get_VideoWidth(&width), E_NOINTERFACE);
  EXPECT_EQ(audio->get_Volume(&volume), E_NOINTERFACE);

  tools::ClipSpec clipSpec;
  clipSpec.path = dir_.filePath("clip.avi");
  clipSpec.size = {176, 144};
  clipSpec.frames = 10;
  clipSpec.audio = true;
  ASSERT_TRUE(tools::WriteClip(clipSpec));
  ASSERT_EQ(graph_->RenderFile(reinterpret_cast<LPCWSTR>(clipSpec.path.utf16()), nullptr), S_OK);

  EXPECT_EQ(video->get_VideoWidth(&width), S_OK);
  EXPECT_EQ(width, 176);
  WCHAR* caption = nullptr;
  ASSERT_EQ(window->get_Caption(&caption), S_OK);
  EXPECT_EQ(QString::fromUtf16(caption), "ActiveMovie Window");
  CoTaskMemFree(caption);
  // Full screen is the caller's business: the renderer declines it through the graph too.
  EXPECT_EQ(window->put_FullScreenMode(-1), E_NOTIMPL);

  ASSERT_EQ(audio->put_Volume(-2000), S_OK);
  ASSERT_EQ(audio->put_Balance(500), S_OK);
  EXPECT_EQ(audio->put_Volume(1), E_INVALIDARG);
  EXPECT_EQ(audio->put_Balance(-10001), E_INVALIDARG);
  ComPtr<IBaseFilter> sound = FilterNamed(graph_.Get(), u"Audio Renderer");
  ASSERT_TRUE(sound);
  auto direct = Query<IBasicAudio>(sound.Get(), IID_IBasicAudio);
  LONG balance = 0;
  ASSERT_EQ(direct->get_Volume(&volume), S_OK);
  ASSERT_EQ(direct->get_Balance(&balance), S_OK);
  EXPECT_EQ(volume, -2000);
  EXPECT_EQ(balance, 500);

  // The video renderer leaves: the graph's IBasicVideo has nothing to call any more.
  ComPtr<IBaseFilter> renderer = FilterNamed(graph_.Get(), u"Video Renderer");
  ASSERT_TRUE(renderer);
  ASSERT_EQ(graph_->RemoveFilter(renderer.Get()), S_OK);
  EXPECT_EQ(video->get_VideoWidth(&width), E_NOINTERFACE);
  EXPECT_EQ(audio->get_Volume(&volume), S_OK);
}

std::vector<int16_t> Scaled(std::vector<int16_t> samples, int channels, LONG volume, LONG balance) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = WORD(channels);
  format.wBitsPerSample = 16;
  ApplyVolumeAndBalance(reinterpret_cast<BYTE*>(samples.data()), LONG(samples.size() * 2), format, volume, balance);
  return samples;
}

TEST(RendererControlsSamples, VolumeAndBalanceScaleTheSamples) {
  using V = std::vector<int16_t>;
  EXPECT_EQ(Scaled({10000, -10000}, 2, 0, 0), (V{10000, -10000}));
  // -6 dB halves the amplitude (10^(-0.3) = 0.501).
  EXPECT_EQ(Scaled({10000, -10000}, 2, -600, 0), (V{5012, -5012}));
  EXPECT_EQ(Scaled({10000, 10000, 20000, 20000}, 2, 0, -10000), (V{10000, 0, 20000, 0}));
  EXPECT_EQ(Scaled({10000, 10000}, 2, 0, 600), (V{5012, 10000}));
  EXPECT_EQ(Scaled({10000, 10000}, 1, 0, -10000), (V{10000, 10000}));  // mono has no sides
  EXPECT_EQ(Scaled({32767, -32768}, 1, -10000, 0), (V{0, 0}));

  WAVEFORMATEX eight{};
  eight.nChannels = 1;
  eight.wBitsPerSample = 8;
  BYTE bytes[] = {228, 28, 128};
  ApplyVolumeAndBalance(bytes, 3, eight, -600, 0);
  EXPECT_EQ(bytes[0], 128 + 50);
  EXPECT_EQ(bytes[1], 128 - 50);
  EXPECT_EQ(bytes[2], 128);
}

}  // namespace
}  // namespace kestrom::dshow
