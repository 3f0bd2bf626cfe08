#include "analysis/window/Palettes.h"

#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"

#include <QEvent>
#include <QTimer>

namespace kestrom::window {

TPalette::TPalette(TKestromForm* owner, const QString& name, const QString& caption, int width, int height)
    : QWidget(owner, Qt::Tool) {
  setObjectName(name);
  setWindowTitle(caption);
  resize(width, height);
}

TKestromForm* TPalette::OwnerWindow() const { return WindowOfOwner(OwnerIndex); }

void TPalette::FormActivate() {
  // Drawing on a frame during an export: the export waits until Pause/Continue.
  TKestromForm* main = Forms().MainWindow;
  if (!main || !main->Exporting) return;
  main->Timer1->stop();
  main->ExportAVITimer->stop();
}

void TPalette::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

TMarkerForm::TMarkerForm(TKestromForm* owner) : TPalette(owner, "MarkerForm", "Markers", 300, 90) {}

TShapesControlForm::TShapesControlForm(TKestromForm* owner)
    : TPalette(owner, "ShapesControlForm", "Shapes", 300, 90) {}

TAnglesControlForm::TAnglesControlForm(TKestromForm* owner)
    : TPalette(owner, "AnglesControlForm", "Angles", 300, 90) {}

}  // namespace kestrom::window
