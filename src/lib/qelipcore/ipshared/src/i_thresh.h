#ifndef I_THRESH_H
#define I_THRESH_H

// Thresholding to fewer bits per pixel and filter binarization of 8- and 4-bit images.
//
// Image entry points take framed buffers (start of the frame, framed width and height = image
// size + 64) with equal image sizes on both sides. Those that binarize through a table set take
// t0..t3 (one table for 4 to 2 bpp): null t0 makes and fills a set for the call through slot 0;
// otherwise the given set, filled by the matching binarization-table filler, is used as it is
// and decides the polarity.
//
// Line kernels turn one line: D is the byte offset of the last destination word, G of the first
// source word of its group, L of the source word holding the last pixel; source words beyond L
// are not read and count as 0. Each writes destination words 0 to D.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// 8, 4 or 2 to 1 bpp: ON where the top bit of the value is set (the I variants: where it is
// clear, then the destination's right frame is cleared).
VltStatus i_threshold(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                      int32_t srcBpl, uint8_t* dst, int32_t dstBpl, const uint32_t* t0,
                      const uint32_t* t1, const uint32_t* t2, const uint32_t* t3);
VltStatus i_thresholdI(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                       int32_t srcBpl, uint8_t* dst, int32_t dstBpl, const uint32_t* t0,
                       const uint32_t* t1, const uint32_t* t2, const uint32_t* t3);
VltStatus i_threshold4To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                             int32_t framedHeight, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                             const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                             const uint32_t* t3);
VltStatus i_thresholdI4To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                              int32_t framedHeight, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                              const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                              const uint32_t* t3);
VltStatus i_threshold2To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                             int32_t framedHeight, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                             const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                             const uint32_t* t3);
VltStatus i_thresholdI2To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                              int32_t framedHeight, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                              const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                              const uint32_t* t3);
// The top two bits of 8-bit (value >> 6) or 4-bit (value >> 2) pixels.
VltStatus i_thresholdTo2bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                            int32_t framedHeight, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                            const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                            const uint32_t* t3);
VltStatus i_threshold4To2bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                             int32_t framedHeight, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                             const uint32_t* t);
// The top nibble of 8-bit pixels; uses no table and cannot fail.
VltStatus i_threshold8To4bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                             int32_t framedHeight, int32_t srcBpl, uint8_t* dst, int32_t dstBpl);

// High-pass: ON where the value reaches threshold t; band-pass: ON where it lies in
// [low, high]. 8-bit members compare the top seven bits ((p >> 1) against (t >> 1), and the band
// (low >> 1) .. (low >> 1) + ((high - low) >> 1)); 4-bit members are exact. I members give the
// complement. Bounds outside the depth's range, or low above high, give an unspecified image.
VltStatus i_highpassfilt(IPState* state, const uint8_t* src, int32_t framedWidth,
                         int32_t framedHeight, int32_t srcBpl, int32_t threshold, uint8_t* dst,
                         int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                         const uint32_t* t2, const uint32_t* t3);
VltStatus i_highpassfiltI(IPState* state, const uint8_t* src, int32_t framedWidth,
                          int32_t framedHeight, int32_t srcBpl, int32_t threshold, uint8_t* dst,
                          int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                          const uint32_t* t2, const uint32_t* t3);
VltStatus i_highpassfilt4To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                                int32_t framedHeight, int32_t srcBpl, int32_t threshold,
                                uint8_t* dst, int32_t dstBpl, const uint32_t* t0,
                                const uint32_t* t1, const uint32_t* t2, const uint32_t* t3);
VltStatus i_highpassfiltI4To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                                 int32_t framedHeight, int32_t srcBpl, int32_t threshold,
                                 uint8_t* dst, int32_t dstBpl, const uint32_t* t0,
                                 const uint32_t* t1, const uint32_t* t2, const uint32_t* t3);
VltStatus i_passfilt(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                     int32_t srcBpl, int32_t low, int32_t high, uint8_t* dst, int32_t dstBpl,
                     const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                     const uint32_t* t3);
VltStatus i_passfiltI(IPState* state, const uint8_t* src, int32_t framedWidth, int32_t framedHeight,
                      int32_t srcBpl, int32_t low, int32_t high, uint8_t* dst, int32_t dstBpl,
                      const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                      const uint32_t* t3);
VltStatus i_passfilt4To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                            int32_t framedHeight, int32_t srcBpl, int32_t low, int32_t high,
                            uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                            const uint32_t* t2, const uint32_t* t3);
VltStatus i_passfiltI4To1bpp(IPState* state, const uint8_t* src, int32_t framedWidth,
                             int32_t framedHeight, int32_t srcBpl, int32_t low, int32_t high,
                             uint8_t* dst, int32_t dstBpl, const uint32_t* t0, const uint32_t* t1,
                             const uint32_t* t2, const uint32_t* t3);

// 8 to 1 bpp against a threshold image, resampled to the source's size by nearest pixel when
// the sizes differ. Polarity non-zero: ON where (p >> 1) >= (t >> 1); 0: the reverse. The
// destination's right frame is cleared afterwards.
VltStatus i_thresholdByPixel(IPState* state, const uint8_t* src, int32_t framedWidth,
                             int32_t framedHeight, int32_t srcBpl, const uint8_t* thr,
                             int32_t thrFramedWidth, int32_t thrFramedHeight, int32_t thrBpl,
                             int32_t polarity, uint8_t* dst, int32_t dstBpl, const uint32_t* t0,
                             const uint32_t* t1, const uint32_t* t2, const uint32_t* t3);

// Line kernels.
void ip_toBinary128Line(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G,
                        int32_t L, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                        const uint32_t* t3);
// threshold holds c (0 to 127) in each byte; a pixel's bit is set where (p >> 1) >= c.
void ip_toBinaryThreshLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G,
                           int32_t L, const uint32_t* t0, const uint32_t* t1, const uint32_t* t2,
                           const uint32_t* t3, uint32_t threshold);
void ip_toBinaryFrom4bppLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D,
                             int32_t G, int32_t L, const uint32_t* t0, const uint32_t* t1,
                             const uint32_t* t2, const uint32_t* t3);
void ip_toBinaryFrom2bppLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D,
                             int32_t G, int32_t L, const uint32_t* t0, const uint32_t* t1,
                             const uint32_t* t2, const uint32_t* t3);
void ip_toTwoBitsPerPixelLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D,
                              int32_t G, int32_t L, const uint32_t* t0, const uint32_t* t1,
                              const uint32_t* t2, const uint32_t* t3);
void ip_fourToTwoBitsPerPixelLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D,
                                  int32_t G, int32_t L, const uint32_t* t);
void ip_threshold8To4Line(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D, int32_t G,
                          int32_t L);
// base holds low >> 1 per byte, width 0x80 + ((high - low) >> 1).
void ip_toBinaryBandPassLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D,
                             int32_t G, int32_t L, const uint32_t* t0, const uint32_t* t1,
                             const uint32_t* t2, const uint32_t* t3, uint32_t base, uint32_t width);
// threshold holds t >> 1 per nibble, lowBit t & 1.
void ip_toBinaryFrom4bppThreshLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D,
                                   int32_t G, int32_t L, const uint32_t* t0, const uint32_t* t1,
                                   const uint32_t* t2, const uint32_t* t3, uint32_t threshold,
                                   uint32_t lowBit);
// width holds 8 + ((high - low) >> 1) per nibble, base low >> 1; mode is
// 2 ((high - low) & 1) + (low & 1).
void ip_toBinaryFrom4bppBandpassLine(IPState* state, const uint8_t* src, uint8_t* dst, int32_t D,
                                     int32_t G, int32_t L, const uint32_t* t0, const uint32_t* t1,
                                     const uint32_t* t2, const uint32_t* t3, uint32_t width,
                                     uint32_t base, int32_t mode);
// Source byte k is compared with threshold byte k.
void ip_toBinaryByPixelLine(IPState* state, const uint8_t* src, const uint8_t* thr, uint8_t* dst,
                            int32_t D, int32_t G, int32_t L, const uint32_t* t0,
                            const uint32_t* t1, const uint32_t* t2, const uint32_t* t3);

#ifdef __cplusplus
}
#endif

#endif
