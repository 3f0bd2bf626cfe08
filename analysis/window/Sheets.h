#pragma once
// The comparison sheets (grids of 4 to 18 still pictures), the single-picture window TCapture1
// whose creation wires the two analysis windows together, and the e-mail window.

#include <QImage>
#include <QList>
#include <QWidget>

class QLabel;

namespace kestrom::window {

/** @brief The shape of one sheet kind. */
struct SheetGeometry {
  QString name;         // "V_Capture_4"
  int pictures = 4;     // N
  QSize slot;           // size of one picture slot
  QList<int> columns;   // left edges
  QList<int> rows;      // top edges
  QSize client;         // client area
  QSize blank;          // rectangle drawn on an empty slot
};

/** @brief A grid of N still pictures, each with its number and a caption. */
class TComparisonSheet : public QWidget {
  Q_OBJECT
 public:
  explicit TComparisonSheet(const SheetGeometry& geometry, QWidget* parent = nullptr);
  /** @brief Empties every slot. */
  void ClearImages();
  const SheetGeometry& Geometry() const { return geometry_; }
  int PictureCount = 0;
  QList<QLabel*> Slots;
  QList<QLabel*> NumberLabels;
  QList<QLabel*> CaptionLabels;

 private:
  SheetGeometry geometry_;
};

#define KESTROM_SHEET_CLASS(Name)                                          \
  class T##Name final : public TComparisonSheet {                          \
   public:                                                                 \
    explicit T##Name(QWidget* parent = nullptr);                           \
  };
KESTROM_SHEET_CLASS(V_Capture_4)
KESTROM_SHEET_CLASS(H_Capture_4)
KESTROM_SHEET_CLASS(V_Capture_4_L)
KESTROM_SHEET_CLASS(V_Capture_6)
KESTROM_SHEET_CLASS(H_Capture_6)
KESTROM_SHEET_CLASS(V_Capture_6_L)
KESTROM_SHEET_CLASS(V_Capture_9)
KESTROM_SHEET_CLASS(H_Capture_9)
KESTROM_SHEET_CLASS(V_Capture_12)
KESTROM_SHEET_CLASS(H_Capture_12)
KESTROM_SHEET_CLASS(V_Capture_12_L)
KESTROM_SHEET_CLASS(V_Capture_18_L)
#undef KESTROM_SHEET_CLASS

/** @brief "Capture x 1": one picture of a window with its frame number. */
class TCapture1 final : public QWidget {
  Q_OBJECT
 public:
  explicit TCapture1(QWidget* parent = nullptr);
  /** @brief Wires the two analysis windows and their palettes together and arms the start timer. */
  void FormCreate();
  void SetClientSize(int width, int height);
  void SetPicture(const QImage& picture);
  QLabel* Image1 = nullptr;
  QLabel* CaptionLabel = nullptr;
};

/** @brief The e-mail window shared by both analysis windows. */
class TEmailForm final : public QWidget {
  Q_OBJECT
 public:
  explicit TEmailForm(QWidget* parent = nullptr);
};

}  // namespace kestrom::window
