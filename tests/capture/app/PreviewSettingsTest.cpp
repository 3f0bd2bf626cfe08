// The settings given to the component on the way back to preview: written until read back, at
// most a bounded number of times, with a log line for each one refused.

#include "capture/app/PreviewSettings.h"
#include "capture/engine/FK.h"

#include <gtest/gtest.h>

namespace kestrom::capture {
namespace {

// The Get/Set pairs of the component; a setting listed in refuses is never taken.
struct FakeComponent {
  int deinterlacing = engine::di_FullSize, size = 0, zoom = 100, grabber = engine::fg_BothStreams;
  QStringList refuses;
  int grabberWrites = 0;
  void SetVideoProcessing_Deinterlacing(int v) { if (!refuses.contains("di")) deinterlacing = v; }
  int GetVideoProcessing_Deinterlacing() const { return deinterlacing; }
  void SetVideoSize(int v) { if (!refuses.contains("size")) size = v; }
  int GetVideoSize() const { return size; }
  void SetPreviewZoomSize(int v) { if (!refuses.contains("zoom")) zoom = v; }
  int GetPreviewZoomSize() const { return zoom; }
  void SetFrameGrabber(int v) {
    ++grabberWrites;
    if (!refuses.contains("grabber")) grabber = v;
  }
  int GetFrameGrabber() const { return grabber; }
};

TEST(CaptureAppPreviewSettings, TakenSettingsAreSetAndRefusedOnesLogged) {
  FakeComponent component;
  EXPECT_TRUE(EnsureDeviceSettings(component).isEmpty());
  EXPECT_EQ(component.deinterlacing, engine::di_Disabled);
  EXPECT_EQ(component.size, 4);
  EXPECT_EQ(component.zoom, 78);
  EXPECT_TRUE(EnsureGrabberSettings(component).isEmpty());
  EXPECT_EQ(component.grabber, engine::fg_PreviewStream);
  EXPECT_EQ(component.grabberWrites, 1);
  // Already on the preview stream: not written again.
  EXPECT_TRUE(EnsureGrabberSettings(component).isEmpty());
  EXPECT_EQ(component.grabberWrites, 1);

  // A device with fewer than five sizes, and a component that keeps its frame grabber: the form
  // goes on after the bound instead of waiting for ever.
  FakeComponent stubborn;
  stubborn.refuses = {"size", "grabber"};
  EXPECT_EQ(EnsureDeviceSettings(stubborn), QStringList({"setting not taken: VideoSize := 4"}));
  EXPECT_EQ(EnsureGrabberSettings(stubborn), QStringList({"setting not taken: FrameGrabber := 1"}));
  EXPECT_EQ(stubborn.grabberWrites, kSettingAttempts);
  EXPECT_EQ(stubborn.zoom, 78);
}

TEST(CaptureAppPreviewSettings, TheEngineTakesTheGrabberAndDisplaySettings) {
  engine::TFK fk;
  EXPECT_TRUE(EnsureGrabberSettings(fk).isEmpty());
  EXPECT_EQ(fk.GetFrameGrabber(), engine::fg_PreviewStream);
  EXPECT_EQ(fk.GetPreviewZoomSize(), 78);
  EXPECT_EQ(fk.GetVideoProcessing_Deinterlacing(), engine::di_Disabled);
}

}  // namespace
}  // namespace kestrom::capture
