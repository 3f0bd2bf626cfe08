#include "platform/core/Bmp.h"
#include "tests/platform/core/QtPrint.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace kestrom::core;

namespace {

// A picture whose every pixel differs, so a swapped row, column or channel shows.
QImage Pattern(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixel(x, y, qRgb(x * 40 + 1, y * 60 + 2, (x + y) * 20 + 3));
  return img;
}

uint32_t U32At(const QByteArray& b, int at) { return qFromLittleEndian<uint32_t>(b.constData() + at); }
int32_t S32At(const QByteArray& b, int at) { return qFromLittleEndian<int32_t>(b.constData() + at); }
void SetU32(QByteArray& b, int at, uint32_t v) { qToLittleEndian(v, b.data() + at); }
void SetU16(QByteArray& b, int at, uint16_t v) { qToLittleEndian(v, b.data() + at); }

// A BMP file built by hand: 32 or 24 bits, rows stored top-down or bottom-up.
QByteArray HandMade(const QImage& img, int bits, bool topDown, uint32_t compression = 0) {
  const int w = img.width(), h = img.height();
  const int stride = ((w * bits + 31) / 32) * 4;
  const int headers = 14 + 40 + (compression == 3 ? 12 : 0);
  QByteArray b(headers + stride * h, '\0');
  b[0] = 'B';
  b[1] = 'M';
  SetU32(b, 2, uint32_t(b.size()));
  SetU32(b, 10, uint32_t(headers));
  SetU32(b, 14, 40);
  SetU32(b, 18, uint32_t(w));
  SetU32(b, 22, uint32_t(topDown ? -h : h));
  SetU16(b, 26, 1);
  SetU16(b, 28, uint16_t(bits));
  SetU32(b, 30, compression);
  if (compression == 3) {
    SetU32(b, 54, 0x00FF0000);
    SetU32(b, 58, 0x0000FF00);
    SetU32(b, 62, 0x000000FF);
  }
  for (int y = 0; y < h; ++y) {
    char* row = b.data() + headers + (topDown ? y : h - 1 - y) * stride;
    for (int x = 0; x < w; ++x) {
      const QRgb c = img.pixel(x, y);
      row[x * (bits / 8) + 0] = char(qBlue(c));
      row[x * (bits / 8) + 1] = char(qGreen(c));
      row[x * (bits / 8) + 2] = char(qRed(c));
      if (bits == 32) row[x * 4 + 3] = char(0x7F);  // unused byte, often junk
    }
  }
  return b;
}

}  // namespace

TEST(Bmp, WritesA24BitBottomUpFileAndReadsItBack) {
  const QImage img = Pattern(3, 2);  // 9 bytes a row, padded to 12
  const QByteArray b = EncodeBmp(img);
  ASSERT_EQ(b.size(), 14 + 40 + 12 * 2);
  EXPECT_EQ(b.left(2), QByteArray("BM"));
  EXPECT_EQ(U32At(b, 2), uint32_t(b.size()));
  EXPECT_EQ(U32At(b, 10), 54u);
  EXPECT_EQ(U32At(b, 14), 40u);
  EXPECT_EQ(S32At(b, 18), 3);
  EXPECT_EQ(S32At(b, 22), 2) << "positive height: bottom-up";
  EXPECT_EQ(qFromLittleEndian<uint16_t>(b.constData() + 26), 1);
  EXPECT_EQ(qFromLittleEndian<uint16_t>(b.constData() + 28), 24);
  EXPECT_EQ(U32At(b, 30), 0u);
  EXPECT_EQ(U32At(b, 34), 24u);
  // The first stored row is the bottom one, blue first; padding bytes are zero.
  const QRgb bottomLeft = img.pixel(0, 1);
  EXPECT_EQ(uchar(b[54]), qBlue(bottomLeft));
  EXPECT_EQ(uchar(b[55]), qGreen(bottomLeft));
  EXPECT_EQ(uchar(b[56]), qRed(bottomLeft));
  EXPECT_EQ(b.mid(54 + 9, 3), QByteArray(3, '\0'));

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("Sample101.bmp"));
  ASSERT_TRUE(WriteBmpFile(path, img));
  QString error;
  const QImage back = ReadBmpFile(path, &error);
  ASSERT_FALSE(back.isNull()) << error.toStdString();
  EXPECT_EQ(back, img);
  EXPECT_FALSE(WriteBmpFile(path, QImage()));
}

TEST(Bmp, Reads24And32BitFilesEitherWayUp) {
  const QImage img = Pattern(5, 3);
  const struct {
    int bits;
    bool topDown;
    uint32_t compression;
  } cases[] = {{24, false, 0}, {24, true, 0}, {32, false, 0}, {32, true, 0}, {32, false, 3}};
  for (const auto& c : cases) {
    QString error;
    const QImage got = DecodeBmp(HandMade(img, c.bits, c.topDown, c.compression), &error);
    ASSERT_FALSE(got.isNull()) << c.bits << " " << c.topDown << ": " << error.toStdString();
    EXPECT_EQ(got, img) << c.bits << " bits, top-down " << c.topDown;
  }
  // A writer that left out the last row's padding still gives its picture.
  QByteArray unpadded = HandMade(img, 24, false);
  unpadded.chop(1);
  EXPECT_EQ(DecodeBmp(unpadded), img);
}

TEST(Bmp, RefusesDamagedFilesWithAReason) {
  const QByteArray good = HandMade(Pattern(4, 4), 24, false);
  auto with = [&](auto change) {
    QByteArray b = good;
    change(b);
    return b;
  };
  const struct {
    const char* what;
    QByteArray bytes;
  } cases[] = {
      {"empty", QByteArray()},
      {"not a bmp", QByteArray("GIF89a and more bytes than a header needs........")},
      {"header cut", good.left(30)},
      {"pixels cut", good.left(good.size() - 20)},
      {"huge width", with([](QByteArray& b) { SetU32(b, 18, 0x7FFFFFFF); })},
      {"huge height", with([](QByteArray& b) { SetU32(b, 22, 60000); })},
      {"most negative height", with([](QByteArray& b) { SetU32(b, 22, 0x80000000u); })},
      {"zero width", with([](QByteArray& b) { SetU32(b, 18, 0); })},
      {"8 bits", with([](QByteArray& b) { SetU16(b, 28, 8); })},
      {"run-length", with([](QByteArray& b) { SetU32(b, 30, 1); })},
      {"pixel offset past the end", with([](QByteArray& b) { SetU32(b, 10, 0xFFFFFFF0u); })},
      {"pixel offset inside the header", with([](QByteArray& b) { SetU32(b, 10, 20); })},
      {"odd header size", with([](QByteArray& b) { SetU32(b, 14, 0xFFFFFFFFu); })},
      {"masks cut", HandMade(Pattern(1, 1), 32, false, 3).left(60)},
  };
  for (const auto& c : cases) {
    QString error;
    EXPECT_TRUE(DecodeBmp(c.bytes, &error).isNull()) << c.what;
    EXPECT_FALSE(error.isEmpty()) << c.what;
  }

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("cut.bmp"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(good.left(70));
  f.close();
  QString error;
  EXPECT_TRUE(ReadBmpFile(path, &error).isNull());
  EXPECT_TRUE(error.contains(QStringLiteral("truncated"))) << error.toStdString();
  EXPECT_TRUE(ReadBmpFile(dir.filePath(QStringLiteral("missing.bmp")), &error).isNull());
  EXPECT_TRUE(error.contains(QStringLiteral("missing.bmp")));
}

TEST(Bmp, WritesAVideoFrameInItsOwnLayout) {
  // Frames as QImages hold them: top-down rows of the image's own stride.
  QImage indexed(5, 3, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(10, 200, 30), qRgb(255, 255, 255)});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) indexed.setPixel(x, y, uint((x + y) % 4));
  const struct {
    FramePixels format;
    QImage picture;
    int bitCount;
    uint32_t compression;
  } cases[] = {
      {FramePixels::Rgb24, Pattern(5, 3).convertToFormat(QImage::Format_BGR888), 24, 0},
      {FramePixels::Rgb32, Pattern(5, 3), 32, 0},
      {FramePixels::Rgb565, Pattern(5, 3).convertToFormat(QImage::Format_RGB16), 16, 3},
      {FramePixels::Rgb555, Pattern(5, 3).convertToFormat(QImage::Format_RGB555), 16, 0},
      {FramePixels::Rgb8, indexed, 8, 0},
  };
  QTemporaryDir dir;
  for (const auto& c : cases) {
    const QList<QRgb> table = c.picture.colorTable();
    std::vector<uint32_t> colours;
    for (QRgb rgb : table) colours.push_back(rgb & 0x00FFFFFFu);
    for (bool bottomUp : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.bitCount << " bits, " << (bottomUp ? "bottom-up" : "top-down"));
      QImage rows = bottomUp ? c.picture.mirrored(false, true) : c.picture;
      FrameBits frame;
      frame.Bits = rows.bits();
      frame.Width = 5;
      frame.Height = bottomUp ? 3 : -3;
      frame.Format = c.format;
      frame.Stride = rows.bytesPerLine();
      frame.Palette = colours.empty() ? nullptr : colours.data();
      frame.PaletteSize = int(colours.size());

      const QString path = dir.filePath(QStringLiteral("frame.bmp"));
      ASSERT_TRUE(WriteBmpFile(path, frame));
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::ReadOnly));
      const QByteArray b = file.readAll();
      EXPECT_EQ(U32At(b, 2), uint32_t(b.size()));
      EXPECT_EQ(S32At(b, 22), 3) << "stored bottom-up";
      EXPECT_EQ(qFromLittleEndian<uint16_t>(b.constData() + 28), c.bitCount);
      EXPECT_EQ(U32At(b, 30), c.compression);
      if (c.compression == 3) {
        EXPECT_EQ(U32At(b, 54), 0xF800u);
        EXPECT_EQ(U32At(b, 58), 0x07E0u);
        EXPECT_EQ(U32At(b, 62), 0x001Fu);
      }
      if (c.format == FramePixels::Rgb8) {
        EXPECT_EQ(U32At(b, 46), 4u) << "colours used";
        EXPECT_EQ(U32At(b, 54 + 2 * 4), 0x000AC81Eu);
      }
      // Each stored row holds the frame's bytes unchanged, bottom row first.
      const int rowBytes = 5 * c.bitCount / 8;
      const int stride = (rowBytes + 3) & ~3;
      const int pixels = int(U32At(b, 10));
      ASSERT_EQ(b.size(), pixels + 3 * stride);
      for (int y = 0; y < 3; ++y)
        EXPECT_EQ(b.mid(pixels + (2 - y) * stride, rowBytes),
                  QByteArray(reinterpret_cast<const char*>(c.picture.constScanLine(y)), rowBytes))
            << "row " << y;
      // Another reader sees the same picture.
      const QImage back = QImage::fromData(b, "BMP");
      ASSERT_FALSE(back.isNull());
      EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32).pixel(1, 2) & 0xF8F8F8u,
                c.picture.convertToFormat(QImage::Format_RGB32).pixel(1, 2) & 0xF8F8F8u);
    }
  }
  FrameBits empty;
  EXPECT_FALSE(WriteBmpFile(dir.filePath(QStringLiteral("none.bmp")), empty));
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("none.bmp"))));
}
