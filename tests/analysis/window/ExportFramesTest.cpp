// The frame steps of a running export: each seek saves the frame as shown for the outside export
// program; a drag holds the export and Pause/Continue goes on from the frame shown.
#include "WindowClipFixture.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/Palettes.h"
#include "platform/core/Bmp.h"
#include "platform/core/Paths.h"
#include "tools/FrameCode.h"

#include <QDir>
#include <QFileInfo>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

namespace kestrom::window {
namespace {

class ExportFrames : public test::WindowClipFixture {
 protected:
  // The open clip is 20 frames of 40 ms; the export runs from here on.
  void SetUp() override {
    WindowClipFixture::SetUp();
    Open(Main(), Clip("export.avi", 20));
    Main()->Exporting = true;
    Main()->ExportAVITimerTag = 0;
  }
  // The seek that follows a scroll-bar move, run at once instead of after its timer.
  void SeekTo(int64_t frame) {
    Main()->ScrollBar1->setValue(static_cast<int>(frame * 40));
    ASSERT_TRUE(Main()->ScrollBarTimer->isActive());
    Main()->ScrollBarTimerTimer();
  }
  static QString SampleFile(int64_t frame) {
    return core::JoinPath(shell::Globals().WorkingFolder, QString("\\Temp\\Sample%1.bmp").arg(frame + 100));
  }
  QImage ShownPicture() const {
    const TKestromForm* w = Main();
    return w->WindowCanvas.Image().copy(w->PicLeft, w->PicTop, w->FrameWidth, w->FrameHeight);
  }
};

TEST_F(ExportFrames, SeekSavesTheFrameAsShownAndArmsTheNextStep) {
  TKestromForm* w = Main();
  w->Drawings.AddShape({annotation::ShapeKind::Rectangle, 20, 120, 200, 220});  // drawn over the frame
  SeekTo(5);
  QString error;
  const QImage saved = core::ReadBmpFile(SampleFile(5), &error);
  ASSERT_FALSE(saved.isNull()) << error.toStdString();
  const QImage frame = saved.copy(0, 0, 320, 240);
  EXPECT_EQ(tools::ReadFrameCode(frame), 5);
  EXPECT_EQ(frame, ShownPicture().convertToFormat(frame.format()));
  EXPECT_TRUE(w->ExportAVITimer->isActive());

  // A drag holds the export; the frames shown on the way are still saved.
  w->ExportAVITimer->stop();
  w->ExportAVITimer->start();
  w->ScrollBar1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_FALSE(w->ExportAVITimer->isActive());
  EXPECT_EQ(w->ExportAVITimerTag, 1);
  ASSERT_TRUE(w->ScrollBarTimer->isActive());
  w->ScrollBarTimerTimer();
  EXPECT_EQ(tools::ReadFrameCode(core::ReadBmpFile(SampleFile(6)).copy(0, 0, 320, 240)), 6);
  EXPECT_FALSE(w->ExportAVITimer->isActive());

  // Continue: on from the frame shown, with the capture tab in front.
  w->FileControls->setCurrentWidget(w->MainSheet);
  w->PauseSpeedButton2->click();
  EXPECT_EQ(w->ExportAVITimerTag, 0);
  EXPECT_EQ(w->ExportFrameIndex, 6);
  EXPECT_EQ(w->FileControls->currentWidget(), w->CaptureStyleSheet);
  EXPECT_TRUE(w->ExportAVITimer->isActive());
  EXPECT_FALSE(w->Timer1->isActive());  // the playback clock stays out of it
  w->PauseSpeedButton2->click();  // and pause again
  EXPECT_FALSE(w->ExportAVITimer->isActive());
  EXPECT_TRUE(w->Exporting);
}

TEST_F(ExportFrames, PlayAtHalfSpeedLetsTheSeekArmTheExportAgain) {
  TKestromForm* w = Main();
  w->ExportAVITimerTag = 1;
  dialogs.dialogs.Push(ui::mrOk);  // the export's warning refuses the play itself
  w->Slow2BitBtn->click();
  EXPECT_EQ(w->ExportAVITimerTag, 0);
  EXPECT_FALSE(w->Timer1->isActive());
  SeekTo(3);
  EXPECT_TRUE(w->ExportAVITimer->isActive());
}

TEST_F(ExportFrames, TwoFramesBeforeTheEndTheExportEndsAndTheWindowRewinds) {
  TKestromForm* w = Main();
  SeekTo(17);
  EXPECT_TRUE(QFileInfo::exists(SampleFile(17)));
  dialogs.dialogs.Push(ui::mrNo);  // the video is not made this time
  SeekTo(18);
  EXPECT_FALSE(QFileInfo::exists(SampleFile(18)));
  EXPECT_FALSE(w->Exporting);
  EXPECT_EQ(w->ScrollBar1->value(), 0);
  EXPECT_EQ(w->Test->text(), "0");
  EXPECT_TRUE(w->CreateExportAVIButton->isEnabled());
  EXPECT_FALSE(w->CancelAVIExportButton->isEnabled());
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith("All the individual frames required"));
}

TEST_F(ExportFrames, FrameThatCannotBeSavedStopsTheExportWithAMessage) {
  TKestromForm* w = Main();
  // A file where the Temp folder should be: no frame can go there.
  const QString temp = core::JoinPath(shell::Globals().WorkingFolder, "\\Temp");
  ASSERT_TRUE(QDir(temp).removeRecursively());
  QFile blocker(temp);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  dialogs.dialogs.Push(ui::mrOk);
  SeekTo(4);
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith("The frame picture " + SampleFile(4)));
  EXPECT_FALSE(w->Exporting);
  EXPECT_FALSE(w->ExportAVITimer->isActive());
}

TEST_F(ExportFrames, PaletteBroughtToTheFrontHoldsTheExport) {
  TKestromForm* w = Main();
  w->Timer1->start();
  w->ExportAVITimer->start();
  Best()->ShapesControlForm->FormActivate();  // any palette, for MainWindow's export
  EXPECT_FALSE(w->Timer1->isActive());
  EXPECT_FALSE(w->ExportAVITimer->isActive());

  w->Exporting = false;
  w->Timer1->start();
  w->MarkerForm->FormActivate();
  EXPECT_TRUE(w->Timer1->isActive());
  w->Timer1->stop();
}

}  // namespace
}  // namespace kestrom::window
