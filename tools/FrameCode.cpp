#include "tools/FrameCode.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstring>

namespace kestrom::tools {
namespace {

constexpr int kBits = 12;
constexpr int kBlocks = kBits + 2;  // a white guard block first, a black one last

int BandHeight(int height) { return std::max(2, height / 8); }

bool BlockIsWhite(int value, int block) {
  if (block == 0) return true;
  if (block == kBlocks - 1) return false;
  const int bit = kBits - block;  // most significant bit first
  return (value >> bit) & 1;
}

}  // namespace

void PaintCodeBand(QImage& image, int value) {
  const int w = image.width();
  const int bandH = BandHeight(image.height());
  QPainter p(&image);
  p.setPen(Qt::NoPen);
  for (int b = 0; b < kBlocks; ++b) {
    const int x0 = b * w / kBlocks, x1 = (b + 1) * w / kBlocks;
    p.fillRect(x0, 0, x1 - x0, bandH, BlockIsWhite(value, b) ? Qt::white : Qt::black);
  }
}

void PaintCodedFrame(QImage& image, int value, int frameCount) {
  const int w = image.width(), h = image.height();
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, h);
  sky.setColorAt(0, QColor(70, 110, 150));
  sky.setColorAt(1, QColor(40, 90, 50));
  p.fillRect(image.rect(), sky);
  p.fillRect(0, h * 3 / 4, w, h / 4, QColor(60, 120, 60));

  // A runner crossing the picture once over the clip, legs and arms swinging with the stride.
  const double t = frameCount > 1 ? double(value) / (frameCount - 1) : 0.0;
  const double unit = h / 12.0;
  const double cx = w * (0.1 + 0.8 * t);
  const double hipY = h * 3 / 4 - 2.2 * unit;
  const double swing = std::sin(value * 0.6) * 0.9;
  QPen pen(QColor(230, 200, 60), std::max(2.0, unit * 0.35), Qt::SolidLine, Qt::RoundCap);
  p.setPen(pen);
  const QPointF hip(cx, hipY), neck(cx + unit * 0.3, hipY - 2.0 * unit);
  p.drawLine(hip, neck);
  p.drawLine(hip, hip + QPointF(std::sin(swing) * 1.2 * unit, 2.2 * unit));
  p.drawLine(hip, hip + QPointF(-std::sin(swing) * 1.2 * unit, 2.2 * unit));
  p.drawLine(neck, neck + QPointF(-std::sin(swing) * unit, 1.4 * unit));
  p.drawLine(neck, neck + QPointF(std::sin(swing) * unit, 1.4 * unit));
  p.setBrush(QColor(230, 200, 60));
  p.drawEllipse(neck + QPointF(0.1 * unit, -0.7 * unit), 0.5 * unit, 0.5 * unit);
  p.end();
  PaintCodeBand(image, value);
}

void PaintFieldCodedFrame(QImage& image, int topValue, int bottomValue) {
  QImage top(image.width(), image.height() / 2, QImage::Format_RGB32);
  QImage bottom(image.width(), image.height() / 2, QImage::Format_RGB32);
  PaintCodedFrame(top, topValue, kMaxFrameCode);
  PaintCodedFrame(bottom, bottomValue, kMaxFrameCode);
  for (int y = 0; y + 1 < image.height(); y += 2) {
    memcpy(image.scanLine(y), top.constScanLine(y / 2), size_t(image.width()) * 4);
    memcpy(image.scanLine(y + 1), bottom.constScanLine(y / 2), size_t(image.width()) * 4);
  }
}

int ReadFrameCode(const QImage& source) {
  if (source.isNull() || source.width() < kBlocks * 2) return -1;
  const QImage image = source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
                           ? source
                           : source.convertToFormat(QImage::Format_RGB32);
  const int w = image.width();
  const int bandH = BandHeight(image.height());
  const int y0 = bandH / 4, y1 = std::max(y0 + 1, bandH * 3 / 4);
  int value = 0;
  for (int b = 0; b < kBlocks; ++b) {
    const int bx0 = b * w / kBlocks, bx1 = (b + 1) * w / kBlocks;
    const int x0 = bx0 + (bx1 - bx0) / 3, x1 = std::max(x0 + 1, bx0 + (bx1 - bx0) * 2 / 3);
    long sum = 0, n = 0;
    for (int y = y0; y < y1; ++y) {
      const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
      for (int x = x0; x < x1; ++x, ++n) sum += qGray(line[x]);
    }
    const long mean = sum / n;
    bool white;
    if (mean > 150) white = true;
    else if (mean < 106) white = false;
    else return -1;
    if (b == 0 && !white) return -1;
    if (b == kBlocks - 1 && white) return -1;
    if (b > 0 && b < kBlocks - 1) value = (value << 1) | (white ? 1 : 0);
  }
  return value;
}

QImage FieldOf(const QImage& image, int parity) {
  QImage field(image.width(), image.height() / 2, QImage::Format_RGB32);
  const QImage src = image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < field.height(); ++y)
    memcpy(field.scanLine(y), src.constScanLine(2 * y + parity), size_t(image.width()) * 4);
  return field;
}

}  // namespace kestrom::tools
