// Connected components and binary reduction on sample pages, each beside its references: the
// naive oracle of the tests and Leptonica. Compare the reported times as ratios.

#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_ip_state.h"
#include "byteorder.h"
#include "i_ccruns.h"
#include "i_reduce.h"
#include "ipstate.h"
#include "bench_lept.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "ref_components.h"
#include "ref_reduce.h"

namespace {

const monotest::RefBitmap& page(const std::string& name) { return monotest::cached_sample_page(name); }

// A page inside a 32-pixel frame, lines a multiple of 4 bytes.
struct Framed {
  int32_t width, height, bpl;
  std::vector<uint8_t> bytes;
  Framed(int32_t w, int32_t h) : width(w + 64), height(h + 64), bpl(4 * ((w + 64 + 31) / 32)), bytes(size_t(bpl) * (h + 64)) {}
  explicit Framed(const monotest::RefBitmap& bm) : Framed(bm.width, bm.height) {
    for (int y = 0; y < bm.height; ++y)
      for (int x = 0; x < bm.width; ++x)
        if (bm.get(x, y)) mono::set_bit(bytes.data() + size_t(y + 32) * bpl, size_t(x) + 32, 1);
  }
};

int count_component(IPState*, void* data, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, CCRun*) {
  ++*static_cast<int64_t*>(data);
  return 0;
}

void BM_ComponentsRuns(benchmark::State& st, const std::string& name) {
  const auto& bm = page(name);
  const Framed f(bm);
  bench::CoreState s;
  int64_t n = 0;
  for (auto _ : st) {
    n = 0;
    int result = 0;
    i_findConnectedComponentRuns(s.state, f.bytes.data(), static_cast<uint32_t>(f.bpl), 32, 32, bm.width,
                                 bm.height, 1, 1, 1, &n, count_component, &result);
    benchmark::DoNotOptimize(n);
  }
  st.counters["components"] = static_cast<double>(n);
}

void BM_ComponentsFloodFill(benchmark::State& st, const std::string& name) {
  const auto& bm = page(name);
  size_t n = 0;
  for (auto _ : st) {
    n = monotest::flood_fill_components(bm, 8).size();
    benchmark::DoNotOptimize(n);
  }
  st.counters["components"] = static_cast<double>(n);
}

void BM_ComponentsLeptonica(benchmark::State& st, const std::string& name) {
  PIX* pix = bench::to_pix(page(name));
  int n = 0;
  for (auto _ : st) {
    BOXA* boxa = pixConnComp(pix, nullptr, 8);
    n = boxaGetCount(boxa);
    boxaDestroy(&boxa);
  }
  st.counters["components"] = n;
  pixDestroy(&pix);
}

// i_reduce8 with thresholds (1, 1, 1) and i_reduce2 with threshold t, framed.
void BM_ReduceCore(benchmark::State& st, const std::string& name, int factor, int t) {
  const auto& bm = page(name);
  const Framed src(bm);
  Framed dst(bm.width / factor, bm.height / factor);
  bench::CoreState s;
  for (auto _ : st) {
    if (factor == 2)
      i_reduce2(s.state, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.bpl, t);
    else
      i_reduce8(s.state, dst.bytes.data(), dst.width, dst.height, dst.bpl, src.bytes.data(), src.width,
                src.height, src.bpl, t, t, t);
    benchmark::DoNotOptimize(dst.bytes.data());
  }
}

void BM_ReduceNaive(benchmark::State& st, const std::string& name, int factor, int t) {
  const auto& bm = page(name);
  const std::vector<int> thresholds(factor == 2 ? 1 : 3, t);
  for (auto _ : st) benchmark::DoNotOptimize(monotest::reduce_cascade_naive(bm, thresholds).bits.data());
}

void BM_ReduceLeptonica(benchmark::State& st, const std::string& name, int factor, int t) {
  PIX* pix = bench::to_pix(page(name));
  for (auto _ : st) {
    PIX* r = factor == 2 ? pixReduceRankBinaryCascade(pix, t, 0, 0, 0) : pixReduceRankBinaryCascade(pix, t, t, t, 0);
    benchmark::DoNotOptimize(r);
    pixDestroy(&r);
  }
  pixDestroy(&pix);
}

const bool registered = [] {
  setLeptDebugOK(0);
  for (const std::string name : {"ccitt1", "doc3"}) {
    benchmark::RegisterBenchmark(("Components/runs/" + name).c_str(), BM_ComponentsRuns, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Components/floodfill/" + name).c_str(), BM_ComponentsFloodFill, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Components/leptonica/" + name).c_str(), BM_ComponentsLeptonica, name)->Unit(benchmark::kMillisecond);
    for (auto [factor, t] : {std::pair{8, 1}, std::pair{2, 1}, std::pair{2, 2}, std::pair{2, 3}, std::pair{2, 4}}) {
      const std::string suffix = "/x" + std::to_string(factor) + "t" + std::to_string(t) + "/" + name;
      benchmark::RegisterBenchmark(("Reduce/core" + suffix).c_str(), BM_ReduceCore, name, factor, t)->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Reduce/naive" + suffix).c_str(), BM_ReduceNaive, name, factor, t)->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Reduce/leptonica" + suffix).c_str(), BM_ReduceLeptonica, name, factor, t)->Unit(benchmark::kMicrosecond);
    }
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
