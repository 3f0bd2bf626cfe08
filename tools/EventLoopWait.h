#pragma once
// A bounded wait on the calling thread's event loop, for the tests and benchmarks that drive forms.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>

namespace kestrom::tools {

/** @brief Waits, handling events, until the condition holds or timeoutMs pass; whether it held. */
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
  QElapsedTimer waited;
  waited.start();
  while (!condition()) {
    if (waited.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace kestrom::tools
