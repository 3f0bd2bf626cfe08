#include "platform/ui/FormSupport.h"

namespace kestrom::ui {

QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, int left, int top, int width,
                 int height) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->adjustSize();
  label->setGeometry(left, top, width < 0 ? label->width() : width, height < 0 ? label->height() : height);
  return label;
}

QPushButton* AddButton(QWidget* parent, const QString& name, const QString& text, int left, int top, int width,
                       int height) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setGeometry(left, top, width, height);
  return button;
}

void SetFixedDialogBorder(QWidget* form, bool minimiseBox) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (minimiseBox) flags |= Qt::WindowMinimizeButtonHint;
  form->setWindowFlags(flags);
}

void PlaceForm(QWidget* form, int left, int top) { form->move(left, top); }

}  // namespace kestrom::ui
