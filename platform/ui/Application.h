#pragma once
// The application object's rules for forms: the program lives until its main form closes (not
// until the last window does); closing the main form ends it through the deferred terminate,
// closing any other form only hides that form.

class QWidget;

namespace kestrom::ui {

/**
 * @brief Makes form the main form: the application no longer quits when its last window closes,
 * and a close of form that its own close handling accepts ends the program (Terminate()).
 * Another form's close keeps Qt's default for a window without delete-on-close: it is hidden.
 */
void InstallMainForm(QWidget* form);

/** @brief The main form installed, or nullptr. */
QWidget* MainForm();

/** @brief Runs the message loop and returns its exit code; returns 0 at once when the program
 *  was terminated before the loop started. */
int RunMessageLoop();

}  // namespace kestrom::ui
