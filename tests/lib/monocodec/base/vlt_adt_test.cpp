// Containers: list, sparse array and hash table, case by case and against standard containers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <list>
#include <map>
#include <random>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

#include "counting_alloc.h"
#include "sanitizer_size.h"
#include "vlt_adt.h"

namespace {

using monotest::CountingAllocator;

void* word(uintptr_t v) { return reinterpret_cast<void*>(v); }

// An engine state over a counting allocator, checked for leaks when the test ends.
class AdtTest : public testing::Test {
 protected:
  void SetUp() override {
    alloc_.make_current();
    ASSERT_EQ(Vlt_initVltState(&s_, &mem_, nullptr, nullptr, nullptr, 0, 0), VLT_OK);
  }
  void TearDown() override {
    Vlt_cleanupVltState(&s_);
    EXPECT_EQ(alloc_.live_blocks(), 0u);
    EXPECT_EQ(alloc_.foreign(), 0u);
  }
  std::vector<void*> contents(const VltAdtList* l) {
    std::vector<void*> v;
    const VltAdtListNode* prev = nullptr;
    for (const VltAdtListNode* n = l->first; n != nullptr; n = n->next) {
      EXPECT_EQ(n->prev, prev);
      EXPECT_EQ(n->list, l);
      v.push_back(n->data);
      prev = n;
    }
    EXPECT_EQ(l->last, prev);
    EXPECT_EQ(l->count, v.size());
    return v;
  }

  CountingAllocator alloc_;
  VltMemFuncs mem_{CountingAllocator::g_malloc, CountingAllocator::g_free, CountingAllocator::g_calloc,
                   CountingAllocator::g_realloc};
  VltState* s_ = nullptr;
};

using ListTest = AdtTest;

TEST_F(ListTest, AddInsertRemoveKeepLinksAndCount) {
  VltAdtList* l = nullptr;
  ASSERT_EQ(VltAdt_liNew(&l, s_), VLT_OK);
  EXPECT_EQ(contents(l), std::vector<void*>{});
  VltAdtListNode* n2 = nullptr;
  ASSERT_EQ(VltAdt_liAdd(l, word(1), nullptr), VLT_OK);
  ASSERT_EQ(VltAdt_liAdd(l, word(2), &n2), VLT_OK);
  ASSERT_EQ(VltAdt_liAdd(l, word(3), nullptr), VLT_OK);
  EXPECT_EQ(contents(l), (std::vector<void*>{word(1), word(2), word(3)}));
  ASSERT_EQ(VltAdt_liAddAfter(l, n2, word(4), nullptr), VLT_OK);
  ASSERT_EQ(VltAdt_liAddAfter(l, nullptr, word(5), nullptr), VLT_OK);
  ASSERT_EQ(VltAdt_liAddAfter(l, l->last, word(6), nullptr), VLT_OK);
  EXPECT_EQ(contents(l), (std::vector<void*>{word(5), word(1), word(2), word(4), word(3), word(6)}));
  VltAdtListNode* next = nullptr;
  ASSERT_EQ(VltAdt_liRemAndNext(n2, &next), VLT_OK);
  EXPECT_EQ(next->data, word(4));
  ASSERT_EQ(VltAdt_liRem(l->first), VLT_OK);
  ASSERT_EQ(VltAdt_liRemAndNext(l->last, &next), VLT_OK);
  EXPECT_EQ(next, nullptr);
  EXPECT_EQ(contents(l), (std::vector<void*>{word(1), word(4), word(3)}));
  ASSERT_EQ(VltAdt_liClear(l), VLT_OK);
  EXPECT_EQ(contents(l), std::vector<void*>{});
  ASSERT_EQ(VltAdt_liFree(l), VLT_OK);
}

TEST_F(ListTest, EdgeCasesOfEmptyAndSingleNodeLists) {
  VltAdtList* l = nullptr;
  ASSERT_EQ(VltAdt_liNew(&l, s_), VLT_OK);
  VltAdtListNode* n = nullptr;
  ASSERT_EQ(VltAdt_liAddAfter(l, nullptr, word(9), &n), VLT_OK);
  EXPECT_EQ(l->first, n);
  EXPECT_EQ(l->last, n);
  ASSERT_EQ(VltAdt_liRem(n), VLT_OK);
  EXPECT_EQ(l->first, nullptr);
  EXPECT_EQ(l->last, nullptr);
  EXPECT_EQ(l->count, 0u);
  // The last of equal words is found.
  VltAdtListNode *a = nullptr, *b = nullptr, *found = nullptr;
  VltAdt_liAdd(l, word(7), &a);
  VltAdt_liAdd(l, word(8), nullptr);
  VltAdt_liAdd(l, word(7), &b);
  ASSERT_EQ(VltAdt_liIsIn(l, word(7), &found), VLT_OK);
  EXPECT_EQ(found, b);
  ASSERT_EQ(VltAdt_liIsIn(l, word(6), &found), VLT_OK);
  EXPECT_EQ(found, nullptr);
  ASSERT_EQ(VltAdt_liFree(l), VLT_OK);
}

TEST_F(ListTest, AppendMovesNodesToTheFirstList) {
  VltAdtList *a = nullptr, *b = nullptr, *empty = nullptr;
  ASSERT_EQ(VltAdt_liNew(&a, s_), VLT_OK);
  ASSERT_EQ(VltAdt_liNew(&b, s_), VLT_OK);
  ASSERT_EQ(VltAdt_liNew(&empty, s_), VLT_OK);
  VltAdtListNode* moved = nullptr;
  VltAdt_liAdd(a, word(1), nullptr);
  VltAdt_liAdd(b, word(2), &moved);
  VltAdt_liAdd(b, word(3), nullptr);
  EXPECT_EQ(VltAdt_liApp(a, a), VLT_ERR_ASSERT);
  EXPECT_EQ(contents(a), std::vector<void*>{word(1)});
  ASSERT_EQ(VltAdt_liApp(a, b), VLT_OK);
  ASSERT_EQ(VltAdt_liApp(a, empty), VLT_OK);
  EXPECT_EQ(contents(a), (std::vector<void*>{word(1), word(2), word(3)}));
  EXPECT_EQ(moved->list, a);
  ASSERT_EQ(VltAdt_liRem(moved), VLT_OK);
  EXPECT_EQ(contents(a), (std::vector<void*>{word(1), word(3)}));
  // Onto an empty list.
  ASSERT_EQ(VltAdt_liNew(&empty, s_), VLT_OK);
  ASSERT_EQ(VltAdt_liApp(empty, a), VLT_OK);
  EXPECT_EQ(contents(empty), (std::vector<void*>{word(1), word(3)}));
  ASSERT_EQ(VltAdt_liFree(empty), VLT_OK);
}

TEST_F(ListTest, InconsistentArgumentsAreRefusedWithoutChanges) {
  VltAdtList *a = nullptr, *b = nullptr;
  ASSERT_EQ(VltAdt_liNew(&a, s_), VLT_OK);
  ASSERT_EQ(VltAdt_liNew(&b, s_), VLT_OK);
  VltAdtListNode *na = nullptr, *nb = nullptr;
  VltAdt_liAdd(a, word(1), &na);
  VltAdt_liAdd(b, word(2), &nb);
  EXPECT_EQ(VltAdt_liNew(nullptr, s_), VLT_ERR_NULL);
  EXPECT_EQ(VltAdt_liAdd(nullptr, word(1), nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liAddAfter(a, nb, word(3), nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liAddAfter(nullptr, nullptr, word(3), nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liRem(nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liRemAndNext(nullptr, nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liIsIn(nullptr, word(1), &na), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liApp(nullptr, a), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liApp(a, nullptr), VLT_ERR_ASSERT);
  // A head whose last node went missing.
  a->last = nullptr;
  EXPECT_EQ(VltAdt_liAdd(a, word(3), nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liAddAfter(a, nullptr, word(3), nullptr), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liApp(a, b), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liRem(na), VLT_ERR_ASSERT);
  a->last = na;
  // A node that claims another list stops clearing before anything is freed.
  nb->list = a;
  EXPECT_EQ(VltAdt_liClear(b), VLT_ERR_ASSERT);
  EXPECT_EQ(VltAdt_liApp(a, b), VLT_ERR_ASSERT);
  EXPECT_EQ(b->first, nb);
  nb->list = b;
  EXPECT_EQ(contents(a), std::vector<void*>{word(1)});
  EXPECT_EQ(contents(b), std::vector<void*>{word(2)});
  ASSERT_EQ(VltAdt_liFree(a), VLT_OK);
  ASSERT_EQ(VltAdt_liFree(b), VLT_OK);
}

TEST_F(ListTest, PoolFailureIsReturnedUnchanged) {
  VltAdtList* l = nullptr;
  alloc_.fail_at(1);
  EXPECT_EQ(VltAdt_liNew(&l, s_), VLT_ERR_NOMEM);
  EXPECT_EQ(l, nullptr);
  ASSERT_EQ(VltAdt_liNew(&l, s_), VLT_OK);
  ASSERT_EQ(VltAdt_liFree(l), VLT_OK);
}

using SparseTest = AdtTest;

TEST_F(SparseTest, FirstWindowAndGrowthBothWays) {
  VltAdtSparseMatrix* sm = nullptr;
  ASSERT_EQ(VltAdt_smNew(&sm, 1, 0, s_), VLT_OK);
  EXPECT_EQ(sm->initialRows, 100);
  EXPECT_EQ(VltAdt_smIsAllocated(sm, 0, 0), 0);
  EXPECT_EQ(VltAdt_smGetNextY(sm, -1), 0);
  uintptr_t w = 99;
  ASSERT_EQ(VltAdt_smGet(sm, 5, 3, &w), VLT_OK);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(sm->maxAllocRow, 100);
  EXPECT_EQ(sm->rowOrigins[3], 0);
  EXPECT_EQ(sm->rowCounts[3], 16);
  ASSERT_EQ(VltAdt_smGet(sm, 32767, 4, &w), VLT_OK);
  EXPECT_EQ(sm->rowOrigins[4], 32757);
  EXPECT_EQ(sm->rowCounts[4], 11);
  ASSERT_EQ(VltAdt_smSet(sm, 100, 4, 7), VLT_OK);
  EXPECT_EQ(sm->rowOrigins[4], 100);
  EXPECT_EQ(sm->rowCounts[4], 32668);
  ASSERT_EQ(VltAdt_smGet(sm, 32760, 4, &w), VLT_OK);
  EXPECT_EQ(w, 0u);
  ASSERT_EQ(VltAdt_smGet(sm, 100, 4, &w), VLT_OK);
  EXPECT_EQ(w, 7u);
  ASSERT_EQ(VltAdt_smSet(sm, 40, 3, 9), VLT_OK);
  EXPECT_EQ(sm->rowCounts[3], 41);
  EXPECT_EQ(VltAdt_smIsAllocated(sm, 41, 3), 0);
  EXPECT_EQ(VltAdt_smIsAllocated(sm, 30, 3), 1);
  EXPECT_EQ(VltAdt_smIsAllocated(sm, 0, 101), 0);
  // Rows above the first allocation grow the arrays.
  ASSERT_EQ(VltAdt_smSet(sm, 0, 70000, 5), VLT_OK);
  EXPECT_EQ(sm->maxAllocRow, 70000);
  EXPECT_EQ(VltAdt_smGetNextY(sm, 4), 70000);
  EXPECT_EQ(VltAdt_smGetNextY(sm, 70000), 70001);
  EXPECT_EQ(VltAdt_smGetNextY(sm, 0), 3);
  ASSERT_EQ(VltAdt_smFree(sm), VLT_OK);
  EXPECT_EQ(VltAdt_smFree(nullptr), VLT_OK);
}

TEST_F(SparseTest, OutOfRangeCoordinatesAndAllocationFailures) {
  VltAdtSparseMatrix* sm = nullptr;
  ASSERT_EQ(VltAdt_smNew(&sm, 1, 4, s_), VLT_OK);
  uintptr_t w = 0;
  EXPECT_EQ(VltAdt_smGet(sm, 32768, 0, &w), VLT_ERR_PARAM);
  EXPECT_EQ(VltAdt_smGet(sm, -1, 0, &w), VLT_ERR_PARAM);
  EXPECT_EQ(VltAdt_smSet(sm, 0, -1, 1), VLT_ERR_PARAM);
  EXPECT_EQ(sm->maxTouchedRow, -1);
  // Each allocation of a growth step failing in turn leaves what was stored readable.
  ASSERT_EQ(VltAdt_smSet(sm, 30, 2, 11), VLT_OK);
  for (size_t k = 1; k <= 3; ++k) {
    alloc_.fail_at(k);
    VltStatus st = VltAdt_smSet(sm, 0, 200, 1);
    if (st == VLT_OK) break;
    EXPECT_EQ(st, VLT_ERR_NOMEM);
    ASSERT_EQ(VltAdt_smGet(sm, 30, 2, &w), VLT_OK);
    EXPECT_EQ(w, 11u);
  }
  alloc_.fail_at(1);
  EXPECT_EQ(VltAdt_smSet(sm, 5, 2, 1), VLT_ERR_NOMEM);
  alloc_.fail_at(1);
  EXPECT_EQ(VltAdt_smSet(sm, 60, 2, 1), VLT_ERR_NOMEM);
  ASSERT_EQ(VltAdt_smGet(sm, 30, 2, &w), VLT_OK);
  EXPECT_EQ(w, 11u);
  EXPECT_EQ(sm->rowOrigins[2], 20);
  EXPECT_EQ(sm->rowCounts[2], 21);
  ASSERT_EQ(VltAdt_smFree(sm), VLT_OK);
  alloc_.fail_at(1);
  EXPECT_EQ(VltAdt_smNew(&sm, 1, 4, s_), VLT_ERR_NOMEM);
  EXPECT_EQ(VltAdt_smNew(nullptr, 1, 4, s_), VLT_ERR_NULL);
}

using HashTest = AdtTest;

TEST_F(HashTest, CollidingKeysShareABucketInOrder) {
  VltAdtHashTable* t = nullptr;
  ASSERT_EQ(VltAdt_htNew(&t, nullptr, nullptr, nullptr, nullptr, 0, s_), VLT_OK);
  EXPECT_EQ(t->size, 100);
  void* existing = word(1);
  EXPECT_EQ(VltAdt_htAddToTable(t, nullptr, &existing), VLT_ERR_ASSERT);
  ASSERT_EQ(VltAdt_htAddToTable(t, word(7), &existing), VLT_OK);
  EXPECT_EQ(existing, nullptr);
  ASSERT_EQ(VltAdt_htAddToTable(t, word(107), &existing), VLT_OK);
  ASSERT_EQ(VltAdt_htAddToTable(t, word(107), &existing), VLT_OK);
  EXPECT_EQ(existing, word(107));
  uintptr_t w = 0;
  ASSERT_EQ(VltAdt_smGet(t->buckets, 1, 7, &w), VLT_OK);
  EXPECT_EQ(w, 107u);
  std::vector<void*> seen;
  VltAdt_htResetGetNextElement(t);
  for (void* e = nullptr; VltAdt_htGetNextElement(t, &e) == VLT_OK && e != nullptr;) seen.push_back(e);
  EXPECT_EQ(seen, (std::vector<void*>{word(7), word(107)}));
  ASSERT_EQ(VltAdt_htFree(t), VLT_OK);
  EXPECT_EQ(VltAdt_htFree(nullptr), VLT_OK);
}

TEST_F(HashTest, RemovalKeepsLaterEntriesOfTheBucketFindable) {
  VltAdtHashTable* t = nullptr;
  ASSERT_EQ(VltAdt_htNew(&t, nullptr, nullptr, nullptr, nullptr, 10, s_), VLT_OK);
  void* e = nullptr;
  for (uintptr_t k : {3, 13, 23, 33}) ASSERT_EQ(VltAdt_htAddToTable(t, word(k), &e), VLT_OK);
  ASSERT_EQ(VltAdt_htRemoveFromTable(t, word(13), &e), VLT_OK);
  EXPECT_EQ(e, word(13));
  for (uintptr_t k : {3, 23, 33}) {
    ASSERT_EQ(VltAdt_htIsInTable(t, word(k), &e), VLT_OK);
    EXPECT_EQ(e, word(k)) << k;
  }
  ASSERT_EQ(VltAdt_htIsInTable(t, word(13), &e), VLT_OK);
  EXPECT_EQ(e, nullptr);
  ASSERT_EQ(VltAdt_htRemoveFromTable(t, word(13), &e), VLT_OK);
  EXPECT_EQ(e, nullptr);
  // A re-added key is not stored twice.
  ASSERT_EQ(VltAdt_htAddToTable(t, word(33), &e), VLT_OK);
  EXPECT_EQ(e, word(33));
  ASSERT_EQ(VltAdt_htFree(t), VLT_OK);
}

// Keys equal when their low bytes are; the free function sees the user data.
struct Custom {
  int freed = 0;
};
int low_byte_equal(void*, void* key, void* entry) {
  return (reinterpret_cast<uintptr_t>(key) & 0xFF) == (reinterpret_cast<uintptr_t>(entry) & 0xFF);
}
uint32_t low_byte_hash(void*, void* key) { return reinterpret_cast<uintptr_t>(key) & 0xFF; }
void count_free(void* data) { ++static_cast<Custom*>(data)->freed; }

TEST_F(HashTest, CallerFunctionsAndFailures) {
  Custom custom;
  VltAdtHashTable* t = nullptr;
  ASSERT_EQ(VltAdt_htNew(&t, &custom, low_byte_equal, low_byte_hash, count_free, 7, s_), VLT_OK);
  EXPECT_EQ(t->hashData, &custom);
  void* e = nullptr;
  ASSERT_EQ(VltAdt_htAddToTable(t, word(0x1234), &e), VLT_OK);
  ASSERT_EQ(VltAdt_htAddToTable(t, word(0x5634), &e), VLT_OK);
  EXPECT_EQ(e, word(0x1234));
  ASSERT_EQ(VltAdt_htFree(t), VLT_OK);
  EXPECT_EQ(custom.freed, 1);
  EXPECT_EQ(VltAdt_htNew(nullptr, nullptr, nullptr, nullptr, nullptr, 0, s_), VLT_ERR_NULL);
  EXPECT_EQ(VltAdt_htNew(&t, nullptr, nullptr, nullptr, nullptr, 65536, s_), VLT_ERR_PARAM);
  for (size_t k = 1; k <= 2; ++k) {
    alloc_.fail_at(k);
    t = nullptr;
    EXPECT_EQ(VltAdt_htNew(&t, nullptr, nullptr, nullptr, nullptr, 0, s_), VLT_ERR_NOMEM);
    EXPECT_EQ(t, nullptr);
  }
}

// Random operations on each container beside a standard one; any divergence is a fault.
TEST_F(AdtTest, RandomizedAgainstStandardContainers) {
  std::mt19937 rng(20261210);
  for (int round = 0; round < monotest::sanitizer_sized(20, 4); ++round) {
    // Lists: add, insert after, remove, append another list.
    VltAdtList* l = nullptr;
    ASSERT_EQ(VltAdt_liNew(&l, s_), VLT_OK);
    std::list<void*> ref;
    for (int op = 0; op < 400; ++op) {
      const int kind = static_cast<int>(rng() % 5);
      void* d = word(rng() % 50 + 1);
      if (kind == 0 || ref.empty()) {
        ASSERT_EQ(VltAdt_liAdd(l, d, nullptr), VLT_OK);
        ref.push_back(d);
      } else if (kind == 1) {
        const size_t at = rng() % (ref.size() + 1);  // ref.size() means "at the head"
        VltAdtListNode* n = l->first;
        auto it = ref.begin();
        if (at == ref.size()) {
          ASSERT_EQ(VltAdt_liAddAfter(l, nullptr, d, nullptr), VLT_OK);
          ref.push_front(d);
        } else {
          for (size_t i = 0; i < at; ++i) n = n->next, ++it;
          ASSERT_EQ(VltAdt_liAddAfter(l, n, d, nullptr), VLT_OK);
          ref.insert(std::next(it), d);
        }
      } else if (kind == 2 || kind == 3) {
        VltAdtListNode* n = nullptr;
        ASSERT_EQ(VltAdt_liIsIn(l, d, &n), VLT_OK);
        auto rit = std::find(ref.rbegin(), ref.rend(), d);
        ASSERT_EQ(n != nullptr, rit != ref.rend());
        if (n != nullptr) {
          ASSERT_EQ(VltAdt_liRem(n), VLT_OK);
          ref.erase(std::next(rit).base());
        }
      } else {
        VltAdtList* other = nullptr;
        ASSERT_EQ(VltAdt_liNew(&other, s_), VLT_OK);
        for (uint32_t i = rng() % 4; i > 0; --i) {
          void* od = word(rng() % 50 + 1);
          ASSERT_EQ(VltAdt_liAdd(other, od, nullptr), VLT_OK);
          ref.push_back(od);
        }
        ASSERT_EQ(VltAdt_liApp(l, other), VLT_OK);
      }
    }
    EXPECT_EQ(contents(l), std::vector<void*>(ref.begin(), ref.end()));
    ASSERT_EQ(VltAdt_liFree(l), VLT_OK);

    // Sparse array.
    VltAdtSparseMatrix* sm = nullptr;
    ASSERT_EQ(VltAdt_smNew(&sm, 1, static_cast<int32_t>(rng() % 5), s_), VLT_OK);
    std::map<std::pair<int32_t, int32_t>, uintptr_t> cells;
    for (int op = 0; op < 500; ++op) {
      const int32_t x = static_cast<int32_t>(rng() % 4 == 0 ? rng() % 32768 : rng() % 200);
      const int32_t y = static_cast<int32_t>(rng() % 60);
      if (rng() % 2 == 0) {
        const uintptr_t v = rng();
        ASSERT_EQ(VltAdt_smSet(sm, x, y, v), VLT_OK);
        cells[{x, y}] = v;
      } else {
        uintptr_t v = 1;
        ASSERT_EQ(VltAdt_smGet(sm, x, y, &v), VLT_OK);
        auto it = cells.find({x, y});
        ASSERT_EQ(v, it == cells.end() ? 0u : it->second) << x << "," << y;
      }
    }
    for (const auto& [xy, v] : cells) {
      EXPECT_EQ(VltAdt_smIsAllocated(sm, xy.first, xy.second), 1);
      uintptr_t got = 0;
      ASSERT_EQ(VltAdt_smGet(sm, xy.first, xy.second, &got), VLT_OK);
      EXPECT_EQ(got, v);
    }
    ASSERT_EQ(VltAdt_smFree(sm), VLT_OK);

    // Hash table, with few buckets so that buckets hold many entries.
    VltAdtHashTable* t = nullptr;
    ASSERT_EQ(VltAdt_htNew(&t, nullptr, nullptr, nullptr, nullptr, 1 + rng() % 13, s_), VLT_OK);
    std::unordered_set<uintptr_t> keys;
    for (int op = 0; op < 1500; ++op) {
      const uintptr_t k = 1 + rng() % 300;
      void* e = nullptr;
      switch (rng() % 3) {
        case 0:
          ASSERT_EQ(VltAdt_htAddToTable(t, word(k), &e), VLT_OK);
          EXPECT_EQ(e != nullptr, !keys.insert(k).second) << k;
          break;
        case 1:
          ASSERT_EQ(VltAdt_htRemoveFromTable(t, word(k), &e), VLT_OK);
          EXPECT_EQ(e != nullptr, keys.erase(k) == 1) << k;
          break;
        default:
          ASSERT_EQ(VltAdt_htIsInTable(t, word(k), &e), VLT_OK);
          EXPECT_EQ(e != nullptr, keys.count(k) == 1) << k;
      }
    }
    std::multiset<uintptr_t> iterated;
    VltAdt_htResetGetNextElement(t);
    for (void* e = nullptr; VltAdt_htGetNextElement(t, &e) == VLT_OK && e != nullptr;)
      iterated.insert(reinterpret_cast<uintptr_t>(e));
    EXPECT_EQ(iterated, std::multiset<uintptr_t>(keys.begin(), keys.end()));
    ASSERT_EQ(VltAdt_htFree(t), VLT_OK);
  }
}

}  // namespace
