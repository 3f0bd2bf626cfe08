#include "platform/ui/Panels.h"

#include <QFrame>

namespace kestrom::ui {

QFrame* AddPanel(QWidget* parent, const QString& name, QRect bounds, bool raised) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(name);
  panel->setAutoFillBackground(true);
  if (raised) {
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
  }
  panel->setGeometry(bounds);
  return panel;
}

}  // namespace kestrom::ui
