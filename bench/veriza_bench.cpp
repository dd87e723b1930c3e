// Wrapper-layer benchmarks on 300-dpi sample pages, each beside a reference: rank reduction by 8
// against Leptonica's cascade, and a full-page raster copy against memcpy of the same bytes.

#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_lept.h"
#include "bench_wrapper.h"
#include "pages.h"
#include "pixr.h"
#include "pixr_ops.h"
#include "ref_bitmap.h"

namespace {

const monotest::RefBitmap& page(const std::string& name) { return monotest::cached_sample_page(name); }

using bench::Wrapper;

void BM_Reduce8Wrapper(benchmark::State& state, const std::string& name) {
  Wrapper w;
  PIXR* src = w.load(page(name));
  PIXR* dst = nullptr;
  for (auto _ : state) {
    if (w_reduce(w.s, src, 1, 1, 1, 0, &dst) != VLT_OK) state.SkipWithError("w_reduce failed");
    benchmark::DoNotOptimize(dst->imageAll);
  }
  w_destroyPixr(w.s, &dst);
  w_destroyPixr(w.s, &src);
}

void BM_Reduce8Leptonica(benchmark::State& state, const std::string& name) {
  PIX* src = bench::to_pix(page(name));
  for (auto _ : state) {
    PIX* d = pixReduceRankBinaryCascade(src, 1, 1, 1, 0);
    benchmark::DoNotOptimize(d);
    pixDestroy(&d);
  }
  pixDestroy(&src);
}

void BM_CopyWrapper(benchmark::State& state, const std::string& name) {
  Wrapper w;
  PIXR* src = w.load(page(name));
  PIXR* dst = nullptr;
  w_createPixr(w.s, src->width, src->height, 1, src->xRes, src->yRes, 32, &dst);
  for (auto _ : state) {
    if (w_rasterop(w.s, 0, 0, src, W_ROP_COPY, 0, 0, src->width, src->height, dst) != VLT_OK)
      state.SkipWithError("w_rasterop failed");
    benchmark::DoNotOptimize(dst->imageAll);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{src->bytesPerLine} * src->height);
  w_destroyPixr(w.s, &dst);
  w_destroyPixr(w.s, &src);
}

// The same bytes: every image line of the framed layout.
void BM_CopyMemcpy(benchmark::State& state, const std::string& name) {
  Wrapper w;
  PIXR* src = w.load(page(name));
  const size_t bytes = static_cast<size_t>(src->bytesPerLine) * static_cast<size_t>(src->height);
  std::vector<uint8_t> dst(bytes);
  uint8_t* from = nullptr;
  w_pixrGetLine(w.s, src, 0, &from);
  for (auto _ : state) {
    std::memcpy(dst.data(), from, bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  w_destroyPixr(w.s, &src);
}

const bool registered = [] {
  for (const std::string& name : monotest::sample_page_names()) {
    benchmark::RegisterBenchmark(("Reduce8_111/wrapper/" + name).c_str(), BM_Reduce8Wrapper, name);
    benchmark::RegisterBenchmark(("Reduce8_111/leptonica/" + name).c_str(), BM_Reduce8Leptonica, name);
    benchmark::RegisterBenchmark(("PageCopy/w_rasterop/" + name).c_str(), BM_CopyWrapper, name);
    benchmark::RegisterBenchmark(("PageCopy/memcpy/" + name).c_str(), BM_CopyMemcpy, name);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
