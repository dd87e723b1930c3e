// The lossless tokenizer: buckets, derived sizes, the last-token cache and the size cells, hand-out
// order, partial hand-out and resumption, copy mode, the token block glue, and every allocation
// failing in turn.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "tok_ccglue.h"
#include "tok_fixture.h"
#include "tok_lltok.h"

namespace {

using Runs = std::vector<std::pair<int, int>>;

struct LlTokTest : toktest::TokTest {
  VltLlTokState* ll = nullptr;

  void TearDown() override {
    if (ll != nullptr) VltLlTokAbort(ll);
    toktest::TokTest::TearDown();
  }
  void init(uint32_t flags = 0) {
    VltLlTokOptions o;
    VltLlTokSetDefaults(&o);
    o.engine = engine;
    o.flags = flags;
    ASSERT_EQ(VltLlTokInit(&ll, &o), VLT_OK);
  }
  // A key over a fresh engine array; width and height derived unless given.
  VltLlTokKey key(const Runs& runs, uint32_t occurrence, int w = -1, int h = -1) {
    auto* a = static_cast<uint16_t*>(engine->malloc(runs.size() * 4));
    for (size_t i = 0; a != nullptr && i < runs.size(); ++i) {
      a[2 * i] = uint16_t(runs[i].first);
      a[2 * i + 1] = uint16_t(runs[i].second);
    }
    return VltLlTokKey{a, int32_t(runs.size()), int16_t(w), int16_t(h), occurrence};
  }
  // Adds runs as component `occurrence`; the caller's array is freed when the tokenizer left it.
  VltStatus add(const Runs& runs, uint32_t occurrence, uint32_t next, uint32_t* index, int w = -1, int h = -1) {
    VltLlTokKey k = key(runs, occurrence, w, h);
    if (k.runs == nullptr) return VLT_ERR_NOMEM;
    const VltStatus st = VltLlAddToken(ll, &k, next, index);
    engine->free(k.runs);
    return st;
  }
  // Adds in order, numbering new tokens densely; the token index of each.
  std::vector<uint32_t> add_all(const std::vector<Runs>& comps, uint32_t* next) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < comps.size(); ++i) {
      uint32_t index = 0;
      EXPECT_EQ(add(comps[i], uint32_t(i), *next, &index), VLT_OK);
      if (index == *next) ++*next;
      out.push_back(index);
    }
    return out;
  }
};

std::vector<uint32_t> occurrences(const VltLlToken* t) {
  std::vector<uint32_t> out;
  for (VltAdtListNode* n = t->occurrences->first; n != nullptr; n = n->next)
    out.push_back(uint32_t(reinterpret_cast<uintptr_t>(n->data)));
  return out;
}

std::vector<VltLlToken*> tokens(VltAdtList* list) {
  std::vector<VltLlToken*> out;
  for (VltAdtListNode* n = list->first; n != nullptr; n = n->next) out.push_back(static_cast<VltLlToken*>(n->data));
  return out;
}

TEST(LlTokHash, BucketsFromPixelsRunsAndFirstOffset) {
  struct Case {
    Runs runs;
    uint32_t bucket;
  };
  Runs sixteen(16, {0, 1}), fifteen(15, {0, 1});
  const Case cases[] = {
      {{{0, 3}}, (3 * 256 + 1) % 379},
      {{{5, 1}}, (256 + 5 * 16 + 1) % 379},
      {{{15, 2}, {0, 2}}, (4 * 256 + 15 * 16 + 2) % 379},
      {{{16, 1}}, (256 + 1) % 379},         // a first run at 16 or beyond drops the offset
      {fifteen, (15 * 256 + 15) % 379},
      {sixteen, (16 * 256) % 379},           // 16 runs or more drop the count
      {{{0, 255}}, (255 * 256 + 1) % 379},
      {{{0, 200}, {0, 56}}, 0},              // more than 255 pixels all share bucket 0
  };
  for (const Case& c : cases) {
    std::vector<uint16_t> a;
    for (auto [x, n] : c.runs) a.insert(a.end(), {uint16_t(x), uint16_t(n)});
    VltLlToken t{a.data(), int32_t(c.runs.size()), 0, 0, 0, nullptr, 0};
    EXPECT_EQ(lltok::hash(nullptr, &t), c.bucket) << c.runs.size() << " runs";
  }
}

TEST_F(LlTokTest, SizesAreDerivedFromTheRuns) {
  init();
  struct Case {
    Runs runs;
    int width, height;
  };
  const Case cases[] = {
      {{{0, 3}, {1, 2}}, 3, 2},          // starts before the first run's end: next line
      {{{0, 2}, {2, 1}}, 3, 2},          // starts exactly at the end: next line
      {{{0, 2}, {3, 1}}, 4, 1},          // a gap: same line
      {{{1, 1}, {0, 0}, {0, 3}}, 3, 1},  // a marker back to line 0
      {{{0, 1}, {3, 0}, {2, 1}}, 3, 4},  // a marker to line 3
  };
  uint32_t next = 0;
  for (const Case& c : cases) {
    VltLlTokKey k = key(c.runs, next);
    uint32_t index = 0;
    ASSERT_EQ(VltLlAddToken(ll, &k, next, &index), VLT_OK);
    EXPECT_EQ(k.runs, nullptr) << "a new token keeps the caller's array";
    EXPECT_EQ(k.width, c.width);
    EXPECT_EQ(k.height, c.height);
    if (index == next) ++next;
  }
}

// The cache compares runs only; the store compares runs within one size cell.
TEST_F(LlTokTest, CacheAndSizeCellsDecideMatches) {
  init();
  const Runs a = {{0, 3}, {1, 1}}, b = {{0, 2}, {0, 2}};
  uint32_t next = 0, i = 99;
  ASSERT_EQ(add(a, 10, next, &i), VLT_OK);  // token 0
  EXPECT_EQ(i, 0u);
  ++next;
  ASSERT_EQ(add(a, 11, next, &i), VLT_OK);  // the cache
  EXPECT_EQ(i, 0u);
  ASSERT_EQ(add(a, 12, next, &i, 7, 2), VLT_OK);  // the cache, though the box differs
  EXPECT_EQ(i, 0u);
  ASSERT_EQ(add(b, 13, next, &i), VLT_OK);  // token 1
  EXPECT_EQ(i, 1u);
  ++next;
  ASSERT_EQ(add(a, 14, next, &i), VLT_OK);  // the store, through its size cell
  EXPECT_EQ(i, 0u);
  ASSERT_EQ(add(b, 15, next, &i), VLT_OK);
  ASSERT_EQ(add(a, 16, next, &i, 7, 2), VLT_OK);  // another cell: a token of its own
  EXPECT_EQ(i, 2u);
  EXPECT_EQ(ll->distinct, 3);
  EXPECT_EQ(VltLlTokMemUsage(ll), 3u * (28 + 4 * 2));

  VltAdtList* out = nullptr;
  ASSERT_EQ(VltLlTokFinal(ll, &out), VLT_OK);
  ll = nullptr;
  const auto t = tokens(out);
  ASSERT_EQ(t.size(), 3u);
  // Height 2 for all; widths 3, 2... in width order: b (2), a (3), a' (7).
  EXPECT_EQ(t[0]->index, 1u);
  EXPECT_EQ(occurrences(t[0]), (std::vector<uint32_t>{13, 15}));
  EXPECT_EQ(t[1]->index, 0u);
  EXPECT_EQ(t[1]->refs, 4);
  EXPECT_EQ(occurrences(t[1]), (std::vector<uint32_t>{10, 11, 12, 14}));
  EXPECT_EQ(t[2]->width, 7);
  EXPECT_EQ(occurrences(t[2]), (std::vector<uint32_t>{16}));
  EXPECT_EQ(VltLlTokFreeOutput(out, engine), VLT_OK);
}

// Components of more than 255 pixels share bucket 0 and are told apart by their runs alone.
TEST_F(LlTokTest, LargeComponentsShareBucketZero) {
  init();
  const Runs big1 = {{0, 200}, {0, 200}}, big2 = {{0, 200}, {1, 199}}, small = {{0, 1}};
  uint32_t next = 0;
  const auto idx = add_all({big1, big2, small, big2, small, big1}, &next);
  EXPECT_EQ(idx, (std::vector<uint32_t>{0, 1, 2, 1, 2, 0}));
  VltAdtList* out = nullptr;
  ASSERT_EQ(VltLlTokPartial(ll, &out), VLT_OK);
  // Height 1 first, then the two of 200 x 2 in filing order within bucket 0.
  const auto t = tokens(out);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0]->index, 2u);
  EXPECT_EQ(t[1]->index, 0u);
  EXPECT_EQ(t[2]->index, 1u);
  EXPECT_EQ(VltLlTokFreeOutput(out, engine), VLT_OK);
}

TEST_F(LlTokTest, HandOutOrdersByHeightWidthAndBucket) {
  init();
  std::mt19937 rng(3);
  std::vector<Runs> comps;
  for (int i = 0; i < 300; ++i) {
    Runs r;
    const int lines = 1 + int(rng() % 6);
    for (int l = 0; l < lines; ++l) r.push_back({int(rng() % 3), 1 + int(rng() % 4)});
    comps.push_back(r);
  }
  uint32_t next = 0;
  add_all(comps, &next);
  VltAdtList* out = nullptr;
  ASSERT_EQ(VltLlTokPartial(ll, &out), VLT_OK);
  const auto t = tokens(out);
  ASSERT_EQ(t.size(), next);
  for (size_t i = 1; i < t.size(); ++i) {
    const auto key = [](const VltLlToken* k) { return std::tuple(k->height, k->width, lltok::hash(nullptr, const_cast<VltLlToken*>(k))); };
    EXPECT_LE(key(t[i - 1]), key(t[i])) << i;
  }
  EXPECT_EQ(VltLlTokFreeOutput(out, engine), VLT_OK);
}

// After a partial hand-out nothing matches until the tokens are resumed; resumed tokens keep
// their index, refs and occurrences.
TEST_F(LlTokTest, PartialHandOutAndResumption) {
  init();
  const Runs a = {{0, 2}}, b = {{0, 1}, {0, 1}};
  uint32_t next = 0;
  add_all({a, b, a}, &next);
  VltAdtList* out = nullptr;
  ASSERT_EQ(VltLlTokPartial(ll, &out), VLT_OK);
  ASSERT_EQ(out->count, 2u);
  VltAdtList* empty = nullptr;
  ASSERT_EQ(VltLlTokPartial(ll, &empty), VLT_OK);
  EXPECT_EQ(empty->count, 0u);
  ASSERT_EQ(VltLlTokResume(ll, empty), VLT_OK);

  uint32_t i = 0;
  ASSERT_EQ(add(a, 7, next, &i), VLT_OK);
  EXPECT_EQ(i, next) << "a handed-out token is not matched";
  VltAdtList* second = nullptr;
  ASSERT_EQ(VltLlTokPartial(ll, &second), VLT_OK);
  ASSERT_EQ(VltLlTokFreeOutput(second, engine), VLT_OK);

  ASSERT_EQ(VltLlTokResume(ll, out), VLT_OK);
  ASSERT_EQ(add(a, 8, 5, &i), VLT_OK);
  EXPECT_EQ(i, 0u);
  ASSERT_EQ(add(b, 9, 5, &i), VLT_OK);
  EXPECT_EQ(i, 1u);
  ASSERT_EQ(VltLlTokFinal(ll, &out), VLT_OK);
  ll = nullptr;
  const auto t = tokens(out);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(occurrences(t[0]), (std::vector<uint32_t>{0, 2, 8}));
  EXPECT_EQ(t[0]->refs, 3);
  EXPECT_EQ(occurrences(t[1]), (std::vector<uint32_t>{1, 9}));
  EXPECT_EQ(VltLlTokFreeOutput(out, engine), VLT_OK);
}

// A resumed token equal to a stored one stops the resumption; the list keeps what was not filed.
TEST_F(LlTokTest, ResumingADuplicateIsRefused) {
  init();
  uint32_t next = 0;
  add_all({{{0, 3}}, {{0, 4}}}, &next);
  VltAdtList* out = nullptr;
  ASSERT_EQ(VltLlTokPartial(ll, &out), VLT_OK);
  add_all({{{0, 4}}}, &next);
  EXPECT_EQ(VltLlTokResume(ll, out), VLT_ERR_ASSERT);
  ASSERT_EQ(out->count, 1u) << "the first token was filed, the duplicate stays";
  EXPECT_EQ(static_cast<VltLlToken*>(out->first->data)->width, 4);
  EXPECT_EQ(VltLlTokFreeOutput(out, engine), VLT_OK);
  VltAdtList* bad = nullptr;
  ASSERT_EQ(VltAdt_liNew(&bad, engine), VLT_OK);
  ASSERT_EQ(VltAdt_liAdd(bad, nullptr, nullptr), VLT_OK);
  EXPECT_EQ(VltLlTokResume(ll, bad), VLT_ERR_ASSERT);
  VltAdt_liFree(bad);
}

TEST_F(LlTokTest, CopyModeLeavesTheArrayWithTheCaller) {
  init(VLT_LLTOK_COPY);
  VltLlTokKey k = key({{0, 5}}, 1);
  uint32_t i = 0;
  ASSERT_EQ(VltLlAddToken(ll, &k, 0, &i), VLT_OK);
  ASSERT_NE(k.runs, nullptr);
  k.runs[1] = 6;  // the token's own copy is not affected
  uint32_t j = 0;
  ASSERT_EQ(add({{0, 5}}, 2, 1, &j, 5, 1), VLT_OK);
  EXPECT_EQ(j, 0u);
  engine->free(k.runs);
}

TEST_F(LlTokTest, ArgumentsAreChecked) {
  VltLlTokOptions o{0, nullptr};
  EXPECT_EQ(VltLlTokInit(&ll, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(VltLlTokInit(&ll, &o), VLT_ERR_PARAM);
  o.engine = engine;
  EXPECT_EQ(VltLlTokInit(nullptr, &o), VLT_ERR_NULL);
  init();
  uint32_t i = 0;
  VltLlTokKey k{nullptr, 1, -1, -1, 0};
  EXPECT_EQ(VltLlAddToken(ll, &k, 0, &i), VLT_ERR_ASSERT);
  k = key({{0, 1}}, 0);
  k.count = 0;
  EXPECT_EQ(VltLlAddToken(ll, &k, 0, &i), VLT_ERR_ASSERT);
  engine->free(k.runs);
  EXPECT_EQ(VltLlTokPartial(ll, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(add({{40000, 1}}, 0, 0, &i), VLT_ERR_PARAM) << "a derived width beyond 16 bits";
}

// The token block maps token indices to the words stored for them and grows by half.
TEST_F(LlTokTest, TokenBlockGlue) {
  init();
  VltTokBlock* block = nullptr;
  ASSERT_EQ(VltCC_initTokBlock(engine, &block, 50), VLT_OK);
  std::vector<uint32_t> capacities;
  VltTokenRecord* word = nullptr;
  for (int i = 0; i < 120; ++i) {
    VltLlTokKey k = key({{0, 1 + i % 100}}, uint32_t(i));
    ASSERT_EQ(VltCC_tokenAddCC(engine, ll, block, &k, &word), VLT_OK);
    engine->free(k.runs);
    EXPECT_EQ(word, nullptr);
    if (capacities.empty() || capacities.back() != block->capacity) capacities.push_back(block->capacity);
  }
  EXPECT_EQ(block->count, 100u);
  EXPECT_EQ(capacities, (std::vector<uint32_t>{50, 75, 112}));
  auto* record = reinterpret_cast<VltTokenRecord*>(&block);
  block->records[7] = record;
  VltLlTokKey k = key({{0, 8}}, 500);
  ASSERT_EQ(VltCC_tokenAddCC(engine, ll, block, &k, &word), VLT_OK);
  engine->free(k.runs);
  EXPECT_EQ(word, record);
  EXPECT_EQ(vlt_growByHalf(112), 168u);
  EXPECT_EQ(vlt_growByHalf(0), 1u);
  EXPECT_EQ(vlt_growByHalf(1), 2u);
  EXPECT_EQ(VltCC_tokenAddCC(engine, ll, nullptr, &k, &word), VLT_ERR_NULL);
  EXPECT_EQ(VltCC_cleanupTokBlock(engine, block), VLT_OK);
  EXPECT_EQ(VltCC_cleanupTokBlock(nullptr, block), VLT_ERR_PARAM);
  EXPECT_EQ(VltCC_cleanupPosBlock(engine, nullptr), VLT_OK);
}

// Adds with copies, a partial hand-out, resumption and a final hand-out with the k-th allocation
// failing, for every k: each call fails with 1 or succeeds, a failed add changes no token, and
// releasing what there is leaves nothing behind.
TEST_F(LlTokTest, EveryAllocationFailureIsSurvived) {
  std::mt19937 rng(8);
  std::vector<Runs> comps;
  for (int i = 0; i < 60; ++i) comps.push_back({{int(rng() % 2), 1 + int(rng() % 3)}, {0, 1 + int(rng() % 2)}});
  size_t failures = 0;
  for (size_t k = 1;; ++k) {
    for (const uint32_t flags : {0u, uint32_t(VLT_LLTOK_COPY)}) {
      alloc.fail_at(k);
      VltLlTokOptions o{flags, engine};
      VltStatus st = VltLlTokInit(&ll, &o);
      VltAdtList* out = nullptr;
      uint32_t next = 0;
      int32_t added = 0;
      for (size_t i = 0; st == VLT_OK && i < comps.size(); ++i) {
        uint32_t index = 0;
        st = add(comps[i], uint32_t(i), next, &index);
        if (st == VLT_OK) ++added;
        if (st == VLT_OK && index == next) ++next;
      }
      const bool failedAdding = st != VLT_OK && ll != nullptr;
      if (st == VLT_OK) st = VltLlTokPartial(ll, &out);
      const bool failedHandingOut = st != VLT_OK && !failedAdding;
      if (st == VLT_OK) {
        st = VltLlTokResume(ll, out);
        if (st != VLT_OK) VltLlTokFreeOutput(out, engine);
        out = nullptr;
      }
      if (st == VLT_OK) st = VltLlTokFinal(ll, &out);
      if (st == VLT_OK) ll = nullptr;
      const bool failed = alloc.failures() > failures;
      failures = alloc.failures();
      alloc.fail_at(0);
      if (ll != nullptr) {
        // What is stored counts exactly the components added.
        VltAdtList* rest = nullptr;
        ASSERT_EQ(VltLlTokFinal(ll, &rest), VLT_OK);
        ll = nullptr;
        int32_t refs = 0;
        for (VltLlToken* t : tokens(rest)) {
          refs += t->refs;
          EXPECT_EQ(int32_t(t->occurrences->count), t->refs);
        }
        // A failed add or hand-out changes no token.
        if (failedAdding) {
          EXPECT_EQ(refs, added);
        }
        if (failedHandingOut) {
          EXPECT_EQ(refs, int32_t(comps.size()));
        }
        VltLlTokFreeOutput(rest, engine);
      }
      if (out != nullptr) {
        int32_t refs = 0;
        for (VltLlToken* t : tokens(out)) refs += t->refs;
        EXPECT_EQ(refs, int32_t(comps.size()));
        EXPECT_EQ(VltLlTokFreeOutput(out, engine), VLT_OK);
      }
      ASSERT_EQ(alloc.live_blocks(), baseline) << "leak after failing allocation " << k;
      if (!failed) {
        ASSERT_EQ(st, VLT_OK);
        if (flags != 0) {
          EXPECT_GT(failures, 20u);
          return;
        }
      } else {
        EXPECT_EQ(st, VLT_ERR_NOMEM) << "allocation " << k;
      }
    }
  }
}

}  // namespace
