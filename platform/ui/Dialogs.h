#pragma once
// Every modal question the programs ask goes through one Dialogs service: message boxes at a
// position, file, folder, font, colour and print dialogs, input boxes. The Qt implementation
// shows real dialogs; the scripted one answers from a queue and records what was asked, so no
// test ever blocks in a modal loop.

#include "platform/core/Colour.h"
#include "platform/ui/Font.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <deque>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

class QWidget;

namespace kestrom::ui {

enum class MsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons as a set of bits, in the toolkit's order.
enum MsgDlgBtn : unsigned {
  mbYes = 1u << 0, mbNo = 1u << 1, mbOK = 1u << 2, mbCancel = 1u << 3, mbAbort = 1u << 4,
  mbRetry = 1u << 5, mbIgnore = 1u << 6, mbAll = 1u << 7, mbNoToAll = 1u << 8,
  mbYesToAll = 1u << 9, mbHelp = 1u << 10,
};
using MsgDlgButtons = unsigned;
inline constexpr MsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel;
inline constexpr MsgDlgButtons mbOKCancel = mbOK | mbCancel;

// Modal results, with the toolkit's values (information forms end with 9).
enum ModalResult : int {
  mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
  mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10,
};

/** @brief A message box: text, kind, buttons, and where its top-left corner stands (-1 = centred). */
struct MessageRequest {
  QString text;
  MsgDlgType type = MsgDlgType::mtInformation;
  MsgDlgButtons buttons = mbOK;
  QPoint position{-1, -1};
  QString caption;  // empty: the kind's own caption ("Warning", "Error", "Information", "Confirm")
};

/** @brief An open or save dialog. Filter in the toolkit's form: "Video|*.avi;*.avs|All|*.*". */
struct FileRequest {
  QString title;
  QString filter;
  int filterIndex = 1;  // 1-based, as the toolkit counts
  QString initialDir;
  QString fileName;
  QString defaultExt;   // without the dot
  bool overwritePrompt = false;
};

/** @brief Where a print job goes: a printer by name, or a PDF file (scripted and headless). */
struct PrintTarget {
  QString printerName;
  QString pdfFile;
  int copies = 1;
  bool landscape = false;
};

struct InputRequest {
  QString caption;
  QString prompt;
  QString defaultValue;
  bool hidden = false;  // the typed text is not shown (passwords)
};

/** @brief The address book: known addresses to choose from, and how many lists may be filled
 *  (0 browse only, 1 To, 2 To and Cc, 3 or more To, Cc and Bcc). */
struct AddressBookRequest {
  QString caption;
  QStringList known;
  int editFields = 4;
};

/** @brief The addresses chosen in the address book, by recipient class. */
struct AddressLists {
  QStringList to, cc, bcc;
  bool operator==(const AddressLists&) const = default;
};

/** @brief One tab of a property frame: a page of settings that builds its own controls. */
struct PropertyFramePage {
  QString title;
  /** @brief Builds the tab's controls under parent; the page calls changed whenever its state changes. */
  std::function<QWidget*(QWidget* parent, std::function<void()> changed)> activate;
  std::function<bool()> dirty;
  /** @brief OK and Apply; false when the objects refused a value. */
  std::function<bool()> apply;
  /** @brief Cancel: the page puts back what it found. */
  std::function<void()> cancel;
};

/** @brief A modal frame of settings pages, a tab each, with OK, Cancel and Apply; position is
 *  the top-left corner in the owner's coordinates (the screen's without an owner). */
struct PropertyFrameRequest {
  QString caption;
  QPoint position;
  std::vector<PropertyFramePage> pages;
};

/** @brief What the scripted service records of a property frame. */
struct PropertyFrameAsked {
  QString caption;
  QPoint position;
  QStringList titles;
};

/**
 * @brief How a scripted property frame is answered: steps in order, each setting the control of
 * that objectName (a property's name: "Brightness", "BrightnessAuto", "Quality") to a value, or
 * pressing a button by objectName ("BrightnessDefault", or the frame's "OK", "Cancel", "Apply").
 * The script must close the frame with "OK" or "Cancel".
 */
struct PropertyFrameScript {
  struct Step {
    QString name;
    QVariant value;
    bool press = false;
  };
  std::vector<Step> steps;
  PropertyFrameScript& Set(const QString& name, const QVariant& value) {
    steps.push_back({name, value, false});
    return *this;
  }
  PropertyFrameScript& Press(const QString& button) {
    steps.push_back({button, {}, true});
    return *this;
  }
};

/** @brief What a dialog was asked, as the scripted service records it. */
using AskedItem = std::variant<MessageRequest, FileRequest, FontChoice, core::TColor, InputRequest,
                               QString /* folder dialog's start folder */, PrintTarget, AddressBookRequest,
                               PropertyFrameAsked>;

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  /** @brief Shows a message box and returns the button's modal result. */
  virtual int MessageDlg(const MessageRequest& request, QWidget* owner = nullptr) = 0;
  virtual std::optional<QString> OpenFile(const FileRequest& request, QWidget* owner = nullptr) = 0;
  virtual std::optional<QString> SaveFile(const FileRequest& request, QWidget* owner = nullptr) = 0;
  virtual std::optional<QString> ChooseFolder(const QString& caption, const QString& startFolder,
                                              QWidget* owner = nullptr) = 0;
  virtual std::optional<FontChoice> ChooseFont(const FontChoice& initial, QWidget* owner = nullptr) = 0;
  virtual std::optional<core::TColor> ChooseColor(core::TColor initial, QWidget* owner = nullptr) = 0;
  virtual std::optional<QString> InputQuery(const InputRequest& request, QWidget* owner = nullptr) = 0;
  /** @brief Asks where to print; nothing when the user cancels. */
  virtual std::optional<PrintTarget> ChoosePrinter(QWidget* owner = nullptr) = 0;
  /** @brief The address book; nothing when the user cancels (a service without one cancels). */
  virtual std::optional<AddressLists> AddressBook(const AddressBookRequest& request, QWidget* owner = nullptr);
  /** @brief Shows a property frame; mrOk when it closed with OK, else mrCancel (a service
   *  without frames cancels every page at once). */
  virtual int PropertyFrame(const PropertyFrameRequest& request, QWidget* owner = nullptr);

  /** @brief Convenience: a message at a position, as the windows place them. */
  int MessageDlgPos(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int x, int y,
                    QWidget* owner = nullptr);
  /** @brief Convenience: an information box with an OK button, centred. */
  void ShowMessage(const QString& text, QWidget* owner = nullptr);
};

/** @brief The program's dialogs service (the Qt one unless a test installed another). */
Dialogs& AppDialogs();

/** @brief Installs a dialogs service (nullptr restores the Qt one); for tests. */
void SetAppDialogs(Dialogs* dialogs);

/** @brief Real dialogs on screen. */
class QtDialogs final : public Dialogs {
 public:
  int MessageDlg(const MessageRequest& request, QWidget* owner) override;
  std::optional<QString> OpenFile(const FileRequest& request, QWidget* owner) override;
  std::optional<QString> SaveFile(const FileRequest& request, QWidget* owner) override;
  std::optional<QString> ChooseFolder(const QString& caption, const QString& startFolder, QWidget* owner) override;
  std::optional<FontChoice> ChooseFont(const FontChoice& initial, QWidget* owner) override;
  std::optional<core::TColor> ChooseColor(core::TColor initial, QWidget* owner) override;
  std::optional<QString> InputQuery(const InputRequest& request, QWidget* owner) override;
  std::optional<PrintTarget> ChoosePrinter(QWidget* owner) override;
  std::optional<AddressLists> AddressBook(const AddressBookRequest& request, QWidget* owner) override;
  int PropertyFrame(const PropertyFrameRequest& request, QWidget* owner) override;
};

/**
 * @brief Answers from a queue, in order, and records every request. An answer is a modal result
 * (message boxes), a string (file, folder, input), a FontChoice, a colour, a PrintTarget, or
 * an AddressLists (address book), a PropertyFrameScript (property frame: the frame's controls are
 * built, never shown, and driven by the script), or std::monostate for "cancelled". Asking with an empty queue, with an answer of the wrong kind, or
 * with a modal result the box has no button for, records an error (Errors()), calls the failure
 * handler (the instance's, else the process-wide one) and answers "cancelled" (mrCancel for
 * message boxes; a result without its button is still returned).
 */
class ScriptedDialogs final : public Dialogs {
 public:
  // Modal results are their own type so that they never mix with colours (both are integers).
  using Answer = std::variant<std::monostate, ModalResult, QString, FontChoice, core::TColor, PrintTarget, AddressLists,
                              PropertyFrameScript>;

  void Push(Answer answer) { answers_.push_back(std::move(answer)); }
  const std::vector<AskedItem>& Asked() const { return asked_; }
  /** @brief The texts of all message boxes asked so far, in order. */
  QStringList MessageTexts() const;
  std::size_t Pending() const { return answers_.size(); }
  /** @brief What went wrong with the script so far (missing or mismatched answers). */
  const QStringList& Errors() const { return errors_; }
  /** @brief Records an error when answers are left that no dialog asked for. */
  void CheckAllAnswered();
  /** @brief Called at each error, e.g. with a test's failure macro. */
  void SetFailureHandler(std::function<void(const QString&)> handler) { onFailure_ = std::move(handler); }

  int MessageDlg(const MessageRequest& request, QWidget* owner) override;
  std::optional<QString> OpenFile(const FileRequest& request, QWidget* owner) override;
  std::optional<QString> SaveFile(const FileRequest& request, QWidget* owner) override;
  std::optional<QString> ChooseFolder(const QString& caption, const QString& startFolder, QWidget* owner) override;
  std::optional<FontChoice> ChooseFont(const FontChoice& initial, QWidget* owner) override;
  std::optional<core::TColor> ChooseColor(core::TColor initial, QWidget* owner) override;
  std::optional<QString> InputQuery(const InputRequest& request, QWidget* owner) override;
  std::optional<PrintTarget> ChoosePrinter(QWidget* owner) override;
  std::optional<AddressLists> AddressBook(const AddressBookRequest& request, QWidget* owner) override;
  int PropertyFrame(const PropertyFrameRequest& request, QWidget* owner) override;

 private:
  template <typename T>
  std::optional<T> Take(const QString& asked);
  void Fail(const QString& message);

  std::deque<Answer> answers_;
  std::vector<AskedItem> asked_;
  QStringList errors_;
  std::function<void(const QString&)> onFailure_;
};

/** @brief The failure handler of every scripted service that has none of its own; a test
 *  program installs one that fails the running test. */
void SetScriptedDialogsFailureHandler(std::function<void(const QString&)> handler);

/** @brief Installs a scripted service for the lifetime of a test scope; at its end, answers
 *  that no dialog asked for count as an error. */
class ScopedScriptedDialogs {
 public:
  ScopedScriptedDialogs() { SetAppDialogs(&dialogs); }
  ~ScopedScriptedDialogs() {
    SetAppDialogs(nullptr);
    dialogs.CheckAllAnswered();
  }
  ScopedScriptedDialogs(const ScopedScriptedDialogs&) = delete;
  ScopedScriptedDialogs& operator=(const ScopedScriptedDialogs&) = delete;
  ScriptedDialogs dialogs;
};

}  // namespace kestrom::ui
