#pragma once
// Reading frame numbers back from uncompressed video samples.

#include "platform/dshow/base/Interfaces.h"
#include "platform/dshow/base/MediaType.h"

#include <QImage>
#include <vector>

namespace kestrom::dshow::test {

/** @brief An RGB24, RGB32, YUY2 or I420 sample as a top-down picture; null for another subtype. */
QImage PictureOf(const CMediaType& type, const std::vector<uint8_t>& bytes);
/** @brief The frame number the picture carries; -1 when it carries none. */
int ReadNumber(const CMediaType& type, const std::vector<uint8_t>& bytes);
/** @brief The category of a pin (AMPROPSETID_Pin), GUID_NULL when none. */
GUID PinCategoryOf(IPin* pin);

}  // namespace kestrom::dshow::test
