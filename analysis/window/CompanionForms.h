#pragma once
// Companion forms of the analysis windows: the close-file dialog and the cutting form; the memo
// pad comes from the sheets folder.

#include "analysis/sheets/MemoPad.h"
#include "platform/ui/Dialogs.h"

#include <QDialog>
#include <QImage>
#include <QStringList>
#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace kestrom::window {

class TKestromForm;
using sheets::TNewMemoPad;

/**
 * @brief Asks, kind by kind, whether to save the companion data of its window (owner index 1
 * MainWindow, 2 BestWindow) that changed. It closes itself with mrOk once nothing is left; closed
 * from its frame (or with Escape) it ends with the work still unsaved, and the caller gives up.
 */
class TCloseFilesForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TCloseFilesForm(const QString& name, QWidget* parent = nullptr);
  int OwnerIndex = 0;
  QLineEdit* Edit1 = nullptr;
  QLabel *TraceLabel = nullptr, *ShapesLabel = nullptr, *MemoLabel = nullptr, *MarkersLabel = nullptr,
         *AnglesLabel = nullptr, *EventsLabel = nullptr;
  QPushButton *TraceYes = nullptr, *TraceNo = nullptr, *ShapesYes = nullptr, *ShapesNo = nullptr,
              *MemoYes = nullptr, *MemoNo = nullptr, *MarkersYes = nullptr, *MarkersNo = nullptr,
              *AnglesYes = nullptr, *AnglesNo = nullptr, *EventsYes = nullptr, *EventsNo = nullptr;
  QPushButton* ContinueButton = nullptr;       // hidden: "Continue with new video ?"
  QPushButton* PreviousVideoButton = nullptr;  // hidden: shows the video's name again
  QTimer* Timer1 = nullptr;

  /** @brief Placed for its owner; the rows of the kinds that changed are enabled, the others not. */
  void FormShow();
  void FitToText();
  static constexpr int kNarrowestWidth = 206;
  // Yes saves the kind and clears its row; when the save fails the row stays and a message says why.
  void TraceYesClick();
  void ShapesYesClick();
  void MemoYesClick();
  void MarkersYesClick();
  void AnglesYesClick();
  void EventsYesClick();
  // No clears the kind's flag without writing anything.
  void TraceNoClick();
  void ShapesNoClick();
  void MemoNoClick();
  void MarkersNoClick();
  void AnglesNoClick();
  void EventsNoClick();
  void ContinueButtonClick();
  void PreviousVideoButtonClick();
  void Timer1Timer();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TKestromForm* Owner() const;
  void EndRow(QLabel* label, QPushButton* yes, QPushButton* no);
  /** @brief Closes the dialog when its window has nothing unsaved left. */
  void CloseWhenDone();
  void ShowSaveError(const QString& text);
  /** @brief False when a file of `paths` was loaded partly and the coach would not replace it. */
  bool MayReplace(const QStringList& paths);
};

/** @brief A small stay-on-top form holding a rectangle cut out of a window's picture. */
class TCutForm final : public QWidget {
  Q_OBJECT
 public:
  explicit TCutForm(const QString& name, QWidget* parent = nullptr);
  /** @brief The client area and the picture take the size; the picture is shown in Image1. */
  void SetPicture(const QImage& picture);
  QImage Bitmap;
  QLabel* Image1 = nullptr;
};

}  // namespace kestrom::window
