#ifndef I_DEPTH_H
#define I_DEPTH_H

// Depth expansion, value maps and indexed colour from two 1-bit images. Image entry points take
// framed buffers (start of the frame, framed width and height = image size + 64), both sides of
// the same image size; an empty image is left alone.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// 1 to 8 (16) bpp: ON becomes 0xFF (0xFFFF) and OFF 0, the reverse when invert is 1. Pixels past
// the width are written as 0 up to the next multiple of 4 (2) pixels, nothing beyond.
VltStatus i_depth1To8bpp(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                         int32_t srcBpl, uint8_t* dst, int32_t dstBpl, int32_t invert);
VltStatus i_depth1To16bpp(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                          int32_t srcBpl, uint8_t* dst, int32_t dstBpl, int32_t invert);
// 1 to 8 bpp: OFF becomes offValue, ON onValue (low 8 bits of each).
VltStatus i_map1To8bpp(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                       int32_t srcBpl, uint8_t* dst, int32_t dstBpl, int32_t offValue, int32_t onValue);
// 4 to 8 bpp through a 512-byte table of 256 big-endian 16-bit entries (the left pixel's value
// first), as i_fillExp2LUT makes for depth 4; null makes that table for the call.
VltStatus i_depth4To8bpp(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                         int32_t srcBpl, uint8_t* dst, int32_t dstBpl, const uint8_t* table);
// Values through a 16-entry (4 bpp, entries taken modulo 16) or 256-entry (8 bpp) map; the
// destination's right frame is cleared afterwards.
VltStatus i_map4To4(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                    int32_t srcBpl, uint8_t* dst, int32_t dstBpl, const uint8_t* map16);
VltStatus i_map8To8(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                    int32_t srcBpl, uint8_t* dst, int32_t dstBpl, const uint8_t* map256);
// words x 4 bytes, each through map256.
void ip_map8To8Line(IPState* state, const uint8_t* src, uint8_t* dst, int32_t words, const uint8_t* map256);

// Indexed colour at depth 8 or 4 from images A and B: 0 where A is ON, value where only B is,
// the largest index (255 or 15) where neither is. The four-value form gives secondValue where
// both are ON; a secondValue of 0 gives the two-value image. Values take their low 8 bits and
// must fit the depth. Pixels past the width in the last written word are 0; the right frame
// beyond it is not touched.
VltStatus i_indexedColorFromTwo1bppImages(IPState* state, const uint8_t* a, const uint8_t* b,
                                          int32_t framedWidth, int32_t framedHeight, int32_t bplA,
                                          int32_t bplB, int32_t depth, int32_t value, int32_t dstBpl,
                                          uint8_t* dst);
VltStatus i_fourValIndexedColorFromTwo1bppImages(IPState* state, const uint8_t* a, const uint8_t* b,
                                                 int32_t framedWidth, int32_t framedHeight, int32_t bplA,
                                                 int32_t bplB, int32_t depth, int32_t value,
                                                 int32_t secondValue, int32_t dstBpl, uint8_t* dst);
// One line of w pixels, lines at their first pixel.
VltStatus ip_indexedColorFromTwo1bppLines(IPState* state, const uint8_t* a, const uint8_t* b, int32_t w,
                                          int32_t depth, int32_t value, uint8_t* dst);
VltStatus ip_fourValIndexedColorFromTwo1bppLines(IPState* state, const uint8_t* a, const uint8_t* b,
                                                 int32_t w, int32_t depth, int32_t value,
                                                 int32_t secondValue, uint8_t* dst);

#ifdef __cplusplus
}
#endif

#endif
