#include "platform/ui/ModalForms.h"

#include <QDialog>

namespace kestrom::ui {

namespace {
ModalHandler& Handler() {
  static ModalHandler handler;
  return handler;
}
}  // namespace

int ShowModal(QDialog& form) {
  if (Handler()) return Handler()(form);
  return form.exec();
}

void SetModalHandler(ModalHandler handler) { Handler() = std::move(handler); }

}  // namespace kestrom::ui
