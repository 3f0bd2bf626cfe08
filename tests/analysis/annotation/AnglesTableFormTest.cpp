#include "analysis/annotation/AnglesTableForm.h"

#include "analysis/annotation/DrawingStore.h"

#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

namespace kestrom::annotation {
namespace {

// Angles whose interior is 10 degrees times their number, each in its own colour.
void AddAngles(DrawingStore& s, int count) {
  for (int i = 1; i <= count; ++i) {
    const double radians = i * 10.0 * M_PI / 180.0;
    s.AddAngle(2, 100, 0, 0, 0, 100 * std::cos(radians), 100 * std::sin(radians), i);
  }
}

TEST(AnglesTableForm, ShowsTheFirstTenAnglesInTheirColours) {
  DrawingStore main;
  AddAngles(main, 12);
  TAnglesTableForm form;
  form.SetStores(&main, nullptr);
  form.ShowMainTable();

  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.windowTitle(), "Main");
  EXPECT_EQ(form.findChild<QLabel*>("Label1")->text(), "Trace Angles");
  for (int row = 1; row <= 10; ++row) {
    SCOPED_TRACE(row);
    QLabel* interior = form.findChild<QLabel*>(QStringLiteral("Panel%1").arg(2 * row - 1));
    QLabel* reflex = form.findChild<QLabel*>(QStringLiteral("Panel%1").arg(2 * row));
    ASSERT_TRUE(interior && reflex);
    EXPECT_EQ(interior->text(), QString::asprintf("%.2f", row * 10.0));
    EXPECT_EQ(reflex->text(), QString::asprintf("%.2f", 360.0 - row * 10.0));
    EXPECT_EQ(interior->palette().color(QPalette::WindowText), QColor(row, 0, 0));
    EXPECT_EQ(reflex->palette().color(QPalette::WindowText), QColor(row, 0, 0));
  }
  EXPECT_EQ(form.Panel(21), nullptr);
}

TEST(AnglesTableForm, AnAngleWithAnArmOfNoLengthShowsNoValue) {
  DrawingStore main;  // as a hand-edited angles file can bring it
  main.AddAngle(2, 5, 5, 5, 5, 5, 5, 1);
  main.AddAngle(2, 100, 200, 150, 150, 150, 150, 1);
  TAnglesTableForm form;
  form.SetStores(&main, nullptr);
  form.ShowMainTable();
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(form.Panel(n)->text().trimmed().isEmpty()) << n;
}

TEST(AnglesTableForm, ClearsRowsThatAreNoLongerUsedAndHidesWithoutAngles) {
  DrawingStore main, best;
  AddAngles(main, 12);
  best.AddAngle(1, 100, 200, 150, 150, 200, 200, 255);
  TAnglesTableForm form;
  form.SetStores(&main, &best);
  form.ShowMainTable();
  form.ShowBestTable();
  EXPECT_EQ(form.windowTitle(), "Best");
  EXPECT_EQ(form.Panel(1)->text(), "90.00");
  EXPECT_EQ(form.Panel(2)->text(), "270.00");
  for (int n = 3; n <= 20; ++n) EXPECT_EQ(form.Panel(n)->text(), " ") << n;

  best.ClearAngles();
  form.ShowBestTable();
  EXPECT_FALSE(form.isVisible());
}

TEST(AnglesTableForm, TheCloseItemHidesTheForm) {
  DrawingStore main;
  AddAngles(main, 1);
  TAnglesTableForm form;
  form.SetStores(&main, nullptr);
  form.ShowMainTable();
  ASSERT_TRUE(form.isVisible());
  QAction* close = form.findChild<QAction*>("Close1");
  ASSERT_TRUE(close);
  EXPECT_EQ(close->text(), "Close");
  close->trigger();
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace kestrom::annotation
