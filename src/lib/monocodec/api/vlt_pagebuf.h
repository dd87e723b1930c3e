#ifndef VLT_PAGEBUF_H
#define VLT_PAGEBUF_H

/* Framed page buffers: 1-bit rows with a 32-pixel margin on every side, as the image core lays
   out a PIXR with frame 32, moved to and from the interpreter's unframed layer rows. Buffers come
   from the imaging engine's allocator (kvng_internal_calloc) and go back with kvng_internal_free.
   The calls return 1 on success and 0 on failure, and report nothing. */

#include <stdint.h>

#include "mono_export.h"
#include "vlt_pagebuf_desc.h"

/* Copies height rows of bytesPerRow bytes (at least width / 8 rounded up) into a fresh framed
   buffer; pixels past the width are cleared, so nothing beyond the page reaches the engine. */
MONO_API int convertBuffToVltPageDesc(struct VltPageDesc* desc, uint32_t width, uint32_t height,
                                      uint32_t bytesPerRow, const uint8_t* rows);
/* A zero framed buffer for a page of that size, and its bytes per line. */
MONO_API int getSimPixrBuff(uint8_t** buffer, uint32_t width, uint32_t height, uint32_t* bytesPerLine);
/* Replaces the framed buffer by the page's unframed rows (width / 8 rounded up bytes each, bits
   past the width cleared); the framed buffer is released. */
MONO_API int stripAndFlip(uint8_t** buffer, uint32_t width, uint32_t height, uint32_t ignored,
                          uint32_t bytesPerLine, uint32_t* byteSize, uint32_t* bytesPerRow);
MONO_API int isInJbig2Section(const uint8_t* flag);

#endif
