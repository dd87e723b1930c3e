// Arbitrary rotation and brick dilation of a 300-dpi page, each beside Leptonica doing the same
// job: rotation keeping the size (rotation without interpolation against Leptonica's sampling
// and two-shear rotations below 0.12 radians, three shears above), in place, and enlarged to
// hold the whole turned page; dilation by solid rectangles against pixDilateBrick.

#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

#include <string>

#include "bench_lept.h"
#include "bench_wrapper.h"
#include "pages.h"
#include "pixr_geom.h"
#include "pixr_morph.h"
#include "strel.h"

namespace {

using bench::Wrapper;

const char* const kPage = "doc3";
const monotest::RefBitmap& page() { return monotest::cached_sample_page(kPage); }

// w_rotateArb keeping the size, into a destination made once.
void BM_RotateKeepOurs(benchmark::State& state, float angle) {
  Wrapper w;
  PIXR* src = w.load(page());
  PIXR* dst = nullptr;
  w_clonePixr(w.s, src, &dst);
  for (auto _ : state) {
    if (w_rotateArb(w.s, src, angle, 1, 0, &dst) != VLT_OK) state.SkipWithError("w_rotateArb failed");
    benchmark::DoNotOptimize(dst->imageAll);
  }
  w_destroyPixr(w.s, &dst);
  w_destroyPixr(w.s, &src);
}

enum class LeptMethod { Sampling, TwoShear, ThreeShear };

void BM_RotateKeepLeptonica(benchmark::State& state, float angle, LeptMethod method) {
  PIX* src = bench::to_pix(page());
  const l_int32 cx = pixGetWidth(src) / 2, cy = pixGetHeight(src) / 2;
  for (auto _ : state) {
    PIX* d = method == LeptMethod::Sampling   ? pixRotateBySampling(src, cx, cy, angle, L_BRING_IN_WHITE)
             : method == LeptMethod::TwoShear ? pixRotate2Shear(src, cx, cy, angle, L_BRING_IN_WHITE)
                                              : pixRotate3Shear(src, cx, cy, angle, L_BRING_IN_WHITE);
    benchmark::DoNotOptimize(d);
    pixDestroy(&d);
  }
  pixDestroy(&src);
}

// In place, turning back and forth so the page stays a page.
void BM_RotateInPlaceOurs(benchmark::State& state, float angle) {
  Wrapper w;
  PIXR* src = w.load(page());
  float a = angle;
  for (auto _ : state) {
    PIXR* self = src;
    if (w_rotateArb(w.s, src, a, 1, 0, &self) != VLT_OK) state.SkipWithError("w_rotateArb failed");
    a = -a;
    benchmark::DoNotOptimize(src->imageAll);
  }
  w_destroyPixr(w.s, &src);
}

void BM_RotateInPlaceLeptonica(benchmark::State& state, float angle) {
  PIX* src = bench::to_pix(page());
  const l_int32 cx = pixGetWidth(src) / 2, cy = pixGetHeight(src) / 2;
  float a = angle;
  for (auto _ : state) {
    pixRotateShearIP(src, cx, cy, a, L_BRING_IN_WHITE);
    a = -a;
    benchmark::DoNotOptimize(pixGetData(src));
  }
  pixDestroy(&src);
}

// The whole turned page in a larger image.
void BM_RotateEnlargeOurs(benchmark::State& state, float angle) {
  Wrapper w;
  PIXR* src = w.load(page());
  for (auto _ : state) {
    PIXR* dst = nullptr;
    if (w_rotateArb(w.s, src, angle, 0, 0, &dst) != VLT_OK) state.SkipWithError("w_rotateArb failed");
    benchmark::DoNotOptimize(dst->imageAll);
    w_destroyPixr(w.s, &dst);
  }
  w_destroyPixr(w.s, &src);
}

void BM_RotateEnlargeLeptonica(benchmark::State& state, float angle, LeptMethod method) {
  PIX* src = bench::to_pix(page());
  for (auto _ : state) {
    PIX* big = pixEmbedForRotation(src, angle, L_BRING_IN_WHITE, pixGetWidth(src), pixGetHeight(src));
    const l_int32 cx = pixGetWidth(big) / 2, cy = pixGetHeight(big) / 2;
    PIX* d = method == LeptMethod::TwoShear ? pixRotate2Shear(big, cx, cy, angle, L_BRING_IN_WHITE)
                                            : pixRotate3Shear(big, cx, cy, angle, L_BRING_IN_WHITE);
    benchmark::DoNotOptimize(d);
    pixDestroy(&d);
    pixDestroy(&big);
  }
  pixDestroy(&src);
}

void BM_DilateBrickOurs(benchmark::State& state, int w, int h) {
  Wrapper wr;
  PIXR* src = wr.load(page());
  PIXR* dst = nullptr;
  w_clonePixr(wr.s, src, &dst);
  strel* e = nullptr;
  w_makeSolidCenterStrel(wr.s, w, h, &e);
  for (auto _ : state) {
    if (w_dilate(wr.s, src, e, &dst) != VLT_OK) state.SkipWithError("w_dilate failed");
    benchmark::DoNotOptimize(dst->imageAll);
  }
  w_destroyStrel(wr.s, &e);
  w_destroyPixr(wr.s, &dst);
  w_destroyPixr(wr.s, &src);
}

void BM_DilateBrickLeptonica(benchmark::State& state, int w, int h) {
  PIX* src = bench::to_pix(page());
  PIX* dst = pixCreateTemplate(src);
  for (auto _ : state) {
    pixDilateBrick(dst, src, w, h);
    benchmark::DoNotOptimize(pixGetData(dst));
  }
  pixDestroy(&dst);
  pixDestroy(&src);
}

const bool registered = [] {
  // Leptonica warns about in-place three-shear turns beyond 0.35 radians on every call.
  setMsgSeverity(L_SEVERITY_ERROR);
  const std::string page = std::string("/") + kPage;
  for (const float angle : {0.05f, 0.1f}) {
    const std::string a = "/" + std::to_string(angle).substr(0, 4);
    benchmark::RegisterBenchmark(("RotateKeep/ours" + a + page).c_str(), BM_RotateKeepOurs, angle);
    benchmark::RegisterBenchmark(("RotateKeep/lept_sampling" + a + page).c_str(), BM_RotateKeepLeptonica, angle,
                                 LeptMethod::Sampling);
    benchmark::RegisterBenchmark(("RotateKeep/lept_2shear" + a + page).c_str(), BM_RotateKeepLeptonica, angle,
                                 LeptMethod::TwoShear);
  }
  for (const float angle : {0.2f, 0.5f}) {
    const std::string a = "/" + std::to_string(angle).substr(0, 4);
    benchmark::RegisterBenchmark(("RotateKeep/ours" + a + page).c_str(), BM_RotateKeepOurs, angle);
    benchmark::RegisterBenchmark(("RotateKeep/lept_3shear" + a + page).c_str(), BM_RotateKeepLeptonica, angle,
                                 LeptMethod::ThreeShear);
    benchmark::RegisterBenchmark(("RotateInPlace/ours" + a + page).c_str(), BM_RotateInPlaceOurs, angle);
    benchmark::RegisterBenchmark(("RotateInPlace/lept_3shear" + a + page).c_str(), BM_RotateInPlaceLeptonica, angle);
  }
  for (const float angle : {0.05f, 0.2f}) {
    const std::string a = "/" + std::to_string(angle).substr(0, 4);
    benchmark::RegisterBenchmark(("RotateEnlarge/ours" + a + page).c_str(), BM_RotateEnlargeOurs, angle);
    benchmark::RegisterBenchmark(("RotateEnlarge/lept" + a + page).c_str(), BM_RotateEnlargeLeptonica, angle,
                                 angle < 0.12f ? LeptMethod::TwoShear : LeptMethod::ThreeShear);
  }
  for (const auto& [w, h] : {std::pair{2, 2}, {3, 3}, {5, 5}, {11, 11}, {21, 1}}) {
    const std::string size = "/" + std::to_string(w) + "x" + std::to_string(h);
    benchmark::RegisterBenchmark(("DilateBrick/ours" + size + page).c_str(), BM_DilateBrickOurs, w, h);
    benchmark::RegisterBenchmark(("DilateBrick/leptonica" + size + page).c_str(), BM_DilateBrickLeptonica, w, h);
  }
  return true;
}();

}  // namespace
