#ifndef KVXML_TEXT_RUNS_H
#define KVXML_TEXT_RUNS_H

// What the converters share: a text-layer document's runs, each split into pieces of one
// character set, with the codes the pieces are written in and the runs' natural widths.

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "kvxml.h"

struct XMLElement {
  xmlDocPtr doc;
};

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
};

// The runs of a document in document order; false with the reason when a run lacks an attribute.
bool read_runs(xmlDocPtr doc, std::vector<Run>* runs, std::string* why);

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
