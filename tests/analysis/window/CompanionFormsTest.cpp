#include "StartUpFixture.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/Sheets.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {
namespace {

using shell::Globals;

class AnalysisCompanionForms : public test::StartUpFixture {
 protected:
  void SetUp() override {
    StartUpFixture::SetUp();
    Main()->StartTimer->stop();  // these tests look at the forms before the start-up runs
  }
};

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(AnalysisCompanionForms, HintBoxesWriteAndDeleteTheirMarkerFiles) {
  struct Case {
    THintForm* form;
    QString file;
    QByteArray line;
  };
  const Case cases[] = {
      {Main()->NTSCHint, Globals().NTSCHintFile, " Kestrom NTSC Video Hint\r\n"},
      {Forms().BackgroundHint, Globals().BackgroundHintFile, " Kestrom Background Hint\r\n"},
  };
  for (const Case& c : cases) {
    QCheckBox* box = c.form->CheckBox1;
    ASSERT_FALSE(QFileInfo::exists(c.file));
    box->click();  // ticked: written
    EXPECT_EQ(ReadAll(c.file), c.line);
    box->click();  // cleared: deleted
    EXPECT_FALSE(QFileInfo::exists(c.file));
    box->click();  // cleared when absent does nothing; tick again over a file someone else wrote
    box->click();
    QFile other(c.file);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("kept");
    other.close();
    box->click();
    EXPECT_EQ(ReadAll(c.file), QByteArray("kept"));
    box->click();
    EXPECT_FALSE(QFileInfo::exists(c.file));
  }
}

TEST_F(AnalysisCompanionForms, OverlayChooserAppliesDualLayoutAtTheNextTick) {
  TOverlayInformationForm* chooser = Forms().OverlayInformationForm;
  chooser->Timer1Timer();  // the tick after creation: no choice, the timer only stops
  EXPECT_FALSE(chooser->Timer1->isActive());
  EXPECT_EQ(Main()->Layout, 0);

  chooser->findChild<QPushButton*>("SplitScreenButton")->click();
  EXPECT_TRUE(chooser->Timer1->isActive());
  EXPECT_EQ(chooser->Timer1->interval(), 1000);
  EXPECT_EQ(Main()->Layout, 0);
  chooser->Timer1Timer();
  EXPECT_EQ(chooser->result(), 9);
  EXPECT_EQ(Main()->Layout, 4);
  EXPECT_EQ(Best()->Layout, 4);
  EXPECT_EQ(Main()->Bounds(), QRect(0, 0, 638, 996));
  EXPECT_EQ(Best()->Bounds(), QRect(640, 0, 638, 996));
  EXPECT_TRUE(Best()->isVisible());
  EXPECT_EQ(Best()->windowTitle(), "Best");
}

TEST_F(AnalysisCompanionForms, LayoutChooserActsOnTheActiveWindow) {
  Forms().ActiveWindowNumber = 1;
  TInformationForm* chooser = Forms().InformationForm;
  chooser->VertButton->click();
  EXPECT_EQ(chooser->result(), 9);
  EXPECT_EQ(Main()->Layout, 1);
  EXPECT_EQ(Main()->Bounds(), QRect(0, 0, 504, 721));
}

TEST_F(AnalysisCompanionForms, MirrorCaptureGivesCapture1ItsPicture) {
  TFlipForm* mirror = Forms().FlipForm;
  EXPECT_EQ(mirror->size(), QSize(525, 257));
  EXPECT_EQ(mirror->MirrorBitmap.pixelColor(10, 10), QColor(0, 128, 128));
  mirror->SpeedButton8->click();
  TCapture1* capture = Forms().Capture1;
  EXPECT_EQ(capture->ClientSize(), QSize(525, 247));
  EXPECT_TRUE(capture->isVisible());
  EXPECT_EQ(capture->Image1->pixmap().size(), QSize(525, 257));
}

TEST_F(AnalysisCompanionForms, SheetsStartEmptyWithTheirCaptions) {
  const struct {
    TComparisonSheet* sheet;
    int pictures;
    QSize client;
  } sheets[] = {{Forms().V_Capture_4, 4, {531, 631}},   {Forms().H_Capture_9, 9, {912, 345}},
                {Forms().V_Capture_18_L, 18, {1042, 640}}};
  for (const auto& s : sheets) {
    EXPECT_EQ(s.sheet->windowTitle(), QString("Multi Capture x %1").arg(s.pictures));
    EXPECT_EQ(s.sheet->ClientSize(), s.client);
    EXPECT_EQ(s.sheet->Slots.size(), s.pictures);
    EXPECT_EQ(s.sheet->PictureCount, 0);
    EXPECT_FALSE(s.sheet->isVisible());
  }
}

}  // namespace
}  // namespace kestrom::window
