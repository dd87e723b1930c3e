#ifndef I_ROTATE_H
#define I_ROTATE_H

// Rotation of framed images of 1, 2, 4 or 8 bits per pixel by a small angle (up to about ten
// degrees either way) without interpolation: every destination pixel is a copy of one source
// pixel, or the background (0 at 1 bpp, all ones deeper) where that pixel lies outside the
// image. The turn is a vertical shear along each destination line, laid down by a table of word
// masks shared by all lines, and a horizontal shear of whole lines; both pass through the
// image's middle. A positive angle turns the content clockwise as displayed with line 0 on top.
//
// Mapping: with sv and sh the vertical and horizontal slopes (16.16), V = ((W/2) sv + 32768) >> 16,
// X = ((H/2) sh + 32768) >> 16, k(x) the table runs that end at or before pixel x and h(y) the
// carries of a 16-bit accumulator gaining sh per line before line y, destination (x, y) takes
// source (x - X + h(y), y + V - k(x)). A negative angle numbers the lines from the bottom.

#include <stdint.h>

#include "ipstate.h"

#ifdef __cplusplus
extern "C" {
#endif

// Radians become turn units as trunc(radians / 6.2831852 * 32768); the fixed-point entries take
// -910..910 units (9 beyond, 8 for other depths, 2 for resolutions more than 1 apart with one
// of them 0, negative resolutions, or a slope too steep for the line table). Resolutions more
// than 1 apart scale the slopes: sv = yRes s0 / xRes, sh = xRes s0 / yRes, s0 = 2 |sin| in 16.16.
// nice non-zero shifts runs by one pixel where a stroke would lose its join with the line before.
VltStatus i_rotateNoInterpolation(IPState* state, const uint8_t* srcImageAll, int32_t framedWidth,
                                  int32_t framedHeight, int32_t srcBpl, double angleRadians,
                                  uint8_t* dstImageAll, int32_t dstBpl, int32_t depth, int32_t nice,
                                  int32_t xRes, int32_t yRes);
VltStatus i_rotateNoInterpolationFixedPoint(IPState* state, const uint8_t* srcImageAll,
                                            int32_t framedWidth, int32_t framedHeight,
                                            int32_t srcBpl, int32_t angle, uint8_t* dstImageAll,
                                            int32_t dstBpl, int32_t depth, int32_t nice,
                                            int32_t xRes, int32_t yRes);
// In place, through a ring of pending lines sized so that no line is written back while a
// later line still needs it.
VltStatus i_rotateNoInterpolationIP(IPState* state, uint8_t* imageAll, int32_t framedWidth,
                                    int32_t framedHeight, int32_t bpl, double angleRadians,
                                    int32_t depth, int32_t nice, int32_t xRes, int32_t yRes);
VltStatus i_rotateNoInterpolationIPFixedPoint(IPState* state, uint8_t* imageAll,
                                              int32_t framedWidth, int32_t framedHeight,
                                              int32_t bpl, int32_t angle, int32_t depth,
                                              int32_t nice, int32_t xRes, int32_t yRes);

// The line table for slope sv (16.16) and width W: for each of ((W depth) >> 5) + 1 destination
// words, one mask per run of the word that comes from one source line (the source moving one
// line up after each), then a line-adjust entry: wordsPerSourceLine when the word's last run
// goes on into the next word, else 0. From slot 0 (calloc); the caller frees it. 8 for other
// depths, 2 for a slope too steep to make runs, 1 without memory or state.
VltStatus ip_makeNoInterpRotTable(IPState* state, int32_t sv, uint32_t** table, int32_t width,
                                  int32_t wordsPerSourceLine, int32_t depth, int32_t assemblyFlag);
// No machine-specific line kernel exists: 0.
int32_t ip_rotateAssemblyCodeIsPresent(IPState* state);

// Line kernels, each turning one destination line of lineBits bits. srcLine0 is the first
// pixel of source line 0 (in the mapping's line numbering), srcWord the index of the source
// word under the line's first destination word (negative before the line start), bitOffset
// the position of the first pixel within it, srcLineIndex the source line of the line's first
// run; lines outside 0..H-1 and words outside the line read as background. The lead and tail
// limits are not needed: each word decides for itself whether it needs edge checks.
void ip_rotateNoInterpLine(IPState* state, const uint8_t* srcLine0, int32_t srcBpl, uint8_t* dstLine,
                           int32_t lineBits, int32_t srcWord, int32_t srcLineIndex,
                           int32_t bitOffset, const uint32_t* table, uint32_t background,
                           uint32_t padMask, int32_t leadLimit, int32_t tailLimit, int32_t H);
void ip_rotateNoInterpLineNiceBinary(IPState* state, const uint8_t* srcLine0, int32_t srcBpl,
                                     uint8_t* dstLine, int32_t dstBpl, int32_t lineBits,
                                     int32_t srcWord, int32_t srcLineIndex, int32_t bitOffset,
                                     const uint32_t* table, int32_t leadLimit, int32_t tailLimit,
                                     int32_t H);
void ip_rotateNoInterpLineNiceGray(IPState* state, const uint8_t* srcLine0, int32_t srcBpl,
                                   uint8_t* dstLine, int32_t dstBpl, int32_t lineBits,
                                   int32_t srcWord, int32_t srcLineIndex, int32_t bitOffset,
                                   const uint32_t* table, int32_t depth, uint32_t padMask,
                                   int32_t leadLimit, int32_t tailLimit, int32_t H);

// The line table unrolled once per image for the plain kernel: for each destination word the
// masks of its runs and the line of each (counted from the line's first run), padded with empty
// masks to the most runs any word has, and the nearest and farthest line a word reads.
typedef struct NoInterpRotPlan {
  int32_t words;
  int32_t runs;
  uint32_t* masks;   // words x runs
  int32_t* lines;    // words x runs
  int32_t* nearest;  // per word
  int32_t* farthest;
} NoInterpRotPlan;
// From slot 0; 1 without memory, 2 for a table of more than 16 runs in a word (the plain table
// walk serves those).
VltStatus ip_makeNoInterpRotPlan(IPState* state, const uint32_t* table, int32_t lineBits,
                                 NoInterpRotPlan* plan);
void ip_freeNoInterpRotPlan(IPState* state, NoInterpRotPlan* plan);
// The plain kernel through a plan: the same line as ip_rotateNoInterpLine with the same table.
void ip_rotateNoInterpLinePlanned(IPState* state, const uint8_t* srcLine0, int32_t srcBpl,
                                  uint8_t* dstLine, int32_t lineBits, int32_t srcWord,
                                  int32_t srcLineIndex, int32_t bitOffset, const NoInterpRotPlan* plan,
                                  uint32_t background, uint32_t padMask, int32_t H);
// Weight tables of 16-bit entries (high byte, low byte) for grey rotation: 8192 entries
// (16384 bytes) indexed f x 1024 + a x 128 + b, or 1024 entries (2048 bytes) indexed
// f x 128 + a x 16 + b at 4 bpp. A null *table is allocated (slot 0); a given one must be
// exactly that size, else 2.
VltStatus ip_makeGrayRotationTable(IPState* state, uint32_t sizeInBytes, uint16_t** table);
VltStatus ip_make4bppGrayRotationTable(IPState* state, uint32_t sizeInBytes, uint16_t** table);

#ifdef __cplusplus
}
#endif

#endif
