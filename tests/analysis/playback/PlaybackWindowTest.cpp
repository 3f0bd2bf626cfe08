// The analysis window with its real media player on generated clips whose pixels carry their
// frame numbers: opening, zoom and scrolling, and the playback clock on a hand-driven clock.
#include "StartUpFixture.h"
#include "analysis/playback/ViewGeometry.h"
#include "analysis/window/KestromForm.h"
#include "platform/core/Clock.h"
#include "platform/core/Format.h"
#include "platform/media/MediaPlayer.h"
#include "tools/ClipWriter.h"
#include "tools/FrameCode.h"

#include <QAction>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace kestrom::test {
namespace {

using window::TKestromForm;

// The clips are written once for the whole test program.
QString ClipPath(const QString& name, QSize size, int frames, int rateNum = 25, int rateDen = 1) {
  static QTemporaryDir dir;
  const QString path = dir.filePath(name);
  if (!QFile::exists(path)) {
    tools::ClipSpec clipSpec;
    clipSpec.path = path;
    clipSpec.codec = "mjpeg";
    clipSpec.size = size;
    clipSpec.frames = frames;
    clipSpec.rateNum = rateNum;
    clipSpec.rateDen = rateDen;
    QString error;
    EXPECT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
  }
  return path;
}

class PlaybackWindowTest : public StartUpFixture {
 protected:
  void SetUp() override {
    core::SetSystemClock(&clock);
    StartUpFixture::SetUp();
    Main()->StartTimerTimer();
  }
  void TearDown() override {
    StartUpFixture::TearDown();
    core::SetSystemClock(nullptr);
  }

  // Opens a file through the open button as the coach does.
  void Open(TKestromForm* w, const QString& path) {
    dialogs.dialogs.Push(path);
    w->SpeedButton1->click();
  }

  // The frame number the window's picture shows now, read from its pixels.
  static int ShownFrame(TKestromForm* w) {
    const QRect pic(w->PicLeft, w->PicTop, w->PicRight - w->PicLeft, w->PicBottom - w->PicTop);
    return tools::ReadFrameCode(w->WindowCanvas.Image().copy(pic));
  }

  core::ManualClock clock{1'000'000};
};

TEST_F(PlaybackWindowTest, OpeningMeasuresTheClipAndPlaysItAtHalfSpeed) {
  const QString path = ClipPath("clip.avi", {320, 240}, 50);
  Open(Main(), path);
  TKestromForm* w = Main();
  ASSERT_TRUE(w->VideoOpen);
  EXPECT_EQ(w->windowTitle(), path.left(path.size() - 4));
  EXPECT_EQ(w->FrameWidth, 320);
  EXPECT_EQ(w->FrameHeight, 240);
  EXPECT_EQ(w->LengthFrames, 50);
  EXPECT_EQ(w->LengthMs, 2000);
  EXPECT_DOUBLE_EQ(w->FrameDuration, 40.0);
  EXPECT_EQ(w->FramesPerSecond, 25);
  EXPECT_EQ(w->StatusBar1->PanelText(4), " 25 fps");
  EXPECT_EQ(w->StatusBar1->PanelText(2), "Zoom  1.0");
  EXPECT_EQ(w->ScrollBar1->maximum(), 1920);
  EXPECT_EQ(w->ScrollBar1->singleStep(), 40);
  EXPECT_EQ(w->ScrollBar1->pageStep(), 400);
  EXPECT_EQ(w->CompanionFiles.MarkersFile, w->VideoName + ".mrk");
  EXPECT_TRUE(w->Timer1->isActive());
  EXPECT_EQ(w->Timer1->interval(), 80);
  EXPECT_TRUE(w->Z10->isChecked());
  EXPECT_EQ(w->MailVideoFile, path);
}

TEST_F(PlaybackWindowTest, OpeningBringsBackTheMarkersButNotTheDrawings) {
  const QString path = ClipPath("marked.avi", {320, 240}, 50);
  const QString base = path.left(path.size() - 4);
  QFile markers(base + ".mrk");
  ASSERT_TRUE(markers.open(QIODevice::WriteOnly));
  markers.write("   -1  480   -1   -1   -1   -1   -1   -1\r\n");
  markers.close();
  QFile shapes(base + ".shp");
  ASSERT_TRUE(shapes.open(QIODevice::WriteOnly));
  shapes.write("  2    10    10    50    50          255    1     16777215    2\r\n");
  shapes.close();

  Open(Main(), path);
  TKestromForm* w = Main();
  ASSERT_TRUE(w->VideoOpen);
  EXPECT_EQ(w->Drawings.Marker(2), 480);
  EXPECT_EQ(w->Markers->findChild<QToolButton*>("Std2")->text(), "12");
  EXPECT_EQ(w->Markers->findChild<QToolButton*>("Std1")->text(), "1");
  EXPECT_TRUE(w->Drawings.Shapes().empty());
}

TEST_F(PlaybackWindowTest, EachTickShowsTheFrameAskedFor) {
  Open(Main(), ClipPath("clip.avi", {320, 240}, 50));
  TKestromForm* w = Main();
  for (QToolButton* speed : {w->PlayBitBtn, w->Slow4BitBtn}) {
    speed->click();
    const int interval = w->Timer1->interval();
    int ticks = 0;
    while (w->Timer1->isActive() && ticks < 200) {
      clock.Advance(interval + (ticks % 3) * 17);  // late ticks skip frames
      w->Timer1Timer();
      ++ticks;
      const int64_t asked = w->Playback->PlayPosition;
      const int expected = static_cast<int>(std::min<int64_t>(core::Nearest(asked / 40.0), 49));
      ASSERT_EQ(ShownFrame(w), expected) << "at " << asked << " ms";
      ASSERT_EQ(w->Test->text().toInt(), core::Nearest(asked / 40.0));
    }
    EXPECT_FALSE(w->Timer1->isActive());
    EXPECT_GE(w->Playback->PlayPosition, 1920);
  }
}

TEST_F(PlaybackWindowTest, ScrollingSeeksButTheClocksOwnMovesDoNot) {
  Open(Main(), ClipPath("clip.avi", {320, 240}, 50));
  TKestromForm* w = Main();
  clock.Advance(800);
  w->Timer1Timer();  // half speed: 400 ms, frame 10
  EXPECT_EQ(ShownFrame(w), 10);
  EXPECT_FALSE(w->ScrollBarTimer->isActive());

  w->PauseSpeedButton2->click();
  EXPECT_FALSE(w->Timer1->isActive());
  w->ScrollBar1->setValue(1000);
  EXPECT_TRUE(w->ScrollBarTimer->isActive());
  w->ScrollBarTimerTimer();
  EXPECT_EQ(ShownFrame(w), 25);
  EXPECT_EQ(w->Test->text(), "25");

  // Continue plays on from there.
  w->PauseSpeedButton2->click();
  clock.Advance(80);
  w->Timer1Timer();
  EXPECT_EQ(ShownFrame(w), 26);

  w->ResetSpeedButton->click();
  EXPECT_FALSE(w->Timer1->isActive());
  EXPECT_EQ(ShownFrame(w), 0);
  EXPECT_EQ(w->Test->text(), "0");
}

TEST_F(PlaybackWindowTest, ABadFileLeavesTheOpenVideoAndSaysWhy) {
  const QString good = ClipPath("clip.avi", {320, 240}, 50);
  Open(Main(), good);
  TKestromForm* w = Main();
  w->PlayBitBtn->click();
  clock.Advance(400);
  w->Timer1Timer();
  w->PauseSpeedButton2->click();
  const QString title = w->windowTitle();

  QTemporaryDir dir;
  const QString bad = dir.filePath("broken.avi");
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(4000, 'x'));
  f.close();
  const QString tiny = dir.filePath("tiny.avi");
  QFile t(tiny);
  ASSERT_TRUE(t.open(QIODevice::WriteOnly));
  t.write(QByteArray(199, 'x'));
  t.close();

  for (const QString& path : {bad, tiny}) {
    dialogs.dialogs.Push(path);
    dialogs.dialogs.Push(ui::mrOk);
    if (path == tiny) dialogs.dialogs.Push(ui::mrOk);
    w->SpeedButton1->click();
    EXPECT_TRUE(w->VideoOpen);
    EXPECT_EQ(w->VideoFileName, good);
    EXPECT_EQ(w->MediaPlayer1->FileName(), good);
    EXPECT_EQ(w->windowTitle(), title);
    EXPECT_EQ(w->LengthFrames, 50);
    EXPECT_EQ(ShownFrame(w), 10);
  }
  const QStringList texts = dialogs.dialogs.MessageTexts();
  ASSERT_EQ(texts.size(), 3);
  EXPECT_TRUE(texts[0].contains(bad));
  EXPECT_EQ(texts[1], "Error : Incorrect video file format");
  EXPECT_EQ(texts[2], tiny);
}

TEST_F(PlaybackWindowTest, TheOtherWindowsFileIsRefused) {
  const QString path = ClipPath("clip.avi", {320, 240}, 50);
  Open(Main(), path);
  dialogs.dialogs.Push(path);
  dialogs.dialogs.Push(ui::mrOk);
  Best()->SpeedButton1->click();
  EXPECT_FALSE(Best()->VideoOpen);
  EXPECT_EQ(Best()->MediaPlayer1->FileName(), "");
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith("You have selected the same video file name."));
}

TEST_F(PlaybackWindowTest, ZoomPlacesAndScrollsThePicture) {
  Open(Main(), ClipPath("clip.avi", {320, 240}, 50));
  TKestromForm* w = Main();
  w->StopPlayback();
  const QRect normal(w->PicLeft, w->PicTop, w->PicRight - w->PicLeft, w->PicBottom - w->PicTop);
  EXPECT_EQ(normal.size(), QSize(320, 240));
  EXPECT_EQ(ShownFrame(w), 0);

  w->Z30->trigger();
  EXPECT_EQ(w->ZoomStep, 30);
  EXPECT_TRUE(w->Z30->isChecked());
  EXPECT_EQ(w->StatusBar1->PanelText(2), "Zoom  3.0");
  EXPECT_EQ(w->PicRight - w->PicLeft, 960);
  EXPECT_EQ(ShownFrame(w), 0);
  w->ZoomInButton->click();
  EXPECT_EQ(w->ZoomStep, 30);

  // Drive the window small enough that the zoomed picture overflows, then scroll to the end.
  w->resize(700, 500);
  w->WMExitSizeMove();
  ASSERT_TRUE(w->HorzScrollBar->isEnabled());
  w->HorzScrollBar->setValue(playback::kPictureScrollUnits);
  EXPECT_EQ(w->PicRight, w->AreaWidth);
  EXPECT_EQ(w->ShowX(0), w->PicLeft);
  EXPECT_NEAR(w->ScreenToVideoX(w->PicRight), 320.0, 0.5);

  w->Z05->trigger();
  EXPECT_EQ(w->ZoomStep, 5);
  for (QAction* item : {w->Z30, w->Z25, w->Z20, w->Z15, w->N12NTSC1, w->Z10, w->Z05})
    EXPECT_FALSE(item->isChecked()) << item->objectName().toStdString();
  for (int i = 0; i < 10; ++i) w->ZoomOutButton->click();
  EXPECT_EQ(w->ZoomStep, 1);
}

// Records whether the clock ran while a box was up, and lets time pass meanwhile.
class TimingDialogs final : public ui::Dialogs {
 public:
  TKestromForm* window = nullptr;
  core::ManualClock* clock = nullptr;
  bool timerRanDuringBox = true;
  int MessageDlg(const ui::MessageRequest&, QWidget*) override {
    timerRanDuringBox = window->Timer1->isActive();
    clock->Advance(5000);
    return ui::mrOk;
  }
  std::optional<QString> OpenFile(const ui::FileRequest&, QWidget*) override { return {}; }
  std::optional<QString> SaveFile(const ui::FileRequest&, QWidget*) override { return {}; }
  std::optional<QString> ChooseFolder(const QString&, const QString&, QWidget*) override { return {}; }
  std::optional<ui::FontChoice> ChooseFont(const ui::FontChoice&, QWidget*) override { return {}; }
  std::optional<core::TColor> ChooseColor(core::TColor, QWidget*) override { return {}; }
  std::optional<QString> InputQuery(const ui::InputRequest&, QWidget*) override { return {}; }
  std::optional<ui::PrintTarget> ChoosePrinter(QWidget*) override { return {}; }
};

TEST_F(PlaybackWindowTest, AMessageDuringPlayPausesAndResumes) {
  Open(Main(), ClipPath("clip.avi", {320, 240}, 50));
  TKestromForm* w = Main();
  w->PlayBitBtn->click();
  clock.Advance(400);
  w->Timer1Timer();
  ASSERT_EQ(ShownFrame(w), 10);

  TimingDialogs timing;
  timing.window = w;
  timing.clock = &clock;
  ui::SetAppDialogs(&timing);
  w->MessageDlgPaused("Look", ui::MsgDlgType::mtInformation, ui::mbOK);
  ui::SetAppDialogs(&dialogs.dialogs);
  EXPECT_FALSE(timing.timerRanDuringBox);
  EXPECT_TRUE(w->Timer1->isActive());
  clock.Advance(40);
  w->Timer1Timer();
  EXPECT_EQ(ShownFrame(w), 11);
}

}  // namespace
}  // namespace kestrom::test
