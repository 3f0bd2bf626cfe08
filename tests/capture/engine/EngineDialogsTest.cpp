// The engine's settings dialogs on the test camera, answered by the scripted dialogs service:
// what a page changes reaches the device and the store (or is put back on Cancel), compressor
// settings outlive their graph, the capture format chosen becomes the selected one, and the
// refusals and the old driver dialogs show nothing.
#include "TestCameraFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/Registry2.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/writers/WriterFilters.h"
#include "platform/dshow/writers/WriterInterfaces.h"
#include "platform/ui/Dialogs.h"

#include <QRegularExpression>

namespace kestrom::engine {

/** @brief Puts the engine in a mode no dialog may run in. */
struct TDialogsTestAccess {
  static void SetState(TFK& k, TCurrentState state) { k.state_ = state; }
};

namespace test {

using com::ComPtr;
using namespace dshow;
using ui::PropertyFrameScript;

namespace {

class PropertyPages : public TestCameraTest {
 protected:
  void SetUp() override {
    TestCameraTest::SetUp();
    frame_ = std::make_unique<ui::ScopedScriptedDialogs>();
  }
  void TearDown() override {
    EXPECT_TRUE(frame_->dialogs.Errors().isEmpty()) << frame_->dialogs.Errors().join("; ").toStdString();
    frame_.reset();
    TestCameraTest::TearDown();
  }
  /** @brief A component on the test camera; its log and selection events are counted. */
  std::unique_ptr<TFK> Camera() {
    auto fk = std::make_unique<TFK>();
    fk->SetAudioRecording(false);
    fk->SetVideoDevice(CameraIndex());
    // Reports above INFO: what went wrong or was refused.
    fk->Events().OnLog = [this](QObject*, int, const QString& severity, const QString& message) {
      if (severity != LevelName(ll_Info)) logged_ << message;
    };
    fk->Events().OnVideoDeviceSelected = [this](QObject*) { ++selected_; };
    return fk;
  }
  /** @brief The camera's brightness as a graph built by the component finds it. */
  static LONG BuiltBrightness(TFK& fk) {
    fk.SnapshotBuildParameters();
    EXPECT_TRUE(fk.CreateBaseGraph());
    ComPtr<IAMVideoProcAmp> amp;
    LONG value = -1, flags = 0;
    if (fk.VideoSourceFilter() && com::SUCCEEDED(fk.VideoSourceFilter()->QueryInterface(IID_IAMVideoProcAmp, amp.PutVoid())))
      amp->Get(VideoProcAmp_Brightness, &value, &flags);
    fk.ClearGraph(true);
    return value;
  }
  static int CompressorIndex(const GUID& clsid) {
    const TDevices* list = VideoCompressorList();
    for (int i = 0; i < list->Count(); ++i)
      if (list->Entry(i)->Key.contains(com::GuidToString(clsid), Qt::CaseInsensitive)) return i;
    return -1;
  }
  std::vector<ui::PropertyFrameAsked> Frames() const {
    std::vector<ui::PropertyFrameAsked> frames;
    for (const ui::AskedItem& item : frame_->dialogs.Asked())
      if (const auto* f = std::get_if<ui::PropertyFrameAsked>(&item)) frames.push_back(*f);
    return frames;
  }

  std::unique_ptr<ui::ScopedScriptedDialogs> frame_;
  QStringList logged_;
  int selected_ = 0;
};

/** @brief A saver of the device's own pages that records what the engine asks of it. */
struct FakePageSaver final : TFK::PageSaver {
  explicit FakePageSaver(QStringList* calls) : calls(calls) {}
  void Configure(const QString& key, const QString& name, const QString& kind) override {
    *calls << "configure " + kind + " " + name + (key.endsWith('\\') ? " key\\" : " key");
  }
  bool Restore(IBaseFilter* filter) override {
    *calls << (filter ? "restore filter" : "restore nothing");
    return true;
  }
  bool ShowPages() override {
    *calls << "show";
    return true;
  }
  void Store() override { *calls << "store"; }
  void Close() override { *calls << "close"; }
  QStringList* calls;
};

/** @brief A property page saver component: it makes the recording savers. */
class TPropertyPageSaverRecorder final : public QObject, public TFK::PageSaverMaker {
  Q_OBJECT

 public:
  explicit TPropertyPageSaverRecorder(QStringList* calls) : calls_(calls) {}
  std::unique_ptr<TFK::PageSaver> MakePageSaver(QObject*) override {
    ++made;
    return std::make_unique<FakePageSaver>(calls_);
  }
  int made = 0;

 private:
  QStringList* calls_;
};

}  // namespace

TEST_F(PropertyPages, BrightnessOnTheDevicePageIsKeptOnOkAndPutBackOnCancel) {
  const struct {
    const char* name;
    PropertyFrameScript script;
    int brightness;
  } cases[] = {
      {"ok", PropertyFrameScript().Set("Brightness", 200).Press("OK"), 200},
      {"cancel", PropertyFrameScript().Set("Brightness", 90).Press("Cancel"), 200},
  };
  QString device;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    selected_ = 0;
    {
      auto fk = Camera();
      device = fk->GetVideoDeviceName();
      frame_->dialogs.Push(c.script);
      EXPECT_TRUE(fk->ShowDialog(0));
      EXPECT_EQ(selected_, 1);
      EXPECT_EQ(fk->VideoSettings().Record("VideoQualityValues", VideoProcAmp_Brightness).value, c.brightness);
      EXPECT_EQ(fk->GetCurrentState(), cs_None);
      EXPECT_FALSE(fk->Graph());
      // The store holds it at once, not only when the component goes.
      auto fresh = Camera();
      EXPECT_EQ(fresh->VideoSettings().Record("VideoQualityValues", VideoProcAmp_Brightness).value, c.brightness);
      EXPECT_EQ(BuiltBrightness(*fresh), c.brightness);
    }
    const std::vector<ui::PropertyFrameAsked> frames = Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().caption, device);
    EXPECT_EQ(frames.back().position, QPoint(30, 30));
    EXPECT_TRUE(frames.back().titles.contains("Video Proc Amp")) << frames.back().titles.join(", ").toStdString();
  }
}

TEST_F(PropertyPages, ACompressorsQualitySetOnItsPageComesBackInAFreshBind) {
  auto fk = Camera();
  const int index = CompressorIndex(CLSID_Mpeg4V2Compressor);
  ASSERT_GE(index, 0);
  fk->SetVideoCompressor(index);
  frame_->dialogs.Push(PropertyFrameScript().Set("Quality", 40).Press("OK"));
  EXPECT_TRUE(fk->ShowDialog(1));
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0].titles, QStringList({"Compression"}));
  EXPECT_EQ(Frames()[0].caption, fk->GetVideoCompressorName());

  // The settings are kept under the compressor's key: a compressor made anew takes them.
  auto quality = [&](bool restored) {
    ComPtr<IBaseFilter> compressor;
    EXPECT_EQ(com::CoCreateInstance(CLSID_Mpeg4V2Compressor, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    compressor.PutVoid()),
              com::S_OK);
    if (restored) {
      EXPECT_TRUE(LoadFilterState(compressor.Get(), fk->CompressorKey(true)));
    }
    ComPtr<IAMVideoCompression> compression;
    EXPECT_EQ(compressor->QueryInterface(IID_IAMVideoCompression, compression.PutVoid()), com::S_OK);
    double value = 0;
    compression->get_Quality(&value);
    return value;
  };
  EXPECT_DOUBLE_EQ(quality(false), 0.85);
  EXPECT_DOUBLE_EQ(quality(true), 0.40);

  // The next dialog starts from what was kept: Cancel leaves it as it was.
  frame_->dialogs.Push(PropertyFrameScript().Set("Quality", 70).Press("Cancel"));
  EXPECT_TRUE(fk->ShowVideoCompressorDialog());
  EXPECT_DOUBLE_EQ(quality(true), 0.40);
}

TEST_F(PropertyPages, ASizeChosenOnTheStreamFormatPageBecomesTheSelectedSizeAndRate) {
  auto fk = Camera();
  frame_->dialogs.Push(PropertyFrameScript().Set("OutputSize", "640x480").Set("FrameRate", "30").Press("OK"));
  EXPECT_TRUE(fk->ShowDialog(3));
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0].titles, QStringList({"Stream Format"}));
  EXPECT_EQ(fk->GetVideoSizeWidth(), 640);
  EXPECT_EQ(fk->GetVideoSizeHeight(), 480);
  EXPECT_DOUBLE_EQ(fk->GetCurrentFrameRate(), 30.0);
  EXPECT_EQ(fk->GetVideoSizesText().split("\r\n").value(fk->GetVideoSize()), "640x480");
  // Kept with the device: a fresh component selects it too.
  auto fresh = Camera();
  EXPECT_EQ(fresh->GetVideoSizeWidth(), 640);
  EXPECT_EQ(fresh->GetVideoSizeHeight(), 480);
}

TEST_F(PropertyPages, RefusedDialogsAndTheOldDriverDialogsShowNothing) {
  const struct {
    const char* name;
    TCurrentState state;
    int kind;
    const char* message;  // logged; empty: nothing logged
  } cases[] = {
      {"recording", cs_Recording, 0, "stop capture first"},
      {"playing", cs_Player, 1, "close player first"},
      {"re-encoding", cs_Reencoding, 3, "wait for reencoding completion"},
      {"kind above 11", cs_None, 12, ""},
      {"format dialog", cs_None, 4, ""},
      {"source dialog", cs_None, 5, ""},
      {"display dialog", cs_None, 6, ""},
  };
  auto fk = Camera();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    logged_.clear();
    selected_ = 0;
    TDialogsTestAccess::SetState(*fk, c.state);
    EXPECT_FALSE(fk->ShowDialog(c.kind));
    TDialogsTestAccess::SetState(*fk, cs_None);
    EXPECT_EQ(logged_, *c.message ? QStringList{c.message} : QStringList{});
    EXPECT_EQ(selected_, 0);
    EXPECT_FALSE(fk->Graph());
  }
  EXPECT_TRUE(Frames().empty());

  // No video device at all.
  fk.reset();
  StopSyncManager();
  SetDeviceProvider(provider_);  // plugs nothing
  TFK none;
  QStringList messages;
  none.Events().OnLog = [&](QObject*, int, const QString&, const QString& message) { messages << message; };
  EXPECT_FALSE(none.ShowDialog(0));
  EXPECT_FALSE(none.ShowVideoCompressorDialog());
  EXPECT_FALSE(none.ShowStreamFormatPages());
  EXPECT_EQ(messages, QStringList({"no video capture device", "no video capture device", "no video capture device"}));
  EXPECT_TRUE(Frames().empty());
}

TEST_F(PropertyPages, ASaverOfTheDevicesPagesShowsAndKeepsThemInsteadOfTheFrame) {
  QStringList calls;
  TPropertyPageSaverRecorder saver(&calls);
  auto fk = std::make_unique<TFK>();
  fk->SetPropertyPageSaver(&saver);
  fk->SetAudioRecording(false);
  fk->Events().OnVideoDeviceSelected = [this](QObject*) { ++selected_; };
  fk->SetVideoDevice(CameraIndex());
  ASSERT_EQ(calls.value(0), "configure PPSaver " + VideoDeviceList()->Name(CameraIndex()) + " key\\");
  calls.clear();
  selected_ = 0;

  EXPECT_TRUE(fk->ShowDialog(0));
  // The saver gets the bound device, shows and stores its pages, and is closed with the graph.
  EXPECT_EQ(calls.filter(QRegularExpression("^(?!close)")), QStringList({"restore filter", "show", "store"}));
  EXPECT_EQ(calls.value(calls.size() - 1), "close");
  EXPECT_EQ(selected_, 1);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(saver.made, 1);
}

}  // namespace test
}  // namespace kestrom::engine

namespace kestrom::engine::test {

TEST_F(PropertyPages, EveryKindReachesItsPagesWithOrWithoutARunningPreview) {
  auto fk = Camera();
  fk->SetAudioDevice(MicrophoneIndex());
  // With no mode running, the preview refresh after the compressor and audio dialogs reports
  // its mode check, as any property change that rebuilds does.
  const QStringList refreshCheck{"start preview first"};
  const struct {
    const char* name;
    bool preview;
    int kind;
    QStringList titles;  // of the frame shown; none: nothing is shown
    QStringList logged;
  } cases[] = {
      {"audio compressor", false, 2, {"Format"}, refreshCheck},
      {"video crossbar without a graph", false, 7, {}, {}},
      {"tuner on a graph of its own", false, 9, {"TV Tuner"}, {}},
      {"TV audio", false, 10, {}, {}},
      {"audio device", false, 11, {"Audio Input"}, refreshCheck},
      {"device on the running preview", true, 0, {"Video Proc Amp", "Camera Control", "Video Decoder"}, {}},
      {"video crossbar of the preview", true, 7, {"Crossbar"}, {}},
      {"video compressor", true, 1, {"Compression"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    logged_.clear();
    if (c.preview) {
      ASSERT_TRUE(fk->StartPreview());
    }
    const size_t before = Frames().size();
    if (!c.titles.isEmpty()) frame_->dialogs.Push(PropertyFrameScript().Press("OK"));
    EXPECT_EQ(fk->ShowDialog(c.kind), !c.titles.isEmpty());
    const std::vector<ui::PropertyFrameAsked> frames = Frames();
    ASSERT_EQ(frames.size(), before + (c.titles.isEmpty() ? 0 : 1));
    if (!c.titles.isEmpty()) {
      EXPECT_EQ(frames.back().titles, c.titles);
    }
    EXPECT_EQ(logged_, c.logged);
    // A running preview runs on, or comes back, afterwards.
    EXPECT_EQ(fk->GetCurrentState(), c.preview ? cs_Preview : cs_None);
    EXPECT_EQ(fk->GraphActive(), c.preview);
    if (c.preview) fk->StopPreview();
  }
}

TEST_F(PropertyPages, PagesStandAtTheirCornerOfTheComponentAndAFilterWithoutPagesShowsNothing) {
  TFK fk;
  auto make = [](const GUID& clsid) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(com::CoCreateInstance(clsid, nullptr, com::CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()),
              com::S_OK);
    return filter;
  };
  ComPtr<IBaseFilter> compressor = make(CLSID_Mpeg4V2Compressor);
  frame_->dialogs.Push(PropertyFrameScript().Press("Cancel"));
  frame_->dialogs.Push(PropertyFrameScript().Press("Cancel"));
  EXPECT_TRUE(fk.ShowPropertyPages(compressor.Get(), "first"));
  EXPECT_TRUE(fk.ShowFilterPages(compressor.Get(), "second"));
  ASSERT_EQ(Frames().size(), 2u);
  EXPECT_EQ(Frames()[0].position, QPoint(0, 0));
  EXPECT_EQ(Frames()[1].position, QPoint(30, 30));
  EXPECT_EQ(Frames()[1].caption, "second");

  EXPECT_FALSE(fk.ShowFilterPages(make(CLSID_NullRenderer).Get(), "none"));
  EXPECT_FALSE(fk.ShowPropertyPages(nullptr, "none"));
  EXPECT_EQ(Frames().size(), 2u);
}

}  // namespace kestrom::engine::test

#include "EngineDialogsTest.moc"
