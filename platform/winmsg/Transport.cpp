// Messages between processes: a listener thread per process that reads whole messages from a Unix
// socket and queues them for the GUI thread, and the sending side that connects and waits.
#include "platform/winmsg/Internal.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace kestrom::winmsg {

namespace detail {

namespace {

constexpr uint32_t kMagic = 0x314D574B;  // "KWM1"
constexpr uint16_t kVersion = 1;
enum Kind : uint16_t { kSend = 1, kPost = 2, kReply = 3 };
enum Status : uint32_t { kDone = 0, kNoWindow = 1, kRefused = 2, kQueued = 3 };
constexpr uint32_t kFlagCopyData = 1;

// Both ends are this system's programs on one machine, so the records travel in host layout.
struct Header {
  uint32_t magic;
  uint16_t version;
  uint16_t kind;
  uint64_t target;
  uint32_t msg;
  uint32_t flags;
  uint64_t wParam;
  int64_t lParam;
  uint64_t dwData;
  uint32_t cbData;
  uint32_t reserved;
};
static_assert(sizeof(Header) == 56);

struct Reply {
  uint32_t magic;
  uint16_t version;
  uint16_t kind;
  uint32_t status;
  uint32_t reserved;
  int64_t result;
};
static_assert(sizeof(Reply) == 24);

// A partly sent message is given this long to arrive whole before it is dropped.
constexpr int kReceiveDeadlineMs = 5000;
constexpr size_t kMaxPendingConnections = 64;

int64_t NowMs() {
  // Socket waits run in real time, so their deadlines come from the real clock.
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SameUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid();
}

void SendReply(int fd, Status status, int64_t result) {
  const Reply reply{kMagic, kVersion, kReply, status, 0, result};
  (void)!send(fd, &reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool OnGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

// Replies to a message that this process sent to itself from a worker thread.
struct LocalReply {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool exists = true;
  intptr_t result = 0;
};

struct Incoming {
  Header header{};
  QByteArray data;
  int replyFd = -1;                   // a sender in another process waits on it
  std::shared_ptr<LocalReply> local;  // a worker thread of this process waits on it
};

std::mutex quitMutex;
std::function<void()> quitHandler;

void Quit() {
  std::function<void()> handler;
  {
    std::lock_guard lock(quitMutex);
    handler = quitHandler;
  }
  if (handler) {
    handler();
  } else if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  }
}

// Runs a message on the GUI thread; false when the window no longer exists.
bool Deliver(const Header& h, const QByteArray& data, intptr_t* result) {
  *result = 0;
  bool exists = false;
  const auto handler = LocalWindows::Get().HandlerOf(h.target, &exists);
  if (!exists) return false;
  if (h.msg == WM_QUIT) {
    Quit();
    return true;
  }
  if (!handler) return true;
  CopyData copy;
  const bool hasCopy = (h.flags & kFlagCopyData) != 0;
  intptr_t lParam = static_cast<intptr_t>(h.lParam);
  if (hasCopy) {
    copy.dwData = static_cast<uintptr_t>(h.dwData);
    copy.cbData = h.cbData;
    copy.lpData = data.isEmpty() ? nullptr : data.constData();
    lParam = reinterpret_cast<intptr_t>(&copy);
  }
  try {
    *result = (*handler)(h.msg, static_cast<uintptr_t>(h.wParam), lParam, hasCopy ? &copy : nullptr);
  } catch (const std::exception& e) {
    qCWarning(lcWinMsg) << "a message handler failed:" << e.what();
  } catch (...) {
    qCWarning(lcWinMsg) << "a message handler failed";
  }
  return true;
}

void Finish(Incoming& item, bool exists, intptr_t result) {
  if (item.replyFd >= 0) {
    SendReply(item.replyFd, exists ? kDone : kNoWindow, result);
    close(item.replyFd);
    item.replyFd = -1;
  }
  if (item.local) {
    std::lock_guard lock(item.local->mutex);
    item.local->finished = true;
    item.local->exists = exists;
    item.local->result = result;
    item.local->done.notify_all();
  }
}

// Messages waiting for the GUI thread. Sent messages go first, and a thread waiting in
// SendMessage handles them too (the wake descriptor tells it), as a sending window must.
class Queue {
 public:
  static Queue& Get() {
    static Queue* queue = new Queue;
    return *queue;
  }

  int WakeFd() const { return wakeFd_; }

  void Push(Incoming item) {
    {
      std::lock_guard lock(mutex_);
      (item.header.kind == kPost ? posts_ : sends_).push_back(std::move(item));
    }
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { Queue::Get().Drain(false); }, Qt::QueuedConnection);
  }

  // Answers every waiting message with "no such window"; the windows are gone.
  void Clear() {
    std::deque<Incoming> dropped;
    {
      std::lock_guard lock(mutex_);
      dropped.swap(sends_);
      for (Incoming& item : posts_) dropped.push_back(std::move(item));
      posts_.clear();
    }
    for (Incoming& item : dropped) Finish(item, false, 0);
  }

  void Drain(bool sendsOnly) {
    uint64_t count = 0;
    (void)!read(wakeFd_, &count, sizeof count);
    for (;;) {
      Incoming item;
      {
        std::lock_guard lock(mutex_);
        if (!sends_.empty()) {
          item = std::move(sends_.front());
          sends_.pop_front();
        } else if (!sendsOnly && !posts_.empty()) {
          item = std::move(posts_.front());
          posts_.pop_front();
        } else {
          return;
        }
      }
      intptr_t result = 0;
      const bool exists = Deliver(item.header, item.data, &result);
      Finish(item, exists, result);
    }
  }

 private:
  Queue() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  std::mutex mutex_;
  std::deque<Incoming> sends_;
  std::deque<Incoming> posts_;
  int wakeFd_;
};

// Checks a header as it arrives; a bad one is refused before any payload is read.
bool ValidHeader(const Header& h) {
  if (h.magic != kMagic || h.version != kVersion || (h.kind != kSend && h.kind != kPost)) return false;
  if (h.reserved != 0 || (h.flags & ~kFlagCopyData) != 0) return false;
  const bool hasCopy = (h.flags & kFlagCopyData) != 0;
  if (hasCopy != (h.msg == WM_COPYDATA)) return false;
  if (hasCopy && h.kind == kPost) return false;
  if (!hasCopy && (h.cbData != 0 || h.dwData != 0)) return false;
  if (h.cbData > kMaxCopyDataBytes) return false;
  return ProcessOf(h.target) == getpid();
}

class Listener {
 public:
  static Listener& Get() {
    static Listener* listener = new Listener;
    return *listener;
  }

  bool Start(const QString& path) {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) return true;
    const QByteArray native = path.toLocal8Bit();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (native.isEmpty() || static_cast<size_t>(native.size()) >= sizeof addr.sun_path) {
      qCWarning(lcWinMsg) << "socket path too long:" << path;
      return false;
    }
    std::memcpy(addr.sun_path, native.constData(), native.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    unlink(native.constData());  // left by an ended process that had our pid
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
      qCWarning(lcWinMsg) << "cannot listen on" << path << strerror(errno);
      close(fd);
      return false;
    }
    listenFd_ = fd;
    stopFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Queue::Get();  // the wake descriptor exists before the first message
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  void Stop() {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    (void)!write(stopFd_, &one, sizeof one);
    thread_.join();
    close(listenFd_);
    close(stopFd_);
    listenFd_ = stopFd_ = -1;
  }

 private:
  struct Connection {
    int fd = -1;
    QByteArray buffer;
    Header header{};
    bool haveHeader = false;
    int64_t deadline = 0;
  };

  void Drop(Connection& c, const char* why) {
    if (why) qCWarning(lcWinMsg) << "message refused:" << why;
    close(c.fd);
    c.fd = -1;
  }

  // Reads what is there; hands the message on once it is whole.
  void ReadFrom(Connection& c) {
    for (;;) {
      const qsizetype need = c.haveHeader ? qsizetype(sizeof(Header)) + c.header.cbData : qsizetype(sizeof(Header));
      const qsizetype have = c.buffer.size();
      if (have == need) break;
      c.buffer.resize(need);
      const ssize_t n = recv(c.fd, c.buffer.data() + have, need - have, 0);
      if (n <= 0) {
        c.buffer.resize(have);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        Drop(c, have > 0 ? "connection closed in the middle of a message" : nullptr);
        return;
      }
      c.buffer.resize(have + n);
      if (!c.haveHeader && c.buffer.size() == qsizetype(sizeof(Header))) {
        std::memcpy(&c.header, c.buffer.constData(), sizeof(Header));
        if (!ValidHeader(c.header)) {
          SendReply(c.fd, kRefused, 0);
          Drop(c, "malformed or oversized message");
          return;
        }
        c.haveHeader = true;
      }
    }
    Incoming item;
    item.header = c.header;
    item.data = c.buffer.mid(sizeof(Header));
    if (!LocalWindows::Get().Has(item.header.target)) {
      SendReply(c.fd, kNoWindow, 0);
      Drop(c, nullptr);
      return;
    }
    if (item.header.kind == kPost) {
      SendReply(c.fd, kQueued, 0);
      Drop(c, nullptr);
    } else {
      item.replyFd = c.fd;  // the GUI thread answers and closes it
      c.fd = -1;
    }
    Queue::Get().Push(std::move(item));
  }

  void Run() {
    std::vector<Connection> connections;
    for (;;) {
      std::vector<pollfd> fds{{stopFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
      int64_t next = -1;
      for (const Connection& c : connections) {
        fds.push_back({c.fd, POLLIN, 0});
        next = next < 0 ? c.deadline : std::min(next, c.deadline);
      }
      const int timeout = next < 0 ? -1 : int(std::max<int64_t>(0, next - NowMs()));
      if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
      if (fds[0].revents) break;
      for (size_t i = 0; i < connections.size(); ++i)
        if (fds[i + 2].revents) ReadFrom(connections[i]);
      const int64_t now = NowMs();
      for (Connection& c : connections)
        if (c.fd >= 0 && c.deadline <= now) Drop(c, "message not completed in time");
      std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
      if (fds[1].revents) {
        for (;;) {
          const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
          if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
              // Out of descriptors: the waiting connection stays readable, so pause instead of spinning.
              qCWarning(lcWinMsg) << "out of file descriptors; messages wait";
              std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            break;
          }
          if (!SameUser(fd)) {
            qCWarning(lcWinMsg) << "message from another user refused";
            close(fd);
          } else if (connections.size() >= kMaxPendingConnections) {
            qCWarning(lcWinMsg) << "too many unfinished messages; connection refused";
            close(fd);
          } else {
            connections.push_back(Connection{fd, {}, {}, false, NowMs() + kReceiveDeadlineMs});
          }
        }
      }
    }
    for (Connection& c : connections) close(c.fd);
  }

  std::mutex mutex_;
  std::thread thread_;
  int listenFd_ = -1;
  int stopFd_ = -1;
};

// Sends one message to another process and reads its reply, within the deadline.
SendResult Exchange(const Header& header, const void* data, int timeoutMs, Reply* reply) {
  SendResult out;
  const int64_t deadline = NowMs() + std::max(0, timeoutMs);
  const QByteArray path = SocketPath(ProcessOf(header.target)).toLocal8Bit();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof addr.sun_path) {
    out.error = QStringLiteral("no runtime folder");
    return out;
  }
  std::memcpy(addr.sun_path, path.constData(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    out.error = QString::fromLocal8Bit(strerror(errno));
    return out;
  }
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    out.error = errno == EAGAIN ? QStringLiteral("the program is too busy to take messages")
                                : QStringLiteral("the window's program is not running");
    return out;
  }
  if (!SameUser(fd)) {
    out.error = QStringLiteral("the window belongs to another user");
    return out;
  }

  QByteArray frame(reinterpret_cast<const char*>(&header), sizeof header);
  if (header.cbData) frame.append(static_cast<const char*>(data), header.cbData);
  const bool serveOwn = header.kind == kSend && OnGuiThread();
  const int wakeFd = Queue::Get().WakeFd();
  qsizetype sent = 0;
  QByteArray in;
  while (in.size() < qsizetype(sizeof(Reply))) {
    const int64_t left = deadline - NowMs();
    if (left <= 0) {
      out.error = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
      return out;
    }
    pollfd fds[2] = {{fd, short(sent < frame.size() ? POLLOUT : POLLIN), 0}, {wakeFd, POLLIN, 0}};
    if (poll(fds, serveOwn ? 2 : 1, int(left)) < 0 && errno != EINTR) break;
    if (serveOwn && fds[1].revents) Queue::Get().Drain(true);
    if (fds[0].revents & POLLOUT) {
      const ssize_t n = send(fd, frame.constData() + sent, frame.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        out.error = QStringLiteral("the connection broke while sending");
        return out;
      }
      if (n > 0) sent += n;
    } else if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[sizeof(Reply)];
      const ssize_t n = recv(fd, buffer, sizeof(Reply) - in.size(), 0);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        out.error = QStringLiteral("the program closed the connection without an answer");
        return out;
      }
      if (n > 0) in.append(buffer, n);
    }
  }
  std::memcpy(reply, in.constData(), sizeof(Reply));
  if (reply->magic != kMagic || reply->kind != kReply) {
    out.error = QStringLiteral("unreadable answer");
    return out;
  }
  switch (reply->status) {
    case kDone:
    case kQueued:
      out.delivered = true;
      out.result = static_cast<intptr_t>(reply->result);
      break;
    case kNoWindow: out.error = QStringLiteral("no such window"); break;
    default: out.error = QStringLiteral("the message was refused"); break;
  }
  return out;
}

SendResult SendToSelf(const Header& header, const void* data, int timeoutMs) {
  SendResult out;
  const QByteArray bytes(static_cast<const char*>(data), data ? qsizetype(header.cbData) : 0);
  if (header.kind == kSend && OnGuiThread()) {
    intptr_t result = 0;
    out.delivered = Deliver(header, bytes, &result);
    out.result = result;
    if (!out.delivered) out.error = QStringLiteral("no such window");
    return out;
  }
  if (!LocalWindows::Get().Has(header.target)) {
    out.error = QStringLiteral("no such window");
    return out;
  }
  Incoming item;
  item.header = header;
  item.data = bytes;
  if (header.kind == kPost) {
    Queue::Get().Push(std::move(item));
    out.delivered = true;
    return out;
  }
  auto local = std::make_shared<LocalReply>();
  item.local = local;
  Queue::Get().Push(std::move(item));
  std::unique_lock lock(local->mutex);
  if (!local->done.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), [&] { return local->finished; })) {
    out.error = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
    return out;
  }
  out.delivered = local->exists;
  out.result = local->result;
  if (!local->exists) out.error = QStringLiteral("no such window");
  return out;
}

SendResult Transmit(Kind kind, HWND target, uint32_t msg, uintptr_t wParam, intptr_t lParam, uintptr_t dwData,
                    const void* data, uint32_t size, int timeoutMs) {
  SendResult out;
  if (target == 0 || ProcessOf(target) <= 0) {
    out.error = QStringLiteral("no such window");
    return out;
  }
  if (size > kMaxCopyDataBytes) {
    out.error = QStringLiteral("message too large");
    return out;
  }
  const bool hasCopy = msg == WM_COPYDATA;
  Header h{kMagic, kVersion, kind, target, msg, hasCopy ? kFlagCopyData : 0u, wParam,
           hasCopy ? 0 : static_cast<int64_t>(lParam), hasCopy ? dwData : 0u, hasCopy ? size : 0u, 0};
  if (ProcessOf(target) == getpid()) return SendToSelf(h, data, timeoutMs);
  Reply reply{};
  return Exchange(h, data, timeoutMs, &reply);
}

}  // namespace

bool StartListener(const QString& socketPath) { return Listener::Get().Start(socketPath); }

void StopListener() {
  Listener::Get().Stop();
  Queue::Get().Clear();
}

}  // namespace detail

SendResult SendMessageTimeout(HWND target, uint32_t msg, uintptr_t wParam, intptr_t lParam, int timeoutMs) {
  if (msg == WM_COPYDATA) return SendResult{false, 0, QStringLiteral("WM_COPYDATA goes through SendCopyData")};
  return detail::Transmit(detail::kSend, target, msg, wParam, lParam, 0, nullptr, 0, timeoutMs);
}

intptr_t SendMessage(HWND target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  const SendResult r = SendMessageTimeout(target, msg, wParam, lParam);
  if (!r) qCWarning(lcWinMsg) << "message" << Qt::hex << msg << "not delivered:" << r.error;
  return r.result;
}

SendResult SendCopyData(HWND target, HWND from, uintptr_t dwData, const void* data, uint32_t size, int timeoutMs) {
  if (size > 0 && !data) return SendResult{false, 0, QStringLiteral("no data")};
  return detail::Transmit(detail::kSend, target, WM_COPYDATA, from, 0, dwData, data, size, timeoutMs);
}

SendResult SendCopyData(HWND target, HWND from, uintptr_t dwData, const QByteArray& data, int timeoutMs) {
  if (data.size() > qsizetype(kMaxCopyDataBytes)) return SendResult{false, 0, QStringLiteral("message too large")};
  return SendCopyData(target, from, dwData, data.constData(), uint32_t(data.size()), timeoutMs);
}

bool PostMessage(HWND target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (msg == WM_COPYDATA) return false;
  // Only the receiving process's acceptance is awaited, never its handler.
  const SendResult r = detail::Transmit(detail::kPost, target, msg, wParam, lParam, 0, nullptr, 0, 2000);
  if (!r) qCWarning(lcWinMsg) << "message" << Qt::hex << msg << "not posted:" << r.error;
  return r.delivered;
}

void SetQuitHandler(std::function<void()> handler) {
  std::lock_guard lock(detail::quitMutex);
  detail::quitHandler = std::move(handler);
}

}  // namespace kestrom::winmsg
