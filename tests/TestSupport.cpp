#include "tests/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace kestrom::test {

QString FixturesDir() { return QString::fromUtf8(qgetenv("KESTROM_TEST_FIXTURES")); }

QString BinDir() { return QString::fromUtf8(qgetenv("KESTROM_BIN_DIR")); }

QString BinPath(const QString& name) { return QDir(BinDir()).filePath(name); }

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    ADD_FAILURE() << "cannot write " << path.toStdString();
    return;
  }
  file.write(bytes);
}

}  // namespace kestrom::test
