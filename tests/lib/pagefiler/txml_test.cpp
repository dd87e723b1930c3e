// The text-layer XML methods: word coalescing, plain text and XPS markup.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "dio_text.h"
#include "kvfont.h"
#include "interp_fixture.h"
#include "text_fixture.h"

namespace {

using monotest::GlyphRun;
using monotest::text_layer_xml;

// The Glyphs elements of a document as runs, in document order.
std::vector<GlyphRun> runs_of(const std::string& xml) {
  std::vector<GlyphRun> runs;
  xmlDocPtr doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
  EXPECT_NE(doc, nullptr) << xml;
  if (!doc) return runs;
  for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    auto get = [&](const char* name) {
      xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
      std::string s = v ? reinterpret_cast<char*>(v) : "";
      xmlFree(v);
      return s;
    };
    runs.push_back({std::stoi(get("x0")), std::stoi(get("xw")), std::stoi(get("yb")), std::stoi(get("yh")),
                    std::stoi(get("famStyle")), get("str")});
  }
  xmlFreeDoc(doc);
  return runs;
}

class TextXmlTest : public monotest::InterpTest {
 protected:
  // Calls a method with string arguments; the result's string named key, or the status message.
  std::string call(int (*method)(void*, elf_object*, elf_object**), void* target, elf_object* args, const char* key,
                   int* status) {
    elf_object* result = nullptr;
    clearStatus(state);
    *status = method(target, args, &result);
    elfDiscard(args);
    std::string out;
    const char* text = nullptr;
    std::string spec = std::string(key) + ":s";
    if (*status == 0 && lstScanArgs(result, spec.c_str(), LST_REQUIRED, &text, LST_END)) {
      out = text;
    } else {
      out = getStatusMessage(state);
    }
    elfDiscard(result);
    return out;
  }

  // Coalesces with the tolerances; the rewritten runs.
  std::vector<GlyphRun> coalesce(const std::vector<GlyphRun>& runs, int sw, int xtol, int ytol) {
    elf_object* members = lstBuildArgs(state, "xtol:i", xtol, 0, "ytol:i", ytol, 0, "sw:i", sw, 0, LST_END);
    int status = 0;
    const std::string xml =
        call(QELXML_CoalesceWords, members,
             lstBuildArgs(state, "CALL_NAME:s", "format", 0, "qelxml:s", text_layer_xml(runs).c_str(), 0, LST_END),
             "result", &status);
    elfDiscard(members);
    EXPECT_EQ(status, 0) << xml;
    return status == 0 ? runs_of(xml) : std::vector<GlyphRun>{};
  }

  std::string plain(const std::string& xml, int* status) {
    return call(QELXML2Text, nullptr, lstBuildArgs(state, "qelxml:s", xml.c_str(), 0, LST_END), "text", status);
  }
};

TEST_F(TextXmlTest, RunsOneSpaceApartJoin) {
  const struct {
    int secondX0;
    size_t runs;
  } cases[] = {{162, 1}, {157, 1}, {163, 1}, {164, 2}, {166, 2}, {156, 2}};
  for (const auto& c : cases) {
    const auto out = coalesce({{100, 50, 500, 40, 0, "Hello"}, {c.secondX0, 50, 500, 40, 0, "world"}}, 10, 3, 2);
    ASSERT_EQ(out.size(), c.runs) << c.secondX0;
    if (c.runs == 1) {
      EXPECT_EQ(out[0].str, "Hello world");
      EXPECT_EQ(out[0].x0, 100);
      EXPECT_EQ(out[0].xw, c.secondX0 + 50 - 100);
      EXPECT_EQ(out[0].yb, 500);
      EXPECT_EQ(out[0].yh, 40);
    }
  }
}

TEST_F(TextXmlTest, ALineJoinsInReadingOrderWhateverTheDocumentOrder) {
  const GlyphRun a{100, 40, 500, 40, 2, "A"}, b{150, 40, 501, 40, 2, "B"}, c{200, 40, 499, 40, 2, "C"};
  const std::vector<std::vector<GlyphRun>> orders = {{a, b, c}, {c, b, a}, {b, a, c}, {b, c, a}, {c, a, b}};
  for (const auto& order : orders) {
    const auto out = coalesce(order, 10, 1, 2);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].str, "A B C");
    EXPECT_EQ(out[0].x0, 100);
    EXPECT_EQ(out[0].xw, 140);
  }
}

TEST_F(TextXmlTest, RunsOfOtherFontsOrLinesStayApart) {
  const auto fonts = coalesce({{100, 50, 500, 40, 0, "Hello"}, {160, 50, 500, 40, 1, "world"}}, 10, 3, 2);
  EXPECT_EQ(fonts.size(), 2u);
  const auto lines = coalesce({{100, 50, 500, 40, 0, "Hello"}, {160, 50, 503, 40, 0, "world"}}, 10, 3, 2);
  EXPECT_EQ(lines.size(), 2u);
  // Other elements of the page are kept as they are.
  elf_object* members = lstBuildArgs(state, "xtol:i", 3, 0, "ytol:i", 2, 0, "sw:i", 10, 0, LST_END);
  int status = 0;
  const std::string out = call(
      QELXML_CoalesceWords, members,
      lstBuildArgs(state, "CALL_NAME:s", "format", 0, "qelxml:s", "<Page><Note a=\"1\"/></Page>", 0, LST_END), "result",
      &status);
  elfDiscard(members);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("<Note a=\"1\"/>"), std::string::npos) << out;
}

// The document is written again as it was, but for the joined runs: comments, instructions,
// other elements with their subtrees, prefixes and text beside the runs stay where they were.
TEST_F(TextXmlTest, CoalescingRewritesOnlyTheJoinedRuns) {
  const struct {
    const char* xml;
    const char* result;
  } cases[] = {
      {"<?xml version=\"1.0\"?>\n<!-- lead -->\n<p:Page xmlns:p=\"urn:x\" xw=\"5\">\n  <!-- inner -->\n  <?pi data?>\n"
       "  <Glyphs x0=\"100\" xw=\"50\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"H\xC3\xA9llo\"/>\n"
       "  <Note a=\"1\"><Sub b=\"2\">deep &amp; text</Sub><Other/></Note>\n"
       "  <p:Glyphs x0=\"162\" xw=\"50\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"w\xC3\xB6rld &lt;x&gt;\"/>\n"
       "  <Glyphs x0=\"20\" xw=\"68\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"Say\"/>\n</p:Page>\n<!-- trail -->\n",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- lead -->\n<p:Page xmlns:p=\"urn:x\" xw=\"5\">\n  <!-- inner -->\n"
       "  <?pi data?>\n"
       "  <Glyphs x0=\"20\" xw=\"192\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"Say H\xC3\xA9llo w\xC3\xB6rld &lt;x&gt;\"/>\n"
       "  <Note a=\"1\">\n    <Sub b=\"2\">deep &amp; text</Sub>\n    <Other/>\n  </Note>\n</p:Page>\n<!-- trail -->\n"},
      {"<P>lead<Glyphs x0=\"100\" xw=\"50\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"a\"/>mid"
       "<Glyphs x0=\"162\" xw=\"50\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"b\"/></P>",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<P>lead<Glyphs x0=\"100\" xw=\"112\" yb=\"500\" yh=\"40\" famStyle=\"0\" str=\"a b\"/>mid</P>\n"},
      {"<P></P>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<P/>\n"},
      // Blank text that is all an element holds is its content, not spacing between elements.
      {"<P a=\"&amp;\">\n</P>", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<P a=\"&amp;\">\n</P>\n"},
  };
  for (const auto& c : cases) {
    elf_object* members = lstBuildArgs(state, "xtol:i", 3, 0, "ytol:i", 2, 0, "sw:i", 12, 0, LST_END);
    int status = 0;
    const std::string out =
        call(QELXML_CoalesceWords, members,
             lstBuildArgs(state, "CALL_NAME:s", "format", 0, "qelxml:s", c.xml, 0, LST_END), "result", &status);
    elfDiscard(members);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, c.result);
  }
}

TEST_F(TextXmlTest, CoalescingFailuresAreReported) {
  elf_object* members = lstBuildArgs(state, "xtol:i", 3, 0, "ytol:i", 2, 0, "sw:i", 10, 0, LST_END);
  elf_object* no_sw = lstBuildArgs(state, "xtol:i", 3, 0, "ytol:i", 2, 0, LST_END);
  const std::string joinable_without_str =
      "<P><Glyphs x0=\"100\" xw=\"50\" yb=\"5\" yh=\"4\" famStyle=\"0\" str=\"a\"/>"
      "<Glyphs x0=\"160\" xw=\"50\" yb=\"5\" yh=\"4\" famStyle=\"0\"/></P>";
  const struct {
    elf_object* target;
    const char* method;
    std::string xml;
    const char* message;
  } cases[] = {
      {members, "format", "<P><Glyphs x0=\"1\" xw=\"2\" famStyle=\"0\" str=\"a\"/></P>",
       "QELXML_CoalesceWords:Error parsing XML, no yb attribute\n"},
      {members, "format", joinable_without_str, "QELXML_CoalesceWords:Error parsing XML, no str attribute\n"},
      {members, "format", "<P><Glyphs", "QELXML_CoalesceWords:Error parsing XML string\n"},
      {members, "other", "<P/>", "QELXML_CoalesceWords:Internal Object Error - Unsupported method other\n"},
      {no_sw, "format", "<P/>", "QELXML_CoalesceWords:Internal Object Error - Could access the sw field.\n"},
  };
  for (const auto& c : cases) {
    int status = 0;
    const std::string message =
        call(QELXML_CoalesceWords, c.target,
             lstBuildArgs(state, "CALL_NAME:s", c.method, 0, "qelxml:s", c.xml.c_str(), 0, LST_END), "result", &status);
    EXPECT_EQ(status, QEL_STATUS_INVALID);
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
  }
  elfDiscard(members);
  elfDiscard(no_sw);
}

TEST_F(TextXmlTest, PlainTextLaysRunsOutInLines) {
  // Runs 40 pixels high, columns of 23 pixels (the average character width): a first line 10
  // heights down begins with ten line feeds; lines are read in baseline order whatever the
  // document order.
  const std::vector<GlyphRun> runs = {
      {0, 100, 450, 40, 0, "Next"}, {0, 100, 400, 40, 0, "First"}, {140, 100, 402, 40, 0, "line"},
      {0, 60, 455, 40, 0, ""},
  };
  int status = 0;
  const std::string text = plain(text_layer_xml(runs), &status);
  ASSERT_EQ(status, 0) << text;
  EXPECT_EQ(text, std::string(10, '\n') + "First line\nNext\n");
}

TEST_F(TextXmlTest, PlainTextEdgeCases) {
  const struct {
    std::vector<GlyphRun> runs;
    const char* text;
  } cases[] = {
      // No runs, and runs without text, give no text.
      {{}, ""},
      {{{0, 50, 100, 40, 0, ""}}, ""},
      // Colliding runs retry with columns nearer the narrowest character: 36 pixels, then 23.
      {{{0, 200, 40, 40, 0, "ABCD"}, {100, 200, 40, 40, 0, "WXYZ"}, {0, 10, 400, 40, 0, "n"}},
       "ABCDWXYZ\n\n\n\n\n\n\n\n\n\nn\n"},
      // When no narrower column helps, after four retries the later run overwrites.
      {{{0, 200, 40, 40, 0, "ABCD"}, {40, 200, 40, 40, 0, "WXYZ"}}, "WXYZ\n"},
      // Zero widths and heights, negative positions: no division by zero, nothing before column 0.
      {{{-50, 0, 0, 0, 0, "ab"}, {0, 0, 0, 0, 0, "cd"}}, "cd\n"},
      // Equal baselines keep document order.
      {{{0, 30, 40, 40, 0, "x"}, {0, 30, 40, 40, 0, "y"}}, "y\n"},
  };
  for (const auto& c : cases) {
    int status = 0;
    EXPECT_EQ(plain(text_layer_xml(c.runs), &status), c.text);
    EXPECT_EQ(status, 0);
  }
}

TEST_F(TextXmlTest, PlainTextFailures) {
  const struct {
    const char* xml;
    const char* message;
  } cases[] = {
      {"<P><Glyphs x0=\"1\" xw=\"2\" yb=\"3\" famStyle=\"0\" str=\"a\"/></P>", "QELXML2Text:Error parsing XML, no yh attribute\n"},
      {"<P><Glyphs x0=\"1\" xw=\"2\" yb=\"3\" yh=\"4\" famStyle=\"0\"/></P>", "QELXML2Text:Error parsing XML, no str attribute\n"},
      {"", "QELXML2Text:Error parsing XML string\n"},
      {"<!DOCTYPE P SYSTEM \"http://example.invalid/p.dtd\"><P/>", "QELXML2Text:Error parsing XML string\n"},
      // Bytes the declared encoding cannot decode: the reason is libxml2's, not a bare failure.
      {"<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<e>\n<Gl\xCE>\n",
       "QELXML2Text:Error parsing XML string\n(line 0: input conversion failed"},
  };
  for (const auto& c : cases) {
    int status = 0;
    const std::string message = plain(c.xml, &status);
    EXPECT_EQ(status, QEL_STATUS_INVALID) << c.xml;
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
  }
  int status = 0;
  EXPECT_EQ(call(QELXML2Text, nullptr, lstBuildArgs(state, "other:s", "x", 0, LST_END), "text", &status),
            "QELXML2Text:Internal Object Error - Input string not provided\n");
}

// A run's glyphs advance by the embedded face's own widths, whatever its family, and a
// horizontal scale about its left edge stretches them over its box: a reader that measures the
// glyphs by the font finds each one where the advances put it, and the run ends where its box
// does.
TEST_F(TextXmlTest, XpsGlyphsAdvanceByTheFaceAndScaleToTheirBox) {
  const struct {
    GlyphRun run;
    bool scaled;
  } cases[] = {
      {{300, 400, 600, 60, 0, "Quarterly"}, true},    // sans, box wider than the text
      {{300, 90, 600, 60, 0, "Quarterly"}, true},     // sans, box narrower
      {{120, 700, 900, 50, 8, "bzip2 -d file"}, true},  // monospaced: measured in the sans face too
      {{120, 200, 900, 50, 5, "L\xC3\xB3" "d\xC5\xBA"}, true},  // bold serif, Latin-1 and Latin-2
      {{50, 0, 300, 40, 0, "no width"}, false},       // no box width: the face's own widths
  };
  for (const auto& c : cases) {
    const std::string xml = text_layer_xml({c.run});
    elf_object* matrix = lstBuildArgs(state, "a:d", 1.0, 0, "b:d", 0.0, 0, "c:d", 0.0, 0, "d:d", 1.0, 0, "e:d", 0.0, 0,
                                      "f:d", 0.0, 0, LST_END);
    int status = 0;
    const std::string markup =
        call(QELXML2XPSXML, nullptr,
             lstBuildArgs(state, "@qelxml:s", xml.c_str(), 0, "@width:i", 2550, 0, "@height:i", 3300, 0, "@xres:d",
                          300.0, 0, "@yres:d", 300.0, 0, "@matrix:", matrix, 0, LST_END),
             "xpsxml", &status);
    ASSERT_EQ(status, 0) << markup;
    xmlDocPtr doc = xmlReadMemory(markup.data(), static_cast<int>(markup.size()), nullptr, nullptr, XML_PARSE_NONET);
    ASSERT_NE(doc, nullptr) << markup;
    xmlNodePtr glyphs = xmlDocGetRootElement(doc)->children;
    while (glyphs && glyphs->type != XML_ELEMENT_NODE) glyphs = glyphs->next;
    ASSERT_NE(glyphs, nullptr) << markup;
    auto get = [&](const char* name) {
      xmlChar* v = xmlGetProp(glyphs, reinterpret_cast<const xmlChar*>(name));
      std::string text = v ? reinterpret_cast<char*>(v) : "";
      xmlFree(v);
      return text;
    };
    const double size = std::stod(get("FontRenderingEmSize")), origin = std::stod(get("OriginX"));
    double transform[6] = {1, 0, 0, 1, 0, 0};
    const std::string render = get("RenderTransform");
    EXPECT_EQ(!render.empty(), c.scaled) << markup;
    if (!render.empty()) {
      ASSERT_EQ(std::sscanf(render.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf", &transform[0], &transform[1], &transform[2],
                            &transform[3], &transform[4], &transform[5]),
                6)
          << render;
    }
    // Advances in hundredths of the em, one per character, each the sans face's width.
    const std::string indices = get("Indices");
    const FFont* sans = FFont_ForIndex(FFont_IndexForFamStyle(0, FFONT_CSET_LATIN1));
    double advance = 0;
    size_t n = 0;
    std::istringstream items(indices);
    for (std::string item; std::getline(items, item, ';'); ++n) advance += std::stod(item.substr(item.find(',') + 1)) / 100.0;
    size_t characters = 0;
    for (unsigned char b : get("UnicodeString")) characters += (b & 0xC0) != 0x80;
    EXPECT_EQ(n, characters) << markup;
    EXPECT_NEAR(std::stod(indices.substr(1)), FFont_ChrSzX(sans, static_cast<unsigned char>(c.run.str[0])) * 100.0,
                0.001)
        << markup;
    const double left = transform[0] * origin + transform[4];
    const double right = transform[0] * (origin + advance * size) + transform[4];
    EXPECT_NEAR(left, c.run.x0, 0.01) << markup;
    if (c.scaled) {
      EXPECT_NEAR(right, c.run.x0 + c.run.xw, 0.05) << markup;
    }
    EXPECT_EQ(transform[1], 0.0);
    EXPECT_EQ(transform[2], 0.0);
    EXPECT_EQ(transform[3], 1.0);
    xmlFreeDoc(doc);
  }
}

TEST_F(TextXmlTest, XpsMarkupPlacesEveryRun) {
  const std::string xml = text_layer_xml({{300, 400, 600, 60, 0, "{braces} & <more>"}, {300, 300, 900, 60, 4, "Łódź"}});
  elf_object* matrix = lstBuildArgs(state, "a:d", 1.0, 0, "b:d", 0.0, 0, "c:d", 0.0, 0, "d:d", 1.0, 0, "e:d", 0.0, 0,
                                    "f:d", 0.0, 0, LST_END);
  elf_object* args = lstBuildArgs(state, "@qelxml:s", xml.c_str(), 0, "@width:i", 2550, 0, "@height:i", 3300, 0,
                                  "@xres:d", 300.0, 0, "@yres:d", 300.0, 0, "@matrix:", matrix, 0, LST_END);
  elf_object* result = nullptr;
  ASSERT_EQ(QELXML2XPSXML(nullptr, args, &result), 0) << getStatusMessage(state);
  elfDiscard(args);
  const char* markup = nullptr;
  const char* font = nullptr;
  ASSERT_TRUE(lstScanArgs(result, "xpsxml:s", LST_REQUIRED, &markup, "font:s", LST_REQUIRED, &font, LST_END));
  EXPECT_STREQ(font, "DefaultFont.ttf");
  // The markup is well-formed XML whose Glyphs carry the runs' text.
  xmlDocPtr doc = xmlReadMemory(markup, static_cast<int>(std::strlen(markup)), nullptr, nullptr, XML_PARSE_NONET);
  ASSERT_NE(doc, nullptr) << markup;
  std::vector<std::string> texts;
  for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>("UnicodeString"));
    texts.push_back(reinterpret_cast<char*>(v));
    xmlFree(v);
  }
  xmlFreeDoc(doc);
  EXPECT_EQ(texts, (std::vector<std::string>{"{}{braces} & <more>", "Łódź"}));
  EXPECT_NE(std::string(markup).find("RenderTransform=\"0.32,0,0,0.32,0,0\""), std::string::npos) << markup;
  elfDiscard(result);

  int status = 0;
  EXPECT_EQ(call(QELXML2XPSXML, nullptr, lstBuildArgs(state, "@qelxml:s", "", 0, LST_END), "xpsxml", &status),
            "QELXML2XPSXML: Missing required argument \"qelxml\"\n");
}

}  // namespace
