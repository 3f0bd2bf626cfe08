#include "platform/dshow/writers/WindowIds.h"

#include <QPointer>
#include <QWidget>
#include <map>

namespace kestrom::dshow {

namespace {

struct Table {
  std::map<OAHWND, QPointer<QWidget>> widgets;
  OAHWND next = 0x10000;
};

Table& TheTable() {
  static Table table;
  return table;
}

}  // namespace

OAHWND WindowIdOf(QWidget* widget) {
  if (!widget) return 0;
  Table& t = TheTable();
  for (auto it = t.widgets.begin(); it != t.widgets.end();) {
    if (!it->second) {
      it = t.widgets.erase(it);  // a widget that is gone: its id is never handed out again
      continue;
    }
    if (it->second == widget) return it->first;
    ++it;
  }
  const OAHWND id = t.next;
  t.next += 4;
  t.widgets.emplace(id, widget);
  return id;
}

QWidget* WidgetOfWindowId(OAHWND id) {
  Table& t = TheTable();
  const auto it = t.widgets.find(id);
  if (it == t.widgets.end()) return nullptr;
  if (!it->second) {
    t.widgets.erase(it);
    return nullptr;
  }
  return it->second.data();
}

}  // namespace kestrom::dshow
