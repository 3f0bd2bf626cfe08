#include "capture/engine/DisplayForm.h"

#include "capture/engine/FK.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <utility>

namespace kestrom::engine {

namespace {

/** @brief The widget the keys go to: the application's focus, else the window's own when it is not active. */
QWidget* KeysTarget(const QWidget* form) {
  if (QWidget* focus = QApplication::focusWidget()) return focus;
  return form->window()->focusWidget();
}

constexpr Qt::WindowFlags DetachedFlags = Qt::Window | Qt::FramelessWindowHint;

/** @brief The key code a key-up reports: letters, digits and blank as themselves, and the few control keys by their codes. */
uint16_t PhysicalKeyOf(const QKeyEvent* event) {
  const int key = event->key();
  if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z) || key == Qt::Key_Space)
    return uint16_t(key);
  switch (key) {
    case Qt::Key_Escape: return 27;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: return 9;
    default: return 0;
  }
}

}  // namespace

TDisplayForm::TDisplayForm(TFK& engine, int slot) : QWidget(nullptr, DetachedFlags), engine_(engine), slot_(slot) {
  setObjectName(QStringLiteral("DisplayForm%1").arg(slot));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
}

void TDisplayForm::Place(QWidget* parent, bool stayOnTop) {
  if (parent) {
    if (parentWidget() != parent) setParent(parent, Qt::Widget);
    return;
  }
  const Qt::WindowFlags flags = DetachedFlags | (stayOnTop ? Qt::WindowStaysOnTopHint : Qt::WindowFlags());
  if (parentWidget() || windowFlags() != flags) setParent(nullptr, flags);
}

void TDisplayForm::setVisible(bool visible) {
  if (visible == isVisible()) {
    QWidget::setVisible(visible);
    return;
  }
  if (!visible) {
    keysWhenShown_ = KeysTarget(this) == this;
    QWidget::setVisible(false);
    focusLeftTo_ = keysWhenShown_ ? KeysTarget(this) : nullptr;
    return;
  }
  QWidget::setVisible(true);
  if (!std::exchange(keysWhenShown_, false)) return;
  QWidget* now = KeysTarget(this);
  if (now != focusLeftTo_.data() && now != this && now) return;  // the user moved the focus meanwhile
  if (isWindow()) activateWindow();
  setFocus(Qt::OtherFocusReason);
}

void TDisplayForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), core::ToQColor(engine_.GetBackgroundColor()));
}

void TDisplayForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  engine_.SizeDisplay(slot_);
}

void TDisplayForm::mousePressEvent(QMouseEvent* event) {
  engine_.DisplayMouseDown(slot_, event->button(), event->modifiers(), event->position().toPoint(),
                           event->globalPosition().toPoint());
}

void TDisplayForm::mouseMoveEvent(QMouseEvent* event) {
  engine_.DisplayMouseMove(slot_, event->modifiers(), event->position().toPoint(), event->globalPosition().toPoint());
}

void TDisplayForm::mouseReleaseEvent(QMouseEvent* event) {
  if (rect().contains(event->position().toPoint())) engine_.DisplayClick(slot_, false);
  engine_.DisplayMouseUp(slot_, event->button(), event->modifiers(), event->position().toPoint());
}

void TDisplayForm::mouseDoubleClickEvent(QMouseEvent* event) {
  engine_.DisplayClick(slot_, true);
  mousePressEvent(event);
}

void TDisplayForm::keyPressEvent(QKeyEvent* event) {
  QChar typed = event->text().isEmpty() ? QChar() : event->text().front();
  if (typed.isNull() && event->key() == Qt::Key_Escape) typed = QChar(27);
  if (!typed.isNull()) engine_.DisplayKeyPress(slot_, typed);
}

void TDisplayForm::keyReleaseEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) return;
  engine_.DisplayKeyRelease(slot_, PhysicalKeyOf(event), event->modifiers());
}

}  // namespace kestrom::engine
