// Engine base benchmarks: small-block pools beside malloc/free, the engine's hash table beside
// std::unordered_set. Compare the reported times as ratios.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <unordered_set>
#include <vector>

#include "vlt_adt.h"
#include "vlt_state.h"

namespace {

constexpr int kBlocks = 1000;
constexpr size_t kKeys = 1000000;

// Holds a live batch of blocks, then gives all of them back, the pattern of a page's records.
void BM_PoolAllocFree(benchmark::State& state) {
  VltState* s = nullptr;
  if (Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 0, 0) != VLT_OK) {
    state.SkipWithError("no engine state");
    return;
  }
  std::vector<void*> blocks(kBlocks);
  for (auto _ : state) {
    for (void*& b : blocks) s->smallAlloc(s->smallContext, 3, &b);
    benchmark::DoNotOptimize(blocks.data());
    for (void* b : blocks) s->smallFree(s->smallContext, 3, b);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
  Vlt_cleanupVltState(&s);
}

void BM_MallocFree(benchmark::State& state) {
  std::vector<void*> blocks(kBlocks);
  for (auto _ : state) {
    for (void*& b : blocks) b = std::malloc(VLT_POOL_BLOCK_SIZE);
    benchmark::DoNotOptimize(blocks.data());
    for (void* b : blocks) std::free(b);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

// Distinct non-zero keys spread like record addresses (multiples of 8 with scattered high bits).
const std::vector<uintptr_t>& keys() {
  static const std::vector<uintptr_t> k = [] {
    std::vector<uintptr_t> v(kKeys);
    uint32_t x = 0x9E3779B9u;
    for (size_t i = 0; i < kKeys; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      v[i] = (static_cast<uintptr_t>(i) << 3 | (x & 7u)) * 8 + 8;
    }
    return v;
  }();
  return k;
}

void BM_HashTableInsertLookup(benchmark::State& state) {
  const auto& k = keys();
  VltState* s = nullptr;
  if (Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 0, 0) != VLT_OK) {
    state.SkipWithError("no engine state");
    return;
  }
  for (auto _ : state) {
    VltAdtHashTable* t = nullptr;
    VltAdt_htNew(&t, nullptr, nullptr, nullptr, nullptr, UINT16_MAX, s);
    void* e = nullptr;
    for (uintptr_t key : k) VltAdt_htAddToTable(t, reinterpret_cast<void*>(key), &e);
    size_t found = 0;
    for (uintptr_t key : k) {
      VltAdt_htIsInTable(t, reinterpret_cast<void*>(key), &e);
      found += e != nullptr;
    }
    if (found != k.size()) state.SkipWithError("lost keys");
    VltAdt_htFree(t);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * k.size()));
  Vlt_cleanupVltState(&s);
}

void BM_UnorderedSetInsertLookup(benchmark::State& state) {
  const auto& k = keys();
  for (auto _ : state) {
    std::unordered_set<uintptr_t> set;
    for (uintptr_t key : k) set.insert(key);
    size_t found = 0;
    for (uintptr_t key : k) found += set.count(key);
    if (found != k.size()) state.SkipWithError("lost keys");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * k.size()));
}

BENCHMARK(BM_PoolAllocFree);
BENCHMARK(BM_MallocFree);
BENCHMARK(BM_HashTableInsertLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnorderedSetInsertLookup)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
