#include "EngineFixtures.h"

#include "capture/engine/Framecatcher.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/base/ControlInterfaces.h"
#include "platform/dshow/base/FilterGraph.h"
#include "platform/dshow/base/Guids.h"
#include "platform/dshow/sources/TestDevices.h"
#include "platform/dshow/writers/WindowIds.h"

#include <QCloseEvent>
#include <QPointer>
#include <QWidget>
#include <cstdlib>

namespace kestrom::engine::test {

using com::ComPtr;
using namespace dshow;

namespace {

/** @brief A capture form whose close the test accepts or refuses. */
class Form : public QWidget {
 public:
  bool accept = true;

 protected:
  void closeEvent(QCloseEvent* event) override { event->setAccepted(accept); }
};

/** @brief Counts the graph notifications a widget receives. */
class NotifyCounter : public QObject {
 public:
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == GraphNotifyMessage()) ++count;
    return false;
  }
};

}  // namespace

class FramecatcherTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SetDeviceWatchThreadEnabled(false);
    provider_->Plug(CLSID_VideoInputDeviceCategory, "usb-1", "Cam");
  }
};

TEST_F(FramecatcherTest, APanelOnAFormIsRegisteredClosedByAnAcceptedCloseAndFreedWithIt) {
  auto* form = new Form;
  auto* fc = new TFramecatcher(form);
  QPointer<TFramecatcher> alive(fc);
  EXPECT_EQ(fc->objectName(), "Framecatcher");
  EXPECT_TRUE(fc->Initialised());
  EXPECT_EQ(fc->Engine().ParentForm(), form);
  ASSERT_EQ(Components().size(), 1u);
  EXPECT_EQ(Components()[0], &fc->Engine());

  QObject* sender = nullptr;
  fc->OnLog = [&](QObject* s, int, const QString&, const QString&) { sender = s; };
  fc->StopPreview();
  EXPECT_EQ(sender, fc);

  form->show();
  SyncIdleHandler();
  form->accept = false;
  form->close();
  EXPECT_FALSE(fc->Engine().Closing());
  form->accept = true;
  form->close();
  EXPECT_TRUE(fc->Engine().Closing());

  delete form;
  EXPECT_TRUE(alive.isNull());
  EXPECT_TRUE(Components().empty());
}

TEST_F(FramecatcherTest, AGraphNotificationReachesThePanelOnlyWhileItLives) {
  auto* fc = new TFramecatcher;
  NotifyCounter counter;
  fc->installEventFilter(&counter);

  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(com::CoCreateInstance(CLSID_FilterGraph, nullptr, com::CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  graph.PutVoid()),
            com::S_OK);
  ComPtr<IMediaEventEx> events;
  ComPtr<IMediaEventSink> sink;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaEventEx, events.PutVoid()), com::S_OK);
  ASSERT_EQ(graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid()), com::S_OK);
  const dshow::OAHWND id = dshow::WindowIdOf(fc);
  ASSERT_EQ(events->SetNotifyWindow(id, GraphNotifyMessage(), 0), com::S_OK);

  sink->Notify(EC_USERABORT, 0, 0);
  PumpMessagesOnce();
  EXPECT_EQ(counter.count, 1);

  // A notice for a panel that is gone: the stale id finds nobody.
  delete fc;
  sink->Notify(EC_USERABORT, 0, 0);
  PumpMessagesOnce();
  EXPECT_EQ(counter.count, 1);
  events->SetNotifyWindow(0, GraphNotifyMessage(), 0);
}

class FramecatcherCameraTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    unsetenv("KESTROM_TEST_DEVICES");
    SetDeviceWatchThreadEnabled(false);
    dshow::SetTestCameraPlugged(true);
    SetDeviceProvider(nullptr);
  }
  static int CameraIndex() {
    return VideoDeviceList()->IndexOfName(QString::fromUtf16(kTestCameraName) + " (WDM)");
  }
  static bool BindCamera(TFK& engine) {
    engine.SnapshotBuildParameters();
    int index = CameraIndex();
    ComPtr<IBaseFilter> camera;
    return engine.CreateFilterGraph() && engine.BindDevice(VideoDeviceList(), index, QString(), false, true, camera);
  }
};

TEST_F(FramecatcherCameraTest, APanelHoldingTheCameraFreesItWithItsForm) {
  auto* form = new Form;
  auto* fc = new TFramecatcher(form);
  QPointer<TFramecatcher> alive(fc);
  ASSERT_TRUE(BindCamera(fc->Engine()));
  const QString key = VideoDeviceList()->Entry(CameraIndex())->Key;
  EXPECT_TRUE(TFK::DeviceInUse(key));

  // The panel's own events: the engine fires them through the panel's slots, the panel as Sender.
  std::vector<QObject*> senders;
  fc->OnReencodingStarted = [&](QObject* s, const QString&, const QString&) { senders.push_back(s); };
  fc->OnReencodingCompleted = [&](QObject* s, const QString&, const QString&, bool) { senders.push_back(s); };
  EXPECT_FALSE(fc->ReencodeFile("a.avi", "b.avi", false, false, false, false));
  EXPECT_EQ(senders, (std::vector<QObject*>{fc, fc}));
  EXPECT_FALSE(TFK::DeviceInUse(key));  // re-encoding tore the graph down first
  ASSERT_TRUE(BindCamera(fc->Engine()));

  // A border style set through the panel reaches the panel's frame.
  EXPECT_EQ(fc->frameShape(), QFrame::Box);
  fc->SetBorderStyle(bsNone);
  EXPECT_EQ(fc->frameShape(), QFrame::NoFrame);
  fc->SetBorderStyle(7);
  EXPECT_EQ(fc->GetBorderStyle(), bsNone);

  delete form;
  EXPECT_TRUE(alive.isNull());
  EXPECT_TRUE(Components().empty());
  EXPECT_FALSE(TFK::DeviceInUse(key));
  TFK next;
  EXPECT_TRUE(BindCamera(next));
  next.ClearGraph(true);
}

}  // namespace kestrom::engine::test
