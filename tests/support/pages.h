#ifndef MONOTEST_PAGES_H
#define MONOTEST_PAGES_H

// Real pages obtained at test time from documents Debian installs, cached in the build tree.

#include <string>
#include <vector>

#include "ref_bitmap.h"

namespace monotest {

// The folder shared beside the project (MONO_SHARED_DIR, else ../shared next to the sources).
std::string shared_dir();
// JBIG2 feature streams with their expected images.
std::string feature_dir();
// Where rendered pages are kept between runs.
std::string cache_dir();

// CCITT test chart n (1..8), 1728 pixels wide, from jbigkit-testdata through jbgtopbm.
RefBitmap ccitt_chart(int n);

// Page n (1-based) of a pdfTeX documentation PDF rendered at 300 dpi and thresholded at 50 %.
RefBitmap doc_page(int n);

// Page n of the same PDF as pdftoppm renders it at dpi: mode "mono" gives a PBM (P4), "gray" a
// PGM (P5), "color" a PPM (P6). The path of the cached file.
std::string doc_page_render(int n, int dpi, const std::string& mode);

// Names of the sample pages the benchmarks and quick start use, and their loader.
std::vector<std::string> sample_page_names();
RefBitmap sample_page(const std::string& name);
// The same page, loaded once per process (for benchmarks that revisit it).
const RefBitmap& cached_sample_page(const std::string& name);

}  // namespace monotest

#endif
