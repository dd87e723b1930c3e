#ifndef BENCH_FRAMED_H
#define BENCH_FRAMED_H

// A framed image buffer for the core as the wrapper layer lays one out: sized by
// i_calcImageProperties, the framed area placed so that the first image pixel falls on the
// access unit.

#include <cstdint>
#include <cstring>
#include <vector>

#include "ipcore.h"
#include "ref_bitmap.h"

namespace bench {

struct FramedBuffer {
  int32_t w, h, depth;
  uint32_t bpl = 0, size = 0, offset = 0;
  std::vector<uint8_t> bytes;
  FramedBuffer(IPState* s, int32_t w_, int32_t h_, int32_t d) : w(w_), h(h_), depth(d) {
    i_calcImageProperties(s, w, h, d, IP_FRAME, &bpl, &size);
    bytes.assign(size, 0);
    i_calcFrameOffset(s, bytes.data(), bpl, d, IP_FRAME, &offset);
  }
  // A 1-bit page.
  FramedBuffer(IPState* s, const monotest::RefBitmap& bm) : FramedBuffer(s, bm.width, bm.height, 1) {
    for (int y = 0; y < bm.height; ++y) std::memcpy(line(y), bm.row(y), bm.stride);
  }
  // The framed area, as the core's framed entry points take it.
  uint8_t* all() { return bytes.data() + offset; }
  uint8_t* line(int y) { return all() + size_t(y + IP_FRAME) * bpl + 4 * size_t(depth); }
};

}  // namespace bench

#endif
