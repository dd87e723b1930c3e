#ifndef TOK_MATCH_H
#define TOK_MATCH_H

// The two-way edge match test: are two bitmaps one symbol? Each bitmap's black pixels outside the
// other's dilation must stay within an allowance that grows with its boundary length, and must
// not cluster. Offsets (dx, dy) place pixel (x, y) of the second bitmap at (x + dx, y + dy) in
// the frame of the first.

#include <stdint.h>

#include "tok_types.h"

struct TokShift {
  int8_t x;
  int8_t y;
};

// The small shifts tried around a start offset, nearest first: the centre, its eight neighbours,
// then the rest of the 5x5 square.
inline constexpr int32_t TOK_SHIFT_COUNT = 25;
extern const TokShift trans[TOK_SHIFT_COUNT];

// (int)((1 - matchFraction) x edge count), in single precision.
int32_t tokAllowedMismatches(const TokState* state, uint32_t edgeCount);
// The allowance shaped by the threshold offset, knee and slope.
int32_t tokMatchThreshold(const TokState* state, uint32_t edgeCount);

// 1 on a match, with (*dx, *dy) moved to the best shift around the start offset; 0 otherwise,
// offset unchanged.
int EdgeHausdorffMatch(const TokModel* a, const TokModel* edgeA, const TokModel* b, const TokModel* edgeB,
                       int16_t* dx, int16_t* dy, const TokState* state);

// Moves (*dx, *dy) to the shift with the fewest pixels that differ between the two models.
void ShiftEdgeHausdorffMatch(const TokModel* a, const TokModel* edgeA, const TokModel* b,
                             const TokModel* edgeB, int16_t* dx, int16_t* dy, const TokState* state);

// Pixels of b outside the dilation whose complement is edge (a's edge image), b placed at
// (dx, dy): exact up to limit, some value above limit otherwise. Too dense a cluster of
// mismatches gives b's pixel count.
uint32_t NumMismatched(const TokModel* edge, const TokModel* b, int32_t dx, int32_t dy, int32_t limit,
                       const TokState* state);

// The most mismatched pixels in one 3x3 window, b's row y facing edge row y + rowOffset.
uint32_t GetMismatchDensity(const TokModel* edge, const TokModel* b, int32_t dx, int32_t rowOffset);

// The least edge count whose allowance exceeds the threshold offset.
int32_t MinEdgePixForMismatch(const TokState* state);

#endif
