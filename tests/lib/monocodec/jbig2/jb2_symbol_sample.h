#ifndef JB2_SYMBOL_SAMPLE_H
#define JB2_SYMBOL_SAMPLE_H

// Test material for the symbol dictionary and text region writers: glyphs cut from real pages,
// synthetic symbol sets and placements, the coding parameters of the three profiles, and pages
// written as one or more dictionaries followed by text regions.

#include <cstdint>
#include <string>
#include <vector>

#include "jb2_encode.h"
#include "jb2_test_stream.h"
#include "ref_bitmap.h"

namespace jb2test {

// One connected component of a page, cut to its own bitmap, at its place on the page.
struct Glyph {
  int x = 0;
  int y = 0;
  monotest::RefBitmap bm;
};

// The 8-connected components of a page, found by the image core's component finder.
std::vector<Glyph> cut_glyphs(const monotest::RefBitmap& page);

// The distinct bitmaps among the glyphs (first seen first) and, per glyph, which one it is.
struct ShapeClasses {
  std::vector<monotest::RefBitmap> shapes;
  std::vector<int> classOf;
};
ShapeClasses exact_classes(const std::vector<Glyph>& glyphs);

// Random blob-like shapes of 1..maxSide pixels a side.
std::vector<monotest::RefBitmap> random_shapes(int n, int maxSide, uint32_t seed);

// The coding parameters a profile sets: 1 MMR and fixed tables, 2 MMR with counted (possibly
// tuned) tables, 3 MQ throughout.
Jb2FileParams profile_params(int profile);

// Symbols as a dictionary record holds them: packed rows of 32-bit words, most significant bit
// first. Each symbol's owner link points at its tag (its index in the given order), so the
// original symbol can be found after the writer reorders the record, and a test can see that
// the links come back unchanged.
class SymbolSet {
 public:
  // dirtyPadding sets the bits past each row's width, which no writer may code; extraWords
  // widens the row stride beyond the width. The referred-to list a writer gives the record
  // (tuned tables) is freed through the state.
  SymbolSet(VltState* state, const std::vector<monotest::RefBitmap>& shapes, bool dirtyPadding = false,
            int extraWords = 0);
  ~SymbolSet();
  SymbolSet(const SymbolSet&) = delete;
  SymbolSet& operator=(const SymbolSet&) = delete;

  SegmentInfo dict{};  // type 0 on page 1 over symbols
  std::vector<Jb2Symbol> symbols;
  std::vector<int> tags;

  // The entry that holds shape i now.
  Jb2Symbol* entry_of(int shape);
  int shape_of(const Jb2Symbol& s) const { return *static_cast<const int*>(s.owner); }
  // Owner links as they are now, for comparing before and after a call.
  std::vector<void*> owners() const;

 private:
  VltState* state_;
  std::vector<std::vector<uint8_t>> rows_;
};

// A symbol's pixels as the record holds them (padding ignored).
monotest::RefBitmap symbol_bitmap(const Jb2Symbol& s);

// A shape placed at (x, y) of the page.
struct Placed {
  int shape;
  int x;
  int y;
};

// Text in lines: shapes standing on baselines lineHeight apart, gap pixels between them, each
// baseline moved down by up to jitter rows per glyph.
std::vector<Placed> text_lines(const std::vector<monotest::RefBitmap>& shapes, const std::vector<int>& use,
                               int pageWidth, int lineHeight, int gap, int jitter, uint32_t seed);
// Vertical text: shapes stacked in columns that share their left edge.
std::vector<Placed> text_columns(const std::vector<monotest::RefBitmap>& shapes, const std::vector<int>& use,
                                 int pageHeight, int columnWidth, int gap);

// The page the placements make (each shape ORed in, clipped to the page).
monotest::RefBitmap render(const std::vector<monotest::RefBitmap>& shapes, const std::vector<Placed>& placed,
                           int width, int height);

// A page to write: its shapes, split over one or more dictionaries, and its placements, coded as
// text regions of horizontal bands of the page (each band's instances are those whose top row
// lies in it, as a stripe holds them).
struct SymbolPage {
  std::vector<monotest::RefBitmap> shapes;
  std::vector<Placed> placed;
  int width = 0;
  int height = 0;
  int dictionaries = 1;             // shapes dealt round-robin into this many dictionaries
  std::vector<int> bandRows = {};   // starting rows of the bands after the first
  int keepOrder = 0;                // passed to the text region writer
  bool dirtyPadding = false;        // symbols carry set bits past their width
};

// What the coding choice made of each band (as decideSREncoding gives it for the same input).
struct BandChoice {
  int sbStrips;
  int transposed;
  int refCorner;
  int tunedTables;
};

// The page of a document's glyphs where they stood, each distinct glyph one symbol, coded as
// two bands split at half height.
SymbolPage glyph_page(const monotest::RefBitmap& source);

// Writes the page's dictionaries and text regions into the context, numbering on from its
// segment number; the page association is 1. Fills choices when given.
VltStatus write_symbol_page(Jb2File* file, const SymbolPage& page, std::vector<BandChoice>* choices = nullptr);

// The same as a whole T.88 file (file header, page information, end of page and file).
Bytes symbol_page_file(VltState* state, const SymbolPage& page, const Jb2FileParams& params,
                       std::vector<BandChoice>* choices = nullptr);

// The same split as PDF carries it: the dictionaries as globals (page association 0), the page
// information and text regions as the page stream.
struct EmbeddedStreams {
  Bytes globals;
  Bytes page;
};
EmbeddedStreams symbol_page_embedded(VltState* state, const SymbolPage& page, const Jb2FileParams& params);

// A minimal PDF with one page showing the page stream as a JBIG2 image with its globals.
std::string minimal_pdf(const EmbeddedStreams& s, int width, int height);

}  // namespace jb2test

#endif
