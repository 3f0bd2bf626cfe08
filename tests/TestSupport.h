#pragma once

#include <QString>

namespace kestrom::test {

/** @brief Folder of the test sources' fixtures (tests/fixtures). */
QString FixturesDir();

/** @brief The build's program folder, where the programs and fixture programs are. */
QString BinDir();

/** @brief Path of a program in the build's program folder. */
QString BinPath(const QString& name);

}  // namespace kestrom::test
