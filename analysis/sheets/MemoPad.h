#pragma once
// The memo pad of an analysis window: free comments about the open video, kept in a text file
// and a font file beside it, printable; plus horse profiles and a results template.

#include "platform/ui/Dialogs.h"

#include <QDateTime>
#include <QMainWindow>
#include <functional>

class QAction;
class QLineEdit;
class QPlainTextEdit;

namespace kestrom::sheets {

class TNewMemoPad : public QMainWindow {
  Q_OBJECT
 public:
  /** @brief A pad owned by its analysis window. */
  explicit TNewMemoPad(QWidget* owner);

  /** @brief The video the pad belongs to (its path less the extension): sets MemoFile
   *  (+ ".txt"), MemoFontFile (+ ".font") and the title. */
  void SetVideo(const QString& videoName);

  /** @brief Shows the title and the font, and the memo text from MemoFile or a new memo;
   *  unsaved edits of the same memo are kept. */
  void FormShow();
  /** @brief Writes the font file of the memo's font; false when it could not be written. */
  bool SaveFontFile(const QString& fileName);
  /** @brief Takes the font of a font file when it exists and is whole; otherwise nothing
   *  changes. */
  void LoadFontFile(const QString& fileName);
  /** @brief The memo's lines as they go into the text file. */
  QStringList MemoLines() const;
  void SetMemoLines(const QStringList& lines);
  /** @brief The memo's font with its colour. */
  const ui::FontChoice& MemoFont() const { return memoFont_; }
  void SetMemoFont(const ui::FontChoice& font);

  // Menu handlers.
  /** @brief "Save Memo": text and font beside the video; false (modified kept) when the text
   *  file could not be written, which is shown to the user. */
  bool SaveComments1Click();
  void CloseMemo1Click();
  void Memo1Change();
  void ChangeFont1Click();
  void PrintMemo1Click();
  void NewHorseProfile1Click();
  void OpenHorseProfile1Click();
  void SaveHorseProfile1Click();
  void AddSessionResults1Click();

  int OwnerIndex = 0;
  QString MemoFile;
  QString MemoFontFile;
  QString Title;
  bool MemoModified = false;

  QPlainTextEdit* Memo1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QAction* File1 = nullptr;        // the "File" menu
  QAction* EquineData1 = nullptr;  // the "Equine Database" menu
  QAction* AddSessionResults1 = nullptr;
  QAction *SaveComments1 = nullptr, *CloseMemo1 = nullptr, *NewHorseProfile1 = nullptr,
          *OpenHorseProfile1 = nullptr, *SaveHorseProfile1 = nullptr, *Close1 = nullptr,
          *ChangeFont1 = nullptr, *PrintMemo1 = nullptr;
  ui::FontChoice FontDialog1;
  ui::FileRequest OpenDialog1, SaveDialog1;
  /** @brief The time of day the templates write; tests put a fixed one in place. */
  std::function<QDateTime()> CurrentTime = [] { return QDateTime::currentDateTime(); };

  /** @brief The pad's default font: MS Sans Serif, 11 pixels, window-text colour. */
  static ui::FontChoice DefaultFont();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  bool WriteLines(const QString& path);
  void ShowFileError(const QString& text);
  ui::FontChoice memoFont_;
  QString textOf_;  // the memo file whose text the memo holds
};

}  // namespace kestrom::sheets
