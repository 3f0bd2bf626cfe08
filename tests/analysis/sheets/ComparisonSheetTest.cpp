// The sheet table, the grid sheets' slots, and what the sheets write: JPEG, clipboard, PDF.
#include "analysis/sheets/ComparisonSheet.h"
#include "analysis/sheets/SheetTable.h"
#include "platform/jpeg/Jpeg.h"
#include "platform/ui/Dialogs.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace kestrom::sheets {
namespace {

using K = SheetKind;

QImage Filled(QSize size, QColor colour) {
  QImage picture(size, QImage::Format_RGB32);
  picture.fill(colour);
  return picture;
}

TEST(SheetTable, StyleAndLayoutReachTheirSheetOrNone) {
  const struct {
    int style, layout;
    std::optional<K> sheet;
  } cases[] = {
      {4, 1, K::V_Capture_4},     {4, 2, K::H_Capture_4},     {41, 1, K::V_Capture_4_L},
      {6, 1, K::V_Capture_6},     {6, 2, K::H_Capture_6},     {61, 1, K::V_Capture_6_L},
      {9, 1, K::V_Capture_9},     {9, 2, K::H_Capture_9},     {12, 1, K::V_Capture_12},
      {12, 2, K::H_Capture_12},   {121, 1, K::V_Capture_12_L}, {181, 1, K::V_Capture_18_L},
      // Landscape styles have no horizontal sheet; full screen and split screen have none.
      {41, 2, std::nullopt},      {181, 2, std::nullopt},     {4, 3, std::nullopt},
      {6, 4, std::nullopt},       {12, 0, std::nullopt},
      // The single picture is no sheet; unknown styles reach nothing.
      {1, 1, std::nullopt},       {18, 1, std::nullopt},      {0, 2, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SheetFor(c.style, c.layout), c.sheet) << "style " << c.style << " layout " << c.layout;
}

TEST(SheetTable, EverySheetHasItsClassGridAndClientArea) {
  for (int i = 0; i < kSheetKindCount; ++i) {
    const auto kind = static_cast<SheetKind>(i);
    const SheetGeometry& g = GeometryOf(kind);
    std::unique_ptr<TComparisonSheet> sheet(CreateSheet(kind));
    SCOPED_TRACE(g.name.toStdString());
    EXPECT_EQ(QString(sheet->metaObject()->className()), "kestrom::sheets::T" + g.name);
    EXPECT_EQ(sheet->windowTitle(), QString("Multi Capture x %1").arg(g.pictures));
    EXPECT_EQ(sheet->ClientSize(), g.client);
    ASSERT_EQ(sheet->Slots.size(), g.pictures);
    EXPECT_EQ(g.columns.size() * g.rows.size(), g.pictures);
    // Row-major: slot 2 beside slot 1, the last slot at the last column and row, inside the client.
    EXPECT_EQ(sheet->Slots[0]->geometry(), QRect(QPoint(g.columns[0], g.rows[0]), g.slot));
    if (g.columns.size() > 1) {
      EXPECT_EQ(sheet->Slots[1]->pos(), QPoint(g.columns[1], g.rows[0]));
    }
    const QRect last = sheet->Slots.back()->geometry();
    EXPECT_EQ(last.topLeft(), QPoint(g.columns.back(), g.rows.back()));
    EXPECT_TRUE(QRect(QPoint(0, 0), g.client).contains(last));
    EXPECT_EQ(sheet->NumberLabels.back()->text(), QString::number(g.pictures));
    EXPECT_EQ(sheet->NumberLabels.back()->x(), last.left() + 4);
    EXPECT_EQ(sheet->PictureCount, 0);
    EXPECT_FALSE(sheet->isVisible());
  }
}

TEST(ComparisonSheet, FivePicturesIntoFourSlotsThenUndoAndRefill) {
  TV_Capture_4 sheet;
  const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta};
  for (int i = 0; i < 5; ++i) sheet.AddImage(Filled({504, 400}, colours[i]), QString::number(10 + i));
  EXPECT_TRUE(sheet.isVisible());
  EXPECT_EQ(sheet.PictureCount, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(sheet.Pictures[i].pixelColor(5, 5), colours[i]);
    EXPECT_EQ(sheet.CaptionLabels[i]->text(), QString::number(10 + i));
  }

  sheet.UndoLastImage1->trigger();
  EXPECT_EQ(sheet.PictureCount, 3);
  EXPECT_TRUE(sheet.Pictures[3].isNull());
  EXPECT_TRUE(sheet.CaptionLabels[3]->text().isEmpty());
  EXPECT_EQ(sheet.Pictures[2].pixelColor(5, 5), colours[2]);

  sheet.AddImage(Filled({504, 400}, Qt::cyan), "99");
  EXPECT_EQ(sheet.PictureCount, 4);
  EXPECT_EQ(sheet.Pictures[3].pixelColor(5, 5), QColor(Qt::cyan));
  EXPECT_EQ(sheet.CaptionLabels[3]->text(), "99");

  sheet.Clear1->trigger();
  EXPECT_EQ(sheet.PictureCount, 0);
  sheet.RemoveLastImage();  // nothing to undo on an empty sheet
  EXPECT_EQ(sheet.PictureCount, 0);
}

TEST(ComparisonSheet, UndoBlanksTheWholeSlotWhateverThePictureSize) {
  TV_Capture_4 sheet;
  sheet.AddImage(Filled({1262, 800}, Qt::red), "1");  // larger than the blank rectangle
  const QRect slot = sheet.Slots[0]->geometry();
  const QPoint lowerRight = slot.bottomRight() - QPoint(20, 30);  // inside, clear of the labels
  EXPECT_EQ(sheet.ClientImage().pixelColor(lowerRight), QColor(Qt::red));
  sheet.RemoveLastImage();
  const QImage shown = sheet.ClientImage();
  EXPECT_EQ(shown.pixelColor(lowerRight), QColor(Qt::white));
  EXPECT_EQ(shown.pixelColor(slot.center()), QColor(Qt::white));
  EXPECT_EQ(shown.pixelColor(slot.topLeft()), QColor(Qt::black));  // the blank's outline
}

class SheetOutput : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return QDir(folder.path()).filePath(name); }
  QTemporaryDir folder;
  ui::ScopedScriptedDialogs scripted;
};

TEST_F(SheetOutput, EverySheetSavesItsClientImageAsJpegAndCloses) {
  for (int i = 0; i < kSheetKindCount; ++i) {
    std::unique_ptr<TComparisonSheet> sheet(CreateSheet(static_cast<SheetKind>(i)));
    SCOPED_TRACE(sheet->objectName().toStdString());
    sheet->AddImage(Filled({488, 601}, Qt::darkGreen), "3");
    const QString file = Path(sheet->objectName());  // no extension: the dialog's "jpg" is added
    scripted.dialogs.Push(file);
    sheet->SaveasJPEG1->trigger();
    const QImage written = jpeg::DecompressFile(file + ".jpg");
    EXPECT_EQ(written.size(), sheet->ClientSize());
    const QColor inSlot = written.pixelColor(sheet->Slots[0]->geometry().center());
    EXPECT_NEAR(inSlot.green(), QColor(Qt::darkGreen).green(), 12);
    EXPECT_LT(inSlot.red(), 16);
    sheet->Close2->trigger();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->PictureCount, 1);  // pictures stay while hidden
  }
  const auto& asked = scripted.dialogs.Asked();
  ASSERT_FALSE(asked.empty());
  const auto& request = std::get<ui::FileRequest>(asked.front());
  EXPECT_EQ(request.filter, "JPEG|*.jpg");
  EXPECT_EQ(request.defaultExt, "jpg");
}

TEST_F(SheetOutput, CancelledSaveWritesNothingAndAWriteErrorIsShown) {
  TH_Capture_9 sheet;
  scripted.dialogs.Push(std::monostate{});
  sheet.SaveasJPEG1Click();
  EXPECT_TRUE(QDir(folder.path()).isEmpty());

  scripted.dialogs.Push(Path("missing/sheet.jpg"));
  scripted.dialogs.Push(ui::mrOk);
  sheet.SaveasJPEG1Click();
  ASSERT_EQ(scripted.dialogs.MessageTexts().size(), 1);
  EXPECT_FALSE(QFileInfo::exists(Path("missing/sheet.jpg")));
}

TEST_F(SheetOutput, SixPictureSheetSavesOnAClickOnItsFirstPicture) {
  TV_Capture_6 sheet;
  scripted.dialogs.Push(Path("six.jpg"));
  sheet.Image1Click();
  EXPECT_EQ(jpeg::DecompressFile(Path("six.jpg")).size(), QSize(784, 638));
}

TEST_F(SheetOutput, ClipboardTakesTheClientImage) {
  TH_Capture_12 sheet;
  sheet.AddImage(Filled({300, 200}, Qt::blue), "7");
  sheet.CopytoClipboard1->trigger();
  const QImage copied = QGuiApplication::clipboard()->image();
  EXPECT_EQ(copied.size(), QSize(912, 435));
  EXPECT_EQ(copied.pixelColor(sheet.Slots[0]->geometry().center()), QColor(Qt::blue));
}

TEST_F(SheetOutput, PrintToFileMakesAOnePagePdf) {
  TV_Capture_18_L sheet;
  for (int i = 0; i < 18; ++i) sheet.AddImage(Filled({488, 601}, QColor::fromHsv(i * 20, 200, 200)), "");
  ui::PrintTarget target;
  target.pdfFile = Path("sheet.pdf");
  scripted.dialogs.Push(target);
  sheet.Print1->trigger();
  ASSERT_TRUE(QFileInfo(target.pdfFile).size() > 0);

  QProcess render;
  render.start("pdftoppm", {"-r", "20", "-png", target.pdfFile, Path("page")});
  ASSERT_TRUE(render.waitForFinished(30000));
  ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
  const QStringList pages = QDir(folder.path()).entryList({"page*.png"});
  ASSERT_EQ(pages.size(), 1);
  // The page shows the sheet: somewhere on it, a slot's colour.
  const QImage page(QDir(folder.path()).filePath(pages.front()));
  bool coloured = false;
  for (int y = 0; y < page.height() && !coloured; y += 2)
    for (int x = 0; x < page.width() && !coloured; x += 2) coloured = page.pixelColor(x, y).saturation() > 100;
  EXPECT_TRUE(coloured);
}

TEST_F(SheetOutput, CancelledPrintDoesNothing) {
  TV_Capture_9 sheet;
  scripted.dialogs.Push(std::monostate{});
  sheet.Print1Click();
  EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

}  // namespace
}  // namespace kestrom::sheets
