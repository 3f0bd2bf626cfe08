#include "analysis/shell/ModalForms.h"

#include <QDialog>

namespace kestrom::shell {

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

}  // namespace kestrom::shell
