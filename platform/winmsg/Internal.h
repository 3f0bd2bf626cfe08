#pragma once
// Pieces shared by the directory and the transport; not part of the public interface.

#include "platform/winmsg/WinMsg.h"

#include <QLoggingCategory>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcWinMsg)

namespace kestrom::winmsg::detail {

/** @brief This process's registered windows. */
class LocalWindows {
 public:
  static LocalWindows& Get();

  HWND Add(const QString& className, const QString& title, bool visible, MessageHandler handler);
  void Remove(HWND hwnd);
  void SetTitle(HWND hwnd, const QString& title);
  void SetVisible(bool visible, HWND hwnd);
  void SetHandler(HWND hwnd, MessageHandler handler);

  bool Has(HWND hwnd) const;
  std::optional<WindowInfo> Info(HWND hwnd) const;
  /** @brief The handler to call for the window; null when the window is gone. */
  std::shared_ptr<const MessageHandler> HandlerOf(HWND hwnd, bool* exists) const;
  std::vector<WindowInfo> Snapshot() const;

  void Shutdown();

 private:
  LocalWindows() = default;
  void StartLocked();
  void WriteFileLocked();

  struct Entry;
  mutable std::mutex mutex_;
  std::vector<std::pair<HWND, std::shared_ptr<Entry>>> windows_;  // in creation order
  uint32_t counter_ = 0;
  bool started_ = false;
  QString dir_;
};

/** @brief Start time of a live process (clock ticks since boot); nothing when it is gone or a zombie. */
std::optional<uint64_t> ProcessStartTime(int64_t pid);

// Transport, in Transport.cpp.
bool StartListener(const QString& socketPath);
void StopListener();

}  // namespace kestrom::winmsg::detail
