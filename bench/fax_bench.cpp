// G4 (T.6) encode and decode of the eight CCITT charts and a 300-dpi text page, beside libtiff's
// Fax4 codec driven through its API on in-memory TIFFs.

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "fax_decode.h"
#include "fax_encode.h"
#include "pages.h"
#include "vlt_state.h"

namespace {

using monotest::RefBitmap;

// ---- an in-memory file for libtiff ----------------------------------------------------------

struct MemFile {
  std::vector<uint8_t> bytes;
  toff_t pos = 0;
};

tmsize_t mem_read(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  const toff_t avail = f->pos < f->bytes.size() ? f->bytes.size() - f->pos : 0;
  const toff_t k = static_cast<toff_t>(n) < avail ? static_cast<toff_t>(n) : avail;
  std::memcpy(buf, f->bytes.data() + f->pos, k);
  f->pos += k;
  return static_cast<tmsize_t>(k);
}

tmsize_t mem_write(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  if (f->pos + static_cast<toff_t>(n) > f->bytes.size()) f->bytes.resize(f->pos + static_cast<toff_t>(n));
  std::memcpy(f->bytes.data() + f->pos, buf, static_cast<size_t>(n));
  f->pos += static_cast<toff_t>(n);
  return n;
}

toff_t mem_seek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemFile*>(h);
  const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->pos : f->bytes.size();
  f->pos = base + off;
  return f->pos;
}

int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<MemFile*>(h)->bytes.size(); }
int mem_map(thandle_t, void**, toff_t*) { return 0; }
void mem_unmap(thandle_t, void*, toff_t) {}

TIFF* mem_open(MemFile* f, const char* mode) {
  f->pos = 0;
  return TIFFClientOpen("mem", mode, f, mem_read, mem_write, mem_seek, mem_close, mem_size, mem_map,
                        mem_unmap);
}

// Codes the page as one G4 strip with libtiff.
void libtiff_encode(MemFile* f, const RefBitmap& bm) {
  f->bytes.clear();
  TIFF* t = mem_open(f, "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(bm.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(bm.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(bm.height));
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(bm.bits.data()), static_cast<tmsize_t>(bm.bits.size()));
  TIFFClose(t);
}

// ---- pages ----------------------------------------------------------------------------------

struct Page {
  RefBitmap image;
  std::vector<uint32_t> words;  // rows padded to whole words
  int32_t stride = 0;
};

const Page& page(int n) {  // 1-8 the charts, 9 the text page
  static std::map<int, Page> cache;
  auto it = cache.find(n);
  if (it != cache.end()) return it->second;
  Page p;
  p.image = n <= 8 ? monotest::ccitt_chart(n) : monotest::doc_page(1);
  p.stride = (p.image.width + 31) / 32;
  p.words.assign(static_cast<size_t>(p.stride) * p.image.height, 0u);
  for (int y = 0; y < p.image.height; ++y)
    std::memcpy(p.words.data() + static_cast<size_t>(p.stride) * y, p.image.row(y), p.image.stride);
  return cache.emplace(n, std::move(p)).first->second;
}

std::string page_name(int n) { return n <= 8 ? "chart" + std::to_string(n) : "text300dpi"; }

struct EngineState {
  VltState* s = nullptr;
  EngineState() { Vlt_initVltState(&s, nullptr, nullptr, nullptr, nullptr, 0, 0); }
  ~EngineState() { Vlt_cleanupVltState(&s); }
};

std::vector<uint8_t> our_g4(const Page& p, VltState* st) {
  std::vector<uint8_t> out(p.image.bits.size() * 2 + 1024);
  size_t size = out.size();
  if (g4Encode(p.words.data(), p.image.width, p.image.height, p.stride, out.data(), &size, 1, st) != VLT_OK)
    throw std::runtime_error("g4Encode failed");
  out.resize(size);
  return out;
}

void BM_G4Encode_Ours(benchmark::State& state) {
  const Page& p = page(static_cast<int>(state.range(0)));
  EngineState st;
  std::vector<uint8_t> out(p.image.bits.size() * 2 + 1024);
  for (auto _ : state) {
    size_t size = out.size();
    g4Encode(p.words.data(), p.image.width, p.image.height, p.stride, out.data(), &size, 1, st.s);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(page_name(static_cast<int>(state.range(0))));
}

void BM_G4Encode_Libtiff(benchmark::State& state) {
  const Page& p = page(static_cast<int>(state.range(0)));
  MemFile f;
  f.bytes.reserve(p.image.bits.size());
  for (auto _ : state) {
    libtiff_encode(&f, p.image);
    benchmark::DoNotOptimize(f.bytes.data());
  }
  state.SetLabel(page_name(static_cast<int>(state.range(0))));
}

void BM_G4Decode_Ours(benchmark::State& state) {
  const Page& p = page(static_cast<int>(state.range(0)));
  EngineState st;
  const std::vector<uint8_t> coded = our_g4(p, st.s);
  std::vector<uint32_t> out(p.words.size());
  for (auto _ : state) {
    std::memset(out.data(), 0, out.size() * 4);  // decoded lines are ORed in
    g4Decode(out.data(), p.image.width, p.image.height, p.stride, 0, p.image.width - 1,
             p.image.height - 1, coded.data(), coded.size(), 1, nullptr, st.s);
    benchmark::DoNotOptimize(out.data());
  }
  if (std::memcmp(out.data(), p.words.data(), out.size() * 4) != 0) state.SkipWithError("decoded pixels differ");
  state.SetLabel(page_name(static_cast<int>(state.range(0))));
}

void BM_G4Decode_Libtiff(benchmark::State& state) {
  const Page& p = page(static_cast<int>(state.range(0)));
  MemFile f;
  libtiff_encode(&f, p.image);
  TIFF* t = mem_open(&f, "r");
  std::vector<uint8_t> out(p.image.bits.size());
  for (auto _ : state) {
    TIFFReadEncodedStrip(t, 0, out.data(), static_cast<tmsize_t>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  TIFFClose(t);
  if (out != p.image.bits) state.SkipWithError("decoded pixels differ");
  state.SetLabel(page_name(static_cast<int>(state.range(0))));
}

void Pages(benchmark::internal::Benchmark* b) {
  for (int n = 1; n <= 9; ++n) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_G4Encode_Ours)->Apply(Pages);
BENCHMARK(BM_G4Encode_Libtiff)->Apply(Pages);
BENCHMARK(BM_G4Decode_Ours)->Apply(Pages);
BENCHMARK(BM_G4Decode_Libtiff)->Apply(Pages);

}  // namespace

BENCHMARK_MAIN();
