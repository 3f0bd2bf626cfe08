// The per-device settings tables and the size lists: registry forms, the restore rule, bad
// registry values, size texts, nearest sizes and the aspect filter.
#include "EngineFixtures.h"

#include "capture/engine/DeviceSettings.h"
#include "capture/engine/FormatLists.h"
#include "capture/engine/Registry2.h"

namespace kestrom::engine::test {

namespace {

class DeviceSettingsTest : public EngineTest {
 protected:
  const QString key_ = DeviceKeyPath(QStringLiteral("camera one"));
};

}  // namespace

TEST_F(DeviceSettingsTest, TablesHaveTheirEntriesKindsAndDefaults) {
  const TSettingsTable video = TSettingsTable::Video();
  const TSettingsTable audio = TSettingsTable::Audio();
  ASSERT_EQ(video.Count(), 59);
  ASSERT_EQ(audio.Count(), 15);
  EXPECT_EQ(video.ChoicesStart(), 35);
  EXPECT_EQ(audio.ChoicesStart(), 12);
  EXPECT_EQ(video.At(57).name, "CameraControlValues ");
  EXPECT_EQ(video.At(57).block.size(), 168);
  EXPECT_EQ(video.At(55).block.size(), 240);
  EXPECT_EQ(video.At(38).kind, sk_Integer);  // "VideoInputName" is an integer
  EXPECT_EQ(video.Int("TVConnectInput"), 2147483647);
  EXPECT_TRUE(video.Bool("VideoQualityAuto"));
  EXPECT_EQ(video.Int("_AudioInputLevelAssociated"), 50000);
  EXPECT_EQ(audio.Int("SpeakerVolume"), 50000);
}

TEST_F(DeviceSettingsTest, AStoredTableComesBackAndTheRuleKeepsTheChoicesWhenSettingsAreNotStored) {
  TSettingsTable stored = TSettingsTable::Video();
  stored.SetInt("VideoSize", 3);
  stored.SetBool("_IsDVPal", true);
  stored.SetText("VideoInputs", "Tuner\r\nComposite");
  stored.SetRecord("CameraControlValues ", 6, {1, 40, 0, 255, 5, 0});
  ASSERT_TRUE(stored.Store(key_));
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(key_, false));
    int32_t size = 0;
    EXPECT_TRUE(reg.ReadInteger("CameraControlValues Size", size));
    EXPECT_EQ(size, 168);
    EXPECT_TRUE(reg.ValueExists("DummyMAYNOTBESAVED"));
  }
  for (bool all : {true, false}) {
    SCOPED_TRACE(all);
    TSettingsTable read = TSettingsTable::Video();
    EXPECT_TRUE(read.Restore(key_, all));
    EXPECT_TRUE(read.Bool("_IsDVPal"));
    EXPECT_EQ(read.Text("VideoInputs"), "Tuner\r\nComposite");
    EXPECT_EQ(read.Int("VideoSize"), all ? 3 : 0);
    EXPECT_EQ(read.Record("CameraControlValues ", 6).value, all ? 40 : 0);
  }
  TSettingsTable fresh = TSettingsTable::Video();
  EXPECT_FALSE(fresh.Restore(DeviceKeyPath("never seen"), true));
}

TEST_F(DeviceSettingsTest, BadValuesLeaveTheirEntryAndMakeTheRestoreReportFalse) {
  TSettingsTable good = TSettingsTable::Video();
  good.SetInt("VideoInput", 2);
  good.SetRecord("VideoQualityValues", 0, {1, 200, 0, 255, 1, 128});
  const struct {
    const char* name;
    std::function<void(registry::TRegistry&)> spoil;
    std::function<bool(const TSettingsTable&)> kept;
  } cases[] = {
      {"an integer stored as text", [](registry::TRegistry& r) { r.WriteString("VideoInput", "2"); },
       [](const TSettingsTable& t) { return t.Int("VideoInput") == 0; }},
      {"a block of another length",
       [](registry::TRegistry& r) { r.WriteBinaryData("VideoQualityValues", QByteArray(300, '\x7f')); },
       [](const TSettingsTable& t) { return t.Record("VideoQualityValues", 0).value == 0; }},
      {"a size value naming another length", [](registry::TRegistry& r) { r.WriteInteger("VideoQualityValuesSize", 300); },
       [](const TSettingsTable& t) { return t.Record("VideoQualityValues", 0).value == 0; }},
      {"a missing size value", [](registry::TRegistry& r) { r.DeleteValue("VideoQualityValuesSize"); },
       [](const TSettingsTable& t) { return t.Record("VideoQualityValues", 0).value == 200; }},
      {"a missing text", [](registry::TRegistry& r) { r.DeleteValue("AMVideoCrossbar"); },
       [](const TSettingsTable& t) { return t.Int("VideoInput") == 2; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    registry::TRegistry(registry::HKEY_CURRENT_USER).DeleteKey(key_);
    ASSERT_TRUE(good.Store(key_));
    registry::TRegistry reg(registry::HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(key_, false));
    c.spoil(reg);
    reg.CloseKey();
    TSettingsTable read = TSettingsTable::Video();
    EXPECT_FALSE(read.Restore(key_, true));
    EXPECT_TRUE(c.kept(read));
    // Every other entry was still read.
    EXPECT_EQ(read.Int("TVConnectInput"), 2147483647);
  }
}

TEST_F(DeviceSettingsTest, SizeTextsSortByWidthAndParseBack) {
  EXPECT_EQ(SizeText(80, 60), "  80x60");
  EXPECT_EQ(SizeText(640, 480), " 640x480");
  EXPECT_EQ(SizeText(1024, 768), "1024x768");
  QStringList list;
  for (auto [w, h] : {std::pair{1024, 768}, {640, 480}, {80, 60}, {640, 480}, {160, 120}}) AddSorted(list, SizeText(w, h));
  EXPECT_EQ(list, QStringList({"  80x60", " 160x120", " 640x480", "1024x768"}));
  const struct {
    const char* text;
    bool valid;
    int w, h;
  } parses[] = {{"    320x240", true, 320, 240}, {"x240", false, 0, 0}, {"320x", false, 0, 0},
                {"abcx240", false, 0, 0},     {" 0x10", false, 0, 0}, {"half", false, 0, 0}};
  for (const auto& p : parses) {
    int w = -1, h = -1;
    EXPECT_EQ(ParseSize(p.text, w, h), p.valid) << p.text;
    if (p.valid) EXPECT_EQ(std::pair(w, h), std::pair(p.w, p.h)) << p.text;
  }
  QStringList offered = {"     80x60", "  80x60", " 352x288", " 640x480"};
  PreferDefaultSize(offered);
  EXPECT_EQ(offered[0], "    352x288");
  offered << " 320x240";
  PreferDefaultSize(offered);
  EXPECT_EQ(offered[0], "    320x240");
}

TEST_F(DeviceSettingsTest, NearestSizeTable) {
  const QStringList list = {"    320x240", " 160x120", " 320x240", " 352x288", " 640x480", " 720x576", "1280x720"};
  const struct {
    int w, h, expected;
  } cases[] = {
      {640, 480, 4},    // exact
      {700, 560, 5},    // 720x576 nearest and of the nearest aspect
      {1200, 700, 6},   // one entry within the width window: the nearest of all
      {340, 260, 2},    // 320x240 and 352x288 in the window: the aspect decides (4:3)
      {340, 280, 3},    // the same window, aspect nearer 352x288
      {50, 40, 1},      // nothing in the window: the nearest of all
  };
  for (const auto& c : cases)
    EXPECT_EQ(NearestSizeIndex(list, c.w, c.h, -1), c.expected) << c.w << "x" << c.h;
  EXPECT_EQ(NearestSizeIndex({"    320x240"}, 640, 480, 7), 7);
}

TEST_F(DeviceSettingsTest, TheAspectFilterDropsWrongShapesPerFamily) {
  std::array<QStringList, 4> lists;
  const QStringList sizes = {"    640x480", " 352x288", " 640x480", " 720x480", " 720x576"};
  lists[sf_NTSC] = lists[sf_PAL] = lists[sf_SECAM] = sizes;
  FilterByAspect(lists);
  EXPECT_EQ(lists[sf_NTSC], QStringList({"    640x480", " 640x480", " 720x480"}));
  EXPECT_EQ(lists[sf_PAL], QStringList({"    640x480", " 352x288", " 640x480", " 720x576"}));
  EXPECT_EQ(lists[sf_SECAM], lists[sf_PAL]);
  // Lists of different lengths are left alone.
  std::array<QStringList, 4> uneven;
  uneven[sf_NTSC] = sizes;
  uneven[sf_PAL] = {" 720x480"};
  uneven[sf_SECAM] = sizes;
  FilterByAspect(uneven);
  EXPECT_EQ(uneven[sf_PAL], QStringList({" 720x480"}));
}

TEST_F(DeviceSettingsTest, TheFormatCacheKeepsBlanksAndForgetsLongerOldLists) {
  TFormatLists lists;
  lists.sizes[sf_None] = {"    320x240", " 160x120", " 320x240"};
  lists.subtypes = {"{A}", "{A}", "{B}"};
  ASSERT_TRUE(WriteFormatCache(key_, lists));
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(key_, false));
    QString text;
    EXPECT_TRUE(reg.ReadString("-FMT000", text));
    EXPECT_EQ(text, "    320x240");
    EXPECT_TRUE(reg.ValueExists("SUB002"));
  }
  TFormatLists shorter;
  shorter.sizes[sf_None] = {"    160x120", " 160x120"};
  shorter.subtypes = {"{A}", "{A}"};
  ASSERT_TRUE(WriteFormatCache(key_, shorter));
  TFormatLists read;
  ASSERT_TRUE(ReadFormatCache(key_, read));
  EXPECT_EQ(read.sizes[sf_None], shorter.sizes[sf_None]);
  EXPECT_EQ(read.subtypes, shorter.subtypes);
  EXPECT_TRUE(read.sizes[sf_PAL].isEmpty());
}

}  // namespace kestrom::engine::test
