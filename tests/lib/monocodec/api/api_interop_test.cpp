// Pages encoded through the engine API and decoded by jbig2dec from the section's dictionary
// block and the page's block: lossless sections come back pixel for pixel, lossy ones within 1 %
// of their black pixels, under every profile.

#include <gtest/gtest.h>

#include "api_fixture.h"
#include "jbig2dec.h"
#include "pages.h"

namespace {

using apitest::Encoded;
using apitest::EncodeSetup;
using monotest::RefBitmap;

size_t differing(const RefBitmap& a, const RefBitmap& b) {
  size_t n = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) n += a.get(x, y) != b.get(x, y);
  return n;
}

// Encodes, checks the segment sequence and decodes every page; exact unless lossy.
void round_trip(const std::vector<RefBitmap>& pages, const EncodeSetup& setup, Encoded* kept = nullptr) {
  Encoded e;
  std::string what;
  ASSERT_EQ(apitest::encode(pages, setup, &e, &what), VLT_OK) << what;
  ASSERT_EQ(e.pages.size(), pages.size());
  EXPECT_EQ(apitest::check_segments(e), "");
  for (size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p));
    const auto decoded = monotest::jbig2dec_decode_embedded(e.dictionaries[e.sectionOf[p]], e.pages[p]);
    ASSERT_EQ(decoded.page.width, pages[p].width);
    ASSERT_EQ(decoded.page.height, pages[p].height);
    if (setup.lossless) {
      EXPECT_EQ(monotest::first_difference(pages[p], decoded.page), "") << decoded.messages;
    } else {
      EXPECT_LE(double(differing(pages[p], decoded.page)), 0.01 * double(pages[p].count())) << decoded.messages;
    }
  }
  if (kept != nullptr) *kept = std::move(e);
}

std::vector<RefBitmap> charts(const std::vector<int>& numbers) {
  std::vector<RefBitmap> out;
  for (int n : numbers) out.push_back(monotest::ccitt_chart(n));
  return out;
}

TEST(ApiInterop, OneChartLosslessEveryProfile) {
  const std::vector<RefBitmap> pages = charts({1});
  for (uint32_t profile : {1u, 2u, 3u}) {
    SCOPED_TRACE(profile);
    EncodeSetup s;
    s.profile = profile;
    round_trip(pages, s);
  }
}

}  // namespace
