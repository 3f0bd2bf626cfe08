// Graph events reaching the component: end of stream in the player and with video from images,
// error aborts, a full disk and lost devices during preview and recording; the time code; the
// busy cursor; stepped playback; and that events come only after the graph call that caused them.
#include "ClipGraphFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/Framecatcher.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/DeviceInterfaces.h"
#include "platform/dshow/sources/TestDevices.h"
#include "tools/ClipWriter.h"

#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <csignal>
#include <sys/resource.h>
#include <QGuiApplication>
#include <QSlider>

namespace kestrom::engine {

using com::ComPtr;
using namespace dshow;
using namespace com;

/** @brief Puts graphs the tests built into the engine and reaches the state the events act on. */
struct TGraphEventsTestAccess {
  /** @brief The graph becomes the open clip's, as the player leaves it after its build. */
  static void AdoptPlayer(TFK& k, const ComPtr<IGraphBuilder>& graph, int64_t frames, int64_t frameDuration,
                          bool notifyThread = true) {
    k.state_ = cs_Player;
    k.graph_ = graph;
    ASSERT_TRUE(k.TakeGraphControls());
    k.clipFrameCount_ = frames;
    k.frameDuration_ = frameDuration;
    k.clipDuration_ = frames * frameDuration;
    k.clipSeekable_ = true;
    k.RegisterGraphEvents();
    k.graphActive_ = true;
    if (notifyThread) k.StartNotifyThread();
  }
  static void SetVideoSource(TFK& k, int source) { k.VideoSource_ = source; }
  static void StepBackwards(TFK& k) {
    k.steppingBackwards_ = true;
    k.steppingForwards_ = false;
  }
  static void SetTimecodeReader(TFK& k, IAMTimecodeReader* reader) { k.timecodeReader_ = reader; }
};

namespace test {

namespace {

/** @brief Posts an event to the graph as one of its filters would. */
void Post(TFK& k, LONG code, LONG_PTR param1 = 0, LONG_PTR param2 = 0) {
  ComPtr<IMediaEventSink> sink;
  ASSERT_TRUE(k.Graph());
  ASSERT_EQ(k.Graph()->QueryInterface(IID_IMediaEventSink, sink.PutVoid()), S_OK);
  sink->Notify(code, param1, param2);
}

/** @brief A time code reader that answers a fixed packed BCD value, or fails. */
class FakeTimecodeReader final : public IAMTimecodeReader {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == IID_IAMTimecodeReader) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTCRMode(LONG, LONG*) override { return E_NOTIMPL; }
  HRESULT SetTCRMode(LONG, LONG) override { return E_NOTIMPL; }
  HRESULT put_VITCLine(LONG) override { return E_NOTIMPL; }
  HRESULT get_VITCLine(LONG*) override { return E_NOTIMPL; }
  HRESULT GetTimecode(TIMECODE_SAMPLE* sample) override {
    flagsAsked = sample->dwFlags;
    if (fail) return E_FAIL;
    sample->timecode.dwFrames = packed;
    return S_OK;
  }
  DWORD packed = 0;
  bool fail = false;
  DWORD flagsAsked = 0;
};

}  // namespace

class GraphEvents : public ClipGraphTest {
 protected:
  /** @brief A panel on the test camera, so graph notices travel the way they do in the program. */
  std::unique_ptr<TFramecatcher> Panel() {
    auto panel = std::make_unique<TFramecatcher>();
    TFK& k = panel->Engine();
    k.SetAudioRecording(false);
    k.SetFrameGrabber(fg_Disabled);
    k.SetStoragePath(workDir_.path());
    EXPECT_GE(CameraIndex(), 0);
    k.SetVideoDevice(CameraIndex());
    KeepLog(k);
    return panel;
  }
  /** @brief A 12-frame clip at 25 fps whose pictures carry their numbers. */
  QString Clip() {
    tools::ClipSpec clip;
    clip.codec = "mjpeg";
    clip.size = {160, 120};
    clip.frames = 12;
    return WriteClip(clip, "clip.avi");
  }
  /** @brief The clip rendered into a graph of its own through the layer. */
  static ComPtr<IGraphBuilder> ClipGraph(const QString& clip) {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, IID_IGraphBuilder, &graph), S_OK);
    if (graph) {
      EXPECT_EQ(graph->RenderFile(reinterpret_cast<LPCWSTR>(clip.utf16()), nullptr), S_OK);
    }
    return graph;
  }
};

TEST_F(GraphEvents, EndOfStreamInThePlayerPausesOnTheLastFrameAndTheTrackBarFollows) {
  const QString clip = Clip();
  TFramecatcher panel;
  TFK& k = panel.Engine();
  QSlider slider;
  slider.setRange(1, 12);
  k.SetPlayerTrackBar(&slider);
  int ends = 0;
  std::vector<int64_t> frames;
  k.Events().OnPlayerEndOfStream = [&](QObject*) { ++ends; };
  k.Events().OnFrameProgress = [&](QObject*, const TFrameInfo&) { frames.push_back(k.GetFrameNumber()); };
  TGraphEventsTestAccess::AdoptPlayer(k, ClipGraph(clip), 12, kFrame);
  ASSERT_TRUE(k.SetGraphState(2, QStringLiteral("test")));
  ASSERT_TRUE(WaitUntil([&] { return ends == 1 && k.GetFrameNumber() == 12; }));
  EXPECT_TRUE(k.IsPlayerPaused());
  // The graph's own reading settles once the renderer holds the frame sought.
  EXPECT_TRUE(WaitUntil([&] { return Position(k) == 11 * kFrame; })) << Position(k);
  EXPECT_EQ(slider.value(), 12);
  EXPECT_GE(frames.size(), 2u);
  PumpFor(200);
  EXPECT_EQ(ends, 1);
  EXPECT_TRUE(k.IsPlayerPaused());
  // The user's move of the track bar positions the player on that frame.
  slider.setValue(3);
  EXPECT_TRUE(WaitUntil([&] { return Position(k) == 2 * kFrame; })) << Position(k);
  k.ClosePlayer();
  EXPECT_EQ(k.GetCurrentState(), cs_None);
  EXPECT_EQ(k.NotifyThread(), nullptr);
}

TEST_F(GraphEvents, SteppingBackwardsShowsEachFrameDownToTheFirstThenStops) {
  const QString clip = Clip();
  TFramecatcher panel;
  TFK& k = panel.Engine();
  std::vector<int64_t> shown;
  k.Events().OnFrameProgress = [&](QObject*, const TFrameInfo&) {
    const int64_t position = k.GetPlayerCurrentPosition();
    if (shown.empty() || shown.back() != position) shown.push_back(position);
  };
  TGraphEventsTestAccess::AdoptPlayer(k, ClipGraph(clip), 12, kFrame);
  ASSERT_TRUE(k.SetGraphState(1, QStringLiteral("test")));
  k.SeekPlayer(5 * kFrame);
  TGraphEventsTestAccess::StepBackwards(k);
  PostSyncCommand(sy_PlayerStep, &k);
  ASSERT_TRUE(WaitUntil([&] { return !k.SteppingEnabled() && !shown.empty() && shown.back() == 0; }));
  EXPECT_TRUE(k.IsPlayerPaused());
  // Each step goes one frame back; a step may come before its frame was shown, never two at once.
  ASSERT_GE(shown.size(), 4u) << ::testing::PrintToString(shown);
  for (size_t i = 1; i < shown.size(); ++i) {
    EXPECT_LT(shown[i], shown[i - 1]) << i;
    EXPECT_EQ(shown[i] % kFrame, 0) << i;
  }
}

TEST_F(GraphEvents, VideoFromImagesStopsAtItsEndUnlessItRepeats) {
  for (const bool repeat : {false, true}) {
    SCOPED_TRACE(repeat);
    auto panel = Panel();
    TFK& k = panel->Engine();
    k.SetVideoFromImages_RepeatIndefinitely(repeat);
    int ends = 0;
    k.Events().OnPlayerEndOfStream = [&](QObject*) { ++ends; };
    ASSERT_TRUE(k.StartPreview());
    TGraphEventsTestAccess::SetVideoSource(k, vs_VideoFromImages);
    // The push source's end, as the graph reports it once its renderers are done.
    ComPtr<IMediaEventEx> events;
    ASSERT_EQ(k.Graph()->QueryInterface(IID_IMediaEventEx, events.PutVoid()), S_OK);
    events->CancelDefaultHandling(EC_COMPLETE);
    Post(k, EC_COMPLETE);
    ASSERT_TRUE(WaitUntil([&] { return ends == 1; }));
    EXPECT_EQ(k.GetCurrentState(), repeat ? cs_Preview : cs_None);
    TGraphEventsTestAccess::SetVideoSource(k, vs_VideoCaptureDevice);
  }
}

TEST_F(GraphEvents, AnErrorAbortWhileRecordingStopsItAsFailedAndKeepsAReadableFile) {
  auto panel = Panel();
  TFK& k = panel->Engine();
  std::vector<std::pair<QString, bool>> completed;
  int diskFull = 0;
  k.Events().OnRecordingCompleted = [&](QObject*, const QString& file, bool ok) { completed.emplace_back(file, ok); };
  k.Events().OnDiskFull = [&](QObject*) { ++diskFull; };
  ASSERT_TRUE(k.StartRecording());
  // The device's own frame count reaches the component through the notify thread.
  ASSERT_TRUE(WaitUntil([&] { return k.FrameCount() >= 10; }));
  Post(k, EC_ERRORABORT, E_FAIL);
  ASSERT_TRUE(WaitUntil([&] { return !completed.empty(); }));
  EXPECT_EQ(k.GetCurrentState(), cs_None);
  EXPECT_FALSE(completed[0].second);
  EXPECT_TRUE(Logged(TLogType::e_graph_error, QStringLiteral("ERROR")));
  EXPECT_EQ(diskFull, 0);
  const std::vector<int> codes = Codes(completed[0].first);
  EXPECT_GE(codes.size(), 10u);
  ExpectConsecutive(codes);
  PumpFor(100);
  EXPECT_EQ(completed.size(), 1u);
}

// The disk fills up during a recording (a file-size limit stands in for it): the writer's failure
// ends the recording by itself as failed, for a full disk, and the file holds the frames written
// up to then, closed as a whole AVI.
TEST_F(GraphEvents, AWriteFailureEndsTheRecordingAsFailedAndKeepsItsFramesInAWholeFile) {
  auto panel = Panel();
  TFK& k = panel->Engine();
  std::vector<std::pair<QString, bool>> completed;
  k.Events().OnRecordingCompleted = [&](QObject*, const QString& file, bool ok) { completed.emplace_back(file, ok); };
  ASSERT_TRUE(k.StartRecording());
  ASSERT_TRUE(WaitUntil([&] { return k.FrameCount() >= 10; }));
  const QString file = k.GetLastRecordedFile();
  rlimit unlimited{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = unlimited;
  limited.rlim_cur = rlim_t(QFileInfo(file).size() + (1 << 20));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool ended = WaitUntil([&] { return !completed.empty(); }, 60000);
  setrlimit(RLIMIT_FSIZE, &unlimited);
  std::signal(SIGXFSZ, previousHandler);
  ASSERT_TRUE(ended);
  EXPECT_EQ(completed, (std::vector<std::pair<QString, bool>>{{file, false}}));
  EXPECT_EQ(k.GetCurrentState(), cs_None);
  EXPECT_TRUE(k.LastRecordingFailedForDiskFull());

  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray head = f.read(8);
  EXPECT_EQ(head.left(4), QByteArray("RIFF"));
  EXPECT_EQ(qFromLittleEndian<uint32_t>(head.constData() + 4), uint32_t(f.size() - 8));
  const std::vector<int> codes = Codes(file);
  EXPECT_GE(codes.size(), 10u);
  ExpectConsecutive(codes);
}

TEST_F(GraphEvents, AnErrorAbortOnAFullDiskGivesDiskFullAndAStop) {
  auto panel = Panel();
  TFK& k = panel->Engine();
  int diskFull = 0, completions = 0;
  bool succeeded = true;
  k.Events().OnDiskFull = [&](QObject*) { ++diskFull; };
  k.Events().OnRecordingCompleted = [&](QObject*, const QString&, bool ok) {
    ++completions;
    succeeded = ok;
  };
  ASSERT_TRUE(k.StartRecording());
  ASSERT_TRUE(WaitUntil([&] { return k.FrameCount() >= 3; }));
  EXPECT_EQ(k.GetLastRecordingError(), S_OK);
  SetFreeSpaceProbe([](const QString&) -> std::optional<uint64_t> { return MinimumFreeBytes - 1; });
  Post(k, EC_ERRORABORT, E_FAIL);
  ASSERT_TRUE(WaitUntil([&] { return diskFull == 1 && k.GetCurrentState() == cs_None; }));
  EXPECT_EQ(completions, 1);
  // The recording ended because it could not be written: it failed, and says why.
  EXPECT_FALSE(succeeded);
  EXPECT_TRUE(k.LastRecordingFailedForDiskFull());
  EXPECT_EQ(k.GetLastRecordingError(), MakeHResult(0x80070070));
  EXPECT_FALSE(Logged(TLogType::e_graph_error, QStringLiteral("ERROR")));

  // A write that failed for another reason is a failure too, with that reason.
  SetFreeSpaceProbe(nullptr);
  ASSERT_TRUE(k.StartRecording());
  EXPECT_EQ(k.GetLastRecordingError(), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return k.FrameCount() >= 3; }));
  Post(k, EC_ERRORABORT, MakeHResult(0x8007001D));
  ASSERT_TRUE(WaitUntil([&] { return completions == 2 && k.GetCurrentState() == cs_None; }));
  EXPECT_FALSE(succeeded);
  EXPECT_FALSE(k.LastRecordingFailedForDiskFull());
  EXPECT_EQ(k.GetLastRecordingError(), MakeHResult(0x8007001D));
}

TEST_F(GraphEvents, OnlyARemovalCountsAsALostDevice) {
  auto panel = Panel();
  TFK& k = panel->Engine();
  int lost = 0;
  k.Events().OnDeviceLost = [&](QObject*) { ++lost; };
  ASSERT_TRUE(k.StartPreview());
  // "Available again" alone: the preview goes on.
  Post(k, EC_DEVICE_LOST, 0, 1);
  PumpFor(150);
  EXPECT_EQ(k.GetCurrentState(), cs_Preview);
  EXPECT_EQ(lost, 0);
  // Unplugged and plugged back before the events are read: one loss, one stop.
  dshow::SetTestCameraPlugged(false);
  dshow::SetTestCameraPlugged(true);
  ASSERT_TRUE(WaitUntil([&] { return k.GetCurrentState() == cs_None; }));
  PumpFor(150);
  EXPECT_EQ(lost, 1);
}

TEST_F(GraphEvents, ThePreviewALostCameraStoppedComesBackOnceWhenItIsPluggedIn) {
  auto panel = Panel();
  TFK& k = panel->Engine();
  SyncIdleHandler();  // device changes count once the application has been idle
  const int camera = CameraIndex();
  int lost = 0, started = 0;
  QStringList changes;
  k.Events().OnDeviceLost = [&](QObject*) { ++lost; };
  k.Events().OnPreviewStarted = [&](QObject*) { ++started; };
  k.Events().OnDeviceArrivalOrRemoval = [&](QObject*, bool arrival, bool video, const QString&, int index) {
    if (video && index == camera) changes << (arrival ? "arrival" : "removal");
  };
  ASSERT_TRUE(k.StartPreview());
  ASSERT_EQ(started, 1);
  dshow::SetTestCameraPlugged(false);
  ASSERT_TRUE(WaitUntil([&] { return lost == 1 && k.GetCurrentState() == cs_None; }));
  RebuildDevicesAndNotify();
  PumpFor(100);
  EXPECT_EQ(k.GetCurrentState(), cs_None);

  dshow::SetTestCameraPlugged(true);
  RebuildDevicesAndNotify();
  ASSERT_TRUE(WaitUntil([&] { return k.GetCurrentState() == cs_Preview; }));
  EXPECT_EQ(k.GetVideoDevice(), camera);
  // The camera delivers into the new preview.
  ASSERT_TRUE(WaitUntil([&] { return k.GetFrameNumber() > 2; }));
  RebuildDevicesAndNotify();  // nothing changed: nothing starts again
  PumpFor(100);
  EXPECT_EQ(started, 2);
  EXPECT_EQ(changes, QStringList({"removal", "arrival"}));

  // Stopped by hand, the camera's next unplugging and return start nothing.
  k.StopPreview();
  ASSERT_TRUE(WaitUntil([&] { return k.GetCurrentState() == cs_None; }));
  dshow::SetTestCameraPlugged(false);
  RebuildDevicesAndNotify();
  dshow::SetTestCameraPlugged(true);
  RebuildDevicesAndNotify();
  PumpFor(200);
  EXPECT_EQ(k.GetCurrentState(), cs_None);
  EXPECT_EQ(started, 2);
  EXPECT_EQ(lost, 1);
}

TEST_F(GraphEvents, NoEventFiresInsideTheEventLoopOnlyAfterItInOrder) {
  TFK k;  // no panel: the test reads the events itself
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, IID_IGraphBuilder, &graph), S_OK);
  TGraphEventsTestAccess::AdoptPlayer(k, graph, 12, kFrame, false);
  std::vector<QString> fired;
  k.Events().OnPlayerBufferingData = [&](QObject*, bool starting) { fired.push_back(starting ? "buffering" : "buffered"); };
  k.Events().OnPlayerEndOfStream = [&](QObject*) { fired.push_back("end"); };
  k.Events().OnDeviceLost = [&](QObject*) { fired.push_back("lost"); };
  Post(k, EC_LOADSTATUS);
  Post(k, EC_BUFFERING_DATA, 1);
  EXPECT_FALSE(k.ClipLoading());
  k.ProcessGraphEvents();
  EXPECT_TRUE(k.ClipLoading());
  Post(k, EC_BUFFERING_DATA, 0);
  Post(k, EC_COMPLETE);
  Post(k, EC_DEVICE_LOST, 0, 0);
  k.ProcessGraphEvents();
  EXPECT_TRUE(fired.empty());
  EXPECT_FALSE(k.ClipLoading());
  ASSERT_TRUE(WaitUntil([&] { return fired.size() == 4; }));
  EXPECT_EQ(fired, (std::vector<QString>{"buffering", "buffered", "end", "lost"}));
  EXPECT_EQ(k.GetCurrentState(), cs_None);  // the lost device stopped the player
}

TEST_F(GraphEvents, TheTimeCodeIsDecodedFromPackedBcdAndFFInALowByteMeansNone) {
  FakeTimecodeReader reader;
  TFK k;
  TGraphEventsTestAccess::SetTimecodeReader(k, &reader);
  struct Case {
    DWORD packed;
    bool fail;
    std::array<int32_t, 5> expected;
  };
  const Case cases[] = {
      {0x01023024, false, {1, 2, 30, 24, 0}},
      {0x23595929, false, {23, 59, 59, 29, 0}},
      {0x00000000, false, {0, 0, 0, 0, 0}},
      {0x102030FF, false, {}},  // no frames
      {0x1020FF05, false, {}},  // no seconds
      {0x10203005, true, {}},   // the reader fails
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.packed);
    reader.packed = c.packed;
    reader.fail = c.fail;
    k.ReadDVTimeCode();
    EXPECT_EQ(k.DVTimeCode(), c.expected);
    EXPECT_EQ(reader.flagsAsked, ED_DEVCAP_TIMECODE_READ);
  }
  // A reading equal to the one before answers true; a new one false.
  reader.fail = false;
  reader.packed = 0x00100000;
  EXPECT_FALSE(k.ReadDVTimeCode());
  EXPECT_TRUE(k.ReadDVTimeCode());
  reader.packed = 0x00100001;
  EXPECT_FALSE(k.ReadDVTimeCode());
  TGraphEventsTestAccess::SetTimecodeReader(k, nullptr);
}

TEST_F(GraphEvents, TheBusyDepthNeverGoesBelowZeroAndTheCursorComesBackOnlyAtZero) {
  TFK k;
  ASSERT_EQ(BusyCursorDepth(), 0);
  k.SetBusyCursor(false);
  k.SetBusyCursor(false);
  EXPECT_EQ(BusyCursorDepth(), 0);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  k.SetBusyCursor(true);
  k.SetBusyCursor(true);
  EXPECT_EQ(BusyCursorDepth(), 2);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  k.SetBusyCursor(false);
  EXPECT_EQ(BusyCursorDepth(), 1);
  EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);
  k.SetBusyCursor(false);
  k.SetBusyCursor(false);
  EXPECT_EQ(BusyCursorDepth(), 0);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace test
}  // namespace kestrom::engine
