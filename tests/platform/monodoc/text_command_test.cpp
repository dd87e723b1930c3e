// monodoc's text-layer commands end to end: text-layer pages as plain text, coalesced words and
// XPS markup, and their failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sanitizer_size.h"
#include "tools.h"

namespace {

class TextCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monotest::write_file(dir.file("page.xml"),
                         "<Page><Glyphs x0=\"100\" xw=\"100\" yb=\"400\" yh=\"40\" famStyle=\"0\" str=\"Hello\"/>"
                         "<Glyphs x0=\"220\" xw=\"100\" yb=\"401\" yh=\"40\" famStyle=\"0\" str=\"w\xC3\xB6rld\"/>"
                         "<Glyphs x0=\"100\" xw=\"200\" yb=\"460\" yh=\"40\" famStyle=\"0\" str=\"Next line\"/></Page>");
  }

  // Standard output, and standard error after it when asked.
  monotest::ToolResult monodoc(const std::string& args, bool with_errors = false) {
    return monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && " + monotest::shell_quote(MONODOC_BIN) +
                              " " + args + (with_errors ? " 2>&1" : " 2>/dev/null"));
  }

  monotest::TempDir dir;
};

TEST_F(TextCommandTest, PagesBecomeTextWordsOrMarkup) {
  const auto plain = monodoc("text page.xml");
  ASSERT_EQ(plain.exit_code, 0);
  EXPECT_NE(plain.output.find("     Hello w\xC3\xB6rld\n"), std::string::npos) << plain.output;
  EXPECT_NE(plain.output.find("Next line\n"), std::string::npos);

  const auto words = monodoc("text --coalesce --sw 20 --xtol 1 page.xml");
  ASSERT_EQ(words.exit_code, 0);
  EXPECT_NE(words.output.find("xw=\"220\""), std::string::npos) << words.output;
  EXPECT_NE(words.output.find("str=\"Hello w\xC3\xB6rld\""), std::string::npos);

  const auto xps = monodoc("text --xps -r 150 page.xml");
  ASSERT_EQ(xps.exit_code, 0);
  EXPECT_NE(xps.output.find("RenderTransform=\"0.64,0,0,0.64,0,0\""), std::string::npos) << xps.output;
  EXPECT_NE(xps.output.find("UnicodeString=\"Next line\""), std::string::npos);

  const auto progress = monodoc("text page.xml page.xml", true);
  EXPECT_NE(progress.output.find("page 2 of 2: page.xml"), std::string::npos) << progress.output;
}

TEST_F(TextCommandTest, FailuresAreReported) {
  monotest::write_file(dir.file("bad.xml"), "<Page><Glyphs x0=\"1\"/></Page>");
  const struct {
    const char* args;
    int exit;
    const char* message;
  } cases[] = {
      {"text bad.xml", 1, "QELXML2Text:Error parsing XML, no str attribute"},
      {"text absent.xml", 1, "cannot read absent.xml"},
      {"text --plain --xps page.xml", 2, "give one of --plain, --coalesce and --xps"},
      {"text --sw -3 page.xml", 2, "--sw takes a whole number"},
      {"text", 2, "needs at least one PAGE.xml"},
  };
  for (const auto& c : cases) {
    const auto r = monodoc(c.args, true);
    EXPECT_EQ(r.exit_code, c.exit) << c.args;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
  }
}

TEST_F(TextCommandTest, SearchablePdfsCarryTheTextOverThePages) {
  monotest::require_tool("pbmmake", "netpbm");
  ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(dir.path()) +
                               " && pbmmake -white 2550 3300 > blank.pbm && pbmmake -black 1275 1650 > half.pbm")
                .exit_code,
            0);
  // Two pages of 300 and (by their PBM default) 300 dpi: Latin-1 text on the first, Latin-2 on
  // the second; the third page has no text.
  monotest::write_file(dir.file("one.xml"),
                       "<Page><Glyphs x0=\"300\" xw=\"500\" yb=\"600\" yh=\"80\" famStyle=\"4\" str=\"Fa\xC3\xA7" "ade\"/>"
                       "<Glyphs x0=\"900\" xw=\"300\" yb=\"600\" yh=\"80\" famStyle=\"4\" str=\"caf\xC3\xA9\"/></Page>");
  monotest::write_file(dir.file("two.xml"),
                       "<Page><Glyphs x0=\"100\" xw=\"400\" yb=\"300\" yh=\"60\" famStyle=\"1\" str=\"\xC5\x81\xC3\xB3" "d\xC5\xBA\"/></Page>");
  const auto r = monodoc("pdf --test --text one.xml --text two.xml -o out.pdf blank.pbm half.pbm blank.pbm", true);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("page 2: half.pbm, 1275 x 1650 pixels, 300 dpi, bilevel, text two.xml"), std::string::npos)
      << r.output;
  const std::string pdf = monotest::shell_quote(dir.file("out.pdf"));
  const auto words = monotest::run_tool("pdftotext -bbox " + pdf + " -").output;
  const struct {
    const char* word;
    double xMin, yMin, xMax, yMax;
  } want[] = {{"Fa\xC3\xA7" "ade", 72, 124.8, 192, 144}, {"caf\xC3\xA9", 216, 124.8, 288, 144},
              {"\xC5\x81\xC3\xB3" "d\xC5\xBA", 24, 57.6, 120, 72}};
  for (const auto& w : want) {
    const size_t at = words.find(std::string(">") + w.word + "</word>");
    ASSERT_NE(at, std::string::npos) << w.word << "\n" << words;
    double box[4];
    const size_t start = words.rfind("<word ", at);
    ASSERT_EQ(std::sscanf(words.c_str() + start, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &box[0],
                          &box[1], &box[2], &box[3]),
              4);
    EXPECT_NEAR(box[0], w.xMin, 2.0) << w.word;
    EXPECT_NEAR(box[1], w.yMin, 2.0) << w.word;
    EXPECT_NEAR(box[2], w.xMax, 2.0) << w.word;
    EXPECT_NEAR(box[3], w.yMax, 2.0) << w.word;
  }
  const auto fonts = monotest::run_tool("pdffonts " + pdf).output;
  EXPECT_NE(fonts.find("Times-Roman"), std::string::npos) << fonts;
  EXPECT_NE(fonts.find("WinAnsi"), std::string::npos);
  EXPECT_NE(fonts.find("Helvetica-Bold"), std::string::npos);
  EXPECT_EQ(monotest::run_tool("qpdf --check " + pdf + " >/dev/null").exit_code, 0);

  // Text files beyond the pages, or XML that is not a text layer, write no file.
  monotest::write_file(dir.file("bad.xml"), "<Page><Glyphs x0=\"1\"/></Page>");
  const auto extra = monodoc("pdf --text one.xml --text two.xml -o no.pdf blank.pbm", true);
  EXPECT_EQ(extra.exit_code, 1);
  EXPECT_NE(extra.output.find("2 --text files for 1 page: two.xml and any after it go with no page"),
            std::string::npos)
      << extra.output;
  const auto bad = monodoc("pdf --text bad.xml -o no.pdf blank.pbm", true);
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.output.find("a Glyphs element without a number in \"xw\""), std::string::npos) << bad.output;
  EXPECT_NE(monotest::run_tool("test -e " + monotest::shell_quote(dir.file("no.pdf"))).exit_code, 0);
}

// XML's special characters escaped for an attribute value.
std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

std::string unescaped(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [from, to] : entities) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
      text.replace(at, std::strlen(from), to);
    }
  }
  return text;
}

// The words pdftotext finds on page n of pdf as a text layer of a 300 dpi page: one run per
// word over its box.
std::string text_layer_of(const std::string& pdf, int n) {
  const std::string page = std::to_string(n);
  const auto r = monotest::run_tool("pdftotext -bbox -f " + page + " -l " + page + " " + monotest::shell_quote(pdf) + " -");
  EXPECT_EQ(r.exit_code, 0);
  std::string xml = "<Page>\n";
  const double scale = 300.0 / 72.0;
  for (size_t at = r.output.find("<word "); at != std::string::npos; at = r.output.find("<word ", at + 1)) {
    double x0, y0, x1, y1;
    if (std::sscanf(r.output.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"", &x0, &y0, &x1,
                    &y1) != 4) {
      continue;
    }
    const size_t open = r.output.find('>', at) + 1;
    const std::string word = unescaped(r.output.substr(open, r.output.find("</word>", open) - open));
    char run[200];
    std::snprintf(run, sizeof run, "<Glyphs x0=\"%ld\" xw=\"%ld\" yb=\"%ld\" yh=\"%ld\" famStyle=\"0\" str=\"",
                  std::lround(x0 * scale), std::lround((x1 - x0) * scale), std::lround(y1 * scale),
                  std::lround((y1 - y0) * scale));
    xml += run + escaped(word) + "\"/>\n";
  }
  return xml + "</Page>\n";
}

std::vector<std::string> words_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// How many words of want are found in got, each found word counted once.
size_t shared_words(const std::vector<std::string>& want, const std::vector<std::string>& got) {
  std::map<std::string, int> left;
  for (const auto& w : got) ++left[w];
  size_t shared = 0;
  for (const auto& w : want) {
    if (left[w] > 0) {
      --left[w];
      ++shared;
    }
  }
  return shared;
}

// The same text layer made searchable in a PDF and in an XPS package reads back as the same
// words: poppler on the PDF and mupdf on the package find them, neither split into letters nor
// run together, on documentation pages of running text, program listings and option tables.
TEST_F(TextCommandTest, SearchableXpsGivesTheWordsOfTheSearchablePdf) {
  for (const char* tool : {"pdftotext", "pbmmake"}) monotest::require_tool(tool, "poppler-utils, netpbm");
  monotest::require_tool("mutool", "mupdf-tools");
  const std::string doc = "/usr/share/doc/libtasn1-doc/libtasn1.pdf";
  if (!std::filesystem::exists(doc)) throw std::runtime_error(doc + " is missing: apt-get install libtasn1-doc");
  ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && pbmmake -white 2550 3300 > blank.pbm")
                .exit_code,
            0);
  for (int page : {10, 20, 30}) {
    monotest::write_file(dir.file("layer.xml"), text_layer_of(doc, page));
    ASSERT_EQ(monodoc("pdf --test --text layer.xml -o out.pdf blank.pbm").exit_code, 0) << page;
    ASSERT_EQ(monodoc("xps --test --text layer.xml -o out.xps blank.pbm").exit_code, 0) << page;
    const auto pdf_words = words_of(monotest::run_tool("pdftotext " + monotest::shell_quote(dir.file("out.pdf")) + " -").output);
    const auto xps_words =
        words_of(monotest::run_tool("mutool draw -q -F txt " + monotest::shell_quote(dir.file("out.xps")) + " 2>/dev/null").output);
    ASSERT_GT(pdf_words.size(), 100u) << page;
    const size_t shared = shared_words(pdf_words, xps_words);
    EXPECT_GE(shared * 100, pdf_words.size() * 98) << "page " << page << ": " << shared << " of " << pdf_words.size()
                                                   << " words shared; the XPS gives " << xps_words.size();
  }
}

// Text layers go with pages in order, counting every page of a multi-page file; pages print
// both resolutions where they differ.
TEST_F(TextCommandTest, TextLayersGoWithPagesAcrossPageFiles) {
  for (const char* tool : {"pbmmake", "pnmtotiff", "tiffcp"}) monotest::require_tool(tool, "netpbm, libtiff-tools");
  monotest::require_tool("pdftotext", "poppler-utils");
  monotest::require_tool("mutool", "mupdf-tools");
  ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(dir.path()) +
                               " && pbmmake -white 1728 1100 | pnmtotiff -g4 -xresolution 204 -yresolution 98 > a.tif"
                               " && pbmmake -white 1728 1100 | pnmtotiff -g4 -xresolution 204 -yresolution 98 > b.tif"
                               " && tiffcp a.tif b.tif fax.tif && pbmmake -white 600 600 > last.pbm")
                .exit_code,
            0);
  const char* const words[] = {"Alpha", "Bravo", "Charlie"};
  for (int i = 0; i < 3; ++i) {
    monotest::write_file(dir.file("t" + std::to_string(i + 1) + ".xml"),
                         std::string("<Page><Glyphs x0=\"100\" xw=\"300\" yb=\"200\" yh=\"60\" famStyle=\"0\" str=\"") +
                             words[i] + "\"/></Page>");
  }
  const struct {
    std::string format;
    std::string (*page_text)(const std::string& file, int n);
  } cases[] = {
      {"pdf",
       [](const std::string& file, int n) {
         const std::string p = std::to_string(n);
         return monotest::run_tool("pdftotext -f " + p + " -l " + p + " " + monotest::shell_quote(file) + " -").output;
       }},
      {"xps",
       [](const std::string& file, int n) {
         return monotest::run_tool("mutool draw -q -F txt " + monotest::shell_quote(file) + " " + std::to_string(n) +
                                   " 2>/dev/null")
             .output;
       }},
  };
  const std::string texts = " --text t1.xml --text t2.xml --text t3.xml";
  for (const auto& c : cases) {
    const std::string out = "out." + c.format;
    const auto r = monodoc(c.format + texts + " -o " + out + " fax.tif last.pbm", true);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("page 2: fax.tif #2, 1728 x 1100 pixels, 204 x 98 dpi, bilevel, text t2.xml"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("page 3: last.pbm, 600 x 600 pixels, 300 dpi, bilevel, text t3.xml"), std::string::npos)
        << r.output;
    for (int n = 1; n <= 3; ++n) {
      const std::string text = c.page_text(dir.file(out), n);
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(text.find(words[k]) != std::string::npos, k == n - 1) << c.format << " page " << n << ": " << text;
      }
    }
    // One text layer more than there are pages goes with none: no file.
    const auto extra = monodoc(c.format + texts + " -o no." + c.format + " fax.tif", true);
    EXPECT_EQ(extra.exit_code, 1) << c.format;
    EXPECT_NE(extra.output.find("3 --text files for 2 pages: t3.xml and any after it go with no page"), std::string::npos)
        << extra.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("no." + c.format))) << c.format;
  }
}

// Characters the text fonts cannot carry are written as "?" and counted, once for each page.
TEST_F(TextCommandTest, CharactersNoFontCarriesAreCountedOncePerPage) {
  monotest::require_tool("pbmmake", "netpbm");
  ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && pbmmake -white 600 600 > p.pbm").exit_code, 0);
  monotest::write_file(dir.file("cjk.xml"),
                       "<Page><Glyphs x0=\"10\" xw=\"200\" yb=\"100\" yh=\"40\" famStyle=\"0\" str=\"Tokyo \xE6\x9D\xB1\xE4\xBA\xAC\"/>"
                       "<Glyphs x0=\"10\" xw=\"200\" yb=\"200\" yh=\"40\" famStyle=\"0\" str=\"\xE4\xBA\xAC \xC5\x81\xC3\xB3" "d\xC5\xBA\"/></Page>");
  monotest::write_file(dir.file("latin.xml"),
                       "<Page><Glyphs x0=\"10\" xw=\"200\" yb=\"100\" yh=\"40\" famStyle=\"0\" str=\"caf\xC3\xA9\"/></Page>");
  for (const char* format : {"pdf", "xps"}) {
    const auto r = monodoc(std::string(format) + " --text cjk.xml --text latin.xml --text cjk.xml -o out." + format +
                               " p.pbm p.pbm p.pbm",
                           true);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const std::string note =
        "the text layer has 3 characters that the text fonts cannot carry, written as \"?\" (the first U+6771)";
    for (const char* page : {"page 1: ", "page 3: "}) {
      const size_t at = r.output.find(std::string("monodoc: ") + page);
      ASSERT_NE(at, std::string::npos) << format << "\n" << r.output;
      EXPECT_NE(r.output.find(note, at), std::string::npos) << r.output;
    }
    size_t notes = 0;
    for (size_t at = r.output.find(note); at != std::string::npos; at = r.output.find(note, at + 1)) ++notes;
    EXPECT_EQ(notes, 2u) << r.output;
    EXPECT_EQ(r.output.find("monodoc: page 2: "), std::string::npos) << r.output;
  }
}

// A page of 300,000 glyph runs (22 MB) goes through every text command in time and memory in
// proportion to it, and a line of many words in shuffled order still joins into one run in
// reading order.
TEST_F(TextCommandTest, APageOfManyGlyphsCostsInProportionToIt) {
  monotest::require_tool("pbmmake", "netpbm");
  ASSERT_EQ(monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && pbmmake -white 2550 3300 > blank.pbm")
                .exit_code,
            0);
  const int lines = monotest::sanitizer_sized(300, 30);
  std::string xml = "<Page>\n";
  xml.reserve(static_cast<size_t>(lines) * 1000 * 75);
  std::mt19937 random(7);
  for (int line = 0; line < lines; ++line) {
    for (int k = 0; k < 1000; ++k) {
      char run[120];
      std::snprintf(run, sizeof run,
                    "<Glyphs x0=\"%d\" xw=\"7\" yb=\"%d\" yh=\"9\" famStyle=\"0\" str=\"%c\" note=\"padding\"/>\n",
                    10 + 8 * k, 100 + 10 * line, static_cast<char>('a' + random() % 26));
      xml += run;
    }
  }
  // One long line whose words lie one space width apart, in no order.
  const int words = monotest::sanitizer_sized(20000, 2000);
  std::vector<int> order(static_cast<size_t>(words));
  for (int i = 0; i < words; ++i) order[static_cast<size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (int i : order) {
    xml += "<Glyphs x0=\"" + std::to_string(i * 30) + "\" xw=\"10\" yb=\"5000\" yh=\"9\" famStyle=\"1\" str=\"w" +
           std::to_string(i) + "\"/>\n";
  }
  xml += "</Page>\n";
  monotest::write_file(dir.file("many.xml"), xml);
  // Address space for the tool: the libraries it loads, then a few times the page.
  const std::string limit = monotest::kSanitized ? "" : "ulimit -v 600000; ";
  const char* const commands[] = {
      "text --plain many.xml",       "text --xps many.xml",
      "pdf --text many.xml -o many.pdf blank.pbm", "xps --text many.xml -o many.xps blank.pbm",
  };
  const auto bounded = [&](const std::string& command) {
    return monotest::run_tool("cd " + monotest::shell_quote(dir.path()) + " && (" + limit + "timeout 120 " +
                              monotest::shell_quote(MONODOC_BIN) + " " + command + ")");
  };
  for (const char* command : commands) {
    EXPECT_EQ(bounded(std::string(command) + " >/dev/null 2>&1; echo $?").output, "0\n") << command;
  }
  const auto joined = bounded("text --coalesce --sw 20 --xtol 0 --ytol 0 many.xml 2>/dev/null");
  ASSERT_EQ(joined.exit_code, 0);
  std::string line = "w0";
  for (int i = 1; i < words; ++i) line += " w" + std::to_string(i);
  EXPECT_NE(joined.output.find("str=\"" + line + "\""), std::string::npos);
  EXPECT_NE(joined.output.find("xw=\"" + std::to_string((words - 1) * 30 + 10) + "\""), std::string::npos);
}

}  // namespace
