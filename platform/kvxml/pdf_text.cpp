// Text layers to PDF text operators: invisible text (render mode 3, ISO 32000-1 9.3.6) over the
// page image, each run's words fitted to its box so that viewers select and find them there.

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kvfont.h"
#include "text_runs.h"

namespace {

using kvxml::Matrix;
using kvxml::number;

// A PDF literal string of single-byte codes (ISO 32000-1 7.3.4.2).
std::string literal(const std::string& codes) {
  std::string out = "(";
  for (unsigned char c : codes) {
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7E) {
      char esc[5];
      std::snprintf(esc, sizeof esc, "\\%03o", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + ")";
}

}  // namespace

extern "C" {

char* PDFXML_XMLToPDF_Ex(SState* state, XMLElement* tree, double x, double y, int32_t width, int32_t height,
                         double xres, double yres, double imageWidth, int32_t, int32_t, const double* matrix,
                         double imageHeight) {
  if (!tree) {
    SState_ErrPrintf(state, "PDFXML_XMLToPDF_Ex: no text-layer document\n");
    return nullptr;
  }
  if (!(xres > 0) || !(yres > 0) || !std::isfinite(xres) || !std::isfinite(yres) || !std::isfinite(x) ||
      !std::isfinite(y) || !std::isfinite(imageWidth) || !std::isfinite(imageHeight)) {
    SState_ErrPrintf(state, "PDFXML_XMLToPDF_Ex: resolutions %g by %g cannot place text\n", xres, yres);
    return nullptr;
  }
  if (!tree->fault.empty()) {
    SState_ErrPrintf(state, "PDFXML_XMLToPDF_Ex: %s\n", tree->fault.c_str());
    return nullptr;
  }
  const std::vector<kvxml::Run>& runs = tree->runs;
  // Image pixels (y downwards) -> the layer's box in points (y upwards) -> the layer's matrix.
  const double sx = (imageWidth > 0 ? width / imageWidth : 1.0) * 72.0 / xres;
  const double sy = (imageHeight > 0 ? height / imageHeight : 1.0) * 72.0 / yres;
  const Matrix box{{sx, 0, 0, -sy, x * 72.0 / xres, (y + height) * 72.0 / yres}};
  const Matrix ctm = kvxml::multiply(box, kvxml::matrix_or_identity(matrix));
  std::string out;
  if (runs.empty()) return kvxml::engine_copy(out);
  out = "q\n";
  for (double v : ctm.m) out += number(v) + " ";
  out += "cm\nBT\n3 Tr\n";
  for (const kvxml::Run& run : runs) {
    const double extent = run.ascent - run.descent;
    if (run.yh <= 0 || run.pieces.empty() || !(extent > 0)) continue;
    // The face's full extent fills the box: ascent at its top, descent at its bottom edge.
    const double size = run.yh / extent;
    const double baseline = run.yb + run.descent * size;
    out += number(100.0 * kvxml::fit_scale(run.xw, run.advance * size)) + " Tz\n";
    // The page space runs downwards here: the text matrix turns the glyphs upright.
    out += "1 0 0 -1 " + number(run.x0) + " " + number(baseline) + " Tm\n";
    for (const kvxml::Piece& piece : run.pieces) {
      char font[8];
      std::snprintf(font, sizeof font, "F%02X", static_cast<unsigned>(piece.font));
      out += std::string("/") + font + " " + number(size) + " Tf\n" + literal(piece.codes) + " Tj\n";
    }
  }
  out += "ET\nQ\n";
  kvxml::report_uncarried(runs);
  char* text = kvxml::engine_copy(out);
  if (!text) SState_ErrPrintf(state, "PDFXML_XMLToPDF_Ex: no memory for %zu bytes of content\n", out.size());
  return text;
}

int32_t PDFQEL_MarkRequiredFonts(XMLElement* tree, int32_t, uint8_t* used) {
  if (!tree || !tree->fault.empty() || !used) return -1;
  int32_t marked = 0;
  for (const kvxml::Run& run : tree->runs) {
    if (run.yh <= 0 || !(run.ascent - run.descent > 0)) continue;  // runs the converter leaves out
    for (const kvxml::Piece& piece : run.pieces) {
      if (piece.font < 0 || piece.font >= FFONT_TABLE_SIZE || used[piece.font]) continue;
      used[piece.font] = 1;
      ++marked;
    }
  }
  return marked;
}

}  // extern "C"
