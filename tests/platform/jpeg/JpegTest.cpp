#include "platform/jpeg/Jpeg.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <jerror.h>

namespace kestrom::jpeg {

namespace {

// A smooth picture with a few hard edges, the kind of content a video frame has.
QImage TestPicture(int w = 160, int h = 120) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x + y) % 256));
  QPainter p(&image);
  p.fillRect(20, 20, 40, 30, Qt::red);
  p.fillRect(90, 60, 50, 40, Qt::white);
  return image;
}

double MeanAbsoluteDifference(const QImage& a, const QImage& b) {
  EXPECT_EQ(a.size(), b.size());
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
    }
  return sum / (3.0 * a.width() * a.height());
}

bool HasMarker(const QByteArray& bytes, unsigned char marker) {
  for (int i = 0; i + 1 < bytes.size(); ++i)
    if (static_cast<unsigned char>(bytes[i]) == 0xFF && static_cast<unsigned char>(bytes[i + 1]) == marker) return true;
  return false;
}

}  // namespace

TEST(Jpeg, RoundTripStaysCloseToThePictureForEverySetting) {
  struct Case { const char* name; CompressOptions options; double tolerance; };
  const Case cases[] = {
      {"defaults", {}, 4.0},
      {"quality 100", {100, false, JpegPerformance::jpBestQuality}, 1.5},
      {"quality 100 best speed", {100, false, JpegPerformance::jpBestSpeed}, 2.0},
      {"progressive", {90, true, JpegPerformance::jpBestQuality}, 3.0},
      {"quality 5", {5, false, JpegPerformance::jpBestQuality}, 20.0},
  };
  const QImage picture = TestPicture();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QByteArray bytes = Compress(picture, c.options);
    ASSERT_GT(bytes.size(), 100);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
    EXPECT_EQ(HasMarker(bytes, 0xC2), c.options.progressive) << "progressive start-of-frame marker";
    for (auto performance : {JpegPerformance::jpBestQuality, JpegPerformance::jpBestSpeed}) {
      const QImage back = Decompress(bytes, {performance});
      EXPECT_EQ(back.format(), QImage::Format_RGB32);
      EXPECT_LT(MeanAbsoluteDifference(picture, back), c.tolerance);
    }
  }
  EXPECT_LT(Compress(picture, {10}).size(), Compress(picture, {95}).size());
  EXPECT_EQ(Compress(picture, {0}), Compress(picture, {1})) << "quality is clamped";
}

// Pictures read in place (24-bit either channel order, 32-bit, rows bottom row first) must give
// the very bytes of the converted picture; an odd width shows a stride or channel slip.
TEST(Jpeg, EveryInputLayoutWritesTheSameBytes) {
  const QImage picture = TestPicture(161, 37);
  CompressOptions plain;
  plain.quality = 100;
  const QByteArray expected = Compress(picture.convertToFormat(QImage::Format_ARGB32_Premultiplied), plain);
  CompressOptions bottomUp = plain;
  bottomUp.bottomUp = true;
  struct Case { const char* name; QImage image; CompressOptions options; };
  const Case cases[] = {
      {"RGB32", picture, plain},
      {"RGB888", picture.convertToFormat(QImage::Format_RGB888), plain},
      {"BGR888", picture.convertToFormat(QImage::Format_BGR888), plain},
      {"BGR888 bottom-up", picture.convertToFormat(QImage::Format_BGR888).mirrored(), bottomUp},
      {"RGB32 bottom-up", picture.mirrored(), bottomUp},
  };
  for (const Case& c : cases) EXPECT_EQ(Compress(c.image, c.options), expected) << c.name;
}

TEST(Jpeg, PicturesOfOtherFormatsAndGreyJpegsLoad) {
  QImage grey(64, 48, QImage::Format_Grayscale8);
  grey.fill(128);
  const QImage back = Decompress(Compress(grey));
  EXPECT_EQ(back.size(), grey.size());
  EXPECT_NEAR(qRed(back.pixel(10, 10)), 128, 2);

  // A one-channel JPEG, as other programs write them.
  QByteArray bytes;
  {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = 16;
    cinfo.image_height = 8;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    unsigned char line[16];
    for (int i = 0; i < 16; ++i) line[i] = 200;
    JSAMPROW row = line;
    while (cinfo.next_scanline < 8) jpeg_write_scanlines(&cinfo, &row, 1);
    jpeg_finish_compress(&cinfo);
    bytes = QByteArray(reinterpret_cast<const char*>(out), static_cast<int>(size));
    jpeg_destroy_compress(&cinfo);
    free(out);
  }
  const QImage one = Decompress(bytes);
  EXPECT_EQ(one.size(), QSize(16, 8));
  EXPECT_NEAR(qGreen(one.pixel(3, 3)), 200, 2);
  EXPECT_EQ(qRed(one.pixel(3, 3)), qBlue(one.pixel(3, 3)));
}

TEST(Jpeg, DamagedDataRaisesTheLibrarysCode) {
  const QByteArray good = Compress(TestPicture(), {90, true, JpegPerformance::jpBestQuality});
  const QByteArray baseline = Compress(TestPicture(), {90});
  struct Case { const char* name; QByteArray data; int code; };
  const Case cases[] = {
      {"not a JPEG", QByteArray("GIF89a, not a JPEG at all"), JERR_NO_SOI},
      {"empty", QByteArray(), JERR_INPUT_EOF},
      {"header only", good.left(20), JERR_INPUT_EOF},
      {"progressive cut in the middle", good.left(good.size() / 2), JERR_INPUT_EOF},
      {"baseline cut in the middle", baseline.left(baseline.size() / 2), JERR_INPUT_EOF},
      {"baseline cut near the end", baseline.left(baseline.size() - 40), JERR_INPUT_EOF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      Decompress(c.data);
      ADD_FAILURE() << "no error raised";
    } catch (const JpegError& e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(c.code));
      EXPECT_FALSE(e.Detail().isEmpty());
    }
  }
  // A header claiming a huge picture is refused before any memory is taken for it.
  QByteArray huge = baseline;
  const int sof = huge.indexOf("\xFF\xC0");
  ASSERT_GT(sof, 0);
  huge[sof + 5] = char(0xFF);  // height 65xxx
  huge[sof + 7] = char(0xFF);  // width 65xxx
  try {
    Decompress(huge);
    ADD_FAILURE() << "no error raised";
  } catch (const JpegError& e) {
    EXPECT_EQ(e.Code(), -1);
    EXPECT_TRUE(QString(e.what()).contains("too large"));
  }

  // Every pixel present and only the end marker missing: the picture is whole.
  EXPECT_EQ(Decompress(baseline.left(baseline.size() - 2)).size(), QSize(160, 120));
}

TEST(Jpeg, FilesAreWrittenWholeOrNotAtAll) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("sheet.jpg");
  CompressToFile(TestPicture(), path, {85, true, JpegPerformance::jpBestSpeed});
  const QImage back = DecompressFile(path);
  EXPECT_LT(MeanAbsoluteDifference(TestPicture(), back), 4.0);

  // A failed save keeps the file that was there.
  const QByteArray before = [&] { QFile f(path); f.open(QIODevice::ReadOnly); return f.readAll(); }();
  EXPECT_THROW(CompressToFile(QImage(), path), JpegError);
  QFile after(path);
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), before);

  try {
    DecompressFile(dir.filePath("missing.jpg"));
    ADD_FAILURE() << "no error raised";
  } catch (const JpegError& e) {
    EXPECT_EQ(e.Code(), -1);
    EXPECT_TRUE(QString(e.what()).contains("missing.jpg"));
  }
  EXPECT_THROW(CompressToFile(TestPicture(), dir.filePath("no/such/folder/x.jpg")), JpegError);

  QFile truncated(dir.filePath("cut.jpg"));
  ASSERT_TRUE(truncated.open(QIODevice::WriteOnly));
  truncated.write(Compress(TestPicture()).left(300));
  truncated.close();
  try {
    DecompressFile(truncated.fileName());
    ADD_FAILURE() << "no error raised";
  } catch (const JpegError& e) {
    EXPECT_EQ(e.Code(), JERR_INPUT_EOF);
  }
}

}  // namespace kestrom::jpeg
