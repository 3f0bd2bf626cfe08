#include "platform/ui/RowOverflow.h"

#include <QAbstractButton>
#include <QEvent>
#include <QMenu>
#include <QPointer>
#include <QToolButton>
#include <QWidget>
#include <algorithm>

namespace kestrom::ui {

namespace {
constexpr int kChevronWidth = 18;
constexpr int kChevronGap = 2;
}  // namespace

RowOverflow* RowOverflow::Attach(QWidget* row) { return new RowOverflow(row); }

RowOverflow::RowOverflow(QWidget* row) : QObject(row), row_(row) {
  chevron_ = new QToolButton(row);
  chevron_->setObjectName(row->objectName() + "Overflow");
  chevron_->setText(QString::fromUtf8("\u00BB"));
  chevron_->setToolTip("More buttons");
  chevron_->setPopupMode(QToolButton::InstantPopup);
  auto* menu = new QMenu(chevron_);
  connect(menu, &QMenu::aboutToShow, this, [this, menu] {
    menu->clear();
    FillMenu(*menu);
  });
  chevron_->setMenu(menu);
  chevron_->hide();
  Watch(row);
  if (row->window() != row) row->window()->installEventFilter(this);  // its width limits the row
  Update();
}

void RowOverflow::Watch(QObject* object) {
  if (object == chevron_) return;
  object->installEventFilter(this);
  for (QObject* child : object->children())
    if (child->isWidgetType() && child != chevron_) Watch(child);
}

bool RowOverflow::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::ChildAdded: {
      QObject* child = static_cast<QChildEvent*>(event)->child();
      if (watched != row_->window() && child->isWidgetType()) Watch(child);
      break;
    }
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
      Update();
      break;
    default: break;
  }
  return false;
}

int RowOverflow::VisibleWidth() const {
  // A row may reach past its window's right edge; only what the window shows counts.
  const int leftInWindow = row_->mapTo(row_->window(), QPoint(0, 0)).x();
  return std::max(0, std::min(row_->width(), row_->window()->width() - leftInWindow));
}

QList<QAbstractButton*> RowOverflow::ButtonsBeyond(int right) const {
  QList<QAbstractButton*> beyond;
  for (QAbstractButton* b : row_->findChildren<QAbstractButton*>()) {
    if (b == chevron_ || !b->isVisibleTo(row_)) continue;
    const QRect place(b->mapTo(row_, QPoint(0, 0)), b->size());
    if (place.right() >= right) beyond.push_back(b);
  }
  std::sort(beyond.begin(), beyond.end(), [this](QAbstractButton* a, QAbstractButton* b) {
    return a->mapTo(row_, QPoint(0, 0)).x() < b->mapTo(row_, QPoint(0, 0)).x();
  });
  return beyond;
}

QList<QAbstractButton*> RowOverflow::Overflowing() const {
  const int width = VisibleWidth();
  if (ButtonsBeyond(width).isEmpty()) return {};
  return ButtonsBeyond(width - kChevronWidth - kChevronGap);
}

void RowOverflow::FillMenu(QMenu& menu) const {
  for (QAbstractButton* b : Overflowing()) {
    QString caption = QString(b->text()).remove('&');
    if (caption.isEmpty()) caption = b->toolTip();
    if (caption.isEmpty()) caption = b->objectName();
    QAction* entry = menu.addAction(b->icon(), caption);
    entry->setEnabled(b->isEnabled());
    entry->setCheckable(b->isCheckable());
    entry->setChecked(b->isChecked());
    QPointer<QAbstractButton> button(b);
    // The menu's own toggling is undone by the click, which sets the button as a click on it would.
    connect(entry, &QAction::triggered, b, [button] {
      if (button) button->click();
    });
  }
}

void RowOverflow::Update() {
  if (updating_) return;
  updating_ = true;
  // A row not on screen (a tab page behind another) has no size of its own yet: it is placed
  // again when shown.
  const QList<QAbstractButton*> over = row_->isVisible() ? Overflowing() : QList<QAbstractButton*>();
  if (over.isEmpty()) {
    chevron_->hide();
  } else {
    // In line with the first button it stands for.
    const QAbstractButton* first = over.front();
    chevron_->setGeometry(VisibleWidth() - kChevronWidth, first->mapTo(row_, QPoint(0, 0)).y(), kChevronWidth,
                          first->height());
    chevron_->show();
    chevron_->raise();
  }
  updating_ = false;
}

}  // namespace kestrom::ui
