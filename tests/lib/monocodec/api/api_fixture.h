#ifndef API_FIXTURE_H
#define API_FIXTURE_H

// Pages encoded through the engine API alone: sections of pages, the dictionary block of each
// section and the block of each page, as a caller receives them. Pages the memory bound refuses
// or takes back out go into the next section, as a caller would add them.

#include <cstdint>
#include <string>
#include <vector>

#include "jb2_test_stream.h"
#include "ref_bitmap.h"
#include "vlt_api.h"

namespace apitest {

struct EncodeSetup {
  uint32_t profile = 2;
  bool lossless = true;      // the three classifier words 0: every component by exact match
  int32_t memoryLimit = -1;
  size_t pagesPerSection = 0;  // 0: one section, unless the memory bound ends it
  int32_t endMode = 0;
  const VltMemFuncs* memory = nullptr;
  // When set, the run writes one standalone file of the pages here instead of handing blocks out,
  // with a comment naming the file for each text given.
  jb2test::Bytes* file = nullptr;
  std::vector<std::string> comments;
  bool deskew = false;       // measure every page's skew and straighten each section by it
};

struct Encoded {
  std::vector<jb2test::Bytes> dictionaries;  // one per section
  std::vector<jb2test::Bytes> pages;          // one per page, in page order
  std::vector<size_t> sectionOf;              // the section of each page
  int fullSections = 0;                       // sections ended because the bound was reached
  std::vector<float> angles;                  // each page's measured skew (radians), with deskew
};

// Options of a run at 300 dpi whose sections go out page by page (minSize 1, large components
// above a tenth of the page, no memory bound).
VltApiOptions single_page_options();

// The framed buffer of a page (32-pixel frame, the wrapper's line length).
std::vector<uint8_t> framed(const monotest::RefBitmap& page, uint32_t* bytesPerLine);

// A straight letter-wide page (2550 pixels) of text lines above four equal rules, 250 pixels
// long: tokens, not large components (a tenth of the page), and long enough to be straightened
// once the page is turned by more than half a degree. A 3 x 3 dot, too small for the classifier,
// lies 20 rows above the middle of each rule.
monotest::RefBitmap ruled_text_page(uint32_t seed);

// Encodes the pages; returns the first failing status (0 on success) and what failed in *what.
VltStatus encode(const std::vector<monotest::RefBitmap>& pages, const EncodeSetup& setup, Encoded* out,
                 std::string* what);

// The whole stream in writing order: every section's dictionary, then its pages.
jb2test::Bytes joined(const Encoded& e);

// Checks the segment sequence: numbers continuous from 0, no end of page or end of file, the
// section dictionaries on page 0 and everything else on page 1. Empty when it holds.
std::string check_segments(const Encoded& e);

}  // namespace apitest

#endif
