// The analysis window's side of the sheets: the style menu, taking pictures from the window's
// canvas into the chosen sheet or TCapture1, and the refusal while an export runs.
#include "StartUpFixture.h"
#include "common/startup/GlobalPaths.h"
#include "analysis/window/HintForms.h"
#include "analysis/window/Sheets.h"
#include "platform/core/TextFile.h"
#include "platform/jpeg/Jpeg.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

namespace kestrom::window {
namespace {

class WindowSheets : public test::StartUpFixture {
 protected:
  void SetUp() override {
    StartUpFixture::SetUp();
    Main()->StartTimer->stop();
  }

  // A window with a video open, in a layout, with a picture area of the given size whose canvas
  // holds a frame (blue) and a drawing (a red square at the area's top left corner).
  void Prepare(TKestromForm* w, int layout, QSize area) {
    w->ArrangeWindows(layout);
    w->VideoOpen = true;
    w->AreaWidth = area.width();
    w->AreaHeight = area.height();
    w->WindowCanvas.Image() = QImage(area.width() + 16, area.height() + 120, QImage::Format_RGB32);
    w->WindowCanvas.Image().fill(Qt::darkGray);  // the menu panel's strip must not be copied
    QPainter painter(&w->WindowCanvas.Image());
    painter.fillRect(QRect(0, w->MenuPanelHeight, area.width(), area.height()), Qt::blue);
    painter.fillRect(QRect(0, w->MenuPanelHeight, 10, 10), Qt::red);
  }

  QList<QAction*> CheckedItems(TKestromForm* w) {
    QList<QAction*> checked;
    for (QAction* a : w->PopupMenu2->actions())
      if (a->isChecked()) checked << a;
    return checked;
  }

  QTemporaryDir folder;
};

TEST_F(WindowSheets, ItemsChooseTheSheetOfTheLayout) {
  const struct {
    int layout;
    QAction* TKestromForm::*item;
    int style;
    TComparisonSheet* AppForms::*sheet;
  } cases[] = {
      {1, &TKestromForm::ImageCapturex4, 4, &AppForms::V_Capture_4},
      {2, &TKestromForm::ImageCapturex4, 4, &AppForms::H_Capture_4},
      {1, &TKestromForm::ImageCapturex4L1, 41, &AppForms::V_Capture_4_L},
      {2, &TKestromForm::ImageCaptureX6, 6, &AppForms::H_Capture_6},
      {1, &TKestromForm::ImageCapturex6L1, 61, &AppForms::V_Capture_6_L},
      {2, &TKestromForm::ImageCapturex9, 9, &AppForms::H_Capture_9},
      {1, &TKestromForm::ImageCaptureX12, 12, &AppForms::V_Capture_12},
      {1, &TKestromForm::ImageCapturex12L1, 121, &AppForms::V_Capture_12_L},
      {1, &TKestromForm::ImageCapturex18L1, 181, &AppForms::V_Capture_18_L},
  };
  EXPECT_EQ(CheckedItems(Main()), QList<QAction*>({Main()->ImageCaptureX1}));
  for (const auto& c : cases) {
    Main()->ArrangeWindows(c.layout);
    TComparisonSheet* sheet = Forms().*c.sheet;
    sheet->hide();
    (Main()->*c.item)->trigger();
    SCOPED_TRACE(sheet->objectName().toStdString());
    EXPECT_EQ(Main()->CaptureStyle, c.style);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(CheckedItems(Main()), QList<QAction*>({Main()->*c.item}));
  }
  EXPECT_TRUE(modalForms.isEmpty());
  Main()->ImageCaptureX1->trigger();
  EXPECT_EQ(Main()->CaptureStyle, 1);
  EXPECT_EQ(CheckedItems(Main()), QList<QAction*>({Main()->ImageCaptureX1}));
}

TEST_F(WindowSheets, SplitScreenAsksForALayoutFirst) {
  Main()->ArrangeWindows(4);
  Main()->ImageCapturex4->trigger();  // the chooser is closed without a choice
  EXPECT_EQ(modalForms, QStringList({"InformationForm"}));
  EXPECT_EQ(Main()->CaptureStyle, 1);
  EXPECT_FALSE(Forms().V_Capture_4->isVisible());
  EXPECT_TRUE(Main()->ImageCaptureX1->isChecked());

  // Landscape sheets offer only the vertical layout; choosing it shows the sheet.
  bool horizontalOffered = true;
  onModal = [&](QDialog&) {
    horizontalOffered = Forms().InformationForm->HorzButton->isVisibleTo(Forms().InformationForm);
    Forms().InformationForm->VertButton->click();
  };
  Main()->ImageCapturex12L1->trigger();
  EXPECT_FALSE(horizontalOffered);
  EXPECT_EQ(Forms().ActiveWindowNumber, 1);
  EXPECT_EQ(Main()->Layout, 1);
  EXPECT_EQ(Main()->CaptureStyle, 121);
  EXPECT_TRUE(Forms().V_Capture_12_L->isVisible());
}

TEST_F(WindowSheets, PicturesOfBothWindowsGoIntoOneSheetFromTheCanvas) {
  Prepare(Main(), 1, {488, 601});
  Prepare(Best(), 1, {488, 601});
  Main()->CaptureStyle = Best()->CaptureStyle = 4;
  Main()->Test->setText("12");
  Best()->Test->setText("40");
  Main()->CaptureSpeedButton->click();
  Best()->SpeedButton8->click();
  TComparisonSheet* sheet = Forms().V_Capture_4;
  ASSERT_EQ(sheet->PictureCount, 2);
  EXPECT_TRUE(sheet->isVisible());
  const QImage& first = sheet->Pictures[0];
  EXPECT_EQ(first.size(), QSize(488, 601));
  EXPECT_EQ(first.pixelColor(2, 2), QColor(Qt::red));     // the drawing
  EXPECT_EQ(first.pixelColor(100, 100), QColor(Qt::blue));  // the frame, not the menu strip
  EXPECT_EQ(sheet->CaptionLabels[0]->text(), "12");
  EXPECT_EQ(sheet->CaptionLabels[1]->text(), "40");

  // A layout the style has no sheet for takes no picture.
  Main()->ArrangeWindows(3);
  Main()->CaptureSpeedButtonClick();
  EXPECT_EQ(sheet->PictureCount, 2);
}

TEST_F(WindowSheets, SinglePictureSizesCapture1ToTheArea) {
  Prepare(Main(), 1, {504, 400});
  Main()->Test->setText("7");
  Main()->CaptureSpeedButtonClick();
  TCapture1* capture = Forms().Capture1;
  EXPECT_TRUE(capture->isVisible());
  EXPECT_EQ(capture->ClientSize(), QSize(504, 420));
  EXPECT_EQ(capture->CaptionLabel->pos(), QPoint(468, 380));
  EXPECT_EQ(capture->CaptionLabel->text(), "7");
  EXPECT_EQ(capture->Image1->pixmap().size(), QSize(504, 400));

  // "Save as JPEG" runs through MainWindow's save dialog and writes the client image.
  const QString file = QDir(folder.path()).filePath("single.jpg");
  dialogs.dialogs.Push(file);
  capture->SaveasJPEG1->trigger();
  EXPECT_EQ(jpeg::DecompressFile(file).size(), QSize(504, 420));
  EXPECT_EQ(std::get<ui::FileRequest>(dialogs.dialogs.Asked().back()).filter, "JPEG|*.jpg");
}

TEST_F(WindowSheets, NothingIsTakenWithoutAVideoOrWhileExporting) {
  Prepare(Main(), 1, {488, 601});
  Main()->CaptureStyle = 4;
  Main()->VideoOpen = false;
  Main()->CaptureSpeedButtonClick();
  EXPECT_EQ(Forms().V_Capture_4->PictureCount, 0);

  Main()->VideoOpen = true;
  QTimer* exportTimer = Main()->ExportAVITimer;
  exportTimer->start(1000);
  Main()->Exporting = true;
  dialogs.dialogs.Push(ui::mrOk);
  Main()->CaptureSpeedButtonClick();
  EXPECT_EQ(Forms().V_Capture_4->PictureCount, 0);
  EXPECT_FALSE(exportTimer->isActive());
  ASSERT_EQ(dialogs.dialogs.MessageTexts().size(), 1);
  EXPECT_TRUE(dialogs.dialogs.MessageTexts()[0].startsWith("Please do not use the normal video controls"));

  dialogs.dialogs.Push(ui::mrOk);
  Main()->CaptureMenuButtonClick();
  EXPECT_FALSE(Main()->PopupMenu2->isVisible());
  Main()->Exporting = false;
  EXPECT_FALSE(Main()->WarnExportRunning());
}

TEST_F(WindowSheets, NtscVideoShowsTheHintUntilItsMarkerExists) {
  Prepare(Main(), 1, {488, 601});
  Main()->FrameHeight = 480;
  Main()->CaptureMenuButtonClick();
  EXPECT_EQ(modalForms, QStringList({"ShowNTSCHint"}));
  EXPECT_TRUE(Main()->PopupMenu2->isVisible());
  Main()->PopupMenu2->hide();

  ASSERT_TRUE(core::WriteTextLines(shell::Globals().NTSCHintFile, {" Kestrom NTSC Video Hint"}));
  Main()->CaptureMenuButtonClick();
  EXPECT_EQ(modalForms.size(), 1);
  Main()->PopupMenu2->hide();
}

}  // namespace
}  // namespace kestrom::window
