#include "platform/core/Bmp.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <limits>

namespace kestrom::core {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
// Larger files are not pictures this system makes or reads; refusing them early keeps a damaged
// name list from making the program read gigabytes.
constexpr qint64 kMaxFileSize = qint64(1) << 30;

uint16_t U16(const uchar* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uchar* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
int32_t S32(const uchar* p) { return static_cast<int32_t>(U32(p)); }

void Put16(uchar* p, uint16_t v) {
  p[0] = uchar(v);
  p[1] = uchar(v >> 8);
}
void Put32(uchar* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uchar(v >> (8 * i));
}

QImage Fail(QString* error, const QString& why) {
  if (error) *error = why;
  return QImage();
}

}  // namespace

namespace {

// File and info headers of a bottom-up file; the pixels start after the given extra bytes.
void PutHeaders(uchar* p, int64_t total, int64_t extra, int64_t width, int64_t height, int bitCount,
                uint32_t compression, int64_t pixelBytes, uint32_t coloursUsed, int dpmX, int dpmY) {
  p[0] = 'B';
  p[1] = 'M';
  Put32(p + 2, uint32_t(total));
  Put32(p + 10, uint32_t(kFileHeaderSize + kInfoHeaderSize + extra));
  uchar* info = p + kFileHeaderSize;
  Put32(info + 0, kInfoHeaderSize);
  Put32(info + 4, uint32_t(width));
  Put32(info + 8, uint32_t(height));  // positive: bottom-up rows
  Put16(info + 12, 1);
  Put16(info + 14, uint16_t(bitCount));
  Put32(info + 16, compression);
  Put32(info + 20, uint32_t(pixelBytes));
  Put32(info + 24, uint32_t(std::max(0, dpmX)));
  Put32(info + 28, uint32_t(std::max(0, dpmY)));
  Put32(info + 32, coloursUsed);
}

}  // namespace

QByteArray EncodeBmp(const FrameBits& frame) {
  if (!frame.Valid()) return QByteArray();
  const int bitCount = BitCountOf(frame.Format);
  const int64_t width = frame.Width, height = frame.AbsHeight();
  const int64_t rowBytes = width * frame.BytesPerPixel();
  const int64_t stride = (rowBytes + 3) & ~int64_t(3);
  const int64_t pixelBytes = stride * height;
  // 5-6-5 needs its masks; 8 bits its colour table.
  const int64_t extra = frame.Format == FramePixels::Rgb565 ? 12
                        : frame.Format == FramePixels::Rgb8 ? int64_t(frame.PaletteSize) * 4
                                                            : 0;
  const int64_t total = kFileHeaderSize + kInfoHeaderSize + extra + pixelBytes;
  if (total > std::numeric_limits<int32_t>::max()) return QByteArray();

  QByteArray out(static_cast<qsizetype>(total), '\0');
  auto* p = reinterpret_cast<uchar*>(out.data());
  const uint32_t compression = frame.Format == FramePixels::Rgb565 ? kBiBitfields : kBiRgb;
  const uint32_t coloursUsed = frame.Format == FramePixels::Rgb8 ? uint32_t(frame.PaletteSize) : 0;
  PutHeaders(p, total, extra, width, height, bitCount, compression, pixelBytes, coloursUsed, 0, 0);
  uchar* table = p + kFileHeaderSize + kInfoHeaderSize;
  if (frame.Format == FramePixels::Rgb565) {
    Put32(table, 0xF800);
    Put32(table + 4, 0x07E0);
    Put32(table + 8, 0x001F);
  } else if (frame.Format == FramePixels::Rgb8) {
    for (int i = 0; i < frame.PaletteSize; ++i) Put32(table + 4 * i, frame.Palette[i] & 0x00FFFFFFu);
  }
  uchar* pixels = table + extra;
  for (int64_t y = 0; y < height; ++y)
    std::memcpy(pixels + (height - 1 - y) * stride, frame.Row(int(y)), size_t(rowBytes));
  return out;
}

WriteResult WriteBmpFile(const QString& path, const FrameBits& frame) {
  if (!frame.Valid()) return WriteResult{false, QStringLiteral("Cannot write %1: there is no picture").arg(path)};
  const QByteArray bytes = EncodeBmp(frame);
  if (bytes.isEmpty())
    return WriteResult{false, QStringLiteral("Cannot write %1: the picture is too large for a BMP file").arg(path)};
  return WriteFileAtomic(path, bytes);
}

QByteArray Bmp24Header(int width, int height, int dotsPerMeterX, int dotsPerMeterY) {
  const int64_t stride = (int64_t(width) * 3 + 3) & ~int64_t(3);
  const int64_t pixelBytes = stride * height;
  const int64_t total = kFileHeaderSize + kInfoHeaderSize + pixelBytes;
  if (width <= 0 || height <= 0 || total > std::numeric_limits<int32_t>::max()) return QByteArray();
  QByteArray header(kFileHeaderSize + kInfoHeaderSize, '\0');
  PutHeaders(reinterpret_cast<uchar*>(header.data()), total, 0, width, height, 24, kBiRgb, pixelBytes, 0,
             dotsPerMeterX, dotsPerMeterY);
  return header;
}

QByteArray EncodeBmp(const QImage& image) {
  if (image.isNull()) return QByteArray();
  const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
  const int64_t width = bgr.width();
  const int64_t height = bgr.height();
  const int64_t stride = (width * 3 + 3) & ~int64_t(3);
  const int64_t pixelBytes = stride * height;
  const int64_t total = kFileHeaderSize + kInfoHeaderSize + pixelBytes;
  if (bgr.isNull() || total > std::numeric_limits<int32_t>::max()) return QByteArray();

  QByteArray out(static_cast<qsizetype>(total), '\0');
  auto* p = reinterpret_cast<uchar*>(out.data());
  PutHeaders(p, total, 0, width, height, 24, kBiRgb, pixelBytes, 0, image.dotsPerMeterX(), image.dotsPerMeterY());
  uchar* pixels = p + kFileHeaderSize + kInfoHeaderSize;
  for (int64_t y = 0; y < height; ++y)
    std::memcpy(pixels + (height - 1 - y) * stride, bgr.constScanLine(int(y)), size_t(width * 3));
  return out;
}

WriteResult WriteBmpFile(const QString& path, const QImage& image) {
  if (image.isNull()) return WriteResult{false, QStringLiteral("Cannot write %1: there is no picture").arg(path)};
  const QByteArray bytes = EncodeBmp(image);
  if (bytes.isEmpty())
    return WriteResult{false, QStringLiteral("Cannot write %1: the picture is too large for a BMP file").arg(path)};
  return WriteFileAtomic(path, bytes);
}

QImage DecodeBmp(const QByteArray& bytes, QString* error) {
  const int64_t size = bytes.size();
  const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
  if (size < kFileHeaderSize + 4 || p[0] != 'B' || p[1] != 'M') return Fail(error, QStringLiteral("not a BMP file"));
  const uint32_t infoSize = U32(p + kFileHeaderSize);
  // The plain info header and its longer successors share the first 40 bytes.
  if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124)
    return Fail(error, QStringLiteral("unsupported BMP header (size %1)").arg(infoSize));
  if (kFileHeaderSize + int64_t(infoSize) > size) return Fail(error, QStringLiteral("truncated BMP header"));

  const uchar* info = p + kFileHeaderSize;
  const int64_t width = S32(info + 4);
  const int64_t rawHeight = S32(info + 8);
  const int bitCount = U16(info + 14);
  const uint32_t compression = U32(info + 16);
  const int64_t pixelOffset = U32(p + 10);
  if (width <= 0 || rawHeight == 0) return Fail(error, QStringLiteral("BMP file with an empty picture"));
  const bool topDown = rawHeight < 0;
  const int64_t height = topDown ? -rawHeight : rawHeight;
  if (width > 65535 || height > 65535)
    return Fail(error, QStringLiteral("BMP picture too large (%1 x %2)").arg(width).arg(height));
  if (bitCount != 24 && bitCount != 32)
    return Fail(error, QStringLiteral("unsupported BMP depth: %1 bits per pixel").arg(bitCount));

  int64_t headerEnd = kFileHeaderSize + infoSize;
  if (compression == kBiBitfields && bitCount == 32) {
    // The masks follow a plain header and sit inside a longer one, at the same place.
    headerEnd = std::max<int64_t>(headerEnd, kFileHeaderSize + kInfoHeaderSize + 12);
    if (headerEnd > size) return Fail(error, QStringLiteral("truncated BMP header"));
    const uchar* masks = p + kFileHeaderSize + kInfoHeaderSize;
    if (U32(masks) != 0x00FF0000 || U32(masks + 4) != 0x0000FF00 || U32(masks + 8) != 0x000000FF)
      return Fail(error, QStringLiteral("unsupported BMP colour masks"));
  } else if (compression != kBiRgb) {
    return Fail(error, QStringLiteral("unsupported BMP compression %1").arg(compression));
  }
  if (pixelOffset < headerEnd || pixelOffset > size)
    return Fail(error, QStringLiteral("BMP pixel offset %1 outside the file").arg(pixelOffset));

  const int bytesPerPixel = bitCount / 8;
  const int64_t stride = ((width * bitCount + 31) / 32) * 4;
  // Some writers leave out the padding of the last row; everything else must be there.
  const int64_t needed = stride * (height - 1) + width * bytesPerPixel;
  if (pixelOffset + needed > size)
    return Fail(error, QStringLiteral("truncated BMP file: %1 x %2 pixels need %3 bytes, %4 present")
                           .arg(width).arg(height).arg(needed).arg(size - pixelOffset));

  QImage image(int(width), int(height), QImage::Format_RGB32);
  if (image.isNull()) return Fail(error, QStringLiteral("not enough memory for a %1 x %2 picture").arg(width).arg(height));
  const uchar* pixels = p + pixelOffset;
  for (int64_t y = 0; y < height; ++y) {
    const uchar* src = pixels + (topDown ? y : height - 1 - y) * stride;
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
    for (int64_t x = 0; x < width; ++x, src += bytesPerPixel) dst[x] = qRgb(src[2], src[1], src[0]);
  }
  const int32_t dpmX = S32(info + 24);
  const int32_t dpmY = S32(info + 28);
  if (dpmX > 0 && dpmY > 0) {
    image.setDotsPerMeterX(dpmX);
    image.setDotsPerMeterY(dpmY);
  }
  return image;
}

QImage ReadBmpFile(const QString& path, QString* error) {
  QFile file(path);
  if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
    return Fail(error, QStringLiteral("Cannot read %1: %2").arg(path, QFileInfo(path).isDir() ? QStringLiteral("it is a folder") : file.errorString()));
  if (file.size() > kMaxFileSize) return Fail(error, QStringLiteral("Cannot read %1: file too large").arg(path));
  const QByteArray bytes = file.readAll();
  QString why;
  QImage image = DecodeBmp(bytes, &why);
  if (image.isNull()) return Fail(error, QStringLiteral("Cannot read %1: %2").arg(path, why));
  return image;
}

}  // namespace kestrom::core
