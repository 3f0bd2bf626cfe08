#pragma once
// A radio group of the capture form's pages: a titled box of radio buttons, one a line, whose
// chosen item is an index as the toolkit's radio groups give it (-1: none).

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>
#include <functional>

namespace kestrom::capture {

/** @brief Builds the group; click runs after every change of the chosen item, by the user or by code. */
inline QGroupBox* AddRadioGroup(QWidget* parent, const QString& name, const QString& caption, const QStringList& items,
                                QRect geometry, std::function<void()> click = {}) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(name);
  box->setGeometry(geometry);
  auto* group = new QButtonGroup(box);
  group->setObjectName(name + QStringLiteral("Items"));
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], box);
    button->setGeometry(8, 18 + 20 * i, geometry.width() - 16, 20);
    group->addButton(button, i);
  }
  if (click) {
    QObject::connect(group, &QButtonGroup::idToggled, box, [click](int, bool on) {
      if (on) click();
    });
  }
  return box;
}

inline int RadioIndex(const QGroupBox* box) {
  return box->findChild<QButtonGroup*>()->checkedId();
}

inline void SetRadioIndex(QGroupBox* box, int index) {
  if (QAbstractButton* button = box->findChild<QButtonGroup*>()->button(index)) button->setChecked(true);
}

}  // namespace kestrom::capture
