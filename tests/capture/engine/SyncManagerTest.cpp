#include "EngineFixtures.h"

#include "capture/engine/EngineHelpers.h"
#include "capture/engine/SyncManager.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QEventLoop>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

namespace kestrom::engine::test {

class SyncManagerTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetSyncClock(&clock_);
    SetDeviceSignature([this] { return QString::number(signature_); });
    SetDeviceWatchThreadEnabled(false);
    provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "Cam");
    provider_->Plug(CLSID_AudioInputDeviceCategory, "alsa-0", "Line In");
  }
  void Start(bool idle = true) {
    InitGlobalDevices();
    StartSyncManager();
    ASSERT_EQ(SyncState(), 2);
    if (idle) SyncIdleHandler();
  }

  core::ManualClock clock_{100000};
  int signature_ = 0;
};

TEST_F(SyncManagerTest, ThreeDeviceChangesHalfASecondApartGiveOneRebuildTwoSecondsAfterTheLast) {
  Start();
  const int enumerationsAtStart = provider_->enumerations;
  std::vector<int64_t> rebuildTimes;
  const int64_t t0 = clock_.NowMs();
  for (int step = 0; step <= 60; ++step) {  // 6 s in polls of 100 ms
    if (step == 0 || step == 5 || step == 10) ++signature_;
    PollDeviceWatch();
    const int before = provider_->enumerations;
    PumpMessagesOnce();
    if (provider_->enumerations != before) rebuildTimes.push_back(clock_.NowMs() - t0);
    clock_.Advance(100);
  }
  ASSERT_EQ(rebuildTimes.size(), 1u);
  EXPECT_GE(rebuildTimes[0], 1000 + 2000);
  EXPECT_LE(rebuildTimes[0], 1000 + 2100);
  EXPECT_GT(provider_->enumerations, enumerationsAtStart);
}

TEST_F(SyncManagerTest, DeviceNoticesFromOutsideAreDebouncedTheSameWay) {
  Start();
  const int before = provider_->enumerations;
  NotifyDeviceChange();
  clock_.Advance(1500);
  NotifyDeviceChange();  // pushes the deadline back
  clock_.Advance(1000);
  PollDeviceWatch();
  PumpMessagesOnce();
  EXPECT_EQ(provider_->enumerations, before);
  clock_.Advance(1001);
  PollDeviceWatch();
  PumpMessagesOnce();
  EXPECT_GT(provider_->enumerations, before);
}

TEST_F(SyncManagerTest, ADeviceChangeBeforeTheFirstIdleMomentRebuildsNothing) {
  Start(false);
  FakeComponent component;
  RegisterComponent(&component);
  const int before = provider_->enumerations;
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-2", "Second Cam");
  ++signature_;
  PollDeviceWatch();
  clock_.Advance(2100);
  PollDeviceWatch();
  PumpMessagesOnce();
  EXPECT_EQ(provider_->enumerations, before);
  EXPECT_TRUE(component.deviceEvents.empty());
  UnregisterComponent(&component);
}

TEST_F(SyncManagerTest, TheUnitSetUpRemovesTheEnginesTemporaryFilesOfEarlierRuns) {
  QTemporaryDir tmp;
  const QByteArray previousTmp = qgetenv("TMPDIR");
  qputenv("TMPDIR", tmp.path().toUtf8());
  const QString folder = EngineTempFolder();
  ASSERT_FALSE(folder.isEmpty());
  const QString stale = folder + "/tfkOLD1.tmp", fresh = folder + "/tfkNEW1.tmp", other = folder + "/abcOLD1.tmp";
  for (const QString& name : {stale, other}) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.setFileTime(QDateTime::currentDateTime().addSecs(-120), QFileDevice::FileModificationTime);
  }
  QFile(fresh).open(QIODevice::WriteOnly);  // another process's, of a moment ago
  InitGlobalDevices();
  EXPECT_FALSE(QFile::exists(stale));
  EXPECT_TRUE(QFile::exists(fresh));
  EXPECT_TRUE(QFile::exists(other));
  if (previousTmp.isEmpty())
    qunsetenv("TMPDIR");
  else
    qputenv("TMPDIR", previousTmp);
}

TEST_F(SyncManagerTest, ArrivalsAndRemovalsReachEveryComponentWithNameAndIndex) {
  Start();
  FakeComponent a, b;
  RegisterComponent(&a);
  RegisterComponent(&b);
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-2", "Cam");
  provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-9", "Grabber Audio");  // goes to the audio list
  provider_->Plug(CLSID_AudioInputDeviceCategory, "alsa-1", "Headset");
  RebuildDevicesAndNotify();
  using E = FakeComponent::DeviceEvent;
  const std::vector<E> arrivals{{true, true, "Cam #2 (WDM)", 1},
                                {true, false, "Grabber Audio (WDM)", 1},
                                {true, false, "Headset (WDM)", 2}};
  EXPECT_EQ(a.deviceEvents, arrivals);
  EXPECT_EQ(b.deviceEvents, arrivals);

  a.deviceEvents.clear();
  provider_->Unplug(CLSID_VideoInputDeviceCategory, "usb-1");
  provider_->Unplug(CLSID_AudioInputDeviceCategory, "alsa-1");
  RebuildDevicesAndNotify();
  EXPECT_EQ(a.deviceEvents, (std::vector<E>{{false, true, "Cam (WDM)", 0}, {false, false, "Headset (WDM)", 2}}));

  a.deviceEvents.clear();
  RebuildDevicesAndNotify();  // nothing changed
  EXPECT_TRUE(a.deviceEvents.empty());
  UnregisterComponent(&a);
  UnregisterComponent(&b);
}

TEST_F(SyncManagerTest, CommandsRunOnTheGuiThreadForLiveComponentsOnly) {
  Start();
  FakeComponent live;
  RegisterComponent(&live);
  for (TSyncCommand c : {sy_StartPreview, sy_StartChannelScan, sy_Reserved6, sy_Stop, sy_DispatchEvents})
    PostSyncCommand(c, &live);
  PumpMessagesOnce();
  EXPECT_EQ(live.commands, (std::vector<TSyncCommand>{sy_StartPreview, sy_Stop, sy_DispatchEvents}));

  PostSyncCommand(sy_WmvcoreMissing, &live);
  PumpMessagesOnce();
  ASSERT_EQ(live.logged.size(), 1u);
  EXPECT_EQ(live.logged[0].code, 38);
  EXPECT_EQ(live.logged[0].message, "wmvcore.dll not found. Install the Media Player 9.");

  // A command still queued when its component goes is dropped, not delivered to freed memory.
  auto* gone = new FakeComponent;
  RegisterComponent(gone);
  PostSyncCommand(sy_StartRecording, gone);
  PostSyncCommand(sy_PlayerStep, gone);
  UnregisterComponent(gone);
  delete gone;
  PumpMessagesOnce();

  live.SetClosing();
  PostSyncCommand(sy_OpenPlayer, &live);
  PumpMessagesOnce();
  EXPECT_EQ(live.commands.size(), 3u);
  UnregisterComponent(&live);
}

TEST_F(SyncManagerTest, TheFirstIdleMomentStartsTheAutoPreviewsOnce) {
  Start(false);
  FakeComponent automatic, manual, busy;
  automatic.autoStart = true;
  busy.autoStart = true;
  busy.state = cs_Player;
  RegisterComponent(&automatic);
  RegisterComponent(&manual);
  RegisterComponent(&busy);
  SyncIdleHandler();
  EXPECT_EQ(SyncState(), 3);
  automatic.state = cs_None;
  SyncIdleHandler();
  EXPECT_EQ(automatic.previews, 1);
  EXPECT_EQ(manual.previews, 0);
  EXPECT_EQ(busy.previews, 0);
  for (auto* c : {&automatic, &manual, &busy}) UnregisterComponent(c);
}

TEST_F(SyncManagerTest, TheIdleMomentIsWhenTheEventLoopFirstWaits) {
  Start(false);
  FakeComponent automatic;
  automatic.autoStart = true;
  RegisterComponent(&automatic);
  PumpMessagesOnce();  // pumping inside a method is not an idle moment
  EXPECT_EQ(SyncState(), 2);
  QEventLoop loop;
  // Connected after the manager, so the loop ends right after the manager saw it wait.
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                   &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(SyncState(), 3);
  EXPECT_EQ(automatic.previews, 1);
  UnregisterComponent(&automatic);
}

namespace {

class Form : public QWidget {
 public:
  bool acceptClose = true;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (acceptClose)
      event->accept();
    else
      event->ignore();
  }
};

}  // namespace

TEST_F(SyncManagerTest, AnAcceptedCloseStopsOnlyTheComponentsOfThatForm) {
  Start();
  Form first, second;
  first.show();
  second.show();
  FakeComponent onFirst, onSecond;
  onFirst.form = &first;
  onSecond.form = &second;
  onFirst.state = onSecond.state = cs_Preview;
  RegisterComponent(&onFirst);
  RegisterComponent(&onSecond);

  first.acceptClose = false;
  EXPECT_FALSE(first.close());
  EXPECT_EQ(onFirst.stops, 0);
  EXPECT_FALSE(onFirst.Closing());

  first.acceptClose = true;
  EXPECT_TRUE(first.close());
  EXPECT_FALSE(first.isVisible());
  EXPECT_EQ(onFirst.stops, 1);
  EXPECT_TRUE(onFirst.Closing());
  EXPECT_EQ(onSecond.stops, 0);
  EXPECT_EQ(onSecond.state, cs_Preview);

  second.move(second.pos() + QPoint(30, 20));
  QCoreApplication::sendPostedEvents();
  EXPECT_GE(onSecond.repaints, 1);
  EXPECT_EQ(onFirst.repaints, 0);  // closing components are left alone
  UnregisterComponent(&onFirst);
  UnregisterComponent(&onSecond);
}

TEST_F(SyncManagerTest, ACloseBeforeTheFirstIdleMomentStopsNothing) {
  Start(false);
  Form form;
  form.show();
  FakeComponent component;
  component.form = &form;
  RegisterComponent(&component);
  EXPECT_TRUE(form.close());
  EXPECT_EQ(component.stops, 0);
  UnregisterComponent(&component);
}

TEST_F(SyncManagerTest, SequentialNumbersContinueFromTheFilesInTheFolder) {
  Start();
  QTemporaryDir empty, used;
  EXPECT_EQ(NextSequentialNumber(empty.path(), "fk", "avi"), 1);
  EXPECT_EQ(NextSequentialNumber(empty.path(), "fk", "avi"), 2);

  for (const char* name : {"fk000007.avi", "fk000012.bmp", "fk000099.txt", "fkabcdef.avi", "other000050.avi"}) {
    QFile f(used.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  EXPECT_EQ(NextSequentialNumber(used.path() + "/", "fk", "avi"), 8);
  const int bmp = SequentialIndexOf(used.path(), "fk", "bmp");
  EXPECT_EQ(SequentialCount(bmp), 12);
  EXPECT_EQ(SequentialIndexOf(used.path(), "fk", "txt"), -1);
  const int avi = SequentialIndexOf(used.path(), "fk", "avi");
  ReleaseSequentialNumber(avi);
  EXPECT_EQ(NextSequentialNumber(used.path(), "fk", "avi"), 8);
  EXPECT_EQ(SequentialCount(-1), -1);
  EXPECT_EQ(SequentialCount(1000), -1);
}

TEST_F(SyncManagerTest, WithoutTheManagerANumberIsOneAndTheMissIsLogged) {
  EnableProcessLog();
  EXPECT_EQ(NextSequentialNumber(workDir_.path(), "fk", "avi"), 1);
  EXPECT_EQ(NextSequentialNumber(workDir_.path(), "fk", "avi"), 1);
  EXPECT_TRUE(ProcessLogLines().last().endsWith("ERROR: sequential file count not found: " + workDir_.path() + "/fkavi"));
}

TEST_F(SyncManagerTest, StoppingWritesTheEndBannerAndForgetsTheComponents) {
  EnableProcessLog();
  Start();
  FakeComponent component;
  RegisterComponent(&component);
  EXPECT_NE(component.SyncId(), 0u);
  PostSyncCommand(sy_Stop, &component);
  StopSyncManager();
  EXPECT_EQ(SyncState(), 0);
  EXPECT_EQ(component.SyncId(), 0u);
  PumpMessagesOnce();
  EXPECT_TRUE(component.commands.empty());
  const QStringList lines = ProcessLogLines();
  EXPECT_TRUE(lines[lines.size() - 3].endsWith(EndBannerText));
  EXPECT_EQ(VideoDeviceList(), nullptr);
}

}  // namespace kestrom::engine::test
