#include "tests/platform/media/MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::media::test {

QString FixtureFolder() {
  static QTemporaryDir folder;
  return folder.path();
}

QString Clip(const QString& name, tools::ClipSpec clipSpec) {
  clipSpec.path = QDir(FixtureFolder()).filePath(name);
  if (!QFile::exists(clipSpec.path)) {
    QString error;
    EXPECT_TRUE(tools::WriteClip(clipSpec, &error)) << error.toStdString();
  }
  return clipSpec.path;
}

QString RawFile(const QString& name, const QByteArray& bytes) {
  const QString path = QDir(FixtureFolder()).filePath(name);
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
  return path;
}

}  // namespace kestrom::media::test
