#pragma once
// The window-title scan form: finds the programs of the system by the titles of their top-level
// windows, hidden windows included, across every running program of the desktop. It also holds
// read-out buttons that the analysis windows write status texts into.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

class QListWidget;
class QPushButton;
class QSpinBox;
class QScrollBar;
class QSlider;
class QPlainTextEdit;

namespace kestrom::shell {

/** @brief Titles of every top-level window of every running program, hidden ones included. */
using WindowTitleSource = std::function<QStringList()>;

/** @brief The window directory's titles (the source the programs use). */
QStringList DirectoryWindowTitles();

class TDiagForm806 final : public QDialog {
  Q_OBJECT
 public:
  /** @brief The longest title compared; longer titles are cut to it. */
  static constexpr int kMaxTitle = 132;

  /** @brief The capture program's copy has no "System Type" button. */
  explicit TDiagForm806(QWidget* parent = nullptr, bool captureProgram = false);

  /** @brief Replaces the window source; for tests. */
  void SetWindowTitleSource(WindowTitleSource source) { source_ = std::move(source); }

  /** @brief Adds one window's title to the scratch list (cut to 132 characters, empty skipped). */
  bool EnumWindowTitles(const QString& title);

  bool CountCaptureWindows();
  bool CountPlayListWindows();
  bool CountAnalysisWindows();

  /** @brief Writes a read-out text onto one of the buttons ("Button1".."Button64"). */
  void ReadOut(int button, const QString& text);
  QPushButton* ButtonNo(int n) const;

  QListWidget* ListBox1 = nullptr;
  QSpinBox* SpinEdit1 = nullptr;
  QScrollBar* ScrollBar1 = nullptr;
  QSlider* TrackBar1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QWidget* ActiveMovie1 = nullptr;

  void Button1Click();
  void Button20Click();
  void Button57Click();
  void SpinEdit1Enter();
  void SpinEdit1Exit();
  void ScrollBar1Scroll(int position);
  void Button63Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Count(const QStringList& titles, int readOutButton);
  void ClearCaption(int button);

  QPushButton* buttons_[65] = {};
  WindowTitleSource source_;
};

}  // namespace kestrom::shell
