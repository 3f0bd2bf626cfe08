#pragma once
// Small companion forms of the analysis windows: the two layout choosers, the two hint forms
// with their "Do not show this hint again" marker files, the background form and the mirror form.

#include <QDialog>
#include <QImage>
#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QTimer;
class QToolButton;

namespace kestrom::window {

class TKestromForm;
class TStatusBar;

/** @brief Asks for the horizontal or vertical layout before a comparison sheet. */
class TInformationForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TInformationForm(QWidget* parent = nullptr);
  void VertButtonClick();
  void HorzButtonClick();
  QLabel* HorzLabel = nullptr;
  QPushButton* HorzButton = nullptr;
  QLabel* VertLabel = nullptr;
  QPushButton* VertButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};

/** @brief Asks for the layout overlay blending runs in; the layout follows at the next tick. */
class TOverlayInformationForm final : public QDialog {
  Q_OBJECT
 public:
  explicit TOverlayInformationForm(QWidget* parent = nullptr);
  void HorzButtonClick();
  void VertButtonClick();
  void SplitScreenButtonClick();
  void Timer1Timer();
  int Choice = 0;  // 0 none, 1 horizontal, 2 vertical, 3 dual
  QTimer* Timer1 = nullptr;
};

/** @brief A hint with a "Do not show this hint again" box backed by a marker file. */
class THintForm : public QDialog {
  Q_OBJECT
 public:
  /** @brief Ticked: writes the marker file when absent; cleared: deletes it when present. */
  void CheckBox1Click();
  QCheckBox* CheckBox1 = nullptr;

 protected:
  THintForm(QWidget* parent, const QString& name, const QString& caption, const QStringList& lines);
  virtual QString MarkerFile() const = 0;
  virtual QString MarkerLine() const = 0;
};

class TShowNTSCHint final : public THintForm {
  Q_OBJECT
 public:
  explicit TShowNTSCHint(QWidget* parent = nullptr);

 protected:
  QString MarkerFile() const override;
  QString MarkerLine() const override;
};

class TBackgroundHint final : public THintForm {
  Q_OBJECT
 public:
  explicit TBackgroundHint(QWidget* parent = nullptr);

 protected:
  QString MarkerFile() const override;
  QString MarkerLine() const override;
};

/** @brief Explains the two stages of an export before the first one starts. */
class TExportHintForm final : public THintForm {
  Q_OBJECT
 public:
  explicit TExportHintForm(QWidget* parent = nullptr);

 protected:
  QString MarkerFile() const override;
  QString MarkerLine() const override;
};

/**
 * @brief The still picture laid behind a window while it blends with its own background, with
 * copies of the window's panels that show the window's live values (status texts, frame number,
 * position, marker captions, stopwatch). The copies only show; the window keeps the controls.
 */
class TBackgroundForm final : public QWidget {
  Q_OBJECT
 public:
  explicit TBackgroundForm(const QString& name, QWidget* parent = nullptr);
  void FormCreate();
  /** @brief Takes the frozen picture (the window's area below its menu panel) and shows it. */
  void SetFrame(const QImage& picture);
  QImage FrameBitmap;  // the frozen picture
  QLabel* Image1 = nullptr;
  QTabWidget* FileControls = nullptr;
  QWidget *MainSheet = nullptr, *Markers = nullptr, *System = nullptr, *CameraSheet = nullptr,
          *TransparentSheet = nullptr;
  QWidget* EquineCalSheet = nullptr;
  QWidget* Digitisation = nullptr;
  QToolButton* AnalysisSpeedButton = nullptr;  // "Load Kestrom Analysis"
  QToolButton *BestSpeedButton2 = nullptr, *OverlayButton = nullptr, *SyncSpeedButton = nullptr, *Time = nullptr;
  QToolButton* Std[8] = {};
  QScrollBar *ScrollBar1 = nullptr, *ScrollBar2 = nullptr, *HorzScrollBar = nullptr, *VertScrollBar = nullptr;
  QLabel* Test = nullptr;
  QFrame* Panel4 = nullptr;
  TStatusBar* StatusBar1 = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

/** @brief The left-right mirrored copy of a window's picture. */
class TFlipForm final : public QWidget {
  Q_OBJECT
 public:
  explicit TFlipForm(QWidget* parent = nullptr);
  void FormCreate();
  void CaptureSpeedButtonClick();
  /** @brief The client area the mirror is drawn in (the form less its bottom panel's share). */
  void SetClientSize(int width, int height);
  QImage MirrorBitmap;
  QFrame* Panel1 = nullptr;
  QToolButton* SpeedButton8 = nullptr;
  QToolButton* CaptureSpeedButton = nullptr;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

}  // namespace kestrom::window
