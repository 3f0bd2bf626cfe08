// Main and Best on real clips whose pixels carry their frame numbers: the four layouts on the
// offscreen screen, opening Best, synchronised play, and the windows that follow a moved one.
#include "WindowClipFixture.h"
#include "analysis/drawing/DrawingControls.h"
#include "analysis/playback/PanelRow.h"
#include "analysis/playback/WindowPair.h"
#include "analysis/sheets/MemoPad.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Clock.h"
#include "platform/core/Format.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaPlayerBar.h"
#include "platform/ui/RowOverflow.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace kestrom::test {
namespace {

using window::TKestromForm;

class PairWindowTest : public WindowClipFixture {
 protected:
  void SetUp() override {
    WindowClipFixture::SetUp();
    Main()->show();  // as the program shows its main form
  }

  // 25 frames a second in Main, 30 in Best: one millisecond offset, two frame grids.
  static QString MainClip() { return Clip("athlete.avi", 100, 25); }  // 4000 ms, 40 ms frames
  static QString BestClip() { return Clip("model.avi", 180, 30); }    // 6000 ms, 33.3 ms frames

  // Both videos open, both stopped at their start, Best's window open beside Main.
  void OpenBoth() {
    Open(Main(), MainClip());
    Open(Best(), BestClip());
    for (TKestromForm* w : {Main(), Best()}) w->ResetSpeedButton->click();
    Main()->BestSpeedButton2->click();
    ASSERT_TRUE(Best()->isVisible());
  }
  // A coach's seek by the scroll bar.
  static void SeekTo(TKestromForm* w, int positionMs) {
    w->ScrollBar1->setValue(positionMs);
    w->ScrollBarTimerTimer();
  }

  // The frame number the window's picture shows now, read from its pixels.
  static int ShownFrame(TKestromForm* w) {
    const QRect pic(w->PicLeft, w->PicTop, w->PicRight - w->PicLeft, w->PicBottom - w->PicTop);
    return tools::ReadFrameCode(w->WindowCanvas.Image().copy(pic));
  }
  // The frame a position shows, as the player rounds it, within the clip.
  static int FrameAt(TKestromForm* w, int64_t positionMs) {
    return static_cast<int>(
        std::min<int64_t>(core::Nearest(positionMs / w->FrameDuration), w->LengthFrames - 1));
  }
};

// ---- layouts ------------------------------------------------------------------------------------

TEST_F(PairWindowTest, LayoutButtonsPlaceBothWindowsAndKeepThePictures) {
  OpenBoth();
  SeekTo(Main(), 1200);  // frame 30
  SeekTo(Best(), 1000);  // frame 30 at 30 fps
  const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
  ASSERT_EQ(screen, QSize(1280, 1024));

  const struct {
    QToolButton* TKestromForm::*button;
    int layout;
  } clicks[] = {
      {&TKestromForm::Vertical, playback::kVerticalLayout},
      {&TKestromForm::Horizontal, playback::kHorizontalLayout},
      {&TKestromForm::SplitScreenButton, playback::kSplitScreenLayout},
      {&TKestromForm::Vertical, playback::kVerticalLayout},
  };
  for (const auto& c : clicks) {
    SCOPED_TRACE(c.layout);
    (Main()->*c.button)->click();
    QCoreApplication::processEvents();  // whatever the window system reports back
    const playback::PairBounds expected = playback::LayoutBounds(c.layout, screen);
    for (TKestromForm* w : {Main(), Best()}) {
      EXPECT_TRUE(w->isVisible());
      EXPECT_EQ(w->Layout, c.layout);  // an arrangement is no resize by the coach
      EXPECT_FALSE(w->SizeMoveTimer->isActive());
      // Outer bounds as the layout gives them; the client area is what is left inside the frame.
      EXPECT_EQ(w->Bounds(), w == Main() ? *expected.main : *expected.best);
      EXPECT_EQ(w->AreaWidth, w->width() - 16);
      EXPECT_EQ(w->AreaHeight, w->height() - 120);
      // The picture is centred in the new area and still shows the same frame.
      EXPECT_EQ(w->PicLeft, core::Nearest((w->AreaWidth - 320) / 2.0));
      EXPECT_EQ(ShownFrame(w), 30);
    }
  }
  EXPECT_EQ(Main()->BestSpeedButton->isChecked(), true);
  EXPECT_TRUE(Best()->BestSpeedButton2->isHidden());

  // Teaching hides Best and gives Main the whole screen, once the coach agrees.
  dialogs.dialogs.Push(ui::mrYes);
  Main()->Teaching->click();
  QCoreApplication::processEvents();
  EXPECT_FALSE(Best()->isVisible());
  EXPECT_EQ(Main()->Layout, playback::kTeachingLayout);
  EXPECT_EQ(Main()->Bounds(), QRect(0, 0, 1278, 996));
  EXPECT_FALSE(Main()->BestSpeedButton->isChecked());
  EXPECT_EQ(ShownFrame(Main()), 30);
  const auto* asked = std::get_if<ui::MessageRequest>(&dialogs.dialogs.Asked().back());
  ASSERT_NE(asked, nullptr);
  EXPECT_EQ(asked->buttons, ui::mbYes | ui::mbNo);
  EXPECT_EQ(asked->position, Main()->Bounds().topLeft() + QPoint(64, 86));
}

// In every layout on a 1280x1024 screen each button of each tab and of the playback panel lies
// inside its window or is offered from its row's overflow button; the frame number and the
// position bar are always wholly in the window, with nothing over the frame number.
TEST_F(PairWindowTest, EveryControlIsInItsWindowOrOfferedByItsRowInEachLayout) {
  OpenBoth();
  QToolButton* TKestromForm::* const layouts[] = {&TKestromForm::Vertical, &TKestromForm::Horizontal,
                                                  &TKestromForm::SplitScreenButton};
  for (QToolButton* TKestromForm::*layout : layouts) {
    (Main()->*layout)->click();
    QCoreApplication::processEvents();
    for (TKestromForm* w : {Main(), Best()}) {
      SCOPED_TRACE(testing::Message() << (w == Main() ? "Main" : "Best") << " in layout " << w->Layout);
      const QRect client = w->rect();
      auto inWindow = [w](QWidget* c) { return QRect(c->mapTo(w, QPoint()), c->size()); };
      auto checkRow = [&](QWidget* row) {
        const auto* overflow = row->findChild<ui::RowOverflow*>();
        ASSERT_NE(overflow, nullptr) << row->objectName().toStdString();
        const QList<QAbstractButton*> offered = overflow->Overflowing();
        for (QAbstractButton* b : row->findChildren<QAbstractButton*>()) {
          if (!b->isVisibleTo(w)) continue;
          EXPECT_TRUE(client.contains(inWindow(b)) || offered.contains(b)) << b->objectName().toStdString();
        }
        if (!offered.isEmpty()) {
          EXPECT_TRUE(client.contains(inWindow(overflow->Chevron())));
        }
      };
      for (int i = 0; i < w->FileControls->count(); ++i) {
        if (!w->FileControls->isTabVisible(i)) continue;
        w->FileControls->setCurrentIndex(i);
        checkRow(w->FileControls->widget(i));
      }
      w->FileControls->setCurrentIndex(0);
      checkRow(w->Panel4);
      // Nothing of the panel that a coach needs lies under the picture's vertical scroll bar.
      const QRect vert = inWindow(w->VertScrollBar);
      const QList<QAbstractButton*> offered = w->Panel4->findChild<ui::RowOverflow*>()->Overflowing();
      for (QWidget* c : w->Panel4->findChildren<QWidget*>()) {
        if (c->isVisibleTo(w) && c != static_cast<QWidget*>(w->MediaPlayerBar1) && !offered.contains(qobject_cast<QAbstractButton*>(c))) {
          EXPECT_FALSE(inWindow(c).intersects(vert)) << c->objectName().toStdString();
        }
      }
      EXPECT_TRUE(client.contains(inWindow(w->Test)));
      EXPECT_TRUE(client.contains(inWindow(w->ScrollBar1)));
      EXPECT_GE(w->ScrollBar1->width(), playback::kNarrowestPositionBar);
      for (QWidget* other : w->Panel4->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (other != w->Test && other->isVisibleTo(w)) {
          EXPECT_FALSE(other->geometry().intersects(w->Test->geometry())) << other->objectName().toStdString();
        }
      }
    }
  }

  // Vertical: Best's slower speeds are cut off its row; the overflow button plays them.
  Main()->Vertical->click();
  QCoreApplication::processEvents();
  const auto* overflow = Best()->MainSheet->findChild<ui::RowOverflow*>();
  ASSERT_TRUE(overflow->Overflowing().contains(Best()->Slow8BitBtn));
  int clicks = 0;
  QObject::connect(Best()->Slow8BitBtn, &QToolButton::clicked, [&clicks] { ++clicks; });
  QMenu menu;
  overflow->FillMenu(menu);
  for (QAction* entry : menu.actions())
    if (entry->text() == "Slow*8") entry->trigger();
  EXPECT_EQ(clicks, 1);
}

TEST_F(PairWindowTest, TeachingRefusedLeavesBothWindowsAndBestStaysPaused) {
  OpenBoth();
  Main()->Vertical->click();
  Best()->PlayBitBtn->click();
  clock.Advance(400);
  Best()->Timer1Timer();
  const QRect mainBounds = Main()->Bounds(), bestBounds = Best()->Bounds();

  dialogs.dialogs.Push(ui::mrNo);
  Main()->Teaching->click();
  EXPECT_TRUE(Best()->isVisible());
  EXPECT_EQ(Main()->Bounds(), mainBounds);
  EXPECT_EQ(Best()->Bounds(), bestBounds);
  EXPECT_FALSE(Best()->Timer1->isActive());
  EXPECT_EQ(ShownFrame(Best()), 12);

  // Neither a later box nor a resize of Best starts its clock again behind the coach's back.
  dialogs.dialogs.Push(ui::mrOk);
  Best()->MessageDlgPaused("Look", ui::MsgDlgType::mtInformation, ui::mbOK);
  Best()->ResumePlayback();
  EXPECT_FALSE(Best()->Timer1->isActive());
  // The coach carries on where it stopped.
  Best()->PauseSpeedButton2->click();
  EXPECT_TRUE(Best()->Timer1->isActive());
  clock.Advance(100);
  Best()->Timer1Timer();
  EXPECT_EQ(ShownFrame(Best()), 15);
}

TEST_F(PairWindowTest, TeachingAcceptedForgetsBestsPendingResume) {
  OpenBoth();
  Best()->PlayBitBtn->click();
  dialogs.dialogs.Push(ui::mrYes);
  Main()->Teaching->click();
  EXPECT_FALSE(Best()->isVisible());
  Best()->ResumePlayback();
  EXPECT_FALSE(Best()->Timer1->isActive());
}

TEST_F(PairWindowTest, LayoutsAreRefusedWhileBlending) {
  OpenBoth();
  Main()->Vertical->click();
  const QRect mainBounds = Main()->Bounds();
  // However the window tells that it blends, neither layout may resize it.
  Best()->Blending = true;
  Best()->BackgroundFormInUse = true;
  for (QToolButton* button : {Main()->Horizontal, Main()->SplitScreenButton}) {
    dialogs.dialogs.Push(ui::mrOk);
    button->click();
    EXPECT_EQ(Main()->Layout, playback::kVerticalLayout);
    EXPECT_EQ(Main()->Bounds(), mainBounds);
  }
  ASSERT_FALSE(dialogs.dialogs.MessageTexts().isEmpty());
  EXPECT_EQ(dialogs.dialogs.MessageTexts().back(),
            "Sorry but it is not possible to re-size Kestrom when using the Blend function");
  Best()->Blending = false;
  Best()->BackgroundFormInUse = false;
}

// ---- opening Best -------------------------------------------------------------------------------

TEST_F(PairWindowTest, OpeningAnEmptyBestStartsItAfresh) {
  Best()->StatusBar1->SetPanelText(1, "left over");
  Main()->BestSpeedButton2->click();
  EXPECT_TRUE(Best()->isVisible());
  EXPECT_TRUE(Main()->BestSpeedButton->isChecked());
  EXPECT_EQ(Best()->windowTitle(), "Best");
  EXPECT_EQ(Best()->StatusBar1->PanelText(3), "Best");
  EXPECT_EQ(Best()->StatusBar1->PanelText(1), " ");
  EXPECT_EQ(Best()->StatusBar1->PanelText(6), "Sync Off");
  EXPECT_FALSE(Best()->SyncSpeedButton->isHidden());
  EXPECT_EQ(Best()->SyncSpeedButton->pos(), QPoint(464, 4));
  EXPECT_TRUE(Best()->Teaching->isHidden());
  EXPECT_TRUE(Best()->FlipButton->isHidden());
  EXPECT_FALSE(Best()->CalibratedGrid1->isEnabled());
  EXPECT_FALSE(Best()->RefreshVideo->isActive());
}

TEST_F(PairWindowTest, OpeningBestWithAVideoRedrawsItOnce) {
  Open(Best(), BestClip());
  SeekTo(Best(), 1000);
  Main()->BestSpeedButton2->click();
  ASSERT_TRUE(Best()->RefreshVideo->isActive());
  EXPECT_EQ(Best()->RefreshVideo->interval(), 200);
  EXPECT_TRUE(Best()->RefreshVideo->isSingleShot());
  Best()->WindowCanvas.Image().fill(Qt::black);  // as a window system may leave it
  Best()->RefreshVideoTimer();
  EXPECT_FALSE(Best()->RefreshVideo->isActive());
  EXPECT_EQ(ShownFrame(Best()), 30);
  EXPECT_EQ(Best()->windowTitle(), Best()->VideoName);
}

// ---- synchronisation ----------------------------------------------------------------------------

TEST_F(PairWindowTest, BestStartedAheadStaysAheadDuringSynchronisedPlay) {
  OpenBoth();
  SeekTo(Best(), 2000);
  Best()->SyncSpeedButton->click();
  ASSERT_TRUE(Best()->SyncSpeedButton->isChecked());
  EXPECT_TRUE(Main()->DrivesPair);
  EXPECT_TRUE(Best()->Follower);
  EXPECT_EQ(Main()->SyncOffset, 2000);
  EXPECT_EQ(Best()->StatusBar1->PanelText(6), "Sync On");
  for (QWidget* hidden : std::initializer_list<QWidget*>{Best()->ScrollBar1, Best()->PlayBitBtn2,
                                                         Best()->SpeedButton2, Best()->ResetSpeedButton3})
    EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();

  // Best's own play, pause, rewind and loop are Main's now.
  Best()->PlayBitBtn->click();
  Best()->ResetSpeedButton->click();
  EXPECT_FALSE(Best()->Timer1->isActive());
  EXPECT_EQ(ShownFrame(Best()), 60);

  Main()->PlayBitBtn->click();
  int ticks = 0;
  while (Main()->Timer1->isActive() && ticks < 200) {
    clock.Advance(40 + (ticks % 3) * 11);  // late ticks skip frames in both windows alike
    Main()->Timer1Timer();
    ++ticks;
    const int64_t mainAt = Main()->MediaPlayer1->Position();
    ASSERT_EQ(ShownFrame(Main()), FrameAt(Main(), mainAt));
    ASSERT_EQ(ShownFrame(Best()), FrameAt(Best(), mainAt + 2000)) << "Main at " << mainAt;
    ASSERT_EQ(Best()->Test->text().toInt(), core::Nearest((mainAt + 2000) / Best()->FrameDuration));
  }
  EXPECT_GT(ticks, 50);
  EXPECT_FALSE(Main()->Timer1->isActive());

  // A seek and a rewind of Main take Best along.
  SeekTo(Main(), 1000);
  EXPECT_EQ(ShownFrame(Best()), 90);
  Main()->ResetSpeedButton->click();
  EXPECT_EQ(ShownFrame(Main()), 0);
  EXPECT_EQ(ShownFrame(Best()), 60);
}

TEST_F(PairWindowTest, BestBehindMainWaitsAtItsFirstFrame) {
  OpenBoth();
  SeekTo(Main(), 1000);
  Best()->PlayBitBtn->click();  // from its start; its own clock must not fight Main's
  Best()->SyncSpeedButton->click();
  ASSERT_EQ(Main()->SyncOffset, -1000);
  EXPECT_FALSE(Best()->Timer1->isActive());

  const struct {
    int mainAt, bestFrame;
  } seeks[] = {{500, 0}, {0, 0}, {1000, 0}, {1520, 16}, {3000, 60}};
  for (const auto& s : seeks) {
    SeekTo(Main(), s.mainAt);
    EXPECT_EQ(ShownFrame(Best()), s.bestFrame) << "Main at " << s.mainAt;
    EXPECT_EQ(Best()->Test->text().toInt(), s.bestFrame) << "Main at " << s.mainAt;
  }

  // Switched off, Best is the coach's again, its scroll bar where its clip stands.
  Best()->SyncSpeedButton->click();
  EXPECT_FALSE(Main()->DrivesPair);
  EXPECT_FALSE(Best()->Follower);
  EXPECT_EQ(Best()->StatusBar1->PanelText(6), "Sync Off");
  EXPECT_FALSE(Best()->ScrollBar1->isHidden());
  EXPECT_EQ(Best()->ScrollBar1->value(), 2000);
  EXPECT_FALSE(Best()->ScrollBarTimer->isActive());
  SeekTo(Main(), 0);
  EXPECT_EQ(ShownFrame(Best()), 60);
}

TEST_F(PairWindowTest, SyncWithOneVideoReleasesTheButton) {
  Open(Best(), BestClip());
  Best()->ResetSpeedButton->click();
  Main()->BestSpeedButton2->click();
  Best()->SyncSpeedButton->click();
  EXPECT_FALSE(Best()->SyncSpeedButton->isChecked());
  EXPECT_FALSE(Main()->DrivesPair);
  EXPECT_EQ(Best()->StatusBar1->PanelText(6), "Sync Off");
  EXPECT_FALSE(Best()->PlayBitBtn2->isHidden());
  // Best plays on its own: a button left down would refuse it.
  Best()->PlayBitBtn->click();
  EXPECT_TRUE(Best()->Timer1->isActive());
}

TEST_F(PairWindowTest, OpeningAVideoSwitchesSynchronisationOff) {
  OpenBoth();
  Best()->SyncSpeedButton->click();
  ASSERT_TRUE(Main()->DrivesPair);
  Open(Best(), Clip("other.avi", 50));
  EXPECT_FALSE(Main()->DrivesPair);
  EXPECT_FALSE(Best()->Follower);
  EXPECT_FALSE(Best()->SyncSpeedButton->isChecked());
  EXPECT_EQ(Best()->StatusBar1->PanelText(6), "Sync Off");
  EXPECT_FALSE(Best()->ScrollBar1->isHidden());
}

TEST_F(PairWindowTest, TeachingSwitchesSynchronisationOff) {
  OpenBoth();
  Best()->SyncSpeedButton->click();
  ASSERT_TRUE(Main()->DrivesPair);
  dialogs.dialogs.Push(ui::mrYes);
  Main()->Teaching->click();
  EXPECT_FALSE(Main()->DrivesPair);
  EXPECT_FALSE(Best()->SyncSpeedButton->isChecked());
  EXPECT_EQ(Best()->StatusBar1->PanelText(6), "Sync Off");
}

// ---- companion windows --------------------------------------------------------------------------

TEST_F(PairWindowTest, CompanionWindowsFollowAMovedWindow) {
  OpenBoth();
  Main()->Vertical->click();
  auto* background = window::Forms().BackgroundForm1;
  ASSERT_NE(background, nullptr);
  background->show();
  const QPoint bestAt = Best()->Bounds().topLeft();

  // Neither follows unless it is in use.
  Main()->move(40, 30);
  Main()->WMMoving();
  EXPECT_EQ(Best()->Bounds().topLeft(), bestAt);
  EXPECT_NE(background->pos(), QPoint(40, 30));

  Main()->BackgroundFormInUse = true;
  Main()->Blending = true;
  Main()->OverlayOn = true;  // Best follows only the overlay
  Main()->move(60, 50);
  Main()->WMMoving();
  EXPECT_EQ(background->pos(), QPoint(60, 50));
  EXPECT_EQ(Best()->Bounds().topLeft(), QPoint(60, 50));
  EXPECT_EQ(Best()->Bounds().size(), QSize(504, 721));
  Main()->BackgroundFormInUse = false;
  Main()->Blending = false;
  Main()->OverlayOn = false;
}

TEST_F(PairWindowTest, AClickOnOneWindowEndsAFigureLeftHalfMadeInTheOther) {
  OpenBoth();
  Best()->Drawing->Tools().ToolButton(drawing::Tool::Line, true);
  const QPoint inside(Best()->PicLeft + 20, Best()->PicTop + 20);
  Mouse(Best(), QEvent::MouseButtonPress, inside);  // released over Main, never over Best
  ASSERT_TRUE(Best()->Drawing->Tools().Pressed());

  const QPoint onMain(Main()->PicLeft + 10, Main()->PicTop + 10);
  Mouse(Main(), QEvent::MouseButtonPress, onMain);
  Mouse(Main(), QEvent::MouseButtonRelease, onMain);
  EXPECT_FALSE(Best()->Drawing->Tools().Pressed());
}

// ---- memo pad -----------------------------------------------------------------------------------

TEST_F(PairWindowTest, OpeningAVideoGivesTheMemoPadItsName) {
  Main()->MemoSpeedButton->click();  // no video: nothing to write about
  EXPECT_FALSE(Main()->MemoPad->isVisible());

  Open(Main(), MainClip());
  Open(Best(), BestClip());
  for (TKestromForm* w : {Main(), Best()}) {
    EXPECT_EQ(w->MemoPad->Title, w->VideoName);
    EXPECT_EQ(w->MemoPad->MemoFile, w->VideoName + ".txt");
    EXPECT_EQ(w->MemoPad->MemoFontFile, w->VideoName + ".font");
  }
  // The coach's comments on this video come back beside it.
  QFile memo(Main()->VideoName + ".txt");
  ASSERT_TRUE(memo.open(QIODevice::WriteOnly));
  memo.write("Good knee drive\r\n");
  memo.close();
  Main()->MemoSpeedButton->click();
  EXPECT_TRUE(Main()->MemoPad->isVisible());
  EXPECT_EQ(Main()->MemoPad->Edit1->text(), Main()->VideoName);
  EXPECT_EQ(Main()->MemoPad->MemoLines(), QStringList{"Good knee drive"});
  EXPECT_EQ(Main()->MemoPad->pos(), Main()->Bounds().topLeft() + QPoint(64, 86));
  Main()->MemoPad->hide();
}

}  // namespace
}  // namespace kestrom::test
