#pragma once
// The twelve comparison-sheet kinds: their grid geometry, and which one a capture style and a
// window layout lead to. Free of widgets so the table can be checked on its own.

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

namespace kestrom::sheets {

/** @brief The sheet kinds, in the order of the table below. */
enum class SheetKind {
  V_Capture_4, H_Capture_4, V_Capture_4_L, V_Capture_6, H_Capture_6, V_Capture_6_L,
  V_Capture_9, H_Capture_9, V_Capture_12, H_Capture_12, V_Capture_12_L, V_Capture_18_L,
};
inline constexpr int kSheetKindCount = 12;

/** @brief The shape of one sheet kind. */
struct SheetGeometry {
  SheetKind kind;
  QString name;        // "V_Capture_4": the class name without its T
  int pictures = 4;    // N
  QSize slot;          // size of one picture slot
  QList<int> columns;  // left edges
  QList<int> rows;     // top edges
  QSize client;        // client area
  QSize blank;         // rectangle drawn on an empty slot, stretched over the whole slot
  int style = 0;       // capture style that selects it
  int layout = 0;      // window layout that selects it (1 vertical, 2 horizontal)

  /** @brief Slot k (1..N), in row-major order. */
  QRect SlotRect(int k) const;
};

/** @brief The geometry of a kind. */
const SheetGeometry& GeometryOf(SheetKind kind);

/** @brief The sheet a capture style reaches in a window layout; none for the single picture
 *  (style 1), unknown styles, and layouts the style has no sheet for. */
std::optional<SheetKind> SheetFor(int captureStyle, int layout);

}  // namespace kestrom::sheets
