// Image-core benchmarks on the sample pages (CCITT charts and rendered documentation pages).
// Each operation is measured beside a reference; compare the reported times as ratios.

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <string>

#include "pages.h"
#include "ref_bitmap.h"

namespace {

const monotest::RefBitmap& page(const std::string& name) { return monotest::cached_sample_page(name); }

// Reference: count black pixels one by one.
void BM_CountPixelsNaive(benchmark::State& state, const std::string& name) {
  const auto& bm = page(name);
  for (auto _ : state) benchmark::DoNotOptimize(bm.count());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bm.bits.size()));
}

// Reference: std::popcount over the rows' bytes.
void BM_CountPixelsPopcount(benchmark::State& state, const std::string& name) {
  const auto& bm = page(name);
  for (auto _ : state) {
    size_t n = 0;
    for (uint8_t b : bm.bits) n += static_cast<size_t>(std::popcount(b));
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bm.bits.size()));
}

const bool registered = [] {
  for (const std::string& name : monotest::sample_page_names()) {
    benchmark::RegisterBenchmark(("CountPixels/naive/" + name).c_str(), BM_CountPixelsNaive, name);
    benchmark::RegisterBenchmark(("CountPixels/popcount/" + name).c_str(), BM_CountPixelsPopcount, name);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
