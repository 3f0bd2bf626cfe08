#include "platform/ui/RowOverflow.h"

#include <QApplication>
#include <QMenu>
#include <QToolButton>
#include <QWidget>
#include <gtest/gtest.h>

namespace kestrom::ui {

namespace {

// A window holding a row of five 60-pixel buttons from x 4, the last two inside a sub-panel.
struct Row {
  QWidget window;
  QWidget* row = new QWidget(&window);
  QWidget* panel = new QWidget(row);
  QToolButton* buttons[5];
  RowOverflow* overflow = nullptr;

  Row() {
    window.resize(400, 100);
    row->setGeometry(0, 0, 600, 30);
    panel->setGeometry(184, 0, 200, 30);
    for (int i = 0; i < 5; ++i) {
      buttons[i] = new QToolButton(i < 3 ? row : panel);
      buttons[i]->setText(QString("B%1").arg(i));
      buttons[i]->setGeometry(i < 3 ? 4 + 60 * i : 60 * (i - 3), 2, 58, 26);
    }
    buttons[4]->setCheckable(true);
    overflow = RowOverflow::Attach(row);
    window.show();
  }
  QStringList Offered() {
    QMenu menu;
    overflow->FillMenu(menu);
    QStringList captions;
    for (QAction* a : menu.actions()) captions << a->text();
    return captions;
  }
};

}  // namespace

TEST(RowOverflow, OffersWhatTheWindowCutsOffAndFollowsTheWindowsWidth) {
  Row r;
  // Window 400: the row's last buttons end at 184+118 = 302 and 184+58 = 242: all fit.
  EXPECT_TRUE(r.Offered().isEmpty());
  EXPECT_FALSE(r.overflow->Chevron()->isVisible());

  const struct {
    int windowWidth;
    QStringList offered;
  } cases[] = {
      {250, {"B3", "B4"}},        // B3 would end at 242, past 250 - 20 for the overflow button
      {190, {"B2", "B3", "B4"}},  // B2 ends at 182
      {302, {}},                  // exactly wide enough
      {301, {"B4"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.windowWidth);
    r.window.resize(c.windowWidth, 100);
    EXPECT_EQ(r.Offered(), c.offered);
    QToolButton* chevron = r.overflow->Chevron();
    EXPECT_EQ(chevron->isVisible(), !c.offered.isEmpty());
    if (chevron->isVisible()) {
      EXPECT_LE(chevron->geometry().right(), c.windowWidth - 1);
      for (int i = 0; i < 5; ++i)
        if (!c.offered.contains(r.buttons[i]->text()))
          EXPECT_FALSE(QRect(r.buttons[i]->mapTo(r.row, QPoint()), r.buttons[i]->size())
                           .intersects(chevron->geometry()));
    }
  }

  // A hidden button is not offered; one shown again is.
  r.window.resize(190, 100);
  r.buttons[3]->hide();
  EXPECT_EQ(r.Offered(), (QStringList{"B2", "B4"}));
  r.buttons[3]->show();
  EXPECT_EQ(r.Offered(), (QStringList{"B2", "B3", "B4"}));
}

TEST(RowOverflow, AnEntryClicksItsButtonAndShowsItsState) {
  Row r;
  r.window.resize(250, 100);
  int clicks = 0;
  QObject::connect(r.buttons[4], &QToolButton::clicked, [&clicks] { ++clicks; });
  r.buttons[4]->setChecked(true);
  r.buttons[3]->setEnabled(false);
  QMenu menu;
  r.overflow->FillMenu(menu);
  ASSERT_EQ(menu.actions().size(), 2);
  EXPECT_FALSE(menu.actions()[0]->isEnabled());
  QAction* entry = menu.actions()[1];
  EXPECT_TRUE(entry->isCheckable());
  EXPECT_TRUE(entry->isChecked());
  entry->trigger();
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(r.buttons[4]->isChecked());  // as a click on the button would
}

}  // namespace kestrom::ui
