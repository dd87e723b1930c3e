// Pages per second through jBig2Encode and jBig2Decode on the sample pages (lossless, profile 3,
// one page per section), and jbig2dec decoding the same dictionary and page streams beside our
// decode.

#include <benchmark/benchmark.h>

#include <map>
#include <stdexcept>
#include <string>

#include "jb2_method_runs.h"
#include "pages.h"
// jbig2.h redefines inline for old C compilers: it comes after every header of ours.
#include <jbig2.h>

namespace {

const jb2run::Methods& methods() {
  static const jb2run::Methods m;
  return m;
}

struct Coded {
  const monotest::RefBitmap* page;
  jb2run::Section section;
};

const Coded& coded(const std::string& name) {
  static std::map<std::string, Coded> cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    const monotest::RefBitmap& p = monotest::cached_sample_page(name);
    it = cache.emplace(name, Coded{&p, jb2run::encode(methods(), {&p}, 3, true)}).first;
  }
  return it->second;
}

void BM_Encode(benchmark::State& state, const std::string& name) {
  const monotest::RefBitmap& p = monotest::cached_sample_page(name);
  for (auto _ : state) benchmark::DoNotOptimize(jb2run::encode(methods(), {&p}, 3, true));
  state.counters["pages/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Decode(benchmark::State& state, const std::string& name) {
  const Coded& c = coded(name);
  for (auto _ : state) elfRefDown(jb2run::decoded_image(methods(), c.section, {c.page}));
  state.counters["pages/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Jbig2dec(benchmark::State& state, const std::string& name) {
  const Coded& c = coded(name);
  for (auto _ : state) {
    Jbig2Ctx* globals = jbig2_ctx_new(nullptr, JBIG2_OPTIONS_EMBEDDED, nullptr, nullptr, nullptr);
    jbig2_data_in(globals, c.section.dictionary.data(), c.section.dictionary.size());
    Jbig2GlobalCtx* g = jbig2_make_global_ctx(globals);
    Jbig2Ctx* ctx = jbig2_ctx_new(nullptr, JBIG2_OPTIONS_EMBEDDED, g, nullptr, nullptr);
    if (jbig2_data_in(ctx, c.section.pages[0].data(), c.section.pages[0].size()) < 0)
      throw std::runtime_error("jbig2dec failed");
    jbig2_complete_page(ctx);
    Jbig2Image* page = jbig2_page_out(ctx);
    if (page == nullptr) throw std::runtime_error("jbig2dec gave no page");
    benchmark::DoNotOptimize(page->data);
    jbig2_release_page(ctx, page);
    jbig2_ctx_free(ctx);
    jbig2_global_ctx_free(g);
  }
  state.counters["pages/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

const int registered = [] {
  for (const std::string& name : monotest::sample_page_names()) {
    benchmark::RegisterBenchmark(("Encode/" + name).c_str(), BM_Encode, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Decode/" + name).c_str(), BM_Decode, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Jbig2dec/" + name).c_str(), BM_Jbig2dec, name)->Unit(benchmark::kMillisecond);
  }
  return 0;
}();

}  // namespace
BENCHMARK_MAIN();
