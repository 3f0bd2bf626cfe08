#include "analysis/sheets/EmailForm.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QToolButton>

namespace kestrom::sheets {

namespace {

template <typename T>
T* Make(QWidget* parent, const char* name, QRect bounds) {
  T* widget = new T(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(bounds);
  return widget;
}

QToolButton* Button(QWidget* parent, const char* name, const QString& caption, QRect bounds) {
  QToolButton* button = Make<QToolButton>(parent, name, bounds);
  button->setText(caption);
  return button;
}

void Label(QWidget* parent, const QString& text, QPoint at) {
  auto* label = new QLabel(text, parent);
  label->move(at);
  label->adjustSize();
}

// The lines of a memo that hold something; blank lines are no addresses.
QStringList Lines(const QPlainTextEdit* memo) {
  QStringList lines;
  for (const QString& line : memo->toPlainText().split('\n'))
    if (!line.trimmed().isEmpty()) lines << line.trimmed();
  return lines;
}

void AppendLines(QPlainTextEdit* memo, const QStringList& lines) {
  for (const QString& line : lines) memo->appendPlainText(line);
}

}  // namespace

TEmailForm::TEmailForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("EmailForm");
  setWindowTitle("Kestrom Outlook Express Link");
  resize(793, 438);

  Label(this, "From:", {8, 12});
  ComboBox1 = Make<QComboBox>(this, "ComboBox1", {64, 8, 313, 24});
  ComboBox1->setEditable(true);

  SpeedButton6 = Button(this, "SpeedButton6", "TO", {8, 44, 57, 25});
  SpeedButton8 = Button(this, "SpeedButton8", "CC", {8, 124, 57, 25});
  SpeedButton7 = Button(this, "SpeedButton7", "BCC", {8, 204, 57, 25});
  Memo2 = Make<QPlainTextEdit>(this, "Memo2", {72, 44, 305, 73});
  Memo3 = Make<QPlainTextEdit>(this, "Memo3", {72, 124, 305, 73});
  Memo4 = Make<QPlainTextEdit>(this, "Memo4", {72, 204, 305, 73});
  SpeedButton9 = Button(this, "SpeedButton9", "Address\r\nBook", {8, 284, 57, 41});
  SpeedButton9->setToolTip("Open and edit address book");

  Label(this, "Subject:", {392, 12});
  Edit3 = Make<QLineEdit>(this, "Edit3", {456, 8, 329, 24});
  Edit3->setText("Kestrom Video Export");

  Label(this, "Attachments:", {392, 44});
  ListBox1 = Make<QListWidget>(this, "ListBox1", {392, 64, 361, 89});
  ListBox1->setToolTip("Press right mouse button to add or remove files from list");
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  Add1 = PopupMenu1->addAction("Add");
  Add1->setObjectName("Add1");
  Remove1 = PopupMenu1->addAction("Remove");
  Remove1->setObjectName("Remove1");
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListBox1, &QListWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(ListBox1->mapToGlobal(at)); });
  SpeedButton2 = Button(this, "SpeedButton2", "+", {760, 64, 25, 25});
  SpeedButton3 = Button(this, "SpeedButton3", "-", {760, 96, 25, 25});
  OpenDialog1.title = "Add Attachment";
  OpenDialog1.filter = "All files (*.*)|*.*";

  Label(this, "Text to send:", {392, 160});
  Memo1 = Make<QPlainTextEdit>(this, "Memo1", {392, 180, 393, 201});

  SpeedButton1 = Button(this, "SpeedButton1", "Send", {392, 392, 89, 37});
  SpeedButton5 = Button(this, "SpeedButton5", "Reset\r\nAll", {536, 392, 89, 37});
  SpeedButton4 = Button(this, "SpeedButton4", "Close", {696, 392, 89, 37});

  RadioGroup1 = Make<QGroupBox>(this, "RadioGroup1", {8, 336, 145, 65});
  RadioGroup1->setTitle("Show Dialog");
  ShowDialogTrue = Make<QRadioButton>(RadioGroup1, "ShowDialogTrue", {8, 20, 120, 18});
  ShowDialogTrue->setText("TRUE");
  ShowDialogFalse = Make<QRadioButton>(RadioGroup1, "ShowDialogFalse", {8, 40, 120, 18});
  ShowDialogFalse->setText("FALSE");
  RadioGroup1->hide();
  CheckBox1 = Make<QCheckBox>(this, "CheckBox1", {168, 344, 97, 17});
  CheckBox1->setText("Receipt");
  CheckBox1->hide();

  MapiPostMail1 = new TMapiPostMail(this);
  MapiPostMail1->setObjectName("MapiPostMail1");
  MapiPostMail1->Owner = this;
  MapiPostMail1->SetErrorMessage("Error sending mail");
  MapiPostMail1->OnAttachmentNotFound = [this](TMapiPostMail* s) { MapiPostMail1AttachmentNotFound(s); };
  MapiPostMail1->OnAttachmentOpenFailure = [this](TMapiPostMail* s) { MapiPostMail1AttachmentNotFound(s); };
  MapiPostMail1->SetComboAccounts(ComboBox1);

  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  for (QToolButton* b : {SpeedButton6, SpeedButton8, SpeedButton7})
    connect(b, &QToolButton::clicked, this, [this] { SpeedButton6Click(); });
  connect(SpeedButton9, &QToolButton::clicked, this, [this] { SpeedButton9Click(); });
  connect(Add1, &QAction::triggered, this, [this] { Add1Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { Add1Click(); });
  connect(Remove1, &QAction::triggered, this, [this] { Remove1Click(); });
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { Remove1Click(); });
  connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton5Click(); });
  connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
}

QPoint TEmailForm::BoxPosition() const { return frameGeometry().topLeft() + QPoint(64, 86); }

QStringList TEmailForm::Attachments() const {
  QStringList paths;
  for (int i = 0; i < ListBox1->count(); ++i) paths << ListBox1->item(i)->text();
  return paths;
}

void TEmailForm::AddAttachment(const QString& path) { ListBox1->addItem(path); }

void TEmailForm::SpeedButton1Click() {
  if (Lines(Memo2).isEmpty()) {
    const QPoint at = BoxPosition();
    ui::AppDialogs().MessageDlgPos("Your email:sendto list is empty", ui::MsgDlgType::mtWarning, ui::mbOK, at.x(),
                                   at.y(), this);
    return;
  }
  MapiPostMail1->ShowDialog = ShowDialogTrue->isChecked();
  MapiPostMail1->FromEmail = ComboBox1->currentText();
  MapiPostMail1->ToEmail = Lines(Memo2);
  MapiPostMail1->ToCCEmail = Lines(Memo3);
  MapiPostMail1->ToBCCEmail = Lines(Memo4);
  MapiPostMail1->Subject = Edit3->text();
  MapiPostMail1->FileNames = Attachments();
  MapiPostMail1->TextToSend = Memo1->toPlainText().split('\n');
  // The form keeps running while the mail goes out; a second send must wait for the first.
  SpeedButton1->setEnabled(false);
  MapiPostMail1->Send();
  SpeedButton1->setEnabled(true);
}

void TEmailForm::SpeedButton6Click() {
  QStringList to, cc, bcc;
  if (!MapiPostMail1->AddressBook(&to, &cc, &bcc, "Address Book - Main Identity", 4)) {
    ui::AppDialogs().ShowMessage("No addresses added", this);
    return;
  }
  AppendLines(Memo2, to);
  AppendLines(Memo3, cc);
  AppendLines(Memo4, bcc);
}

void TEmailForm::SpeedButton9Click() { MapiPostMail1->AddressBook(nullptr, nullptr, nullptr, "Address Book", 0); }

void TEmailForm::Add1Click() {
  if (std::optional<QString> file = ui::AppDialogs().OpenFile(OpenDialog1, this)) AddAttachment(*file);
}

void TEmailForm::Remove1Click() {
  const int row = ListBox1->currentRow();
  if (row >= 0) delete ListBox1->takeItem(row);
}

void TEmailForm::SpeedButton5Click() {
  Memo2->clear();
  Memo3->clear();
  Memo4->clear();
  Edit3->clear();
  ListBox1->clear();
  Memo1->clear();
  MapiPostMail1->ClearAll();
}

void TEmailForm::SpeedButton4Click() { hide(); }

void TEmailForm::CheckBox1Click() { MapiPostMail1->ReceiptRequested = CheckBox1->isChecked(); }

void TEmailForm::MapiPostMail1AttachmentNotFound(TMapiPostMail*) {
  ui::AppDialogs().ShowMessage("No Attachment Found", this);
}

}  // namespace kestrom::sheets
