#include "deinterlacer/FilterResource.h"

// The module's bytes go into read-only data as they are, through the assembler.
__asm__(
    ".pushsection .rodata.kestrom_myfilter,\"a\",@progbits\n"
    ".balign 16\n"
    ".globl kestrom_myfilter_begin\n"
    ".hidden kestrom_myfilter_begin\n"
    "kestrom_myfilter_begin:\n"
    ".incbin \"" KESTROM_MYFILTER_PATH "\"\n"
    ".globl kestrom_myfilter_end\n"
    ".hidden kestrom_myfilter_end\n"
    "kestrom_myfilter_end:\n"
    ".popsection\n");

extern "C" {
extern const uint8_t kestrom_myfilter_begin[] __attribute__((visibility("hidden")));
extern const uint8_t kestrom_myfilter_end[] __attribute__((visibility("hidden")));
}

namespace kestrom::deinterlacer {

std::span<const uint8_t> MyFilterResource() {
  return {kestrom_myfilter_begin, static_cast<size_t>(kestrom_myfilter_end - kestrom_myfilter_begin)};
}

}  // namespace kestrom::deinterlacer
