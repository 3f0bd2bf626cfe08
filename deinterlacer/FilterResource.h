#pragma once
// The data resource "MYFILTER": an exact image of the deinterlacing filter module as it was
// built, carried inside the program that links deinterlacer_resource.

#include <cstdint>
#include <span>

namespace kestrom::deinterlacer {

/** @brief The bytes of the resource "MYFILTER". */
std::span<const uint8_t> MyFilterResource();

}  // namespace kestrom::deinterlacer
