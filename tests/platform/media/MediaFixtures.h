#pragma once
// Small generated clips shared by the media tests; each is written once per test program.

#include "tools/ClipWriter.h"

#include <QString>
#include <vector>

namespace kestrom::media::test {

/** @brief A folder that lives as long as the test program. */
QString FixtureFolder();

/** @brief Writes the clip under the fixture folder (once per name) and returns its path. */
QString Clip(const QString& name, tools::ClipSpec clipSpec);

/**
 * @brief Writes an AVI clip as a recording that dropped frames leaves it: clipSpec.frames
 * positions, the pictures numbered 0, 1, 2... in order, and an empty chunk at each dropped
 * position (none may be the last). Written once per name; clipSpec.finish = false leaves it
 * without index, as a recording cut off by a crash.
 */
QString ClipWithDrops(const QString& name, tools::ClipSpec clipSpec, const std::vector<int>& dropped);

/** @brief Writes a file with the given bytes under the fixture folder and returns its path. */
QString RawFile(const QString& name, const QByteArray& bytes);

}  // namespace kestrom::media::test
