#pragma once
// The one object through which the capture program's forms reach each other: the capture form's
// component and position, the little state other forms read or set, and the notices they pass.
// No form holds a pointer to another form.

#include "capture/engine/Framecatcher.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

namespace kestrom::capture {

class CaptureMediator final : public QObject {
  Q_OBJECT

 public:
  explicit CaptureMediator(QObject* parent = nullptr) : QObject(parent) {}

  /** @brief The capture form's component; null until the capture form is made. */
  engine::TFramecatcher* Framecatcher() const { return framecatcher_; }
  void SetFramecatcher(engine::TFramecatcher* framecatcher) { framecatcher_ = framecatcher; }

  /** @brief The capture form's Left and Top, where boxes and the other forms are placed from. */
  QPoint CaptureFormPos() const { return captureFormPos_; }
  void SetCaptureFormPos(QPoint pos) { captureFormPos_ = pos; }

  // State of the capture form that the other forms read or set.
  bool PreallocationRunning = false;
  bool DVTapeAvailable = false;
  QString LastCompressedFile = QStringLiteral(" ");  // one blank: none

 signals:
  /** @brief The capture form asks the preallocation form to run its check (arms its ShowTimer). */
  void PreallocationCheckRequested();
  /** @brief The preallocation form closed; programEnding when it told the program to end. */
  void PreallocationClosed(bool programEnding);
  /** @brief The component finished a preallocated file (the capture form owns the component's events). */
  void PreallocFileCompleted(const QString& fileName, bool success);
  /** @brief The capture form writes a value into a read-out button (3, 4 or 5) of the diagnostics form. */
  void ReadoutWritten(int button, const QString& text);

 private:
  QPointer<engine::TFramecatcher> framecatcher_;
  QPoint captureFormPos_;
};

}  // namespace kestrom::capture
