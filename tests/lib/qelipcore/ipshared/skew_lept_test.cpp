// Skew detection beside Leptonica's pixFindSkew on real and synthetic pages sheared by known
// slopes (host only: Leptonica is a reference, never part of the libraries).

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <cmath>
#include <vector>

#include "framed_image.h"
#include "i_skew.h"
#include "ip_test_state.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "sanitizer_size.h"

namespace {

using iptest::TestState;

// The page with its lines falling by slope / 1024 line per pixel, framed for the core and as
// a Leptonica image.
struct Sheared {
  iptest::Framed framed;
  PIX* pix;
  Sheared(const monotest::RefBitmap& flat, int slope) : framed(flat.width, flat.height, 1) {
    pix = pixCreate(flat.width, flat.height, 1);
    l_uint32* data = pixGetData(pix);
    const int wpl = pixGetWpl(pix);
    for (int y = 0; y < flat.height; ++y)
      for (int x = 0; x < flat.width; ++x) {
        const long sy = y - std::lround(x * slope / 1024.0);
        if (sy >= 0 && sy < flat.height && flat.get(x, int(sy))) {
          framed.set(x, y, 1);
          SET_DATA_BIT(data + y * wpl, x);
        }
      }
  }
  ~Sheared() { pixDestroy(&pix); }
};

void compare(IPState* state, const monotest::RefBitmap& flat, int slope, int32_t lineStep) {
  const Sheared page(flat, slope);
  double radians = 0;
  int32_t confidence = 0;
  ASSERT_EQ(i_detectSkew(state, page.framed.data(), page.framed.fw(), page.framed.fh(),
                         int32_t(page.framed.bpl), lineStep, &radians, &confidence, 300, 300),
            VLT_OK);
  l_float32 leptDegrees = 0, leptConfidence = 0;
  ASSERT_EQ(pixFindSkew(page.pix, &leptDegrees, &leptConfidence), 0);
  const double truth = -std::atan(slope / 1024.0) * 180 / M_PI;
  const double ours = radians * 180 / M_PI;
  // Ours to within a slope step of 1/1024 (0.056 degrees), Leptonica's (in the same sense) to
  // within its own search resolution.
  EXPECT_NEAR(ours, truth, 0.07) << "slope " << slope;
  EXPECT_GE(confidence, 30) << "slope " << slope;
  ASSERT_GE(leptConfidence, 3.0) << "slope " << slope;
  EXPECT_NEAR(ours, leptDegrees, 0.12) << "slope " << slope << ", Leptonica " << leptDegrees;
}

TEST(SkewBesideLeptonica, DocumentPage) {
  setLeptDebugOK(0);
  TestState ts;
  const monotest::RefBitmap page = monotest::doc_page(3);
  const std::vector<int> slopes =
      monotest::kSanitized ? std::vector<int>{-17, 9} : std::vector<int>{-30, -17, -4, 0, 9, 22, 30};
  for (int slope : slopes) compare(ts.state, page, slope, 1);
}

TEST(SkewBesideLeptonica, SyntheticPage) {
  setLeptDebugOK(0);
  TestState ts;
  const monotest::RefBitmap page = monotest::make_text_blobs(2000, 1400, 77);
  for (int slope : {-26, -11, 3, 14, 28}) compare(ts.state, page, slope, 2);
}

}  // namespace
