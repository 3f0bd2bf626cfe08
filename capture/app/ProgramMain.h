#pragma once
// The capture program from its entry to the running message loop and back.

namespace kestrom::capture {

/**
 * @brief Application title, the forms in order (capture form, window-title scan form, diagnostics
 * form, preallocation form), all listed in the window directory, the message loop; then the forms
 * are deleted and the component's sync manager stopped. Returns the loop's exit code.
 */
int ProgramMain();

}  // namespace kestrom::capture
