// monodoc's text-layer commands end to end: text-layer pages as plain text, coalesced words and
// XPS markup, and their failures.

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
