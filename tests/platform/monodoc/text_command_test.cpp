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

}  // namespace
