#include "EngineFixtures.h"

#include "capture/engine/EngineLog.h"

#include <QFile>
#include <thread>

namespace kestrom::engine::test {

namespace {

QByteArray FileText() {
  QFile file(QString::fromLatin1(ProcessLogFileName));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Joined(const QStringList& lines) {
  QByteArray bytes;
  for (const QString& l : lines) bytes += l.toUtf8() + "\r\n";
  return bytes;
}

}  // namespace

class ProcessLogTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    core::SetSystemClock(&clock_);
  }
  core::ManualClock clock_{5000};
};

TEST_F(ProcessLogTest, NothingIsWrittenWhileTheLogIsOff) {
  WriteLog("a line");
  EXPECT_TRUE(ProcessLogLines().isEmpty());
  EXPECT_FALSE(QFile::exists(ProcessLogFileName));
}

TEST_F(ProcessLogTest, FirstLineFollowsTheBeginBannerAndLaterLinesCarryTheSecondsBetween) {
  EnableProcessLog();
  WriteLog("first");
  clock_.Advance(16);
  WriteLog("second");
  clock_.Advance(2500);
  WriteLog("v", "rebuilding video device");

  const QString rule80(80, '=');
  const QString v80(80, 'v');
  const QStringList expected{"", rule80, BeginBannerText, rule80, "", "first", "0.016 second",
                             "", v80, "2.500 rebuilding video device", v80, ""};
  EXPECT_EQ(ProcessLogLines(), expected);
  EXPECT_EQ(FileText(), Joined(expected));
}

TEST_F(ProcessLogTest, FileAlwaysHoldsTheWholeLogEvenAfterItWentMissing) {
  EnableProcessLog();
  WriteLog("one");
  WriteLog("two");
  ASSERT_TRUE(QFile::remove(ProcessLogFileName));
  WriteLog("three");
  EXPECT_EQ(FileText(), Joined(ProcessLogLines()));
  // Someone else wrote to the file: it is put right at the next line.
  {
    QFile f(ProcessLogFileName);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("garbage\r\n");
  }
  WriteLog("four");
  EXPECT_EQ(FileText(), Joined(ProcessLogLines()));
  EXPECT_EQ(ProcessLogLines().last(), "0.000 four");
}

TEST_F(ProcessLogTest, LinesFromManyThreadsAreAllKeptWhole) {
  EnableProcessLog();
  WriteLog("start");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) WriteLog(QString("thread %1 line %2").arg(t).arg(i));
    });
  for (auto& th : threads) th.join();
  const QStringList lines = ProcessLogLines();
  EXPECT_EQ(lines.size(), 5 + 1 + 200);
  EXPECT_EQ(FileText(), Joined(lines));
}

// Every combination of outcome and level: the line written and whether OnLog fires.
TEST_F(ProcessLogTest, CheckLinesAndEventsOverOutcomeAndLevel) {
  EnableProcessLog();
  WriteLog("start");
  struct Case {
    bool failed;
    int level;
    const char* line;
    const char* eventSeverity;  // nullptr: no event
  };
  const Case cases[] = {
      {false, 0, "46 : no video device selected", nullptr},
      {false, 1, "46 : no video device selected", nullptr},
      {false, 2, "46 : no video device selected", nullptr},
      {false, 3, "46 : no video device selected", nullptr},
      {true, 0, "46 ERROR: no video device selected", nullptr},
      {true, 1, "46 INFO: no video device selected", "INFO"},
      {true, 2, "46 WARNING: no video device selected", "WARNING"},
      {true, 3, "46 ERROR: no video device selected", "ERROR"},
      {true, 7, "46 ERROR: no video device selected", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "failed " << c.failed << " level " << c.level);
    FakeComponent component;
    const bool result = CheckAndLog(&component, c.failed, c.level, "no video device selected",
                                    TLogType::e_no_video_device_selected);
    EXPECT_EQ(result, c.failed);
    EXPECT_EQ(ProcessLogLines().last(), QString("0.000 ") + c.line);
    if (c.eventSeverity) {
      ASSERT_EQ(component.logged.size(), 1u);
      EXPECT_EQ(component.logged[0].code, 46);
      EXPECT_EQ(component.logged[0].severity, c.eventSeverity);
      EXPECT_EQ(component.logged[0].message, "no video device selected");
    } else {
      EXPECT_TRUE(component.logged.empty());
    }
  }
}

TEST_F(ProcessLogTest, ChecksOfAComponentNotYetConstructedOrBeingDestroyed) {
  EnableProcessLog();
  FakeComponent constructing;
  constructing.initialised = false;
  EXPECT_TRUE(CheckAndLog(&constructing, false, 3, "passes", TLogType::e_failed));
  EXPECT_TRUE(ProcessLogLines().isEmpty());
  EXPECT_TRUE(constructing.logged.empty());

  FakeComponent dying;
  dying.destroying = true;
  EXPECT_TRUE(CheckAndLog(&dying, true, 3, "fails", TLogType::e_failed));
  EXPECT_EQ(ProcessLogLines().last(), "9 ERROR: fails");
  EXPECT_TRUE(dying.logged.empty());
}

TEST_F(ProcessLogTest, FailedChecksFireEventsWhileTheLogIsOff) {
  FakeComponent component;
  EXPECT_TRUE(CheckAndLog(&component, true, 2, "capture cancelled", TLogType::w_recording_cancelled_by_user));
  ASSERT_EQ(component.logged.size(), 1u);
  EXPECT_EQ(component.logged[0].code, 100);
  EXPECT_TRUE(ProcessLogLines().isEmpty());
}

TEST_F(ProcessLogTest, LogYesNoAndCodeNames) {
  EnableProcessLog();
  EXPECT_TRUE(LogYesNo(true, "instance: Sys dev enum"));
  EXPECT_FALSE(LogYesNo(false, "instance: Sys dev enum"));
  const QStringList lines = ProcessLogLines();
  EXPECT_EQ(lines[lines.size() - 2], "instance: Sys dev enum: YES");
  EXPECT_EQ(lines.last(), "0.000 instance: Sys dev enum: no");
  EXPECT_STREQ(LogTypeName(TLogType::e_add_filter), "e_add_filter");
  EXPECT_STREQ(LogTypeName(TLogType::e_library_not_found), "e_library_not_found");
  EXPECT_STREQ(LogTypeName(TLogType::w_using_nearest_video_size), "w_using_nearest_video_size");
  EXPECT_EQ(static_cast<int>(TLogType::w_using_nearest_video_size), 104);
}

TEST_F(ProcessLogTest, CheckModeTable) {
  EnableProcessLog();
  WriteLog("start");
  struct Case {
    TCurrentState state;
    int allowed;
    int device;
    bool required;
    bool captureSource;
    const char* failure;  // nullptr: every check passes
  };
  const Case cases[] = {
      {cs_None, cm_Preview, 0, false, true, "start preview first"},
      {cs_None, cm_Preview | cm_Recording, 0, false, true, nullptr},
      {cs_Preview, cm_Preview, 0, true, true, nullptr},
      {cs_Preview, cm_Recording, 0, false, true, "stop preview first"},
      {cs_Recording, cm_Preview, 0, false, true, "stop capture first"},
      {cs_Recording, cm_Recording, 0, false, true, nullptr},
      {cs_Reencoding, cm_Preview, 0, false, true, "wait for reencoding completion"},
      {cs_Player, cm_Preview, 0, false, true, "close player first"},
      {cs_Player, cm_Preview | cm_Player, 0, false, true, nullptr},
      {cs_None, cm_Recording, -1, false, true, "no video device selected"},
      {cs_Preview, cm_Preview | cm_Player, -1, true, true, "no video device selected"},
      {cs_Preview, cm_Preview | cm_Player, -1, true, false, nullptr},
      {cs_Preview, cm_Preview | cm_Player, -1, false, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << c.state << " allowed " << c.allowed << " device " << c.device);
    FakeComponent component;
    component.state = c.state;
    component.videoDevice = c.device;
    component.captureSource = c.captureSource;
    const qsizetype before = ProcessLogLines().size();
    EXPECT_EQ(CheckMode(&component, c.allowed, ll_Error, c.required), c.failure == nullptr);
    EXPECT_EQ(ProcessLogLines().size() - before, 6);  // every check is logged
    if (c.failure) {
      ASSERT_EQ(component.logged.size(), 1u);
      EXPECT_EQ(component.logged[0].message, c.failure);
    } else {
      EXPECT_TRUE(component.logged.empty());
    }
  }
  FakeComponent unborn;
  unborn.initialised = false;
  EXPECT_FALSE(CheckMode(&unborn, cm_Preview | cm_Recording, ll_Error, false));
}

}  // namespace kestrom::engine::test
