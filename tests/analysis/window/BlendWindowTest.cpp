// Comparing pictures on the screen with the two real windows on generated clips whose pixels carry
// their frame numbers: the overlay, the background, the cutting rectangle and the mirror.
#include "WindowClipFixture.h"
#include "analysis/drawing/DrawingControls.h"
#include "analysis/window/CompanionForms.h"
#include "analysis/window/HintForms.h"
#include "platform/core/Clock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/ui/WindowBlend.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QCoreApplication>
#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {
namespace {

class BlendWindowTest : public test::WindowClipFixture {
 protected:
  void SetUp() override {
    WindowClipFixture::SetUp();
    ASSERT_EQ(ui::WindowBlendMethod(), ui::BlendMethod::ComposedInPaint);  // offscreen: no compositor
  }

  static QString ClipPath(const QString& name) { return Clip(name, 50); }
  // Opening plays at half speed: the pause button stops the clock as the coach would.
  void Open(TKestromForm* w, const QString& path) {
    dialogs.dialogs.Push(path);
    w->SpeedButton1->click();
    ASSERT_TRUE(w->VideoOpen);
    w->PauseSpeedButton2->click();
  }
  void SeekTo(TKestromForm* w, int frame) {
    w->ScrollBar1->setValue(frame * 40);
    w->ScrollBarTimerTimer();
  }
  // Both windows side by side with a clip each, synchronised with no offset.
  void OpenPair() {
    Main()->VerticalClick();
    Main()->BestSpeedButton2->setChecked(true);
    Main()->BestSpeedButton2Click();
    ASSERT_TRUE(Best()->isVisible());
    Open(Main(), ClipPath("main.avi"));
    Open(Best(), ClipPath("best.avi"));
  }
  void Synchronise() {
    Best()->SyncSpeedButton->click();
    ASSERT_TRUE(Main()->DrivesPair);
  }

  static QRect Picture(const TKestromForm* w) {
    return QRect(w->PicLeft, w->PicTop, w->PicRight - w->PicLeft, w->PicBottom - w->PicTop);
  }
  // What the window shows on the screen (its paint), and what its canvas holds.
  static QImage Painted(TKestromForm* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32).copy(Picture(w));
  }
  static QImage Canvas(const TKestromForm* w) { return w->WindowCanvas.Image().copy(Picture(w)); }

  void Drag(TKestromForm* w, QPoint from, QPoint to) {
    Mouse(w, QEvent::MouseButtonPress, from);
    Mouse(w, QEvent::MouseMove, (from + to) / 2);
    Mouse(w, QEvent::MouseMove, to);
    Mouse(w, QEvent::MouseButtonRelease, to);
  }

};

TEST_F(BlendWindowTest, OverlayNeedsTheSynchronisedPair) {
  OpenPair();
  dialogs.dialogs.Push(ui::mrOk);
  Main()->OverlayButton->click();
  EXPECT_EQ(dialogs.dialogs.MessageTexts().last(),
            "Both Main and Best videos must be synchronised\n\rfor overlay windows");
  EXPECT_FALSE(Main()->OverlayOn);
  EXPECT_FALSE(Main()->Blending);
}

TEST_F(BlendWindowTest, OverlayAsksForALayoutFirstWhenAWindowHasNone) {
  OpenPair();
  Synchronise();
  Main()->Layout = 0;  // resized by hand
  onModal = [](QDialog& form) {
    auto* chooser = qobject_cast<TOverlayInformationForm*>(&form);
    ASSERT_NE(chooser, nullptr);
    chooser->findChild<QPushButton*>("VertButton")->click();
    chooser->Timer1Timer();  // the layout follows at the chooser's next tick
  };
  dialogs.dialogs.Push(ui::mrOk);
  Main()->OverlayButton->click();
  EXPECT_TRUE(modalForms.contains("OverlayInformationForm"));
  EXPECT_EQ(Main()->Layout, 1);
  EXPECT_EQ(Best()->Layout, 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts().last().startsWith(
      "Both Main and Best Windows have now been set for overlay.\r\nPlease check that both videos are:-\r\n"));
  EXPECT_FALSE(Main()->OverlayOn);  // the coach checks the pair, then presses again
}

TEST_F(BlendWindowTest, OverlayBlendsBestThroughMainInThePaintOnly) {
  OpenPair();
  SeekTo(Main(), 5);
  SeekTo(Best(), 30);
  Synchronise();
  const QPoint bestPlace = Best()->pos();
  ASSERT_NE(bestPlace, Main()->pos());

  Main()->OverlayButton->click();
  ASSERT_TRUE(Main()->OverlayOn);
  EXPECT_EQ(Best()->pos(), Main()->pos());
  EXPECT_EQ(Best()->size(), Main()->size());
  EXPECT_EQ(Main()->ScrollBar2->value(), 200);
  EXPECT_EQ(Main()->FileControls->currentWidget(), Main()->TransparentSheet);
  EXPECT_EQ(Best()->FileControls->currentWidget(), Best()->TransparentSheet);
  EXPECT_FALSE(Main()->Vertical->isEnabled());
  EXPECT_FALSE(Main()->ZoomInButton->isEnabled());
  EXPECT_FALSE(Best()->FlipButton->isEnabled());
  EXPECT_EQ(Main()->StatusBar1->PanelText(6), "Sync On");
  EXPECT_TRUE(Best()->DummyScrollBar->isVisibleTo(Best()));
  ASSERT_EQ(Picture(Main()), Picture(Best()));

  // 255: only Main; 0: only Best, seen through Main.
  Main()->Button5->click();
  EXPECT_EQ(Main()->BlendAlpha, 255);
  EXPECT_EQ(tools::ReadFrameCode(Painted(Main())), 5);
  Main()->Button6->click();
  EXPECT_EQ(Main()->BlendAlpha, 0);
  EXPECT_EQ(Best()->ScrollBar2->value(), 0);
  EXPECT_EQ(tools::ReadFrameCode(Painted(Main())), 30);

  // In between, each pixel lies between the two pictures, while the canvas keeps Main's alone.
  Main()->ScrollBar2->setValue(128);
  const QImage painted = Painted(Main()), front = Canvas(Main()), behind = Canvas(Best());
  EXPECT_EQ(tools::ReadFrameCode(front), 5);
  int mixed = 0;
  for (int y = 0; y < front.height(); y += 3)
    for (int x = 0; x < front.width(); x += 3) {
      const int f = qGray(front.pixel(x, y)), b = qGray(behind.pixel(x, y)), p = qGray(painted.pixel(x, y));
      if (std::abs(f - b) < 100) continue;
      ++mixed;
      ASSERT_NEAR(p, (f * 128 + b * 127) / 255, 3) << x << "," << y;
    }
  EXPECT_GT(mixed, 100);  // the two frames differ in their number bands

  // Reset: Best goes back to its place, Main is opaque, the controls come back.
  Main()->Button4->click();
  EXPECT_FALSE(Main()->OverlayOn);
  EXPECT_FALSE(Main()->Blending);
  EXPECT_EQ(Best()->pos(), bestPlace);
  EXPECT_TRUE(Main()->Vertical->isEnabled());
  EXPECT_TRUE(Best()->FlipButton->isEnabled());
  EXPECT_TRUE(Main()->OverlayButton->isEnabled());
  EXPECT_FALSE(Best()->DummyScrollBar->isVisibleTo(Best()));
  EXPECT_EQ(Main()->FileControls->currentWidget(), Main()->MainSheet);
  EXPECT_EQ(tools::ReadFrameCode(Painted(Main())), 5);
}

TEST_F(BlendWindowTest, TheTickKeepsBestInStepWhileBlending) {
  OpenPair();
  Synchronise();
  Main()->OverlayButton->click();
  ASSERT_TRUE(Main()->OverlayOn);
  // Main's markers and stopwatch captions show on Best while it lies underneath.
  Main()->Markers->findChild<QToolButton*>("Std1")->click();
  EXPECT_EQ(Best()->Markers->findChild<QToolButton*>("Std1")->text(), Main()->Markers->findChild<QToolButton*>("Std1")->text());

  Main()->PlayBitBtn->click();
  for (int tick = 0; tick < 6; ++tick) {
    clock.Advance(170);
    Main()->Timer1Timer();
    const QString shown = Main()->Test->text();
    ASSERT_NE(shown, "0");
    EXPECT_EQ(Best()->Test->text(), shown);
    EXPECT_EQ(Best()->ScrollBar1->value(), Main()->ScrollBar1->value());
    EXPECT_EQ(Best()->DummyScrollBar->value(), Main()->ScrollBar1->value());
    EXPECT_EQ(tools::ReadFrameCode(Canvas(Best())), shown.toInt());
  }
  Main()->PauseSpeedButton2->click();
  // The mouse position on Main shows on Best too.
  Mouse(Main(), QEvent::MouseMove, Picture(Main()).center());
  EXPECT_FALSE(Main()->StatusBar1->PanelText(0).trimmed().isEmpty());
  EXPECT_EQ(Best()->StatusBar1->PanelText(0), Main()->StatusBar1->PanelText(0));

  // Reset pressed on Best ends the whole overlay.
  Best()->Button4->click();
  EXPECT_FALSE(Main()->OverlayOn);
  EXPECT_FALSE(Main()->Blending);
  EXPECT_EQ(Best()->Markers->findChild<QToolButton*>("Std1")->text(), "1");  // Best's own markers again
}

TEST_F(BlendWindowTest, BackgroundArmsOnTheFirstPressAndFreezesOnTheSecond) {
  Open(Main(), ClipPath("main.avi"));
  TKestromForm* w = Main();
  SeekTo(w, 12);
  TBackgroundForm* form = Forms().BackgroundForm1;
  const QImage before = Painted(w);
  const QRect place = w->geometry();

  w->BackgroundButton->click();
  EXPECT_TRUE(w->BackgroundButton->font().underline());
  EXPECT_TRUE(modalForms.contains("BackgroundHint"));
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(w->BackgroundFormInUse);
  EXPECT_FALSE(w->Blending);
  EXPECT_EQ(w->geometry(), place);
  EXPECT_EQ(Painted(w), before);

  // The coach steps to the frame wanted, then presses again.
  SeekTo(w, 20);
  w->BackgroundButton->click();
  EXPECT_FALSE(w->BackgroundButton->font().underline());
  EXPECT_TRUE(w->BackgroundFormInUse);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->geometry(), w->geometry());
  EXPECT_EQ(w->ScrollBar2->value(), 200);
  EXPECT_EQ(form->ScrollBar2->value(), 200);
  const QRect picture = Picture(w).translated(0, -w->MenuPanelHeight);
  EXPECT_EQ(tools::ReadFrameCode(form->FrameBitmap.copy(picture)), 20);

  // The video moves on; the frozen frame stays behind it, and the form shows the live values.
  SeekTo(w, 33);
  EXPECT_EQ(form->Test->text(), "33");
  EXPECT_EQ(form->ScrollBar1->value(), 33 * 40);
  w->Button6->click();
  EXPECT_EQ(tools::ReadFrameCode(Painted(w)), 20);
  w->Button5->click();
  EXPECT_EQ(tools::ReadFrameCode(Painted(w)), 33);
  EXPECT_EQ(tools::ReadFrameCode(Canvas(w)), 33);
  Mouse(w, QEvent::MouseMove, Picture(w).center());
  EXPECT_EQ(form->StatusBar1->PanelText(0), w->StatusBar1->PanelText(0));
  EXPECT_FALSE(form->StatusBar1->PanelText(0).trimmed().isEmpty());
  w->Markers->findChild<QToolButton*>("Std3")->click();
  EXPECT_EQ(form->Std[2]->text(), "33");

  // No layout change while blending.
  dialogs.dialogs.Push(ui::mrOk);
  const QRect blendingPlace = w->geometry();
  w->HorizontalClick();
  EXPECT_EQ(dialogs.dialogs.MessageTexts().last(),
            "Sorry but it is not possible to re-size Kestrom when using the Blend function");
  EXPECT_EQ(w->geometry(), blendingPlace);

  w->Button4->click();
  EXPECT_FALSE(w->BackgroundFormInUse);
  EXPECT_FALSE(w->Blending);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(w->BackgroundStep, 1);
  EXPECT_TRUE(w->Vertical->isEnabled());
}

TEST_F(BlendWindowTest, ACutFromMainIsOfferedOverBestAndLeavesTheShapesAlone) {
  OpenPair();
  TKestromForm* w = Main();
  SeekTo(w, 7);
  const QRect pic = Picture(w);
  const QPoint a = pic.topLeft() + QPoint(150, 120), b = pic.topLeft() + QPoint(40, 30);

  for (bool unsaved : {false, true}) {
    SCOPED_TRACE(unsaved ? "with unsaved shapes" : "with nothing unsaved");
    w->Drawings.Modified().shapes = unsaved;
    const auto shapes = w->Drawings.Shapes();
    w->Set1->trigger();
    EXPECT_EQ(w->StatusBar1->PanelText(1), "Cutting Rectangle ON");
    EXPECT_EQ(w->Drawing->Tools().ActiveMode(), drawing::kModeShapes);

    // A slip of the mouse cuts nothing; the cut stays set.
    const QPoint slip = pic.topLeft() + QPoint(200, 150);
    Drag(w, slip, slip + QPoint(2, 40));
    EXPECT_FALSE(Forms().CutForm1->isVisible());

    Drag(w, a, b);  // dragged from bottom right to top left
    TCutForm* cut = Forms().CutForm1;
    ASSERT_TRUE(cut->isVisible());
    EXPECT_EQ(cut->size(), QSize(110, 90));
    EXPECT_EQ(cut->pos(), Best()->Bounds().topLeft() + QPoint(100, 300));
    const QImage source = w->WindowCanvas.Image();
    EXPECT_EQ(cut->Bitmap.pixel(55, 45), source.pixel(b.x() + 1 + 53, b.y() + 1 + 43));
    EXPECT_EQ(w->Drawings.Shapes(), shapes);
    EXPECT_EQ(w->Drawings.Modified().shapes, unsaved);
    EXPECT_EQ(w->Drawing->Tools().ActiveMode(), drawing::kModeNone);

    // Carried over Best, it follows the mouse there, and Best takes no drawing meanwhile.
    const QPoint over = Picture(Best()).center();
    Best()->Drawing->Tools().ResumeTool(drawing::Tool::Rectangle);
    Mouse(Best(), QEvent::MouseMove, over);
    EXPECT_TRUE(w->Carrying);
    EXPECT_EQ(cut->pos(), Best()->mapToGlobal(over) + QPoint(5, 1));
    Drag(Best(), over, over + QPoint(40, 40));
    EXPECT_TRUE(Best()->Drawings.Shapes().empty());

    w->Hide1->trigger();
    EXPECT_FALSE(cut->isVisible());
    w->ShowCut1->trigger();
    EXPECT_TRUE(cut->isVisible());
    w->Hide1->trigger();
  }

  // A rectangle tool chosen after "Set" draws a rectangle, not a cut.
  w->Set1->trigger();
  w->Shapes->findChild<QToolButton*>("RectangleButton")->click();
  Drag(w, b, a);
  EXPECT_FALSE(Forms().CutForm1->isVisible());
  EXPECT_EQ(w->Drawings.Shapes().size(), 1u);
}

TEST_F(BlendWindowTest, CuttingNeedsBothVideos) {
  Open(Main(), ClipPath("main.avi"));
  dialogs.dialogs.Push(ui::mrOk);
  Main()->CuttingButtonMenu->click();
  EXPECT_EQ(dialogs.dialogs.MessageTexts().last(),
            "Sorry : But you need both the Main and Best\r\nwindows on in order to use the Video Overlay");
}

TEST_F(BlendWindowTest, MirrorShowsThePictureReversedUnlessCancelled) {
  Open(Main(), ClipPath("main.avi"));
  TKestromForm* w = Main();
  SeekTo(w, 9);
  ASSERT_NE(w->Layout, 1);
  TFlipForm* flip = Forms().FlipForm;

  dialogs.dialogs.Push(ui::mrCancel);
  w->FlipButton->click();
  EXPECT_TRUE(dialogs.dialogs.MessageTexts().last().startsWith("You are about to use the Flip window."));
  EXPECT_FALSE(w->FlipButton->isChecked());
  EXPECT_FALSE(flip->isVisible());

  dialogs.dialogs.Push(ui::mrNo);  // on, in the layout it has
  w->FlipButton->click();
  ASSERT_TRUE(w->FlipButton->isChecked());
  EXPECT_TRUE(flip->isVisible());
  EXPECT_EQ(flip->windowTitle(), "Main Window Reverse");
  EXPECT_EQ(flip->size(), QSize(w->AreaWidth, w->AreaHeight + 30));
  const QRect pic = Picture(w);
  const QRect inArea = pic.translated(0, -w->MenuPanelHeight);
  const QRect mirrored(w->AreaWidth - inArea.right() - 1, inArea.top(), inArea.width(), inArea.height());
  EXPECT_EQ(tools::ReadFrameCode(flip->MirrorBitmap.copy(mirrored).mirrored(true, false)), 9);
  EXPECT_EQ(tools::ReadFrameCode(flip->MirrorBitmap.copy(mirrored)), -1);  // reversed, the band reads as nothing
  // It follows the video.
  SeekTo(w, 17);
  EXPECT_EQ(tools::ReadFrameCode(flip->MirrorBitmap.copy(mirrored).mirrored(true, false)), 17);

  w->FlipButton->click();
  EXPECT_FALSE(flip->isVisible());
}

}  // namespace
}  // namespace kestrom::window
