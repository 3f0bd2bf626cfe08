#pragma once
// Small helpers for forms laid out with absolute geometry, as the programs place their controls.

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace kestrom::ui {

/** @brief A child label at a fixed place. */
QLabel* AddLabel(QWidget* parent, const QString& name, const QString& text, int left, int top,
                 int width = -1, int height = -1);

/** @brief A child push button at a fixed place. */
QPushButton* AddButton(QWidget* parent, const QString& name, const QString& text, int left, int top,
                       int width, int height);

/** @brief A dialog frame with a title bar, the system menu and a close box, nothing else. */
void SetFixedDialogBorder(QWidget* form, bool minimiseBox = false);

/**
 * @brief Places a top-level form by its outer bounds (left, top); on screen the frame margins are
 * known only after the form is shown, so the client area is placed at once and corrected later.
 */
void PlaceForm(QWidget* form, int left, int top);

}  // namespace kestrom::ui
