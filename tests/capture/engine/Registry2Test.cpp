#include "EngineFixtures.h"

#include "capture/engine/Registry2.h"

namespace kestrom::engine::test {

using Registry2Test = EngineTest;

TEST_F(Registry2Test, TypedReadsCheckTypeAndLength) {
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(StorePath() + "Devices\\Cam", true));
    reg.WriteString("Text", "hello");
    reg.WriteString("NumberAsText", "42");
    reg.WriteString("Empty", "");
    reg.WriteInteger("Number", -7);
    reg.WriteBool("Flag", true);
    reg.WriteFloat("Rate", 29.97);
    const char four[4] = {1, 2, 3, 4};
    reg.WriteBinary("Four", four, 4);
    const char eight[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    reg.WriteBinary("Eight", eight, 8);
    reg.Registry().WriteExpandString("Expand", "%HOME%/x");
  }
  TRegistry2 reg;
  ASSERT_TRUE(reg.OpenKey(StorePath() + "Devices\\Cam", false));

  QString text;
  int32_t number = 0;
  bool flag = false;
  double real = 0;
  EXPECT_TRUE(reg.ReadString("Text", text));
  EXPECT_EQ(text, "hello");
  EXPECT_TRUE(reg.ReadString("Expand", text));
  EXPECT_EQ(text, "%HOME%/x");
  EXPECT_TRUE(reg.ReadString("NumberAsText", text));
  EXPECT_EQ(text, "42");
  EXPECT_FALSE(reg.ReadInteger("NumberAsText", number));  // an integer stored as text is missing
  EXPECT_FALSE(reg.ReadString("Number", text));
  EXPECT_TRUE(text.isEmpty());
  EXPECT_TRUE(reg.ReadInteger("Number", number));
  EXPECT_EQ(number, -7);
  EXPECT_TRUE(reg.ReadBool("Flag", flag));
  EXPECT_TRUE(flag);
  EXPECT_FALSE(reg.ReadInteger("Four", number));  // binary, even of 4 bytes
  EXPECT_TRUE(reg.ReadFloat("Rate", real));
  EXPECT_DOUBLE_EQ(real, 29.97);
  EXPECT_FALSE(reg.ReadFloat("Four", real));
  EXPECT_FALSE(reg.ReadFloat("Number", real));
  EXPECT_FALSE(reg.ReadInteger("Missing", number));

  char buffer[8] = {};
  int size = -1;
  EXPECT_TRUE(reg.ReadBinary("Four", buffer, 4, size));
  EXPECT_EQ(size, 4);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_FALSE(reg.ReadBinary("Four", buffer, 8, size));  // another length than expected
  EXPECT_FALSE(reg.ReadBinary("Text", buffer, 6, size));  // a string is not binary

  int stored = 0, type = -1;
  EXPECT_FALSE(reg.ReadRaw("Eight", buffer, 4, stored, type));  // does not fit
  EXPECT_EQ(stored, 8);
  EXPECT_EQ(type, rt_Binary);
  EXPECT_TRUE(reg.ReadRaw("Number", buffer, 8, stored, type));
  EXPECT_EQ(stored, 4);
  EXPECT_EQ(type, rt_Integer);
  EXPECT_TRUE(reg.ReadRaw("Text", buffer, 8, stored, type));
  EXPECT_EQ(type, rt_String);
  EXPECT_FALSE(reg.ReadString("Empty", text) && !text.isEmpty());
}

TEST_F(Registry2Test, AStoreOfAnotherVersionIsWipedOnceAndKeptAfterwards) {
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(StorePath() + "Devices\\Old camera", true));
    reg.WriteInteger("Brightness", 3);
  }
  CheckStoreVersion();
  TRegistry2 reg;
  EXPECT_FALSE(reg.KeyExists(StorePath() + "Devices\\Old camera"));
  EXPECT_TRUE(reg.KeyExists(StoreVersionPath()));

  ASSERT_TRUE(reg.OpenKey(DeviceKeyPath("New camera"), true));
  reg.WriteInteger("Brightness", 5);
  CheckStoreVersion();
  TRegistry2 again;
  ASSERT_TRUE(again.OpenKey(DeviceKeyPath("New camera"), false));
  int32_t value = 0;
  EXPECT_TRUE(again.ReadInteger("Brightness", value));
  EXPECT_EQ(value, 5);
}

namespace {

class FakeFilterState : public FilterStateAccess {
 public:
  bool HasPersistStream() const override { return persist; }
  std::optional<QByteArray> SaveStream() override { return stream; }
  bool LoadStream(const QByteArray& bytes) override {
    loadedStream = bytes;
    return true;
  }
  bool HasDriverState() const override { return driver; }
  int DriverStateSize() override { return static_cast<int>(driverState.size()); }
  std::optional<QByteArray> ReadDriverState(int size) override { return driverState.left(size); }
  bool WriteDriverState(const QByteArray& bytes) override {
    loadedDriverState = bytes;
    return true;
  }

  bool persist = true;
  bool driver = true;
  QByteArray stream = "persisted filter stream";
  QByteArray driverState = QByteArray(16, 'd');
  std::optional<QByteArray> loadedStream, loadedDriverState;
};

}  // namespace

TEST_F(Registry2Test, FilterStateIsRestoredOnlyWhenItsSizeStillMatches) {
  const QString key = DeviceKeyPath("Cam");
  FakeFilterState saved;
  ASSERT_TRUE(SaveFilterState(&saved, key));

  FakeFilterState same;
  EXPECT_TRUE(LoadFilterState(&same, key));
  EXPECT_EQ(same.loadedStream, saved.stream);
  EXPECT_EQ(same.loadedDriverState, saved.driverState);

  // The driver now reports another size: its stored state is left alone.
  FakeFilterState changed;
  changed.driverState = QByteArray(20, 'x');
  EXPECT_TRUE(LoadFilterState(&changed, key));
  EXPECT_TRUE(changed.loadedStream.has_value());
  EXPECT_FALSE(changed.loadedDriverState.has_value());

  // A stream whose recorded size disagrees with its bytes is not handed to the filter.
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(key, false));
    reg.WriteInteger("WDMStateSize", 3);
  }
  FakeFilterState mismatched;
  mismatched.driver = false;
  EXPECT_FALSE(LoadFilterState(&mismatched, key));
  EXPECT_FALSE(mismatched.loadedStream.has_value());

  // A damaged size is not taken as the size of a buffer to read into.
  {
    TRegistry2 reg;
    ASSERT_TRUE(reg.OpenKey(key, false));
    reg.WriteInteger("WDMStateSize", 0x7FFFFFFF);
  }
  FakeFilterState damaged;
  damaged.driver = false;
  EXPECT_FALSE(LoadFilterState(&damaged, key));
  EXPECT_FALSE(damaged.loadedStream.has_value());

  FakeFilterState nothing;
  EXPECT_FALSE(LoadFilterState(&nothing, DeviceKeyPath("Never saved")));
  EXPECT_FALSE(LoadFilterState(static_cast<FilterStateAccess*>(nullptr), key));
  TRegistry2 reg;
  EXPECT_FALSE(reg.KeyExists(DeviceKeyPath("Never saved")));
}

}  // namespace kestrom::engine::test
