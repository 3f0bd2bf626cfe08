#include "analysis/window/CompanionForms.h"

#include "analysis/shell/FormSupport.h"
#include "analysis/window/KestromForm.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>

namespace kestrom::window {

using shell::AddButton;
using shell::AddLabel;

TCloseFilesForm::TCloseFilesForm(const QString& name, QWidget* parent) : QDialog(parent) {
  setObjectName(name);
  setWindowTitle("Close Video File");
  shell::SetFixedDialogBorder(this);
  setFixedSize(206, 255);
  AddLabel(this, "Label1", "The following video has changed :-", 8, 4);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setReadOnly(true);
  Edit1->setGeometry(8, 22, 190, 22);
  AddLabel(this, "Label2", "Do you want to save changes to :-", 8, 50);
  const char* rows[] = {"Trace", "Shapes", "Memo", "Markers", "Angles", "Events"};
  int top = 72;
  for (const char* row : rows) {
    const QString kind = row;
    AddLabel(this, kind + "Label", kind, 8, top + 4)->setEnabled(false);
    AddButton(this, kind + "Yes", "&Yes", 80, top, 56, 24)->setEnabled(false);
    AddButton(this, kind + "No", "&No", 140, top, 56, 24)->setEnabled(false);
    top += 28;
  }
}

TCutForm::TCutForm(const QString& name, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  setObjectName(name);
  setWindowTitle("Cut");
  resize(200, 150);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(0, 0, 200, 150);
}

void TCutForm::SetPicture(const QImage& picture) {
  Bitmap = picture;
  resize(picture.size());
  Image1->setGeometry(0, 0, picture.width(), picture.height());
  Image1->setPixmap(QPixmap::fromImage(picture));
}

}  // namespace kestrom::window
