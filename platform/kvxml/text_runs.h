#ifndef KVXML_TEXT_RUNS_H
#define KVXML_TEXT_RUNS_H

// What the converters share: a text-layer document's runs, each split into pieces of one
// character set, with the codes the pieces are written in and the runs' natural widths.

#include <string>
#include <vector>

#include "kvxml.h"

namespace kvxml {

// A stretch of one run in one character set.
struct Piece {
  int32_t font;           // font-table index
  std::string codes;      // one byte per character
};

struct Run {
  int32_t x0 = 0, xw = 0, yb = 0, yh = 0, famStyle = 0;
  std::u32string text;    // the characters of "str"
  std::vector<Piece> pieces;
  double ascent = 0, descent = 0;   // of the run's face, fractions of the em
  double advance = 0;               // natural width of the pieces, in ems
  int32_t uncarried = 0;            // characters no set of the face encodes, written as '?'
  uint32_t firstUncarried = 0;
};

}  // namespace kvxml

// A text-layer document as the converters use it: its runs, without the tree they came from.
struct XMLElement {
  std::vector<kvxml::Run> runs;   // in document order
  std::string fault;              // why a run could not be read, empty when none
};

namespace kvxml {

// Reads the runs of a document into tree (runs and fault); false with the reason when the
// document is malformed.
bool read_runs(const char* bytes, size_t length, XMLElement* tree, std::string* why);

// The horizontal scale that stretches a natural width of text over a box width, or 1 when the
// box is far narrower or wider than its text: that is a recognition fault, and a viewer would
// still have to draw the glyphs at that scale.
double fit_scale(double boxWidth, double naturalWidth);

// Tells once, through the engine's printer, how many characters of a layer no set of the face
// encodes (written as '?'); nothing when every character was carried.
void report_uncarried(const std::vector<Run>& runs);

// Numbers in content text and markup: at most three decimals, no trailing zeros.
std::string number(double value);

// A new text on the engine allocator holding text, or null.
char* engine_copy(const std::string& text);

// PDF matrices in the order a b c d e f: the product applies a first, then b.
struct Matrix {
  double m[6];
};
Matrix multiply(const Matrix& a, const Matrix& b);
Matrix matrix_or_identity(const double* coefficients);

}  // namespace kvxml

#endif
