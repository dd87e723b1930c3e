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

/* The bytes of a layer's data object (a POINTER): its own when it stands alone, else its chained
   strips joined into *joined (interpreter heap, the caller frees it). False for no POINTER, a
   strip without its bytes, or more than 4 GiB. */
bool layer_bytes(elf_object* data, const uint8_t** bytes, uint32_t* length, uint8_t** joined);

/* Pages are framed by 32 pixels on every side and their coordinates kept in 16 bits: larger
   sides are refused before anything is allocated for them. */
inline constexpr int32_t max_side = 32767 - 64;

}  // namespace jb2m

#endif
