// Standalone JBIG2 files decoded in process, every page: through jBig2Decode as the interpreter
// calls it (the file split into page streams as `monodoc decode` splits it, a page image a page),
// and through jbig2dec's library (the whole file fed in, every page taken out). The files are
// those bench/decode_compare.sh makes, named in JB2_DECODE_FILES (colon-separated).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "jb2_method_runs.h"
#include "standalone.h"
#include "tools.h"
// jbig2.h redefines inline for old C compilers: it comes after every header of ours.
#include <jbig2.h>

namespace {

const jb2run::Methods& methods() {
  static const jb2run::Methods m;
  return m;
}

struct File {
  std::string bytes;
  std::vector<jb2run::Section> pages;  // one page a section, no dictionary
  std::vector<monotest::RefBitmap> sizes;
};

File load(const std::string& path) {
  File f{monotest::read_file(path), {}, {}};
  std::vector<monodoc::PageStream> streams;
  std::string error;
  if (!monodoc::split_standalone(f.bytes, &streams, &error)) throw std::runtime_error(path + ": " + error);
  for (const monodoc::PageStream& s : streams) {
    int32_t width = 0, height = 0;
    if (!monodoc::stream_page_size(s.bytes, &width, &height)) throw std::runtime_error(path + ": no page size");
    f.pages.push_back({{}, {jb2run::Bytes(s.bytes.begin(), s.bytes.end())}});
    f.sizes.emplace_back(width, height);
  }
  return f;
}

void BM_JBig2Decode(benchmark::State& state, const File* f) {
  for (auto _ : state)
    for (size_t i = 0; i < f->pages.size(); ++i) elfRefDown(jb2run::decoded_image(methods(), f->pages[i], {&f->sizes[i]}));
  state.counters["pages/s"] =
      benchmark::Counter(double(state.iterations() * f->pages.size()), benchmark::Counter::kIsRate);
}

void BM_Libjbig2dec(benchmark::State& state, const File* f) {
  for (auto _ : state) {
    Jbig2Ctx* ctx = jbig2_ctx_new(nullptr, static_cast<Jbig2Options>(0), nullptr, nullptr, nullptr);
    if (jbig2_data_in(ctx, reinterpret_cast<const uint8_t*>(f->bytes.data()), f->bytes.size()) < 0)
      throw std::runtime_error("jbig2dec failed");
    jbig2_complete_page(ctx);
    size_t pages = 0;
    for (Jbig2Image* page; (page = jbig2_page_out(ctx)) != nullptr; ++pages) {
      benchmark::DoNotOptimize(page->data);
      jbig2_release_page(ctx, page);
    }
    if (pages != f->pages.size()) throw std::runtime_error("jbig2dec gave another page count");
    jbig2_ctx_free(ctx);
  }
  state.counters["pages/s"] =
      benchmark::Counter(double(state.iterations() * f->pages.size()), benchmark::Counter::kIsRate);
}

const int registered = [] {
  const char* list = std::getenv("JB2_DECODE_FILES");
  std::string rest = list != nullptr ? list : "";
  static std::vector<File> files;
  files.reserve(16);
  while (!rest.empty()) {
    const size_t colon = rest.find(':');
    const std::string path = rest.substr(0, colon);
    rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    if (path.empty() || files.size() == files.capacity()) continue;
    files.push_back(load(path));
    const std::string name = path.substr(path.find_last_of('/') + 1);
    benchmark::RegisterBenchmark(("jBig2Decode/" + name).c_str(), BM_JBig2Decode, &files.back())
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("libjbig2dec/" + name).c_str(), BM_Libjbig2dec, &files.back())
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
