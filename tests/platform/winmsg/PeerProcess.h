#pragma once
// A winmsg-peer program started for one test, in the test's own runtime folder.

#include "platform/winmsg/WinMsg.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTimer>
#include <functional>

namespace kestrom::test {

/** @brief Runs the event loop until the condition holds or the bound passes; the condition's last value. */
inline bool WaitUntil(const std::function<bool()>& condition, int boundMs = 10000) {
  QDeadlineTimer deadline(boundMs);
  QTimer tick;  // wakes the loop so the condition is looked at again
  tick.start(10);
  while (!condition()) {
    if (deadline.hasExpired()) return condition();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

class PeerProcess {
 public:
  PeerProcess(const QString& title, const QString& className, const QString& hiddenTitle, const QString& hiddenClass,
              const QStringList& extra = {});
  ~PeerProcess();

  bool Ready() const { return visible_ != 0; }
  winmsg::HWND Visible() const { return visible_; }
  winmsg::HWND Hidden() const { return hidden_; }
  QProcess& Process() { return process_; }
  int64_t Pid() const { return process_.processId(); }

  /** @brief Waits (bounded) for a line of output that starts with the prefix; the line, or empty. */
  QString WaitForLine(const QString& prefix, int boundMs = 10000);

 private:
  QProcess process_;
  QStringList lines_;
  winmsg::HWND visible_ = 0;
  winmsg::HWND hidden_ = 0;
};

}  // namespace kestrom::test
