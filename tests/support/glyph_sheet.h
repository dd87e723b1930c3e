#ifndef MONOTEST_GLYPH_SHEET_H
#define MONOTEST_GLYPH_SHEET_H

// Known-text pages rendered at test time by ghostscript with the URW and DejaVu fonts Debian
// installs, and grey-level damage (blur, noise) applied before thresholding. Renderings are
// cached in the build tree.

#include <cstdint>
#include <string>
#include <vector>

#include "ref_bitmap.h"

namespace monotest {

// 8-bit grey, 0 black, 255 white.
struct GrayImage {
  int width = 0, height = 0;
  std::vector<uint8_t> px;
  uint8_t at(int x, int y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
};

// A PostScript program rendered anti-aliased at dpi onto a page of the given pixel size.
GrayImage gs_render_ps(const std::string& cache_name, const std::string& postscript, int dpi, int width, int height);

GrayImage gaussian_blur(const GrayImage& image, double sigma);
// Adds zero-mean Gaussian noise of the given deviation (grey levels), clamped to 0..255.
void add_noise(GrayImage& image, double sigma, uint32_t seed);
// Black where the grey value is below the level.
RefBitmap threshold(const GrayImage& image, int level = 128);

// A grid of cells, each showing one text in one font at one of several sub-pixel phases.
struct SheetCell {
  std::string font, text;
  double points = 0;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // pixel box, inclusive
};
struct GlyphSheet {
  GrayImage gray;
  std::vector<SheetCell> cells;
  // The cell holding pixel (x, y), or -1.
  int cell_at(int x, int y) const;
};
GlyphSheet glyph_sheet(const std::vector<std::string>& fonts, const std::vector<std::string>& texts,
                       const std::vector<double>& points, int dpi, int repeats);

}  // namespace monotest

#endif
