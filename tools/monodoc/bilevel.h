#ifndef MONODOC_BILEVEL_H
#define MONODOC_BILEVEL_H

// A page as the runner reads and writes it: 1-bit rows, most significant bit first, 1 = black,
// each row padded to whole bytes with zero bits.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace monodoc {

// The largest page the readers accept: bounds what a damaged or hostile header can make us
// allocate.
inline constexpr int32_t max_side = 1 << 20;
inline constexpr size_t max_page_bytes = size_t{1} << 30;

// Resolution given to pages whose file does not say.
inline constexpr double default_resolution = 300.0;

struct Bilevel {
  int32_t width = 0;
  int32_t height = 0;
  size_t stride = 0;  // bytes per row: (width + 7) / 8
  std::vector<uint8_t> bits;
  double xres = default_resolution;
  double yres = default_resolution;

  uint8_t* row(int32_t y) { return bits.data() + static_cast<size_t>(y) * stride; }
  const uint8_t* row(int32_t y) const { return bits.data() + static_cast<size_t>(y) * stride; }
};

// Whether a page of that size may be made; on success *stride holds the row bytes.
bool page_size_ok(int64_t width, int64_t height, size_t* stride);

// Clears the bits past the width in the last byte of every row.
void clear_padding(Bilevel* page);

}  // namespace monodoc

#endif
