#include "platform/ui/Application.h"

#include "platform/ui/Terminate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QWidget>

namespace kestrom::ui {

namespace {

QPointer<QWidget> g_mainForm;

// Lets the form decide on its close first (its closeEvent may refuse), then ends the program
// when the close was accepted.
class MainFormCloseWatcher final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close || inside_ || watched != g_mainForm) return false;
    inside_ = true;
    QCoreApplication::sendEvent(watched, event);  // this filter lets the repeated event through
    inside_ = false;
    if (event->isAccepted()) Terminate();
    return true;
  }

 private:
  bool inside_ = false;
};

}  // namespace

void InstallMainForm(QWidget* form) {
  QGuiApplication::setQuitOnLastWindowClosed(false);
  g_mainForm = form;
  if (form) form->installEventFilter(new MainFormCloseWatcher(form));
}

QWidget* MainForm() { return g_mainForm; }

int RunMessageLoop() {
  if (Terminated()) return 0;
  return QCoreApplication::exec();
}

}  // namespace kestrom::ui
