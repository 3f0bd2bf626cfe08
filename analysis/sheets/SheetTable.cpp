#include "analysis/sheets/SheetTable.h"

#include <array>

namespace kestrom::sheets {

namespace {
const QSize kPortrait(480, 576), kHorizontal(720, 320);

const std::array<SheetGeometry, kSheetKindCount>& Table() {
  using K = SheetKind;
  static const std::array<SheetGeometry, kSheetKindCount> table = {{
      {K::V_Capture_4, "V_Capture_4", 4, {240, 288}, {16, 272}, {16, 312}, {531, 631}, kPortrait, 4, 1},
      {K::H_Capture_4, "H_Capture_4", 4, {432, 140}, {16, 456}, {8, 160}, {906, 336}, kHorizontal, 4, 2},
      {K::V_Capture_4_L, "V_Capture_4_L", 4, {240, 288}, {16, 272, 528, 784}, {16}, {1041, 332}, kPortrait, 41, 1},
      {K::V_Capture_6, "V_Capture_6", 6, {240, 288}, {16, 272, 528}, {16, 320}, {784, 638}, kPortrait, 6, 1},
      {K::H_Capture_6, "H_Capture_6", 6, {432, 140}, {16, 456}, {8, 160, 312}, {906, 478}, kHorizontal, 6, 2},
      {K::V_Capture_6_L, "V_Capture_6_L", 6, {160, 192}, {16, 184, 352, 520, 688, 856}, {16}, {1042, 240},
       kPortrait, 61, 1},
      {K::V_Capture_9, "V_Capture_9", 9, {160, 192}, {16, 192, 368}, {16, 224, 432}, {549, 655}, kPortrait, 9, 1},
      {K::H_Capture_9, "H_Capture_9", 9, {288, 93}, {16, 312, 608}, {8, 112, 216}, {912, 345}, kHorizontal, 9, 2},
      {K::V_Capture_12, "V_Capture_12", 12, {160, 192}, {16, 192, 368, 544}, {16, 224, 432}, {716, 655},
       kPortrait, 12, 1},
      {K::H_Capture_12, "H_Capture_12", 12, {288, 93}, {16, 312, 608}, {8, 112, 216, 320}, {912, 435},
       kHorizontal, 12, 2},
      {K::V_Capture_12_L, "V_Capture_12_L", 12, {160, 192}, {16, 184, 352, 520, 688, 856}, {16, 216},
       {1042, 438}, kPortrait, 121, 1},
      {K::V_Capture_18_L, "V_Capture_18_L", 18, {160, 192}, {16, 184, 352, 520, 688, 856}, {16, 216, 416},
       {1042, 640}, kPortrait, 181, 1},
  }};
  return table;
}
}  // namespace

QRect SheetGeometry::SlotRect(int k) const {
  const int index = k - 1;
  const int column = index % static_cast<int>(columns.size());
  const int row = index / static_cast<int>(columns.size());
  return QRect(QPoint(columns[column], rows[row]), slot);
}

const SheetGeometry& GeometryOf(SheetKind kind) { return Table()[static_cast<std::size_t>(kind)]; }

std::optional<SheetKind> SheetFor(int captureStyle, int layout) {
  for (const SheetGeometry& g : Table())
    if (g.style == captureStyle && g.layout == layout) return g.kind;
  return std::nullopt;
}

}  // namespace kestrom::sheets
