#pragma once
// The process log and the check routines every engine operation runs its conditions through.
//
// The log is process-wide: off until a component's AutoFilePrefix is set to "fcatchlog", then on
// for good. While on, every line goes to "fcatchlog.txt" in the current folder. The file always
// holds the complete log of the process: it is written whole the first time (and again whenever
// it went missing, changed under us or the current folder moved) and appended to otherwise.
// Safe from any thread.

#include "capture/engine/EngineComponent.h"
#include "capture/engine/LogType.h"

#include <QString>
#include <QStringList>
#include <cstdint>

namespace kestrom::engine {

inline constexpr const char* ProcessLogFileName = "fcatchlog.txt";
inline constexpr const char* BeginBannerText =
    "BEGIN TFramecatcher vv5.3 (build 5.3.4 rev c), October 2, 2003 process log";
inline constexpr const char* EndBannerText =
    "END TFramecatcher vv5.3 (build 5.3.4 rev c), October 2, 2003 process log";

/** @brief Check levels; any other level is written as "ERROR" and fires no event. */
enum TLogLevel { ll_Trace = 0, ll_Info = 1, ll_Warning = 2, ll_Error = 3 };

/** @brief Allowed-mode flags of CheckMode. */
enum TModeFlags { cm_None = 1, cm_Preview = 2, cm_Recording = 4, cm_Player = 8, cm_Reencoding = 16 };

/** @brief Switches the process log on (there is no way to switch it off). */
void EnableProcessLog();
bool ProcessLogEnabled();

/** @brief The lines logged so far (empty while the log is off). */
QStringList ProcessLogLines();

/**
 * @brief Forgets the log: the lines, the file bookkeeping, the on switch and the pending BEGIN
 * banner. Run at the end of the process after the END banner, and by tests.
 */
void ResetProcessLog();

/**
 * @brief Appends a line while the log is on. A non-empty banner frames the line with an empty
 * line and 80 copies of its first character above and below.
 */
void WriteLog(const QString& banner, const QString& message);
inline void WriteLog(const QString& message) { WriteLog(QString(), message); }

/** @brief Logs message + ": YES" or ": no"; returns the condition. */
bool LogYesNo(bool condition, const QString& message);

/** @brief The name of a level ("INFO", "WARNING", "ERROR"). */
QString LevelName(int level);

/**
 * @brief Logs an operation's result: "<code> <level>: <message>" on failure, "<code> : <message>"
 * on success; a failure of level 1-3 fires the component's OnLog. False (and nothing written)
 * while the component is not yet constructed. hresult: negative is a failure.
 */
bool LogResult(EngineComponent* component, int32_t hresult, int level, const QString& message,
               TLogType code);

/** @brief Runs a check: true when it failed (the caller then gives up). */
bool CheckAndLog(EngineComponent* component, bool failed, int level, const QString& message,
                 TLogType code);

/**
 * @brief The mode preconditions (allowed = cm_ flags): every check is run and logged; true when
 * none failed.
 */
bool CheckMode(EngineComponent* component, int allowed, int level, bool deviceRequired);

/**
 * @brief The device index check: true when it failed. With devices, an index not below count
 * fails ("index of " + kind + " out of range", ERROR); -1 passes (the mode checks catch it).
 * Without devices: "no " + kind + " available" (INFO).
 */
bool CheckDeviceIndex(EngineComponent* component, int index, int count, const QString& kind);

}  // namespace kestrom::engine
