#include "platform/winmsg/WidgetWindow.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QWidget>

namespace kestrom::winmsg {

WidgetWindow::WidgetWindow(QWidget* widget, const QString& className, MessageHandler handler)
    : QObject(widget),
      widget_(widget),
      window_(className.isEmpty() ? QString::fromLatin1(widget->metaObject()->className()) : className,
              widget->windowTitle(), widget->isVisible(), std::move(handler)) {
  setObjectName(QStringLiteral("WindowDirectoryEntry"));
  widget->installEventFilter(this);
}

WidgetWindow* WidgetWindow::Attach(QWidget* widget, const QString& className, MessageHandler handler) {
  if (!widget) return nullptr;
  if (WidgetWindow* existing = Of(widget)) {
    if (handler) existing->window_.SetHandler(std::move(handler));
    return existing;
  }
  return new WidgetWindow(widget, className, std::move(handler));
}

WidgetWindow* WidgetWindow::Of(const QWidget* widget) {
  return widget ? widget->findChild<WidgetWindow*>(QStringLiteral("WindowDirectoryEntry"), Qt::FindDirectChildrenOnly)
                : nullptr;
}

bool WidgetWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == widget_) {
    switch (event->type()) {
      case QEvent::WindowTitleChange: window_.SetTitle(widget_->windowTitle()); break;
      case QEvent::Show:
      case QEvent::Hide: window_.SetVisible(widget_->isVisible()); break;
      default: break;
    }
  }
  return QObject::eventFilter(watched, event);
}

namespace {
// The class name other programs see: the form's class without its namespace.
QString FormClassName(const QWidget* form) {
  const QString name = QString::fromLatin1(form->metaObject()->className());
  return name.mid(name.lastIndexOf(':') + 1);
}
}  // namespace

void ListFormsInWindowDirectory() {
  for (QWidget* form : QApplication::topLevelWidgets()) {
    if (qobject_cast<QMenu*>(form)) continue;
    if (!WidgetWindow::Of(form)) WidgetWindow::Attach(form, FormClassName(form));
  }
}

}  // namespace kestrom::winmsg
