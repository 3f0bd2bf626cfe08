#pragma once
// A row of controls placed at fixed positions (a tab page, a panel along the window) can be wider
// than the part of it its window shows: a narrow window cuts the last buttons off. As a toolbar
// does, the buttons that do not wholly fit are then offered from a button at the row's right end
// ("»"), whose menu clicks them. The buttons themselves keep their place, visibility and state, so
// the form's own handlers and checks run as they would for a click on the button.

#include <QList>
#include <QObject>

class QAbstractButton;
class QMenu;
class QToolButton;
class QWidget;

namespace kestrom::ui {

class RowOverflow : public QObject {
  Q_OBJECT

 public:
  /** @brief Watches a row and every control in it from now on; owned by the row. */
  static RowOverflow* Attach(QWidget* row);

  /** @brief The row's overflow button, shown only while some button does not fit. */
  QToolButton* Chevron() const { return chevron_; }

  /**
   * @brief The row's buttons (its own and those of panels in it) that are shown with the row but
   * do not wholly lie in the part of it its window shows, left of the overflow button; in order
   * from left to right.
   */
  QList<QAbstractButton*> Overflowing() const;

  /** @brief Fills a menu with one entry per overflowing button, as the overflow button shows it. */
  void FillMenu(QMenu& menu) const;

  /** @brief Shows or hides the overflow button for the row as it is now. */
  void Update();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  explicit RowOverflow(QWidget* row);
  void Watch(QObject* object);
  int VisibleWidth() const;
  QList<QAbstractButton*> ButtonsBeyond(int right) const;

  QWidget* row_;
  QToolButton* chevron_;
  bool updating_ = false;
};

}  // namespace kestrom::ui
