#ifndef TOK_IMGUTIL_H
#define TOK_IMGUTIL_H

// Small image utilities of the token engine.

#include <stdint.h>

#include "vlt_image.h"
#include "vlt_state.h"

// The largest of n values; the first for n of 1 or less.
int32_t find_max_of_ints(const int32_t* values, int32_t n);
// RGB of a CMYK word (C in the top byte, K in the bottom one) under subtractive inks.
void cmyk2rgb(uint32_t cmyk, uint8_t rgb[3]);
// An RGB image (same size and offsets) from an image of one big-endian CMYK word per pixel.
VltStatus limtorgbim(const VltImage* cmyk, VltImage** place);
// A zeroed packed page buffer of width x height inside a 32-pixel frame in the wrapper's layout,
// wrapped as an image of (width + 64) x (height + 64); the buffer is the caller's (unwrap it).
// *xOffset is the bit offset of the first page pixel beyond the frame: 0 in this layout.
VltStatus pimNewFrameAligned(VltState* engine, int32_t width, int32_t height, int32_t* xOffset, VltImage** place);

#endif
