#pragma once
// The capture program's test board: buttons that run single operations of the capture component,
// and buttons whose captions the capture form uses as read-out fields. The program makes it at
// start-up and never shows it; it keeps no state of its own.

#include <QDialog>
#include <array>

class QPushButton;
class QTimer;

namespace kestrom::capture {

class CaptureMediator;

class TCaptureDiagForm final : public QDialog {
  Q_OBJECT

 public:
  explicit TCaptureDiagForm(CaptureMediator& mediator, QWidget* parent = nullptr);

  /** @brief "MyTotalGbSize": the size figure of the preallocated set. */
  void Button2Click();
  /** @brief "Preallocate": the component makes a 512 MB "Sample.avi" in the working folder. */
  void Button6Click();
  /** @brief "Current State": the name of the component's frame-grabber setting. */
  void Button7Click();
  /** @brief "Framecatcher State": the name of the component's state. */
  void Button9Click();
  /** @brief "Run Video": the player runs at a tenth of its speed. */
  void Button10Click();
  /** @brief The paths of the overlay text and font files, in this button and the next. */
  void Button13Click();
  /** @brief "Test Copy Time": copies "Half10Secs.avi" of the working folder, never over a file. */
  void Button15Click();
  /** @brief "My Last Capture": the last re-encoded file. */
  void Button16Click();
  /** @brief "Is Tape On ?": whether the tape transport answers. */
  void Button17Click();
  /** @brief Reads and clears the component's re-encoding-started flag. */
  void Button18Click();
  /** @brief "Stop Recording". */
  void Button24Click();

  /** @brief Button 1 to 25. */
  QPushButton* Button(int number) const { return buttons_[static_cast<size_t>(number - 1)]; }

 private:
  void WriteReadout(int button, const QString& text);

  CaptureMediator& mediator_;
  std::array<QPushButton*, 25> buttons_{};
  QTimer* Timer1 = nullptr;
};

}  // namespace kestrom::capture
