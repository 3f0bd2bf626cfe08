// Registered window messages: one number per name for every process of the user. The number is a
// hash of the name; the shared table in the runtime folder settles collisions, first come first
// served, under a file lock.
#include "platform/winmsg/Internal.h"

#include <QHash>

#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace kestrom::winmsg {

namespace {

constexpr uint32_t kFirst = 0xC000;
constexpr uint32_t kCount = 0x4000;

uint32_t HashOf(const QString& key) {
  uint32_t h = 2166136261u;  // FNV-1a: stable across processes and builds, unlike qHash
  for (const char c : key.toUtf8()) {
    h ^= static_cast<uint8_t>(c);
    h *= 16777619u;
  }
  return h % kCount;
}

std::mutex cacheMutex;
QHash<QString, uint32_t> cache;

QByteArray ReadAll(int fd) {
  QByteArray all;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    all.append(buffer, n);
  }
  return all;
}

}  // namespace

uint32_t RegisterWindowMessage(const QString& name) {
  if (name.isEmpty()) return 0;
  const QString key = name.toUpper();
  std::lock_guard lock(cacheMutex);
  if (const auto it = cache.constFind(key); it != cache.constEnd()) return *it;

  const QString dir = RuntimeDir();
  if (dir.isEmpty()) {
    qCWarning(lcWinMsg) << "no runtime folder: message" << name << "numbered without the shared table";
    return kFirst + HashOf(key);
  }
  const QByteArray path = (dir + QStringLiteral("/messages")).toLocal8Bit();
  const int fd = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX) != 0) {
    if (fd >= 0) close(fd);
    qCWarning(lcWinMsg) << "cannot use the message table" << path;
    return kFirst + HashOf(key);
  }
  // One line per name: the number in hex, a blank, the name in UTF-8 upper case.
  QHash<uint32_t, QString> taken;
  uint32_t number = 0;
  for (const QByteArray& line : ReadAll(fd).split('\n')) {
    const int blank = line.indexOf(' ');
    if (blank <= 0) continue;
    bool ok = false;
    const uint32_t n = line.left(blank).toUInt(&ok, 16);
    if (!ok || n < kFirst || n >= kFirst + kCount) continue;
    const QString known = QString::fromUtf8(line.mid(blank + 1));
    taken.insert(n, known);
    if (known == key) number = n;
  }
  if (number == 0) {
    const uint32_t start = HashOf(key);
    for (uint32_t i = 0; i < kCount; ++i) {
      const uint32_t candidate = kFirst + (start + i) % kCount;
      if (!taken.contains(candidate)) {
        number = candidate;
        break;
      }
    }
    if (number != 0) {
      const QByteArray line = QByteArray::number(number, 16) + ' ' + key.toUtf8() + '\n';
      lseek(fd, 0, SEEK_END);
      if (write(fd, line.constData(), line.size()) != line.size())
        qCWarning(lcWinMsg) << "cannot extend the message table" << path;
    }
  }
  flock(fd, LOCK_UN);
  close(fd);
  if (number != 0) cache.insert(key, number);
  return number;
}

}  // namespace kestrom::winmsg
