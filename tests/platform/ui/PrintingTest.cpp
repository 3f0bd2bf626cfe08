#include "platform/ui/Printing.h"

#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::ui {

namespace {

// Renders page 1 of a PDF with the system's PDF renderer.
QImage RenderFirstPage(const QString& pdf, const QString& folder) {
  QProcess::execute("pdftoppm", {"-r", "48", "-f", "1", "-l", "1", "-png", pdf, folder + "/page"});
  for (const char* name : {"page-1.png", "page-01.png", "page-001.png"}) {
    QImage page(folder + "/" + QString::fromLatin1(name));
    if (!page.isNull()) return page;
  }
  return {};
}

int PageCount(const QString& pdf) {
  QProcess info;
  info.start("pdfinfo", {pdf});
  info.waitForFinished(30000);
  for (const QString& line : QString::fromLocal8Bit(info.readAllStandardOutput()).split('\n'))
    if (line.startsWith("Pages:")) return line.mid(6).trimmed().toInt();
  return -1;
}

}  // namespace

TEST(Printing, APictureKeepsItsSizeAtTheTopLeftOfThePage) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage sheet(480, 576, QImage::Format_RGB32);  // 5 x 6 inches at 96 per inch
  sheet.fill(Qt::white);
  QPainter(&sheet).fillRect(0, 0, 240, 288, Qt::red);
  PrintTarget target;
  target.pdfFile = dir.filePath("sheet.pdf");
  ASSERT_EQ(PrintPicture(sheet, target, "Multi Capture x 4"), "");

  const QImage page = RenderFirstPage(target.pdfFile, dir.path());
  ASSERT_FALSE(page.isNull());
  const double dpi = 48.0;
  // The red quarter spans 2.5 x 3 inches from the top left of the printable area.
  QPoint red(-1, -1);
  for (int y = 0; y < page.height() && red.x() < 0; ++y)
    for (int x = 0; x < page.width(); ++x)
      if (qRed(page.pixel(x, y)) > 200 && qGreen(page.pixel(x, y)) < 60) { red = {x, y}; break; }
  ASSERT_GE(red.x(), 0) << "no red on the page";
  int width = 0;
  while (red.x() + width < page.width() && qGreen(page.pixel(red.x() + width, red.y() + 5)) < 60) ++width;
  EXPECT_NEAR(width, 2.5 * dpi, 3);
  EXPECT_LT(red.x(), 1.0 * dpi) << "at the left margin";

  EXPECT_FALSE(PrintPicture(QImage(), target, "x").isEmpty());
  target.pdfFile = dir.filePath("no/such/folder/x.pdf");
  EXPECT_FALSE(PrintPicture(sheet, target, "x").isEmpty());
}

TEST(Printing, TextLinesRunOverAsManyPagesAsTheyNeed) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  PrintTarget target;
  target.pdfFile = dir.filePath("memo.pdf");
  QStringList lines;
  for (int i = 0; i < 150; ++i) lines << QStringLiteral("  Line %1 of the session notes").arg(i);
  ASSERT_EQ(PrintTextLines(lines, FontChoice{"DejaVu Sans", 12}, target, "Memo"), "");
  EXPECT_GE(PageCount(target.pdfFile), 2);
  ASSERT_EQ(PrintTextLines(lines.mid(0, 3), FontChoice{"DejaVu Sans", 12}, target, "Memo"), "");
  EXPECT_EQ(PageCount(target.pdfFile), 1);
}

}  // namespace kestrom::ui
