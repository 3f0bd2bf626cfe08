#pragma once
// Small generated clips shared by the media tests; each is written once per test program.

#include "tools/ClipWriter.h"

#include <QString>

namespace kestrom::media::test {

/** @brief A folder that lives as long as the test program. */
QString FixtureFolder();

/** @brief Writes the clip under the fixture folder (once per name) and returns its path. */
QString Clip(const QString& name, tools::ClipSpec clipSpec);

/** @brief Writes a file with the given bytes under the fixture folder and returns its path. */
QString RawFile(const QString& name, const QByteArray& bytes);

}  // namespace kestrom::media::test
