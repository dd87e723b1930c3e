// Token classes and the class grid: joining, rejecting, merging, resumed classes, search order,
// filing, re-filing and the merge hook.

#include <gtest/gtest.h>

#include "tok_fixture.h"
#include "tok_pixsum.h"
#include "tok_table.h"

namespace {

using monotest::RefBitmap;
using toktest::TokTest;

const std::vector<std::string> kO = {".####.", "##..##", "##..##", "##..##", "##..##", ".####."};
const std::vector<std::string> kC = {".####.", "##..##", "##....", "##....", "##..##", ".####."};

struct ClassTest : TokTest {
  std::vector<TokClass*> loose;  // classes not filed in the grid, freed at the end

  TokClass* one(const std::vector<std::string>& rows) {
    TokClass* c = nullptr;
    EXPECT_EQ(tokCBoxToClass(box(rows), &c, tok), VLT_OK);
    loose.push_back(c);
    return c;
  }
  void TearDown() override {
    for (TokClass* c : loose) {
      if (c == nullptr) continue;
      for (VltAdtListNode* n = c->members->first; n != nullptr; n = n->next) FreeBox(static_cast<TokBox*>(n->data), tok);
      ClassFree(c, tok);
    }
    TokTest::TearDown();
  }
};

TEST_F(ClassTest, IdenticalBoxJoinsInPlace) {
  init();
  TokClass* c = one(kO);
  TokBox* b = box(kO);
  uint8_t merged = 0;
  ASSERT_EQ(tokCMaybeMergeBox(tok, &tok->table, c, b, &merged), VLT_OK);
  EXPECT_EQ(merged, 1);
  EXPECT_EQ(c->members->count, 2u);
  ASSERT_NE(c->sum, nullptr);
  EXPECT_EQ(c->sum->count, 2);
  EXPECT_EQ(b->xOffset, 0);
  EXPECT_EQ(b->yOffset, 0);
  TokBox* other = box(kC);
  ASSERT_EQ(tokCMaybeMergeBox(tok, &tok->table, c, other, &merged), VLT_OK);
  EXPECT_EQ(merged, 0);
  FreeBox(other, tok);
}

TEST_F(ClassTest, CommitCountDecidesWhenMembersGiveUpTheirBitmaps) {
  for (int commit : {0, 5}) {
    params.commitCount = commit;
    init();
    TokClass* c = one(kO);
    uint8_t merged = 0;
    for (int i = 0; i < 7; ++i) {
      TokBox* b = box(kO);
      ASSERT_EQ(tokCMaybeMergeBox(tok, &tok->table, c, b, &merged), VLT_OK);
      ASSERT_EQ(merged, 1);
    }
    if (commit == 0) {
      EXPECT_FALSE(c->flags & TOK_CLASS_COMMITTED);
    } else {
      EXPECT_TRUE(c->flags & TOK_CLASS_COMMITTED);
      EXPECT_TRUE(c->flags & TOK_CLASS_OWNS_EXEMPLAR);
      EXPECT_EQ(toktest::model_bitmap(c->exemplar->model, 1), toktest::rows_bitmap(kO));
      for (VltAdtListNode* n = c->members->first; n != nullptr; n = n->next)
        EXPECT_EQ(static_cast<TokBox*>(n->data)->model, nullptr);
    }
    for (VltAdtListNode* n = c->members->first; n != nullptr; n = n->next) FreeBox(static_cast<TokBox*>(n->data), tok);
    ClassFree(c, tok);
    loose.clear();
    tokFreeState(tok);
    tok = nullptr;
  }
}

TEST_F(ClassTest, RejectingTheOnlyMemberResetsTheClass) {
  init();
  TokClass* c = one(kO);
  TokBox* b = static_cast<TokBox*>(c->members->first->data);
  ASSERT_EQ(ModelToSum(b->model, tok, &c->sum), VLT_OK);
  b->xOffset = 1;
  uint8_t removed = 1;
  ASSERT_EQ(rejectMember(&tok->table, c, b, &removed, tok), VLT_OK);
  EXPECT_EQ(removed, 0);
  EXPECT_EQ(c->exemplar, b);
  EXPECT_EQ(c->sum, nullptr);
  EXPECT_EQ(b->xOffset, 0);
  EXPECT_EQ(c->members->count, 1u);
  EXPECT_TRUE(c->flags & TOK_CLASS_CHECKED);
}

TEST_F(ClassTest, FailingMembersFoundClassesOfTheirOwn) {
  init();
  TokClass* c = one(kO);
  TokBox* stray = box(kC);
  ASSERT_EQ(mergeBox(c, stray, 0, 0, tok), VLT_OK);
  c->flags &= ~TOK_CLASS_CHECKED;
  ASSERT_EQ(tokCCheckMembers(&tok->table, c, tok), VLT_OK);
  EXPECT_EQ(c->members->count, 1u);
  EXPECT_EQ(c->sum->count, 1);
  EXPECT_EQ(tok->table.count, 1u);
  const VltAdtList* cell = tok_cell(&tok->table, 6, 6);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(static_cast<TokClass*>(cell->first->data)->exemplar, stray);
}

TEST_F(ClassTest, MergingAClassWhoseSingleMemberMovedIsRefused) {
  init();
  TokClass* a = one(kO);
  TokClass* b = one(kO);
  static_cast<TokBox*>(b->members->first->data)->yOffset = 1;
  uint8_t merged = 1;
  EXPECT_EQ(mergeClasses(tok, &tok->table, a, b, 0, 0, &merged), VLT_ERR_ASSERT);
  EXPECT_EQ(merged, 0);
}

TEST_F(ClassTest, NeitherCommittedMergeKeepsEveryMemberPlaced) {
  init();
  TokClass* a = one(kO);
  TokClass* b = one(kO);
  ASSERT_EQ(mergeBox(b, box(kO), 1, 0, tok), VLT_OK);
  uint8_t merged = 0;
  ASSERT_EQ(mergeClasses(tok, &tok->table, a, b, 0, 2, &merged), VLT_OK);
  EXPECT_EQ(merged, 1);
  loose[1] = nullptr;
  ASSERT_EQ(a->members->count, 3u);
  const auto* last = static_cast<TokBox*>(a->members->last->data);
  EXPECT_EQ(last->xOffset, 1);
  EXPECT_EQ(last->yOffset, 2);
  EXPECT_EQ(a->sum->count, 3);
}

// A record of one class with the given exemplar, as output hands it out.
TokOutput* record(TokTest& t, const std::vector<std::string>& rows, void* ref) {
  TokBitmap b = t.bitmap(rows);
  auto* r = static_cast<TokOutput*>(t.engine->malloc(sizeof(TokOutput)));
  *r = TokOutput{b, 1, 0, nullptr, nullptr, ref};
  EXPECT_EQ(VltAdt_liNew(&r->members, t.engine), VLT_OK);
  return r;
}

TEST_F(ClassTest, ResumedClassesNeverMergeAndHandOverWhenAbsorbed) {
  init();
  VltAdtList* records = nullptr;
  ASSERT_EQ(VltAdt_liNew(&records, engine), VLT_OK);
  int refA = 0, refB = 0;
  ASSERT_EQ(VltAdt_liAdd(records, record(*this, kO, &refA), nullptr), VLT_OK);
  ASSERT_EQ(VltAdt_liAdd(records, record(*this, kO, &refB), nullptr), VLT_OK);
  ASSERT_EQ(tokResume(tok, records), VLT_OK);
  const VltAdtList* cell = tok_cell(&tok->table, 6, 6);
  ASSERT_NE(cell, nullptr);
  ASSERT_EQ(cell->count, 2u);
  TokClass* ra = static_cast<TokClass*>(cell->first->data);
  TokClass* rb = static_cast<TokClass*>(cell->last->data);
  EXPECT_EQ(ra->flags, 0x3Fu) << "committed, frozen (no samples), owned and current, checked, resumed";
  uint8_t merged = 1;
  ASSERT_EQ(tokCMaybeMergeClasses(tok, &tok->table, ra, rb, &merged), VLT_OK);
  EXPECT_EQ(merged, 0);

  // A committed class absorbing a resumed one takes its exemplar, flags and reference.
  params.commitCount = 2;
  TokState* other = nullptr;
  ASSERT_EQ(tokInit(&params, &other), VLT_OK);
  std::swap(tok, other);
  TokClass* c = one(kO);
  ASSERT_EQ(tokCMaybeMergeBox(tok, &tok->table, c, box(kO), &merged), VLT_OK);
  ASSERT_TRUE(c->flags & TOK_CLASS_COMMITTED);
  std::swap(tok, other);
  TokBox* exemplar = rb->exemplar;
  ASSERT_EQ(VltAdt_liRem(cell->last), VLT_OK);
  --tok->table.count;
  ASSERT_EQ(mergeClasses(tok, &tok->table, c, rb, 0, 0, &merged), VLT_OK);
  EXPECT_EQ(merged, 1);
  EXPECT_EQ(c->exemplar, exemplar);
  EXPECT_EQ(c->outputRef, &refB);
  EXPECT_TRUE(c->flags & TOK_CLASS_RESUMED);
  EXPECT_EQ(c->members->count, 2u);
  tokFreeState(other);
}

TEST(SearchOrder, Vectors) {
  struct Case {
    int32_t a, b;
    std::vector<std::pair<int, int>> want;
  };
  const Case cases[] = {
      {1, 1, {{0, 0}, {-1, 0}, {0, -1}, {-1, -1}, {1, -1}}},
      {0, 0, {{0, 0}}},
      {2, 1, {{0, 0}, {-1, 0}, {0, -1}, {-2, 0}, {-1, -1}, {1, -1}, {-2, -1}, {2, -1}}},
      {0, 2, {{0, 0}, {0, -1}, {0, -2}}},
  };
  monotest::CountingAllocator alloc;
  alloc.make_current();
  VltMemFuncs mem{monotest::CountingAllocator::g_malloc, monotest::CountingAllocator::g_free,
                  monotest::CountingAllocator::g_calloc, monotest::CountingAllocator::g_realloc};
  VltState* engine = nullptr;
  ASSERT_EQ(Vlt_initVltState(&engine, &mem, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  TokState state{};
  state.engine = engine;
  for (const Case& c : cases) {
    int32_t n = 0;
    TokOrderPair* pairs = nullptr;
    ASSERT_EQ(tokCTCalcOrder(c.a, c.b, &n, &pairs, &state), VLT_OK);
    ASSERT_EQ(n, int32_t(c.want.size())) << c.a << "," << c.b;
    for (int32_t i = 0; i < n; ++i) {
      EXPECT_EQ(pairs[i].dw, c.want[size_t(i)].first) << c.a << "," << c.b << " #" << i;
      EXPECT_EQ(pairs[i].dh, c.want[size_t(i)].second) << c.a << "," << c.b << " #" << i;
    }
    engine->free(pairs);
  }
  // Half of the rectangle plus its centre, by growing distance.
  int32_t n = 0;
  TokOrderPair* pairs = nullptr;
  ASSERT_EQ(tokCTCalcOrder(3, 2, &n, &pairs, &state), VLT_OK);
  EXPECT_EQ(n, 18);
  for (int32_t i = 1; i < n; ++i) {
    EXPECT_TRUE(pairs[i].dh < 0 || (pairs[i].dh == 0 && pairs[i].dw < 0));
    EXPECT_LE(std::abs(pairs[i - 1].dw) + std::abs(pairs[i - 1].dh), std::abs(pairs[i].dw) + std::abs(pairs[i].dh));
  }
  engine->free(pairs);
  EXPECT_EQ(tokCTCalcOrder(-1, 1, &n, &pairs, &state), VLT_ERR_PARAM);
  Vlt_cleanupVltState(&engine);
  EXPECT_EQ(alloc.live_blocks(), 0u);
}

TEST_F(ClassTest, ClassesMoveToTheCellOfTheirNewExemplar) {
  init();
  TokClass* c = one(kO);
  loose.clear();
  ASSERT_EQ(tokCTAddToTable(&tok->table, c, tok), VLT_OK);
  ASSERT_EQ(regularise(&tok->table, 0, tok), VLT_OK);
  ASSERT_EQ(regularise(&tok->table, 0, tok), VLT_OK);
  EXPECT_TRUE(c->flags & TOK_CLASS_UNCHANGED) << "scanned twice without moving";
  // A wider exemplar, as a regenerated one might be.
  TokBox* wide = box({".#####.", "##...##", "##...##", "##...##", "##...##", ".#####."});
  TokBox* old = c->exemplar;
  ASSERT_EQ(tokCSetExemplar(tok, c, wide, 0, 0, 1), VLT_OK);
  c->flags |= TOK_CLASS_UNCHANGED;
  ASSERT_EQ(regularise(&tok->table, 0, tok), VLT_OK);
  EXPECT_FALSE(c->flags & TOK_CLASS_UNCHANGED);
  EXPECT_EQ(tok_cell(&tok->table, 6, 6)->count, 0u);
  ASSERT_NE(tok_cell(&tok->table, 6, 7), nullptr);
  EXPECT_EQ(tok_cell(&tok->table, 6, 7)->first->data, c);
  EXPECT_EQ(tok->table.count, 1u);
  (void)old;
}

VltStatus count_hook(TokClassTable* table, TokState*, void* data) {
  *static_cast<uint32_t*>(data) = table->count;
  return 77;
}

TEST_F(ClassTest, MergeHookReplacesTheLastPasses) {
  uint32_t seen = 0;
  params.mergeHook = count_hook;
  params.mergeHookData = &seen;
  init();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(add(kO), VLT_OK);
  ASSERT_EQ(add(kC), VLT_OK);
  EXPECT_EQ(tokMerge(tok), 77);
  EXPECT_EQ(seen, 2u);
  for (int32_t r = 0; r < tok->table.rowCount; ++r)
    for (int32_t c = 0; c < tok->table.rows[r].columns; ++c)
      if (VltAdtList* l = tok->table.rows[r].cells[c]) {
        for (VltAdtListNode* n = l->first; n != nullptr; n = n->next) {
          EXPECT_EQ(static_cast<TokClass*>(n->data)->flags & (8u | 16u | 64u | 128u), 0u);
        }
      }
}

}  // namespace
