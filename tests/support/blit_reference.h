#ifndef MONOTEST_BLIT_REFERENCE_H
#define MONOTEST_BLIT_REFERENCE_H

// Per-pixel reference for one-bit blits: MSB-first byte rows, 1 = black. The operation is a
// four-bit truth table with source = 12 and destination = 10 (so OR = 14, AND = 8, XOR = 6,
// XNOR = 9, REPLACE = 12); 18 stands for destination AND NOT source. Source pixel (u, v) lands at
// destination (x + u, y + v) when that lies inside the clip rectangle [left, right) x [top, bottom).

#include <cstddef>
#include <cstdint>

namespace monotest {

void ref_blit(uint8_t* dst, size_t dst_stride, int left, int top, int right, int bottom,
              const uint8_t* src, size_t src_stride, int width, int height, int x, int y, int op);

}  // namespace monotest

#endif
