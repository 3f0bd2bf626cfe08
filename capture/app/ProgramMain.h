#pragma once
// The capture program from its entry to the running message loop and back.

#include <QLockFile>
#include <cstdint>
#include <memory>

namespace kestrom::capture {

/**
 * @brief The one capture program of this user: the lock in the window directory's folder, held
 * while the program runs; nothing when another capture program holds it.
 */
std::unique_ptr<QLockFile> TakeProgramLock();

/** @brief The message that asks the capture form to come to the front. */
uint32_t BringForwardMessage();

/** @brief Asks the running capture program's form to come forward; false when none is listed. */
bool BringRunningProgramForward();

/**
 * @brief A capture program already running is brought forward instead, and this start ends.
 * Otherwise: application title, the forms in order (capture form, window-title scan form, diagnostics
 * form, preallocation form), all listed in the window directory, the message loop; then the forms
 * are deleted and the component's sync manager stopped. Returns the loop's exit code.
 */
int ProgramMain();

}  // namespace kestrom::capture
