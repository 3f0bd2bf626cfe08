#include "common/mediapanel/CaptureNames.h"

#include "platform/core/Format.h"
#include "platform/core/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <climits>

namespace kestrom::mediapanel {

namespace {

QString NameIn(const CaptureNaming& naming, const QString& stem, const QString& extension) {
  return core::JoinPath(naming.storagePath, QLatin1Char('\\') + naming.prefix + stem + QLatin1Char('.') + extension);
}

bool AllDigits(QStringView text) {
  if (text.isEmpty()) return false;
  for (QChar c : text)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  return true;
}

}  // namespace

void FindFreeSequenceNumber(int& counter, const QString& extension, const CaptureNaming& naming) {
  QDir dir(naming.storagePath.isEmpty() ? QStringLiteral(".") : naming.storagePath);
  dir.setFilter(QDir::Files | QDir::Hidden);
  const QString suffix = QLatin1Char('.') + extension;
  for (const QString& name : dir.entryList()) {
    if (!name.endsWith(suffix, Qt::CaseInsensitive) || !name.startsWith(naming.prefix)) continue;
    const qsizetype dot = name.indexOf(QLatin1Char('.'), naming.prefix.size());
    if (dot < naming.prefix.size() + 1) continue;
    const QStringView digits = QStringView(name).mid(naming.prefix.size(), dot - naming.prefix.size());
    if (!AllDigits(digits)) continue;
    bool ok = false;
    const int number = digits.toInt(&ok);
    if (ok && number > counter) counter = number;
  }
}

QString NextCaptureFileName(int& counter, const QString& extension, const CaptureNaming& naming,
                            const QDateTime& now) {
  if (naming.mode == TAuto_Filename::fnDateTime) {
    for (QDateTime when = now;; when = when.addMSecs(1)) {
      const QString name =
          NameIn(naming, core::FormatDateTime(QStringLiteral("yymmdd_hhmmss_zzz"), when), extension);
      if (!QFileInfo::exists(name)) return name;
    }
  }
  if (counter == 0) FindFreeSequenceNumber(counter, extension, naming);
  while (counter < INT_MAX) {
    ++counter;
    const QString name = NameIn(naming, QStringLiteral("%1").arg(counter, 6, 10, QLatin1Char('0')), extension);
    if (!QFileInfo::exists(name)) return name;
  }
  return {};
}

}  // namespace kestrom::mediapanel
