#include "analysis/annotation/AnglesTableForm.h"

#include "analysis/annotation/DrawingStore.h"
#include "platform/core/Colour.h"
#include "platform/core/Format.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>

namespace kestrom::annotation {

namespace {
constexpr int kMargin = 8;
constexpr int kCellWidth = 84;
constexpr int kCellHeight = 21;
constexpr int kLabelHeight = 20;
}  // namespace

TAnglesTableForm::TAnglesTableForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("AnglesTableForm"));
  setWindowTitle(QStringLiteral("Results"));

  menu_ = new QMenuBar(this);
  menu_->setObjectName(QStringLiteral("MainMenu1"));
  QAction* close = menu_->addAction(QStringLiteral("Close"));
  close->setObjectName(QStringLiteral("Close1"));
  connect(close, &QAction::triggered, this, &TAnglesTableForm::Close1Click);
  const int menuHeight = menu_->sizeHint().height();
  const int width = 2 * kCellWidth + 2 * kMargin + 4;
  menu_->setGeometry(0, 0, width, menuHeight);

  auto* label = new QLabel(QStringLiteral("Trace Angles"), this);
  label->setObjectName(QStringLiteral("Label1"));
  label->setGeometry(kMargin, menuHeight + 4, 2 * kCellWidth + 4, kLabelHeight);

  const int top = menuHeight + 4 + kLabelHeight + 4;
  for (int i = 0; i < 2 * kRows; ++i) {
    auto* cell = new QLabel(QStringLiteral(" "), this);
    cell->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
    cell->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    cell->setAlignment(Qt::AlignCenter);
    const int row = i / 2;
    const int column = i % 2;
    cell->setGeometry(kMargin + column * (kCellWidth + 4), top + row * (kCellHeight + 2),
                      kCellWidth, kCellHeight);
    panels_[i] = cell;
  }
  setFixedSize(width, top + kRows * (kCellHeight + 2) + kMargin);
}

void TAnglesTableForm::SetStores(const DrawingStore* mainStore, const DrawingStore* bestStore) {
  mainStore_ = mainStore;
  bestStore_ = bestStore;
}

void TAnglesTableForm::ShowMainTable() { ShowTable(QStringLiteral("Main"), mainStore_); }

void TAnglesTableForm::ShowBestTable() { ShowTable(QStringLiteral("Best"), bestStore_); }

void TAnglesTableForm::Close1Click() { hide(); }

QLabel* TAnglesTableForm::Panel(int n) const {
  return (n >= 1 && n <= 2 * kRows) ? panels_[n - 1] : nullptr;
}

void TAnglesTableForm::ShowTable(const QString& caption, const DrawingStore* store) {
  setWindowTitle(caption);
  if (!store || store->Angles().empty()) {
    hide();
    return;
  }
  for (QLabel* cell : panels_) cell->setText(QStringLiteral(" "));

  const auto& angles = store->Angles();
  const int shown = std::min<int>(kRows, static_cast<int>(angles.size()));
  for (int r = 0; r < shown; ++r) {
    const AngleRecord& a = angles[r];
    const QColor colour = core::ToQColor(a.colour);
    QLabel* interior = panels_[2 * r];
    QLabel* reflex = panels_[2 * r + 1];
    for (QLabel* cell : {interior, reflex}) {
      QPalette palette = cell->palette();
      palette.setColor(QPalette::WindowText, colour);
      cell->setPalette(palette);
    }
    // An angle with an arm of no length (from a hand-edited file) has no value to show.
    interior->setText(a.result.defined ? core::Printf("%.2f", a.result.interior) : QString());
    reflex->setText(a.result.defined ? core::Printf("%.2f", a.result.reflex) : QString());
  }
  if (showing_)
    showing_();
  else
    show();
}

}  // namespace kestrom::annotation
