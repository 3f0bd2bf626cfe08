#include "platform/ui/Terminate.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <atomic>

namespace kestrom::ui {

namespace {
std::atomic<bool> g_terminated{false};
}

void Terminate() {
  if (g_terminated.exchange(true)) return;
  // Queued, so the caller's handler runs to its end and the loop ends when it gets back there;
  // exit() ends every loop of the thread, modal ones included, and asks no window to close.
  if (auto* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  }
}

bool Terminated() { return g_terminated.load(); }

void ResetTerminated() { g_terminated = false; }

}  // namespace kestrom::ui
