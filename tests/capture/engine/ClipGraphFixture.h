#pragma once
// What the player's and the graph events' tests share on the live graphs: clips written into the
// work folder whose pictures carry their numbers, the engine's log as the panel passes it on, the
// graph's position, and waits that pump the GUI thread's messages.

#include "LiveGraphFixture.h"

#include "capture/engine/FK.h"
#include "capture/engine/SyncManager.h"
#include "platform/dshow/base/Guids.h"
#include "tools/ClipWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <vector>

namespace kestrom::engine::test {

inline constexpr int64_t kFrame = 400000;  // 25 frames per second, in 100-ns units

/** @brief Pumps the GUI thread's events until the condition holds or the bound passes. */
inline bool WaitUntil(const std::function<bool()>& condition, int boundMs = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > boundMs) return false;
    PumpMessagesOnce();
    QThread::msleep(2);
  }
  return true;
}

/** @brief Lets queued events run for a while (to see that nothing more comes). */
inline void PumpFor(int ms) { WaitUntil([] { return false; }, ms); }

class ClipGraphTest : public LiveGraphTest {
 protected:
  /** @brief Writes the clip under the name in the work folder; its path. */
  QString WriteClip(tools::ClipSpec clip, const QString& name) {
    clip.path = QDir(workDir_.path()).filePath(name);
    QString error;
    EXPECT_TRUE(tools::WriteClip(clip, &error)) << error.toStdString();
    return clip.path;
  }
  /** @brief Keeps what the engine logs in logged_. */
  void KeepLog(TFK& k) {
    k.Events().OnLog = [this](QObject*, int code, const QString& severity, const QString& message) {
      logged_.push_back({code, severity, message});
    };
  }
  /** @brief Whether an event of the code and severity (and the message, when given) was logged. */
  bool Logged(TLogType code, const QString& severity, const QString& message = QString()) const {
    for (const LoggedEvent& e : logged_)
      if (e.code == static_cast<int>(code) && e.severity == severity && (message.isEmpty() || e.message == message))
        return true;
    return false;
  }
  static int64_t Position(TFK& k) {
    int64_t position = -1;
    com::ComPtr<dshow::IMediaSeeking> seeking;
    if (k.Graph() && k.Graph()->QueryInterface(dshow::IID_IMediaSeeking, seeking.PutVoid()) == com::S_OK)
      seeking->GetCurrentPosition(&position);
    return position;
  }

  std::vector<LoggedEvent> logged_;
};

}  // namespace kestrom::engine::test
