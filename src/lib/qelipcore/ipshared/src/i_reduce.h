#ifndef I_REDUCE_H
#define I_REDUCE_H

// Binary reduction by 2, 4, 8 or 16: each destination pixel stands for the f x f source block
// under it. A 2x step with threshold t (1 to 4) makes a pixel ON when at least t of its four
// source pixels are; larger factors cascade 2x and 4x steps, one threshold per 2x step. All
// thresholds 1 (any pixel) or all 4 (every pixel) run in one pass with a full-factor kernel.
// Nothing is validated here: the wrapper layer checks images and thresholds.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Framed entry points: buffers start at the top-left frame pixel, widths and heights include
// the 32-pixel frames. i_reduce2 takes the source width as twice the destination's.
VltStatus i_reduce2(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                    int32_t dstBytesPerLine, const uint8_t* src, int32_t srcBytesPerLine,
                    int32_t threshold);
VltStatus i_reduce4(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                    int32_t dstBytesPerLine, const uint8_t* src, int32_t srcFramedWidth,
                    int32_t srcFramedHeight, int32_t srcBytesPerLine, int32_t t1, int32_t t2);
VltStatus i_reduce8(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                    int32_t dstBytesPerLine, const uint8_t* src, int32_t srcFramedWidth,
                    int32_t srcFramedHeight, int32_t srcBytesPerLine, int32_t t1, int32_t t2,
                    int32_t t3);
VltStatus i_reduce16(IPState* state, uint8_t* dst, int32_t dstFramedWidth, int32_t dstFramedHeight,
                     int32_t dstBytesPerLine, const uint8_t* src, int32_t srcFramedWidth,
                     int32_t srcFramedHeight, int32_t srcBytesPerLine, int32_t t1, int32_t t2,
                     int32_t t3, int32_t t4);

// Interior operations: pointers at the first pixel of the first line, no frame needed. In each
// destination line the words up to the one holding pixel width - 1 are rewritten, the pixels
// past the width in that word cleared; nothing else changes. An empty destination is left
// alone and nothing is allocated.
VltStatus i_ioReduce2(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                      int32_t dstBytesPerLine, const uint8_t* src, int32_t srcWidth,
                      int32_t srcBytesPerLine, int32_t threshold);
VltStatus i_ioReduce4(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                      int32_t dstBytesPerLine, const uint8_t* src, int32_t srcWidth,
                      int32_t srcHeight, int32_t srcBytesPerLine, int32_t t1, int32_t t2);
VltStatus i_ioReduce8(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                      int32_t dstBytesPerLine, const uint8_t* src, int32_t srcWidth,
                      int32_t srcHeight, int32_t srcBytesPerLine, int32_t t1, int32_t t2, int32_t t3);
VltStatus i_ioReduce16(IPState* state, uint8_t* dst, int32_t dstWidth, int32_t dstHeight,
                       int32_t dstBytesPerLine, const uint8_t* src, int32_t srcWidth,
                       int32_t srcHeight, int32_t srcBytesPerLine, int32_t t1, int32_t t2,
                       int32_t t3, int32_t t4);

// Line kernels: one destination line from the f source lines starting at src. D is the byte
// offset of the last destination word, G = f x D the first source word under it, L the source
// word holding the last source pixel that counts (words beyond it count as 0). table is table 3
// of the binarization set of the factor.
typedef uint32_t (*IPWordReducer)(IPState* state, const uint8_t* srcWord, int32_t srcBytesPerLine);
typedef void (*IPReduceLineProc)(IPState* state, const uint8_t* src, int32_t srcBytesPerLine,
                                 uint8_t* dst, int32_t D, int32_t G, int32_t L, const uint32_t* table);

void ip_reduceT1Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                     int32_t D, int32_t G, int32_t L, const uint32_t* table);
void ip_reduceT2Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                     int32_t D, int32_t G, int32_t L, const uint32_t* table);
void ip_reduceT3Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                     int32_t D, int32_t G, int32_t L, const uint32_t* table);
void ip_reduceT4Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                     int32_t D, int32_t G, int32_t L, const uint32_t* table);
void ip_reduce4T1Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                      int32_t D, int32_t G, int32_t L, const uint32_t* table);
void ip_reduce4T4Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                      int32_t D, int32_t G, int32_t L, const uint32_t* table);
void ip_reduce8Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                    int32_t D, int32_t G, int32_t L, const uint32_t* table, IPWordReducer reducer);
void ip_reduce16Line(IPState* state, const uint8_t* src, int32_t srcBytesPerLine, uint8_t* dst,
                     int32_t D, int32_t G, int32_t L, IPWordReducer reducer);

// Word reducers over one source word in 8 or 16 consecutive lines: the OR (T1) or AND (T4) of
// each byte's 64 pixels at bits 31, 23, 15, 7, or of each half-word's 256 pixels at bits 31, 30.
uint32_t ip_reduce8xT1(IPState* state, const uint8_t* srcWord, int32_t srcBytesPerLine);
uint32_t ip_reduce8xT4(IPState* state, const uint8_t* srcWord, int32_t srcBytesPerLine);
uint32_t ip_reduce16xT1(IPState* state, const uint8_t* srcWord, int32_t srcBytesPerLine);
uint32_t ip_reduce16xT4(IPState* state, const uint8_t* srcWord, int32_t srcBytesPerLine);

// Wide-register kernels, for buffers aligned to 32-byte access; this build has none, so the
// presence query answers 0 and the kernels do nothing.
typedef void (*IPReduceLongLineProc)(IPState* state, const uint8_t* src, int32_t srcWidth,
                                     int32_t srcBytesPerLine, uint8_t* dst, int32_t D64,
                                     int32_t G64, int32_t L64);
int32_t ip_longOpScaleLibLinked(IPState* state);
void ip_reduceT1LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
void ip_reduceT2LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
void ip_reduceT3LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
void ip_reduceT4LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
void ip_reduce4T1LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
void ip_reduce4T4LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
void ip_reduce8T1LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);
void ip_reduce8T4LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t);

#ifdef __cplusplus
}
#endif

#endif
