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

/**
 * @brief Makes a new, empty, hidden file beside target ("." + its base name + a random part + its
 * extension), for a
 * writer that fills it and then renames it over target. It is made exclusively and with the
 * permissions any new file of the user gets (0666 less the umask), so the renamed file has the
 * same permissions as one written in place. Empty, with the reason in error, when none can be made.
 */
QString CreateFileBeside(const QString& target, QString* error = nullptr);

}  // namespace kestrom::core
