#include "platform/ui/Printing.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <memory>

namespace kestrom::ui {

namespace {

std::unique_ptr<QPrinter> PrinterFor(const PrintTarget& target, const QString& documentName) {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  if (!target.pdfFile.isEmpty()) {
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(target.pdfFile);
  } else if (!target.printerName.isEmpty()) {
    printer->setPrinterName(target.printerName);
  }
  printer->setCopyCount(std::max(1, target.copies));
  printer->setPageOrientation(target.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  printer->setDocName(documentName);
  return printer;
}

QString NoPrinter(const PrintTarget& target) {
  return target.pdfFile.isEmpty()
             ? QStringLiteral("The printer \"%1\" cannot be used").arg(target.printerName)
             : QStringLiteral("Cannot write the file %1").arg(target.pdfFile);
}

}  // namespace

QString PrintPicture(const QImage& picture, const PrintTarget& target, const QString& documentName) {
  if (picture.isNull()) return QStringLiteral("There is no picture to print");
  auto printer = PrinterFor(target, documentName);
  QPainter painter;
  if (!printer->isValid() || !painter.begin(printer.get())) return NoPrinter(target);
  const QRect page = painter.viewport();
  const double scale = printer->resolution() / 96.0;
  QSizeF size(picture.width() * scale, picture.height() * scale);
  if (size.width() > page.width() || size.height() > page.height()) size.scale(page.size(), Qt::KeepAspectRatio);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter.drawImage(QRectF(QPointF(0, 0), size), picture);
  if (!painter.end()) return NoPrinter(target);
  return {};
}

QString PrintTextLines(const QStringList& lines, const FontChoice& font, const PrintTarget& target,
                       const QString& documentName) {
  auto printer = PrinterFor(target, documentName);
  QPainter painter;
  if (!printer->isValid() || !painter.begin(printer.get())) return NoPrinter(target);
  // Point sizes on paper: the font is set in points at the printer's resolution.
  QFont printed = ToQFont(font);
  printed.setPointSize(std::max(1, font.size));
  painter.setFont(printed);
  painter.setPen(core::ToQColor(font.color));
  const QFontMetrics metrics(printed, printer.get());
  const int lineHeight = std::max(1, metrics.lineSpacing());
  const int pageHeight = painter.viewport().height();
  int y = 0;
  for (const QString& line : lines) {
    if (y + lineHeight > pageHeight && y > 0) {
      if (!printer->newPage()) return NoPrinter(target);
      y = 0;
    }
    painter.drawText(0, y + metrics.ascent(), line);
    y += lineHeight;
  }
  if (!painter.end()) return NoPrinter(target);
  return {};
}

}  // namespace kestrom::ui
