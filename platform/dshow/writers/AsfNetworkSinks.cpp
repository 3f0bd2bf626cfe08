#include "platform/dshow/writers/AsfNetworkSinks.h"

#include "platform/com/ComRuntime.h"
#include "platform/dshow/writers/AsfWriter.h"
#include "platform/dshow/writers/FfmpegTypes.h"

#include <QString>
#include <QUrl>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <new>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kestrom::dshow {

using namespace com;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxRequestBytes = 8192;
constexpr auto kRequestTime = std::chrono::seconds(5);
constexpr auto kMaxLag = std::chrono::seconds(10);
// However fast the writer goes, a reader that falls this far behind is dropped too.
constexpr size_t kMaxQueuedBytes = size_t(64) << 20;
constexpr int kPollMs = 100;
constexpr auto kLinger = std::chrono::seconds(1);

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void Wake(int fd) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
}

void Drain(int fd) {
  uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = read(fd, &value, sizeof value);
}

/** @brief Bytes waiting for a socket, each unit with the time it was queued. */
class SendQueue {
 public:
  void Push(std::string bytes) {
    if (bytes.empty()) return;
    bytes_ += bytes.size();
    units_.push_back({std::move(bytes), Clock::now()});
  }
  bool Empty() const { return units_.empty(); }
  /** @brief Whether the oldest unit waits too long, or too much waits. */
  bool Lagging(Clock::time_point now) const {
    return !units_.empty() && (now - units_.front().queued > kMaxLag || bytes_ > kMaxQueuedBytes);
  }
  /** @brief Sends what the socket takes now; false when the connection is broken. */
  bool SendSome(int fd) {
    while (!units_.empty()) {
      Unit& u = units_.front();
      const ssize_t n = send(fd, u.bytes.data() + sent_, u.bytes.size() - sent_, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      sent_ += size_t(n);
      if (sent_ < u.bytes.size()) return true;
      bytes_ -= u.bytes.size();
      units_.pop_front();
      sent_ = 0;
    }
    return true;
  }

 private:
  struct Unit {
    std::string bytes;
    Clock::time_point queued;
  };
  std::deque<Unit> units_;
  size_t sent_ = 0, bytes_ = 0;
};

std::string Bytes(const BYTE* data, DWORD size) { return std::string(reinterpret_cast<const char*>(data), size); }

/** @brief An MMS-over-HTTP chunk: type, length, sequence number, flags, length again, payload. */
std::string Chunk(uint16_t type, uint16_t flags, uint32_t sequence, const std::string& payload) {
  const uint16_t length = uint16_t(payload.size() + 8);
  std::string out(12, '\0');
  auto put16 = [&](size_t at, uint16_t v) {
    out[at] = char(v & 0xFF);
    out[at + 1] = char(v >> 8);
  };
  put16(0, type);
  put16(2, length);
  for (int i = 0; i < 4; ++i) out[4 + i] = char((sequence >> (8 * i)) & 0xFF);
  put16(8, flags);
  put16(10, length);
  return out + payload;
}

constexpr uint16_t kHeaderChunk = 0x4824;  // "$H"
constexpr uint16_t kDataChunk = 0x4424;    // "$D"

std::string StatusResponse(int code, const char* reason) {
  const std::string body = std::to_string(code) + " " + reason + "\r\n";
  return "HTTP/1.0 " + std::to_string(code) + " " + reason + "\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

/** @brief The value of a request header, case-insensitive by name; every occurrence joined. */
std::string HeaderValues(const std::string& request, const char* name) {
  std::string result;
  const size_t nameLength = std::strlen(name);
  for (size_t at = request.find("\r\n"); at != std::string::npos && at + 2 < request.size();) {
    const size_t start = at + 2, end = request.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    const std::string line = request.substr(start, end - start);
    if (line.size() > nameLength && line[nameLength] == ':' && strncasecmp(line.c_str(), name, nameLength) == 0)
      result += line.substr(nameLength + 1) + ",";
    at = end;
  }
  return result;
}

// ---- network sink ----

class CWMWriterNetworkSink final : public CUnknown, public IWMWriterNetworkSink {
 public:
  CWMWriterNetworkSink() : CUnknown("ASF network sink", nullptr) {}
  ~CWMWriterNetworkSink() override { Close(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IWMWriterNetworkSink) return GetInterface(static_cast<IWMWriterNetworkSink*>(this), object);
    if (iid == IID_IWMWriterSink) return GetInterface(static_cast<IWMWriterSink*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT SetMaximumClients(DWORD clients) override {
    std::lock_guard lock(mutex_);
    maxClients_ = clients;
    return S_OK;
  }
  HRESULT GetMaximumClients(DWORD* clients) override {
    if (!clients) return E_POINTER;
    std::lock_guard lock(mutex_);
    *clients = maxClients_;
    return S_OK;
  }
  HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL protocol) override { return protocol == WMT_PROTOCOL_HTTP ? S_OK : E_INVALIDARG; }
  HRESULT GetNetworkProtocol(WMT_NET_PROTOCOL* protocol) override {
    if (!protocol) return E_POINTER;
    *protocol = WMT_PROTOCOL_HTTP;
    return S_OK;
  }

  HRESULT GetHostURL(WCHAR* url, DWORD* chars) override {
    if (!chars) return E_POINTER;
    if (listenFd_ < 0) return VFW_E_WRONG_STATE;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || !host[0]) std::strcpy(host, "localhost");
    const QString text = QStringLiteral("http://%1:%2").arg(QString::fromLocal8Bit(host)).arg(port_);
    const DWORD needed = DWORD(text.size() + 1);
    if (!url) {
      *chars = needed;
      return S_OK;
    }
    if (*chars < needed) {
      *chars = needed;
      return E_INVALIDARG;
    }
    std::memcpy(url, text.utf16(), needed * sizeof(WCHAR));
    *chars = needed;
    return S_OK;
  }

  HRESULT Open(DWORD* port) override {
    if (!port) return E_POINTER;
    if (*port > 65535) return E_INVALIDARG;
    if (listenFd_ >= 0) return VFW_E_WRONG_STATE;
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1, off = 0;
    if (fd >= 0) {
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_any;
      a.sin6_port = htons(uint16_t(*port));
      if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int error = errno;
        close(fd);
        if (error != EAFNOSUPPORT && error != EADDRNOTAVAIL) return HResultFromErrno(error);
        fd = -1;
      }
    }
    if (fd < 0) {  // no IPv6 here: every IPv4 address
      fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) return HResultFromErrno(errno);
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_ANY);
      a.sin_port = htons(uint16_t(*port));
      if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        const int error = errno;
        close(fd);
        return HResultFromErrno(error);
      }
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (listen(fd, 16) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
      const int error = errno;
      close(fd);
      return HResultFromErrno(error);
    }
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
      const int error = errno;
      close(fd);
      return HResultFromErrno(error);
    }
    listenFd_ = fd;
    port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    *port = port_;
    stop_ = false;
    thread_ = std::thread([this] { Serve(); });
    return S_OK;
  }

  HRESULT Disconnect() override {
    std::lock_guard lock(mutex_);
    for (auto& c : clients_) CloseFd(c->fd);
    clients_.clear();
    return S_OK;
  }

  HRESULT Close() override {
    if (thread_.joinable()) {
      stop_ = true;
      Wake(wakeFd_);
      thread_.join();
    }
    Disconnect();
    CloseFd(listenFd_);
    CloseFd(wakeFd_);
    return S_OK;
  }

  // IWMWriterSink: called on the writer's streaming thread; only queues.
  HRESULT OnHeader(const BYTE* header, DWORD size) override {
    if (!header) return E_POINTER;
    std::lock_guard lock(mutex_);
    header_ = Bytes(header, size);
    for (auto& c : clients_)
      if (c->state == Client::Answered && !c->headerQueued && !c->closeWhenSent) QueueHeader(*c);
    WakeServer();
    return S_OK;
  }
  HRESULT IsRealTime(BOOL* realTime) override {
    if (!realTime) return E_POINTER;
    *realTime = TRUE;
    return S_OK;
  }
  HRESULT OnDataUnit(const BYTE* data, DWORD size, BOOL startsWithKeyFrame) override {
    if (!data) return E_POINTER;
    std::lock_guard lock(mutex_);
    const std::string unit = Bytes(data, size);
    for (auto& c : clients_) {
      if (c->state != Client::Answered || !c->headerQueued || c->closeWhenSent) continue;
      if (c->waitingForKey && !startsWithKeyFrame) continue;
      std::string packet = unit;
      if (c->waitingForKey) AsfHidePayloadsBeforeKeyFrame(reinterpret_cast<uint8_t*>(packet.data()), packet.size());
      c->waitingForKey = false;
      c->queue.Push(c->mms ? Chunk(kDataChunk, 0, c->sequence++, packet) : packet);
    }
    WakeServer();
    return S_OK;
  }
  HRESULT OnEndWriting() override {
    std::lock_guard lock(mutex_);
    header_.clear();
    for (auto& c : clients_)
      if (c->state == Client::Answered && c->headerQueued) c->closeWhenSent = true;
    WakeServer();
    return S_OK;
  }

 private:
  struct Client {
    enum State { Reading, Answered };
    int fd = -1;
    State state = Reading;
    std::string request;
    Clock::time_point since = Clock::now();
    bool mms = false, play = true;
    bool headerQueued = false, waitingForKey = true, closeWhenSent = false;
    uint32_t sequence = 0;
    SendQueue queue;
    Clock::time_point lingerUntil{};
  };

  void WakeServer() {
    if (wakeFd_ >= 0) Wake(wakeFd_);
  }

  void QueueHeader(Client& c) {
    c.queue.Push(c.mms ? Chunk(kHeaderChunk, 0x0C00, c.sequence++, header_) : header_);
    c.headerQueued = true;
    c.waitingForKey = true;
    if (!c.play) c.closeWhenSent = true;  // a request for the header alone
  }

  void Refuse(Client& c, int code, const char* reason) {
    c.state = Client::Answered;
    c.queue.Push(StatusResponse(code, reason));
    c.closeWhenSent = true;
  }

  void Answer(Client& c) {
    const size_t lineEnd = c.request.find("\r\n");
    const std::string line = c.request.substr(0, lineEnd);
    const bool http = line.find(" HTTP/1.") != std::string::npos;
    if (!http || line.rfind("GET ", 0) != 0) {
      if (http)
        Refuse(c, 405, "Method Not Allowed");
      else
        Refuse(c, 400, "Bad Request");
      return;
    }
    size_t serving = 0;
    for (const auto& other : clients_)
      if (other.get() != &c && other->state == Client::Answered && !other->closeWhenSent) ++serving;
    if (serving >= maxClients_) {
      Refuse(c, 503, "Service Unavailable");
      return;
    }
    const std::string agent = HeaderValues(c.request, "User-Agent");
    const std::string pragma = HeaderValues(c.request, "Pragma");
    c.mms = agent.find("NSPlayer") != std::string::npos || pragma.find("xClientGUID") != std::string::npos;
    c.play = !c.mms || pragma.find("xPlayStrm=1") != std::string::npos;
    c.state = Client::Answered;
    c.queue.Push(std::string("HTTP/1.0 200 OK\r\n") +
                 (c.mms ? (c.play ? "Content-Type: application/x-mms-framed\r\n" : "Content-Type: application/vnd.ms.wms-hdr.asfv1\r\n")
                        : "Content-Type: video/x-ms-asf\r\n") +
                 "Pragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n");
    if (!header_.empty()) QueueHeader(c);
  }

  void Read(Client& c, bool* drop) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        *drop = true;
        return;
      }
      if (n < 0) return;
      if (c.state != Client::Reading) continue;  // what a client sends once answered is not read
      c.request.append(buffer, size_t(n));
      const size_t end = c.request.find("\r\n\r\n");
      if (end != std::string::npos && end + 4 <= kMaxRequestBytes) {
        Answer(c);
      } else if (c.request.size() > kMaxRequestBytes) {
        Refuse(c, 431, "Request Header Fields Too Large");
      }
    }
  }

  void Serve() {
    std::vector<pollfd> fds;
    while (!stop_) {
      fds.clear();
      fds.push_back({listenFd_, POLLIN, 0});
      fds.push_back({wakeFd_, POLLIN, 0});
      {
        std::lock_guard lock(mutex_);
        for (const auto& c : clients_) fds.push_back({c->fd, short(POLLIN | (c->queue.Empty() ? 0 : POLLOUT)), 0});
      }
      if (poll(fds.data(), fds.size(), kPollMs) < 0 && errno != EINTR) break;
      if (fds[1].revents) Drain(wakeFd_);
      std::lock_guard lock(mutex_);
      if (fds[0].revents & POLLIN) {
        for (int fd; (fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
          auto c = std::make_unique<Client>();
          c->fd = fd;
          clients_.push_back(std::move(c));
        }
      }
      const Clock::time_point now = Clock::now();
      for (size_t i = 0; i < clients_.size();) {
        Client& c = *clients_[i];
        short revents = 0;
        for (size_t f = 2; f < fds.size(); ++f)
          if (fds[f].fd == c.fd) revents = fds[f].revents;
        bool drop = (revents & (POLLERR | POLLNVAL)) != 0;
        if (!drop && (revents & (POLLIN | POLLHUP))) Read(c, &drop);
        if (!drop && c.state == Client::Reading && now - c.since > kRequestTime) Refuse(c, 408, "Request Timeout");
        if (!drop && !c.queue.SendSome(c.fd)) drop = true;
        if (!drop && c.queue.Lagging(now)) drop = true;
        if (!drop && c.closeWhenSent && c.queue.Empty()) {
          // Done; what the client still sends is read until it closes, so that the close
          // does not throw away the answer it has not read yet.
          if (c.lingerUntil == Clock::time_point{}) {
            shutdown(c.fd, SHUT_WR);
            c.lingerUntil = now + kLinger;
          }
          drop = now > c.lingerUntil;
        }
        if (drop) {
          CloseFd(c.fd);
          clients_.erase(clients_.begin() + ptrdiff_t(i));
        } else {
          ++i;
        }
      }
    }
  }

  std::mutex mutex_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::string header_;
  DWORD maxClients_ = 5;
  uint16_t port_ = 0;
  int listenFd_ = -1, wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---- push sink ----

/** @brief Connects to host:port within the time; the socket, or -1 with errno set. */
int ConnectTo(const QString& host, int port, std::chrono::milliseconds within) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.toUtf8().constData(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    errno = EHOSTUNREACH;
    return -1;
  }
  int result = -1, error = ECONNREFUSED;
  for (addrinfo* a = found; a && result < 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
      error = errno;
      close(fd);
      continue;
    }
    pollfd p{fd, POLLOUT, 0};
    int soError = ETIMEDOUT;
    socklen_t length = sizeof soError;
    if (poll(&p, 1, int(within.count())) == 1) getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError == 0) {
      result = fd;
    } else {
      error = soError;
      close(fd);
    }
  }
  freeaddrinfo(found);
  if (result < 0) errno = error;
  return result;
}

/** @brief One chunk of a chunked HTTP body. */
std::string BodyChunk(const std::string& data) {
  char size[16];
  std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  return size + data + "\r\n";
}

class CWMWriterPushSink final : public CUnknown, public IWMWriterPushSink {
 public:
  CWMWriterPushSink() : CUnknown("ASF push sink", nullptr) {}
  ~CWMWriterPushSink() override { Disconnect(); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IWMWriterPushSink) return GetInterface(static_cast<IWMWriterPushSink*>(this), object);
    if (iid == IID_IWMWriterSink) return GetInterface(static_cast<IWMWriterSink*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

  HRESULT Connect(LPCWSTR url, LPCWSTR, BOOL) override {
    if (fd_ >= 0) return VFW_E_WRONG_STATE;
    QString text = url ? QString::fromUtf16(url).trimmed() : QString();
    if (text.isEmpty()) text = QString::fromUtf16(kDefaultPublishingPoint);
    const QUrl parsed(text);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("mms")))
      return E_INVALIDARG;
    const int port = parsed.port(80);
    QByteArray path = parsed.path(QUrl::FullyEncoded).toUtf8();
    if (path.isEmpty()) path = "/";
    if (parsed.hasQuery()) path += "?" + parsed.query(QUrl::FullyEncoded).toUtf8();
    const int fd = ConnectTo(parsed.host(), port, kConnectTime);
    if (fd < 0) return HResultFromErrno(errno);
    const std::string request = "POST " + path.toStdString() + " HTTP/1.1\r\nHost: " + parsed.host().toStdString() + ":" +
                                std::to_string(port) +
                                "\r\nUser-Agent: Kestrom\r\nContent-Type: video/x-ms-asf\r\nTransfer-Encoding: chunked\r\n"
                                "Connection: close\r\n\r\n";
    const HRESULT hr = SendRequestAwaitReply(fd, request);
    if (FAILED(hr)) {
      close(fd);
      return hr;
    }
    fd_ = fd;
    stop_ = ending_ = broken_ = false;
    thread_ = std::thread([this] { Send(); });
    return S_OK;
  }

  HRESULT Disconnect() override {
    if (thread_.joinable()) {
      {
        std::lock_guard lock(mutex_);
        stop_ = true;
      }
      wake_.notify_all();
      thread_.join();
    }
    CloseFd(fd_);
    return S_OK;
  }

  HRESULT EndSession() override { return OnEndWriting(); }

  HRESULT OnHeader(const BYTE* header, DWORD size) override { return Queue(Bytes(header, size)); }
  HRESULT IsRealTime(BOOL* realTime) override {
    if (!realTime) return E_POINTER;
    *realTime = TRUE;
    return S_OK;
  }
  HRESULT OnDataUnit(const BYTE* data, DWORD size, BOOL) override { return Queue(Bytes(data, size)); }
  HRESULT OnEndWriting() override {
    std::lock_guard lock(mutex_);
    if (!ending_ && !broken_) queue_.Push("0\r\n\r\n");
    ending_ = true;
    wake_.notify_all();
    return S_OK;
  }

 private:
  static constexpr std::chrono::milliseconds kConnectTime{5000};

  /** @brief Sends the request head and waits for the point's status line: 2xx (or 100) accepts. */
  static HRESULT SendRequestAwaitReply(int fd, const std::string& request) {
    const Clock::time_point deadline = Clock::now() + kConnectTime;
    size_t sent = 0;
    std::string reply;
    while (Clock::now() < deadline) {
      const bool sending = sent < request.size();
      pollfd p{fd, short(sending ? POLLOUT : POLLIN), 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (poll(&p, 1, int(std::max<int64_t>(1, left.count()))) <= 0) continue;
      if (sending) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return HResultFromErrno(errno);
        if (n > 0) sent += size_t(n);
        continue;
      }
      char buffer[512];
      const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0) return HResultFromErrno(ECONNRESET);
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) continue;
        return HResultFromErrno(errno);
      }
      reply.append(buffer, size_t(n));
      const size_t lineEnd = reply.find("\r\n");
      if (lineEnd == std::string::npos) {
        if (reply.size() > kMaxRequestBytes) return E_FAIL;
        continue;
      }
      // "HTTP/1.x NNN ..."
      const size_t space = reply.find(' ');
      const int code = space < lineEnd ? std::atoi(reply.c_str() + space + 1) : 0;
      return reply.rfind("HTTP/", 0) == 0 && (code == 100 || (code >= 200 && code < 300)) ? S_OK : E_FAIL;
    }
    return HResultFromErrno(ETIMEDOUT);
  }

  HRESULT Queue(std::string bytes) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0 || ending_ || broken_) return S_OK;  // nobody to post to: the writer goes on
    queue_.Push(BodyChunk(bytes));
    wake_.notify_all();
    return S_OK;
  }

  void Send() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (queue_.Empty()) {
        if (ending_) break;
        wake_.wait_for(lock, std::chrono::milliseconds(kPollMs));
        continue;
      }
      if (queue_.Lagging(Clock::now()) || !queue_.SendSome(fd_)) {
        broken_ = true;
        break;
      }
      if (queue_.Empty()) continue;
      lock.unlock();
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, kPollMs);
      lock.lock();
    }
    queue_ = SendQueue();
    if (fd_ >= 0) shutdown(fd_, SHUT_WR);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  SendQueue queue_;
  int fd_ = -1;
  bool stop_ = false, ending_ = false, broken_ = false;
  std::thread thread_;
};

}  // namespace

template <typename Sink, typename Interface>
HRESULT NewSink(Interface** sink) {
  if (!sink) return E_POINTER;
  auto* s = new (std::nothrow) Sink();
  if (!s) return E_OUTOFMEMORY;
  s->NonDelegatingAddRef();
  *sink = s;
  return S_OK;
}

HRESULT NewNetworkSink(IWMWriterNetworkSink** sink) { return NewSink<CWMWriterNetworkSink>(sink); }
HRESULT NewPushSink(IWMWriterPushSink** sink) { return NewSink<CWMWriterPushSink>(sink); }

}  // namespace kestrom::dshow
