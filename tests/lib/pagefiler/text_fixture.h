#ifndef TEXT_FIXTURE_H
#define TEXT_FIXTURE_H

// Text-layer XML for the tests: runs given as rows, written as a document.

#include <string>
#include <vector>

namespace monotest {

struct GlyphRun {
  int x0, xw, yb, yh, famStyle;
  std::string str;
};

inline std::string xml_escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

inline std::string text_layer_xml(const std::vector<GlyphRun>& runs, const std::string& root = "Page") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + ">\n";
  for (const GlyphRun& r : runs) {
    xml += "  <Glyphs x0=\"" + std::to_string(r.x0) + "\" xw=\"" + std::to_string(r.xw) + "\" yb=\"" +
           std::to_string(r.yb) + "\" yh=\"" + std::to_string(r.yh) + "\" famStyle=\"" + std::to_string(r.famStyle) +
           "\" str=\"" + xml_escape(r.str) + "\"/>\n";
  }
  return xml + "</" + root + ">\n";
}

}  // namespace monotest

#endif
