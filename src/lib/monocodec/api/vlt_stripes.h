#ifndef VLT_STRIPES_H
#define VLT_STRIPES_H

// A page's placed tokens and run-stored components as JBIG2 regions in two stripes. The stripes
// split near the page record's split row, but every instance lies wholly inside the region that
// places it and inside its stripe: decoders clip an instance to its region, so a bound taken from
// the split row alone would lose ink in them.

#include <stdint.h>

#include "jb2_bridge.h"
#include "tok_pagecc.h"
#include "vlt_adt.h"

// qsort order of position records: by bottom row.
int sortByY(const void* a, const void* b);
// Sorts by bottom row, equal rows keeping their order.
void vlt_sortPositions(VltPosRecord* records, int32_t n);

// Paints a run list (pairs first, last; a run not right of the previous one starts the next row)
// into rows of words (most significant bit leftmost) at the offset.
void fillruns(uint8_t* bitmap, uint32_t wordsPerLine, const uint16_t* runs, int32_t runCount, int32_t xOffset,
              int32_t yOffset);

// Where the first stripe ends: the last row of stripe 1 (at least min(splitRow, height - 1)),
// chosen so that no instance or component of stripe 2 reaches into it. *firstCount is the number of
// leading (sorted) records in stripe 1.
struct VltStripeSplit {
  int32_t endRow;
  int32_t firstCount;
};
VltStatus vlt_splitStripes(const VltPosRecord* sorted, int32_t n, const VltAdtList* components, int32_t height,
                           int32_t splitRow, VltStripeSplit* split, VltState* state);

// Text region of stripe 1, its generic regions, end of stripe, then the same for stripe 2 (the
// page dictionaries are released after it). Records must be sorted by bottom row; their rows
// are made relative to stripe 2 for the records of stripe 2. Components (TokComponent, y = bottom
// row, bits or runs) are written and freed, and the list emptied.
VltStatus vlt_writeStripes(const Jb2OutputCallbacks* callbacks, Jb2StreamState* stream, VltPosRecord* records,
                           int32_t n, VltAdtList* components, int32_t width, int32_t height, int32_t splitRow,
                           int32_t xRes, int32_t yRes, int32_t pageNumber, void* dictBlock);

#endif
