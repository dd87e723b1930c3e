#include "ref_rasterop.h"

#include <vector>

namespace monotest {

uint32_t ref_rop(unsigned t, uint32_t s, uint32_t d, unsigned depth) {
  uint32_t r = 0;
  for (unsigned b = 0; b < depth; ++b) {
    const unsigned sb = (s >> b) & 1, db = (d >> b) & 1;
    r |= ((t >> (2 * sb + db)) & 1u) << b;
  }
  return r;
}

uint32_t ref_get_pixel(const uint8_t* buf, size_t bpl, long x, long y, unsigned depth) {
  uint32_t v = 0;
  const size_t first = static_cast<size_t>(x) * depth;
  const uint8_t* row = buf + static_cast<size_t>(y) * bpl;
  for (unsigned b = 0; b < depth; ++b) {
    const size_t bit = first + b;
    v = (v << 1) | ((row[bit / 8] >> (7 - bit % 8)) & 1u);
  }
  return v;
}

void ref_set_pixel(uint8_t* buf, size_t bpl, long x, long y, unsigned depth, uint32_t v) {
  const size_t first = static_cast<size_t>(x) * depth;
  uint8_t* row = buf + static_cast<size_t>(y) * bpl;
  for (unsigned b = 0; b < depth; ++b) {
    const size_t bit = first + b;
    const uint8_t m = static_cast<uint8_t>(0x80u >> (bit % 8));
    if ((v >> (depth - 1 - b)) & 1u) row[bit / 8] |= m;
    else row[bit / 8] &= static_cast<uint8_t>(~m);
  }
}

void ref_raster_op(const RefRasterOp& op) {
  if (op.width <= 0 || op.height <= 0) return;
  std::vector<uint32_t> source(static_cast<size_t>(op.width * op.height), 0);
  if (op.src) {
    for (long j = 0; j < op.height; ++j)
      for (long i = 0; i < op.width; ++i)
        if (!op.keep || op.keep(i, j))
          source[static_cast<size_t>(j * op.width + i)] =
              ref_get_pixel(op.src, op.srcBytesPerLine, op.srcX + i, op.srcY + j, op.depth);
  }
  for (long j = 0; j < op.height; ++j)
    for (long i = 0; i < op.width; ++i) {
      if (op.keep && !op.keep(i, j)) continue;
      const long x = op.dstX + i, y = op.dstY + j;
      const uint32_t d = ref_get_pixel(op.dst, op.dstBytesPerLine, x, y, op.depth);
      const uint32_t s = source[static_cast<size_t>(j * op.width + i)];
      ref_set_pixel(op.dst, op.dstBytesPerLine, x, y, op.depth, ref_rop(op.truthTable, s, d, op.depth));
    }
}

}  // namespace monotest
