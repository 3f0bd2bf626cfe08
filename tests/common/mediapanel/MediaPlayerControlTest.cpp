// The player control on real clips whose pictures carry their frame numbers: states and events
// of an open, end of clip, failures, and the properties with an effect.
#include "common/mediapanel/MediaPlayerControl.h"
#include "platform/dshow/base/FilterGraph.h"
#include "tests/common/mediapanel/PanelTestSupport.h"
#include "tools/ClipWriter.h"

#include <QApplication>
#include <QSlider>
#include <cmath>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>

namespace kestrom::mediapanel {
namespace {

using namespace com;
using namespace dshow;
using test::WaitFor;

class MediaPlayerControl : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    test::UseRegistry(dir_.path());
  }
  void TearDown() override { registry::SetRegistryDirectory({}); }

  QString Clip(int frames, bool audio, QSize size = {176, 144}) {
    tools::ClipSpec clipSpec;
    clipSpec.path = dir_.filePath(QStringLiteral("clip%1.avi").arg(counter_++));
    clipSpec.size = size;
    clipSpec.frames = frames;
    clipSpec.audio = audio;
    EXPECT_TRUE(tools::WriteClip(clipSpec));
    return clipSpec.path;
  }

  QTemporaryDir dir_;
  int counter_ = 0;
};

bool SoundConnected(IGraphBuilder* graph) {
  ComPtr<IBaseFilter> sound;
  if (FAILED(graph->FindFilterByName(u"Audio Renderer", sound.Put())) || !sound) return false;
  return FilterPins(sound.Get(), PINDIR_INPUT, true).empty();
}

TEST_F(MediaPlayerControl, OpensPlaysAndEndsTheClip) {
  const QString clip = Clip(10, false);
  TDerivedMovie_ player;
  player.resize(320, 240);
  std::vector<std::string> log;
  player.OnOpenStateChange = [&](int o, int n) { log.push_back("open " + std::to_string(o) + ">" + std::to_string(n)); };
  player.OnReadyStateChange = [&](int r) { log.push_back("ready " + std::to_string(r)); };
  player.OnPlayStateChange = [&](int o, int n) { log.push_back("play " + std::to_string(o) + ">" + std::to_string(n)); };
  player.OnNewStream = [&] { log.push_back("new stream"); };
  int ends = 0;
  player.OnEndOfStream = [&](int) { ++ends; };

  ASSERT_TRUE(player.Open(clip));
  EXPECT_EQ(log, (std::vector<std::string>{"open 0>5", "ready 1", "open 5>6", "ready 4", "new stream", "play 0>2"}));
  EXPECT_EQ(player.GetProperty(dispid::ImageSourceWidth).toInt(), 176);
  EXPECT_EQ(player.GetProperty(dispid::ImageSourceHeight).toInt(), 144);
  EXPECT_NEAR(player.DurationSeconds(), 0.4, 1e-6);
  EXPECT_EQ(player.DurationFrames(), 10);
  ASSERT_TRUE(player.RendererWindow());
  EXPECT_EQ(player.RendererWindow()->parentWidget(), &player);
  ASSERT_TRUE(player.FilterGraph());

  // Frame display mode reads positions and the duration as frame numbers.
  EXPECT_EQ(player.SetProperty(dispid::DisplayMode, 1), S_OK);
  EXPECT_EQ(player.GetProperty(dispid::Duration).toDouble(), 10.0);

  ASSERT_TRUE(WaitFor([&] { return ends == 1; }));
  EXPECT_EQ(player.PlayState(), mpStopped);
}

TEST_F(MediaPlayerControl, AFileThatCannotBeOpenedReportsAnErrorAndStaysClosed) {
  TDerivedMovie_ player;
  int errors = 0;
  QString reason;
  player.OnError = [&](int, const QString& message) {
    ++errors;
    reason = message;
  };
  EXPECT_FALSE(player.Open(dir_.filePath("missing.avi")));
  EXPECT_EQ(errors, 1);
  EXPECT_FALSE(reason.isEmpty());
  EXPECT_EQ(player.OpenState(), mpClosed);
  EXPECT_FALSE(player.FilterGraph());
  // Errors are not sent when the flag says so.
  ASSERT_EQ(player.SetProperty(dispid::SendErrorEvents, false), S_OK);
  EXPECT_FALSE(player.Open(dir_.filePath("missing.avi")));
  EXPECT_EQ(errors, 1);
}

TEST_F(MediaPlayerControl, ARateTheSoundRefusesPlaysThePicturesWithoutSound) {
  TDerivedMovie_ player;
  ASSERT_TRUE(player.Open(Clip(50, true)));
  auto graph = player.FilterGraph();
  EXPECT_TRUE(SoundConnected(graph.Get()));
  EXPECT_EQ(player.SetProperty(dispid::Rate, 2.0), S_OK);
  EXPECT_EQ(player.GetProperty(dispid::Rate).toDouble(), 2.0);
  EXPECT_FALSE(SoundConnected(graph.Get()));
  EXPECT_EQ(player.PlayState(), mpPlaying);
  EXPECT_EQ(player.SetProperty(dispid::Rate, 1.0), S_OK);
  EXPECT_TRUE(SoundConnected(graph.Get()));
}

TEST_F(MediaPlayerControl, PropertiesKeepTheirKindAndVolumeReachesTheSound) {
  TDerivedMovie_ player;
  ASSERT_TRUE(player.Open(Clip(50, true)));
  // Kept-only values read back as stored; 16-bit booleans as -1 and 0.
  EXPECT_EQ(player.SetProperty(dispid::BaseURL, QStringLiteral("http://example.invalid/")), S_OK);
  EXPECT_EQ(player.GetProperty(dispid::BaseURL).toString(), "http://example.invalid/");
  EXPECT_EQ(player.SetProperty(dispid::ShowGotoBar, true), S_OK);
  EXPECT_EQ(player.GetProperty(dispid::ShowGotoBar).toInt(), -1);
  EXPECT_EQ(player.SetProperty(dispid::ImageSourceWidth, 5), E_INVALIDARG);
  EXPECT_EQ(player.SetProperty(12345, 5), E_INVALIDARG);

  ComPtr<IBasicAudio> audio;
  ASSERT_EQ(player.FilterGraph()->QueryInterface(IID_IBasicAudio, audio.PutVoid()), S_OK);
  LONG volume = 0;
  ASSERT_EQ(player.SetProperty(dispid::Volume, -1500), S_OK);
  audio->get_Volume(&volume);
  EXPECT_EQ(volume, -1500);
  ASSERT_EQ(player.SetProperty(dispid::Mute, true), S_OK);
  audio->get_Volume(&volume);
  EXPECT_EQ(volume, -10000);
  ASSERT_EQ(player.SetProperty(dispid::Mute, false), S_OK);
  audio->get_Volume(&volume);
  EXPECT_EQ(volume, -1500);
}

// The tracker stands where the stream position is: it moves on while the clip plays, and at rest
// (paused, or after a seek) it shows exactly the position's share of the clip.
TEST_F(MediaPlayerControl, TheTrackerFollowsTheStreamPosition) {
  TDerivedMovie_ player;
  player.resize(320, 240);
  auto* tracker = player.findChild<QSlider*>(QStringLiteral("Tracker"));
  ASSERT_TRUE(tracker);
  ASSERT_TRUE(player.Open(Clip(100, false)));
  const double duration = player.DurationSeconds();
  EXPECT_TRUE(WaitFor([&] { return tracker->value() >= 250; })) << tracker->value();
  ASSERT_EQ(player.Pause(), S_OK);
  const double at = player.GetProperty(dispid::CurrentPosition).toDouble();
  const int expected = int(std::lround(1000 * at / duration));
  EXPECT_TRUE(WaitFor([&] { return tracker->value() == expected; })) << tracker->value() << " against " << expected;
  ASSERT_EQ(player.SetProperty(dispid::CurrentPosition, 0.75 * duration), S_OK);
  EXPECT_TRUE(WaitFor([&] { return tracker->value() == 750; })) << tracker->value();
}

TEST_F(MediaPlayerControl, FullScreenMovesTheRendererWindowAndBack) {
  TDerivedMovie_ player;
  player.resize(320, 240);
  ASSERT_TRUE(player.Open(Clip(50, false)));
  QWidget* renderer = player.RendererWindow();
  ASSERT_TRUE(renderer);
  ASSERT_EQ(player.SetProperty(dispid::DisplaySize, mpFullScreen), S_OK);
  ASSERT_TRUE(player.FullScreenWindow());
  EXPECT_EQ(renderer->parentWidget(), player.FullScreenWindow());
  EXPECT_TRUE(player.FullScreenWindow()->windowFlags() & Qt::FramelessWindowHint);
  ASSERT_EQ(player.SetProperty(dispid::DisplaySize, mpFit), S_OK);
  EXPECT_FALSE(player.FullScreenWindow());
  EXPECT_EQ(renderer->parentWidget(), &player);
}

}  // namespace
}  // namespace kestrom::mediapanel
