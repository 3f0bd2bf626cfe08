// The media panel on real clips: states delivered by its timer, AutoStart, Loop, the selection,
// positions against the frame codes, full screen keys and the refused combinations.
#include "analysis/mediapanel/ActiveMovie.h"
#include "tests/analysis/mediapanel/PanelTestSupport.h"
#include "platform/ui/Dialogs.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

namespace kestrom::mediapanel {
namespace {

using namespace dshow;
using test::WaitFor;

class ActiveMovieClip : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    test::UseRegistry(dir_.path());
    panel_ = std::make_unique<TActiveMovie>();
    panel_->resize(400, 300);
    // Tests run the timer's handler themselves.
    panel_->StateTimer()->stop();
  }
  void TearDown() override {
    panel_.reset();
    registry::SetRegistryDirectory({});
  }
  QString Clip(int frames) {
    tools::ClipSpec clipSpec;
    clipSpec.path = dir_.filePath("clip.avi");
    clipSpec.size = {176, 144};
    clipSpec.frames = frames;
    EXPECT_TRUE(tools::WriteClip(clipSpec));
    return clipSpec.path;
  }
  QTemporaryDir dir_;
  std::unique_ptr<TActiveMovie> panel_;
};

TEST_F(ActiveMovieClip, StatesArriveInOrderThroughTheTimer) {
  std::vector<std::string> log;
  panel_->OnOpenStateChange = [&](int o, int n) { log.push_back("open " + std::to_string(o) + ">" + std::to_string(n)); };
  panel_->OnPlayStateChange = [&](int o, int n) { log.push_back("play " + std::to_string(o) + ">" + std::to_string(n)); };
  panel_->OnReadyStateChange = [&](int r) { log.push_back("ready " + std::to_string(r)); };
  panel_->OnOpenComplete = [&] { log.push_back("complete"); };
  int ends = 0;
  panel_->OnEndOfStream = [&](int) { ++ends; };
  ASSERT_TRUE(panel_->Open(Clip(10)));
  // Ready states come at once; the open and play states wait for the timer.
  EXPECT_EQ(log, (std::vector<std::string>{"ready 1", "complete", "ready 4"}));
  panel_->StateTimerTimer();
  EXPECT_EQ(log, (std::vector<std::string>{"ready 1", "complete", "ready 4", "open 5>6", "play 0>2"}));
  ASSERT_TRUE(WaitFor([&] {
    panel_->StateTimerTimer();
    return ends == 1;
  }));
  EXPECT_EQ(log.back(), "play 2>0");
}

TEST_F(ActiveMovieClip, WithoutAutoStartTheClipRestsPausedAtTheStart) {
  panel_->SetAutoStart(false);
  ASSERT_TRUE(panel_->Open(Clip(25)));
  // The timer comes a tick or more after playing starts (much later on a loaded machine): the
  // clip plays meanwhile, and must still come to rest at its start.
  QElapsedTimer late;
  late.start();
  WaitFor([&] { return late.elapsed() >= 300; });
  panel_->StateTimerTimer();
  EXPECT_EQ(panel_->Player()->PlayState(), mpPaused);
  EXPECT_TRUE(WaitFor([&] { return panel_->Player()->GetProperty(dispid::CurrentPosition).toDouble() < 0.04; }))
      << panel_->Player()->GetProperty(dispid::CurrentPosition).toDouble();
}

TEST_F(ActiveMovieClip, LoopPlaysAgainAndSelectionEndStopsThere) {
  panel_->SetLoop(true);
  int ends = 0;
  panel_->OnEndOfStream = [&](int) { ++ends; };
  ASSERT_TRUE(panel_->Open(Clip(5)));
  ASSERT_TRUE(WaitFor([&] {
    panel_->StateTimerTimer();
    return ends == 1;
  }));
  EXPECT_EQ(panel_->Player()->PlayState(), mpPlaying);

  panel_->SetLoop(false);
  panel_->SetSelectionEnd(0.08);
  std::vector<unsigned> frames;
  panel_->OnPositionChange = [&](double, double, unsigned, unsigned frame) { frames.push_back(frame); };
  panel_->StopPlayback();
  panel_->Player()->Play();
  ASSERT_TRUE(WaitFor([&] {
    panel_->StateTimerTimer();
    return panel_->Player()->PlayState() == mpStopped;
  }));
  ASSERT_FALSE(frames.empty());
  EXPECT_LE(frames.back(), 5u);
}

TEST_F(ActiveMovieClip, PositionFramesFollowTheFrameCodesShown) {
  struct Seen {
    unsigned frame;
    int shown;
  };
  std::vector<Seen> seen;
  panel_->OnPositionChange = [&](double, double, unsigned, unsigned frame) {
    if (panel_->Player()->PlayState() == mpPlaying) seen.push_back({frame, tools::ReadFrameCode(test::ShownPicture(*panel_->Player()))});
  };
  for (TDisplayMode mode : {TDisplayMode::mpTime, TDisplayMode::mpFrames}) {
    SCOPED_TRACE(int(mode));
    seen.clear();
    panel_->SetDisplayMode(mode);
    ASSERT_TRUE(panel_->Open(Clip(50)));
    ASSERT_TRUE(WaitFor([&] {
      panel_->StateTimerTimer();
      return panel_->Player()->PlayState() == mpStopped;
    }));
    ASSERT_GE(seen.size(), 5u);
    // The clock is read a moment before or after the renderer turns to the next picture.
    for (const Seen& s : seen) {
      if (s.shown < 0) continue;
      EXPECT_NEAR(double(s.frame), double(s.shown), 1.0);
    }
    EXPECT_GE(seen.back().frame, 40u);
  }
}

TEST_F(ActiveMovieClip, EscapeInFullScreenReturnsToTheChosenSizeWithoutAKeyEvent) {
  panel_->SetShowControls(false);
  panel_->SetDisplaySize(TDisplaySize::mpHalfSize);
  int keys = 0;
  panel_->OnFullScreenKeyPress = [&](int, Qt::KeyboardModifiers) { ++keys; };
  ASSERT_TRUE(panel_->Open(Clip(50)));
  panel_->SetFullScreenMode(true);
  QWidget* renderer = panel_->Player()->RendererWindow();
  ASSERT_TRUE(renderer);
  ASSERT_EQ(panel_->Player()->GetProperty(dispid::DisplaySize).toInt(), mpFullScreen);
  QKeyEvent other(QEvent::KeyRelease, Qt::Key_A, Qt::ShiftModifier);
  QCoreApplication::sendEvent(renderer, &other);
  panel_->StateTimerTimer();
  EXPECT_EQ(keys, 1);
  QKeyEvent escape(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
  QCoreApplication::sendEvent(renderer, &escape);
  panel_->StateTimerTimer();
  EXPECT_EQ(keys, 1);
  // Controls hidden: the panel sizes the video itself and the player fits it.
  EXPECT_EQ(panel_->Player()->GetProperty(dispid::DisplaySize).toInt(), mpFit);
  EXPECT_EQ(panel_->VideoPanel()->size(), QSize(88, 72));
}

TEST(ActiveMovie, RefusedCombinationsSayWhyAndChangeNothing) {
  ui::ScopedScriptedDialogs scope;
  scope.dialogs.Push(ui::mrOk);
  scope.dialogs.Push(ui::mrOk);
  TActiveMovie panel;
  ASSERT_TRUE(panel.ShowControls());
  panel.SetDisplaySize(TDisplaySize::mpCustomSize);
  EXPECT_EQ(panel.DisplaySize(), TDisplaySize::mpDefaultSize);
  panel.SetShowControls(false);
  panel.SetDisplaySize(TDisplaySize::mpCustomSize);
  panel.SetShowControls(true);
  EXPECT_FALSE(panel.ShowControls());
  EXPECT_EQ(scope.dialogs.MessageTexts(),
            (QStringList{"this setting is not allowed when ShowControls is enabled. Disable ShowControls first.",
                         "this setting is not allowed when DisplaySize = mpCustomSize. Set DisplaySize to another "
                         "value first."}));
}

TEST(ActiveMovie, OutOfRangeValuesAreIgnored) {
  TActiveMovie panel;
  panel.SetZoomSize(0);
  EXPECT_EQ(panel.ZoomSize(), 100);
  panel.SetSelectionStart(10);
  panel.SetSelectionEnd(5);
  EXPECT_EQ(panel.SelectionEnd(), -1);
  panel.SetSelectionStart(-1);
  EXPECT_EQ(panel.SelectionStart(), -1);
  panel.SetSelectionStart(-3);
  EXPECT_EQ(panel.SelectionStart(), -1);
  EXPECT_TRUE(panel.StateTimer()->objectName().startsWith("AMComponent"));
  EXPECT_EQ(panel.StateTimer()->interval(), 50);
}

}  // namespace
}  // namespace kestrom::mediapanel
