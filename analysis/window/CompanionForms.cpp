#include "analysis/window/CompanionForms.h"

#include "analysis/shell/FormSupport.h"
#include "analysis/window/KestromForm.h"

#include <QAction>
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
}

TNewMemoPad::TNewMemoPad(TKestromForm* owner) : QWidget(owner, Qt::Window) {
  setObjectName("NewMemoPad");
  setWindowTitle("Memo - Comments File");
  resize(360, 508);
  setMinimumSize(360, 504);
  setMaximumSize(600, 800);
  auto* menuBar = new QMenuBar(this);
  QMenu* file = menuBar->addMenu("File");
  file->addAction("Save Memo");
  file->addAction("Close Memo", this, &QWidget::hide);
  File1 = file->menuAction();
  File1->setObjectName("File1");
  QMenu* equine = menuBar->addMenu("Equine Database");
  equine->addAction("New Horse Profile");
  equine->addAction("Open Horse Profile");
  equine->addAction("Save Horse Profile");
  equine->addAction("Close", this, &QWidget::hide);
  EquineData1 = equine->menuAction();
  EquineData1->setObjectName("EquineData1");
  AddSessionResults1 = menuBar->addAction("Add Session Results");
  AddSessionResults1->setObjectName("AddSessionResults1");
  menuBar->addAction("Font");
  menuBar->addAction("Print Record");
  menuBar->setGeometry(0, 0, 360, 22);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setReadOnly(true);
  Edit1->setGeometry(0, 24, 360, 22);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(0, 48, 360, 460);
  connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { MemoModified = true; });
}

}  // namespace kestrom::window
