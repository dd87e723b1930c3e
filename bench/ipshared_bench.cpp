// Image-core benchmarks on the sample pages (CCITT charts and rendered documentation pages).
// Each operation is measured beside a reference; compare the reported times as ratios.

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <stdexcept>
#include <string>


#include <cstring>
#include <vector>

#include "bench_ip_state.h"
#include "bench_lept.h"
#include "ipcore.h"
#include "pages.h"
#include "ref_bitmap.h"
#include "ref_rasterop.h"

namespace {

const monotest::RefBitmap& page(const std::string& name) { return monotest::cached_sample_page(name); }

// 300-dpi letter pages, 2550 x 3300 at 1 bpp (rendered documentation pages), in word-padded
// lines for the raster operation: "doc3" is the source, "doc10" the destination.
constexpr int kPageW = 2550, kPageH = 3300;
constexpr uint32_t kPageBpl = (kPageW + 31) / 32 * 4;

std::vector<uint8_t> letter_page(const std::string& name) {
  const monotest::RefBitmap& bm = page(name);
  if (bm.width != kPageW || bm.height != kPageH) throw std::runtime_error(name + " is not a letter page");
  std::vector<uint8_t> buf(size_t{kPageBpl} * kPageH, 0);
  for (int y = 0; y < kPageH; ++y) std::memcpy(buf.data() + size_t(y) * kPageBpl, bm.row(y), bm.stride);
  return buf;
}

struct RopCase {
  const char* name;
  RasterOpCode op;
  unsigned truthTable;
  int leptOp;
};
constexpr RopCase kRops[] = {
    {"copy", IP_ROP_COPY, 12, PIX_SRC},
    {"or", IP_ROP_OR, 14, PIX_SRC | PIX_DST},
    {"xor", IP_ROP_XOR, 6, PIX_SRC ^ PIX_DST},
};

void BM_RasterOpCore(benchmark::State& st, RopCase rop, int shift) {
  bench::CoreState core;
  const std::vector<uint8_t> src = letter_page("doc3");
  std::vector<uint8_t> dst = letter_page("doc10");
  for (auto _ : st) {
    i_rasterOpFull(core.state, dst.data(), kPageW, kPageH, 0, 0, shift, 0, kPageW, kPageH, 1,
                   kPageBpl, rop.op, src.data(), kPageW, kPageH, 0, 0, 0, 0, 1, kPageBpl);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kPageBpl * kPageH);
}

void BM_RasterOpNaive(benchmark::State& st, RopCase rop, int shift) {
  const std::vector<uint8_t> src = letter_page("doc3");
  std::vector<uint8_t> dst = letter_page("doc10");
  monotest::RefRasterOp ref;
  ref.dst = dst.data();
  ref.dstBytesPerLine = kPageBpl;
  ref.dstX = shift;
  ref.width = kPageW - shift;
  ref.height = kPageH;
  ref.truthTable = rop.truthTable;
  ref.src = src.data();
  ref.srcBytesPerLine = kPageBpl;
  for (auto _ : st) {
    monotest::ref_raster_op(ref);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kPageBpl * kPageH);
}

void BM_RasterOpLeptonica(benchmark::State& st, RopCase rop, int shift) {
  PIX* src = bench::to_pix(page("doc3"));
  PIX* dst = bench::to_pix(page("doc10"));
  for (auto _ : st) {
    pixRasterop(dst, shift, 0, kPageW - shift, kPageH, rop.leptOp, src, 0, 0);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kPageBpl * kPageH);
  pixDestroy(&src);
  pixDestroy(&dst);
}

void BM_CountBitsCore(benchmark::State& st) {
  bench::CoreState core;
  const std::vector<uint8_t> page = letter_page("doc3");
  for (auto _ : st) {
    uint32_t n = 0;
    i_countBits(core.state, page.data(), 0, 0, kPageW, kPageH, 1, kPageBpl, &n);
    benchmark::DoNotOptimize(n);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kPageBpl * kPageH);
}

// Reference: std::popcount over the page's 32-bit words, the right edge masked.
void BM_CountBitsPopcount(benchmark::State& st) {
  const std::vector<uint8_t> page = letter_page("doc3");
  const uint32_t lastMask = ~0u << (32 - kPageW % 32);
  for (auto _ : st) {
    size_t n = 0;
    for (int y = 0; y < kPageH; ++y) {
      const uint8_t* row = page.data() + size_t(y) * kPageBpl;
      for (uint32_t i = 0; i < kPageBpl / 4; ++i) {
        uint32_t w = uint32_t(row[4 * i]) << 24 | uint32_t(row[4 * i + 1]) << 16 |
                     uint32_t(row[4 * i + 2]) << 8 | row[4 * i + 3];
        if (i + 1 == kPageBpl / 4) w &= lastMask;
        n += static_cast<size_t>(std::popcount(w));
      }
    }
    benchmark::DoNotOptimize(n);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kPageBpl * kPageH);
}

void BM_CountBitsLeptonica(benchmark::State& st) {
  PIX* pix = bench::to_pix(page("doc3"));
  l_int32* tab = makePixelSumTab8();
  for (auto _ : st) {
    l_int32 n = 0;
    pixCountPixels(pix, &n, tab);
    benchmark::DoNotOptimize(n);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kPageBpl * kPageH);
  LEPT_FREE(tab);
  pixDestroy(&pix);
}

const bool registered = [] {
  setLeptDebugOK(0);
  for (const RopCase& rop : kRops)
    for (int shift : {0, 3}) {
      const std::string suffix = std::string(rop.name) + (shift ? "/shift3" : "/aligned");
      benchmark::RegisterBenchmark(("RasterOp/core/" + suffix).c_str(), BM_RasterOpCore, rop, shift);
      benchmark::RegisterBenchmark(("RasterOp/leptonica/" + suffix).c_str(), BM_RasterOpLeptonica, rop, shift);
      benchmark::RegisterBenchmark(("RasterOp/naive/" + suffix).c_str(), BM_RasterOpNaive, rop, shift);
    }
  benchmark::RegisterBenchmark("CountBits/core/doc3", BM_CountBitsCore);
  benchmark::RegisterBenchmark("CountBits/popcount/doc3", BM_CountBitsPopcount);
  benchmark::RegisterBenchmark("CountBits/leptonica/doc3", BM_CountBitsLeptonica);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
