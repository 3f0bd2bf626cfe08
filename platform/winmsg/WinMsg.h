#pragma once
// Windows of all programs of this user, and messages between them.
//
// Every process lists its top-level windows (class name, title, visible or hidden) in a file of
// its own in a per-user runtime folder and listens on a Unix socket beside it. Other processes
// read those files to find windows and connect to the socket to deliver messages, which run on the
// receiving process's GUI thread. Programs that never register a window are simply not found.
//
// Runtime folder: $KESTROM_RUNTIME_DIR, else $XDG_RUNTIME_DIR/kestrom, else /tmp/kestrom-<uid>;
// mode 0700, owned by the user.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kestrom::winmsg {

/** @brief An opaque window handle, unique across processes: pid in the high 32 bits, a counter below; 0 = none. */
using HWND = uint64_t;

constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_COPYDATA = 0x004A;
constexpr uint32_t WM_USER = 0x0400;

/** @brief Largest WM_COPYDATA payload accepted; bigger messages are refused by both ends. */
constexpr uint32_t kMaxCopyDataBytes = 4u * 1024u * 1024u;

/** @brief How long SendMessage waits for a result unless told otherwise. */
constexpr int kDefaultSendTimeoutMs = 5000;

/** @brief The data of a WM_COPYDATA message as the receiver sees it; valid during the handler only. */
struct CopyData {
  uintptr_t dwData = 0;
  uint32_t cbData = 0;
  const void* lpData = nullptr;
};

/**
 * @brief A window's message handler, run on the GUI thread. For WM_COPYDATA, wParam is the sending
 * window and copyData (also passed as lParam) holds the bytes; for other messages copyData is null.
 */
using MessageHandler =
    std::function<intptr_t(uint32_t msg, uintptr_t wParam, intptr_t lParam, const CopyData* copyData)>;

/** @brief One top-level window as the directory lists it. */
struct WindowInfo {
  HWND handle = 0;
  int64_t pid = 0;
  QString className;
  QString title;
  bool visible = false;
};

/** @brief The process part of a handle. */
constexpr int64_t ProcessOf(HWND hwnd) { return static_cast<int64_t>(hwnd >> 32); }

/**
 * @brief A registered top-level window of this process. Owned by the form it stands for; the
 * registration ends with the object. Create and change it on the GUI thread.
 */
class Window {
 public:
  Window(const QString& className, const QString& title, bool visible = true, MessageHandler handler = {});
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  /** @brief This window's handle; 0 when the directory could not be set up. */
  HWND Handle() const { return handle_; }
  QString ClassName() const;
  QString Title() const;
  bool Visible() const;

  /** @brief Changes the title that other programs see. */
  void SetTitle(const QString& title);
  /** @brief Changes whether the window counts as visible. */
  void SetVisible(bool visible);
  /** @brief Replaces the message handler; an empty handler answers every message with 0. */
  void SetHandler(MessageHandler handler);

 private:
  HWND handle_ = 0;
};

/**
 * @brief First window whose class and title match (an empty argument matches any), hidden windows
 * included, as FindWindow does: whole-string, case-insensitive comparison.
 */
HWND FindWindow(const QString& className, const QString& title);

/** @brief FindWindow with the title comparison's letter case chosen by the caller (class: always insensitive). */
HWND FindWindow(const QString& className, const QString& title, Qt::CaseSensitivity titleCase);

/** @brief Every top-level window of every live program of this user (dead programs are pruned). */
std::vector<WindowInfo> EnumWindows();

/** @brief Calls the callback for each window until it returns false; false when it was stopped. */
bool EnumWindows(const std::function<bool(const WindowInfo&)>& callback);

/** @brief The window's entry, when it still exists. */
std::optional<WindowInfo> GetWindowInfo(HWND hwnd);

/**
 * @brief The window's title as read into a buffer of maxCount characters with its terminating zero:
 * at most maxCount - 1 characters; empty when the window is gone.
 */
QString GetWindowText(HWND hwnd, int maxCount);

/** @brief True when the window exists. */
bool IsWindow(HWND hwnd);

/** @brief Outcome of a send. */
struct SendResult {
  bool delivered = false;  // the handler ran and its result came back
  intptr_t result = 0;     // the handler's result
  QString error;           // why it failed, for the log or the user
  explicit operator bool() const { return delivered; }
};

/**
 * @brief Delivers a message to the window's handler on its GUI thread and waits for the result, at
 * most timeoutMs. The caller's event loop does not run meanwhile, but messages sent to this
 * process's own windows are handled during the wait so two programs sending to each other never
 * lock up. WM_COPYDATA goes through SendCopyData.
 */
SendResult SendMessageTimeout(HWND target, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                              int timeoutMs = kDefaultSendTimeoutMs);

/** @brief SendMessageTimeout with the default time-out; 0 when the message was not delivered. */
intptr_t SendMessage(HWND target, uint32_t msg, uintptr_t wParam, intptr_t lParam);

/** @brief Sends WM_COPYDATA carrying exactly size bytes; wParam is the sending window `from`. */
SendResult SendCopyData(HWND target, HWND from, uintptr_t dwData, const void* data, uint32_t size,
                        int timeoutMs = kDefaultSendTimeoutMs);
SendResult SendCopyData(HWND target, HWND from, uintptr_t dwData, const QByteArray& data,
                        int timeoutMs = kDefaultSendTimeoutMs);

/**
 * @brief Queues a message for the window without waiting for its handler; true when the receiving
 * process accepted it. WM_COPYDATA cannot be posted (its data would outlive the call).
 */
bool PostMessage(HWND target, uint32_t msg, uintptr_t wParam, intptr_t lParam);

/**
 * @brief What this process does on WM_QUIT to any of its windows. Default: a queued
 * QCoreApplication::exit(0). Runs on the GUI thread.
 */
void SetQuitHandler(std::function<void()> handler);

/**
 * @brief Lists the program's application title as a hidden window of class "TApplication", as the
 * toolkit's application window is; an empty title removes it.
 */
void SetApplicationTitle(const QString& title);

/** @brief The application window's handle; 0 without an application title. */
HWND ApplicationWindow();

/**
 * @brief A message number for the name, the same in every process of this user (0xC000..0xFFFF;
 * names compare case-insensitively); 0 when the name is empty or the numbers are used up.
 */
uint32_t RegisterWindowMessage(const QString& name);

/** @brief The per-user runtime folder (created on first use); empty when it cannot be used. */
QString RuntimeDir();

/** @brief The socket on which the process of that pid listens. */
QString SocketPath(int64_t pid);

/**
 * @brief Stops listening and removes this process's entries and windows; Window objects made before
 * stay unknown to others. Runs by itself when the application or the process ends.
 */
void Shutdown();

}  // namespace kestrom::winmsg
