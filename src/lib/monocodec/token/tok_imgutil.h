#ifndef TOK_IMGUTIL_H
#define TOK_IMGUTIL_H

// Small image utilities of the token engine: conversions between engine images and the
// wrapper's PIXR records, CMYK to RGB, framed page buffers, scaling of sampled RGB images.
// Functions that touch PIXR records need the engine state's wrapper state.

#include <stdint.h>

#include "pixr.h"
#include "tok_insert.h"
#include "vlt_adt.h"
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


// Decodes every token of the array still kept as G4 data that has a width, freeing the G4 data;
// stops at the first failure and returns its status (that token stays coded).
VltStatus decompressAnyCompressedTokens(TokCodedToken* tokens, int32_t n, VltState* engine);

// A 1-bit PIXR of width x height (32-pixel frame, 300 dpi) holding packed rows of wordsPerLine
// words; the rows' bits past the width are dropped.
VltStatus noFramedPackedToPixr(VltState* engine, const uint8_t* data, int32_t width, int32_t height,
                               int32_t wordsPerLine, PIXR** place);
// Turns a wrapped Packed image whose buffer holds a frame of f pixels on every side (0 or 32, as
// pimNewFrameAligned makes it) into a PIXR over the same buffer; the image header is released
// and the PIXR owns the buffer (w_destroyPixr frees it). On failure the image is left alone.
VltStatus packedtopixr(VltState* engine, VltImage* image, int32_t frame, PIXR** place);
// A zero-framed 3-channel 8-bit PIXR of R, G and B from an image of one CMYK word per pixel.
VltStatus limtorgbpixr(VltState* engine, const VltImage* cmyk, PIXR** place);
// An RGB image (offsets 0) interleaving channels 0, 1, 2 of a 3-channel 8-bit PIXR.
VltStatus pixrtorgb(VltState* engine, const PIXR* pixr, VltImage** place);
// A 3-channel 8-bit PIXR (frame 32) of the R, G and B bytes of an RGB image.
VltStatus rgbimtorgbpixr(VltState* engine, const VltImage* rgb, PIXR** place);
// RGB images go to rgbimtorgbpixr, Packed ones to noFramedPackedToPixr; other types are refused
// with 22.
VltStatus tc_convertToPixr(VltState* engine, const VltImage* image, PIXR** place);

// An RGB image scaled by 1 / factor (sizes truncated) with the wrapper's bilinear scaling, channel
// by channel; a size that truncates to 0 gives an image without pixels. 2 for a factor that is
// not a positive number.
VltStatus scale_sampled_image(VltState* engine, const VltImage* image, VltImage** place, float factor);
// The n images scaled, in a new array (engine allocator) in the same order; nothing is handed out
// on a failure.
VltStatus scale_sampled_images(VltImage* const* images, int32_t n, float factor, VltImage*** place,
                               VltState* engine);
// The list's images scaled, in a new list in the same order; nothing is handed out on a failure.
VltStatus scale_sampled_imagesL(const VltAdtList* images, float factor, VltAdtList** place, VltState* engine);

#endif
