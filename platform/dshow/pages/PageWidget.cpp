#include "platform/dshow/pages/PageWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <map>
#include <memory>

namespace kestrom::dshow::pages {

QWidget* BuildPageWidget(PageModel* model, QWidget* parent, std::function<void()> changed) {
  auto* page = new QWidget(parent);
  auto* grid = new QGridLayout(page);
  // Every control shows the model again after each change: a value may have been clamped, and
  // Cancel puts values back.
  auto refreshers = std::make_shared<std::vector<std::function<void()>>>();
  auto refresh = [refreshers] {
    for (auto& r : *refreshers) r();
  };
  auto set = [model, refresh, changed](const QString& name, LONG value) {
    model->SetValue(name, value);
    refresh();
    if (changed) changed();
  };
  std::map<QString, int> rows;
  int next = 0;
  for (const PageField& field : model->Fields()) {
    const QString name = field.name;
    const auto placed = rows.find(field.rowOf);
    const bool ownRow = field.rowOf.isEmpty() || placed == rows.end();
    const int row = ownRow ? next++ : placed->second;
    rows[name] = row;
    switch (field.kind) {
      case FieldKind::Range: {
        if (ownRow) grid->addWidget(new QLabel(field.label, page), row, 0);
        auto* slider = new QSlider(Qt::Horizontal, page);
        slider->setObjectName(name);
        slider->setRange(field.min, field.max);
        slider->setSingleStep(field.step);
        slider->setPageStep(field.step);
        auto* value = new QLabel(page);
        value->setObjectName(name + "Value");
        value->setMinimumWidth(48);
        grid->addWidget(slider, row, ownRow ? 1 : 4);
        grid->addWidget(value, row, ownRow ? 2 : 5);
        refreshers->push_back([model, name, slider, value] {
          const QSignalBlocker block(slider);
          slider->setValue(model->Value(name));
          value->setText(QString::number(model->Value(name)));
        });
        QObject::connect(slider, &QSlider::valueChanged, page, [set, name](int v) { set(name, v); });
        if (field.hasDefault) {
          auto* reset = new QPushButton("Default", page);
          reset->setObjectName(name + "Default");
          grid->addWidget(reset, row, 4);
          QObject::connect(reset, &QPushButton::clicked, page, [set, name, d = field.defaultValue] { set(name, d); });
        }
        break;
      }
      case FieldKind::Check: {
        auto* box = new QCheckBox(field.label, page);
        box->setObjectName(name);
        grid->addWidget(box, row, ownRow ? 0 : 3, 1, ownRow ? 2 : 1);
        refreshers->push_back([model, name, box] {
          const QSignalBlocker block(box);
          box->setChecked(model->Value(name) != 0);
        });
        QObject::connect(box, &QCheckBox::toggled, page, [set, name](bool on) { set(name, on ? 1 : 0); });
        break;
      }
      case FieldKind::Choice: {
        grid->addWidget(new QLabel(field.label, page), row, 0);
        auto* list = new QComboBox(page);
        list->setObjectName(name);
        list->addItems(field.choices);
        grid->addWidget(list, row, 1, 1, 2);
        refreshers->push_back([model, name, list] {
          const QSignalBlocker block(list);
          list->setCurrentIndex(model->Value(name));
        });
        QObject::connect(list, &QComboBox::currentIndexChanged, page, [set, name](int i) {
          if (i >= 0) set(name, i);
        });
        break;
      }
    }
  }
  grid->setColumnStretch(1, 1);
  refresh();
  return page;
}

}  // namespace kestrom::dshow::pages
