#include "platform/core/FileCopy.h"

#include "platform/core/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kestrom::core {

WriteResult CopyFileAtomic(const QString& source, const QString& target) {
  WriteResult result;
  auto fail = [&result](const QString& text) {
    result.error = text;
    return result;
  };
  if (source.isEmpty() || target.isEmpty()) return fail(QStringLiteral("No file name given"));
  if (SameFile(source, target))
    return fail(QStringLiteral("Cannot copy %1 onto itself (%2)").arg(source, target));
  if (QFileInfo(target).isDir()) return fail(QStringLiteral("Cannot write %1: it is a folder").arg(target));
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return fail(QStringLiteral("Cannot read %1: %2").arg(source, in.errorString()));
  QSaveFile out(target);
  out.setDirectWriteFallback(false);  // never write in place: the old file must stay whole
  if (!out.open(QIODevice::WriteOnly))
    return fail(QStringLiteral("Cannot write %1: %2").arg(target, out.errorString()));
  // Captures run to gigabytes: copy in blocks rather than reading the file whole.
  constexpr qint64 kBlock = 1 << 20;
  QByteArray block(kBlock, Qt::Uninitialized);
  for (;;) {
    const qint64 got = in.read(block.data(), kBlock);
    if (got < 0) {
      out.cancelWriting();
      return fail(QStringLiteral("Cannot read %1: %2").arg(source, in.errorString()));
    }
    if (got == 0) break;
    if (out.write(block.constData(), got) != got) {
      out.cancelWriting();
      return fail(QStringLiteral("Cannot write %1: %2").arg(target, out.errorString()));
    }
  }
  if (!out.commit()) return fail(QStringLiteral("Cannot write %1: %2").arg(target, out.errorString()));
  result.ok = true;
  return result;
}

}  // namespace kestrom::core
