// Registered window messages: one number per name for every process of the user. The number is a
// hash of the name; the shared table in the runtime folder settles collisions, first come first
// served, under a file lock, and remembers who asked so that numbers of ended programs can return.
#include "platform/winmsg/Internal.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <cstdio>

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

struct Entry {
  uint32_t number = 0;
  QByteArray pids;  // the processes that asked for it, comma-separated
  QByteArray name;  // upper case, percent-encoded
};

// One line per name: the number in hex, the asking processes' pids, the name percent-encoded.
// Kept as text: the table is read whole on every registration.
QList<Entry> ReadTable(const QString& path) {
  QList<Entry> table;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return table;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const QList<QByteArray> f = line.split(' ');
    if (f.size() != 3) continue;
    bool ok = false;
    const uint32_t number = f[0].toUInt(&ok, 16);
    if (!ok || number < kFirst || number >= kFirst + kCount) continue;
    table << Entry{number, f[1], f[2]};
  }
  return table;
}

bool WriteTable(const QString& path, const QList<Entry>& table) {
  QByteArray text;
  for (const Entry& e : table) text += QByteArray::number(e.number, 16) + ' ' + e.pids + ' ' + e.name + '\n';
  // Renamed into place whole; no flush to disk, the table lives only as long as the session.
  const QString temp = path + QStringLiteral(".new");
  QFile file(temp);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) return false;
  file.close();
  return ::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()) == 0;
}

// True while any process that asked for the entry still runs.
bool InUse(const Entry& e, QHash<qint64, bool>& alive) {
  for (const QByteArray& pid : e.pids.split(',')) {
    const qint64 p = pid.toLongLong();
    auto it = alive.find(p);
    if (it == alive.end()) it = alive.insert(p, p > 0 && detail::ProcessStartTime(p).has_value());
    if (*it) return true;
  }
  return false;
}

uint32_t FreeNumber(const QList<Entry>& table, const QString& key) {
  QSet<uint32_t> taken;
  for (const Entry& e : table) taken.insert(e.number);
  const uint32_t start = HashOf(key);
  for (uint32_t i = 0; i < kCount; ++i) {
    const uint32_t candidate = kFirst + (start + i) % kCount;
    if (!taken.contains(candidate)) return candidate;
  }
  return 0;
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
  const QByteArray lockPath = (dir + QStringLiteral("/messages.lock")).toLocal8Bit();
  const int lockFd = open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0 || flock(lockFd, LOCK_EX) != 0) {
    if (lockFd >= 0) close(lockFd);
    qCWarning(lcWinMsg) << "cannot lock the message table in" << dir;
    return kFirst + HashOf(key);
  }
  const QString path = dir + QStringLiteral("/messages");
  QList<Entry> table = ReadTable(path);
  const QByteArray self = QByteArray::number(static_cast<qint64>(getpid()));
  const QByteArray encoded = key.toUtf8().toPercentEncoding();
  uint32_t number = 0;
  for (Entry& e : table) {
    if (e.name == encoded) {
      number = e.number;
      if (!e.pids.split(',').contains(self)) e.pids += ',' + self;
    }
  }
  if (number == 0) {
    number = FreeNumber(table, key);
    if (number == 0) {
      // Full: names whose every user has ended are free again (names with a run-time part,
      // registered anew by each start of a program, would otherwise use the numbers up).
      QHash<qint64, bool> alive;
      table.removeIf([&](const Entry& e) { return !InUse(e, alive); });
      number = FreeNumber(table, key);
    }
    if (number != 0) table << Entry{number, self, encoded};
  }
  if (number != 0 && !WriteTable(path, table)) qCWarning(lcWinMsg) << "cannot write the message table" << path;
  flock(lockFd, LOCK_UN);
  close(lockFd);
  if (number != 0) cache.insert(key, number);
  else qCWarning(lcWinMsg) << "no message number left for" << name;
  return number;
}

}  // namespace kestrom::winmsg
