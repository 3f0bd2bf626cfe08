// The renderers: sound consumed at the clock's pace without a device, frames shown and read back.
#include "platform/com/ComRuntime.h"
#include "platform/dshow/writers/AudioRenderer.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "platform/dshow/writers/WindowIds.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/registry/Registry.h"
#include "tests/platform/dshow/support/StreamFilters.h"
#include "tests/platform/dshow/writers/WriterRig.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWidget>
#include <chrono>
#include <future>
#include <gtest/gtest.h>

namespace kestrom::dshow {
namespace {

using namespace com;
using namespace test;

class Renderers : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    registry::SetRegistryDirectory(dir_.path());
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

// Waits (bounded) until the condition holds, letting the GUI thread work meanwhile.
template <typename F>
bool WaitFor(F condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

TEST_F(Renderers, AudioWithoutADeviceIsConsumedAtTheClocksPace) {
  constexpr int kRate = 8000;
  core::ManualClock clock(1000);
  auto source = MakeFilter<CTestSource>(PcmType(kRate, 1));
  auto renderer = MakeFilter<CAudioRenderer>(nullptr);
  renderer->UseDevice(false);
  renderer->SetClock(&clock);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Tone"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Audio Renderer"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(source->Output(), PinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
  // The graph takes the renderer's clock when it offers one.
  ASSERT_EQ(graph_->SetDefaultSyncSource(), S_OK);
  ComPtr<IReferenceClock> reference;
  ASSERT_EQ(renderer->QueryInterface(IID_IReferenceClock, reference.PutVoid()), S_OK);
  ComPtr<IReferenceClock> chosen;
  ASSERT_EQ(renderer->GetSyncSource(chosen.Put()), S_OK);
  EXPECT_EQ(chosen.Get(), reference.Get());
  REFERENCE_TIME now = 0;
  ASSERT_EQ(reference->GetTime(&now), S_OK);
  EXPECT_EQ(now, clock.NowMs() * 10000);
  ASSERT_EQ(renderer->Run(now), S_OK);
  ASSERT_EQ(source->Run(now), S_OK);

  // Ten pieces of 100 ms each, pushed from a streaming thread.
  auto streaming = std::async(std::launch::async, [&] {
    for (int i = 0; i < 10; ++i) {
      const HRESULT hr = source->DeliverFrame(ToneBytes(i * 800, 800, kRate, 1), i * 1000000LL, (i + 1) * 1000000LL);
      if (hr != S_OK) return hr;
    }
    EndStream(source->Output());
    return S_OK;
  });
  // Nothing more is used up while the clock stands still.
  EXPECT_EQ(streaming.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  EXPECT_EQ(renderer->BytesRendered(), 1600);  // the first piece is due at once
  clock.Advance(350);  // 0.35 s: the pieces starting at 0.1, 0.2 and 0.3 s are due too
  ASSERT_TRUE(WaitFor([&] { return renderer->BytesRendered() == 4 * 1600; }));
  EXPECT_EQ(streaming.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  EXPECT_EQ(renderer->BytesRendered(), 4 * 1600);
  clock.Advance(700);
  ASSERT_EQ(streaming.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(streaming.get(), S_OK);
  EXPECT_EQ(renderer->BytesRendered(), 10 * 1600);
  EXPECT_TRUE(graph_->Has(EC_COMPLETE));

  // Other rates than 1.0 are refused.
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(renderer->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
  EXPECT_EQ(seeking->SetRate(2.0), VFW_E_UNSUPPORTED_AUDIO);
  EXPECT_EQ(seeking->SetRate(0.5), VFW_E_UNSUPPORTED_AUDIO);
  double rate = 0;
  ASSERT_EQ(seeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 1.0);
  source->Stop();
  renderer->Stop();
}

TEST_F(Renderers, AGraphWhoseSoundRefusesARateKeepsTheRateItHad) {
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.PutVoid()), S_OK);
  auto video = MakeFilter<CPatternSource>(PatternOptions{});
  auto shown = MakeFilter<CRecordingRenderer>();
  ASSERT_EQ(graph->AddFilter(video.Get(), u"Video"), S_OK);
  ASSERT_EQ(graph->AddFilter(shown.Get(), u"Video Renderer"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(video->Output(), shown->Input(), nullptr), S_OK);
  ComPtr<IMediaSeeking> seeking, videoSeeking;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
  ASSERT_EQ(video->Output()->QueryInterface(IID_IMediaSeeking, videoSeeking.PutVoid()), S_OK);
  double rate = 0;
  // Pictures alone take any rate.
  EXPECT_EQ(seeking->SetRate(0.5), S_OK);
  ASSERT_EQ(videoSeeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 0.5);
  ASSERT_EQ(seeking->SetRate(1.0), S_OK);

  // With sound the whole graph refuses, and the picture's stream keeps its rate.
  auto tone = MakeFilter<CTestSource>(PcmType(8000, 1));
  auto sound = MakeFilter<CAudioRenderer>(nullptr);
  sound->UseDevice(false);
  ASSERT_EQ(graph->AddFilter(tone.Get(), u"Tone"), S_OK);
  ASSERT_EQ(graph->AddFilter(sound.Get(), u"Audio Renderer"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(tone->Output(), PinOf(sound.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
  EXPECT_EQ(seeking->SetRate(0.5), VFW_E_UNSUPPORTED_AUDIO);
  EXPECT_EQ(seeking->SetRate(2.0), VFW_E_UNSUPPORTED_AUDIO);
  ASSERT_EQ(videoSeeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 1.0);
  EXPECT_EQ(seeking->SetRate(1.0), S_OK);
  // Cut off from its sound, the renderer has no say any more.
  ASSERT_EQ(graph->Disconnect(tone->Output()), S_OK);
  ASSERT_EQ(graph->Disconnect(PinOf(sound.Get(), PINDIR_INPUT).Get()), S_OK);
  EXPECT_EQ(seeking->SetRate(0.5), S_OK);
  ASSERT_EQ(videoSeeking->GetRate(&rate), S_OK);
  EXPECT_EQ(rate, 0.5);
}

TEST_F(Renderers, AStopReleasesASampleWaitingForItsTime) {
  core::ManualClock clock;
  auto source = MakeFilter<CTestSource>(PcmType(8000, 1));
  auto renderer = MakeFilter<CAudioRenderer>(nullptr);
  renderer->UseDevice(false);
  renderer->SetClock(&clock);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Audio Renderer"), S_OK);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Tone"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(source->Output(), PinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
  ASSERT_EQ(graph_->SetDefaultSyncSource(), S_OK);
  ASSERT_EQ(renderer->Run(0), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  // Due in one second of a clock that never moves.
  auto streaming = std::async(std::launch::async, [&] {
    return source->DeliverFrame(ToneBytes(0, 8000, 8000, 1), 10000000, 20000000);
  });
  EXPECT_EQ(streaming.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
  renderer->Stop();
  ASSERT_EQ(streaming.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_NE(streaming.get(), S_OK);
  EXPECT_EQ(renderer->BytesRendered(), 0);
  source->Stop();
}

TEST_F(Renderers, VideoRendererShowsFramesInItsWindowAndGivesTheCurrentImage) {
  for (const CLSID& clsid : {CLSID_VideoMixingRenderer9, CLSID_VideoMixingRenderer, CLSID_VideoRenderer}) {
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, renderer.PutVoid()), S_OK);
    ComPtr<IVideoWindow> window;
    ComPtr<IBasicVideo> basic;
    EXPECT_EQ(renderer->QueryInterface(IID_IVideoWindow, window.PutVoid()), S_OK);
    EXPECT_EQ(renderer->QueryInterface(IID_IBasicVideo, basic.PutVoid()), S_OK);
  }

  auto renderer = MakeFilter<CVideoRenderer>(nullptr, CLSID_VideoMixingRenderer9);
  auto source = MakeFilter<CTestSource>(MakeRgbVideoType(24, 64, 48, 400000));
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Camera"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(source->Output(), PinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);

  // Embedded in an owner form, under the title the engine looks for.
  QWidget form;
  form.resize(400, 300);
  form.show();
  ComPtr<IVideoWindow> window;
  ASSERT_EQ(renderer->QueryInterface(IID_IVideoWindow, window.PutVoid()), S_OK);
  ASSERT_EQ(window->put_Owner(WindowIdOf(&form)), S_OK);
  ASSERT_EQ(window->SetWindowPosition(10, 20, 128, 96), S_OK);
  ASSERT_EQ(window->put_Visible(-1), S_OK);
  QWidget* video = form.findChild<QWidget*>(QStringLiteral("ActiveMovie Window"));
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->windowTitle(), QStringLiteral("ActiveMovie Window"));
  EXPECT_EQ(video->geometry(), QRect(10, 20, 128, 96));
  OAHWND owner = 0;
  ASSERT_EQ(window->get_Owner(&owner), S_OK);
  EXPECT_EQ(owner, WindowIdOf(&form));

  // Mouse input goes to the message drain.
  struct Drain : QWidget {
    int presses = 0;
    void mousePressEvent(QMouseEvent*) override { ++presses; }
  } drain;
  ASSERT_EQ(window->put_MessageDrain(WindowIdOf(&drain)), S_OK);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), video->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(video, &press);
  EXPECT_EQ(drain.presses, 1);

  ComPtr<IBasicVideo> basic;
  ASSERT_EQ(renderer->QueryInterface(IID_IBasicVideo, basic.PutVoid()), S_OK);
  LONG size = 0;
  EXPECT_EQ(basic->GetCurrentImage(&size, nullptr), E_UNEXPECTED);  // nothing shown yet

  ASSERT_EQ(renderer->Run(0), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  const auto first = CoordinateFrame(24, 64, 48);
  auto last = first;
  for (auto& b : last) b = uint8_t(255 - b);
  ASSERT_EQ(source->DeliverFrame(first, 0, 400000), S_OK);
  ASSERT_EQ(source->DeliverFrame(last, 400000, 800000), S_OK);
  EXPECT_EQ(renderer->FramesRendered(), 2);

  LONG width = 0, height = 0;
  ASSERT_EQ(basic->GetVideoSize(&width, &height), S_OK);
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  ASSERT_EQ(basic->GetCurrentImage(&size, nullptr), S_OK);
  ASSERT_EQ(size, LONG(sizeof(BITMAPINFOHEADER) + last.size()));
  std::vector<LONG> image((size_t(size) + 3) / 4);
  LONG small = size - 1;
  EXPECT_EQ(basic->GetCurrentImage(&small, image.data()), E_OUTOFMEMORY);
  ASSERT_EQ(basic->GetCurrentImage(&size, image.data()), S_OK);
  BITMAPINFOHEADER header{};
  std::memcpy(&header, image.data(), sizeof header);
  EXPECT_EQ(header.biWidth, 64);
  EXPECT_EQ(header.biHeight, 48);
  EXPECT_EQ(header.biBitCount, 24);
  const auto* bits = reinterpret_cast<const uint8_t*>(image.data()) + sizeof header;
  EXPECT_TRUE(std::equal(last.begin(), last.end(), bits));

  // A destroyed owner is no longer reported; a stale id is refused.
  source->Stop();
  renderer->Stop();
  const OAHWND formId = WindowIdOf(&form);
  {
    QWidget gone;
    const OAHWND goneId = WindowIdOf(&gone);
    ASSERT_EQ(window->put_Owner(goneId), S_OK);
  }
  ASSERT_EQ(window->get_Owner(&owner), S_OK);
  EXPECT_EQ(owner, 0);
  EXPECT_EQ(window->put_Owner(formId + 4000), E_INVALIDARG);
  EXPECT_EQ(window->put_Owner(0), S_OK);
}

TEST_F(Renderers, APausedVideoRendererHoldsTheFirstFrameUntilRun) {
  auto renderer = MakeFilter<CVideoRenderer>(nullptr, CLSID_VideoRenderer);
  auto source = MakeFilter<CTestSource>(MakeRgbVideoType(24, 32, 16, 400000));
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Camera"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(source->Output(), PinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
  ASSERT_EQ(renderer->Pause(), S_OK);
  ASSERT_EQ(source->Pause(), S_OK);
  auto streaming = std::async(std::launch::async, [&] { return source->DeliverFrame(CoordinateFrame(24, 32, 16), 0, 400000); });
  ASSERT_TRUE(WaitFor([&] { return renderer->FramesRendered() == 1; }));
  EXPECT_EQ(streaming.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  ComPtr<IBasicVideo> basic;
  ASSERT_EQ(renderer->QueryInterface(IID_IBasicVideo, basic.PutVoid()), S_OK);
  LONG size = 0;
  EXPECT_EQ(basic->GetCurrentImage(&size, nullptr), S_OK);  // the paused frame is the current image
  ASSERT_EQ(renderer->Run(0), S_OK);
  ASSERT_EQ(streaming.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(streaming.get(), S_OK);
  source->Stop();
  renderer->Stop();
}

}  // namespace
}  // namespace kestrom::dshow
