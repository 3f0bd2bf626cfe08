#pragma once
// Ending the program as the toolkit's application does: a flag is set, and the message loop ends
// when control returns to it. No close queries run.

namespace kestrom::ui {

/** @brief Asks the program to end once control is back in the message loop. */
void Terminate();

/** @brief True once Terminate was called. */
bool Terminated();

/** @brief Clears the flag; for tests that terminate more than once in one process. */
void ResetTerminated();

}  // namespace kestrom::ui
