#ifndef PIXR_MORPH_H
#define PIXR_MORPH_H

// Binary morphology of framed 1-bit images by structuring elements, and one thinning pass.
// Destinations: an empty place receives a new record, the source itself is worked in place,
// another record must match the source (pixr_ops.h). On failure the place keeps its value and
// nothing made by the call survives.

#include <stdint.h>

#include "pixr.h"
#include "strel.h"

/* Dilation: a pixel is set when some hit cell, at offset d from the centre, finds the source
   pixel at p - d set; source pixels outside the image are clear. An element without a hit
   cell gives a clear image. */
VltStatus w_dilate(IPWState* s, const PIXR* src, strel* element, PIXR** place);
/* Erosion: a pixel is set when every hit cell finds the source pixel at p + d set and every
   miss cell finds it clear (a hit-or-miss transform with miss cells); pixels outside the image
   are clear, so a hit fails there and a miss holds. An element without hit or miss cells gives
   a set image; a single cell works wherever its centre is said to be. */
VltStatus w_erode(IPWState* s, const PIXR* src, strel* element, PIXR** place);
/* Erosion then dilation, and dilation then erosion, through a temporary image. */
VltStatus w_open(IPWState* s, const PIXR* src, strel* element, PIXR** place);
VltStatus w_close(IPWState* s, const PIXR* src, strel* element, PIXR** place);
/* The pixel step on two existing images, over the smaller of their framed sizes. */
VltStatus wp_fastDilate(IPWState* s, const PIXR* src, strel* element, PIXR* dst);
VltStatus wp_fastErode(IPWState* s, const PIXR* src, strel* element, PIXR* dst);
/* Ask the core for a program of the element; a core without code generation leaves the
   program null and answers 0. */
VltStatus w_genDilateAsm(IPWState* s, strel* element, uint32_t* codeHandle);
VltStatus w_genErodeAsm(IPWState* s, strel* element, uint32_t* codeHandle);
VltStatus w_genLongDilateAsm(IPWState* s, strel* element, uint32_t* codeHandle);
VltStatus w_genLongErodeAsm(IPWState* s, strel* element, uint32_t* codeHandle);

/* One pass of thinning: four hit-or-miss erosions, each removing the edge pixels it finds
   (set pixels with two set neighbours on one side and three clear ones on the other), each
   seeing the result of the one before. The place may hold null (a thinned copy is made and
   stored at once), the source, or another image of the source's size (it receives the source
   first). */
VltStatus w_thin8(IPWState* s, const PIXR* src, PIXR** place);

#endif
