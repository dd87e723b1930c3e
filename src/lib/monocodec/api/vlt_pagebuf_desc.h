#ifndef VLT_PAGEBUF_DESC_H
#define VLT_PAGEBUF_DESC_H

#include <stdint.h>

/* The page handed to VltApi_addMonoPage. */
struct VltPageDesc {
  uint8_t* buffer;       /* framed, zero frame; pixel x of row y at line 32 + y, bit 32 + x */
  uint32_t width;
  uint32_t height;
  uint32_t bytesPerLine; /* of the framed buffer */
  uint32_t xRes;
  uint32_t yRes;
};

#endif
