#include "platform/media/LibraryLog.h"

#include <algorithm>
#include <cstdarg>
#include <deque>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace kestrom::media {

namespace {

struct Entry {
  QString text;
  int times = 1;
};

struct Log {
  std::mutex mutex;
  std::deque<Entry> entries;
  int levelKept = AV_LOG_WARNING;
};

Log& TheLog() {
  static Log log;
  return log;
}

void Keep(void* object, int level, const char* format, va_list arguments) {
  Log& log = TheLog();
  if (level > log.levelKept) return;
  char line[1024];
  int prefix = 1;
  av_log_format_line2(object, level, format, arguments, line, sizeof line, &prefix);
  QString text = QString::fromUtf8(line).trimmed();
  if (text.isEmpty()) return;
  std::lock_guard lock(log.mutex);
  if (!log.entries.empty() && log.entries.back().text == text) {
    ++log.entries.back().times;
    return;
  }
  log.entries.push_back({std::move(text), 1});
  while (log.entries.size() > size_t(kLibraryLogSize)) log.entries.pop_front();
}

}  // namespace

void UseLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A program that chose a stricter level keeps it; the default keeps warnings and worse.
    TheLog().levelKept = std::min(av_log_get_level(), int(AV_LOG_WARNING));
    av_log_set_callback(Keep);
  });
}

QStringList LibraryMessages() {
  Log& log = TheLog();
  std::lock_guard lock(log.mutex);
  QStringList lines;
  for (const Entry& e : log.entries)
    lines << (e.times > 1 ? QStringLiteral("%1 (%2 times)").arg(e.text).arg(e.times) : e.text);
  return lines;
}

void ClearLibraryMessages() {
  Log& log = TheLog();
  std::lock_guard lock(log.mutex);
  log.entries.clear();
}

}  // namespace kestrom::media
