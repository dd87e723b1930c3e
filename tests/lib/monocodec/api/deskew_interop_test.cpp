// Skewed pages straightened through the engine handle and decoded by jbig2dec: the measured
// angle is the page's, long rules come back level, small marks move with the tokens, and the page
// lies closer to the page before it was turned than the same coding without straightening does.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "api_fixture.h"
#include "jbig2dec.h"

namespace {

using apitest::Encoded;
using apitest::EncodeSetup;
using monotest::RefBitmap;

size_t difference(const RefBitmap& a, const RefBitmap& b) {
  size_t d = 0;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) d += a.get(x, y) != b.get(x, y);
  return d;
}

// Rows holding ink in the columns of a rule (those of its dot left out), near where the rule was
// drawn (the turn moves it by up to 16 rows).
int rule_rows(const RefBitmap& page, int left, int top) {
  int first = -1, last = -1;
  for (int y = top - 30; y < top + 35; ++y)
    for (int x = left + 10; x < left + 240; ++x)
      if ((x < left + 110 || x >= left + 135) && page.get(x, y)) {
        if (first < 0) first = y;
        last = y;
        break;
      }
  return first < 0 ? 0 : last - first + 1;
}

// Ink within two pixels of a dot drawn at (x, y).
bool dot_near(const RefBitmap& page, int x, int y) {
  for (int v = y - 2; v < y + 5; ++v)
    for (int u = x - 2; u < x + 5; ++u)
      if (page.get(u, v)) return true;
  return false;
}

std::vector<RefBitmap> decode(const Encoded& e, bool partial) {
  std::vector<RefBitmap> out;
  for (size_t p = 0; p < e.pages.size(); ++p) {
    jb2test::Bytes globals;
    for (size_t k = partial ? 0 : e.sectionOf[p]; k <= e.sectionOf[p]; ++k)
      globals.insert(globals.end(), e.dictionaries[k].begin(), e.dictionaries[k].end());
    const auto decoded = monotest::jbig2dec_decode_embedded(globals, e.pages[p]);
    EXPECT_EQ(decoded.messages, "");
    out.push_back(decoded.page);
  }
  return out;
}

TEST(VltApiDeskewInterop, SkewedPagesComeBackStraight) {
  // The second page holds one rule only: after a partial end its class comes from the first
  // section, with a single instance here.
  RefBitmap lone = apitest::ruled_text_page(11);
  for (int y = 760; y < 900; ++y)
    for (int x = 1200; x < 2550; ++x) lone.set(x, y, 0);
  for (int y = 860; y < 900; ++y)
    for (int x = 0; x < 1200; ++x) lone.set(x, y, 0);
  const std::vector<RefBitmap> straight = {apitest::ruled_text_page(3), lone, apitest::ruled_text_page(8)};
  const double degrees[] = {0.8, 0.8, -0.6};
  std::vector<RefBitmap> pages;
  for (size_t i = 0; i < straight.size(); ++i) pages.push_back(monotest::turned(straight[i], degrees[i] * M_PI / 180));
  const struct {
    uint32_t profile;
    size_t pagesPerSection;
    int32_t endMode;
  } setups[] = {{2, 0, 0}, {3, 0, 0}, {2, 1, 0}, {2, 1, 1}};
  for (const auto& s : setups) {
    SCOPED_TRACE("profile " + std::to_string(s.profile) + ", " + std::to_string(s.pagesPerSection) +
                 " pages per section, end mode " + std::to_string(s.endMode));
    EncodeSetup setup;
    setup.profile = s.profile;
    setup.lossless = false;
    setup.pagesPerSection = s.pagesPerSection;
    setup.endMode = s.endMode;
    // After two partial ends jbig2dec misreads the text region's header (see the README): two
    // pages then.
    const std::vector<RefBitmap> coded(pages.begin(), pages.begin() + (s.endMode == 1 ? 2 : 3));
    Encoded off, on;
    std::string what;
    ASSERT_EQ(apitest::encode(coded, setup, &off, &what), VLT_OK) << what;
    setup.deskew = true;
    ASSERT_EQ(apitest::encode(coded, setup, &on, &what), VLT_OK) << what;
    EXPECT_EQ(apitest::check_segments(on), "");
    const std::vector<RefBitmap> plain = decode(off, s.endMode == 1), level = decode(on, s.endMode == 1);
    ASSERT_EQ(level.size(), coded.size());
    for (size_t p = 0; p < coded.size(); ++p) {
      SCOPED_TRACE("page " + std::to_string(p));
      ASSERT_EQ(level[p].width, pages[p].width);
      ASSERT_EQ(level[p].height, pages[p].height);
      // The detector reads the turn with the opposite sign.
      EXPECT_NEAR(-on.angles[p] * 180 / M_PI, degrees[p], 0.1);
      for (const int top : {780, 880})
        for (const int left : {150, 1300}) {
          if (p == 1 && (top != 780 || left != 150)) continue;
          EXPECT_GE(rule_rows(plain[p], left, top), 8) << "turned rule at " << left << "," << top;
          EXPECT_LE(rule_rows(level[p], left, top), 6) << "straightened rule at " << left << "," << top;
          // The dot is kept exactly, beside the tokens: it moves with them.
          EXPECT_TRUE(dot_near(level[p], left + 120, top - 20)) << "dot above " << left << "," << top;
          if (left == 150) {
            EXPECT_FALSE(dot_near(plain[p], left + 120, top - 20)) << "turned dot above " << top;
          }
        }
      EXPECT_LT(difference(level[p], straight[p]) * 2, difference(plain[p], straight[p]));
    }
  }
}

}  // namespace
