// Windows the analysis program opens beside its own: whole on the screen and above their opener.
#include "WindowClipFixture.h"
#include "analysis/annotation/AnglesTableForm.h"
#include "analysis/window/CompanionPlacement.h"
#include "tests/platform/winmsg/PeerProcess.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace kestrom::window {
namespace {

TEST(CompanionPlacement, AWindowIsMovedAsLittleAsNeededToLieWholeOnTheScreen) {
  const QRect screen(0, 0, 1280, 1024);
  const struct {
    const char* name;
    QPoint wanted;
    QSize frame;
    QPoint placed;
  } cases[] = {
      {"inside stays", {100, 200}, {188, 300}, {100, 200}},
      {"past the right and bottom edges", {1092, 758}, {196, 285}, {1084, 739}},
      {"exactly at the far corner", {1092, 739}, {188, 285}, {1092, 739}},
      {"before the left and top edges", {-40, -10}, {188, 285}, {0, 0}},
      {"larger than the screen", {300, 300}, {1400, 1100}, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PlaceOnScreen(c.wanted, c.frame, screen), c.placed);
  }
  // A second screen to the right: its own edges count.
  EXPECT_EQ(PlaceOnScreen({2500, 10}, {200, 100}, QRect(1280, 0, 1280, 1024)), QPoint(2360, 10));
}

class PlacedWindows : public test::WindowClipFixture {};

TEST_F(PlacedWindows, TheResultsTableOpensWholeOnTheScreenAboveItsWindowEachTime) {
  TKestromForm* w = Main();
  w->show();
  Open(w, Clip("small.avi", 5));
  ASSERT_TRUE(w->Drawings.AddAngle(2, 100, 100, 150, 150, 200, 100, core::clRed));
  QToolButton* results = Button(w->Angles, "ShowResultsSpeedButton");
  ASSERT_NE(results, nullptr);
  annotation::TAnglesTableForm* table = Forms().AnglesTableForm1;
  const QRect screen = w->screen()->availableGeometry();

  // Wherever the table last stood, even off the screen, it comes back whole and in front.
  for (const QPoint lastAt : {QPoint(0, 0), QPoint(1092, 758), QPoint(-300, 2000)}) {
    SCOPED_TRACE(testing::Message() << lastAt.x() << "," << lastAt.y());
    table->move(lastAt);
    w->activateWindow();
    results->setChecked(false);
    results->click();
    ASSERT_TRUE(results->isChecked());
    ASSERT_TRUE(table->isVisible());
    EXPECT_TRUE(screen.contains(table->frameGeometry())) << table->frameGeometry().x() << ","
                                                         << table->frameGeometry().y();
    ASSERT_NE(table->windowHandle(), nullptr);
    EXPECT_EQ(table->windowHandle()->transientParent(), w->windowHandle()) << "kept above Main";
    EXPECT_TRUE(test::WaitUntil([&] { return QApplication::activeWindow() == table; })) << "in front, to type in";
  }
}

}  // namespace
}  // namespace kestrom::window
