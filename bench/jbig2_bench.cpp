// JBIG2 codec benchmarks: generic region coding of real pages (the eight CCITT charts and two
// 300-dpi rendered pages), MQ with template 0 and typical prediction, and MMR, beside JBIG1
// coding of the same page by libjbig (what pbmtojbg runs). Counters give the coded bytes; compare
// times and bytes as ratios. The whole-process comparison with the public JBIG2 encoder is
// bench/jbig2_generic_compare.sh.

#include <benchmark/benchmark.h>

extern "C" {
#include <jbig.h>
}

#include <cstring>
#include <string>
#include <vector>

#include "jb2_encode.h"
#include "jb2_memsink.h"
#include "pages.h"
#include "vlt_state.h"

namespace {

const std::vector<std::string>& pages() {
  static const std::vector<std::string> names = {"ccitt1", "ccitt2", "ccitt3", "ccitt4", "ccitt5",
                                                 "ccitt6", "ccitt7", "ccitt8", "doc3",   "doc10"};
  return names;
}

// The page as packed rows of 32-bit words (the codec's bitmap form).
struct PackedPage {
  int width = 0, height = 0, words = 0;
  std::vector<uint8_t> bits;
  std::vector<uint8_t*> rows;
  VltImage image{};
};

const PackedPage& packed(const std::string& name) {
  static std::vector<std::pair<std::string, PackedPage*>> cache;
  for (auto& [n, p] : cache)
    if (n == name) return *p;
  const monotest::RefBitmap& bm = monotest::cached_sample_page(name);
  auto* p = new PackedPage;
  p->width = bm.width;
  p->height = bm.height;
  p->words = (bm.width + 31) / 32;
  p->bits.assign(static_cast<size_t>(p->words) * 4 * bm.height, 0);
  for (int y = 0; y < bm.height; ++y) {
    std::memcpy(p->bits.data() + static_cast<size_t>(y) * p->words * 4, bm.row(y), bm.stride);
    p->rows.push_back(p->bits.data() + static_cast<size_t>(y) * p->words * 4);
  }
  p->image.rows = p->rows.data();
  p->image.hdr.width = bm.width;
  p->image.hdr.height = bm.height;
  p->image.hdr.bytesPerLine = p->words * 4;
  p->image.hdr.type = VLT_IMAGE_PACKED;
  cache.emplace_back(name, p);
  return *p;
}

// Writes one generic region of the page into a fresh memory sink; the bytes written.
size_t encode_generic(VltState* state, const PackedPage& p, bool mmr) {
  DataSink* sink = nullptr;
  Jb2File* file = nullptr;
  if (jb2NewMemoryDataSink(state, &sink) != VLT_OK ||
      jb2CreateFile(sink, sink, state, &file) != VLT_OK)
    return 0;
  SegmentInfo seg{};
  seg.page = 1;
  seg.type = JB2_SEG_GENERIC_IMMEDIATE;
  seg.region =
      Jb2RegionInfo{static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height), 0, 0, 0};
  seg.hasBitmap = 1;
  seg.bitmap = const_cast<VltImage*>(&p.image);
  seg.body.generic.mmr = mmr;
  seg.body.generic.params = Jb2GenericParams{0, {3, -3, 2, -2}, {-1, -1, -2, -2}, 1};
  const bool ok = jb2EncodeGenRegion(file, &seg) == VLT_OK;
  const size_t bytes = ok ? dsCount(sink) : 0;
  VltAdtList* chunks = nullptr;
  jb2CloseMemoryDataSink(sink, &chunks);
  for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    state->free(c->buffer);
    state->free(c);
  }
  VltAdt_liFree(chunks);
  jb2FreeFile(file);
  return bytes;
}

void run_generic(benchmark::State& st, const std::string& name, bool mmr) {
  const PackedPage& p = packed(name);
  VltState* state = nullptr;
  Vlt_initVltState(&state, nullptr, nullptr, nullptr, nullptr, 0, 0);
  size_t bytes = 0;
  for (auto _ : st) {
    bytes = encode_generic(state, p, mmr);
    benchmark::DoNotOptimize(bytes);
  }
  Vlt_cleanupVltState(&state);
  if (bytes == 0) st.SkipWithError("encoding failed");
  st.counters["bytes"] = static_cast<double>(bytes);
  st.counters["pixels/s"] = benchmark::Counter(static_cast<double>(p.width) * p.height,
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void count_bytes(unsigned char*, size_t len, void* total) { *static_cast<size_t*>(total) += len; }

// libjbig with its defaults, as pbmtojbg codes a page: one layer, typical prediction.
void run_jbig1(benchmark::State& st, const std::string& name) {
  const monotest::RefBitmap& bm = monotest::cached_sample_page(name);
  std::vector<unsigned char> bits(bm.bits.begin(), bm.bits.end());
  size_t bytes = 0;
  for (auto _ : st) {
    bytes = 0;
    unsigned char* planes[1] = {bits.data()};
    jbg_enc_state s;
    jbg_enc_init(&s, static_cast<unsigned long>(bm.width), static_cast<unsigned long>(bm.height), 1,
                 planes, count_bytes, &bytes);
    jbg_enc_out(&s);
    jbg_enc_free(&s);
    benchmark::DoNotOptimize(bytes);
  }
  st.counters["bytes"] = static_cast<double>(bytes);
  st.counters["pixels/s"] = benchmark::Counter(static_cast<double>(bm.width) * bm.height,
                                               benchmark::Counter::kIsIterationInvariantRate);
}

const bool registered = [] {
  for (const std::string& name : pages()) {
    benchmark::RegisterBenchmark(("GenericMQ_T0_TPGDON/" + name).c_str(), run_generic, name, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("GenericMMR/" + name).c_str(), run_generic, name, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Jbig1_libjbig/" + name).c_str(), run_jbig1, name)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
