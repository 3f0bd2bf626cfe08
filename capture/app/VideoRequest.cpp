#include "capture/app/VideoRequest.h"

#include "platform/core/TextFile.h"

#include <QByteArray>
#include <QFileInfo>
#include <cmath>
#include <cstring>

namespace kestrom::capture {

double RequestRate(const QString& field) {
  bool ok = false;
  // QString::toDouble reads the C locale's decimal point, whatever the user's locale.
  const double rate = field.trimmed().toDouble(&ok);
  return ok && std::isfinite(rate) && rate > 0 ? rate : kVideoRequestDefaultRate;
}

VideoRequest ParseVideoRequest(const void* data, uint32_t byteCount) {
  VideoRequest request;
  const char* bytes = static_cast<const char*>(data);
  // One byte beyond the limit is enough to tell an over-long text from one that just fits.
  const qsizetype window = bytes ? qsizetype(std::min<uint32_t>(byteCount, kVideoRequestMaxBytes + 1)) : 0;
  const void* zero = window > 0 ? std::memchr(bytes, 0, size_t(window)) : nullptr;
  const qsizetype length = zero ? static_cast<const char*>(zero) - bytes : window;
  if (length > kVideoRequestMaxBytes) {
    request.refusal = QStringLiteral("request longer than %1 characters").arg(kVideoRequestMaxBytes);
    return request;
  }
  const QByteArray text(bytes, length);
  request.RequestFrameRate = RequestRate(QString::fromLatin1(text.left(kVideoRequestRateChars)));
  request.path = core::DecodeText(text.mid(kVideoRequestRateChars));

  const QFileInfo target(request.path);
  if (request.path.trimmed().isEmpty())
    request.refusal = QStringLiteral("no output file named");
  else if (!request.path.startsWith(QLatin1Char('/')))
    request.refusal = QStringLiteral("output file not a full path: ") + request.path;
  else if (target.fileName().isEmpty() || target.isDir())
    request.refusal = QStringLiteral("output path names no file: ") + request.path;
  else if (!QFileInfo(target.absolutePath()).isDir())
    request.refusal = QStringLiteral("output folder missing: ") + target.absolutePath();
  return request;
}

}  // namespace kestrom::capture
