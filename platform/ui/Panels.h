#pragma once
// Panels of forms laid out with absolute geometry.

#include <QRect>
#include <QString>

class QFrame;
class QWidget;

namespace kestrom::ui {

/**
 * @brief A child panel at a fixed place. It paints its own background, so nothing of the controls
 * it is shown over shows through its texts; raised, it has the raised frame of a panel that
 * stands out from the form.
 */
QFrame* AddPanel(QWidget* parent, const QString& name, QRect bounds, bool raised = true);

}  // namespace kestrom::ui
