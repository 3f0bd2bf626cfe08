#include "platform/ui/CaptionFit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace kestrom::ui {

namespace {

// Room a push or tool button keeps around its caption (its frame and a little air).
constexpr int kCaptionPadding = 8;

}  // namespace

int CaptionWidth(const QAbstractButton* button) {
  return button->fontMetrics().horizontalAdvance(QString(button->text()).remove(QLatin1Char('&'))) + kCaptionPadding;
}

int NeededWidth(const QWidget* control) {
  // Check boxes, radio buttons, combo boxes and labels know their own room (box or arrow included).
  if (qobject_cast<const QCheckBox*>(control) || qobject_cast<const QRadioButton*>(control) ||
      qobject_cast<const QComboBox*>(control) || qobject_cast<const QLabel*>(control))
    return control->sizeHint().width();
  if (const auto* button = qobject_cast<const QAbstractButton*>(control)) return CaptionWidth(button);
  return control->minimumSizeHint().width();
}

void FitButtonsToCaptions(const QList<QAbstractButton*>& buttons) {
  std::map<std::pair<QWidget*, int>, std::vector<QAbstractButton*>> rows;
  for (QAbstractButton* b : buttons)
    if (!b->text().isEmpty()) rows[{b->parentWidget(), b->y()}].push_back(b);
  for (auto& [where, row] : rows) {
    std::sort(row.begin(), row.end(), [](const QAbstractButton* a, const QAbstractButton* b) { return a->x() < b->x(); });
    int shift = 0;
    for (QAbstractButton* b : row) {
      const int needed = CaptionWidth(b);
      b->move(b->x() + shift, b->y());
      if (b->width() < needed) {
        shift += needed - b->width();
        b->resize(needed, b->height());
      }
    }
  }
}

void ShortCaptionWhenCut(QAbstractButton* button, const QString& caption, const QString& shortForm) {
  button->setText(caption);
  if (button->width() < CaptionWidth(button)) button->setText(shortForm);
  if (button->toolTip().isEmpty()) button->setToolTip(QString(caption).remove(QLatin1Char('&')));
}

void WidenLabelsToText(QWidget* container) {
  for (QLabel* label : container->findChildren<QLabel*>()) {
    if (label->wordWrap()) continue;  // a wrapped label is sized by its lines, not its width
    const int needed = label->sizeHint().width();
    if (label->width() < needed) label->resize(needed, label->height());
  }
}

int WidthToHoldChildren(const QWidget* container, int margin) {
  int needed = 0;
  for (const QWidget* child : container->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    if (!child->isWindow()) needed = std::max(needed, child->geometry().right() + 1 + margin);
  return needed;
}

}  // namespace kestrom::ui
