// The display windows: where the video goes inside its form, the forms on the panel or on the
// monitors (two offscreen screens: 1280x1024 at 0,0 and 1024x768 at 1280,0), their input, and
// dual display with the test camera.
#include "TestCameraFixture.h"

#include "capture/engine/DisplayForm.h"
#include "capture/engine/DisplayGeometry.h"
#include "capture/engine/Framecatcher.h"
#include "platform/dshow/writers/VideoRenderer.h"
#include "platform/dshow/writers/WindowIds.h"

#include <QGuiApplication>
#include <cstdlib>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QThread>
#include <memory>
#include <optional>
#include <vector>

namespace kestrom::engine::test {

using namespace dshow;

namespace {

const QRect SecondScreen(1280, 0, 1024, 768);

}  // namespace

// ---- the arithmetic ----

TEST(DisplayWindows, TheVideoKeepsItsRatioCentredInTheFormOrFillsIt) {
  struct Case {
    QSize form, native;
    bool keepAspect;
    QRect video;
  };
  const Case cases[] = {
      {{640, 480}, {720, 576}, true, {20, 0, 600, 480}},   // pillar-boxed
      {{640, 600}, {720, 576}, true, {0, 44, 640, 512}},   // letter-boxed
      {{640, 480}, {320, 240}, true, {0, 0, 640, 480}},    // same ratio
      {{640, 600}, {720, 576}, false, {0, 0, 640, 600}},   // no ratio kept
      {{640, 480}, {720, 0}, true, {0, 0, 640, 480}},      // no native height: fills, never divides by 0
      {{640, 480}, {0, 0}, true, {0, 0, 640, 480}},
      {{0, 0}, {720, 576}, true, {0, 0, 0, 0}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BoxVideo(c.form, c.native, c.keepAspect), c.video) << c.form.width() << "x" << c.form.height();
}

TEST(DisplayWindows, ZoomRoundsEachSide) {
  EXPECT_EQ(ZoomVideoSize({320, 240}, 78), QSize(250, 187));
  EXPECT_EQ(ZoomVideoSize({720, 576}, 50), QSize(360, 288));
  EXPECT_EQ(ZoomVideoSize({320, 240}, 100), QSize(320, 240));
  EXPECT_EQ(ZoomVideoSize({320, 240}, 0), QSize(320, 240));
}

// A panel that sizes itself to the zoomed video stops at its parent's edges: the capture page's
// 489x302 panel (485x298 inside its border) shows the whole 640x480 picture at every zoom its bar
// offers, boxed to keep its shape, and at its zoomed size wherever that fits.
TEST(DisplayWindows, AZoomedVideoStaysWhollyInItsRoomKeepingItsShape) {
  const QSize native(640, 480), room(485, 298);
  const struct {
    int zoom;
    QRect video;
  } cases[] = {{78, {44, 0, 397, 298}}, {100, {44, 0, 397, 298}}, {200, {44, 0, 397, 298}},
               {40, {0, 0, 256, 192}},  {20, {0, 0, 128, 96}},    {10, {0, 0, 64, 48}}};
  for (const auto& c : cases) {
    const QSize size = FitInRoom(ZoomVideoSize(native, c.zoom), room);
    EXPECT_EQ(BoxVideo(size, native, true), c.video) << c.zoom << " %";
  }
  for (int zoom = 10; zoom <= 200; ++zoom) {
    const QSize zoomed = ZoomVideoSize(native, zoom);
    const QRect video = BoxVideo(FitInRoom(zoomed, room), native, true);
    EXPECT_TRUE(QRect(QPoint(0, 0), room).contains(video)) << zoom << " %";
    EXPECT_LE(std::abs(video.width() * native.height() - video.height() * native.width()), native.width())
        << zoom << " %: within a pixel of 4:3";
    // Where the zoomed size fits it is kept, give or take the pixel each side's rounding makes.
    if (zoomed.width() <= room.width() && zoomed.height() <= room.height()) {
      EXPECT_LE(std::abs(video.width() - zoomed.width()), 1) << zoom << " %";
      EXPECT_LE(std::abs(video.height() - zoomed.height()), 1) << zoom << " %";
    }
  }
  EXPECT_EQ(FitInRoom({640, 480}, {-4, 100}), QSize(0, 100)) << "no room left: nothing, never a negative side";
}

TEST(DisplayWindows, FormPointsBecomeVideoPixelsAndPointsOffTheVideoAreDropped) {
  struct Case {
    QPoint at;
    QRect video;
    QSize native;
    std::optional<QPoint> pixel;
  };
  const Case cases[] = {
      {{20, 0}, {20, 0, 600, 480}, {720, 576}, QPoint(0, 0)},
      {{320, 240}, {20, 0, 600, 480}, {720, 576}, QPoint(360, 288)},
      {{619, 479}, {20, 0, 600, 480}, {720, 576}, QPoint(719, 575)},
      {{19, 100}, {20, 0, 600, 480}, {720, 576}, std::nullopt},   // in the pillar box
      {{620, 100}, {20, 0, 600, 480}, {720, 576}, std::nullopt},
      {{10, 10}, {}, {720, 576}, std::nullopt},                    // no video rectangle
      {{10, 10}, {0, 0, 640, 480}, {720, 0}, std::nullopt},        // no native size
  };
  for (const Case& c : cases) EXPECT_EQ(VideoPointOf(c.at, c.video, c.native), c.pixel) << c.at.x() << "," << c.at.y();
}

// ---- forms with the test camera ----

class DisplayWindowsTest : public TestCameraTest {
 protected:
  void SetUp() override {
    TestCameraTest::SetUp();
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    form_ = std::make_unique<QWidget>();
    form_->resize(900, 700);
    panel_ = new TFramecatcher(form_.get());
    form_->show();
    panel_->SetFrameGrabber(fg_Disabled);
    panel_->SetStoragePath(workDir_.path());
    ASSERT_GE(CameraIndex(), 0);
    panel_->SetVideoDevice(CameraIndex());
  }
  void TearDown() override {
    form_.reset();
    TestCameraTest::TearDown();
  }
  TFK& Engine() { return panel_->Engine(); }
  TDisplayForm* Display(int slot = TFK::ds_Display) { return Engine().DisplayForm(slot); }
  static void Send(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons buttons = Qt::LeftButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
  }
  static void SendAt(QWidget* widget, QEvent::Type type, QPoint at, QPoint cursor) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(cursor), button, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
  }
  static void Key(QWidget* widget, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
  }
  static bool WaitForFrames(IBaseFilter* renderer, int frames) {
    auto* video = dynamic_cast<CVideoRenderer*>(renderer);
    for (int i = 0; i < 500 && video && video->FramesRendered() < frames; ++i) {
      QCoreApplication::processEvents();
      QThread::msleep(10);
    }
    return video && video->FramesRendered() >= frames;
  }

  std::unique_ptr<QWidget> form_;
  TFramecatcher* panel_ = nullptr;
};

TEST_F(DisplayWindowsTest, AnEmbeddedDisplaySitsInThePanelSizedToTheVideo) {
  ASSERT_TRUE(panel_->StartPreview());
  TDisplayForm* display = Display();
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(display->parentWidget(), panel_);
  EXPECT_TRUE(display->isVisible());
  const QSize native = Engine().NativeVideoSize();
  ASSERT_FALSE(native.isEmpty());
  // The panel takes the video's size plus its border; the form fills the panel inside the border.
  EXPECT_EQ(panel_->size(), native + QSize(4, 4));
  EXPECT_EQ(display->geometry(), QRect(QPoint(2, 2), native));
  EXPECT_EQ(display->VideoRect(), QRect(QPoint(0, 0), native));
  // The renderer's window lives in the form and hands its input to it.
  const TFK::TDisplayRecord& record = Engine().DisplayRecord(TFK::ds_Display);
  OAHWND owner = 0, drain = 0;
  record.window->get_Owner(&owner);
  record.window->get_MessageDrain(&drain);
  EXPECT_EQ(owner, WindowIdOf(display));
  EXPECT_EQ(drain, WindowIdOf(display));
  EXPECT_TRUE(record.quality);
  EXPECT_TRUE(WaitForFrames(record.renderer.Get(), 3));
  int drawn = 0;
  ASSERT_EQ(record.quality->get_FramesDrawn(&drawn), com::S_OK);
  EXPECT_GE(drawn, 3);

  // A zoom lays the panel out again at the zoomed size.
  panel_->SetPreviewZoomSize(50);
  EXPECT_EQ(panel_->size(), ZoomVideoSize(native, 50) + QSize(4, 4));

  // Clicks on the display are the panel's clicks.
  int clicks = 0, doubleClicks = 0;
  panel_->OnClick = [&](QObject* sender) { clicks += sender == panel_; };
  panel_->OnDblClick = [&](QObject* sender) { doubleClicks += sender == panel_; };
  Send(display, QEvent::MouseButtonPress, {5, 5});
  Send(display, QEvent::MouseButtonRelease, {5, 5});
  Send(display, QEvent::MouseButtonDblClick, {5, 5});
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(doubleClicks, 1);
  panel_->StopPreview();
  EXPECT_FALSE(display->isVisible());
}

TEST_F(DisplayWindowsTest, ASizeChosenWhileIdleLaysThePanelOutAtThatSize) {
  const QStringList sizes = panel_->GetVideoSizesText().split("\r\n");
  for (const QString& size : {QStringLiteral("640x480"), QStringLiteral("160x120")}) {
    SCOPED_TRACE(size.toStdString());
    const int index = sizes.indexOf(size);
    ASSERT_GE(index, 0);
    panel_->SetVideoSize(index);
    const QStringList sides = size.split('x');
    EXPECT_EQ(panel_->size(), QSize(sides[0].toInt(), sides[1].toInt()) + QSize(4, 4));
  }
}

TEST_F(DisplayWindowsTest, ADetachedDisplayStandsAtLeftAndTopOfItsMonitor) {
  panel_->SetDisplay_Embedded(false);
  panel_->SetDisplay_Monitor(1);
  panel_->SetDisplay_Left(30);
  panel_->SetDisplay_Top(40);
  panel_->SetDisplay_AutoSize(false);
  panel_->SetDisplay_Width(400);
  panel_->SetDisplay_Height(400);
  ASSERT_TRUE(panel_->StartPreview());
  TDisplayForm* display = Display();
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(display->isWindow());
  EXPECT_TRUE(display->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(display->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(display->geometry(), QRect(1310, 40, 400, 400));
  EXPECT_TRUE(SecondScreen.contains(display->geometry()));
  const QSize native = Engine().NativeVideoSize();
  EXPECT_EQ(display->VideoRect(), BoxVideo({400, 400}, native, true));

  // Stay-on-top while running; a monitor that does not exist is the first one.
  panel_->SetDisplay_StayOnTop(true);
  EXPECT_TRUE(display->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(display->isVisible());
  panel_->SetDisplay_Monitor(5);
  EXPECT_EQ(display->geometry(), QRect(30, 40, 400, 400));
}

TEST_F(DisplayWindowsTest, FullScreenFillsTheSecondScreenAndEscLeavesIt) {
  panel_->SetDisplay_Monitor(1);
  panel_->SetDisplay_FullScreen(true);
  std::vector<int> keys;
  panel_->OnKeyPress = [&](QObject*, int window, QChar& key, uint16_t physical, Qt::KeyboardModifiers) {
    keys.insert(keys.end(), {window, key.unicode(), physical});
  };
  ASSERT_TRUE(panel_->StartPreview());
  TDisplayForm* display = Display();
  ASSERT_NE(display, nullptr);
  // Full screen even though the display is embedded: the form leaves the panel.
  EXPECT_TRUE(display->isWindow());
  EXPECT_EQ(display->geometry(), SecondScreen);
  EXPECT_EQ(display->VideoRect(), BoxVideo(SecondScreen.size(), Engine().NativeVideoSize(), true));

  Key(display, Qt::Key_A, "a");
  EXPECT_TRUE(panel_->GetDisplay_FullScreen());
  Key(display, Qt::Key_Escape, QString(QChar(27)));
  EXPECT_EQ(keys, (std::vector<int>{0, 'a', 'A', 0, 27, 27}));
  EXPECT_FALSE(panel_->GetDisplay_FullScreen());
  // Back in the panel.
  EXPECT_EQ(display->parentWidget(), panel_);
  EXPECT_TRUE(display->isVisible());
  EXPECT_EQ(display->geometry().size(), Engine().VideoDisplaySize());
}

TEST_F(DisplayWindowsTest, DraggingADetachedDisplayStoresItsPlaceOnItsMonitor) {
  panel_->SetDisplay_Embedded(false);
  panel_->SetDisplay_Monitor(1);
  int downs = 0;
  panel_->OnMouseDown = [&](QObject*, int, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++downs; };
  ASSERT_TRUE(panel_->StartPreview());
  TDisplayForm* display = Display();
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(display->pos(), QPoint(1290, 10));

  const QPoint cursor(1300, 20);
  SendAt(display, QEvent::MouseButtonPress, {10, 10}, cursor);
  SendAt(display, QEvent::MouseMove, {25, 17}, cursor + QPoint(15, 7));
  SendAt(display, QEvent::MouseMove, {15, 15}, cursor + QPoint(20, 12));
  SendAt(display, QEvent::MouseButtonRelease, {15, 15}, cursor + QPoint(20, 12));
  EXPECT_EQ(display->pos(), QPoint(1310, 22));
  EXPECT_EQ(panel_->GetDisplay_Left(), 30);
  EXPECT_EQ(panel_->GetDisplay_Top(), 22);
  EXPECT_EQ(downs, 0);  // the press moved the window, it was not a press on the video
  // After the release the cursor moves the form no more.
  SendAt(display, QEvent::MouseMove, {15, 15}, cursor + QPoint(80, 80));
  EXPECT_EQ(display->pos(), QPoint(1310, 22));
}

TEST_F(DisplayWindowsTest, MouseEventsGiveTheSameVideoPixelForDownMoveAndUp) {
  panel_->SetDisplay_Embedded(false);
  panel_->SetDisplay_MouseMovesWindow(false);
  panel_->SetDisplay_AutoSize(false);
  panel_->SetDisplay_Width(640);
  panel_->SetDisplay_Height(600);
  std::vector<QPoint> downs, moves, ups;
  panel_->OnMouseDown = [&](QObject*, int, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) { downs.push_back({x, y}); };
  panel_->OnMouseMove = [&](QObject*, int, Qt::KeyboardModifiers, int x, int y) { moves.push_back({x, y}); };
  panel_->OnMouseUp = [&](QObject*, int, Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) { ups.push_back({x, y}); };
  ASSERT_TRUE(panel_->StartPreview());
  TDisplayForm* display = Display();
  ASSERT_NE(display, nullptr);
  const QSize native = Engine().NativeVideoSize();
  const QRect video = display->VideoRect();
  ASSERT_EQ(video, BoxVideo({640, 600}, native, true));
  ASSERT_GT(video.top(), 0);  // letter-boxed: there is a band above the video

  const QPoint inside = video.center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove, QEvent::MouseButtonRelease})
    Send(display, type, inside);
  const QPoint pixel = *VideoPointOf(inside, video, native);
  EXPECT_EQ(downs, std::vector<QPoint>{pixel});
  EXPECT_EQ(moves, std::vector<QPoint>{pixel});
  EXPECT_EQ(ups, std::vector<QPoint>{pixel});

  // In the band above the video nothing is reported.
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove, QEvent::MouseButtonRelease})
    Send(display, type, {5, video.top() - 1});
  EXPECT_EQ(downs.size() + moves.size() + ups.size(), 3u);

  // Untranslated, the form's own coordinates, the same for the three.
  panel_->SetTranslateMouseCoordinates(false);
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove, QEvent::MouseButtonRelease})
    Send(display, type, {5, 6});
  EXPECT_EQ(downs.back(), QPoint(5, 6));
  EXPECT_EQ(moves.back(), QPoint(5, 6));
  EXPECT_EQ(ups.back(), QPoint(5, 6));
}

TEST_F(DisplayWindowsTest, DualDisplayShowsFramesInTwoRenderers) {
  panel_->SetDualDisplay_Active(true);
  panel_->SetDualDisplay_Monitor(1);
  ASSERT_TRUE(panel_->StartPreview());
  EXPECT_TRUE(Engine().DualDisplayOn());
  const TFK::TDisplayRecord& first = Engine().DisplayRecord(TFK::ds_Display);
  const TFK::TDisplayRecord& second = Engine().DisplayRecord(TFK::ds_DualDisplay);
  ASSERT_TRUE(first.renderer && second.renderer);
  EXPECT_NE(first.renderer.Get(), second.renderer.Get());
  EXPECT_TRUE(WaitForFrames(first.renderer.Get(), 3));
  EXPECT_TRUE(WaitForFrames(second.renderer.Get(), 3));

  // The first in the panel, the second on its own at 400,10 of the second screen.
  TDisplayForm* one = Display(TFK::ds_Display);
  TDisplayForm* two = Display(TFK::ds_DualDisplay);
  ASSERT_TRUE(one && two);
  EXPECT_EQ(one->parentWidget(), panel_);
  EXPECT_TRUE(two->isWindow());
  EXPECT_TRUE(two->isVisible());
  EXPECT_EQ(two->pos(), QPoint(1680, 10));
  OAHWND owner = 0;
  second.window->get_Owner(&owner);
  EXPECT_EQ(owner, WindowIdOf(two));

  // Switching the second window off leaves its renderer shown nowhere.
  panel_->SetDualDisplay_Active(false);
  EXPECT_FALSE(two->isVisible());
  EXPECT_TRUE(one->isVisible());
}

}  // namespace kestrom::engine::test
