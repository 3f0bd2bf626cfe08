// The media panel on real clips: states delivered by its timer, AutoStart, Loop, the selection,
// positions against the frame codes, full screen keys and the refused combinations.
#include "common/mediapanel/ActiveMovie.h"
#include "tests/common/mediapanel/PanelTestSupport.h"
#include "platform/dshow/base/Codes.h"
#include "platform/dshow/base/Guids.h"
#include "platform/ui/Dialogs.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

namespace kestrom::mediapanel {
namespace {

using namespace com;
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

// Positions the timer reports against the frame the renderer shows there, in both display modes:
// each seek is waited for until its frame is on screen, so no clock is read.
TEST_F(ActiveMovieClip, PositionFramesFollowTheFrameCodesShown) {
  struct Seen {
    double time;
    unsigned frame;
  };
  std::vector<Seen> seen;
  panel_->OnPositionChange = [&](double, double time, unsigned, unsigned frame) { seen.push_back({time, frame}); };
  panel_->SetAutoStart(false);
  ASSERT_TRUE(panel_->Open(Clip(50)));
  panel_->StateTimerTimer();
  ASSERT_EQ(panel_->Player()->PlayState(), mpPaused);
  for (TDisplayMode mode : {TDisplayMode::mpTime, TDisplayMode::mpFrames}) {
    panel_->SetDisplayMode(mode);
    for (const int n : {3, 17, 42, 9}) {
      SCOPED_TRACE(testing::Message() << "mode " << int(mode) << " frame " << n);
      panel_->SeekSeconds(n * 0.04);
      ASSERT_TRUE(WaitFor([&] { return tools::ReadFrameCode(test::ShownPicture(*panel_->Player())) == n; }));
      seen.clear();
      panel_->StateTimerTimer();
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].frame, unsigned(n));
      EXPECT_NEAR(seen[0].time, n * 0.04, 1e-6);
    }
  }
}

// Graph events the player turns into its own reach the panel's events: at once, or for a
// disconnect through the timer.
TEST_F(ActiveMovieClip, ThePlayersEventsReachThePanel) {
  std::vector<std::string> log;
  panel_->OnScriptCommand = [&](const QString& type, const QString& param) {
    log.push_back(("script " + type + " " + param).toStdString());
  };
  panel_->OnMarkerHit = [&](int marker) { log.push_back("marker " + std::to_string(marker)); };
  panel_->OnBuffering = [&](bool start) { log.push_back(start ? "buffering on" : "buffering off"); };
  panel_->OnDisconnect = [&](int result) { log.push_back("disconnect " + std::to_string(result)); };
  panel_->OnClick = [&] { log.push_back("click"); };
  panel_->OnDblClick = [&] { log.push_back("double click"); };
  ASSERT_TRUE(panel_->Open(Clip(250)));
  ComPtr<IMediaEventSink> sink;
  ASSERT_EQ(panel_->Player()->FilterGraph()->QueryInterface(IID_IMediaEventSink, sink.PutVoid()), S_OK);
  static const char16_t type[] = u"URL", param[] = u"notes.html";
  struct Case {
    LONG code;
    LONG_PTR param1, param2;
    const char* expected;
  } const cases[] = {
      {EC_BUFFERING_DATA, 1, 0, "buffering on"},
      {EC_BUFFERING_DATA, 0, 0, "buffering off"},
      {kScriptCommandEvent, LONG_PTR(type), LONG_PTR(param), "script URL notes.html"},
      {kMarkerHitEvent, 3, 0, "marker 3"},
      {EC_DEVICE_LOST, 5, 0, "disconnect 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    log.clear();
    ASSERT_EQ(sink->Notify(c.code, c.param1, c.param2), S_OK);
    EXPECT_TRUE(WaitFor([&] {
      panel_->StateTimerTimer();
      return !log.empty();
    }));
    EXPECT_EQ(log, std::vector<std::string>{c.expected});
  }
  EXPECT_EQ(panel_->Player()->PlayState(), mpStopped);  // the lost source stopped the clip

  log.clear();
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(panel_->Player(), &release);
  QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(panel_->Player(), &twice);
  EXPECT_EQ(log, (std::vector<std::string>{"click", "double click"}));
}

TEST_F(ActiveMovieClip, AMissingFileIsNamedAsNotThere) {
  QString message;
  panel_->OnError = [&](int, const QString& text) { message = text; };
  const QString missing = dir_.filePath("gone.avi");
  EXPECT_FALSE(panel_->Open(missing));
  EXPECT_EQ(message, "the file " + QDir::toNativeSeparators(missing) + " is not there");
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

TEST(ActiveMovie, CreateFiresOnceWhenThePanelIsFirstShown) {
  TActiveMovie panel;
  int created = 0;
  panel.OnCreate = [&] { ++created; };
  EXPECT_EQ(created, 0);
  panel.show();
  EXPECT_EQ(created, 1);
  panel.hide();
  panel.show();
  EXPECT_EQ(created, 1);
}

// The panel's own Visible hides the video and shows the parent's colour; shown, the colour is the
// parent's with ParentColor, else the panel's own.
TEST(ActiveMovie, VisibleHidesTheVideoAndColourFollowsParentColor) {
  QWidget parent;
  QPalette teal = parent.palette();
  teal.setColor(QPalette::Window, QColor(0, 128, 128));
  parent.setPalette(teal);
  auto* panel = new TActiveMovie(&parent);
  panel->resize(300, 200);
  const auto colour = [&] { return panel->palette().color(QPalette::Window); };
  struct Case {
    bool visible, parentColor;
    QColor expected;
  } const cases[] = {
      {true, false, Qt::red},
      {false, false, QColor(0, 128, 128)},
      {true, true, QColor(0, 128, 128)},
  };
  panel->SetColor(Qt::red);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.visible << c.parentColor);
    panel->SetParentColor(c.parentColor);
    panel->SetVisible(c.visible);
    EXPECT_EQ(panel->Visible(), c.visible);
    EXPECT_EQ(colour(), c.expected);
    EXPECT_EQ(panel->rect().intersects(panel->VideoPanel()->geometry()), c.visible);
  }
  EXPECT_EQ(panel->Color(), QColor(Qt::red));
}

TEST(ActiveMovie, PassThroughPropertiesAreReachedByTheirNames) {
  TActiveMovie panel;
  panel.resize(300, 200);
  struct Case {
    const char* name;
    int id;
    QVariant value, stored;
  } const cases[] = {
      {"ShowStatusBar", dispid::ShowStatusBar, true, -1},
      {"Mute", dispid::Mute, true, -1},
      {"Volume", dispid::Volume, -1200, -1200},
      {"VideoBorderColor", dispid::VideoBorderColor, 0x0000FF, 0x0000FF},
      {"SAMILang", dispid::SAMILang, QStringLiteral("en-GB"), QStringLiteral("en-GB")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(panel.SetPassThroughByName(c.name, c.value));
    EXPECT_EQ(panel.Player()->GetProperty(c.id), c.stored);
    EXPECT_EQ(panel.PassThroughByName(c.name), c.stored);
  }
  EXPECT_FALSE(panel.SetPassThroughByName("Rate", 2.0));  // the panel's own, not a pass-through
  EXPECT_FALSE(panel.PassThroughByName("NoSuchName").isValid());
  // Typed accessors read the same values.
  EXPECT_TRUE(panel.Mute());
  EXPECT_EQ(panel.Volume(), -1200);
  panel.SetBaseURL({});
  EXPECT_TRUE(panel.BaseURL().isEmpty());
  // A boolean write lays the video out again.
  const QRect laidOut = panel.VideoPanel()->geometry();
  panel.VideoPanel()->setGeometry(7, 7, 10, 10);
  panel.SetShowGotoBar(true);
  EXPECT_EQ(panel.VideoPanel()->geometry(), laidOut);
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
