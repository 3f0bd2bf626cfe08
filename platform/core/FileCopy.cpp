#include "platform/core/FileCopy.h"

#include "platform/core/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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

QString CreateFileBeside(const QString& target, QString* error) {
  const QFileInfo info(target);
  int lastError = 0;
  for (int attempt = 0; attempt < 32; ++attempt) {
    // Hidden, and with the target's extension, for writers that go by it.
    const QString name = info.absolutePath() + QStringLiteral("/.") + info.completeBaseName() + QLatin1Char('.') +
                         QString::number(QRandomGenerator::global()->generate(), 36) +
                         (info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix());
    // Mode 0666: the system takes the umask off, as for every other file the user makes.
    const int fd = ::open(QFile::encodeName(name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    lastError = errno;
    if (lastError != EEXIST) break;
  }
  if (error) *error = QString::fromLocal8Bit(std::strerror(lastError));
  return {};
}

}  // namespace kestrom::core
