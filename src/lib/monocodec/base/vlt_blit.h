#ifndef VLT_BLIT_H
#define VLT_BLIT_H

// One-bit blitter: combines a source bitmap into a destination bitmap at any bit position.
// Bitmaps are rows of big-endian 32-bit words (first pixel in the most significant bit, 1 =
// black) addressed by the first row and a row stride in words. Pixels of the destination outside
// the blitted rectangle never change, and no word outside the rectangle's rows and columns is
// written. Nothing here allocates.

#include <stdint.h>

#include "vlt_image.h"
#include "vlt_status.h"

/* Operation codes: the truth table with source = 12 and destination = 10. */
enum VltBlitOp : int32_t {
  VLT_BLIT_XOR = 6,
  VLT_BLIT_AND = 8,
  VLT_BLIT_XNOR = 9,
  VLT_BLIT_REPLACE = 12,
  VLT_BLIT_OR = 14,
  VLT_BLIT_CLEAR = 18, /* destination AND NOT source; VltBlat_blitBitsOp only */
};

/* ORs the source (width x height) into the destination with its top-left pixel at (x, y), clipped
   to [left, right) x [top, bottom), which must lie inside the destination. */
void VltBlat_blitBits(uint8_t* dst, int32_t dstStride, int32_t left, int32_t top, int32_t right,
                      int32_t bottom, const uint8_t* src, int32_t srcStride, int32_t width,
                      int32_t height, int32_t x, int32_t y);
/* The same with any operation code; an unknown code changes nothing and gives 10006. */
VltStatus VltBlat_blitBitsOp(uint8_t* dst, int32_t dstStride, int32_t left, int32_t top,
                             int32_t right, int32_t bottom, const uint8_t* src, int32_t srcStride,
                             int32_t width, int32_t height, int32_t x, int32_t y, int32_t op);
/* OR without clipping: the whole source must lie inside the destination. */
void VltBlat_blitBitsNoClip(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                            int32_t width, int32_t height, int32_t x, int32_t y);
/* ORs columns [first, first + width) of height source rows to (x, y) of the destination. */
void VltBlat_blitBitsClipLR(uint8_t* dst, int32_t dstStride, const uint8_t* src, int32_t srcStride,
                            int32_t first, int32_t width, int32_t height, int32_t x, int32_t y);
void VltBlat_blitBitsClipLRREPLACE(uint8_t* dst, int32_t dstStride, const uint8_t* src,
                                   int32_t srcStride, int32_t first, int32_t width, int32_t height,
                                   int32_t x, int32_t y);
void VltBlat_blitBitsClipLRAND(uint8_t* dst, int32_t dstStride, const uint8_t* src,
                               int32_t srcStride, int32_t first, int32_t width, int32_t height,
                               int32_t x, int32_t y);
void VltBlat_blitBitsClipLRXOR(uint8_t* dst, int32_t dstStride, const uint8_t* src,
                               int32_t srcStride, int32_t first, int32_t width, int32_t height,
                               int32_t x, int32_t y);
void VltBlat_blitBitsClipLRXNOR(uint8_t* dst, int32_t dstStride, const uint8_t* src,
                                int32_t srcStride, int32_t first, int32_t width, int32_t height,
                                int32_t x, int32_t y);

/* ORs a Packed token into a Packed page: token pixel (u, v) lands at page (u + x, v + y), both
   images' offsets taken into account, clipped to the page. */
void VltBlat_blitPacked(VltImage* page, const VltImage* token, int32_t x, int32_t y);
/* The same with operation 6, 8, 9, 12 or 14; any other code is reported as 10006 "bad blitop"
   through the token's state, changes nothing and is returned. */
VltStatus VltBlat_blitPackedOp(VltImage* page, const VltImage* token, int32_t x, int32_t y,
                               int32_t op);
/* Sets every pixel of a Packed image to 1 (bits beyond the width in a row's last word are 0). */
void VltBlat_blitFillPacked(VltImage* image);

#endif
