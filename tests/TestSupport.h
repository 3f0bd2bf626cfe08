#pragma once

#include <QByteArray>
#include <QString>

namespace kestrom::test {

/** @brief Folder of the test sources' fixtures (tests/fixtures). */
QString FixturesDir();

/** @brief The build's program folder, where the programs and fixture programs are. */
QString BinDir();

/** @brief Path of a program in the build's program folder. */
QString BinPath(const QString& name);

/** @brief A file's bytes; empty when it cannot be read. */
QByteArray ReadAll(const QString& path);

/** @brief Writes the bytes as the whole file; a failure of the running test when it cannot. */
void WriteAll(const QString& path, const QByteArray& bytes);

}  // namespace kestrom::test
