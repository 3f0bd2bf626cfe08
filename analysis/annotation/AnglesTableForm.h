#pragma once
// The small "Results" window that lists the interior and reflex angles of the first ten angles
// of an analysis window. One instance per window.

#include <QWidget>
#include <functional>

class QLabel;
class QMenuBar;

namespace kestrom::annotation {

class DrawingStore;

class TAnglesTableForm : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRows = 10;

  explicit TAnglesTableForm(QWidget* parent = nullptr);

  /** @brief The drawing stores of the Main and Best windows (either may be null). */
  void SetStores(const DrawingStore* mainStore, const DrawingStore* bestStore);

  /** @brief Fills and shows the table of the Main window; hides it when there are no angles. */
  void ShowMainTable();
  /** @brief The same for the Best window. */
  void ShowBestTable();

  /** @brief How the form shows itself when it has angles to list (by default, where it stands). */
  void SetShowing(std::function<void()> showing) { showing_ = std::move(showing); }

  /** @brief Menu item "Close": hides the form. */
  void Close1Click();

  /** @brief Cell n (1..20): row r shows the interior angle in 2r - 1 and the reflex in 2r. */
  QLabel* Panel(int n) const;

 private:
  void ShowTable(const QString& caption, const DrawingStore* store);

  const DrawingStore* mainStore_ = nullptr;
  const DrawingStore* bestStore_ = nullptr;
  QMenuBar* menu_ = nullptr;
  QLabel* panels_[2 * kRows] = {};
  std::function<void()> showing_;
};

}  // namespace kestrom::annotation
