#ifndef VLT_PAGEBUF_UTIL_H
#define VLT_PAGEBUF_UTIL_H

/* The framed page buffers' helpers that stay inside the library (see vlt_pagebuf.h). Both
   return 1 on success and 0 on failure. */

#include <stdint.h>

#include "vlt_pagebuf_desc.h"

int swapImageBytes(uint8_t* buffer, uint32_t bytesPerLine, uint32_t width, uint32_t height, uint32_t ignored);
/* Inverts the page pixels of a framed buffer; frame and bits past the width stay. */
int __JB2Util_InvertPage(struct VltPageDesc* desc);

#endif
