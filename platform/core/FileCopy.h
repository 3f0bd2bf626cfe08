#pragma once
// Copying a file the way saved captures are copied: into a temporary file beside the target,
// renamed over the target only when the whole copy succeeded, so a failed copy never costs the
// user an existing file, and a target that is the source itself is refused before anything is
// touched.

#include "platform/core/TextFile.h"

#include <QString>

namespace kestrom::core {

/**
 * @brief Copies source to target through a temporary file beside the target, renamed over it at
 * the end. Refused when the target is the source by file identity (SameFile: a link or another
 * spelling of the same file counts). On any failure the target is left as it was.
 */
WriteResult CopyFileAtomic(const QString& source, const QString& target);

}  // namespace kestrom::core
