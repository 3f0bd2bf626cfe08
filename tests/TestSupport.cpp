#include "tests/TestSupport.h"

#include <QDir>

namespace kestrom::test {

QString FixturesDir() { return QString::fromUtf8(qgetenv("KESTROM_TEST_FIXTURES")); }

QString BinDir() { return QString::fromUtf8(qgetenv("KESTROM_BIN_DIR")); }

QString BinPath(const QString& name) { return QDir(BinDir()).filePath(name); }

}  // namespace kestrom::test
