// The lossy token classifier beside Leptonica's rank-Hausdorff classifier: single two-way edge
// match tests, and classification of every component of the eight CCITT charts and two 300-dpi
// pages. Compare items per second as ratios.

#include <benchmark/benchmark.h>
#include <leptonica/allheaders.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_lept.h"
#include "cut_components.h"
#include "pages.h"
#include "tok_class.h"
#include "tok_classifier.h"
#include "tok_match.h"
#include "tok_params.h"

namespace {

using monotest::CutComponent;

constexpr int kMinSize = 6;  // the classifier's share of a page: components at least this wide or high

const std::vector<std::string>& page_names() {
  static const std::vector<std::string> names = {"ccitt1", "ccitt2", "ccitt3", "ccitt4", "ccitt5",
                                                 "ccitt6", "ccitt7", "ccitt8", "doc3",   "doc10"};
  return names;
}

// A page's classifiable components, and the same as Leptonica images.
struct PageGlyphs {
  std::vector<CutComponent> comps;
  PIX* page = nullptr;
  BOXA* boxes = nullptr;
  PIXA* images = nullptr;
};

const PageGlyphs& glyphs(const std::string& name) {
  static std::map<std::string, PageGlyphs> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  PageGlyphs g;
  const monotest::RefBitmap& bm = monotest::cached_sample_page(name);
  g.comps = monotest::cut_components(bm, kMinSize);
  g.page = bench::to_pix(bm);
  g.boxes = boxaCreate(0);
  g.images = pixaCreate(0);
  for (const CutComponent& c : g.comps) {
    boxaAddBox(g.boxes, boxCreate(c.x, c.y, c.width, c.height), L_INSERT);
    pixaAddPix(g.images, bench::to_pix(c), L_INSERT);
  }
  return cache.emplace(name, std::move(g)).first->second;
}

struct Engine {
  VltState* state = nullptr;
  TokParams params{};
  Engine() {
    Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 0, 0);
    tokSetDefaults(&params);
    params.engineState = state;
  }
  ~Engine() { Vlt_cleanupVltState(&state); }
};

// One section over the components of the pages, from bitmaps to output records.
size_t classify(Engine& e, const std::vector<const PageGlyphs*>& pages) {
  TokState* tok = nullptr;
  tokInit(&e.params, &tok);
  size_t n = 0;
  for (const PageGlyphs* p : pages)
    for (const CutComponent& c : p->comps) {
      auto* bits = static_cast<uint8_t*>(e.state->malloc(c.bits.size()));
      std::memcpy(bits, c.bits.data(), c.bits.size());
      TokBitmap b{uint16_t(c.width), uint16_t(c.height), bits, uint16_t(c.wordsPerLine), nullptr};
      tokAddBitmap(tok, &b);
      e.state->free(b.bits);
      ++n;
    }
  VltAdtList* out = nullptr;
  tokFinal(tok, &out);
  const size_t classes = out != nullptr ? out->count : 0;
  tokFreeOutput(tok, out, 0);
  tokFreeState(tok);
  benchmark::DoNotOptimize(classes);
  return n;
}

void BM_Classify(benchmark::State& st, std::vector<std::string> names) {
  std::vector<const PageGlyphs*> pages;
  for (const std::string& n : names) pages.push_back(&glyphs(n));
  Engine e;
  size_t n = 0;
  for (auto _ : st) n = classify(e, pages);
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * n));
  st.counters["components"] = static_cast<double>(n);
}

// Leptonica's rank-Hausdorff classifier (rank 0.97, 2x2 dilation) on the same components.
void BM_ClassifyLeptonica(benchmark::State& st, std::vector<std::string> names) {
  std::vector<const PageGlyphs*> pages;
  for (const std::string& n : names) pages.push_back(&glyphs(n));
  setMsgSeverity(L_SEVERITY_NONE);
  size_t n = 0;
  for (auto _ : st) {
    JBCLASSER* classer = jbRankHausInit(JB_CONN_COMPS, 100000, 100000, 2, 0.97f);
    n = 0;
    for (const PageGlyphs* p : pages) {
      jbAddPageComponents(classer, p->page, p->boxes, p->images);
      n += p->comps.size();
    }
    benchmark::DoNotOptimize(classer->nclass);
    jbClasserDestroy(&classer);
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * n));
}

// Candidate pairs as the classifier meets them: components of one page whose sizes differ by at
// most a pixel each way.
std::vector<std::pair<size_t, size_t>> candidate_pairs(const PageGlyphs& g) {
  std::vector<std::pair<size_t, size_t>> pairs;
  for (size_t i = 0; i < g.comps.size() && pairs.size() < 20000; ++i)
    for (size_t j = i + 1; j < g.comps.size() && pairs.size() < 20000; ++j)
      if (std::abs(g.comps[i].width - g.comps[j].width) <= 1 && std::abs(g.comps[i].height - g.comps[j].height) <= 1)
        pairs.emplace_back(i, j);
  return pairs;
}

void BM_EdgeMatch(benchmark::State& st, const std::string& name) {
  const PageGlyphs& g = glyphs(name);
  Engine e;
  TokState* tok = nullptr;
  tokInit(&e.params, &tok);
  std::vector<TokBox*> boxes;
  for (const CutComponent& c : g.comps) {
    auto* bits = static_cast<uint8_t*>(e.state->malloc(c.bits.size()));
    std::memcpy(bits, c.bits.data(), c.bits.size());
    TokBitmap b{uint16_t(c.width), uint16_t(c.height), bits, uint16_t(c.wordsPerLine), nullptr};
    TokBox* box = nullptr;
    tokBitmapToBox(tok, &b, &box);
    boxes.push_back(box);
  }
  const auto pairs = candidate_pairs(g);
  int64_t matches = 0;
  for (auto _ : st) {
    matches = 0;
    for (auto [i, j] : pairs) {
      int16_t dx = 0, dy = 0;
      matches += EdgeHausdorffMatch(boxes[i]->model, boxes[i]->edge, boxes[j]->model, boxes[j]->edge, &dx, &dy, tok);
    }
    benchmark::DoNotOptimize(matches);
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * pairs.size()));
  st.counters["pairs"] = static_cast<double>(pairs.size());
  st.counters["matching"] = static_cast<double>(matches);
  for (TokBox* b : boxes) FreeBox(b, tok);
  tokFreeState(tok);
}

// Leptonica's two-way Hausdorff test with 3x3-dilated images, tried at the same nine shifts
// until one passes.
void BM_EdgeMatchLeptonica(benchmark::State& st, const std::string& name) {
  const PageGlyphs& g = glyphs(name);
  std::vector<PIX*> pix, dilated;
  for (int i = 0; i < pixaGetCount(g.images); ++i) {
    PIX* p = pixaGetPix(g.images, i, L_CLONE);
    PIX* framed = pixAddBorder(p, 2, 0);
    pix.push_back(framed);
    dilated.push_back(pixDilateBrick(nullptr, framed, 3, 3));
    pixDestroy(&p);
  }
  const auto pairs = candidate_pairs(g);
  int64_t matches = 0;
  for (auto _ : st) {
    matches = 0;
    for (auto [i, j] : pairs)
      for (int s = 0; s <= 8; ++s)
        if (pixHaustest(pix[i], dilated[i], pix[j], dilated[j], trans[s].x, trans[s].y, 2, 2)) {
          ++matches;
          break;
        }
    benchmark::DoNotOptimize(matches);
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations() * pairs.size()));
  st.counters["matching"] = static_cast<double>(matches);
  for (PIX* p : pix) pixDestroy(&p);
  for (PIX* p : dilated) pixDestroy(&p);
}

void register_all() {
  for (const std::string& n : page_names()) {
    benchmark::RegisterBenchmark(("Classify/" + n).c_str(), BM_Classify, std::vector<std::string>{n})->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ClassifyLeptonica/" + n).c_str(), BM_ClassifyLeptonica, std::vector<std::string>{n})
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Classify/all", BM_Classify, page_names())->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ClassifyLeptonica/all", BM_ClassifyLeptonica, page_names())->Unit(benchmark::kMillisecond);
  for (const char* n : {"doc3", "ccitt4"}) {
    benchmark::RegisterBenchmark((std::string("EdgeMatch/") + n).c_str(), BM_EdgeMatch, std::string(n))->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("EdgeMatchLeptonica/") + n).c_str(), BM_EdgeMatchLeptonica, std::string(n))
        ->Unit(benchmark::kMillisecond);
  }
}

const int registered = (register_all(), 0);

}  // namespace

BENCHMARK_MAIN();
