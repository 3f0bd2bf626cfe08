// Video from images: a folder of BMP or JPEG pictures packed into one images file, in the chosen
// order, with unreadable or odd pictures left out; the file played by the push source through a
// preview graph, wrapping or ending at its end, and never read past when it is damaged.
#include "LiveGraphFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/Framecatcher.h"
#include "platform/com/ComRuntime.h"
#include "platform/core/Bmp.h"
#include "platform/jpeg/Jpeg.h"
#include "tools/FrameCode.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QtEndian>
#include <mutex>

namespace kestrom::engine::test {

namespace {

using com::E_FAIL;
using com::S_OK;

/** @brief The images file read back: its count and each record's bytes (a BMP file). */
struct TPack {
  int32_t count = -1;
  std::vector<QByteArray> records;
};

TPack ReadPack(const QString& path) {
  TPack pack;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return pack;
  const QByteArray bytes = file.readAll();
  if (bytes.size() < 4) return pack;
  pack.count = qFromLittleEndian<int32_t>(bytes.constData());
  qsizetype pos = 4;
  while (pos + 4 <= bytes.size()) {
    const int32_t size = qFromLittleEndian<int32_t>(bytes.constData() + pos);
    pos += 4;
    if (size < 0 || pos + size > bytes.size()) break;
    pack.records.push_back(bytes.mid(pos, size));
    pos += size;
  }
  return pack;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

/** @brief A picture whose pixels carry its code (read back with ReadFrameCode). */
QImage CodedPicture(int code, int width = 160, int height = 120) {
  QImage picture(width, height, QImage::Format_RGB32);
  tools::PaintCodedFrame(picture, code, 100);
  return picture;
}

/** @brief A tiny picture whose first pixel holds a number up to 65535 (red: high byte, green: low). */
QImage NumberedPicture(int number) {
  QImage picture(4, 2, QImage::Format_RGB32);
  picture.fill(qRgb(number >> 8, number & 0xFF, 7));
  return picture;
}

int NumberOf(const QByteArray& record) {
  const QImage picture = core::DecodeBmp(record);
  if (picture.isNull()) return -1;
  const QRgb pixel = picture.pixel(0, 0);
  return qRed(pixel) * 256 + qGreen(pixel);
}

int CodeOf(const QByteArray& record) { return tools::ReadFrameCode(core::DecodeBmp(record)); }

QByteArray Int32(int32_t value) {
  QByteArray bytes(4, '\0');
  qToLittleEndian(value, bytes.data());
  return bytes;
}

/** @brief An images file made of the records as they stand, with the count given. */
QByteArray Pack(int32_t count, const std::vector<QByteArray>& records) {
  QByteArray bytes = Int32(count);
  for (const QByteArray& r : records) bytes += Int32(int32_t(r.size())) + r;
  return bytes;
}

struct TProgress {
  int32_t percent;
  int64_t item;
  QString text;
};

}  // namespace

class VideoFromImages : public LiveGraphTest {
 protected:
  void SetUp() override {
    LiveGraphTest::SetUp();
    ASSERT_TRUE(QDir(workDir_.path()).mkpath("pictures"));
    pictures_ = workDir_.filePath("pictures");
    packFile_ = workDir_.filePath("SetOfBitmaps01.dat");
  }
  /** @brief A component packing the test's pictures folder into its images file. */
  std::unique_ptr<TFK> Packer() {
    auto fk = std::make_unique<TFK>();
    Configure(fk.get());
    return fk;
  }
  void Configure(TFK* fk) {
    fk->SetVideoSource(vs_VideoFromImages);
    fk->SetVideoFromImages_SourceDirectory(pictures_);
    fk->SetVideoFromImages_TemporaryFile(packFile_);
    fk->Events().OnBitmapsLoadingProgress = [this](QObject*, const TProgressInfo& p) {
      EXPECT_EQ(p.Total, 0);
      progress_.push_back({p.Percent, p.Done, p.Text});
    };
    fk->Events().OnLog = [this](QObject*, int code, const QString& severity, const QString& message) {
      logged_.push_back({code, severity, message});
    };
  }
  QString Picture(const QString& name) const { return pictures_ + "/" + name; }
  void Bmp(const QString& name, const QImage& picture) { ASSERT_TRUE(core::WriteBmpFile(Picture(name), picture).ok); }
  void Jpeg(const QString& name, const QImage& picture) {
    jpeg::CompressOptions options;
    options.quality = 95;
    jpeg::CompressToFile(picture, Picture(name), options);
  }
  bool Logged(const QString& severity, const QString& start) const {
    for (const LoggedEvent& e : logged_)
      if (e.severity == severity && e.message.startsWith(start)) return true;
    return false;
  }
  std::vector<QString> Texts() const {
    std::vector<QString> texts;
    for (const TProgress& p : progress_) texts.push_back(p.text);
    return texts;
  }
  /** @brief A component whose base graph plays the images file (its push source is created, unconnected). */
  std::unique_ptr<TFK> Player() {
    auto fk = Packer();
    fk->SnapshotBuildParameters();
    EXPECT_TRUE(fk->CreateBaseGraph());
    EXPECT_TRUE(fk->ImagesStreamOpen());
    EXPECT_TRUE(fk->PreviewPin());
    return fk;
  }

  /**
   * @brief A panel (graph events reach the component through its window) whose preview plays the
   * packed pictures, the grabber on the preview stream and no renderer.
   */
  std::unique_ptr<TFramecatcher> ImagesPreviewPanel(bool repeat) {
    auto panel = std::make_unique<TFramecatcher>();
    TFK* fk = &panel->Engine();
    Configure(fk);
    EXPECT_TRUE(fk->CreateVideoFromImagesFile());
    // Every build needs a discovered video device; the images then take its place as the source.
    fk->SetVideoSource(vs_VideoCaptureDevice);
    fk->SetAudioRecording(false);
    fk->SetVideoDevice(CameraIndex());
    fk->SetVideoSource(vs_VideoFromImages);
    fk->SetFrameGrabber(fg_PreviewStream);
    fk->SetVideoRenderer(vr_None);
    fk->SetVideoFromImages_RepeatIndefinitely(repeat);
    return panel;
  }

  QString pictures_, packFile_;
  std::vector<TProgress> progress_;
  std::vector<LoggedEvent> logged_;
};

TEST_F(VideoFromImages, TheFirstPictureInNameOrderFixesTheKindOfTheRun) {
  Bmp("a.bmp", CodedPicture(1));
  Jpeg("b.jpg", CodedPicture(2));
  Bmp("c.bmp", CodedPicture(3));
  ASSERT_TRUE(QDir(pictures_).mkdir("d.bmp"));  // a folder is no picture
  auto fk = Packer();
  ASSERT_TRUE(fk->CreateVideoFromImagesFile());
  const TPack pack = ReadPack(packFile_);
  EXPECT_EQ(pack.count, 2);
  ASSERT_EQ(pack.records.size(), 2u);
  // Bitmaps go in unchanged.
  EXPECT_EQ(pack.records[0], ReadAll(Picture("a.bmp")));
  EXPECT_EQ(pack.records[1], ReadAll(Picture("c.bmp")));
  EXPECT_EQ(Texts().front(), "loading bitmaps from " + pictures_ + "/");
  EXPECT_EQ(Texts().back(), "2 bitmaps written to " + packFile_);
}

TEST_F(VideoFromImages, JpegsArePackedAsBitmapsWhateverTheCaseOfTheirExtension) {
  Jpeg("x1.JPG", CodedPicture(21));
  Jpeg("x2.jpeg", CodedPicture(22));
  Jpeg("x3.Jpe", CodedPicture(23));
  Bmp("x4.bmp", CodedPicture(24));  // another kind: left out
  auto fk = Packer();
  ASSERT_TRUE(fk->CreateVideoFromImagesFile());
  const TPack pack = ReadPack(packFile_);
  ASSERT_EQ(pack.count, 3);
  ASSERT_EQ(pack.records.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const QByteArray& r = pack.records[size_t(i)];
    ASSERT_GE(r.size(), 54);
    EXPECT_TRUE(r.startsWith("BM"));
    EXPECT_EQ(qFromLittleEndian<uint16_t>(r.constData() + 28), 24);  // 24 bits per pixel
    EXPECT_EQ(qFromLittleEndian<int32_t>(r.constData() + 18), 160);
    EXPECT_EQ(CodeOf(r), 21 + i);
  }
}

TEST_F(VideoFromImages, EachPictureReportsItsShareOfTheRun) {
  for (int i = 1; i <= 3; ++i) Bmp(QString("p%1.bmp").arg(i), NumberedPicture(i));
  auto fk = Packer();
  ASSERT_TRUE(fk->CreateVideoFromImagesFile());
  ASSERT_EQ(progress_.size(), 5u);
  EXPECT_EQ(progress_[0].percent, -1);
  const int percents[] = {33, 67, 100};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(progress_[size_t(i) + 1].percent, percents[i]);
    EXPECT_EQ(progress_[size_t(i) + 1].item, i);
    EXPECT_EQ(progress_[size_t(i) + 1].text, QString("loading p%1.bmp").arg(i + 1));
  }
  EXPECT_EQ(progress_[4].percent, -1);
  EXPECT_EQ(progress_[4].item, 2);
}

TEST_F(VideoFromImages, ExportedFramesAreJoinedInTheirNumbersOrder) {
  // The export writes "Sample" + (frame + 100): past 899 frames the names grow a digit.
  for (int n = 101; n <= 1100; ++n) Bmp(QString("Sample%1.bmp").arg(n), NumberedPicture(n));
  auto fk = Packer();
  ASSERT_TRUE(fk->CreateVideoFromImagesFile());
  const TPack pack = ReadPack(packFile_);
  ASSERT_EQ(pack.count, 1000);
  ASSERT_EQ(pack.records.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(NumberOf(pack.records[size_t(i)]), 101 + i) << i;
}

TEST_F(VideoFromImages, TheFourOrdersByNameAndByFileTime) {
  // Times in the packed form count whole two-second steps: b and c share one, so their names decide.
  const QDateTime base(QDate(2024, 5, 1), QTime(10, 0, 0));
  const struct {
    const char* name;
    int seconds;
  } files[] = {{"f9.bmp", 30}, {"f10.bmp", 10}, {"f2b.bmp", 20}, {"f2c.bmp", 21}};
  for (int i = 0; i < 4; ++i) {
    Bmp(files[i].name, NumberedPicture(i));
    QFile file(Picture(files[i].name));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(base.addSecs(files[i].seconds), QFileDevice::FileModificationTime));
  }
  // Record numbers: f9 = 0, f10 = 1, f2b = 2, f2c = 3.
  const struct {
    int sortedBy;
    std::vector<int> order;
  } cases[] = {
      {fs_TimeAsc, {2, 3, 0, 1}},   // names, ascending
      {fs_TimeDesc, {1, 0, 3, 2}},  // names, descending
      {fs_NameAsc, {1, 2, 3, 0}},   // file times, ascending
      {fs_NameDesc, {0, 2, 3, 1}},  // file times, descending; the tie stays in name order
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sortedBy);
    auto fk = Packer();
    fk->SetVideoFromImages_BitmapsSortedBy(c.sortedBy);
    ASSERT_TRUE(fk->CreateVideoFromImagesFile());
    std::vector<int> order;
    for (const QByteArray& r : ReadPack(packFile_).records) order.push_back(NumberOf(r));
    EXPECT_EQ(order, c.order);
  }
}

TEST_F(VideoFromImages, APackingAfterAFailedOneWorks) {
  auto fk = Packer();
  // A source folder that cannot be made (below a plain file), then one without pictures.
  WriteAll(workDir_.filePath("plain"), "x");
  fk->SetVideoFromImages_SourceDirectory(workDir_.filePath("plain/sub"));
  EXPECT_FALSE(fk->CreateVideoFromImagesFile());
  EXPECT_TRUE(Logged("ERROR", "invalid bitmaps source directory: " + workDir_.filePath("plain/sub")));
  fk->SetVideoFromImages_SourceDirectory(pictures_);
  WriteAll(Picture("notes.txt"), "no picture");
  EXPECT_FALSE(fk->CreateVideoFromImagesFile());
  EXPECT_TRUE(Logged("ERROR", "sorry, there is no BMP or JPEG files in " + pictures_));
  // A missing folder is made.
  fk->SetVideoFromImages_SourceDirectory(workDir_.filePath("new/pictures"));
  EXPECT_FALSE(fk->CreateVideoFromImagesFile());
  EXPECT_TRUE(QDir(workDir_.filePath("new/pictures")).exists());

  fk->SetVideoFromImages_SourceDirectory(pictures_);
  Bmp("p.bmp", NumberedPicture(5));
  ASSERT_TRUE(fk->CreateVideoFromImagesFile());
  EXPECT_EQ(ReadPack(packFile_).count, 1);
  // An images file that cannot be made.
  fk->SetVideoFromImages_TemporaryFile(workDir_.filePath("plain/SetOfBitmaps01.dat"));
  EXPECT_FALSE(fk->CreateVideoFromImagesFile());
  EXPECT_TRUE(Logged("ERROR", "failed to create file: "));
  fk->SetVideoFromImages_TemporaryFile(packFile_);
  EXPECT_TRUE(fk->CreateVideoFromImagesFile());
}

TEST_F(VideoFromImages, UnreadableEmptyOddAndLyingPicturesAreSkipped) {
  Bmp("a-good.bmp", NumberedPicture(1));
  WriteAll(Picture("b-empty.bmp"), QByteArray());
  WriteAll(Picture("c-text.bmp"), "this is no picture at all, but long enough to hold a header of sorts..");
  // A header that promises 640 x 480 pixels over a few bytes.
  QByteArray liar = core::EncodeBmp(NumberedPicture(9));
  qToLittleEndian<int32_t>(640, liar.data() + 18);
  qToLittleEndian<int32_t>(480, liar.data() + 22);
  WriteAll(Picture("d-liar.bmp"), liar);
  // A pixel offset beyond the end of the file.
  QByteArray offset = core::EncodeBmp(NumberedPicture(9));
  qToLittleEndian<uint32_t>(0x7FFFFFF0u, offset.data() + 10);
  WriteAll(Picture("e-offset.bmp"), offset);
  Bmp("f-bigger.bmp", QImage(8, 2, QImage::Format_RGB32));
  Bmp("g-good.bmp", NumberedPicture(2));
  WriteAll(Picture("h-unreadable.bmp"), core::EncodeBmp(NumberedPicture(9)));
  QFile::setPermissions(Picture("h-unreadable.bmp"), QFileDevice::WriteOwner);
  const bool unreadable = !QFile(Picture("h-unreadable.bmp")).open(QIODevice::ReadOnly);  // root reads anyway

  auto fk = Packer();
  ASSERT_TRUE(fk->CreateVideoFromImagesFile());
  const TPack pack = ReadPack(packFile_);
  EXPECT_EQ(pack.count, unreadable ? 2 : 3);
  std::vector<int> numbers;
  for (const QByteArray& r : pack.records) numbers.push_back(NumberOf(r));
  EXPECT_EQ(numbers, unreadable ? std::vector<int>({1, 2}) : std::vector<int>({1, 2, 9}));
  const struct {
    const char* name;
    const char* text;
  } skipped[] = {{"b-empty.bmp", "CANNOT READ: "},  {"c-text.bmp", "CANNOT READ: "},
                 {"d-liar.bmp", "CANNOT READ: "},   {"e-offset.bmp", "CANNOT READ: "},
                 {"f-bigger.bmp", "SIZE/FORMAT MISMATCH: "}};
  for (const auto& s : skipped) {
    SCOPED_TRACE(s.name);
    const QString text = QString::fromLatin1(s.text) + s.name;
    const auto it = std::find_if(progress_.begin(), progress_.end(), [&](const TProgress& p) { return p.text == text; });
    ASSERT_NE(it, progress_.end());
    EXPECT_EQ(it->item, -1);
    if (QByteArray(s.text).startsWith("CANNOT")) {
      EXPECT_TRUE(Logged("WARNING", text));
    }
  }
  // A broken JPEG among JPEGs.
  QDir(pictures_).removeRecursively();
  QDir().mkpath(pictures_);
  Jpeg("a.jpg", CodedPicture(31));
  const QByteArray whole = [&] { return ReadAll(Picture("a.jpg")); }();
  WriteAll(Picture("b.jpg"), whole.left(whole.size() / 3));
  Jpeg("c.jpg", CodedPicture(33));
  progress_.clear();
  ASSERT_TRUE(fk->CreateVideoFromImagesFile());
  EXPECT_EQ(ReadPack(packFile_).count, 2);
  EXPECT_TRUE(std::any_of(progress_.begin(), progress_.end(),
                          [](const TProgress& p) { return p.text == "CANNOT READ: b.jpg" && p.item == -1; }));
}

TEST_F(VideoFromImages, ADamagedImagesFileIsNeverReadPast) {
  const QByteArray good1 = core::EncodeBmp(NumberedPicture(1)), good2 = core::EncodeBmp(NumberedPicture(2));
  const int32_t pixels = int32_t(good1.size() - 54);  // 4 x 2 at 24 bits: rows of 12 bytes
  QByteArray lyingOffset = good1;
  qToLittleEndian<uint32_t>(uint32_t(good1.size() + 100), lyingOffset.data() + 10);
  QByteArray fewPixels = good1.left(54 + 6);  // pixels that do not fill a frame
  qToLittleEndian<int32_t>(int32_t(fewPixels.size()), fewPixels.data() + 2);
  const QByteArray truncated = Pack(2, {good1, good2}).chopped(5);
  QByteArray hugeRecord = Int32(1) + Int32(0x7FFFFFFF) + good1;

  const struct {
    const char* name;
    QByteArray file;
    bool formatKnown;
    int framesBeforeEnd;
  } cases[] = {
      {"second record cut short", truncated, true, 1},
      {"record larger than the file", hugeRecord, false, 0},
      {"pixel offset past the record", Pack(1, {lyingOffset}), false, 0},
      {"too few pixels", Pack(1, {fewPixels}), true, 1},
      {"more pixels than a frame", Pack(1, {good1 + QByteArray(64, '\x33')}), true, 1},
      {"empty file", QByteArray(), false, 0},
      {"count only", Int32(0), false, 0},
      {"foreign bytes", QByteArray(300, '\x5A'), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(packFile_, c.file);
    auto fk = Player();
    dshow::BYTE* buffer = nullptr;
    dshow::BYTE* format = nullptr;
    dshow::LONG formatSize = 0;
    const com::HRESULT hr = TFK::PushSourceFormat(fk.get(), &formatSize, &format, &buffer);
    EXPECT_EQ(hr == S_OK, c.formatKnown);
    if (hr == S_OK) {
      EXPECT_EQ(formatSize, 40);
      EXPECT_EQ(qFromLittleEndian<int32_t>(format + 4), 4);
    }
    com::CoTaskMemFree(buffer);
    // A frame buffer of exactly the frame's size: a write past it is caught.
    for (int frame = 0; frame <= c.framesBeforeEnd; ++frame) {
      std::vector<dshow::BYTE> bytes(size_t(pixels), 0xEE);
      dshow::BOOL end = 0;
      ASSERT_EQ(TFK::PushSourceFill(fk.get(), bytes.data(), pixels, &end), S_OK);
      EXPECT_EQ(end != 0, frame == c.framesBeforeEnd) << frame;
      if (!end && QByteArray(c.name) == "too few pixels") {
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(bytes.data()), 6), fewPixels.mid(54, 6));
        EXPECT_EQ(bytes[6], 0);  // the rest of the frame is blank, not stale
        EXPECT_EQ(bytes.back(), 0);
      }
    }
    fk->ClearGraph(true);
    EXPECT_FALSE(fk->ImagesStreamOpen());
  }
}

TEST_F(VideoFromImages, ThePicturesPlayThroughAPreviewGraphAndRepetitionWrapsWithAnEvent) {
  for (int i = 0; i < 3; ++i) Bmp(QString("p%1.bmp").arg(i), CodedPicture(41 + i));
  for (const bool repeat : {true, false}) {
    SCOPED_TRACE(repeat);
    auto panel = ImagesPreviewPanel(repeat);
    TFK* fk = &panel->Engine();

    std::mutex lock;
    std::vector<int> codes;
    fk->Events().OnFrameOverlayUsingDIB = [&](QObject*, const TFrameInfo&, const dshow::BITMAPINFOHEADER& header,
                                               uint8_t* bits) {
      if (header.biBitCount != 24 && header.biBitCount != 32) return;
      const int stride = ((header.biWidth * header.biBitCount + 31) / 32) * 4;
      const QImage view(bits, header.biWidth, std::abs(header.biHeight), stride,
                        header.biBitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
      const int code = tools::ReadFrameCode(header.biHeight > 0 ? view.mirrored() : view.copy());
      std::lock_guard guard(lock);
      codes.push_back(code);
    };
    int ends = 0;
    fk->Events().OnPlayerEndOfStream = [&](QObject*) { ++ends; };
    ASSERT_TRUE(fk->StartPreview());
    EXPECT_TRUE(fk->ImagesStreamOpen());
    QElapsedTimer timer;
    timer.start();
    const auto done = [&] { return repeat ? ends >= 2 : fk->GetCurrentState() == cs_None; };
    while (!done() && timer.elapsed() < 10000) {
      PumpMessagesOnce();
      QThread::msleep(2);
    }
    ASSERT_TRUE(done());
    if (repeat) {
      EXPECT_EQ(fk->GetCurrentState(), cs_Preview);
      fk->StopPreview();
    } else {
      EXPECT_EQ(ends, 1);
    }
    EXPECT_FALSE(fk->ImagesStreamOpen());
    std::lock_guard guard(lock);
    ASSERT_GE(codes.size(), repeat ? 6u : 3u);
    // The pictures in their order, from the first again after every wrap.
    for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], 41 + int(i % 3)) << i;
    if (!repeat) {
      EXPECT_EQ(codes.size(), 3u);
    }
  }
}

}  // namespace kestrom::engine::test

namespace kestrom::engine::test {

// A new rate goes to the running push source: the pictures go on, timed at the new rate from
// where the old rate left them, in the same preview.
TEST_F(VideoFromImages, ANewFrameRateRetimesTheRunningPicturesWithoutARebuild) {
  for (int i = 0; i < 3; ++i) Bmp(QString("p%1.bmp").arg(i), CodedPicture(41 + i));
  auto panel = ImagesPreviewPanel(true);
  TFK* fk = &panel->Engine();
  fk->SetFrameRate(25);
  std::mutex lock;
  std::vector<int64_t> times;
  fk->Events().OnFrameOverlayUsingDIB = [&](QObject*, const TFrameInfo& info, const dshow::BITMAPINFOHEADER&, uint8_t*) {
    std::lock_guard guard(lock);
    times.push_back(info.Time);
  };
  const auto seen = [&] {
    std::lock_guard guard(lock);
    return times.size();
  };
  const auto waitFor = [&](size_t frames) {
    QElapsedTimer timer;
    timer.start();
    while (seen() < frames && timer.elapsed() < 10000) {
      PumpMessagesOnce();
      QThread::msleep(2);
    }
    return seen() >= frames;
  };
  ASSERT_TRUE(fk->StartPreview());
  ASSERT_TRUE(waitFor(3));
  fk->SetFrameRate(10);
  EXPECT_EQ(fk->GetCurrentState(), cs_Preview);
  ASSERT_TRUE(waitFor(seen() + 4));
  fk->StopPreview();
  std::lock_guard guard(lock);
  // One run of 25-a-second frame times, then 10-a-second ones: no restart from 0, no gap.
  size_t change = 0;
  for (size_t i = 1; i < times.size(); ++i) {
    const int64_t step = times[i] - times[i - 1];
    if (change == 0 && step != 400000) change = i;
    EXPECT_EQ(step, change == 0 ? 400000 : 1000000) << i;
  }
  EXPECT_GT(change, 1u);
}

}  // namespace kestrom::engine::test
