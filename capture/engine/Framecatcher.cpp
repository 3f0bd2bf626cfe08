#include "capture/engine/Framecatcher.h"

#include "capture/engine/SyncManager.h"

#include <QMouseEvent>
#include <QPainter>

namespace kestrom::engine {

TFramecatcher::TFramecatcher(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("Framecatcher"));
  engine_ = std::make_unique<TFK>(TFK::Host{this, [this]() -> QObject* { return window(); }, this});
  // The background is painted by hand, so that a running graph's picture does not flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  ApplyBorder();
  resize(240, 320);
  initialised_ = engine_->Initialised();
}

TFramecatcher::~TFramecatcher() { engine_.reset(); }

void TFramecatcher::BeginLoading() { engine_->BeginLoading(); }

void TFramecatcher::Loaded() {
  engine_->Loaded();
  if (initialised_) setWindowTitle(QString());
}

void TFramecatcher::SetBorderStyle(int style) {
  const int before = engine_->GetBorderStyle();
  engine_->SetBorderStyle(style);
  ApplyBorder();
  if (engine_->GetBorderStyle() != before) engine_->ResizeDisplays(false);
}

void TFramecatcher::Click() {
  if (OnClick && engine_ && !engine_->Destroying()) OnClick(this);
}

void TFramecatcher::DblClick() {
  if (OnDblClick && engine_ && !engine_->Destroying()) OnDblClick(this);
}

void TFramecatcher::ApplyBorder() {
  setFrameShape(engine_->GetBorderStyle() == bsSingle ? QFrame::Box : QFrame::NoFrame);
  setLineWidth(engine_->BorderThickness() / 2);
}

bool TFramecatcher::event(QEvent* event) {
  if (event->type() == GraphNotifyMessage()) {
    // The engine's teardown pumps messages: a notice that arrives then has no one to serve it.
    if (engine_ && !engine_->Destroying()) engine_->ProcessGraphEvents();
    return true;
  }
  return QFrame::event(event);
}

void TFramecatcher::paintEvent(QPaintEvent* event) {
  if (!engine_ || engine_->RunState() == 0) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
  }
  QFrame::paintEvent(event);
}

void TFramecatcher::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  // Embedded displays fill the panel.
  if (engine_) engine_->ComponentResized();
}

void TFramecatcher::mouseReleaseEvent(QMouseEvent* event) {
  QFrame::mouseReleaseEvent(event);
  if (rect().contains(event->position().toPoint())) Click();
}

void TFramecatcher::mouseDoubleClickEvent(QMouseEvent* event) {
  QFrame::mouseDoubleClickEvent(event);
  DblClick();
}

}  // namespace kestrom::engine
