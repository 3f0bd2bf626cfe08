#include "platform/core/Colour.h"
#include "platform/ui/WidgetColours.h"

#include <QApplication>
#include <QLabel>

#include <QGuiApplication>
#include <gtest/gtest.h>

namespace kestrom::core {

TEST(Colour, PlainColoursRoundTripThroughQColor) {
  struct Case { TColor color; int r, g, b; };
  const Case cases[] = {
      {clBlack, 0, 0, 0},       {clRed, 255, 0, 0},     {clBlue, 0, 0, 255},
      {clTeal, 0, 128, 128},    {clWhite, 255, 255, 255}, {0x123456, 0x56, 0x34, 0x12},
      {0x808000, 0, 128, 128},  // the analysis windows' background colour
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.color);
    const QColor q = ToQColor(c.color);
    EXPECT_EQ(q.red(), c.r);
    EXPECT_EQ(q.green(), c.g);
    EXPECT_EQ(q.blue(), c.b);
    EXPECT_EQ(FromQColor(q), c.color);
    EXPECT_FALSE(IsSystemColor(c.color));
  }
  EXPECT_EQ(FromQColor(QColor(1, 2, 3, 40)), 0x030201) << "alpha is dropped";
}

TEST(Colour, SystemColoursMapToPaletteRolesAndBack) {
  const QPalette palette = QGuiApplication::palette();
  int withRole = 0;
  for (int index = 0; index <= 24; ++index) {
    const TColor system = clSystemColor | index;
    SCOPED_TRACE(index);
    EXPECT_TRUE(IsSystemColor(system));
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
    if (SystemColorRole(system, &group, &role)) {
      ++withRole;
      EXPECT_EQ(SystemColorOfRole(group, role), system);
      EXPECT_EQ(ToQColor(system).rgb(), palette.color(group, role).rgb());
    } else {
      EXPECT_TRUE(ToQColor(system).isValid());
    }
  }
  EXPECT_GE(withRole, 15);
  // The colours the forms use most.
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
  ASSERT_TRUE(SystemColorRole(clBtnFace, &group, &role));
  EXPECT_EQ(role, QPalette::Window);
  ASSERT_TRUE(SystemColorRole(clWindowText, &group, &role));
  EXPECT_EQ(role, QPalette::Text);
  EXPECT_EQ(SystemColorOfRole(QPalette::Normal, QPalette::Highlight), clHighlight);
  EXPECT_EQ(SystemColorOfRole(QPalette::Inactive, QPalette::Base), clWindow) << "falls back to the active group";
}

TEST(Colour, ControlColoursKeepTheIntegerAndFollowThePaletteForSystemColours) {
  QLabel swatch;
  EXPECT_EQ(ui::BackgroundColor(&swatch), clBtnFace);
  EXPECT_EQ(ui::FontColor(&swatch), clWindowText);
  ui::SetBackgroundColor(&swatch, clRed);
  ui::SetFontColor(&swatch, 0x123456);
  EXPECT_EQ(swatch.palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(swatch.palette().color(QPalette::WindowText), QColor(0x56, 0x34, 0x12));
  EXPECT_EQ(ui::BackgroundColor(&swatch), clRed);
  EXPECT_EQ(ui::FontColor(&swatch), 0x123456);
  EXPECT_TRUE(swatch.autoFillBackground());
  // Back to a system colour: the desktop's colour, not the red set before.
  ui::SetBackgroundColor(&swatch, clBtnFace);
  EXPECT_EQ(ui::BackgroundColor(&swatch), clBtnFace);
  EXPECT_EQ(swatch.palette().color(QPalette::Window), QApplication::palette(&swatch).color(QPalette::Window));
}

}  // namespace kestrom::core
