// Blitter and MQ coder benchmarks. Blitting: OR-composing 50,000 glyph-sized symbols into a
// 300-dpi letter page, beside the per-pixel reference. MQ coding: decisions per second of the
// engine's coder beside the flowchart coder of the test support library, on the same decisions.
// Compare the reported times as ratios.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "blit_reference.h"
#include "mq_reference.h"
#include "vlt_blit.h"
#include "vlt_mq.h"

namespace {

constexpr int kPageWidth = 2550;  // 8.5 x 11 in at 300 dpi
constexpr int kPageHeight = 3300;
constexpr int kPageWords = (kPageWidth + 31) / 32;
constexpr int kSymbols = 50000;

struct Symbol {
  int w, h, words;
  std::vector<uint8_t> bits;  // rows of words, padding bits 0
};

struct Placement {
  int symbol, x, y;
};

struct BlitWork {
  std::vector<Symbol> symbols;
  std::vector<Placement> placements;
};

const BlitWork& blit_work() {
  static const BlitWork work = [] {
    BlitWork w;
    std::mt19937 rng(300);
    for (int i = 0; i < 200; ++i) {
      Symbol s;
      s.w = 8 + static_cast<int>(rng() % 33);
      s.h = 12 + static_cast<int>(rng() % 29);
      s.words = (s.w + 31) / 32;
      s.bits.assign(static_cast<size_t>(s.words) * 4 * s.h, 0);
      for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
          if (rng() % 3 == 0)
            s.bits[static_cast<size_t>(y) * s.words * 4 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      w.symbols.push_back(std::move(s));
    }
    // Positions over the whole page, a few of them cut by its edges.
    for (int i = 0; i < kSymbols; ++i)
      w.placements.push_back({static_cast<int>(rng() % 200), static_cast<int>(rng() % (kPageWidth + 20)) - 10,
                              static_cast<int>(rng() % (kPageHeight + 20)) - 10});
    return w;
  }();
  return work;
}

void BM_BlitGlyphsOr(benchmark::State& state) {
  const BlitWork& w = blit_work();
  std::vector<uint8_t> page(static_cast<size_t>(kPageWords) * 4 * kPageHeight);
  for (auto _ : state) {
    for (const Placement& p : w.placements) {
      const Symbol& s = w.symbols[static_cast<size_t>(p.symbol)];
      VltBlat_blitBits(page.data(), kPageWords, 0, 0, kPageWidth, kPageHeight, s.bits.data(), s.words,
                       s.w, s.h, p.x, p.y);
    }
    benchmark::DoNotOptimize(page.data());
  }
  state.SetItemsProcessed(state.iterations() * kSymbols);
}

void BM_BlitGlyphsOrPerPixel(benchmark::State& state) {
  const BlitWork& w = blit_work();
  std::vector<uint8_t> page(static_cast<size_t>(kPageWords) * 4 * kPageHeight);
  for (auto _ : state) {
    for (const Placement& p : w.placements) {
      const Symbol& s = w.symbols[static_cast<size_t>(p.symbol)];
      monotest::ref_blit(page.data(), static_cast<size_t>(kPageWords) * 4, 0, 0, kPageWidth, kPageHeight,
                         s.bits.data(), static_cast<size_t>(s.words) * 4, s.w, s.h, p.x, p.y, VLT_BLIT_OR);
    }
    benchmark::DoNotOptimize(page.data());
  }
  state.SetItemsProcessed(state.iterations() * kSymbols);
}

constexpr size_t kDecisions = 1 << 20;
constexpr size_t kContexts = 1024;

struct MqWork {
  std::vector<uint16_t> cx;
  std::vector<uint8_t> bit;
  std::vector<uint8_t> coded;
};

// Context-dependent skews, as in generic-region coding of text.
const MqWork& mq_work() {
  static const MqWork work = [] {
    MqWork w;
    std::mt19937 rng(88);
    std::vector<double> p(kContexts);
    for (double& q : p) {
      const double u = std::uniform_real_distribution<double>(0, 1)(rng);
      q = u * u * u;
    }
    for (size_t i = 0; i < kDecisions; ++i) {
      const auto c = static_cast<uint16_t>(rng() % kContexts);
      w.cx.push_back(c);
      w.bit.push_back(std::bernoulli_distribution(p[c])(rng) ? 1 : 0);
    }
    monotest::MqRefEncoder enc(kContexts);
    for (size_t i = 0; i < kDecisions; ++i) enc.encode(w.cx[i], w.bit[i]);
    w.coded = enc.flush();
    return w;
  }();
  return work;
}

struct Buffer {
  std::vector<uint8_t> bytes;
  size_t n = 0;
};

int to_buffer(uint8_t b, void* ctx) {
  auto* buf = static_cast<Buffer*>(ctx);
  if (buf->n == buf->bytes.size()) return 0;
  buf->bytes[buf->n++] = b;
  return 1;
}

void BM_MqEncode(benchmark::State& state) {
  const MqWork& w = mq_work();
  Buffer buf;
  buf.bytes.resize(w.coded.size() + 16);
  std::vector<uint8_t> cx(kContexts);
  for (auto _ : state) {
    buf.n = 0;
    std::fill(cx.begin(), cx.end(), 0);
    MqEncoder enc;
    VltEncode_mqeInit(&enc, to_buffer, &buf, nullptr);
    for (size_t i = 0; i < kDecisions; ++i) VltEncode_mqeEncode(&enc, &cx[w.cx[i]], w.bit[i]);
    VltEncode_mqeFlush(&enc);
    benchmark::DoNotOptimize(buf.bytes.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kDecisions));
}

void BM_MqEncodeFlowchart(benchmark::State& state) {
  const MqWork& w = mq_work();
  for (auto _ : state) {
    monotest::MqRefEncoder enc(kContexts);
    for (size_t i = 0; i < kDecisions; ++i) enc.encode(w.cx[i], w.bit[i]);
    benchmark::DoNotOptimize(enc.flush());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kDecisions));
}

template <int (*Decode)(MqDecoder*, uint8_t*),
          void (*Init)(MqDecoder*, const uint8_t*, uint32_t, MqRefillFn, void*, VltState*)>
void BM_MqDecodeWith(benchmark::State& state) {
  const MqWork& w = mq_work();
  std::vector<uint8_t> cx(kContexts);
  for (auto _ : state) {
    std::fill(cx.begin(), cx.end(), 0);
    MqDecoder dec;
    Init(&dec, w.coded.data(), static_cast<uint32_t>(w.coded.size()), nullptr, nullptr, nullptr);
    unsigned sum = 0;
    for (size_t i = 0; i < kDecisions; ++i) sum += static_cast<unsigned>(Decode(&dec, &cx[w.cx[i]]));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kDecisions));
}

void BM_MqDecodeFlowchart(benchmark::State& state) {
  const MqWork& w = mq_work();
  for (auto _ : state) {
    monotest::MqRefDecoder dec(w.coded.data(), w.coded.size(), kContexts);
    unsigned sum = 0;
    for (size_t i = 0; i < kDecisions; ++i) sum += static_cast<unsigned>(dec.decode(w.cx[i]));
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kDecisions));
}

BENCHMARK(BM_BlitGlyphsOr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlitGlyphsOrPerPixel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MqEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MqEncodeFlowchart)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_MqDecodeWith, VltEncode_mqdDecode, VltEncode_mqdInit)
    ->Name("BM_MqDecode")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_MqDecodeWith, VltEncode_mqdDecodeSW, VltEncode_mqdInitSW)
    ->Name("BM_MqDecodeSW")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MqDecodeFlowchart)->Unit(benchmark::kMillisecond);

}  // namespace
