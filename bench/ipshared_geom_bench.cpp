// Image-core geometry beside Leptonica on a 300-dpi letter page: quarter and half turns,
// 3x3 dilation. Compare the reported times as ratios.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench_framed.h"
#include "bench_ip_state.h"
#include "bench_lept.h"
#include "i_dilate.h"
#include "i_orthrot.h"
#include "i_skew.h"
#include "pages.h"
#include "ref_bitmap.h"

namespace {

using bench::FramedBuffer;

const monotest::RefBitmap& letter() { return monotest::cached_sample_page("doc3"); }

using TurnFn = VltStatus (*)(IPState*, uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t);

void BM_TurnCore(benchmark::State& st, TurnFn turn, bool quarter) {
  bench::CoreState core;
  FramedBuffer src(core.state, letter());
  FramedBuffer dst(core.state, quarter ? src.h : src.w, quarter ? src.w : src.h, 1);
  for (auto _ : st) {
    turn(core.state, dst.all(), src.all(), src.w + 64, src.h + 64, int32_t(src.bpl), int32_t(dst.bpl), 1);
    benchmark::ClobberMemory();
  }
}

// Leptonica's quarter turn makes its destination on every call; its half turn can reuse one.
void BM_TurnLeptonica(benchmark::State& st, bool quarter) {
  PIX* pix = bench::to_pix(letter());
  PIX* dst = pixCreateTemplate(pix);
  for (auto _ : st) {
    if (quarter) {
      PIX* r = pixRotate90(pix, 1);
      benchmark::DoNotOptimize(r);
      pixDestroy(&r);
    } else {
      pixRotate180(dst, pix);
      benchmark::ClobberMemory();
    }
  }
  pixDestroy(&dst);
  pixDestroy(&pix);
}

void BM_Dilate3x3Core(benchmark::State& st) {
  bench::CoreState core;
  FramedBuffer src(core.state, letter());
  FramedBuffer dst(core.state, src.w, src.h, 1);
  const uint8_t cells[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  for (auto _ : st) {
    i_fastDilate(core.state, dst.all(), src.all(), nullptr, nullptr, src.w + 64, src.h + 64,
                 int32_t(src.bpl), int32_t(dst.bpl), 0, 0, 3, 3, 1, 1, cells);
    benchmark::ClobberMemory();
  }
}

// Leptonica's general dilation by the same 3x3 element, and its separable brick dilation.
void BM_Dilate3x3Leptonica(benchmark::State& st, bool brick) {
  PIX* pix = bench::to_pix(letter());
  PIX* dst = pixCreateTemplate(pix);
  SEL* sel = selCreateBrick(3, 3, 1, 1, SEL_HIT);
  for (auto _ : st) {
    if (brick) pixDilateBrick(dst, pix, 3, 3);
    else pixDilate(dst, pix, sel);
    benchmark::ClobberMemory();
  }
  selDestroy(&sel);
  pixDestroy(&dst);
  pixDestroy(&pix);
}

// The page sheared so that its lines fall by 13/1024 line per pixel (about 0.73 degrees).
monotest::RefBitmap skewed_letter() {
  const monotest::RefBitmap& flat = letter();
  monotest::RefBitmap bm(flat.width, flat.height);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) {
      const int sy = y - (x * 13 + 512) / 1024;
      if (sy >= 0 && flat.get(x, sy)) bm.set(x, y, 1);
    }
  return bm;
}

void BM_SkewCore(benchmark::State& st, int32_t lineStep) {
  bench::CoreState core;
  FramedBuffer page(core.state, skewed_letter());
  for (auto _ : st) {
    double angle = 0;
    int32_t confidence = 0;
    i_detectSkew(core.state, page.all(), page.w + 64, page.h + 64, int32_t(page.bpl), lineStep, &angle,
                 &confidence, 300, 300);
    benchmark::DoNotOptimize(angle);
  }
}

void BM_SkewLeptonica(benchmark::State& st) {
  PIX* pix = bench::to_pix(skewed_letter());
  for (auto _ : st) {
    l_float32 angle = 0, confidence = 0;
    pixFindSkew(pix, &angle, &confidence);
    benchmark::DoNotOptimize(angle);
  }
  pixDestroy(&pix);
}

const bool registered = [] {
  setLeptDebugOK(0);
  benchmark::RegisterBenchmark("Rotate90/core/doc3", BM_TurnCore, i_fastRot90, true)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Rotate90/leptonica/doc3", BM_TurnLeptonica, true)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Rotate180/core/doc3", BM_TurnCore, i_fastRot180, false)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Rotate180/leptonica/doc3", BM_TurnLeptonica, false)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Dilate3x3/core/doc3", BM_Dilate3x3Core)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Dilate3x3/leptonica/doc3", BM_Dilate3x3Leptonica, false)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Dilate3x3/leptonica-brick/doc3", BM_Dilate3x3Leptonica, true)->Unit(benchmark::kMillisecond);
  for (int32_t step : {1, 4})
    benchmark::RegisterBenchmark(("Skew/core/linestep" + std::to_string(step) + "/doc3").c_str(), BM_SkewCore, step)
        ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Skew/leptonica/doc3", BM_SkewLeptonica)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
