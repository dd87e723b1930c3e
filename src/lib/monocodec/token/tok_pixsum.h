#ifndef TOK_PIXSUM_H
#define TOK_PIXSUM_H

// Pixel sums: per class, how many members are black at every position of the class frame, and
// the exemplar thresholded from it so that its pixel count is near the median member's.
// Every operation returns 0, 1 (memory, reported) or 10003 (inconsistent records) and leaves the
// sum as it was when it fails.

#include "tok_types.h"

// A sum of one model at offset (0, 0).
VltStatus ModelToSum(const TokModel* model, TokState* state, TokPixelSum** sum);
// Builds the histogram of a sum that has none from the members' models.
VltStatus makeRealHist(TokClass* cls, TokState* state);
// Re-makes the histogram over the bounds plus a border of 2, keeping its cells.
VltStatus PixelRealloc(TokPixelSum* sum, TokState* state);
VltStatus InsertModel(TokClass* cls, const TokModel* model, int32_t x, int32_t y, TokState* state);
VltStatus DeleteModel(TokClass* cls, const TokModel* model, int32_t x, int32_t y, TokState* state);
// Adds b's sum into a's, b's frame placed at (x, y) in a's.
VltStatus MergePixelSumsWithOffset(TokClass* a, TokClass* b, int32_t x, int32_t y, TokState* state);
// Sets the class's exemplar to a box made from its sum, or to null when the sum is too young or
// thresholds too far from the median (unless forced). The old exemplar is left to the caller.
VltStatus MakeExemplarFromPixelSum(TokState* state, TokClass* cls, int force);
void PixelSumFree(TokPixelSum* sum, TokState* state);

// Cell (x, y) of a histogram, in class-frame coordinates.
int32_t tok_histCell(const VltImage* histogram, int32_t x, int32_t y);

#endif
