// The companion filter module as the engine meets it: the packed image carried by the program,
// its expansion with bounds, loading from a temporary copy, its six creators, and the custom clock.
#include "EngineFixtures.h"

#include "capture/engine/FK.h"
#include "capture/filters/CompanionFilters.h"
#include "capture/engine/EngineHelpers.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"
#include "tests/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>
#include <mutex>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

QByteArray Int32(int32_t v) {
  QByteArray b(4, '\0');
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(u >> (8 * i));
  return b;
}

QByteArray BuiltModule() {
  QFile file(kestrom::test::BinPath(QStringLiteral("tfcatch.so")));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class CompanionModule : public EngineTest {
 protected:
  // The engine's temporary folder is the test's own: tests in other processes unpack modules
  // into the shared one while these count its files.
  void SetUp() override {
    EngineTest::SetUp();
    EnableProcessLog();
    ASSERT_TRUE(temp_.isValid());
    previousTmp_ = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp_.path()));
  }
  void TearDown() override {
    if (previousTmp_.isNull()) qunsetenv("TMPDIR");
    else qputenv("TMPDIR", previousTmp_);
    EngineTest::TearDown();
  }
  static bool LogHas(const QString& text) { return ProcessLogLines().filter(text).size() > 0; }

 private:
  QTemporaryDir temp_;
  QByteArray previousTmp_;
};

}  // namespace

TEST_F(CompanionModule, TheCarriedImageExpandsToTheBuiltModule) {
  const std::optional<QByteArray> image = TFK::GetGrabberFilterImage();
  ASSERT_TRUE(image);
  const std::optional<QByteArray> module = TFK::ExpandFilterModule(*image);
  ASSERT_TRUE(module);
  const QByteArray built = BuiltModule();
  ASSERT_FALSE(built.isEmpty());
  EXPECT_EQ(module->size(), built.size());
  EXPECT_TRUE(*module == built);
  EXPECT_LT(image->size(), built.size());  // the runs of the module are packed
}

// Each row is a packed image; only the well-formed ones expand, and a refused one writes no file.
TEST_F(CompanionModule, DamagedImagesAreRefusedWritingNothing) {
  struct Row {
    const char* what;
    QByteArray image;
    QByteArray expanded;  // empty: refused
  };
  const std::vector<Row> rows = {
      {"literal then run", Int32(5) + Int32(2) + "ab" + Int32(-3) + "z", "abzzz"},
      {"count 0 writes nothing but takes its byte", Int32(2) + Int32(0) + "q" + Int32(2) + "xy", "xy"},
      {"short image leaves zeros", Int32(3) + Int32(1) + "a", QByteArray("a\0\0", 3)},
      {"literal past the declared size", Int32(2) + Int32(3) + "abc", {}},
      {"run past the declared size", Int32(2) + Int32(-3) + "a", {}},
      {"literal cut short", Int32(4) + Int32(4) + "ab", {}},
      {"run without its byte", Int32(4) + Int32(-4), {}},
      {"count cut short", Int32(4) + Int32(1) + "a" + QByteArray(2, '\1'), {}},
      {"declared size 0", Int32(0), {}},
      {"declared size negative", Int32(-5) + Int32(1) + "a", {}},
      {"declared size over 64 MB", Int32(64 * 1024 * 1024 + 1) + Int32(-1) + "a", {}},
      {"shorter than its size field", QByteArray(3, '\0'), {}},
      {"huge negative count", Int32(4) + Int32(INT32_MIN) + "a", {}},
  };
  const QDir temp(EngineTempFolder());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::optional<QByteArray> expanded = TFK::ExpandFilterModule(row.image);
    if (row.expanded.isEmpty()) {
      EXPECT_FALSE(expanded);
      const QStringList before = temp.entryList({"tfk*"}, QDir::Files);
      const QByteArray image = row.image;
      EXPECT_TRUE(TFK::UnpackFilterModule([image]() -> std::optional<QByteArray> { return image; }).isEmpty());
      EXPECT_EQ(temp.entryList({"tfk*"}, QDir::Files), before);
    } else {
      ASSERT_TRUE(expanded);
      EXPECT_EQ(*expanded, row.expanded);
    }
  }
}

// The module binds to the libraries the process already has: a copy far from the build tree loads,
// and every creator makes a filter of its own class.
TEST_F(CompanionModule, ACopyOutsideTheBuildTreeMakesAllSixFilters) {
  QTemporaryDir elsewhere(QDir::tempPath() + "/tfcatch-copy-XXXXXX");
  ASSERT_TRUE(elsewhere.isValid());
  const QString copy = elsewhere.filePath("module.bin");
  QFile file(copy);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(BuiltModule());
  file.close();
  struct Row {
    const char* name;
    const CLSID* clsid;
  };
  const Row rows[] = {{filters::kCreateGrabber, &filters::CLSID_TfcGrabber},
                      {filters::kCreateGrabberNoModify, &filters::CLSID_TfcGrabberNoModify},
                      {filters::kCreateTransform, &filters::CLSID_TfcTransform},
                      {filters::kCreatePushSource, &filters::CLSID_TfcPushSource},
                      {filters::kCreateCustomClock, &filters::CLSID_TfcCustomClock},
                      {filters::kCreateRawWriter, &filters::CLSID_TfcRawWriter}};
  TFK::TModuleHolder holder;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ComPtr<IBaseFilter> filter;
    ASSERT_TRUE(TFK::CreateFilterFromModule(copy, holder, row.name, filter));
    ASSERT_TRUE(filter);
    CLSID clsid{};
    EXPECT_EQ(filter->GetClassID(&clsid), com::S_OK);
    EXPECT_EQ(clsid, *row.clsid);
  }
  ComPtr<IBaseFilter> none;
  EXPECT_FALSE(TFK::CreateFilterFromModule(copy, holder, "CreateLocalNothing", none));
  EXPECT_FALSE(none);
}


namespace {

/** @brief A packed image of the bytes as one literal record. */
QByteArray PackedAsIs(const QByteArray& bytes) { return Int32(static_cast<int32_t>(bytes.size())) + Int32(static_cast<int32_t>(bytes.size())) + bytes; }

struct FakeTime {
  int64_t now = 1'000'000;
  static int64_t Read(void* self) { return static_cast<FakeTime*>(self)->now; }
};

}  // namespace

TEST_F(CompanionModule, TheClockValueFollowsTheSpeedRatioAndRunsThatMuchFaster) {
  EXPECT_EQ(TFK::ClockRateValue(1.0), 652);
  EXPECT_EQ(TFK::ClockRateValue(2.0), 326);
  EXPECT_EQ(TFK::ClockRateValue(0.5), 1304);

  TFK fk;
  ComPtr<IBaseFilter> clock;
  ASSERT_TRUE(fk.CreateOwnFilter(fk.FilterImage(), QString(), filters::kCreateCustomClock, fk.ClockHolder(), clock));
  ComPtr<IReferenceClock> reference;
  ComPtr<filters::IClockRate> rate;
  ASSERT_EQ(clock->QueryInterface(IID_IReferenceClock, reference.PutVoid()), com::S_OK);
  ASSERT_EQ(clock->QueryInterface(filters::IID_IClockRate, rate.PutVoid()), com::S_OK);
  FakeTime time;
  ASSERT_EQ(rate->SetTimeBase(&FakeTime::Read, &time), com::S_OK);
  ASSERT_EQ(rate->SetRate(TFK::ClockRateValue(2.0)), com::S_OK);
  REFERENCE_TIME a = 0, b = 0, c = 0;
  reference->GetTime(&a);
  time.now += 10'000'000;  // one second of real time
  reference->GetTime(&b);
  EXPECT_NEAR(static_cast<double>(b - a), 2.0 * 10'000'000, 0.001 * 10'000'000);
  // A new ratio while running goes on from where the clock stands.
  ASSERT_EQ(rate->SetRate(TFK::ClockRateValue(0.5)), com::S_OK);
  reference->GetTime(&c);
  EXPECT_EQ(c, b);
  time.now += 10'000'000;
  reference->GetTime(&c);
  EXPECT_NEAR(static_cast<double>(c - b), 0.5 * 10'000'000, 0.001 * 10'000'000);
  EXPECT_EQ(rate->SetRate(0), com::E_INVALIDARG);
}

TEST_F(CompanionModule, TheModuleIsExpandedAndLoadedOncePerProcess) {
  TFK first, second;
  ComPtr<IBaseFilter> a, b;
  ASSERT_TRUE(first.CreateOwnFilter(first.FilterImage(), QString(), filters::kCreateRawWriter, first.RawWriterHolder(), a));
  const QStringList before = QDir(EngineTempFolder()).entryList({"tfk*"}, QDir::Files);
  ASSERT_TRUE(second.CreateOwnFilter(second.FilterImage(), QString(), filters::kCreateTransform, second.TransformHolder(), b));
  ASSERT_TRUE(second.CreateOwnFilter(second.FilterImage(), QString(), filters::kCreateGrabber, second.GrabberHolder(7), b));
  EXPECT_EQ(QDir(EngineTempFolder()).entryList({"tfk*"}, QDir::Files), before);
  EXPECT_NE(first.RawWriterHolder().module, nullptr);
  EXPECT_EQ(first.RawWriterHolder().module, second.TransformHolder().module);
  EXPECT_EQ(first.RawWriterHolder().module, second.GrabberHolder(7).module);
}

// Run only as the child of the next test: loads the module and says how many module files the
// engine's temporary folder then holds.
TEST_F(CompanionModule, ChildProcessLoadsTheModule) {
  if (qEnvironmentVariableIsEmpty("KESTROM_COMPANION_CHILD")) GTEST_SKIP() << "only as a child process";
  TFK fk;
  ComPtr<IBaseFilter> a, b;
  ASSERT_TRUE(fk.CreateOwnFilter(fk.FilterImage(), QString(), filters::kCreateRawWriter, fk.RawWriterHolder(), a));
  ASSERT_TRUE(fk.CreateOwnFilter(fk.FilterImage(), QString(), filters::kCreateTransform, fk.TransformHolder(), b));
  std::printf("module files: %lld\n",
              static_cast<long long>(QDir(EngineTempFolder()).entryList({"tfk*"}, QDir::Files).size()));
  std::fflush(stdout);
}

TEST_F(CompanionModule, TheExpandedModuleFileIsDeletedWhenTheProcessEnds) {
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("KESTROM_COMPANION_CHILD", "1");
  env.insert("TMPDIR", temp.path());
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=CompanionModule.ChildProcessLoadsTheModule"});
  ASSERT_TRUE(child.waitForFinished(60000));
  const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
  EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains("module files: 1")) << output.toStdString();
  EXPECT_TRUE(QDir(temp.path() + "/kestrom-" + QString::number(getuid())).entryList({"tfk*"}, QDir::Files).isEmpty());
}

// A damaged image, or a library without the creators, fails the build that wanted the filter:
// nothing is left in the graph and the preview reports its failure.
TEST_F(CompanionModule, ADamagedImageOrAMissingExportCannotLoadTheFilter) {
  QFile other(kestrom::test::BinPath("deinterlacer.so"));
  ASSERT_TRUE(other.open(QIODevice::ReadOnly));
  const QByteArray withoutCreators = PackedAsIs(other.readAll());
  std::optional<QByteArray> carried = TFK::GetGrabberFilterImage();
  ASSERT_TRUE(carried);
  QByteArray truncated = carried->left(carried->size() / 2);
  for (const QByteArray& image : {truncated, withoutCreators}) {
    TFK fk;
    fk.SetFilterImageGetter([image]() -> std::optional<QByteArray> { return image; });
    ComPtr<IBaseFilter> filter;
    EXPECT_FALSE(fk.CreateOwnFilter(fk.FilterImage(), QStringLiteral("GRB_RGB"), filters::kCreateGrabber,
                                    fk.GrabberHolder(7), filter));
    EXPECT_FALSE(filter);
    EXPECT_TRUE(LogHas("39 ERROR: cannot load filter GRB_RGB"));
  }
}

// A small graph built by the engine: its push source gives pictures, its transform turns them a
// quarter turn, and a sample grabber hands each to the sample event.
TEST_F(CompanionModule, PushSourceTransformAndSampleGrabberRunInTheEnginesGraph) {
  TFK fk;
  fk.SetFrameRate(50);
  fk.SetVideoProcessing_Rotation(rt_90_deg);
  fk.SetSampleCaptureAsyncEvent(false);  // every sample at once, on the streaming thread
  std::mutex mutex;
  std::vector<QByteArray> samples;
  std::vector<int> kinds;
  fk.Events().OnSampleCapture_Video = [&](QObject*, TSampleData& d) {
    std::lock_guard lock(mutex);
    samples.emplace_back(reinterpret_cast<const char*>(d.Buffer), d.DataLength);
    kinds.push_back(d.BitmapHeader ? d.BitmapHeader->biWidth : -1);
  };
  fk.SnapshotBuildParameters();
  ASSERT_TRUE(fk.CreateFilterGraph());
  // Two pictures of 4 x 2 pixels, 24 bits, bottom row first: pixel i of the memory holds bytes i, i, i.
  struct Feed {
    int given = 0;
    static HRESULT Fill(void* self, BYTE* buffer, LONG size, BOOL* end) {
      auto* feed = static_cast<Feed*>(self);
      if (feed->given++ == 2) {
        *end = 1;
        return com::S_OK;
      }
      for (LONG i = 0; i < size; ++i) buffer[i] = static_cast<BYTE>(i / 3);
      return com::S_OK;
    }
    static HRESULT Format(void*, LONG* size, BYTE** format, BYTE** buffer) {
      auto* header = static_cast<BITMAPINFOHEADER*>(com::CoTaskMemAlloc(sizeof(BITMAPINFOHEADER)));
      *header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 4, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
      *size = sizeof(BITMAPINFOHEADER);
      *format = *buffer = reinterpret_cast<BYTE*>(header);
      return com::S_OK;
    }
  } feed;
  ComPtr<IPin> chain;
  ASSERT_TRUE(fk.CreatePushSourceFilter(&Feed::Fill, &feed, &Feed::Format, chain));
  ASSERT_TRUE(fk.InsertTransformFilter(chain, true));
  ASSERT_TRUE(fk.InsertGrabber(chain, filters::gk_Sample, nullptr, fk.GrabberHolder(0), fgf_Default));
  ASSERT_TRUE(fk.ConnectNullRenderer(chain.Get()));
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  ASSERT_EQ(fk.Graph()->QueryInterface(IID_IMediaControl, control.PutVoid()), com::S_OK);
  ASSERT_EQ(fk.Graph()->QueryInterface(IID_IMediaEvent, events.PutVoid()), com::S_OK);
  ASSERT_EQ(control->Run(), com::S_OK);
  LONG code = 0;
  EXPECT_EQ(events->WaitForCompletion(10000, &code), com::S_OK);
  control->Stop();
  ASSERT_EQ(samples.size(), 2u);
  // Turned clockwise: 2 x 4 pixels. Shown rows of the source (top first): 4 5 6 7 / 0 1 2 3; turned:
  // 0 4 / 1 5 / 2 6 / 3 7 shown top first, stored bottom row first with rows of 8 bytes.
  const int shown[4][2] = {{0, 4}, {1, 5}, {2, 6}, {3, 7}};
  QByteArray expected;
  for (int row = 3; row >= 0; --row) {
    for (int x = 0; x < 2; ++x) expected += QByteArray(3, static_cast<char>(shown[row][x]));
    expected += QByteArray(2, '\0');
  }
  EXPECT_EQ(samples[1], expected);
  EXPECT_EQ(kinds[1], 2);
  fk.ClearGraph(true);
}

// The frame grabber in the camera's preview gets the frames; with a damaged module image the same
// preview fails cleanly: no graph, no state, and the reason in the log.
TEST_F(CompanionModule, TheFrameGrabberRunsInThePreviewAndADamagedModuleFailsItCleanly) {
  unsetenv("KESTROM_TEST_DEVICES");
  SetDeviceWatchThreadEnabled(false);
  dshow::SetTestCameraPlugged(true);
  dshow::SetTestDevicesLive(false);
  SetDeviceProvider(nullptr);
  for (bool damaged : {false, true}) {
    SCOPED_TRACE(damaged);
    TFK fk;  // the device lists exist once a component does
    const int camera = VideoDeviceList()->IndexOfName(QString::fromUtf16(dshow::kTestCameraName) + " (WDM)");
    ASSERT_GE(camera, 0);
    fk.SetFrameGrabber(fg_BothStreams);
    fk.SetFrameGrabberRGBFormat(fgf_RGB32);
    fk.SetVideoProcessing_InvertColors(true);
    fk.SetVideoDevice(camera);
    if (damaged) fk.SetFilterImageGetter([] { return std::optional<QByteArray>(Int32(100) + Int32(-200) + "x"); });
    if (!damaged) {
      ASSERT_TRUE(fk.StartPreview());
      for (int i = 0; i < 500 && fk.GrabbedFrames() < 3; ++i) QThread::msleep(10);
      EXPECT_GE(fk.GrabbedFrames(), 3);
      // The track bars move while previewing: the running frame grabber takes the new values.
      fk.SetVideoProcessing_Brightness(50);
      EXPECT_TRUE(fk.UpdateVideoProcessing());
      const int64_t before = fk.GrabbedFrames();
      for (int i = 0; i < 500 && fk.GrabbedFrames() < before + 2; ++i) QThread::msleep(10);
      EXPECT_GE(fk.GrabbedFrames(), before + 2);
      fk.StopPreview();
      EXPECT_FALSE(fk.UpdateVideoProcessing());
    } else {
      EXPECT_FALSE(fk.StartPreview());
      EXPECT_EQ(fk.GetCurrentState(), cs_None);
      EXPECT_FALSE(fk.Graph());
      EXPECT_TRUE(LogHas("39 ERROR: cannot load filter GRB_RGB"));
      EXPECT_TRUE(LogHas("failed to start preview"));
    }
  }
  dshow::SetTestDevicesLive(true);
}

TEST_F(CompanionModule, ADVDateIsKeptOnlyOnARealCalendarDay) {
  const int32_t leap[6] = {2004, 2, 29, 10, 11, 12}, notLeap[6] = {2003, 2, 29, 10, 11, 12},
                badMonth[6] = {2004, 13, 1, 0, 0, 0}, dayZero[6] = {2004, 1, 0, 0, 0, 0};
  EXPECT_EQ(TFK::ValidDVDate(leap), (std::array<int32_t, 6>{2004, 2, 29, 10, 11, 12}));
  EXPECT_EQ(TFK::ValidDVDate(notLeap), (std::array<int32_t, 6>{}));
  EXPECT_EQ(TFK::ValidDVDate(badMonth), (std::array<int32_t, 6>{}));
  EXPECT_EQ(TFK::ValidDVDate(dayZero), (std::array<int32_t, 6>{}));
}

}  // namespace kestrom::engine::test
