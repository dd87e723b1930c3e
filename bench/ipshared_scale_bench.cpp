// Image-core rescaling and thresholding on a letter page (2550 x 3300, 300 dpi), and the
// rescaling also on noise of that size, beside a naive per-pixel loop and Leptonica. Compare
// the reported times as ratios.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "bench_ip_state.h"
#include "bench_lept.h"
#include "i_rescale.h"
#include "i_thresh.h"
#include "ipcore.h"
#include "bench_framed.h"
#include "pages.h"
#include "ref_rescale.h"

namespace {

const monotest::RefBitmap& letter() { return monotest::cached_sample_page("doc3"); }

// The same size in half-toned noise: no blank stretch for the rescale to pass over.
const monotest::RefBitmap& dense_page() {
  static const monotest::RefBitmap page = monotest::make_noise(letter().width, letter().height, 0.5, 3);
  return page;
}

using bench::FramedBuffer;

// The page in grey: dark ink with some noise on a light, noisy paper.
std::vector<uint8_t> grey_page() {
  const monotest::RefBitmap& bm = letter();
  std::vector<uint8_t> g(size_t(bm.width) * size_t(bm.height));
  std::mt19937 rng(7);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      g[size_t(y) * size_t(bm.width) + size_t(x)] =
          static_cast<uint8_t>(bm.get(x, y) ? 20 + rng() % 90 : 150 + rng() % 100);
  return g;
}

void BM_RescaleCore(benchmark::State& st, double factor, bool dense) {
  bench::CoreState core;
  const monotest::RefBitmap& bm = dense ? dense_page() : letter();
  FramedBuffer src(core.state, bm.width, bm.height, 1);
  for (int y = 0; y < bm.height; ++y) std::memcpy(src.line(y), bm.row(y), bm.stride);
  FramedBuffer dst(core.state, int32_t(bm.width * factor), int32_t(bm.height * factor), 1);
  for (auto _ : st) {
    i_rescaleNoInterp(core.state, src.all(), src.w + 64, src.h + 64, int32_t(src.bpl), 1, dst.all(),
                      dst.w + 64, dst.h + 64, int32_t(dst.bpl), 1);
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * dst.w * dst.h);
}

void BM_RescaleNaive(benchmark::State& st, double factor, bool dense) {
  const monotest::RefBitmap& bm = dense ? dense_page() : letter();
  for (auto _ : st) {
    monotest::RefBitmap out = monotest::scale_nearest_naive(bm, int(bm.width * factor), int(bm.height * factor));
    benchmark::DoNotOptimize(out.bits.data());
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(bm.width * factor) * int64_t(bm.height * factor));
}

void BM_RescaleLeptonica(benchmark::State& st, double factor, bool dense) {
  PIX* pix = bench::to_pix(dense ? dense_page() : letter());
  for (auto _ : st) {
    PIX* out = pixScale(pix, float(factor), float(factor));
    benchmark::DoNotOptimize(out);
    pixDestroy(&out);
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * int64_t(pixGetWidth(pix) * factor) *
                       int64_t(pixGetHeight(pix) * factor));
  pixDestroy(&pix);
}

// 8 to 1 bpp: ON where the value is below 128 (ink), as Leptonica's threshold gives it.
void BM_ThresholdCore(benchmark::State& st) {
  bench::CoreState core;
  const monotest::RefBitmap& bm = letter();
  const std::vector<uint8_t> grey = grey_page();
  FramedBuffer src(core.state, bm.width, bm.height, 8), dst(core.state, bm.width, bm.height, 1);
  for (int y = 0; y < bm.height; ++y) std::memcpy(src.line(y), grey.data() + size_t(y) * size_t(bm.width), size_t(bm.width));
  for (auto _ : st) {
    i_thresholdI(core.state, src.all(), src.w + 64, src.h + 64, int32_t(src.bpl), dst.all(),
                 int32_t(dst.bpl), nullptr, nullptr, nullptr, nullptr);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * bm.width * bm.height);
}

void BM_ThresholdNaive(benchmark::State& st) {
  const monotest::RefBitmap& bm = letter();
  const std::vector<uint8_t> grey = grey_page();
  monotest::RefBitmap out(bm.width, bm.height);
  for (auto _ : st) {
    for (int y = 0; y < bm.height; ++y) {
      const uint8_t* g = grey.data() + size_t(y) * size_t(bm.width);
      for (int x = 0; x < bm.width; ++x) out.set(x, y, g[x] < 128);
    }
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * bm.width * bm.height);
}

void BM_ThresholdLeptonica(benchmark::State& st) {
  const monotest::RefBitmap& bm = letter();
  const std::vector<uint8_t> grey = grey_page();
  PIX* pix = pixCreate(bm.width, bm.height, 8);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) pixSetPixel(pix, x, y, grey[size_t(y) * size_t(bm.width) + size_t(x)]);
  for (auto _ : st) {
    PIX* out = pixThresholdToBinary(pix, 128);
    benchmark::DoNotOptimize(out);
    pixDestroy(&out);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * bm.width * bm.height);
  pixDestroy(&pix);
}

const bool registered = [] {
  setLeptDebugOK(0);
  for (bool dense : {false, true})
    for (double f : {0.5, 2.0}) {
      const std::string name = std::string(f < 1 ? "x0.5" : "x2") + (dense ? "/noise" : "/doc3");
      benchmark::RegisterBenchmark(("Rescale1bpp/core/" + name).c_str(), BM_RescaleCore, f, dense);
      benchmark::RegisterBenchmark(("Rescale1bpp/leptonica/" + name).c_str(), BM_RescaleLeptonica, f, dense);
      benchmark::RegisterBenchmark(("Rescale1bpp/naive/" + name).c_str(), BM_RescaleNaive, f, dense);
    }
  benchmark::RegisterBenchmark("Threshold8To1/core", BM_ThresholdCore);
  benchmark::RegisterBenchmark("Threshold8To1/leptonica", BM_ThresholdLeptonica);
  benchmark::RegisterBenchmark("Threshold8To1/naive", BM_ThresholdNaive);
  return true;
}();

}  // namespace
