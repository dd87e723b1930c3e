#ifndef TOK_TABLE_H
#define TOK_TABLE_H

// The class grid: classes filed by exemplar size so that a box or class is compared only with
// classes of nearly its size, the search order over neighbouring cells, and the merge passes
// run when a section ends. Walks go by increasing height, then width, then filing order.

#include "tok_types.h"

// The search order for width and height differences a and b: (0, 0) first, then the half of
// the rectangle |dw| <= a, |dh| <= b with dh < 0 (or dh = 0 and dw < 0), by growing |dw| + |dh|.
VltStatus tokCTCalcOrder(int32_t widthDiff, int32_t heightDiff, int32_t* count, TokOrderPair** pairs,
                         TokState* state);

// The list of cell (row, column), or null for an empty cell or one outside the grid.
VltAdtList* tok_cell(const TokClassTable* table, int64_t row, int64_t column);

// Grows the grid to hold cell (height, width); a failure leaves the grid as it was.
VltStatus expandTable(TokClassTable* table, int32_t width, int32_t height, TokState* state);
VltStatus tokCTExpandTable(TokState* state, TokClassTable* table, int32_t width, int32_t height);
VltStatus tokCTAddToTable(TokClassTable* table, TokClass* cls, TokState* state);
// Re-files classes whose exemplar size changed; mode 0 also sets the scan marks.
VltStatus regularise(TokClassTable* table, int mode, TokState* state);
VltStatus generateAllExemplars(TokState* state, TokClassTable* table);
VltStatus tokCTDoAlign(TokClassTable* table, TokState* state);
// One merge scan: mode 0 every pair, 1 pairs with a multi-member class, 2 pairs of one-member
// classes, 3 pairs with an exemplar made from a pixel sum.
VltStatus scanTable(TokState* state, TokClassTable* table, int mode);
VltStatus tokCTFinalMerge(TokState* state, TokClassTable* table);

// Frees the grid's rows and cell lists (not the classes in them) and empties the table.
void tok_freeGrid(TokClassTable* table, TokState* state);

#endif
