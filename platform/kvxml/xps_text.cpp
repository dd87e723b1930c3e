// Text layers to XPS markup: a Canvas in layer pixels, placed through the layer's matrix and the
// resolutions, holding one transparent Glyphs element per run (ECMA-388 12.1) whose advances
// spread the run's characters over its box.

#include <libxml/parser.h>

#include <cmath>
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
  char why[300];
  xmlDocPtr doc = KVXML_ReadTextLayer(xml, std::strlen(xml), XML_PARSE_NOBLANKS, why, sizeof why);
  if (!doc) {
    SState_ErrPrintf(state, "XPSXML_XMLToXPSStr_Ex: %s\n", why);
    return nullptr;
  }
  std::vector<kvxml::Run> runs;
  std::string reason;
  const bool read = kvxml::read_runs(doc, &runs, &reason);
  xmlFreeDoc(doc);
  if (!read) {
    SState_ErrPrintf(state, "XPSXML_XMLToXPSStr_Ex: %s\n", reason.c_str());
    return nullptr;
  }
  // XPS units are 1/96 inch and run downwards, as pixels do: no turn is needed.
  const kvxml::Matrix place =
      kvxml::multiply(kvxml::matrix_or_identity(matrix), kvxml::Matrix{{96.0 / xres, 0, 0, 96.0 / yres, 0, 0}});
  std::string out = "<Canvas RenderTransform=\"";
  for (int i = 0; i < 6; ++i) out += number(place.m[i]) + (i < 5 ? "," : "");
  out += "\">\n";
  const std::string font = attribute(*fontName);
  for (const kvxml::Run& run : runs) {
    const double extent = run.ascent - run.descent;
    if (run.yh <= 0 || run.text.empty() || !(extent > 0)) continue;
    const double size = run.yh / extent;
    // Advances in hundredths of the em that spread the natural widths over the box.
    const double fit = run.xw > 0 && run.advance > 0 ? run.xw / (run.advance * size) : 1.0;
    std::string indices;
    size_t n = 0;
    for (const kvxml::Piece& piece : run.pieces) {
      const FFont* face = FFont_ForIndex(piece.font);
      for (unsigned char code : piece.codes) {
        if (n++) indices += ";";
        indices += "," + number(FFont_ChrSzX(face, code) * 100.0 * fit);
      }
    }
    std::string text = attribute(run.text);
    // A string that begins with '{' needs the escape "{}" (ECMA-388 5.1.4).
    if (!text.empty() && text[0] == '{') text = "{}" + text;
    out += "<Glyphs Fill=\"#00000000\" FontUri=\"" + font + "\" FontRenderingEmSize=\"" + number(size) +
           "\" OriginX=\"" + number(run.x0) + "\" OriginY=\"" + number(run.yb + run.descent * size) +
           "\" UnicodeString=\"" + text + "\"";
    // Indices pair with characters one to one only while every character is one UTF-16 unit and
    // survived the markup (control characters are dropped).
    bool simple = n == run.text.size();
    for (uint32_t u : run.text) simple = simple && u >= 0x20 && u < 0x10000;
    if (simple) out += " Indices=\"" + indices + "\"";
    out += "/>\n";
  }
  out += "</Canvas>\n";
  char* markup = kvxml::engine_copy(out);
  if (!markup) SState_ErrPrintf(state, "XPSXML_XMLToXPSStr_Ex: no memory for %zu bytes of markup\n", out.size());
  return markup;
}

}  // extern "C"
