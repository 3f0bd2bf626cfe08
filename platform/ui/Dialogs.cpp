#include "platform/ui/Dialogs.h"

#include "platform/ui/DialogParts.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <array>

namespace kestrom::ui {

// ---- service -------------------------------------------------------------------------------

namespace {
Dialogs* g_installed = nullptr;
}

Dialogs& AppDialogs() {
  static QtDialogs real;
  return g_installed ? *g_installed : real;
}

void SetAppDialogs(Dialogs* dialogs) { g_installed = dialogs; }

int Dialogs::MessageDlgPos(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int x, int y,
                           QWidget* owner) {
  MessageRequest request;
  request.text = text;
  request.type = type;
  request.buttons = buttons;
  request.position = QPoint(x, y);
  return MessageDlg(request, owner);
}

void Dialogs::ShowMessage(const QString& text, QWidget* owner) {
  MessageRequest request;
  request.text = text;
  request.type = MsgDlgType::mtCustom;
  request.buttons = mbOK;
  MessageDlg(request, owner);
}

// ---- pieces of the real dialogs ------------------------------------------------------------

QStringList QtNameFilters(const QString& toolkitFilter) {
  QStringList result;
  const QStringList parts = toolkitFilter.split('|');
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i].trimmed();
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      const QString pattern = p.trimmed();
      // "*.*" means every file to the toolkit; on Linux it would miss names without a dot.
      patterns << (pattern == "*.*" ? QStringLiteral("*") : pattern);
    }
    if (patterns.isEmpty()) patterns << "*";
    // A name that already shows its patterns in brackets keeps its words, not the brackets.
    static const QRegularExpression trailingBrackets(R"(\s*\([^()]*\)\s*$)");
    name.remove(trailingBrackets);
    if (name.isEmpty()) name = patterns.join(' ');
    result << QStringLiteral("%1 (%2)").arg(name, patterns.join(' '));
  }
  return result;
}

QString NormaliseLineBreaks(const QString& text) {
  QString t = text;
  t.replace("\r\n", "\n");
  t.replace("\n\r", "\n");
  t.replace('\r', '\n');
  return t;
}

QString MessageCaption(const MessageRequest& request) {
  if (!request.caption.isEmpty()) return request.caption;
  switch (request.type) {
    case MsgDlgType::mtWarning: return "Warning";
    case MsgDlgType::mtError: return "Error";
    case MsgDlgType::mtInformation: return "Information";
    case MsgDlgType::mtConfirmation: return "Confirm";
    case MsgDlgType::mtCustom: break;
  }
  const QString title = QGuiApplication::applicationDisplayName();
  return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

namespace {

struct ButtonInfo {
  MsgDlgBtn bit;
  const char* caption;
  int result;
  QMessageBox::ButtonRole role;
};

// The toolkit's buttons, in the order it lays them out.
constexpr std::array<ButtonInfo, 11> kButtons{{
    {mbYes, "&Yes", mrYes, QMessageBox::YesRole},
    {mbNo, "&No", mrNo, QMessageBox::NoRole},
    {mbOK, "OK", mrOk, QMessageBox::AcceptRole},
    {mbCancel, "Cancel", mrCancel, QMessageBox::RejectRole},
    {mbAbort, "&Abort", mrAbort, QMessageBox::RejectRole},
    {mbRetry, "&Retry", mrRetry, QMessageBox::AcceptRole},
    {mbIgnore, "&Ignore", mrIgnore, QMessageBox::AcceptRole},
    {mbAll, "&All", mrAll, QMessageBox::AcceptRole},
    {mbNoToAll, "N&o to All", mrNoToAll, QMessageBox::NoRole},
    {mbYesToAll, "Yes to &All", mrYesToAll, QMessageBox::YesRole},
    {mbHelp, "&Help", mrNone, QMessageBox::HelpRole},
}};

constexpr const char* kResultProperty = "kestromModalResult";

}  // namespace

std::unique_ptr<QMessageBox> BuildMessageBox(const MessageRequest& request, QWidget* owner) {
  auto box = std::make_unique<QMessageBox>(owner);
  // The question holds the whole program, and stays above the window that asks and every other
  // window of the program: a box hidden behind another window makes the program look frozen.
  box->setWindowModality(Qt::ApplicationModal);
  box->setWindowFlag(Qt::WindowStaysOnTopHint);
  box->setWindowTitle(MessageCaption(request));
  box->setText(NormaliseLineBreaks(request.text));
  box->setTextFormat(Qt::PlainText);
  switch (request.type) {
    case MsgDlgType::mtWarning: box->setIcon(QMessageBox::Warning); break;
    case MsgDlgType::mtError: box->setIcon(QMessageBox::Critical); break;
    case MsgDlgType::mtInformation: box->setIcon(QMessageBox::Information); break;
    case MsgDlgType::mtConfirmation: box->setIcon(QMessageBox::Question); break;
    case MsgDlgType::mtCustom: box->setIcon(QMessageBox::NoIcon); break;
  }
  const MsgDlgButtons buttons = request.buttons ? request.buttons : static_cast<MsgDlgButtons>(mbOK);
  QPushButton* first = nullptr;
  QPushButton* escape = nullptr;
  for (const ButtonInfo& info : kButtons) {
    if (!(buttons & info.bit)) continue;
    QPushButton* b = box->addButton(QString::fromLatin1(info.caption), info.role);
    b->setProperty(kResultProperty, info.result);
    if (!first) first = b;
    // Escape answers Cancel, else No, else the only button there is.
    if (info.bit == mbCancel || (info.bit == mbNo && !escape)) escape = b;
  }
  if (!escape && first && box->buttons().size() == 1) escape = first;
  if (first) box->setDefaultButton(first);
  if (escape) box->setEscapeButton(escape);
  if (request.position.x() >= 0 && request.position.y() >= 0) {
    box->move(request.position);
  }
  return box;
}

int ModalResultOf(const QAbstractButton* button) {
  if (!button) return mrCancel;
  const QVariant v = button->property(kResultProperty);
  return v.isValid() ? v.toInt() : mrCancel;
}

namespace {

struct NamedColour {
  const char* name;
  core::TColor color;
};

constexpr std::array<NamedColour, 16> kNamedColours{{
    {"Black", core::clBlack}, {"Maroon", core::clMaroon}, {"Green", core::clGreen},
    {"Olive", core::clOlive}, {"Navy", core::clNavy}, {"Purple", core::clPurple},
    {"Teal", core::clTeal}, {"Gray", core::clGray}, {"Silver", core::clSilver},
    {"Red", core::clRed}, {"Lime", core::clLime}, {"Yellow", core::clYellow},
    {"Blue", core::clBlue}, {"Fuchsia", core::clFuchsia}, {"Aqua", core::clAqua},
    {"White", core::clWhite},
}};

QIcon Swatch(core::TColor color) {
  QPixmap pixmap(16, 12);
  pixmap.fill(core::ToQColor(color));
  return QIcon(pixmap);
}

}  // namespace

FontColourDialog::FontColourDialog(const FontChoice& initial, QWidget* owner) : QDialog(owner) {
  setWindowTitle("Font");
  fonts_ = new QFontDialog(this);
  // Embedded: the font dialog's own buttons and window go, ours take over.
  fonts_->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
  fonts_->setWindowFlags(Qt::Widget);
  QFont font(initial.name);
  font.setPointSize(std::max(1, initial.size));
  font.setBold(initial.bold);
  font.setItalic(initial.italic);
  font.setUnderline(initial.underline);
  font.setStrikeOut(initial.strikeOut);
  fonts_->setCurrentFont(font);

  colours_ = new QComboBox(this);
  colours_->setObjectName("ColourComboBox");
  for (const NamedColour& c : kNamedColours) colours_->addItem(Swatch(c.color), c.name, c.color);
  auto* other = new QPushButton("Other colour...", this);
  other->setObjectName("OtherColourButton");
  connect(other, &QPushButton::clicked, this, [this] { PickOtherColour(); });
  SetColor(initial.color);

  auto* colourRow = new QHBoxLayout;
  colourRow->addWidget(new QLabel("Colour:", this));
  colourRow->addWidget(colours_, 1);
  colourRow->addWidget(other);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fonts_);
  layout->addLayout(colourRow);
  layout->addWidget(buttons);
}

void FontColourDialog::SetColor(core::TColor color) {
  int index = colours_->findData(color);
  if (index < 0) {
    colours_->addItem(Swatch(color), "Custom", color);
    index = colours_->count() - 1;
  }
  colours_->setCurrentIndex(index);
}

void FontColourDialog::PickOtherColour() {
  const QColor chosen = QColorDialog::getColor(core::ToQColor(Choice().color), this);
  if (chosen.isValid()) SetColor(core::FromQColor(chosen));
}

FontChoice FontColourDialog::Choice() const {
  const QFont font = fonts_->currentFont();
  FontChoice choice = FromQFont(font, colours_->currentData().toInt());
  return choice;
}

PropertyFrameDialog::PropertyFrameDialog(const PropertyFrameRequest& request, QWidget* owner)
    : QDialog(owner), pages_(request.pages) {
  setWindowTitle(request.caption);
  auto* tabs = new QTabWidget(this);
  tabs->setObjectName("Pages");
  for (const PropertyFramePage& page : pages_) {
    auto* holder = new QWidget(tabs);
    auto* holderLayout = new QVBoxLayout(holder);
    if (page.activate) {
      if (QWidget* content = page.activate(holder, [this] { UpdateApply(); })) holderLayout->addWidget(content);
    }
    holderLayout->addStretch(1);
    tabs->addTab(holder, page.title);
  }
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("OK");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("Cancel");
  apply_ = new QPushButton("&Apply", this);
  apply_->setObjectName("Apply");
  connect(ok, &QPushButton::clicked, this, [this] {
    if (ApplyAll()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(apply_, &QPushButton::clicked, this, [this] { ApplyAll(); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addWidget(apply_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addLayout(buttons);
  UpdateApply();
}

void PropertyFrameDialog::reject() {
  for (PropertyFramePage& page : pages_)
    if (page.cancel) page.cancel();
  QDialog::reject();
}

bool PropertyFrameDialog::ApplyAll() {
  bool ok = true;
  for (PropertyFramePage& page : pages_)
    if (page.apply && !page.apply()) ok = false;
  UpdateApply();
  return ok;
}

void PropertyFrameDialog::UpdateApply() {
  bool dirty = false;
  for (const PropertyFramePage& page : pages_)
    if (page.dirty && page.dirty()) dirty = true;
  if (apply_) apply_->setEnabled(dirty);
}

// ---- real dialogs --------------------------------------------------------------------------

int QtDialogs::MessageDlg(const MessageRequest& request, QWidget* owner) {
  auto box = BuildMessageBox(request, owner);
  QTimer::singleShot(0, box.get(), [b = box.get()] {
    b->raise();
    b->activateWindow();
  });
  box->exec();
  return ModalResultOf(box->clickedButton());
}

namespace {

std::optional<QString> RunFileDialog(const FileRequest& request, QWidget* owner, bool save) {
  QFileDialog dialog(owner, request.title);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QStringList filters = QtNameFilters(request.filter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const int index = std::clamp(request.filterIndex, 1, static_cast<int>(filters.size())) - 1;
    dialog.selectNameFilter(filters[index]);
  }
  if (!request.initialDir.isEmpty()) dialog.setDirectory(request.initialDir);
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (!request.defaultExt.isEmpty()) dialog.setDefaultSuffix(request.defaultExt);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace

std::optional<QString> QtDialogs::OpenFile(const FileRequest& request, QWidget* owner) {
  return RunFileDialog(request, owner, false);
}

std::optional<QString> QtDialogs::SaveFile(const FileRequest& request, QWidget* owner) {
  return RunFileDialog(request, owner, true);
}

std::optional<QString> QtDialogs::ChooseFolder(const QString& caption, const QString& startFolder,
                                               QWidget* owner) {
  const QString folder = QFileDialog::getExistingDirectory(owner, caption, startFolder);
  if (folder.isEmpty()) return std::nullopt;
  return folder;
}

std::optional<FontChoice> QtDialogs::ChooseFont(const FontChoice& initial, QWidget* owner) {
  FontColourDialog dialog(initial, owner);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Choice();
}

std::optional<core::TColor> QtDialogs::ChooseColor(core::TColor initial, QWidget* owner) {
  const QColor chosen = QColorDialog::getColor(core::ToQColor(initial), owner);
  if (!chosen.isValid()) return std::nullopt;
  return core::FromQColor(chosen);
}

std::optional<QString> QtDialogs::InputQuery(const InputRequest& request, QWidget* owner) {
  bool ok = false;
  const QString text =
      QInputDialog::getText(owner, request.caption, request.prompt,
                            request.hidden ? QLineEdit::Password : QLineEdit::Normal, request.defaultValue, &ok);
  if (!ok) return std::nullopt;
  return text;
}

std::optional<PrintTarget> QtDialogs::ChoosePrinter(QWidget* owner) {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, owner);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  PrintTarget target;
  if (printer.outputFormat() == QPrinter::PdfFormat) {
    target.pdfFile = printer.outputFileName();
  } else {
    target.printerName = printer.printerName();
  }
  target.copies = printer.copyCount();
  target.landscape = printer.pageLayout().orientation() == QPageLayout::Landscape;
  return target;
}

std::optional<AddressLists> Dialogs::AddressBook(const AddressBookRequest&, QWidget*) { return std::nullopt; }

int Dialogs::PropertyFrame(const PropertyFrameRequest& request, QWidget*) {
  for (const PropertyFramePage& page : request.pages)
    if (page.cancel) page.cancel();
  return mrCancel;
}

int QtDialogs::PropertyFrame(const PropertyFrameRequest& request, QWidget* owner) {
  PropertyFrameDialog dialog(request, owner);
  dialog.move(owner ? owner->mapToGlobal(request.position) : request.position);
  return dialog.exec() == QDialog::Accepted ? mrOk : mrCancel;
}

std::optional<AddressLists> QtDialogs::AddressBook(const AddressBookRequest& request, QWidget* owner) {
  // The known addresses on the left; buttons copy the selected ones into the class lists, where
  // they can also be typed, one per line.
  QDialog dialog(owner);
  dialog.setWindowTitle(request.caption);
  auto* layout = new QHBoxLayout(&dialog);
  auto* known = new QListWidget(&dialog);
  known->addItems(request.known);
  known->setSelectionMode(QAbstractItemView::ExtendedSelection);
  layout->addWidget(known);
  auto* right = new QVBoxLayout();
  layout->addLayout(right);
  const int lists = request.editFields <= 0 ? 0 : std::min(request.editFields, 3);
  const char* names[] = {"To ->", "Cc ->", "Bcc ->"};
  std::array<QPlainTextEdit*, 3> edits{};
  for (int i = 0; i < lists; ++i) {
    auto* row = new QHBoxLayout();
    auto* add = new QPushButton(QString::fromLatin1(names[i]), &dialog);
    edits[i] = new QPlainTextEdit(&dialog);
    QPlainTextEdit* edit = edits[i];
    QObject::connect(add, &QPushButton::clicked, &dialog, [known, edit] {
      for (QListWidgetItem* item : known->selectedItems()) edit->appendPlainText(item->text());
    });
    row->addWidget(add);
    row->addWidget(edit);
    right->addLayout(row);
  }
  auto* buttons = new QDialogButtonBox(lists > 0 ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel
                                                 : QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  right->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  AddressLists chosen;
  QStringList* targets[] = {&chosen.to, &chosen.cc, &chosen.bcc};
  for (int i = 0; i < lists; ++i)
    for (const QString& line : edits[i]->toPlainText().split('\n'))
      if (!line.trimmed().isEmpty()) *targets[i] << line.trimmed();
  return chosen;
}

// ---- scripted dialogs ----------------------------------------------------------------------

namespace {
std::function<void(const QString&)> g_failureHandler;

const char* KindName(const ScriptedDialogs::Answer& a) {
  switch (a.index()) {
    case 0: return "cancel";
    case 1: return "modal result";
    case 2: return "text";
    case 3: return "font";
    case 4: return "colour";
    case 5: return "print target";
    case 6: return "address lists";
    case 7: return "property frame script";
  }
  return "?";
}
}  // namespace

void SetScriptedDialogsFailureHandler(std::function<void(const QString&)> handler) {
  g_failureHandler = std::move(handler);
}

void ScriptedDialogs::Fail(const QString& message) {
  errors_ << message;
  if (onFailure_) {
    onFailure_(message);
  } else if (g_failureHandler) {
    g_failureHandler(message);
  }
}

template <typename T>
std::optional<T> ScriptedDialogs::Take(const QString& asked) {
  if (answers_.empty()) {
    Fail(QStringLiteral("no answer queued for the %1 dialog").arg(asked));
    return std::nullopt;
  }
  Answer answer = std::move(answers_.front());
  answers_.pop_front();
  if (std::holds_alternative<std::monostate>(answer)) return std::nullopt;
  if (auto* value = std::get_if<T>(&answer)) return *value;
  Fail(QStringLiteral("the %1 dialog was answered with a %2").arg(asked, KindName(answer)));
  return std::nullopt;
}

void ScriptedDialogs::CheckAllAnswered() {
  if (!answers_.empty()) Fail(QStringLiteral("%1 queued answer(s) were never asked for").arg(answers_.size()));
}

QStringList ScriptedDialogs::MessageTexts() const {
  QStringList texts;
  for (const AskedItem& item : asked_)
    if (const auto* m = std::get_if<MessageRequest>(&item)) texts << m->text;
  return texts;
}

int ScriptedDialogs::MessageDlg(const MessageRequest& request, QWidget*) {
  asked_.emplace_back(request);
  const std::optional<ModalResult> result = Take<ModalResult>(QStringLiteral("message \"%1\"").arg(request.text));
  if (!result) return mrCancel;
  // An answer the box could not give is a fault in the script (or in the box asked for).
  bool offered = *result == mrCancel;
  for (const ButtonInfo& info : kButtons)
    if ((request.buttons & info.bit) && info.result == *result) offered = true;
  if (!offered) {
    Fail(QStringLiteral("message \"%1\" has no button for modal result %2").arg(request.text).arg(*result));
  }
  return *result;
}

std::optional<QString> ScriptedDialogs::OpenFile(const FileRequest& request, QWidget*) {
  asked_.emplace_back(request);
  return Take<QString>("open file");
}

std::optional<QString> ScriptedDialogs::SaveFile(const FileRequest& request, QWidget*) {
  asked_.emplace_back(request);
  return Take<QString>("save file");
}

std::optional<QString> ScriptedDialogs::ChooseFolder(const QString&, const QString& startFolder, QWidget*) {
  asked_.emplace_back(startFolder);
  return Take<QString>("folder");
}

std::optional<FontChoice> ScriptedDialogs::ChooseFont(const FontChoice& initial, QWidget*) {
  asked_.emplace_back(initial);
  return Take<FontChoice>("font");
}

std::optional<core::TColor> ScriptedDialogs::ChooseColor(core::TColor initial, QWidget*) {
  asked_.emplace_back(initial);
  return Take<core::TColor>("colour");
}

std::optional<QString> ScriptedDialogs::InputQuery(const InputRequest& request, QWidget*) {
  asked_.emplace_back(request);
  return Take<QString>("input");
}

std::optional<PrintTarget> ScriptedDialogs::ChoosePrinter(QWidget*) {
  asked_.emplace_back(PrintTarget{});
  return Take<PrintTarget>("print");
}

std::optional<AddressLists> ScriptedDialogs::AddressBook(const AddressBookRequest& request, QWidget*) {
  asked_.emplace_back(request);
  return Take<AddressLists>("address book");
}

namespace {

// Sets a control of the frame as the user would; false when the control takes no such value.
bool SetControl(QWidget* control, const QVariant& value) {
  if (auto* check = qobject_cast<QCheckBox*>(control)) {
    check->setChecked(value.toBool());
    return true;
  }
  if (auto* slider = qobject_cast<QAbstractSlider*>(control)) {
    slider->setValue(value.toInt());
    return true;
  }
  if (auto* spin = qobject_cast<QSpinBox*>(control)) {
    spin->setValue(value.toInt());
    return true;
  }
  if (auto* combo = qobject_cast<QComboBox*>(control)) {
    const int index = value.typeId() == QMetaType::QString ? combo->findText(value.toString()) : value.toInt();
    if (index < 0 || index >= combo->count()) return false;
    combo->setCurrentIndex(index);
    return true;
  }
  if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    edit->setText(value.toString());
    return true;
  }
  return false;
}

}  // namespace

int ScriptedDialogs::PropertyFrame(const PropertyFrameRequest& request, QWidget*) {
  PropertyFrameAsked asked{request.caption, request.position, {}};
  for (const PropertyFramePage& page : request.pages) asked.titles << page.title;
  asked_.emplace_back(asked);
  const std::optional<PropertyFrameScript> script = Take<PropertyFrameScript>("property frame");
  // The frame's own controls, built and driven without being shown.
  PropertyFrameDialog frame(request);
  bool closed = false;
  QObject::connect(&frame, &QDialog::finished, [&closed](int) { closed = true; });
  if (!script) {
    frame.reject();
    return mrCancel;
  }
  for (const PropertyFrameScript::Step& step : script->steps) {
    if (closed) {
      Fail(QStringLiteral("property frame \"%1\": step \"%2\" after the frame closed").arg(request.caption, step.name));
      break;
    }
    QWidget* control = frame.findChild<QWidget*>(step.name);
    if (step.press) {
      auto* button = qobject_cast<QAbstractButton*>(control);
      if (!button || !button->isEnabled()) {
        Fail(QStringLiteral("property frame \"%1\" has no button \"%2\" to press").arg(request.caption, step.name));
        continue;
      }
      button->click();
    } else if (!control || !SetControl(control, step.value)) {
      Fail(QStringLiteral("property frame \"%1\" has no control \"%2\" taking %3")
               .arg(request.caption, step.name, step.value.toString()));
    }
  }
  if (!closed) {
    Fail(QStringLiteral("property frame \"%1\" was left open by the script").arg(request.caption));
    frame.reject();
  }
  return frame.result() == QDialog::Accepted ? mrOk : mrCancel;
}

}  // namespace kestrom::ui
