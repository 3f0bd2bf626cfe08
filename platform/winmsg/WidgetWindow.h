#pragma once
// Lists a Qt top-level widget in the window directory and keeps its entry current.

#include "platform/winmsg/WinMsg.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace kestrom::winmsg {

/**
 * @brief A form's registration: follows the widget's window title and visibility, and ends with the
 * widget (it is the widget's child).
 */
class WidgetWindow : public QObject {
  Q_OBJECT
 public:
  /**
   * @brief Registers the widget under the class name (default: the widget's C++ class name, such as
   * "TKestromForm") and returns its registration, owned by the widget.
   */
  static WidgetWindow* Attach(QWidget* widget, const QString& className = {}, MessageHandler handler = {});

  /** @brief The registration of a widget, when it has one. */
  static WidgetWindow* Of(const QWidget* widget);

  HWND Handle() const { return window_.Handle(); }
  Window& window() { return window_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  WidgetWindow(QWidget* widget, const QString& className, MessageHandler handler);
  QPointer<QWidget> widget_;
  Window window_;
};

/**
 * @brief Lists every top-level form of the program, hidden ones too, under its class name without
 * namespace, so that other programs find them by title; forms already listed and menus are skipped.
 */
void ListFormsInWindowDirectory();

}  // namespace kestrom::winmsg
