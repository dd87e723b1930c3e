// Text layers to XPS markup: a Canvas in layer pixels, placed through the layer's matrix and the
// resolutions, holding one transparent Glyphs element per run (ECMA-388 12.1) set in the face's own
// advances and scaled across to the run's box.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kvfont.h"
#include "text_runs.h"

namespace {

using kvxml::number;

// An attribute value: XML's five special characters escaped, control characters dropped.
std::string attribute(const std::u32string& text) {
  std::string out;
  for (uint32_t u : text) {
    switch (u) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (u >= 0x20 && u != 0xFFFE && u != 0xFFFF) {
          char bytes[4];
          out.append(bytes, static_cast<size_t>(KVXML_UTF8Put(u, bytes)));
        }
    }
  }
  return out;
}

std::string attribute(const char* text) {
  std::u32string wide;
  for (const char* p = text; *p;) wide.push_back(KVXML_UTF8Next(&p));
  return attribute(wide);
}

// The face the writer embeds for text is the sans-serif one: runs of every family are measured
// in it, since readers measure them in it.
constexpr int32_t kTextFace = 0;

// A scale with the precision that keeps a page-wide run within a hundredth of a pixel.
std::string fine(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", value);
  return text;
}

}  // namespace

extern "C" {

char* XPSXML_XMLToXPSStr_Ex(SState* state, const char* xml, char** fontName, double, double, double xres, double yres,
                            const double* matrix) {
  if (!xml || !fontName || !*fontName) {
    SState_ErrPrintf(state, "XPSXML_XMLToXPSStr_Ex: no text-layer XML or font name\n");
    return nullptr;
  }
  if (!(xres > 0) || !(yres > 0) || !std::isfinite(xres) || !std::isfinite(yres)) {
    SState_ErrPrintf(state, "XPSXML_XMLToXPSStr_Ex: resolutions %g by %g cannot place text\n", xres, yres);
    return nullptr;
  }
  XMLElement tree;
  std::string why;
  if (!kvxml::read_runs(xml, std::strlen(xml), &tree, &why) || !(why = tree.fault).empty()) {
    SState_ErrPrintf(state, "XPSXML_XMLToXPSStr_Ex: %s\n", why.c_str());
    return nullptr;
  }
  const std::vector<kvxml::Run>& runs = tree.runs;
  // XPS units are 1/96 inch and run downwards, as pixels do: no turn is needed.
  const kvxml::Matrix place =
      kvxml::multiply(kvxml::matrix_or_identity(matrix), kvxml::Matrix{{96.0 / xres, 0, 0, 96.0 / yres, 0, 0}});
  std::string out = "<Canvas RenderTransform=\"";
  for (int i = 0; i < 6; ++i) out += number(place.m[i]) + (i < 5 ? "," : "");
  out += "\">\n";
  const std::string font = attribute(*fontName);
  for (const kvxml::Run& run : runs) {
    const FFont* latin = FFont_ForIndex(FFont_IndexForFamStyle(kTextFace, FFONT_CSET_LATIN1));
    const double extent = FFont_Ascent(latin) - FFont_Descent(latin);
    if (run.yh <= 0 || run.text.empty() || !(extent > 0)) continue;
    const double size = run.yh / extent;
    // Advances in hundredths of the em: the face's own, so that a reader that measures the glyphs
    // by the font finds them where the advances put them, and no gaps or overlaps appear inside a
    // word. The run's box width comes from a horizontal scale instead.
    std::string indices;
    double natural = 0;
    size_t n = 0;
    for (const kvxml::Piece& piece : run.pieces) {
      const FFont* face = FFont_ForIndex(FFont_IndexForFamStyle(kTextFace, FFont_IndexToISOCSet(piece.font)));
      for (unsigned char code : piece.codes) {
        const double advance = FFont_ChrSzX(face, code);
        natural += advance;
        if (n++) indices += ";";
        indices += "," + number(advance * 100.0);
      }
    }
    const double scale = kvxml::fit_scale(run.xw, natural * size);
    std::string text = attribute(run.text);
    // A string that begins with '{' needs the escape "{}" (ECMA-388 5.1.4).
    if (!text.empty() && text[0] == '{') text = "{}" + text;
    out += "<Glyphs Fill=\"#00000000\" FontUri=\"" + font + "\" FontRenderingEmSize=\"" + number(size) +
           "\" OriginX=\"" + number(run.x0) + "\" OriginY=\"" + number(run.yb + FFont_Descent(latin) * size) + "\"";
    // The scale keeps the run's left edge in place: x -> scale * x + x0 * (1 - scale).
    if (scale != 1.0) out += " RenderTransform=\"" + fine(scale) + ",0,0,1," + fine(run.x0 * (1.0 - scale)) + ",0\"";
    out += " UnicodeString=\"" + text + "\"";
    // Indices pair with characters one to one only while every character is one UTF-16 unit and
    // survived the markup (control characters are dropped).
    bool simple = n == run.text.size();
    for (uint32_t u : run.text) simple = simple && u >= 0x20 && u < 0x10000;
    if (simple) out += " Indices=\"" + indices + "\"";
    out += "/>\n";
  }
  kvxml::report_uncarried(runs);
  // The runs are done with: let them go before the markup is copied out.
  XMLElement().runs.swap(tree.runs);
  out += "</Canvas>\n";
  char* markup = kvxml::engine_copy(out);
  if (!markup) SState_ErrPrintf(state, "XPSXML_XMLToXPSStr_Ex: no memory for %zu bytes of markup\n", out.size());
  return markup;
}

}  // extern "C"
