#include "analysis/window/CompanionForms.h"

#include "platform/ui/FormSupport.h"
#include "analysis/window/AppForms.h"
#include "analysis/window/KestromForm.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

namespace kestrom::window {

using ui::AddButton;
using ui::AddLabel;

TCloseFilesForm::TCloseFilesForm(const QString& name, QWidget* parent) : QDialog(parent) {
  setObjectName(name);
  setWindowTitle("Close Video File");
  ui::SetFixedDialogBorder(this);
  setFixedSize(kNarrowestWidth, 255);
  move(550, 205);
  AddLabel(this, "Label1", "The following video has changed :-", 8, 4);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName("Edit1");
  Edit1->setReadOnly(true);
  Edit1->setGeometry(8, 22, 190, 22);
  AddLabel(this, "Label2", "Do you want to save changes to :-", 8, 50);
  struct Row {
    const char* kind;
    QLabel** label;
    QPushButton** yes;
    QPushButton** no;
    void (TCloseFilesForm::*onYes)();
    void (TCloseFilesForm::*onNo)();
  };
  const Row rows[] = {
      {"Trace", &TraceLabel, &TraceYes, &TraceNo, &TCloseFilesForm::TraceYesClick, &TCloseFilesForm::TraceNoClick},
      {"Shapes", &ShapesLabel, &ShapesYes, &ShapesNo, &TCloseFilesForm::ShapesYesClick,
       &TCloseFilesForm::ShapesNoClick},
      {"Memo", &MemoLabel, &MemoYes, &MemoNo, &TCloseFilesForm::MemoYesClick, &TCloseFilesForm::MemoNoClick},
      {"Markers", &MarkersLabel, &MarkersYes, &MarkersNo, &TCloseFilesForm::MarkersYesClick,
       &TCloseFilesForm::MarkersNoClick},
      {"Angles", &AnglesLabel, &AnglesYes, &AnglesNo, &TCloseFilesForm::AnglesYesClick,
       &TCloseFilesForm::AnglesNoClick},
      {"Events", &EventsLabel, &EventsYes, &EventsNo, &TCloseFilesForm::EventsYesClick,
       &TCloseFilesForm::EventsNoClick},
  };
  int top = 72;
  for (const Row& row : rows) {
    const QString kind = row.kind;
    *row.label = AddLabel(this, kind + "Label", kind, 8, top + 4);
    *row.yes = AddButton(this, kind + "Yes", "&Yes", 80, top, 56, 24);
    *row.no = AddButton(this, kind + "No", "&No", 140, top, 56, 24);
    (*row.label)->setEnabled(false);
    (*row.yes)->setEnabled(false);
    (*row.no)->setEnabled(false);
    // Enter must not answer a row by default: every answer is the coach's own click.
    (*row.yes)->setAutoDefault(false);
    (*row.no)->setAutoDefault(false);
    connect(*row.yes, &QPushButton::clicked, this, row.onYes);
    connect(*row.no, &QPushButton::clicked, this, row.onNo);
    top += 28;
  }
  ContinueButton = AddButton(this, "ContinueButton", "Continue with new video ?", 8, top, 190, 24);
  ContinueButton->hide();
  connect(ContinueButton, &QPushButton::clicked, this, [this] { ContinueButtonClick(); });
  PreviousVideoButton = AddButton(this, "PreviousVideoButton", "Previous Video", 8, top, 190, 24);
  PreviousVideoButton->hide();
  connect(PreviousVideoButton, &QPushButton::clicked, this, [this] { PreviousVideoButtonClick(); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(10);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start();
}

TKestromForm* TCloseFilesForm::Owner() const { return WindowOfOwner(OwnerIndex); }

// The form was drawn for narrower letters than a Linux font has, and for short paths: it widens
// to its questions and to the video's path (within the screen) rather than cut them.
void TCloseFilesForm::FitToText() {
  int needed = kNarrowestWidth;
  for (const char* name : {"Label1", "Label2"})
    if (const auto* label = findChild<QLabel*>(name)) needed = std::max(needed, label->x() + label->sizeHint().width() + 8);
  const QFontMetrics metrics(Edit1->font());
  needed = std::max(needed, Edit1->x() + metrics.horizontalAdvance(Edit1->text()) + 16);
  if (const QScreen* screen = this->screen()) needed = std::min(needed, screen->availableGeometry().width() - 32);
  needed = std::max(needed, kNarrowestWidth);
  setFixedWidth(needed);
  const int inner = needed - 2 * Edit1->x();
  Edit1->resize(inner, Edit1->height());
  ContinueButton->resize(inner, ContinueButton->height());
  PreviousVideoButton->resize(inner, PreviousVideoButton->height());
}

void TCloseFilesForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TCloseFilesForm::FormShow() {
  ui::PlaceForm(this, OwnerIndex == 2 ? 200 : 550, 205);
  TKestromForm* w = Owner();
  Edit1->setText(w ? w->VideoName : QString());
  FitToText();
  const annotation::ModifiedFlags flags = w ? w->Drawings.Modified() : annotation::ModifiedFlags{};
  const bool memo = w && w->MemoPad && w->MemoPad->MemoModified;
  const struct {
    QLabel* label;
    QPushButton *yes, *no;
    bool changed;
  } rows[] = {
      {TraceLabel, TraceYes, TraceNo, flags.trace},       {ShapesLabel, ShapesYes, ShapesNo, flags.shapes},
      {MemoLabel, MemoYes, MemoNo, memo},                 {MarkersLabel, MarkersYes, MarkersNo, flags.markers},
      {AnglesLabel, AnglesYes, AnglesNo, flags.angles},   {EventsLabel, EventsYes, EventsNo, flags.events},
  };
  for (const auto& row : rows)
    for (QWidget* control : std::initializer_list<QWidget*>{row.label, row.yes, row.no})
      control->setEnabled(row.changed);
}

void TCloseFilesForm::EndRow(QLabel* label, QPushButton* yes, QPushButton* no) {
  for (QWidget* control : std::initializer_list<QWidget*>{label, yes, no}) control->setEnabled(false);
  CloseWhenDone();
}

void TCloseFilesForm::CloseWhenDone() {
  TKestromForm* w = Owner();
  if (!w || !w->HasUnsavedWork()) done(ui::mrOk);
}

void TCloseFilesForm::ShowSaveError(const QString& text) {
  // The row stays enabled: the coach may free the disk or folder and try again, or answer No.
  TKestromForm* w = Owner();
  const QPoint at = (w ? w->Bounds() : frameGeometry()).topLeft();
  ui::AppDialogs().MessageDlgPos(text, ui::MsgDlgType::mtError, ui::mbOK, at.x() + 64, at.y() + 86, this);
}

bool TCloseFilesForm::MayReplace(const QStringList& paths) {
  TKestromForm* w = Owner();
  if (!w) return false;
  const QPoint at = w->Bounds().topLeft();
  for (const QString& path : paths) {
    if (!w->Drawings.LoadedPartly(path)) continue;
    if (ui::AppDialogs().MessageDlgPos(annotation::DrawingStore::ReplacePartialQuestion(path),
                                       ui::MsgDlgType::mtConfirmation, ui::mbYes | ui::mbNo, at.x() + 64,
                                       at.y() + 86, this) != ui::mrYes)
      return false;
    w->Drawings.ForgetPartialLoad(path);
  }
  return true;
}

void TCloseFilesForm::TraceYesClick() {
  // The trace has no file of its own: Yes, like No, only lets it go.
  TraceNoClick();
}

void TCloseFilesForm::ShapesYesClick() {
  TKestromForm* w = Owner();
  if (!w) return;
  const annotation::CompanionFileNames names = annotation::CompanionFileNames::ForVideo(w->VideoFileName);
  if (!MayReplace({names.ShapesFile, names.FreehandFile, names.FreehandGridFile, names.TextItemsFile})) return;
  const annotation::SaveResult r = w->Drawings.SaveDrawings(names);
  if (!r.ok()) return ShowSaveError(r.error);
  EndRow(ShapesLabel, ShapesYes, ShapesNo);
}

void TCloseFilesForm::MemoYesClick() {
  TKestromForm* w = Owner();
  if (!w || !w->MemoPad) return;
  // The pad tells the coach itself when its text file cannot be written.
  if (!w->MemoPad->SaveComments1Click()) return;
  EndRow(MemoLabel, MemoYes, MemoNo);
}

void TCloseFilesForm::MarkersYesClick() {
  TKestromForm* w = Owner();
  if (!w) return;
  const QString file = annotation::CompanionFileNames::ForVideo(w->VideoFileName).MarkersFile;
  if (!MayReplace({file})) return;
  const annotation::SaveResult r = w->Drawings.SaveMarkers(file);
  if (!r.ok()) return ShowSaveError(r.error);
  EndRow(MarkersLabel, MarkersYes, MarkersNo);
}

void TCloseFilesForm::AnglesYesClick() {
  TKestromForm* w = Owner();
  if (!w) return;
  const QString file = annotation::CompanionFileNames::ForVideo(w->VideoFileName).AnglesFile;
  if (!MayReplace({file})) return;
  const annotation::SaveResult r = w->Drawings.SaveAngles(file);
  if (!r.ok()) return ShowSaveError(r.error);
  EndRow(AnglesLabel, AnglesYes, AnglesNo);
}

void TCloseFilesForm::EventsYesClick() {
  TKestromForm* w = Owner();
  if (!w) return;
  const annotation::SaveResult r =
      w->Drawings.SaveEventLines(annotation::CompanionFileNames::ForVideo(w->VideoFileName).EventLinesFile);
  if (!r.ok()) return ShowSaveError(r.error);
  EndRow(EventsLabel, EventsYes, EventsNo);
}

void TCloseFilesForm::TraceNoClick() {
  if (TKestromForm* w = Owner()) w->Drawings.Modified().trace = false;
  EndRow(TraceLabel, TraceYes, TraceNo);
}

void TCloseFilesForm::ShapesNoClick() {
  if (TKestromForm* w = Owner()) w->Drawings.Modified().shapes = false;
  EndRow(ShapesLabel, ShapesYes, ShapesNo);
}

void TCloseFilesForm::MemoNoClick() {
  if (TKestromForm* w = Owner(); w && w->MemoPad) w->MemoPad->MemoModified = false;
  EndRow(MemoLabel, MemoYes, MemoNo);
}

void TCloseFilesForm::MarkersNoClick() {
  if (TKestromForm* w = Owner()) w->Drawings.Modified().markers = false;
  EndRow(MarkersLabel, MarkersYes, MarkersNo);
}

void TCloseFilesForm::AnglesNoClick() {
  if (TKestromForm* w = Owner()) w->Drawings.Modified().angles = false;
  EndRow(AnglesLabel, AnglesYes, AnglesNo);
}

void TCloseFilesForm::EventsNoClick() {
  if (TKestromForm* w = Owner()) w->Drawings.Modified().events = false;
  EndRow(EventsLabel, EventsYes, EventsNo);
}

void TCloseFilesForm::ContinueButtonClick() {
  if (OwnerIndex == 2) CloseWhenDone();
}

void TCloseFilesForm::PreviousVideoButtonClick() {
  if (TKestromForm* w = Owner()) Edit1->setText(w->VideoName);
}

void TCloseFilesForm::Timer1Timer() {
  Timer1->stop();
  if (TKestromForm* w = Owner()) Edit1->setText(w->VideoName);
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
