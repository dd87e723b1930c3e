// Heap manager and cell-block allocator.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "i_heap.h"
#include "ip_test_state.h"

namespace {

using iptest::TestState;

constexpr size_t N = sizeof(HeapNode);

struct Manager {
  TestState t;
  HeapManager m{};
  Manager() { EXPECT_EQ(i_initializeHeapManager(t.state, &m), VLT_OK); }
  ~Manager() { EXPECT_EQ(i_destroyHeapManager(t.state, &m), VLT_OK); }
  uint32_t blocks() {
    uint32_t n = 0;
    EXPECT_EQ(i_getNumHeapBlocks(t.state, &m, &n), VLT_OK);
    return n;
  }
  size_t bytes() {
    size_t n = 0;
    EXPECT_EQ(i_getNumHeapBytes(t.state, &m, &n), VLT_OK);
    return n;
  }
};

TEST(HeapManager, CountsFollowAllocationsAndFreesInAnyOrder) {
  Manager h;
  const std::vector<size_t> sizes{1, 17, 0, 4096, 33};
  std::vector<void*> blocks;
  size_t sum = 0;
  for (size_t s : sizes) {
    blocks.push_back(i_hm_malloc(s, &h.m));
    ASSERT_NE(blocks.back(), nullptr);
    sum += s + N;
  }
  void* z = i_hm_calloc(7, 9, &h.m);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(std::memcmp(z, std::vector<uint8_t>(63, 0).data(), 63), 0);
  sum += 63 + N;
  EXPECT_EQ(h.blocks(), 6u);
  EXPECT_EQ(h.bytes(), sum);
  // Middle, newest, oldest: every unlink case.
  for (size_t i : {2u, 4u, 0u}) i_hm_free(blocks[i], &h.m), sum -= sizes[i] + N;
  EXPECT_EQ(h.blocks(), 3u);
  EXPECT_EQ(h.bytes(), sum);
  for (size_t i : {1u, 3u}) i_hm_free(blocks[i], &h.m);
  i_hm_free(z, &h.m);
  EXPECT_EQ(h.blocks(), 0u);
  EXPECT_EQ(h.bytes(), 0u);
  EXPECT_EQ(h.m.newest, nullptr);
  EXPECT_EQ(h.m.oldest, nullptr);
  EXPECT_EQ(h.t.alloc.live_blocks(), 2u);  // the state's cache records only
}

TEST(HeapManager, ForeignPointerIsLeftAlone) {
  Manager h;
  ASSERT_NE(i_hm_malloc(8, &h.m), nullptr);
  int local = 0;
  const size_t frees = h.t.alloc.frees();
  i_hm_free(&local, &h.m);
  i_hm_free(nullptr, &h.m);
  EXPECT_EQ(h.t.alloc.frees(), frees);
  EXPECT_EQ(h.blocks(), 1u);
  EXPECT_EQ(h.bytes(), 8 + N);
}

TEST(HeapManager, ReallocTracksAdoptsAndKeepsTheBlockOnFailure) {
  Manager h;
  void* p = i_hm_realloc(nullptr, 10, &h.m);  // a tracked allocation
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(h.blocks(), 1u);
  EXPECT_EQ(h.bytes(), 10 + N);
  std::memset(p, 0x5A, 10);
  p = i_hm_realloc(p, 100, &h.m);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(h.blocks(), 1u);
  EXPECT_EQ(h.bytes(), 100 + N);

  h.t.alloc.fail_at(1);
  EXPECT_EQ(i_hm_realloc(p, 1000, &h.m), nullptr);
  // The node still holds the old block: it is freed by the manager, not leaked or lost.
  EXPECT_EQ(h.m.newest->block, p);
  EXPECT_EQ(h.bytes(), 100 + N);
  EXPECT_EQ(static_cast<uint8_t*>(p)[9], 0x5A);

  // A block the manager does not know is adopted when the reallocation succeeds.
  void* outside = h.t.alloc.allocate(4);
  void* adopted = i_hm_realloc(outside, 40, &h.m);
  ASSERT_NE(adopted, nullptr);
  EXPECT_EQ(h.blocks(), 2u);
  EXPECT_EQ(h.bytes(), 140 + 2 * N);
}

TEST(HeapManager, ReallocToZeroKeepsATrackedBlockWithTheCLibrary) {
  std::vector<uint8_t> record(sizeof(IPState), 0);
  auto* state = reinterpret_cast<IPState*>(record.data());
  ASSERT_EQ(i_IPStateInit(state, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, sizeof(IPState)),
            VLT_OK);
  HeapManager m{};
  ASSERT_EQ(i_initializeHeapManager(state, &m), VLT_OK);
  void* p = i_hm_malloc(64, &m);
  ASSERT_NE(p, nullptr);
  void* q = i_hm_realloc(p, 0, &m);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(m.newest->block, q);
  EXPECT_EQ(m.byteCount, N);
  ASSERT_EQ(i_destroyHeapManager(state, &m), VLT_OK);  // ASan reports a double free otherwise
  ASSERT_EQ(i_IPStateTerm(state), VLT_OK);
}

TEST(HeapManager, FailedAllocationsLeaveListAndMemoryUnchanged) {
  for (size_t k : {1u, 2u}) {
    Manager h;
    ASSERT_NE(i_hm_malloc(5, &h.m), nullptr);
    h.t.alloc.fail_at(k);  // the node, then the block
    EXPECT_EQ(i_hm_malloc(5, &h.m), nullptr);
    h.t.alloc.fail_at(k);
    EXPECT_EQ(i_hm_calloc(3, 5, &h.m), nullptr);
    h.t.alloc.fail_at(k);
    EXPECT_EQ(i_hm_realloc(nullptr, 5, &h.m), nullptr);
    EXPECT_EQ(h.blocks(), 1u);
    EXPECT_EQ(h.bytes(), 5 + N);
    EXPECT_EQ(h.t.alloc.live_blocks(), 4u);  // the state's two records, one node, one block
  }
}

TEST(HeapManager, OverflowingAndNullArgumentsAreRefused) {
  Manager h;
  EXPECT_EQ(i_hm_calloc(SIZE_MAX / 2, 3, &h.m), nullptr);
  EXPECT_EQ(h.t.alloc.allocations(), 2u);  // only the state's two cache records
  EXPECT_EQ(i_hm_malloc(4, nullptr), nullptr);
  HeapManager stateless{};
  EXPECT_EQ(i_hm_malloc(4, &stateless), nullptr);
  uint32_t n;
  size_t b;
  EXPECT_EQ(i_getNumHeapBlocks(h.t.state, nullptr, &n), VLT_ERR_NULL);
  EXPECT_EQ(i_getNumHeapBlocks(h.t.state, &h.m, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_getNumHeapBytes(h.t.state, &h.m, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_getHeapManagerSize(h.t.state, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_initializeHeapManager(h.t.state, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_destroyHeapManager(h.t.state, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_getHeapManagerSize(h.t.state, &b), VLT_OK);
  EXPECT_EQ(b, sizeof(HeapManager));
}

TEST(HeapManager, DestroyFreesThroughTheManagersOwnState) {
  TestState owner;
  TestState other;
  HeapManager m{};
  ASSERT_EQ(i_initializeHeapManager(owner.state, &m), VLT_OK);
  for (size_t s : {3u, 30u, 300u}) ASSERT_NE(i_hm_malloc(s, &m), nullptr);
  ASSERT_EQ(i_destroyHeapManager(other.state, &m), VLT_OK);
  EXPECT_EQ(owner.alloc.live_blocks(), 2u);  // the cache records only
  EXPECT_EQ(other.alloc.foreign(), 0u);
  EXPECT_EQ(m.blockCount, 0u);
  EXPECT_EQ(m.byteCount, 0u);
  EXPECT_EQ(m.newest, nullptr);
  EXPECT_EQ(m.oldest, nullptr);
  EXPECT_EQ(m.state, other.state);
}

TEST(CellBlock, CellsComeLastInFirstOutAndTheLastCellChainsABlock) {
  Manager h;
  CellBlock* first = nullptr;
  ASSERT_EQ(i_allocateMemoryBlock(h.t.state, &first, sizeof(void*) * 3, 1, &h.m), VLT_OK);
  void* a = nullptr;
  ASSERT_EQ(i_allocateStruct(h.t.state, first, &a), VLT_OK);
  EXPECT_EQ(h.blocks(), 2u);  // a block of one cell chains a second one at once
  void* b = nullptr;
  ASSERT_EQ(i_allocateStruct(h.t.state, first, &b), VLT_OK);
  EXPECT_NE(a, b);
  EXPECT_EQ(h.blocks(), 3u);
  void* keep = b;
  ASSERT_EQ(i_freeStruct(h.t.state, first, &b), VLT_OK);
  EXPECT_EQ(b, nullptr);
  void* c = nullptr;
  ASSERT_EQ(i_allocateStruct(h.t.state, first, &c), VLT_OK);
  EXPECT_EQ(c, keep);
  ASSERT_EQ(i_freeAllMemoryBlocks(h.t.state, &first), VLT_OK);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(h.blocks(), 0u);
}

TEST(CellBlock, ManyCellsAreDistinctAndWritable) {
  Manager h;
  CellBlock* first = nullptr;
  ASSERT_EQ(i_allocateMemoryBlock(h.t.state, &first, 13, 16, &h.m), VLT_OK);
  std::vector<uint8_t*> cells;
  for (int i = 0; i < 100; ++i) {
    void* c = nullptr;
    ASSERT_EQ(i_allocateStruct(h.t.state, first, &c), VLT_OK);
    cells.push_back(static_cast<uint8_t*>(c));
    std::memset(c, i, 13);
  }
  for (int i = 0; i < 100; ++i) EXPECT_EQ(cells[i][12], i);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(cells[1]) % alignof(void*), 0u);
  ASSERT_EQ(i_freeAllMemoryBlocks(h.t.state, &first), VLT_OK);
  EXPECT_EQ(h.blocks(), 0u);
}

TEST(CellBlock, FailedGrowthKeepsTheLastCell) {
  Manager h;
  CellBlock* first = nullptr;
  ASSERT_EQ(i_allocateMemoryBlock(h.t.state, &first, 16, 2, &h.m), VLT_OK);
  void* a = nullptr;
  ASSERT_EQ(i_allocateStruct(h.t.state, first, &a), VLT_OK);
  void* last = first->freeHead;
  h.t.alloc.fail_at(1);
  void* b = &a;
  EXPECT_EQ(i_allocateStruct(h.t.state, first, &b), VLT_ERR_NOMEM);
  EXPECT_EQ(b, nullptr);
  ASSERT_EQ(i_allocateStruct(h.t.state, first, &b), VLT_OK);
  EXPECT_EQ(b, last);
  ASSERT_EQ(i_freeAllMemoryBlocks(h.t.state, &first), VLT_OK);
}

TEST(CellBlock, BadGeometryAndNullArguments) {
  Manager h;
  CellBlock* block = nullptr;
  struct Case { size_t size; uint32_t count; VltStatus want; };
  for (const Case& c : {Case{sizeof(void*) - 1, 4, VLT_ERR_PARAM}, Case{0, 4, VLT_ERR_PARAM},
                        Case{sizeof(void*), 0, VLT_ERR_PARAM}, Case{SIZE_MAX / 2, 4, VLT_ERR_PARAM},
                        Case{sizeof(void*), 1, VLT_OK}}) {
    EXPECT_EQ(i_allocateMemoryBlock(h.t.state, &block, c.size, c.count, &h.m), c.want) << c.size;
  }
  EXPECT_EQ(i_allocateMemoryBlock(h.t.state, &block, 8, 1, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_allocateMemoryBlock(h.t.state, nullptr, 8, 1, &h.m), VLT_ERR_NULL);
  void* cell = nullptr;
  EXPECT_EQ(i_allocateStruct(h.t.state, nullptr, &cell), VLT_ERR_NULL);
  EXPECT_EQ(i_freeStruct(h.t.state, block, nullptr), VLT_ERR_NULL);
  EXPECT_EQ(i_freeAllMemoryBlocks(h.t.state, nullptr), VLT_ERR_NULL);
  h.t.alloc.fail_at(1);
  CellBlock* none = nullptr;
  EXPECT_EQ(i_allocateMemoryBlock(h.t.state, &none, 8, 4, &h.m), VLT_ERR_NOMEM);
  EXPECT_EQ(none, nullptr);
  CellBlock* empty = nullptr;
  EXPECT_EQ(i_freeAllMemoryBlocks(h.t.state, &empty), VLT_OK);
}

}  // namespace
