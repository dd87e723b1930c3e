// The page-component stage beside Leptonica: components found (and, on the lossless road, tokens
// added) per second on a page, against pixConnComp with pixClipRectangles on the same page, and
// against pixConnComp making each component's own image. Compare items per second as ratios.

#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

#include <string>
#include <vector>

#include "bench_lept.h"
#include "byteorder.h"
#include "pages.h"
#include "pixr.h"
#include "tok_classifier.h"
#include "tok_pagecc.h"

namespace {

// A framed page buffer in the wrapper's layout.
struct FramedPage {
  int32_t width = 0, height = 0, bpl = 0;
  std::vector<uint8_t> bytes;
};

const FramedPage& framed_page(VltState* state, const std::string& name) {
  static std::vector<std::pair<std::string, FramedPage>> cache;
  for (const auto& [n, p] : cache)
    if (n == name) return p;
  const monotest::RefBitmap& bm = monotest::cached_sample_page(name);
  FramedPage p;
  p.width = bm.width;
  p.height = bm.height;
  size_t size = 0;
  w_pixrImageProperties(state->ipwState, bm.width, bm.height, 1, 32, &p.bpl, &size);
  p.bytes.assign(size_t(p.bpl) * size_t(bm.height + 64), 0);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x)
      if (bm.get(x, y)) mono::set_bit(p.bytes.data() + size_t(y + 32) * size_t(p.bpl), size_t(x + 32), 1);
  cache.emplace_back(name, std::move(p));
  return cache.back().second;
}

struct Counts {
  int64_t components = 0;
  int64_t tokens = 0;
};

// One page through getBoxesLossy: every component to the exact-match tokenizer (lossless), or
// painted into a bitmap of its own (bitmaps), with every record made for it and released after.
Counts page_components(VltState* es, const FramedPage& p, bool lossless) {
  VltLlTokState* ll = nullptr;
  VltLlTokOptions o{0, es};
  VltLlTokInit(&ll, &o);
  VltTokBlock* tokBlock = nullptr;
  VltPosBlock* posBlock = nullptr;
  VltCC_initTokBlock(es, &tokBlock, 50);
  VltCC_initPosBlock(es, &posBlock, 50);
  CcData* cc = nullptr;
  ccDataInit(es, 1, 0, 300, 300, 100000, 100000, 1, nullptr, 0, p.width, p.height, &cc);
  auto* residuals = static_cast<ResidualPos*>(es->malloc(5000 * sizeof(ResidualPos)));
  VltLlCCData_init(es, &cc->lossless, 0, ll, residuals, 0, 5000, nullptr, cc->maxWidth, cc->maxHeight, tokBlock,
                   posBlock, 0, 0, 0);
  VltAdtList* pictures = nullptr;
  VltAdtList* positions = nullptr;
  getBoxesLossy(es, p.bytes.data(), p.width, p.height, p.bpl, 1, 0, nullptr, nullptr, &pictures, &positions,
                lossless ? MakeModelsFromRuns : MakeModelsFromRunsWithoutTellingTokenizer, cc, nullptr, nullptr);
  const Counts n{cc->componentCount + cc->lossless.componentCount, tokBlock->count};
  for (VltAdtListNode* node = cc->components->first; node != nullptr; node = node->next)
    tok_freeComponent(es, static_cast<TokComponent*>(node->data), TOK_POOL_COMPONENT);
  VltAdt_liFree(cc->components);
  VltAdt_liFree(cc->large);
  VltAdt_liFree(pictures);
  VltAdt_liFree(positions);
  es->free(cc->lossless.residuals);
  ccDataCleanup(es, &cc);
  VltLlTokAbort(ll);
  VltCC_cleanupTokBlock(es, tokBlock);
  VltCC_cleanupPosBlock(es, posBlock);
  return n;
}

void BM_PageComponents(benchmark::State& st, const std::string& name, bool lossless) {
  VltState* es = nullptr;
  Vlt_initVltState(&es, nullptr, nullptr, nullptr, nullptr, 1, 0);
  const FramedPage& p = framed_page(es, name);
  Counts n;
  for (auto _ : st) n = page_components(es, p, lossless);
  st.SetItemsProcessed(st.iterations() * n.components);
  st.counters["components"] = static_cast<double>(n.components);
  if (lossless) {
    st.counters["tokens"] = static_cast<double>(n.tokens);
    st.counters["tokens/s"] = benchmark::Counter(static_cast<double>(n.tokens), benchmark::Counter::kIsIterationInvariantRate);
  }
  Vlt_cleanupVltState(&es);
}

// pixConnComp for the boxes, then pixClipRectangles for their images; or pixConnComp making each
// component's own image.
void BM_PageComponentsLeptonica(benchmark::State& st, const std::string& name, bool clip) {
  PIX* pix = bench::to_pix(monotest::cached_sample_page(name));
  int n = 0;
  for (auto _ : st) {
    PIXA* pixa = nullptr;
    BOXA* boxa = pixConnComp(pix, clip ? nullptr : &pixa, 8);
    if (clip) pixa = pixClipRectangles(pix, boxa);
    n = boxaGetCount(boxa);
    benchmark::DoNotOptimize(pixaGetCount(pixa));
    pixaDestroy(&pixa);
    boxaDestroy(&boxa);
  }
  st.SetItemsProcessed(st.iterations() * n);
  st.counters["components"] = n;
  pixDestroy(&pix);
}

const bool registered = [] {
  for (const std::string name : {"doc3", "doc10", "ccitt1", "ccitt4"}) {
    benchmark::RegisterBenchmark(("PageComponents/lossless/" + name).c_str(), BM_PageComponents, name, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("PageComponents/bitmaps/" + name).c_str(), BM_PageComponents, name, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("PageComponentsLeptonica/connComp+clip/" + name).c_str(), BM_PageComponentsLeptonica,
                                 name, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("PageComponentsLeptonica/connCompImages/" + name).c_str(),
                                 BM_PageComponentsLeptonica, name, false)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
