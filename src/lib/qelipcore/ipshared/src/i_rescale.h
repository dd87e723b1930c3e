#ifndef I_RESCALE_H
#define I_RESCALE_H

// Rescaling of framed images to a given size: nearest pixel through scale-to-size tables (1, 2,
// 4 or 8 bpp), bilinear interpolation (8 and 4 bpp) and area mapping for enlargements up to
// twice (8 bpp). Framed-buffer arguments are the start of the frame, framed width and height
// the image size + 64.

#include <stddef.h>
#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Scale-to-size tables: one block of 32-bit words in host order. Header: dstW, x-table bytes
// (4 dstW), dstH, y-table bytes (4 dstH), shift-table bytes (dstW at 2 and 4 bpp, else 0) twice.
// Then the x table (source pixel of each column; its byte at 2 and 4 bpp), the y table (byte
// offset of each line's source line) and, at 2 and 4 bpp, the shift table (dstW bytes: the right
// shift that brings the source pixel to the low bits of its byte).
VltStatus i_getScaleToSizeTableSize(IPState* state, int32_t depth, int32_t dstW, int32_t dstH, size_t* size);
VltStatus ip_getAllScaleToSizeTableSizes(IPState* state, int32_t depth, int32_t dstW, int32_t dstH,
                                         size_t* xBytes, size_t* yBytes, size_t* shiftBytes);
VltStatus i_fillScaleToSizeTables(IPState* state, int32_t srcW, int32_t srcH, int32_t srcBpl, int32_t depth,
                                  int32_t dstW, int32_t dstH, size_t capacity, void* block);
VltStatus i_getDimensionsFromScalingTables(IPState* state, const void* block, int32_t* dstW, int32_t* dstH);

// Writes the rectangle of the full scaled image that starts at (regionX, regionY) and has the
// destination's image size; the destination's frame is not touched. Tables that would reach
// past themselves or the source give 2.
VltStatus i_rescaleNoInterpSubRegion(IPState* state, const uint8_t* src, int32_t srcFramedWidth,
                                     int32_t srcFramedHeight, int32_t srcBpl, int32_t srcDepth,
                                     const void* block, uint8_t* dst, int32_t regionX, int32_t regionY,
                                     int32_t dstFramedWidth, int32_t dstFramedHeight, int32_t dstBpl,
                                     int32_t dstDepth);
VltStatus i_rescaleNoInterp(IPState* state, const uint8_t* src, int32_t srcFramedWidth, int32_t srcFramedHeight,
                            int32_t srcBpl, int32_t srcDepth, uint8_t* dst, int32_t dstFramedWidth,
                            int32_t dstFramedHeight, int32_t dstBpl, int32_t dstDepth);

// Bilinear rescaling at 8 or 4 bpp, pixel values with their lowest bit cleared. The source's
// frame column right of the image and frame line below it serve as the last pixels' neighbours
// during the call and are given back as they were; the destination's right frame is cleared.
VltStatus i_rescaleArb(IPState* state, uint8_t* src, int32_t srcFramedWidth, int32_t srcFramedHeight,
                       int32_t srcBpl, int32_t srcDepth, uint8_t* dst, int32_t dstFramedWidth,
                       int32_t dstFramedHeight, int32_t dstBpl, int32_t dstDepth);
// Weight table (32768 16-bit entries: quarters top-left, top-right, bottom-left, bottom-right,
// each x eighth x 1024 + y eighth x 128 + value / 2) and word codes (dstW / 4 + 1 bytes) for a
// 14-bit-fraction step xstep; both through slot 0.
VltStatus ip_make8bppRescaleTable(IPState* state, uint16_t** weights, uint8_t** codes, int32_t dstW,
                                  uint32_t xstep);
// One destination line between the source line at src and the next, at vertical position acc
// (11 fraction bits); four lines at acc, acc + ystep, acc + 2 ystep and acc + 3 ystep, all over
// the same source lines.
void ip_arbRescale8bppOneLine(IPState* state, const uint8_t* src, int32_t srcBpl, uint8_t* dst, int32_t dstW,
                              uint32_t xstep, uint32_t acc, const uint16_t* weights, const uint8_t* codes);
void ip_arbRescale8bppFourLines(IPState* state, const uint8_t* src, int32_t srcBpl, uint8_t* dst, int32_t dstW,
                                uint32_t xstep, uint32_t acc, const uint16_t* weights, const uint8_t* codes,
                                int32_t dstBpl, uint32_t ystep);

// Area-mapped enlargement at 8 bpp by 1 to 2 times in each direction.
VltStatus i_rescaleAreaMap(IPState* state, const uint8_t* src, int32_t srcFramedWidth, int32_t srcFramedHeight,
                           int32_t srcBpl, int32_t srcDepth, uint8_t* dst, int32_t dstFramedWidth,
                           int32_t dstFramedHeight, int32_t dstBpl, int32_t dstDepth);
// Weight table (8192 32-bit words read as two halves of 8192 16-bit entries, x slot x 1024 +
// y slot x 128 + value / 2) and word codes ((dstW + 3) / 4 used of dstW / 4 + 1 bytes); 16.16
// ratios and insertion spacing.
VltStatus ip_make8bppAreaMapTable(IPState* state, uint32_t** weights, uint8_t** codes, int32_t dstW,
                                  int32_t dstH, uint32_t xratio, uint32_t yratio, int64_t xins);
void ip_areaMap8bppLine(IPState* state, const uint8_t* src, int32_t srcBpl, uint8_t* dst, int32_t dstW,
                        uint32_t xstart, uint64_t yacc, uint32_t xratio, int64_t xins, const uint32_t* weights,
                        const uint8_t* codes);

#ifdef __cplusplus
}
#endif

#endif
