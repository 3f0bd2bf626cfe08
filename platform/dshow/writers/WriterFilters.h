#pragma once
// Makes the writers, encoders and renderers creatable by class id in this process and lists
// them with the filter mapper: renderers in the filter category (so automatic rendering finds
// them), the multiplexers and writers there too but never chosen automatically, the encoders in
// the video and audio compressor categories, and the MPEG writer's name under its class id.

#include "platform/dshow/writers/Compressors.h"

namespace kestrom::dshow {

/**
 * @brief Registers every class of this library with the COM runtime (once per process) and with
 * the filter mapper in the current registry (each call). Returns the first failure.
 */
HRESULT RegisterWriterFilters();

/** @brief The friendly name the MPEG writer is registered under. */
QString MpegWriterName();

}  // namespace kestrom::dshow
