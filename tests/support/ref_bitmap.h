#ifndef MONOTEST_REF_BITMAP_H
#define MONOTEST_REF_BITMAP_H

// A plain 1-bit reference image for tests and benchmarks: MSB-first rows, 1 = black, rows
// padded to whole bytes with zero tail bits. Nothing here shares code with the libraries.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace monotest {

struct RefBitmap {
  int width = 0;
  int height = 0;
  size_t stride = 0;  // bytes per row
  std::vector<uint8_t> bits;

  RefBitmap() = default;
  RefBitmap(int w, int h);

  uint8_t* row(int y) { return bits.data() + static_cast<size_t>(y) * stride; }
  const uint8_t* row(int y) const { return bits.data() + static_cast<size_t>(y) * stride; }
  int get(int x, int y) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
  void set(int x, int y, int v);
  size_t count() const;
  bool operator==(const RefBitmap& o) const;
};

// Empty when equal, otherwise a readable description of the first difference.
std::string first_difference(const RefBitmap& expected, const RefBitmap& actual);

// Black pixels of a with no black pixel of b on them or next to them: what a shape match within
// one pixel (the classifier's own tolerance) cannot explain, such as a misplaced or substituted
// glyph. With the images swapped: ink a coding added.
size_t unexplained_ink(const RefBitmap& a, const RefBitmap& b);

// PBM in the plain (P1) or raw (P4) form. Readers throw std::runtime_error on malformed input.
RefBitmap parse_pbm(const std::string& bytes);
RefBitmap read_pbm(const std::string& path);
std::string format_pbm(const RefBitmap& bm, bool plain = false);
void write_pbm(const std::string& path, const RefBitmap& bm, bool plain = false);

// Generators; every one is deterministic for a given seed.
RefBitmap make_noise(int w, int h, double density, uint32_t seed);
RefBitmap make_text_blobs(int w, int h, uint32_t seed);  // glyph-sized blobs on text lines
RefBitmap make_lines(int w, int h, uint32_t seed);       // horizontal, vertical and slanted strokes
RefBitmap make_checkerboard(int w, int h, int cell);
// The bitmap turned by angle radians (positive clockwise as displayed) about its centre, nearest
// pixel, same size.
RefBitmap turned(const RefBitmap& page, double angle);

}  // namespace monotest

#endif
