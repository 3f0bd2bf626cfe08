#include "capture/engine/EngineLog.h"

#include "platform/core/Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mutex>
#include <optional>

namespace kestrom::engine {

namespace {

struct ProcessLog {
  std::mutex mutex;
  bool on = false;
  bool beginPending = true;
  std::optional<int64_t> previousTick;
  QStringList lines;
  // What the file on disk holds: its path, how many of our lines and how many bytes.
  QString filePath;
  qsizetype linesInFile = 0;
  qint64 bytesInFile = -1;
};

ProcessLog& Log() {
  static ProcessLog log;
  return log;
}

QByteArray Encode(const QStringList& lines, qsizetype from) {
  QByteArray bytes;
  for (qsizetype i = from; i < lines.size(); ++i) {
    bytes += lines[i].toUtf8();
    bytes += "\r\n";
  }
  return bytes;
}

// Brings the file up to date with the list. Appends when the file is what we last left there;
// otherwise writes it whole. A failure is forgotten: the next line tries again.
void SaveLocked(ProcessLog& log) {
  const QString path = QDir::current().absoluteFilePath(QString::fromLatin1(ProcessLogFileName));
  const QFileInfo info(path);
  const bool intact = path == log.filePath && log.bytesInFile >= 0 && info.exists() &&
                      info.size() == log.bytesInFile;
  if (intact) {
    QFile file(path);
    if (file.open(QIODevice::Append)) {
      const QByteArray tail = Encode(log.lines, log.linesInFile);
      if (file.write(tail) == tail.size() && file.flush()) {
        log.linesInFile = log.lines.size();
        log.bytesInFile += tail.size();
        return;
      }
    }
    log.bytesInFile = -1;  // unknown now: rewrite next time
    return;
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    log.bytesInFile = -1;
    return;
  }
  const QByteArray all = Encode(log.lines, 0);
  if (file.write(all) == all.size() && file.flush()) {
    log.filePath = path;
    log.linesInFile = log.lines.size();
    log.bytesInFile = all.size();
  } else {
    log.bytesInFile = -1;
  }
}

void WriteLocked(ProcessLog& log, const QString& banner, const QString& message) {
  if (!log.on) return;
  // The first line of the log, like its banner, has no time before it to measure from.
  const std::optional<int64_t> previous = log.previousTick;
  if (log.beginPending) {
    log.beginPending = false;
    WriteLocked(log, QStringLiteral("="), QString::fromLatin1(BeginBannerText));
  }
  QString text = message;
  const int64_t now = core::SystemClock().NowMs();
  if (previous) text = QString::number((now - *previous) / 1000.0, 'f', 3) + QLatin1Char(' ') + text;
  log.previousTick = now;
  if (banner.isEmpty()) {
    log.lines.append(text);
  } else {
    const QString rule(80, banner.at(0));
    log.lines << QString() << rule << text << rule << QString();
  }
  SaveLocked(log);
}

}  // namespace

void EnableProcessLog() {
  std::lock_guard lock(Log().mutex);
  Log().on = true;
}

bool ProcessLogEnabled() {
  std::lock_guard lock(Log().mutex);
  return Log().on;
}

QStringList ProcessLogLines() {
  std::lock_guard lock(Log().mutex);
  return Log().lines;
}

void ResetProcessLog() {
  ProcessLog& log = Log();
  std::lock_guard lock(log.mutex);
  log.on = false;
  log.beginPending = true;
  log.previousTick.reset();
  log.lines.clear();
  log.filePath.clear();
  log.linesInFile = 0;
  log.bytesInFile = -1;
}

void WriteLog(const QString& banner, const QString& message) {
  ProcessLog& log = Log();
  std::lock_guard lock(log.mutex);
  WriteLocked(log, banner, message);
}

bool LogYesNo(bool condition, const QString& message) {
  WriteLog(message + (condition ? QStringLiteral(": YES") : QStringLiteral(": no")));
  return condition;
}

QString LevelName(int level) {
  switch (level) {
    case ll_Info: return QStringLiteral("INFO");
    case ll_Warning: return QStringLiteral("WARNING");
    default: return QStringLiteral("ERROR");
  }
}

bool LogResult(EngineComponent* component, int32_t hresult, int level, const QString& message,
               TLogType code) {
  if (!component || !component->Initialised()) return false;
  const bool success = hresult >= 0;
  const QString levelText = success ? QString() : LevelName(level);
  if (ProcessLogEnabled())
    WriteLog(QString::number(static_cast<int>(code)) + QLatin1Char(' ') + levelText +
             QStringLiteral(": ") + message);
  if (!success && level >= ll_Info && level <= ll_Error && !component->Destroying())
    component->FireLog(code, levelText, message);
  return success;
}

bool CheckAndLog(EngineComponent* component, bool failed, int level, const QString& message,
                 TLogType code) {
  constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);  // E_FAIL
  return !LogResult(component, failed ? kFail : 0, level, message, code);
}

bool CheckMode(EngineComponent* component, int allowed, int level, bool deviceRequired) {
  const TCurrentState state = component ? component->CurrentState() : cs_None;
  const int device = component ? component->BoundVideoDevice() : -1;
  const bool captureSource = component && component->VideoSourceIsCaptureDevice();
  bool ok = true;
  auto check = [&](bool failed, const char* message, TLogType code) {
    if (CheckAndLog(component, failed, level, QString::fromLatin1(message), code)) ok = false;
  };
  check(device == -1 && ((allowed & cm_Recording) ||
                         (deviceRequired && captureSource && (allowed & cm_Preview))),
        "no video device selected", TLogType::e_no_video_device_selected);
  check(state == cs_Recording && !(allowed & cm_Recording), "stop capture first",
        TLogType::e_stop_recording_first);
  check(state == cs_Reencoding && !(allowed & cm_Reencoding), "wait for reencoding completion",
        TLogType::e_reencoding);
  check(state == cs_Player && !(allowed & cm_Player), "close player first",
        TLogType::e_stop_player_first);
  check(state == cs_Preview && !(allowed & cm_Preview), "stop preview first",
        TLogType::e_stop_preview_first);
  check(state == cs_None && allowed == cm_Preview, "start preview first",
        TLogType::e_start_preview_first);
  return ok;
}

bool CheckDeviceIndex(EngineComponent* component, int index, int count, const QString& kind) {
  if (count <= 0)
    return CheckAndLog(component, true, ll_Info, QStringLiteral("no ") + kind + QStringLiteral(" available"),
                       TLogType::e_no_device_available);
  return CheckAndLog(component, index >= count, ll_Error,
                     QStringLiteral("index of ") + kind + QStringLiteral(" out of range"),
                     TLogType::e_index_out_of_range);
}

}  // namespace kestrom::engine
