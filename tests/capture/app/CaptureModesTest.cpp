// The decisions the capture form takes from the component's state, its read-out names and the
// bounded write of a setting.

#include "capture/app/CaptureModes.h"
#include "capture/engine/EngineComponent.h"

#include <gtest/gtest.h>

namespace kestrom::capture {
namespace {

TEST(CaptureAppModes, WithoutACameraOnlySetupStaysEnabled) {
  for (int page = 0; page < kCapturePageCount; ++page) {
    EXPECT_TRUE(PageEnabled(page, false)) << page;
    EXPECT_EQ(PageEnabled(page, true), page >= SetupPage) << page;
  }
}

TEST(CaptureAppModes, TransportButtonsKeysAndTheirLogLines) {
  ASSERT_EQ(DVButtons().size(), 9);
  const QList<std::pair<int, QString>> logs = {
      {0, "Play Video"},        {1, "Stop Video"},        {2, "Pause Video"},
      {9, "Step Forward"},      {10, "Step Backward"},    {12, "Fast Forward"},
      {13, "Play Slow Forward"}, {14, "Fast Reverse"},     {15, "Play Slow Backward"},
      {3, ""},
  };
  for (const auto& [code, text] : logs) EXPECT_EQ(DVCommandLogText(code), text) << code;

  const QList<std::pair<QChar, QList<int>>> keys = {
      {' ', {1}}, {'b', {2, 9}}, {'B', {2, 9}}, {'c', {2, 10}}, {'m', {12}}, {'N', {13}},
      {'p', {0}}, {'v', {2}},    {'X', {15}},   {'z', {14}},    {'q', {}},   {'1', {}},
  };
  for (const auto& [key, codes] : keys) EXPECT_EQ(PreviewKeyCommands(key), codes) << key.toLatin1();

  // Linux has no tape transport: every command fails, and the line says whether preview ran.
  using namespace engine;
  for (int state : {cs_Preview, cs_Recording}) EXPECT_EQ(DVCommandFailureText(state), "DV command failed.");
  for (int state : {cs_None, cs_Player, cs_Reencoding})
    EXPECT_EQ(DVCommandFailureText(state), "DV command failed. Preview must be running!");
}

TEST(CaptureAppModes, TransportCommandOutcomes) {
  using namespace engine;
  const DVCommandOutcome ok = DVCommandResult(dvc_StepForward, true, cs_Preview);
  EXPECT_EQ(ok.logLine, "Step Forward");
  EXPECT_TRUE(ok.DVTapeAvailable);
  EXPECT_TRUE(ok.tapeSettings);
  const DVCommandOutcome failed = DVCommandResult(dvc_Play, false, cs_Preview);
  EXPECT_EQ(failed.logLine, "DV command failed.");
  EXPECT_FALSE(failed.DVTapeAvailable);
  EXPECT_FALSE(failed.tapeSettings);
  EXPECT_EQ(DVCommandResult(dvc_Play, false, cs_Player).logLine, "DV command failed. Preview must be running!");
}

TEST(CaptureAppModes, ReadOutNames) {
  const QStringList states = {"Down", "Preview", "Recording", "PlayBack", "Compress"};
  for (int s = 0; s < 5; ++s) EXPECT_EQ(ComponentStateName(s), states[s]);
  EXPECT_FALSE(ComponentStateName(5));
  EXPECT_EQ(StateCaption(3), "3");
  const QStringList grabbers = {"fg_BothStreams", "fg_PreviewStream", "fg_CaptureStream", "fg_Disabled"};
  for (int g = 0; g < 4; ++g) EXPECT_EQ(FrameGrabberName(g), grabbers[g]);
  EXPECT_FALSE(FrameGrabberName(4));
  EXPECT_FALSE(FrameGrabberName(-1));
  EXPECT_EQ(TotalGbSizeCaption(), "0.21");
}

TEST(CaptureAppModes, ASettingIsWrittenUntilReadBackButNotForever) {
  struct Component {
    int value = 0;
    int refusals = 0;  // writes ignored before one is taken; -1 takes none
    int writes = 0;
    void Set(int v) {
      ++writes;
      if (refusals < 0) return;
      if (refusals > 0) {
        --refusals;
        return;
      }
      value = v;
    }
  };
  struct Case {
    int refusals;
    bool taken;
    int writes;
  };
  for (const Case& c : {Case{0, true, 1}, Case{3, true, 4}, Case{9, true, 10}, Case{10, false, 10}, Case{-1, false, 10}}) {
    Component component{0, c.refusals};
    const bool taken = WriteUntilRead([&](int v) { component.Set(v); }, [&] { return component.value; }, 78);
    EXPECT_EQ(taken, c.taken) << c.refusals;
    EXPECT_EQ(component.writes, c.writes) << c.refusals;
  }
}

}  // namespace
}  // namespace kestrom::capture
