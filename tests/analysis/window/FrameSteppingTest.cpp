// Stepping and ten-frame jumps with the scroll bar land on every frame once at any frame rate,
// read from the pictures shown, whose pixels carry their frame numbers.
#include "WindowClipFixture.h"
#include "tools/FrameCode.h"

#include <QGuiApplication>
#include <QScrollBar>
#include <QTimer>

namespace kestrom::window {
namespace {

class FrameStepping : public test::WindowClipFixture {
 protected:
  int64_t Shown() {
    TKestromForm* w = Main();
    if (w->ScrollBarTimer->isActive()) w->ScrollBarTimerTimer();  // the seek after a move, at once
    return tools::ReadFrameCode(w->WindowCanvas.Image().copy(w->PicLeft, w->PicTop, w->FrameWidth, w->FrameHeight));
  }
  int64_t Act(QAbstractSlider::SliderAction action) {
    Main()->ScrollBar1->triggerAction(action);
    return Shown();
  }
};

TEST_F(FrameStepping, EveryStepAndJumpLandsOnTheNextFrameAtEveryRate) {
  struct Rate {
    int num, den;
  } rates[] = {{30, 1}, {30000, 1001}, {50, 1}, {60000, 1001}, {24, 1}, {24000, 1001}, {25, 2}, {25, 1}};
  for (const Rate& r : rates) {
    SCOPED_TRACE(testing::Message() << r.num << "/" << r.den << " fps");
    Open(Main(), Clip("steps.avi", 100, r.num, r.den));  // long enough for 33 ms steps to drift
    TKestromForm* w = Main();
    // Forward one frame at a time to the last frame the scroll bar reaches.
    int64_t expected = 0;
    for (;;) {
      const int before = w->ScrollBar1->value();
      const int64_t shown = Act(QAbstractSlider::SliderSingleStepAdd);
      if (w->ScrollBar1->value() == before) {
        EXPECT_EQ(shown, expected);  // at the last frame the range reaches, a step stays there
        break;
      }
      ASSERT_EQ(shown, ++expected);
    }
    const int64_t last = expected;
    EXPECT_GE(last, 96);
    // From the last reachable frame, one step back shows the one before it.
    EXPECT_EQ(Act(QAbstractSlider::SliderToMaximum), last);
    EXPECT_EQ(Act(QAbstractSlider::SliderSingleStepSub), last - 1);
    // Ten-frame jumps keep their stride in both directions.
    EXPECT_EQ(Act(QAbstractSlider::SliderToMinimum), 0);
    for (int64_t n = 10; n <= 90; n += 10) EXPECT_EQ(Act(QAbstractSlider::SliderPageStepAdd), n);
    for (int64_t n = 80; n >= 0; n -= 10) EXPECT_EQ(Act(QAbstractSlider::SliderPageStepSub), n);
    EXPECT_EQ(Act(QAbstractSlider::SliderSingleStepSub), 0);  // nothing before the first frame
  }
}

TEST_F(FrameStepping, NoFrameNumberOfTheOldClipStandsWhileAnotherOpens) {
  TKestromForm* w = Main();
  Open(w, Clip("long.avi", 40));
  w->ScrollBar1->setValue(11 * 40);
  EXPECT_EQ(Shown(), 11);
  EXPECT_EQ(w->Test->text(), "11");

  // A file that cannot be opened leaves the video and its frame number as they were.
  dialogs.dialogs.Push(QStringLiteral("/no/such/clip.avi"));
  w->SpeedButton1->click();
  EXPECT_EQ(w->Test->text(), "11");
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  dialogs.dialogs.Push(Clip("short.avi", 5));
  w->SpeedButton1->click();
  ASSERT_TRUE(w->VideoOpen);
  w->StopPlayback();
  EXPECT_NE(w->Test->text(), "11");  // nothing of the old clip until the new one shows a frame
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // the busy cursor is gone again
  EXPECT_EQ(Shown(), 0);
  EXPECT_EQ(w->Test->text(), "0");
}

TEST_F(FrameStepping, APictureLargerThanItsAreaIsCutAtTheAreasEdges) {
  TKestromForm* w = Main();
  Open(w, Clip("small.avi", 5));
  const QImage before = w->WindowCanvas.Image().copy();
  const QRect area(0, w->MenuPanelHeight, w->AreaWidth, w->AreaHeight);
  ASSERT_FALSE(area.isEmpty());

  Open(w, Clip("hd.avi", 5, 25, 1, {1920, 1080}));
  EXPECT_EQ(Shown(), 0);
  const QImage& after = w->WindowCanvas.Image();
  ASSERT_EQ(after.size(), before.size());
  // Everything outside the picture area (menu panel, control panel, status bar) is as it was.
  int changed = 0;
  for (int y = 0; y < after.height(); ++y)
    for (int x = 0; x < after.width(); ++x)
      if (!area.contains(x, y) && after.pixel(x, y) != before.pixel(x, y)) ++changed;
  EXPECT_EQ(changed, 0);
}

TEST_F(FrameStepping, TheControlPanelLooksTheSameWhateverThePictureBehindIt) {
  // The panel stands over the foot of the picture area: a picture larger than the area reaches
  // under it, and must not show through, at any zoom step or layout.
  TKestromForm* w = Main();
  auto panelPixels = [this, w](const QString& clip, int step) {
    Open(w, clip);
    w->SetZoom(step);
    w->StopPlayback();
    return w->grab(w->Panel4->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
  };
  struct Layout {
    const char* name;
    void (TKestromForm::*click)();
  } layouts[] = {{"full screen", nullptr}, {"H", &TKestromForm::HorizontalClick}, {"V", &TKestromForm::VerticalClick}};
  for (const Layout& layout : layouts) {
    if (layout.click) (w->*layout.click)();
    for (const int step : {10, 5}) {
      SCOPED_TRACE(testing::Message() << layout.name << " at step " << step);
      const QImage small = panelPixels(Clip("small.avi", 5), step);
      const QImage large = panelPixels(Clip("hd.avi", 5, 25, 1, {1920, 1080}), step);
      ASSERT_EQ(small.size(), large.size());
      ASSERT_FALSE(small.isNull());
      int differing = 0;
      for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x)
          if (small.pixel(x, y) != large.pixel(x, y)) ++differing;
      EXPECT_EQ(differing, 0) << "of " << small.width() * small.height();
    }
  }
}

}  // namespace
}  // namespace kestrom::window
