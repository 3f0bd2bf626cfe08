#include "platform/com/Guid.h"

namespace kestrom::com {

std::optional<GUID> GuidFromString(const QString& text) {
  const QByteArray latin = text.trimmed().toLatin1();
  return ParseGuid(std::string_view(latin.constData(), static_cast<size_t>(latin.size())));
}

QString GuidToString(const GUID& g) {
  char buffer[39];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return QString::fromLatin1(buffer);
}

}  // namespace kestrom::com
