#ifndef MONOTEST_REF_COMPONENTS_H
#define MONOTEST_REF_COMPONENTS_H

// Naive flood-fill connected components of a RefBitmap, the oracle for the run-based finder.

#include <cstdint>
#include <vector>

#include "ref_bitmap.h"

namespace monotest {

struct RefRun {
  int y, start, end;  // inclusive columns
  bool operator==(const RefRun&) const = default;
};

struct RefComponent {
  int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  int64_t pixels = 0;
  // Bottom line first, each line right to left.
  std::vector<RefRun> runs;
};

// Components of the ON pixels with 4- or 8-connectivity, ordered by the line below their last
// line, then by the rightmost run of their last line, left to right.
std::vector<RefComponent> flood_fill_components(const RefBitmap& bm, int connectivity);

}  // namespace monotest

#endif
