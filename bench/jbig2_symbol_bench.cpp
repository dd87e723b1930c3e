// Symbol dictionary and text region writers, per profile: the time to write a 5,000-symbol
// dictionary and a 3,000-instance text region, and the bytes a real page takes as dictionary and
// text regions. The public encoder's symbol mode on the same page is the yardstick (whole
// process, all its bytes), when JBIG2ENC names its program (peers/build-jbig2enc.sh prints it).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jb2_symbol_sample.h"
#include "pages.h"
#include "tools.h"
#include "vlt_state.h"

namespace {

using jb2test::Placed;
using jb2test::SymbolPage;
using monotest::RefBitmap;

struct State {
  VltState* state = nullptr;
  State() { Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 0, 0); }
  ~State() { Vlt_cleanupVltState(&state); }
};

// 5,000 distinct glyphs of rendered document pages.
const std::vector<RefBitmap>& five_thousand_glyphs() {
  static const std::vector<RefBitmap> shapes = [] {
    std::vector<RefBitmap> out;
    for (int n = 1; out.size() < 5000; ++n) {
      const SymbolPage p = jb2test::glyph_page(monotest::doc_page(n));
      for (const RefBitmap& s : p.shapes) {
        if (out.size() == 5000) break;
        out.push_back(s);
      }
    }
    return out;
  }();
  return shapes;
}

// Document pages one under the other until there are 3,000 glyphs: one region's worth.
const SymbolPage& doc_page_glyphs() {
  static const SymbolPage page = [] {
    std::vector<jb2test::Glyph> glyphs;
    int width = 0, height = 0;
    for (int n = 1; glyphs.size() < 3000; ++n) {
      const RefBitmap p = monotest::doc_page(n);
      for (jb2test::Glyph& g : jb2test::cut_glyphs(p)) {
        g.y += height;
        glyphs.push_back(std::move(g));
      }
      width = std::max(width, p.width);
      height += p.height;
    }
    glyphs.resize(3000);
    const auto classes = jb2test::exact_classes(glyphs);
    SymbolPage page;
    page.shapes = classes.shapes;
    for (size_t i = 0; i < glyphs.size(); ++i) page.placed.push_back({classes.classOf[i], glyphs[i].x, glyphs[i].y});
    page.width = width;
    page.height = height;
    return page;
  }();
  return page;
}

void BM_WriteSymbolDictionary(benchmark::State& st, int profile) {
  State s;
  const Jb2FileParams params = jb2test::profile_params(profile);
  jb2test::SymbolSet set(s.state, five_thousand_glyphs());
  size_t bytes = 0;
  for (auto _ : st) {
    jb2test::MemoryStream m(s.state);
    jb2SetFileParams(m.file(), &params);
    set.dict.referredCount = 0;
    jb2test::check(jb2EncodeSymDict(m.file(), &set.dict, nullptr, nullptr, nullptr, 1), "jb2EncodeSymDict");
    bytes = m.finish().size();
  }
  st.counters["symbols"] = static_cast<double>(set.symbols.size());
  st.counters["bytes"] = static_cast<double>(bytes);
}

// 3,000 glyphs of document pages as one text region over their dictionary.
void BM_WriteTextRegion(benchmark::State& st, int profile) {
  State s;
  const Jb2FileParams params = jb2test::profile_params(profile);
  const SymbolPage& page = doc_page_glyphs();
  jb2test::SymbolSet set(s.state, page.shapes);
  {
    jb2test::MemoryStream m(s.state);
    jb2SetFileParams(m.file(), &params);
    jb2test::check(jb2EncodeSymDict(m.file(), &set.dict, nullptr, nullptr, nullptr, 1), "jb2EncodeSymDict");
  }
  std::vector<Jb2Instance> instances;
  for (const Placed& p : page.placed) {
    instances.push_back({p.x, p.y, set.entry_of(p.shape), nullptr, nullptr});
  }
  SegmentInfo* dict = &set.dict;
  size_t bytes = 0;
  for (auto _ : st) {
    jb2test::MemoryStream m(s.state);
    jb2SetFileParams(m.file(), &params);
    jb2SetFileSegnum(m.file(), 1);
    SegmentInfo region{};
    region.type = JB2_SEG_TEXT_IMMEDIATE;
    region.page = 1;
    region.region = {static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height), 0, 0, 0};
    region.body.textRegion.count = static_cast<int32_t>(instances.size());
    region.body.textRegion.instances = instances.data();
    jb2test::check(jb2AddReferencedSegments(m.file(), &region, &dict, 1), "references");
    jb2test::check(jb2EncodeSymRegion(m.file(), &region, &dict, nullptr, nullptr, 0), "jb2EncodeSymRegion");
    s.state->free(region.referred);
    s.state->free(region.referredRetain);
    bytes = m.finish().size();
  }
  st.counters["instances"] = static_cast<double>(instances.size());
  st.counters["bytes"] = static_cast<double>(bytes);
}

// All bytes of a page as PDF carries it: dictionary (globals) plus page information and the
// text regions of two stripes.
void BM_PageBytes(benchmark::State& st, const std::string& name, int profile) {
  State s;
  SymbolPage page = jb2test::glyph_page(monotest::cached_sample_page(name));
  size_t bytes = 0;
  for (auto _ : st) {
    const jb2test::EmbeddedStreams e = jb2test::symbol_page_embedded(s.state, page, jb2test::profile_params(profile));
    bytes = e.globals.size() + e.page.size();
  }
  st.counters["bytes"] = static_cast<double>(bytes);
  st.counters["dictionary_bytes"] = static_cast<double>(
      jb2test::symbol_page_embedded(s.state, page, jb2test::profile_params(profile)).globals.size());
  st.counters["symbols"] = static_cast<double>(page.shapes.size());
  st.counters["instances"] = static_cast<double>(page.placed.size());
}

// The public encoder's symbol mode on the same page: whole process, every byte it writes.
void BM_PublicEncoderSymbolMode(benchmark::State& st, const std::string& name) {
  const char* program = std::getenv("JBIG2ENC");
  if (program == nullptr) {
    st.SkipWithError("JBIG2ENC is not set (peers/build-jbig2enc.sh prints the program)");
    return;
  }
  monotest::TempDir dir;
  monotest::write_pbm(dir.file("page.pbm"), monotest::cached_sample_page(name));
  const std::string cmd = "cd " + monotest::shell_quote(dir.path()) + " && " + monotest::shell_quote(program) +
                          " -s -p -b out page.pbm > /dev/null 2>&1";
  size_t bytes = 0;
  for (auto _ : st) {
    if (monotest::run_tool(cmd).exit_code != 0) {
      st.SkipWithError("the public encoder failed");
      return;
    }
    bytes = std::filesystem::file_size(dir.file("out.sym")) + std::filesystem::file_size(dir.file("out.0000"));
  }
  st.counters["bytes"] = static_cast<double>(bytes);
}

void register_all() {
  for (int profile : {1, 2, 3}) {
    const std::string p = "profile" + std::to_string(profile);
    benchmark::RegisterBenchmark(("BM_WriteSymbolDictionary/5000/" + p).c_str(), BM_WriteSymbolDictionary, profile)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_WriteTextRegion/3000/" + p).c_str(), BM_WriteTextRegion, profile)
        ->Unit(benchmark::kMillisecond);
  }
  for (const std::string name : {"doc3", "ccitt1"}) {
    for (int profile : {1, 2, 3})
      benchmark::RegisterBenchmark(("BM_PageBytes/" + name + "/profile" + std::to_string(profile)).c_str(),
                                   BM_PageBytes, name, profile)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(3);
    benchmark::RegisterBenchmark(("BM_PublicEncoderSymbolMode/" + name).c_str(), BM_PublicEncoderSymbolMode, name)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
