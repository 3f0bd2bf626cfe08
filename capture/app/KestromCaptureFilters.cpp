// The capture form's Filters page, its settings files and the folder chooser.
#include "capture/app/KestromCaptureForm.h"

#include <QPlainTextEdit>

namespace kestrom::capture {

void TKestromCaptureForm::BuildFiltersPage(QWidget* page) {
  Memo1 = new QPlainTextEdit(page);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setGeometry(8, 8, 400, 120);
}

void TKestromCaptureForm::ApplyTextOverlay() {}

void TKestromCaptureForm::ResetFilters() {}

}  // namespace kestrom::capture
