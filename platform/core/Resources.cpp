#include "platform/core/Resources.h"

#include <QMap>
#include <mutex>

namespace kestrom::core {

namespace {

struct Entry {
  const unsigned char* data = nullptr;
  size_t size = 0;
};

// Function-local, so registrations from static initialisers of any translation unit find it.
struct Registry {
  std::mutex mutex;
  QMap<QString, Entry> entries;  // keyed by the upper-case name
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

bool RegisterResource(const char* name, const unsigned char* data, size_t size) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.entries.insert(QString::fromUtf8(name).toUpper(), Entry{data, size});
  return true;
}

std::optional<QByteArray> FindResource(const QString& name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const auto it = r.entries.constFind(name.toUpper());
  if (it == r.entries.constEnd()) return std::nullopt;
  return QByteArray::fromRawData(reinterpret_cast<const char*>(it->data), qsizetype(it->size));
}

QStringList ResourceNames() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.entries.keys();
}

}  // namespace kestrom::core
