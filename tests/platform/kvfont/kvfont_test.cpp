// The font table: indexes, character sets, metrics and ToUnicode maps.

#include <gtest/gtest.h>

#include <string>

#include "kvfont.h"
#include "kvng.h"

namespace {

TEST(FontTable, IndexesNameFacesInCharacterSets) {
  const struct {
    int32_t index;
    const char* name;
    int32_t set;
  } cases[] = {
      {0, "Helvetica", 0},          {3, "Helvetica-BoldOblique", 0}, {0x14, "Times-Roman", 1},
      {0x1B, "Courier-BoldOblique", 1}, {0x26, "Times-Italic", 2},
      {12, nullptr, -1},            {0x30, nullptr, -1},             {-1, nullptr, -1}, {255, nullptr, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FFont_IndexToISOCSet(c.index), c.set) << c.index;
    const char* name = FFont_PDFNameForIndex(c.index);
    EXPECT_EQ(name ? std::string(name) : "", c.name ? c.name : "") << c.index;
    EXPECT_EQ(FFont_ForIndex(c.index) != nullptr, c.name != nullptr);
  }
  EXPECT_EQ(FFont_IndexForFamStyle(7, FFONT_CSET_LATIN2), 0x27);
  EXPECT_EQ(FFont_IndexForFamStyle(40, FFONT_CSET_LATIN1), 0x10);  // unknown family: sans
  EXPECT_EQ(FFont_IndexForFamStyle(0, 5), -1);
  EXPECT_STREQ(FFont_FamilyName(FFont_ForIndex(0x19)), "Courier");
  EXPECT_EQ(FFont_Style(FFont_ForIndex(0x19)), FFONT_STYLE_BOLD);
}

TEST(FontTable, WidthsAreTheStandardFacesMetrics) {
  // Figures of the standard faces' published metrics, which the URW faces share.
  const struct {
    int32_t index;
    int32_t code;
    int width;
  } cases[] = {
      {0x10, 'A', 667}, {0x14, 'a', 444}, {0x11, 'W', 944}, {0x18, 'i', 600}, {0x1B, 0xE9, 600},
      {0x26, 0xA3, 556},  // Lslash in Latin-2, Times-Italic
      {0x10, 0x81, 0},    // undefined in WinAnsi
      {0x20, 0x90, 0},    // a control code in ISO 8859-2
      {0x10, 31, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(FFont_ChrSzX(FFont_ForIndex(c.index), c.code) * 1000.0 + 0.5), c.width)
        << c.index << " " << c.code;
  }
  EXPECT_DOUBLE_EQ(FFont_Ascent(FFont_ForIndex(0)), 0.718);
  EXPECT_DOUBLE_EQ(FFont_Descent(FFont_ForIndex(0x18)), -0.157);
}

TEST(FontTable, CharacterSetsMapToUnicodeBothWays) {
  const struct {
    int32_t set;
    int32_t code;
    uint32_t unicode;
  } cases[] = {
      {1, 0x80, 0x20AC}, {1, 0xE9, 0xE9}, {1, 0x9F, 0x178}, {2, 0xA3, 0x141}, {2, 0xFF, 0x2D9}, {0, 'q', 'q'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FFont_CodeToUnicode(c.set, c.code), c.unicode);
    EXPECT_EQ(FFont_UnicodeToCode(c.set, c.unicode), c.code);
  }
  EXPECT_EQ(FFont_UnicodeToCode(0, 0xE9), -1);
  EXPECT_EQ(FFont_CSetForUnicode(0xE9), 1);
  EXPECT_EQ(FFont_CSetForUnicode(0x141), 2);
  EXPECT_EQ(FFont_CSetForUnicode(0x4E00), -1);
}

TEST(FontTable, ToUnicodeMapsListEveryDefinedCode) {
  uint32_t* map = FFont_GetC2UForIndex(0x23);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map[0xB3], 0x142u);
  map[0x20] = 0x1F600;  // beyond the BMP: a surrogate pair
  char* cmap = FFont_GeneratePDFToUnicodeCharMap(map);
  ASSERT_NE(cmap, nullptr);
  const std::string text = cmap;
  EXPECT_NE(text.find("<B3> <0142>"), std::string::npos);
  EXPECT_NE(text.find("<20> <D83DDE00>"), std::string::npos);
  // 95 ASCII codes and 96 upper codes in blocks of at most 100.
  EXPECT_NE(text.find("100 beginbfchar"), std::string::npos);
  EXPECT_NE(text.find("91 beginbfchar"), std::string::npos);
  EXPECT_EQ(text.find("<80>"), std::string::npos);
  kvng_internal_free(cmap);
  kvng_internal_free(map);
  EXPECT_EQ(FFont_GetC2UForIndex(12), nullptr);
  EXPECT_EQ(FFont_GeneratePDFToUnicodeCharMap(nullptr), nullptr);
}

}  // namespace
