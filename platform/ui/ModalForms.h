#pragma once
// Showing the program's own forms modally. The program runs the form's own loop; a test puts a
// handler in its place that acts on the form as a user would and returns its modal result, so
// no test blocks in a modal loop.

#include <functional>

class QDialog;

namespace kestrom::ui {

using ModalHandler = std::function<int(QDialog& form)>;

/** @brief Shows the form modally and returns its modal result. */
int ShowModal(QDialog& form);

/** @brief Replaces the modal loop (nullptr restores it); for tests. */
void SetModalHandler(ModalHandler handler);

}  // namespace kestrom::ui
