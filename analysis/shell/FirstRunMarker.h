#pragma once
// The first-run marker: once the first-run checks have passed, a one-line file says so and the
// checks are not run again. It is kept beside the program; where the program's folder cannot be
// written (an installation owned by another user), it is kept in the user's own configuration
// folder instead, so that the checks run once per user and the start stays silent.

#include "platform/core/TextFile.h"

#include <QString>

namespace kestrom::shell {

/** @brief The marker beside the program (AppFolder + FirstRunMarkerFile of the globals). */
QString ProgramFirstRunMarker();

/** @brief The marker in the user's own configuration folder (same file name). */
QString UserFirstRunMarker();

/** @brief True when either marker exists: the first-run checks have passed before. */
bool FirstRunDone();

/**
 * @brief Writes the marker (FirstRunMarkerText) beside the program, or, when that folder does not
 * take it, in the user's configuration folder. Fails, with the reason, only when neither does.
 */
core::WriteResult WriteFirstRunMarker();

}  // namespace kestrom::shell
