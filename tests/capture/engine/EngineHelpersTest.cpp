#include "EngineFixtures.h"

#include "capture/engine/EngineHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace kestrom::engine::test {

TEST(EngineHelpers, AudioFormatsAndTheirNames) {
  const QStringList names = AudioFormatNames();
  ASSERT_EQ(names.size(), 29);
  EXPECT_EQ(names[0], "default");
  EXPECT_EQ(names[1], "8000 Hz, 8-bit Mono");
  EXPECT_EQ(names[4], "8000 Hz, 16-bit Stereo");
  EXPECT_EQ(names[14], "22050 Hz, 8-bit Stereo");
  EXPECT_EQ(names[28], "48000 Hz, 16-bit Stereo");
  const TPcmFormat def = *AudioFormatOf(0);
  EXPECT_EQ(def.SamplesPerSec, 22050);
  EXPECT_EQ(def.AvgBytesPerSec, 88200);
  const TPcmFormat f = *AudioFormatOf(22);  // 44100 Hz, 8 bits, stereo
  EXPECT_EQ(f.SamplesPerSec, 44100);
  EXPECT_EQ(f.BitsPerSample, 8);
  EXPECT_EQ(f.Channels, 2);
  EXPECT_EQ(f.BlockAlign, 2);
  EXPECT_EQ(f.AvgBytesPerSec, 88200);
  EXPECT_FALSE(AudioFormatOf(29));
  EXPECT_FALSE(AudioFormatOf(-1));
}

TEST(EngineHelpers, NameTables) {
  EXPECT_EQ(AnalogVideoStandardNames(0x1 | 0x10 | 0x100000), (QStringList{"NTSC M", "PAL B", "PAL N COMBO"}));
  EXPECT_TRUE(AnalogVideoStandardNames(0x8).isEmpty());
  EXPECT_EQ(DVCommandMode(0), 4296);
  EXPECT_EQ(DVCommandMode(7), 4904);
  EXPECT_EQ(DVCommandMode(16), 0);
  EXPECT_EQ(DVModeName(4905), "rev");
  EXPECT_EQ(DVModeName(5032), "slowest rev");
  EXPECT_EQ(DVModeName(1), "-");
  EXPECT_EQ(ThirdPartySlotName(0), "video source");
  EXPECT_EQ(ThirdPartySlotName(5), "audio capture");
  EXPECT_EQ(ThirdPartySlotName(6), "");
  EXPECT_EQ(AddKeyOffset(10), 99990010);
  EXPECT_EQ(MasterStreamIndex(1), 1);
  EXPECT_EQ(MasterStreamIndex(2), -1);
  EXPECT_EQ(MasterStreamIndex(0), 0);
}

TEST(EngineHelpers, SubtypeAndBitmapFormatNames) {
  struct Case {
    const char* subtype;
    const char* name;
  };
  const Case cases[] = {
      {"{32595559-0000-0010-8000-00AA00389B71}", "YUY2"},
      {"{e436eb7d-524f-11ce-9f53-0020af0ba770}", "RGB24"},
      {"{E436EB7E-524F-11CE-9F53-0020AF0BA770}", "RGB32"},
      {"{E436EB7B-524F-11CE-9F53-0020AF0BA770}", "RGB565"},
      {"{E436EB7F-524F-11CE-9F53-0020AF0BA770}", "RGB"},
      {"{E06D8026-DB46-11CF-B4D1-00805F6CBBEA}", "MPEG2"},
      {"{47504A4D-0000-0010-8000-00AA00389B71}", "MJPG"},
      {"{3259555", ""},
      {"32595559-0000-0010-8000-00AA00389B71}", ""},
      {"{32595559+0000-0010-8000-00AA00389B71}", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(SubtypeName(c.subtype), c.name) << c.subtype;

  struct Bitmap {
    const char* name;
    uint32_t compression;
    int bits;
  };
  const Bitmap bitmaps[] = {{"RGB24", 0, 24},          {"RGB8", 0, 8},           {"BITF16", 3, 16},
                            {"RLE8", 1, 8},            {"RLE4", 2, 4},           {"YUY2", 0x32595559, 16},
                            {"UYVY", 0x59565955, 16},  {"I420", 0x30323449, 12}, {"YVU9", 0x39555659, 9},
                            {"MJPG", 77, 77},          {"RGB", 77, 77}};
  for (const Bitmap& b : bitmaps) {
    uint32_t compression = 77;
    int bits = 77;
    BitmapFormatOf(b.name, compression, bits);
    EXPECT_EQ(compression, b.compression) << b.name;
    EXPECT_EQ(bits, b.bits) << b.name;
  }
  EXPECT_EQ(BitmapStride(3, 24), 12);
  EXPECT_EQ(ImageSize(720, -576, 24), 720 * 3 * 576);
  EXPECT_EQ(ImageSize(1, 2, 1), 8);
  EXPECT_EQ(BitmapHeaderOffset(0), 48);
  EXPECT_EQ(BitmapHeaderOffset(4), 72);
  EXPECT_EQ(BitmapHeaderOffset(7), -1);
  EXPECT_EQ(GuidFromText("  {32595559-0000-0010-8000-00AA00389B71} "), "{32595559-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(GuidFromText("{1234}"), NullGuidText);
  EXPECT_TRUE(UniqueName("Smart Tee").startsWith("Smart Tee"));
}

TEST(EngineHelpers, DiskSpaceRuleAndTheVolumeOfAFileNotYetWritten) {
  EXPECT_FALSE(EnoughFreeSpace(24'999'999));
  EXPECT_TRUE(EnoughFreeSpace(25'000'000));
  EXPECT_TRUE(EnoughFreeSpace(std::nullopt));
  EXPECT_FALSE(EnoughDiskSpace(""));
  QTemporaryDir dir;
  const auto free = VolumeFreeSpace(dir.filePath("not/yet/there.avi"));
  ASSERT_TRUE(free.has_value());
  EXPECT_EQ(EnoughDiskSpace(dir.filePath("not/yet/there.avi")), *free >= MinimumFreeBytes);
  EXPECT_EQ(DriveKind(dir.path()), 0);
  EXPECT_EQ(DriveKind(""), 0);
  EXPECT_EQ(DriveOf("D:\\clips\\a.avi"), "D:");
}

TEST(EngineHelpers, ForceDirectoriesCreatesFromTheTopDown) {
  QTemporaryDir dir;
  const QString deep = dir.filePath("one/two/three") + "/";
  EXPECT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(dir.filePath("one/two/three")));
  EXPECT_TRUE(ForceDirectories(""));
  EXPECT_TRUE(ForceDirectories("ab"));
  QFile blocker(dir.filePath("file"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_FALSE(ForceDirectories(dir.filePath("file/below")));
}

TEST(EngineHelpers, TemporaryFilesLiveInAPrivateFolderAndTheFirstCleanCallSweepsOldOnes) {
  QTemporaryDir tmp;
  const QByteArray previousTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", tmp.path().toUtf8());
  const QString folder = EngineTempFolder();
  ASSERT_FALSE(folder.isEmpty());
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(folder).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  const QString stale = folder + "/tfkOLD1.tmp";
  {
    QFile file(stale);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.setFileTime(QDateTime::currentDateTime().addSecs(-120), QFileDevice::FileModificationTime);
  }
  // Another process's file of a moment ago is not an earlier run's.
  const QString fresh = folder + "/tfkNEW1.tmp";
  QFile(fresh).open(QIODevice::WriteOnly);
  const QString other = folder + "/abcKEEP.tmp";
  QFile(other).open(QIODevice::WriteOnly);
  const QString first = EngineTempFileName(true);
  EXPECT_FALSE(QFile::exists(stale));
  EXPECT_TRUE(QFile::exists(fresh));
  EXPECT_TRUE(QFile::exists(other));
  EXPECT_TRUE(QFileInfo(first).fileName().startsWith("tfk"));
  EXPECT_TRUE(QFile::exists(first));
  EXPECT_EQ(QFileInfo(first).size(), 0);
  const QString second = EngineTempFileName(true);  // no second sweep
  EXPECT_TRUE(QFile::exists(first));
  EXPECT_NE(first, second);
  EXPECT_TRUE(QFileInfo(TempFileName("grabber")).fileName().startsWith("gra"));
  if (previousTmp.isEmpty())
    qunsetenv("TMPDIR");
  else
    qputenv("TMPDIR", previousTmp);
}

TEST(EngineHelpers, LineHelpers) {
  EXPECT_EQ(LastIndexOf('\\', "C:\\clips\\a.avi"), 9);
  EXPECT_EQ(LastIndexOf('/', "a.avi"), 0);
  const QString text = "default\r\n320x240\r\n640x480\r\n";
  EXPECT_EQ(IndexOfLine(text, "640X480"), 2);
  EXPECT_EQ(IndexOfLine(text, "800x600"), -1);
  EXPECT_EQ(LineAt(text, 1), "320x240");
  EXPECT_EQ(LineAt(text, 3), "");
  EXPECT_EQ(LineAt(text, -1), "");
  QStringList list{"a", "b", "c"};
  MoveToTop(list, "c");
  EXPECT_EQ(list, (QStringList{"c", "a", "b"}));
  MoveToTop(list, "x");
  EXPECT_EQ(list, (QStringList{"c", "a", "b"}));
}

TEST(EngineHelpers, MonitorTableComesFromTheScreens) {
  QRect rect;
  ClearMonitorTable();
  EXPECT_FALSE(MonitorRect(0, rect));
  FillMonitorTable();
  ASSERT_TRUE(MonitorRect(0, rect));
  EXPECT_EQ(rect, QRect(0, 0, 1280, 1024));
  EXPECT_FALSE(MonitorRect(1, rect));
  EXPECT_FALSE(MonitorRect(10, rect));
  ClearMonitorTable();
}

TEST(EngineHelpers, DisplayWindowSettingsKeepOneEmbeddedWindow) {
  TVideoWindow display(0), dual(1);
  display.SetPartner(&dual);
  dual.SetPartner(&display);
  EXPECT_TRUE(display.GetBool(TVideoWindow::Active));
  EXPECT_TRUE(display.GetBool(TVideoWindow::Embedded));
  EXPECT_FALSE(dual.GetBool(TVideoWindow::Active));
  EXPECT_FALSE(dual.GetBool(TVideoWindow::Embedded));
  EXPECT_EQ(display.GetInt(TVideoWindow::Left), 10);
  EXPECT_EQ(dual.GetInt(TVideoWindow::Left), 400);
  EXPECT_EQ(dual.GetInt(TVideoWindow::Width), 320);

  std::vector<std::tuple<int, int, int>> changes;
  auto record = [&](TVideoWindow& w, int index, int value) { changes.emplace_back(w.WindowIndex(), index, value); };
  display.SetChangeHandler(record);
  dual.SetChangeHandler(record);
  display.SetCachedState(5);
  dual.SetBool(TVideoWindow::Embedded, true);
  EXPECT_FALSE(display.GetBool(TVideoWindow::Embedded));  // the partner gives it up, silently
  EXPECT_EQ(display.CachedState(), 5);
  EXPECT_EQ(dual.CachedState(), -1);
  dual.SetBool(TVideoWindow::Embedded, true);  // unchanged: no call
  dual.SetInt(TVideoWindow::Top, 50);
  dual.SetBool(TVideoWindow::StayOnTop, true);
  EXPECT_FALSE(display.GetBool(TVideoWindow::StayOnTop));
  EXPECT_EQ(changes, (std::vector<std::tuple<int, int, int>>{{1, 2, 1}, {1, 14, 50}, {1, 5, 1}}));
}

TEST(EngineHelpers, SpeakerVolumeAndBalance) {
  struct Case {
    int volume, balance, left, right;
  };
  const Case cases[] = {
      {65535, 0, 65535, 65535},      {40000, -32768, 40000, 0},   {40000, -16384, 40000, 20001},
      {40000, 32767, 0, 40000},      {40000, 16384, 19999, 40000}, {0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    int left = -1, right = -1;
    SplitSpeakerVolume(c.volume, c.balance, left, right);
    EXPECT_EQ(left, c.left) << c.volume << " " << c.balance;
    EXPECT_EQ(right, c.right) << c.volume << " " << c.balance;
    int volume = -1, balance = -1;
    JoinSpeakerVolume(left, right, volume, balance);
    EXPECT_EQ(volume, c.volume);
    EXPECT_NEAR(balance, c.balance, 2);
  }
  // Without a sound card there is no mixer, and the calls say so.
  if (MixerLines().isEmpty()) {
    int v = 0, b = 0;
    bool muted = false;
    EXPECT_FALSE(SpeakerVolume(v, b));
    EXPECT_FALSE(SetSpeakerVolume(1000, 0));
    EXPECT_FALSE(LineMute(0, "Master", false, muted));
  }
  EXPECT_TRUE(LoadWmvcore(nullptr));
}

}  // namespace kestrom::engine::test
