#pragma once
// Forms laid out with absolute geometry were drawn for narrower letters than a Linux font has.
// These helpers let their texts fit: buttons on a row widen to their captions and push the
// buttons after them along, labels widen to their text, a container grows to hold its controls,
// and a button that cannot grow shows a short form of its caption with the whole one as its hint.

#include <QList>
#include <QString>

class QAbstractButton;
class QWidget;

namespace kestrom::ui {

/** @brief Width a button needs to show its caption whole (the mnemonic '&' takes no room). */
int CaptionWidth(const QAbstractButton* button);

/** @brief Width a control needs to show its text whole (labels, buttons, check boxes, combo boxes). */
int NeededWidth(const QWidget* control);

/**
 * @brief The buttons, taken in rows (same parent, same top): a button widens to its caption, and
 * the buttons after it on its row move along by what it gained, so no caption is cut.
 */
void FitButtonsToCaptions(const QList<QAbstractButton*>& buttons);

/**
 * @brief Shows the whole caption when the button is wide enough, else the short form; the hint
 * (tooltip) names what the button does, the whole caption when no hint was set.
 */
void ShortCaptionWhenCut(QAbstractButton* button, const QString& caption, const QString& shortForm);

/** @brief Each label under the container (nested ones too) widens to its text; none narrows. */
void WidenLabelsToText(QWidget* container);

/** @brief Width the container needs to hold its direct children with margin to their right. */
int WidthToHoldChildren(const QWidget* container, int margin);

}  // namespace kestrom::ui
