#pragma once
// The comparison sheets: grids of 4 to 18 still pictures of the analysis windows, each with its
// slot number and a caption (the frame number), and the single-picture sheet that TCapture1 is
// made of. A sheet's client area is exactly the size of its grid; its menu bar lies above it.

#include "analysis/sheets/SheetTable.h"
#include "platform/ui/Dialogs.h"

#include <QImage>
#include <QList>
#include <QMainWindow>

class QAction;
class QLabel;

namespace kestrom::sheets {

/** @brief A grid of N still pictures shared by both analysis windows. */
class TComparisonSheet : public QMainWindow {
  Q_OBJECT
 public:
  explicit TComparisonSheet(SheetKind kind, QWidget* parent = nullptr);

  /** @brief Creation: every slot blank. */
  void FormCreate();
  /** @brief Picture count 0; every slot blank, every caption empty. */
  void ClearImages();
  /** @brief Puts the picture into the next free slot with its caption and shows the sheet; a full
   *  sheet drops the picture but still comes to the front. */
  void AddImage(const QImage& picture, const QString& caption);
  /** @brief Blanks the last filled slot and its caption; nothing on an empty sheet. */
  void RemoveLastImage();
  /** @brief The client area as it is shown (the picture every output takes). */
  QImage ClientImage();
  QSize ClientSize() const;

  // Menu handlers.
  void CopytoClipboard1Click();
  void SaveasJPEG1Click();
  void Print1Click();
  void Close2Click();
  void Clear1Click();
  void UndoLastImage1Click();

  const SheetGeometry& Geometry() const { return geometry_; }
  int PictureCount = 0;
  QWidget* ClientArea = nullptr;
  QList<QLabel*> Slots;
  QList<QLabel*> NumberLabels;
  QList<QLabel*> CaptionLabels;
  /** @brief The pictures the slots hold (null for a blank slot), as they were given. */
  QList<QImage> Pictures;
  QAction *CopytoClipboard1 = nullptr, *SaveasJPEG1 = nullptr, *Print1 = nullptr, *Close2 = nullptr,
          *Clear1 = nullptr, *UndoLastImage1 = nullptr;
  ui::FileRequest SaveDialog1;

 protected:
  void BlankSlot(int k);
  SheetGeometry geometry_;
  QImage blank_;
};

#define KESTROM_SHEET_CLASS(Name)                                  \
  class T##Name : public TComparisonSheet {                        \
    Q_OBJECT                                                       \
   public:                                                         \
    explicit T##Name(QWidget* parent = nullptr);                   \
  };
KESTROM_SHEET_CLASS(V_Capture_4)
KESTROM_SHEET_CLASS(H_Capture_4)
KESTROM_SHEET_CLASS(V_Capture_4_L)
KESTROM_SHEET_CLASS(H_Capture_6)
KESTROM_SHEET_CLASS(V_Capture_6_L)
KESTROM_SHEET_CLASS(V_Capture_9)
KESTROM_SHEET_CLASS(H_Capture_9)
KESTROM_SHEET_CLASS(V_Capture_12)
KESTROM_SHEET_CLASS(H_Capture_12)
KESTROM_SHEET_CLASS(V_Capture_12_L)
KESTROM_SHEET_CLASS(V_Capture_18_L)
#undef KESTROM_SHEET_CLASS

/** @brief The six-picture portrait sheet: a click on its first picture saves the sheet too. */
class TV_Capture_6 : public TComparisonSheet {
  Q_OBJECT
 public:
  explicit TV_Capture_6(QWidget* parent = nullptr);
  void Image1Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

/** @brief Makes the sheet class of a kind. */
TComparisonSheet* CreateSheet(SheetKind kind, QWidget* parent = nullptr);

/** @brief One unstretched picture with a caption: what TCapture1 shows. */
class TSinglePictureSheet : public QMainWindow {
  Q_OBJECT
 public:
  explicit TSinglePictureSheet(QWidget* parent = nullptr);

  void SetClientSize(int width, int height);
  QSize ClientSize() const;
  /** @brief The picture at (0, 0) at its own size. */
  void SetPicture(const QImage& picture);
  /** @brief The caption text at a place in the client area. */
  void SetCaption(const QString& text, int left, int top);
  QImage ClientImage();

  void Copy1Click();
  void Print1Click();
  void Close2Click();
  /** @brief "Save as JPEG"; by default through the sheet's own save dialog. */
  virtual void SaveasJPEG1Click();

  QWidget* ClientArea = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* CaptionLabel = nullptr;
  QAction *Copy1 = nullptr, *SaveasJPEG1 = nullptr, *Print1 = nullptr, *Close2 = nullptr;
};

}  // namespace kestrom::sheets
