// Dilation, erosion and the hit-or-miss transform beside Leptonica's pixDilate, pixErode and
// pixHMT, compared away from the image border where the two treat outside pixels differently
// (host only: Leptonica is a reference, never part of the libraries).

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <random>

#include "pixr_fixture.h"
#include "pixr_morph.h"
#include "strel.h"

namespace {

using monotest::RefBitmap;
using pixrtest::WrapperTest;

PIX* to_pix(const RefBitmap& bm) {
  PIX* pix = pixCreate(bm.width, bm.height, 1);
  l_uint32* data = pixGetData(pix);
  const int wpl = pixGetWpl(pix);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      if (bm.get(x, y)) SET_DATA_BIT(data + y * wpl, x);
  return pix;
}

int pix_get(PIX* pix, int x, int y) { return GET_DATA_BIT(pixGetData(pix) + y * pixGetWpl(pix), x); }

using MorphLeptonica = WrapperTest;

TEST_F(MorphLeptonica, InteriorsAgree) {
  std::mt19937 rng(40);
  const RefBitmap page = monotest::make_text_blobs(400, 260, 6);
  PIX* pix = to_pix(page);
  PIXR* src = from_ref(page);
  for (int round = 0; round < 24; ++round) {
    const int w = 1 + int(rng() % 7), h = 1 + int(rng() % 7);
    const int cx = int(rng() % unsigned(w)), cy = int(rng() % unsigned(h));
    const bool hitMiss = round % 3 == 2;
    SEL* sel = selCreate(h, w, nullptr);
    selSetOrigin(sel, cy, cx);
    strel* e = nullptr;
    ASSERT_EQ(w_createStrel(s, w, h, &e), VLT_OK);
    ASSERT_EQ(w_strelSetCenter(s, cx, cy, e), VLT_OK);
    bool anyHit = false;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int v = int(rng() % (hitMiss ? 3u : 2u));
        if (!anyHit && y == h - 1 && x == w - 1) v = 1;  // at least one hit
        anyHit = anyHit || v == 1;
        selSetElement(sel, y, x, v == 1 ? SEL_HIT : v == 2 ? SEL_MISS : SEL_DONT_CARE);
        ASSERT_EQ(w_strelSetPoint(s, x, y, v, e), VLT_OK);
      }
    for (const int op : {0, 1, 2}) {  // dilate, erode, hit-or-miss
      if ((op == 2) != hitMiss) continue;
      PIX* ref = op == 0 ? pixDilate(nullptr, pix, sel) : op == 1 ? pixErode(nullptr, pix, sel) : pixHMT(nullptr, pix, sel);
      ASSERT_NE(ref, nullptr);
      PIXR* out = nullptr;
      ASSERT_EQ((op == 0 ? w_dilate : w_erode)(s, src, e, &out), VLT_OK);
      const RefBitmap got = to_ref(out);
      const int margin = 8;
      long differ = 0;
      for (int y = margin; y < page.height - margin; ++y)
        for (int x = margin; x < page.width - margin; ++x) differ += got.get(x, y) != pix_get(ref, x, y);
      EXPECT_EQ(differ, 0) << "op " << op << " element " << w << "x" << h << " centre " << cx << "," << cy;
      pixDestroy(&ref);
      destroy(out);
    }
    selDestroy(&sel);
    ASSERT_EQ(w_destroyStrel(s, &e), VLT_OK);
  }
  destroy(src);
  pixDestroy(&pix);
}

}  // namespace
