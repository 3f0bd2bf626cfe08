#include "analysis/sheets/MemoPad.h"

#include "analysis/sheets/MemoFiles.h"
#include "platform/core/TextFile.h"
#include "platform/ui/Printing.h"
#include "platform/ui/WidgetColours.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QVBoxLayout>

namespace kestrom::sheets {

TNewMemoPad::TNewMemoPad(QWidget* owner) : QMainWindow(owner, Qt::Window) {
  setObjectName("NewMemoPad");
  setWindowTitle("Memo - Comments File");

  QMenu* file = menuBar()->addMenu("File");
  File1 = file->menuAction();
  File1->setObjectName("File1");
  SaveComments1 = file->addAction("Save Memo", this, [this] { SaveComments1Click(); });
  SaveComments1->setObjectName("SaveComments1");
  CloseMemo1 = file->addAction("Close Memo", this, [this] { CloseMemo1Click(); });
  CloseMemo1->setObjectName("CloseMemo1");
  QMenu* equine = menuBar()->addMenu("Equine Database");
  EquineData1 = equine->menuAction();
  EquineData1->setObjectName("EquineData1");
  NewHorseProfile1 = equine->addAction("New Horse Profile", this, [this] { NewHorseProfile1Click(); });
  NewHorseProfile1->setObjectName("NewHorseProfile1");
  OpenHorseProfile1 = equine->addAction("Open Horse Profile", this, [this] { OpenHorseProfile1Click(); });
  OpenHorseProfile1->setObjectName("OpenHorseProfile1");
  SaveHorseProfile1 = equine->addAction("Save Horse Profile", this, [this] { SaveHorseProfile1Click(); });
  SaveHorseProfile1->setObjectName("SaveHorseProfile1");
  Close1 = equine->addAction("Close", this, [this] { CloseMemo1Click(); });
  Close1->setObjectName("Close1");
  AddSessionResults1 = menuBar()->addAction("Add Session Results", this, [this] { AddSessionResults1Click(); });
  AddSessionResults1->setObjectName("AddSessionResults1");
  ChangeFont1 = menuBar()->addAction("Font", this, [this] { ChangeFont1Click(); });
  ChangeFont1->setObjectName("ChangeFont1");
  PrintMemo1 = menuBar()->addAction("Print Record", this, [this] { PrintMemo1Click(); });
  PrintMemo1->setObjectName("PrintMemo1");

  auto* client = new QWidget(this);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  Edit1 = new QLineEdit(client);
  Edit1->setObjectName("Edit1");
  Edit1->setReadOnly(true);
  layout->addWidget(Edit1);
  Memo1 = new QPlainTextEdit(client);
  Memo1->setObjectName("Memo1");
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(Memo1);
  setCentralWidget(client);

  setMinimumSize(360, 504);
  setMaximumSize(600, 800);
  resize(360, 508);

  OpenDialog1.filter = "Horse Profiles (Database *.hdb)|*.hdb";
  SaveDialog1.filter = OpenDialog1.filter;
  SetMemoFont(DefaultFont());
  connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { Memo1Change(); });
}

ui::FontChoice TNewMemoPad::DefaultFont() {
  ui::FontChoice font;
  font.name = "MS Sans Serif";
  font.size = 8;  // 11 pixels on the 96-dpi screen
  font.color = core::clWindowText;
  return font;
}

void TNewMemoPad::SetVideo(const QString& videoName) {
  MemoFile = videoName + ".txt";
  MemoFontFile = videoName + ".font";
  Title = videoName;
}

void TNewMemoPad::SetMemoFont(const ui::FontChoice& font) {
  memoFont_ = font;
  Memo1->setFont(ui::ToQFont(font));
  ui::SetFontColor(Memo1, font.color);
}

QStringList TNewMemoPad::MemoLines() const {
  const QString text = Memo1->toPlainText();
  if (text.isEmpty()) return {};
  // Every line of the memo, a last empty one too, so the file reads back exactly.
  return text.split('\n');
}

void TNewMemoPad::SetMemoLines(const QStringList& lines) { Memo1->setPlainText(lines.join('\n')); }

void TNewMemoPad::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TNewMemoPad::FormShow() {
  Edit1->setText(Title);
  // Edits not yet saved stay: the pad is only hidden, never a reason to lose them.
  if (MemoModified && textOf_ == MemoFile) return;
  if (QFileInfo::exists(MemoFontFile)) {
    LoadFontFile(MemoFontFile);
  } else {
    SetMemoFont(DefaultFont());
  }
  if (QFileInfo(MemoFile).isFile()) {
    const std::optional<QStringList> lines = core::ReadTextLines(MemoFile);
    if (lines) {
      SetMemoLines(*lines);
    } else {
      Memo1->clear();
      ShowFileError("Cannot open file \"" + MemoFile + "\".");
    }
  } else {
    SetMemoLines(NewMemoTemplate(CurrentTime()));
    Edit1->setText(" ");
  }
  textOf_ = MemoFile;
  MemoModified = false;
}

bool TNewMemoPad::SaveFontFile(const QString& fileName) { return WriteFontFile(fileName, memoFont_); }

void TNewMemoPad::LoadFontFile(const QString& fileName) {
  if (const std::optional<ui::FontChoice> font = ReadFontFile(fileName)) SetMemoFont(*font);
}

bool TNewMemoPad::WriteLines(const QString& path) {
  const core::WriteResult written = core::WriteTextLines(path, MemoLines());
  if (!written) ShowFileError("Cannot write file \"" + path + "\": " + written.error);
  return static_cast<bool>(written);
}

void TNewMemoPad::ShowFileError(const QString& text) {
  ui::MessageRequest message;
  message.text = text;
  message.type = ui::MsgDlgType::mtError;
  ui::AppDialogs().MessageDlg(message, this);
}

bool TNewMemoPad::SaveComments1Click() {
  if (!WriteLines(MemoFile)) return false;
  SaveFontFile(MemoFontFile);
  textOf_ = MemoFile;
  MemoModified = false;
  return true;
}

void TNewMemoPad::CloseMemo1Click() { hide(); }

void TNewMemoPad::Memo1Change() { MemoModified = true; }

void TNewMemoPad::ChangeFont1Click() {
  // The dialog starts from the title box's font, as the pad always has.
  const ui::FontChoice start = ui::FromQFont(Edit1->font(), ui::FontColor(Edit1));
  if (const std::optional<ui::FontChoice> chosen = ui::AppDialogs().ChooseFont(start, this)) {
    SetMemoFont(*chosen);
    MemoModified = true;
  }
}

void TNewMemoPad::PrintMemo1Click() {
  const std::optional<ui::PrintTarget> target = ui::AppDialogs().ChoosePrinter(this);
  if (!target) return;
  QStringList lines;
  for (const QString& line : MemoLines()) lines << "  " + line;
  const QString error = ui::PrintTextLines(lines, memoFont_, *target, windowTitle());
  if (!error.isEmpty()) ShowFileError(error);
}

void TNewMemoPad::NewHorseProfile1Click() {
  Memo1->clear();
  SetMemoLines(HorseProfileTemplate());
  Edit1->setText(" ");
  MemoModified = false;
}

void TNewMemoPad::OpenHorseProfile1Click() {
  const std::optional<QString> chosen = ui::AppDialogs().OpenFile(OpenDialog1, this);
  if (!chosen || chosen->isEmpty()) return;
  const QString fontFile = HorseProfileFontFile(*chosen);
  if (QFileInfo::exists(fontFile)) LoadFontFile(fontFile);
  const std::optional<QStringList> lines = core::ReadTextLines(*chosen);
  if (!lines) {
    ShowFileError("Cannot open file \"" + *chosen + "\".");
    return;
  }
  SetMemoLines(*lines);
  Edit1->setText(*chosen);
}

void TNewMemoPad::SaveHorseProfile1Click() {
  const std::optional<QString> chosen = ui::AppDialogs().SaveFile(SaveDialog1, this);
  if (!chosen || chosen->isEmpty()) return;
  SaveFontFile(HorseProfileFontFile(*chosen));
  if (!WriteLines(*chosen)) return;
  Edit1->setText(*chosen);
  MemoModified = false;
}

void TNewMemoPad::AddSessionResults1Click() {
  QStringList lines = MemoLines();
  lines << SessionResultsTemplate(CurrentTime());
  SetMemoLines(lines);
}

}  // namespace kestrom::sheets
