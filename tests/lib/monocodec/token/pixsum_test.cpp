// Pixel sums and the exemplar rule.

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tok_fixture.h"
#include "tok_pixsum.h"

namespace {

using monotest::RefBitmap;
using toktest::TokTest;

struct PixelSumTest : TokTest {
  std::vector<TokBox*> boxes;
  TokClass* cls = nullptr;

  // A class whose members are the given bitmaps, all at the frame origin unless told otherwise.
  void make_class(const std::vector<RefBitmap>& members, const std::vector<std::pair<int, int>>& at = {}) {
    for (size_t i = 0; i < members.size(); ++i) {
      TokBox* b = box(members[i]);
      boxes.push_back(b);
      if (i == 0) {
        ASSERT_EQ(tokCBoxToClass(b, &cls, tok), VLT_OK);
      } else {
        const auto [x, y] = i < at.size() ? at[i] : std::pair{0, 0};
        ASSERT_EQ(mergeBox(cls, b, x, y, tok), VLT_OK);
      }
    }
  }
  void TearDown() override {
    if (cls != nullptr) {
      for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) FreeBox(static_cast<TokBox*>(n->data), tok);
      ClassFree(cls, tok);
    }
    TokTest::TearDown();
  }
};

// One row: the cells of columns a..b black.
RefBitmap row(int width, std::initializer_list<std::pair<int, int>> runs) {
  RefBitmap bm(width, 1);
  for (auto [a, b] : runs)
    for (int x = a; x <= b; ++x) bm.set(x, 0, 1);
  return bm;
}

TEST_F(PixelSumTest, ExemplarKeptWithinATenthOfTheMedian) {
  init();
  // Members of 10, 12, 30 and 40 pixels (median 21) whose cells at two or more members number
  // 19, or 18 in the second case.
  for (int shared : {7, 6}) {
    const int own3 = 18 - shared, own4 = 28 - shared;
    make_class({row(10, {{0, 9}}), row(12, {{0, 11}}), row(12 + shared + own3, {{0, 11 + shared + own3}}),
                row(12 + shared + own3 + own4, {{0, 11 + shared}, {12 + shared + own3, 11 + shared + own3 + own4}})});
    ASSERT_EQ(MakeExemplarFromPixelSum(tok, cls, 0), VLT_OK);
    if (shared == 7) {
      ASSERT_NE(cls->exemplar, nullptr);
      EXPECT_EQ(cls->exemplar->pixelCount, 19u);
      EXPECT_EQ(cls->exemplar->width, 19u);
      FreeBox(cls->exemplar, tok);
    } else {
      EXPECT_EQ(cls->exemplar, nullptr) << "18 against 21 is too far";
      ASSERT_EQ(MakeExemplarFromPixelSum(tok, cls, 1), VLT_OK);
      ASSERT_NE(cls->exemplar, nullptr);
      EXPECT_EQ(cls->exemplar->pixelCount, 18u);
      FreeBox(cls->exemplar, tok);
    }
    cls->exemplar = boxes[0];
    for (VltAdtListNode* n = cls->members->first; n != nullptr; n = n->next) FreeBox(static_cast<TokBox*>(n->data), tok);
    ClassFree(cls, tok);
    cls = nullptr;
    boxes.clear();
  }
}

TEST_F(PixelSumTest, ThreeMembersKeepTheirFirstUnlessCommitted) {
  init();
  const RefBitmap g = toktest::rows_bitmap({"####", "#..#", "####"});
  make_class({g, g, g});
  ASSERT_EQ(tokCGenerateExemplar(tok, cls), VLT_OK);
  EXPECT_EQ(cls->exemplar, boxes[0]);
  EXPECT_FALSE(cls->flags & TOK_CLASS_OWNS_EXEMPLAR);
  ASSERT_EQ(commitClass(tok, &tok->table, cls, 1), VLT_OK);
  EXPECT_TRUE(cls->flags & TOK_CLASS_COMMITTED);
  ASSERT_TRUE(cls->flags & TOK_CLASS_OWNS_EXEMPLAR);
  EXPECT_EQ(toktest::model_bitmap(cls->exemplar->model, 1), g);
  for (TokBox* b : boxes) EXPECT_EQ(b->model, nullptr) << "committed members keep only their place";
}

TEST_F(PixelSumTest, CellsWidenAtTheTwoHundredFiftySixthMember) {
  init();
  const RefBitmap g = toktest::rows_bitmap({"##", "#."});
  make_class(std::vector<RefBitmap>(255, g));
  ASSERT_NE(cls->sum->histogram, nullptr);
  EXPECT_EQ(cls->sum->histogram->hdr.type, VLT_IMAGE_GRAY);
  EXPECT_EQ(tok_histCell(cls->sum->histogram, 1, 0), 255);
  TokBox* b = box(g);
  ASSERT_EQ(mergeBox(cls, b, 0, 0, tok), VLT_OK);
  EXPECT_EQ(cls->sum->histogram->hdr.type, VLT_IMAGE_SHORT);
  EXPECT_EQ(cls->sum->narrow, 0);
  EXPECT_EQ(tok_histCell(cls->sum->histogram, 1, 0), 256);
  EXPECT_EQ(tok_histCell(cls->sum->histogram, 2, 1), 0);
  EXPECT_EQ(tok_histCell(cls->sum->histogram, 1, 1), 256);
}

TEST_F(PixelSumTest, TheTenThousandthMemberSaturatesTheSum) {
  params.commitCount = 0;
  init();
  const RefBitmap g = toktest::rows_bitmap({"#"});
  make_class({g});
  for (int i = 1; i < 10000; ++i) {
    TokBox* b = box(g);
    ASSERT_EQ(mergeBox(cls, b, 0, 0, tok), VLT_OK) << i;
  }
  EXPECT_TRUE(cls->flags & TOK_CLASS_SATURATED);
  EXPECT_EQ(cls->sum->count, 10000);
  TokBox* late = box(toktest::rows_bitmap({"##"}));
  ASSERT_EQ(mergeBox(cls, late, 0, 0, tok), VLT_OK);
  EXPECT_EQ(cls->sum->count, 10000);
  EXPECT_EQ(tok_histCell(cls->sum->histogram, 2, 0), 0);
  EXPECT_EQ(cls->members->count, 10001u);
}

TEST_F(PixelSumTest, InkInTheMarginIsRefused) {
  init();
  TokModel m{3, 1, 1, nullptr, 1, 0};
  uint8_t bits[4] = {0x80, 0, 0, 0};
  m.bits = bits;
  TokPixelSum* sum = nullptr;
  EXPECT_EQ(ModelToSum(&m, tok, &sum), VLT_ERR_ASSERT);
  EXPECT_EQ(sum, nullptr);
}

// Sums built by inserts, merges and deletes against a count of every member's pixels.
TEST_F(PixelSumTest, SumsAgreeWithCountedPixels) {
  init();
  std::mt19937 rng(11);
  for (int trial = 0; trial < 12; ++trial) {
    // Sizes around the histogram start (10) and the 8-bit limit (256).
    const int na = 1 + int(rng() % (trial % 3 == 2 ? 200 : 12)), nb = 1 + int(rng() % (trial % 3 == 2 ? 120 : 12));
    std::vector<TokClass*> pair(2, nullptr);
    std::vector<std::vector<std::pair<TokBox*, RefBitmap>>> kept(2);
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < (c == 0 ? na : nb); ++i) {
        RefBitmap g = monotest::make_noise(1 + int(rng() % 9), 1 + int(rng() % 7), 0.6, rng());
        if (g.count() == 0) g.set(0, 0, 1);
        TokBox* b = box(g);
        kept[size_t(c)].push_back({b, g});
        if (i == 0)
          ASSERT_EQ(tokCBoxToClass(b, &pair[size_t(c)], tok), VLT_OK);
        else
          ASSERT_EQ(mergeBox(pair[size_t(c)], b, int(rng() % 7) - 3, int(rng() % 7) - 3, tok), VLT_OK);
      }
    const int mx = int(rng() % 9) - 4, my = int(rng() % 9) - 4;
    TokClass* a = pair[0];
    TokClass* b = pair[1];
    if (b->sum == nullptr) {
      ASSERT_EQ(mergeBox(a, static_cast<TokBox*>(b->members->first->data), mx, my, tok), VLT_OK);
    } else {
      if (a->sum == nullptr) {
        ASSERT_EQ(ModelToSum(a->exemplar->model, tok, &a->sum), VLT_OK);
      }
      ASSERT_EQ(MergePixelSumsWithOffset(a, b, mx, my, tok), VLT_OK);
      for (VltAdtListNode* n = b->members->first; n != nullptr; n = n->next) {
        auto* m = static_cast<TokBox*>(n->data);
        m->xOffset = int16_t(m->xOffset + mx);
        m->yOffset = int16_t(m->yOffset + my);
        ASSERT_EQ(VltAdt_liAdd(a->members, m, nullptr), VLT_OK);
      }
    }
    // Some members leave again.
    for (VltAdtListNode* n = a->members->first; n != nullptr;) {
      VltAdtListNode* next = n->next;
      auto* m = static_cast<TokBox*>(n->data);
      if (a->members->count > 1 && rng() % 4 == 0) {
        ASSERT_EQ(DeleteModel(a, m->model, m->xOffset, m->yOffset, tok), VLT_OK);
        ASSERT_EQ(VltAdt_liRem(n), VLT_OK);
        FreeBox(m, tok);
      }
      n = next;
    }
    std::map<std::pair<int, int>, int> want;
    for (VltAdtListNode* n = a->members->first; n != nullptr; n = n->next) {
      const auto* m = static_cast<TokBox*>(n->data);
      const RefBitmap g = toktest::model_bitmap(m->model, 0);
      for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
          if (g.get(x, y)) ++want[{x + m->xOffset, y + m->yOffset}];
    }
    ASSERT_EQ(a->sum->count, int(a->members->count)) << trial;
    if (a->sum->count >= tok->sumStart) {
      const VltImage* h = a->sum->histogram;
      ASSERT_NE(h, nullptr) << trial;
      EXPECT_EQ(a->sum->narrow, a->sum->count < 256 && h->hdr.type == VLT_IMAGE_GRAY ? 1 : a->sum->narrow);
      for (int y = h->hdr.yOffset; y < h->hdr.yOffset + h->hdr.height; ++y)
        for (int x = h->hdr.xOffset; x < h->hdr.xOffset + h->hdr.width; ++x) {
          auto it = want.find({x, y});
          ASSERT_EQ(tok_histCell(h, x, y), it == want.end() ? 0 : it->second) << trial << " at " << x << "," << y;
        }
    } else {
      EXPECT_EQ(a->sum->histogram, nullptr);
    }
    for (const auto& [p, v] : want) {
      EXPECT_GE(p.first, a->sum->xmin);
      EXPECT_LE(p.first, a->sum->xmax);
      EXPECT_GE(p.second, a->sum->ymin);
      EXPECT_LE(p.second, a->sum->ymax);
    }
    for (VltAdtListNode* n = a->members->first; n != nullptr; n = n->next) FreeBox(static_cast<TokBox*>(n->data), tok);
    if (b->sum == nullptr) b->members->first->data = nullptr;
    ClassFree(a, tok);
    ClassFree(b, tok);
  }
}

}  // namespace
