#pragma once
// Files compiled into a program at build time (the deinterlacer image, the capture engine's
// packed module), found at run time by name. A program embeds a file with
// kestrom_embed_resource(<target> <NAME> <file> [DEPENDS <targets>...]) in its CMakeLists.txt.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <optional>

namespace kestrom::core {

/**
 * @brief The bytes of the resource of that name (letter case ignored), or nothing. The bytes are
 * the program's own read-only data, shared without a copy; they live as long as the program.
 */
std::optional<QByteArray> FindResource(const QString& name);

/** @brief The names of every resource of the program, in upper case, sorted. */
QStringList ResourceNames();

/** @brief Records a resource under a name; called by the generated code at start-up. */
bool RegisterResource(const char* name, const unsigned char* data, size_t size);

}  // namespace kestrom::core
