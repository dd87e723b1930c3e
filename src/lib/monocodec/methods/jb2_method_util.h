#ifndef JB2_METHOD_UTIL_H
#define JB2_METHOD_UTIL_H

// What the JBIG2 methods share: telling page images and layers apart, and the largest page they
// take.

#include <stdint.h>

#include "qel_image.h"

namespace jb2m {

/* The target as a page image, or null after reporting status 20 for a missing object or one of
   another type. */
elf_QELIMAGE* target_image(void* target, const char* method, int* status);

/* The layer carried by a layer-list entry: an IDENT whose value is a QELLAYER; else null. */
elf_QELLAYER* entry_layer(elf_object* entry);

/* Pages are framed by 32 pixels on every side and their coordinates kept in 16 bits: larger
   sides are refused before anything is allocated for them. */
inline constexpr int32_t max_side = 32767 - 64;

}  // namespace jb2m

#endif
