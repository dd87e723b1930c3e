// Decoding a letter page (2550 x 3300, a rendered documentation page) coded as one generic region,
// with the MQ coder (template 0, typical prediction) and with MMR, beside jbig2dec's library on
// the very same file. Both sides decode the whole file into a page bitmap.
//
// Symbol mode, in streams the public encoder makes (its symbol mode, one T.88 file): a section of
// ten documentation pages sharing one dictionary, decoded page after page in one pass, and the
// eight CCITT charts, one file each. The streams are made once per process by the encoder that
// JBIG2ENC names or that peers/build-jbig2enc.sh builds.

#include <benchmark/benchmark.h>

extern "C" {
#include <jbig2.h>
}

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "jb2_bench_streams.h"
#include "jb2_page_reader.h"
#include "pages.h"
#include "tools.h"
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

// The public encoder's symbol mode over the pages, as one file.
jb2bench::Bytes public_symbol_file(const std::vector<monotest::RefBitmap>& pages) {
  std::string program;
  if (const char* env = std::getenv("JBIG2ENC"); env != nullptr && *env != '\0') {
    program = env;
  } else {
    const monotest::ToolResult r = monotest::run_tool(monotest::shared_dir() + "/peers/build-jbig2enc.sh");
    if (r.exit_code != 0) throw std::runtime_error("cannot build the public encoder: " + r.output);
    program = r.output.substr(0, r.output.find_last_not_of(" \n") + 1);
  }
  monotest::TempDir dir;
  std::string names;
  for (size_t i = 0; i < pages.size(); ++i) {
    const std::string name = dir.file("p" + std::to_string(i) + ".pbm");
    monotest::write_pbm(name, pages[i]);
    names += " " + monotest::shell_quote(name);
  }
  const std::string out = dir.file("out.jb2");
  if (monotest::run_tool(monotest::shell_quote(program) + " -s" + names + " > " + monotest::shell_quote(out) +
                         " 2>/dev/null")
          .exit_code != 0)
    throw std::runtime_error("the public encoder failed");
  const std::string bytes = monotest::read_file(out);
  return jb2bench::Bytes(bytes.begin(), bytes.end());
}

const std::vector<jb2bench::Bytes>& symbol_files(bool charts) {
  static const std::vector<jb2bench::Bytes> section = [] {
    std::vector<monotest::RefBitmap> pages;
    for (int n = 1; n <= 10; ++n) pages.push_back(monotest::doc_page(n));
    return std::vector<jb2bench::Bytes>{public_symbol_file(pages)};
  }();
  static const std::vector<jb2bench::Bytes> ccitt = [] {
    std::vector<jb2bench::Bytes> files;
    for (int n = 1; n <= 8; ++n) files.push_back(public_symbol_file({monotest::ccitt_chart(n)}));
    return files;
  }();
  return charts ? ccitt : section;
}

void symbol_ours(benchmark::State& st, bool charts) {
  Engine e;
  const std::vector<jb2bench::Bytes>& files = symbol_files(charts);
  size_t bytes = 0, pages = 0;
  for (auto _ : st) {
    for (const jb2bench::Bytes& f : files) {
      std::vector<VltImage*> out;
      if (jb2test::read_pages(e.state, f.data(), f.size(), &out) != VLT_OK || out.empty())
        throw std::runtime_error("decode failed");
      pages = 0;
      for (VltImage* im : out) {
        benchmark::DoNotOptimize(im->rows[0]);
        VltImage_free(im);
        ++pages;
      }
    }
  }
  for (const jb2bench::Bytes& f : files) bytes += f.size();
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(bytes));
  st.counters["pages_per_file"] = static_cast<double>(pages);
}

void symbol_reference(benchmark::State& st, bool charts) {
  const std::vector<jb2bench::Bytes>& files = symbol_files(charts);
  size_t bytes = 0, pages = 0;
  for (auto _ : st) {
    for (const jb2bench::Bytes& f : files) {
      Jbig2Ctx* ctx = jbig2_ctx_new(nullptr, static_cast<Jbig2Options>(0), nullptr, nullptr, nullptr);
      if (jbig2_data_in(ctx, f.data(), f.size()) < 0) throw std::runtime_error("jbig2dec failed");
      jbig2_complete_page(ctx);
      pages = 0;
      for (Jbig2Image* page; (page = jbig2_page_out(ctx)) != nullptr; ++pages) {
        benchmark::DoNotOptimize(page->data);
        jbig2_release_page(ctx, page);
      }
      if (pages == 0) throw std::runtime_error("jbig2dec gave no page");
      jbig2_ctx_free(ctx);
    }
  }
  for (const jb2bench::Bytes& f : files) bytes += f.size();
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(bytes));
  st.counters["pages_per_file"] = static_cast<double>(pages);
}

void BM_SymbolSection10_Ours(benchmark::State& st) { symbol_ours(st, false); }
void BM_SymbolSection10_Jbig2dec(benchmark::State& st) { symbol_reference(st, false); }
void BM_SymbolCcittCharts_Ours(benchmark::State& st) { symbol_ours(st, true); }
void BM_SymbolCcittCharts_Jbig2dec(benchmark::State& st) { symbol_reference(st, true); }

void BM_GenericT0Tpgdon_Ours(benchmark::State& st) { ours(st, false); }
void BM_GenericT0Tpgdon_Jbig2dec(benchmark::State& st) { reference(st, false); }
void BM_GenericMmr_Ours(benchmark::State& st) { ours(st, true); }
void BM_GenericMmr_Jbig2dec(benchmark::State& st) { reference(st, true); }

BENCHMARK(BM_GenericT0Tpgdon_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenericT0Tpgdon_Jbig2dec)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenericMmr_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenericMmr_Jbig2dec)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SymbolSection10_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SymbolSection10_Jbig2dec)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SymbolCcittCharts_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SymbolCcittCharts_Jbig2dec)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
