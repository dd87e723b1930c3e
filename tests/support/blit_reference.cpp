#include "blit_reference.h"

namespace monotest {

namespace {

int get(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

void put(uint8_t* row, int x, int v) {
  const uint8_t m = static_cast<uint8_t>(0x80u >> (x & 7));
  row[x >> 3] = static_cast<uint8_t>(v ? row[x >> 3] | m : row[x >> 3] & ~m);
}

}  // namespace

void ref_blit(uint8_t* dst, size_t dst_stride, int left, int top, int right, int bottom,
              const uint8_t* src, size_t src_stride, int width, int height, int x, int y, int op) {
  const int table = op == 18 ? 2 : op;
  for (int v = 0; v < height; ++v) {
    const long long dy = static_cast<long long>(y) + v;
    if (dy < top || dy >= bottom) continue;
    for (int u = 0; u < width; ++u) {
      const long long dx = static_cast<long long>(x) + u;
      if (dx < left || dx >= right) continue;
      uint8_t* drow = dst + static_cast<size_t>(dy) * dst_stride;
      const int s = get(src + static_cast<size_t>(v) * src_stride, u);
      const int d = get(drow, static_cast<int>(dx));
      put(drow, static_cast<int>(dx), (table >> (s * 2 + d)) & 1);
    }
  }
}

}  // namespace monotest
