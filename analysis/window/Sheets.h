#pragma once
// The single-picture window TCapture1, whose creation wires the two analysis windows together.
// The grid sheets and the e-mail window themselves live in analysis/sheets.

#include "analysis/sheets/ComparisonSheet.h"
#include "analysis/sheets/EmailForm.h"

#include <QWidget>

namespace kestrom::window {

using sheets::TComparisonSheet;
using sheets::TEmailForm;
using sheets::TH_Capture_12;
using sheets::TH_Capture_4;
using sheets::TH_Capture_6;
using sheets::TH_Capture_9;
using sheets::TV_Capture_12;
using sheets::TV_Capture_12_L;
using sheets::TV_Capture_18_L;
using sheets::TV_Capture_4;
using sheets::TV_Capture_4_L;
using sheets::TV_Capture_6;
using sheets::TV_Capture_6_L;
using sheets::TV_Capture_9;

/** @brief "Capture x 1": one picture of a window with its frame number. */
class TCapture1 final : public sheets::TSinglePictureSheet {
  Q_OBJECT
 public:
  explicit TCapture1(QWidget* parent = nullptr);
  /** @brief Wires the two analysis windows and their palettes together and arms the start timer. */
  void FormCreate();
  /** @brief Saved through MainWindow's save dialog. */
  void SaveasJPEG1Click() override;
};

}  // namespace kestrom::window
