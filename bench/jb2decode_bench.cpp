// Decoding a letter page (2550 x 3300, a rendered documentation page) coded as one generic region,
// with the MQ coder (template 0, typical prediction) and with MMR, beside jbig2dec's library on
// the very same file. Both sides decode the whole file into a page bitmap.

#include <benchmark/benchmark.h>

extern "C" {
#include <jbig2.h>
}

#include <stdexcept>
#include <string>

#include "jb2_bench_streams.h"
#include "jb2_page_reader.h"
#include "vlt_state.h"

namespace {

struct Engine {
  VltState* state = nullptr;
  Engine() {
    if (Vlt_initVltState(&state, nullptr, nullptr, stderr, Vlt_fileErrPrinter, 0, 0) != VLT_OK)
      throw std::runtime_error("engine state");
  }
  ~Engine() { Vlt_cleanupVltState(&state); }
};

void ours(benchmark::State& st, bool mmr) {
  Engine e;
  const jb2bench::Bytes& file = jb2bench::page_stream(e.state, mmr);
  for (auto _ : st) {
    VltImage* page = nullptr;
    if (jb2test::read_page(e.state, file.data(), file.size(), jb2test::StreamForm::kFile, &page) != VLT_OK)
      throw std::runtime_error("decode failed");
    benchmark::DoNotOptimize(page->rows[0]);
    VltImage_free(page);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(file.size()));
}

void reference(benchmark::State& st, bool mmr) {
  Engine e;
  const jb2bench::Bytes& file = jb2bench::page_stream(e.state, mmr);
  for (auto _ : st) {
    Jbig2Ctx* ctx = jbig2_ctx_new(nullptr, static_cast<Jbig2Options>(0), nullptr, nullptr, nullptr);
    if (jbig2_data_in(ctx, file.data(), file.size()) < 0) throw std::runtime_error("jbig2dec failed");
    jbig2_complete_page(ctx);
    Jbig2Image* page = jbig2_page_out(ctx);
    if (page == nullptr) throw std::runtime_error("jbig2dec gave no page");
    benchmark::DoNotOptimize(page->data);
    jbig2_release_page(ctx, page);
    jbig2_ctx_free(ctx);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(file.size()));
}

void BM_GenericT0Tpgdon_Ours(benchmark::State& st) { ours(st, false); }
void BM_GenericT0Tpgdon_Jbig2dec(benchmark::State& st) { reference(st, false); }
void BM_GenericMmr_Ours(benchmark::State& st) { ours(st, true); }
void BM_GenericMmr_Jbig2dec(benchmark::State& st) { reference(st, true); }

BENCHMARK(BM_GenericT0Tpgdon_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenericT0Tpgdon_Jbig2dec)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenericMmr_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenericMmr_Jbig2dec)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
