// Kernels of the rotation without interpolation: the line table of the vertical shear, the
// line kernels that lay a destination line down from it, and the grey weight tables.

#include <algorithm>
#include <cstring>
#include <utility>

#include "byteorder.h"
#include "checked_size.h"
#include "i_rotate.h"
#include "ip_internal.h"

namespace {

// Source words of one image in the mapping's line numbering; anything outside the image reads
// as background, and the word holding a line's last pixel is completed with the pad mask.
struct Source {
  const uint8_t* line0;
  ptrdiff_t bpl;
  int32_t H, words;
  uint32_t background, pad;

  uint32_t word(int32_t L, int64_t i) const {
    if (L < 0 || L >= H || i < 0 || i >= words) return background;
    const uint32_t w = mono::load_be32(line0 + L * bpl + 4 * i);
    return i == words - 1 ? w | pad : w;
  }
  // The 32 bits from bit bitPos of line L on.
  uint32_t bits(int32_t L, int64_t bitPos) const {
    if (L < 0 || L >= H) return background;
    const int64_t i = bitPos >> 5;
    const int bo = static_cast<int>(bitPos & 31);
    const uint32_t a = word(L, i);
    return bo ? a << bo | word(L, i + 1) >> (32 - bo) : a;
  }
};

// Ink of a pixel: 1 at 1 bpp, a clear most significant bit deeper; marked on that bit.
uint32_t ink(uint32_t w, int depth) {
  switch (depth) {
    case 1: return w;
    case 2: return ~w & 0xAAAAAAAAu;
    case 4: return ~w & 0x88888888u;
    default: return ~w & 0x80808080u;
  }
}

// One destination line. Words whose two source words lie inside the line take an unchecked
// path for every mask whose line is inside the image. With nice set (and a line before this
// one at dst - dstBpl), a run is taken one pixel further left where a pair of pixels that are
// ink in both this source line and the one before would otherwise lose their join with the
// destination line before.
template <bool nice>
void turn_line(const Source& s, uint8_t* dst, ptrdiff_t dstBpl, int32_t lineBits, int32_t srcWord,
               int32_t L, int bo, const uint32_t* table, int depth) {
  const int32_t dstWords = (lineBits + 31) >> 5;
  const int32_t fastLimit = s.pad ? s.words - 1 : s.words;
  const auto H = static_cast<uint32_t>(s.H);
  for (int32_t j = 0; j < dstWords; ++j) {
    const int64_t i = int64_t{srcWord} + j;
    const bool inside = i >= 0 && i + 1 < fastLimit;
    const uint32_t before = nice ? ink(mono::load_be32(dst - dstBpl + 4 * size_t(j)), depth) : 0;
    uint32_t acc = 0;
    for (;;) {
      const uint32_t m = *table++;
      if (m) {
        uint32_t v;
        if constexpr (nice) {
          const int64_t at = i * 32 + bo;
          const uint32_t here = s.bits(L, at), left = s.bits(L, at - depth);
          const uint32_t c = ink(here, depth) & ink(s.bits(L - 1, at), depth);
          const uint32_t cl = ink(left, depth) & ink(s.bits(L - 1, at - depth), depth);
          const uint32_t cr = ink(s.bits(L, at + depth), depth) & ink(s.bits(L - 1, at + depth), depth);
          v = (c & (cl | cr) & m & ~before) ? left : here;
        } else if (inside && static_cast<uint32_t>(L) < H) {
          const uint8_t* q = s.line0 + L * s.bpl + 4 * i;
          v = mono::load_be32(q);
          if (bo) v = v << bo | mono::load_be32(q + 4) >> (32 - bo);
        } else {
          v = s.bits(L, i * 32 + bo);
        }
        acc |= v & m;
      }
      --L;
      // The mask reaching the word's last bit ends the word; a run going on into the next
      // word stays on its line.
      if (m & 1) {
        if (*table++) ++L;
        break;
      }
    }
    mono::store_be32(dst + 4 * size_t(j), acc);
  }
}

constexpr uint32_t background_of(int depth) { return depth == 1 ? 0u : 0xFFFFFFFFu; }

// The run walk of the vertical shear: calls emit(mask) for every mask and adjust(value) at every
// word end, for `words` destination words. Run lengths come from a Bresenham-like walk in
// 1/4096 pixel. A slope above 1 (sv > 65536) would make runs of no pixels, without end for the
// steepest slopes and without bound on the table for the others, so it makes no table: false.
template <class Emit, class Adjust>
bool walk_runs(int32_t sv, int32_t words, int32_t depth, Emit emit, Adjust adjust) {
  if (sv <= 0 || sv > 65536) return false;
  const uint32_t r = 0x10000000u / static_cast<uint32_t>(sv);
  const uint32_t whole = r >> 12, frac = r & 0xFFF;
  int32_t e = 0, pos = 0, done = 0;
  while (done < words) {
    uint32_t pixels;
    if (e < 0) {
      e += 4096 - static_cast<int32_t>(frac);
      pixels = whole + 1;
    } else {
      e -= static_cast<int32_t>(frac);
      pixels = whole;
    }
    uint64_t bits = uint64_t{pixels} * static_cast<uint32_t>(depth);
    for (;;) {
      if (pos + bits < 32) {
        emit(bits ? mono::left_mask32(static_cast<unsigned>(bits)) >> pos : 0u);
        pos += static_cast<int32_t>(bits);
        break;
      }
      emit(0xFFFFFFFFu >> pos);
      const bool goesOn = pos + bits > 32;
      adjust(goesOn);
      bits -= static_cast<uint64_t>(32 - pos);
      pos = 0;
      if (++done == words || !goesOn) break;
    }
  }
  return true;
}

template <int Depth>
VltStatus gray_table(IPState* state, uint32_t sizeInBytes, uint16_t** table) {
  constexpr uint32_t bValues = Depth == 8 ? 128 : 16, entries = 64 * bValues;
  if (!table) return VLT_ERR_NULL;
  if (*table && sizeInBytes != entries * 2) return VLT_ERR_PARAM;
  uint16_t* t = *table;
  if (!t) {
    t = state ? static_cast<uint16_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, entries, 2)) : nullptr;
    if (!t) return VLT_ERR_NOMEM;
    *table = t;
  }
  for (uint32_t f = 0; f < 8; ++f)
    for (uint32_t a = 0; a < 8; ++a)
      for (uint32_t b = 0; b < bValues; ++b) {
        const uint32_t g = Depth == 8 ? 2 * b : 16 * b;
        const uint32_t v = g * (15 - 2 * a) / 16;
        t[(f * 8 + a) * bValues + b] = static_cast<uint16_t>((v * (15 - 2 * f) / 16) << 8 | (v * (1 + 2 * f) / 16));
      }
  return VLT_OK;
}

// Every word reads the same number of runs (known at compile time for the usual counts), so
// the loop has no exit to mispredict; words at the edges of the image or of the source line
// take the checked reads.
template <int32_t Runs>
void planned_line(const Source& s, uint8_t* dstLine, int32_t srcWord, int32_t L, int32_t bitOffset,
                  const NoInterpRotPlan* plan) {
  const int32_t fastLimit = s.pad ? s.words - 1 : s.words;
  const int32_t runs = Runs > 0 ? Runs : plan->runs;
  const auto bo = static_cast<unsigned>(bitOffset);
  const ptrdiff_t bpl = s.bpl;
  // The word and the next are both inside the line: one 64-bit read gives the 32 bits at any
  // offset.
  const auto run = [&](const uint8_t* base, const int32_t* lines, const uint32_t* masks, int32_t k) {
    return static_cast<uint32_t>(mono::load_be64(base + lines[k] * bpl) << bo >> 32) & masks[k];
  };
  for (int32_t j = 0; j < plan->words; ++j) {
    const int64_t i = int64_t{srcWord} + j;
    const uint32_t* masks = plan->masks + size_t(j) * runs;
    const int32_t* lines = plan->lines + size_t(j) * runs;
    uint32_t acc = 0;
    if (i >= 0 && i + 1 < fastLimit && L + plan->farthest[j] >= 0 && L + plan->nearest[j] < s.H) {
      const uint8_t* base = s.line0 + 4 * i + L * bpl;
      if constexpr (Runs > 0) {
        [&]<int32_t... K>(std::integer_sequence<int32_t, K...>) {
          acc = (run(base, lines, masks, K) | ...);
        }(std::make_integer_sequence<int32_t, Runs>{});
      } else {
        for (int32_t k = 0; k < runs; ++k) acc |= run(base, lines, masks, k);
      }
    } else {
      for (int32_t k = 0; k < runs; ++k)
        if (masks[k]) acc |= s.bits(L + lines[k], i * 32 + bitOffset) & masks[k];
    }
    mono::store_be32(dstLine + 4 * size_t(j), acc);
  }
}

}  // namespace

extern "C" {

int32_t ip_rotateAssemblyCodeIsPresent(IPState*) { return 0; }

VltStatus ip_makeNoInterpRotTable(IPState* state, int32_t sv, uint32_t** table, int32_t width,
                                  int32_t wordsPerSourceLine, int32_t depth, int32_t) {
  if (!table) return VLT_ERR_NULL;
  *table = nullptr;
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8) return VLT_ERR_DEPTH;
  if (width < 0) return VLT_ERR_PARAM;
  const auto words = static_cast<int32_t>(((int64_t{width} * depth) >> 5) + 1);
  // Counted by a dry walk: a count from the slope alone falls short for narrow images.
  uint64_t count = 0;
  if (!walk_runs(sv, words, depth, [&](uint32_t) { ++count; }, [&](bool) { ++count; }))
    return VLT_ERR_PARAM;
  if (!state || count > SIZE_MAX / 4) return VLT_ERR_NOMEM;
  auto* t = static_cast<uint32_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, static_cast<size_t>(count), 4));
  if (!t) return VLT_ERR_NOMEM;
  uint32_t* out = t;
  const auto adjust = static_cast<uint32_t>(wordsPerSourceLine);
  walk_runs(sv, words, depth, [&](uint32_t m) { *out++ = m; }, [&](bool on) { *out++ = on ? adjust : 0; });
  *table = t;
  return VLT_OK;
}

void ip_rotateNoInterpLine(IPState*, const uint8_t* srcLine0, int32_t srcBpl, uint8_t* dstLine,
                           int32_t lineBits, int32_t srcWord, int32_t srcLineIndex, int32_t bitOffset,
                           const uint32_t* table, uint32_t background, uint32_t padMask, int32_t,
                           int32_t, int32_t H) {
  const Source s{srcLine0, srcBpl, H, (lineBits + 31) >> 5, background, padMask};
  turn_line<false>(s, dstLine, 0, lineBits, srcWord, srcLineIndex, bitOffset, table, 1);
}

void ip_rotateNoInterpLineNiceBinary(IPState*, const uint8_t* srcLine0, int32_t srcBpl, uint8_t* dstLine,
                                     int32_t dstBpl, int32_t lineBits, int32_t srcWord,
                                     int32_t srcLineIndex, int32_t bitOffset, const uint32_t* table,
                                     int32_t, int32_t, int32_t H) {
  const Source s{srcLine0, srcBpl, H, (lineBits + 31) >> 5, 0, 0};
  turn_line<true>(s, dstLine, dstBpl, lineBits, srcWord, srcLineIndex, bitOffset, table, 1);
}

void ip_rotateNoInterpLineNiceGray(IPState*, const uint8_t* srcLine0, int32_t srcBpl, uint8_t* dstLine,
                                   int32_t dstBpl, int32_t lineBits, int32_t srcWord,
                                   int32_t srcLineIndex, int32_t bitOffset, const uint32_t* table,
                                   int32_t depth, uint32_t padMask, int32_t, int32_t, int32_t H) {
  if (depth != 2 && depth != 4 && depth != 8) return;
  const Source s{srcLine0, srcBpl, H, (lineBits + 31) >> 5, background_of(depth), padMask};
  turn_line<true>(s, dstLine, dstBpl, lineBits, srcWord, srcLineIndex, bitOffset, table, depth);
}

VltStatus ip_makeNoInterpRotPlan(IPState* state, const uint32_t* table, int32_t lineBits,
                                 NoInterpRotPlan* plan) {
  if (!plan || !table) return VLT_ERR_NULL;
  *plan = NoInterpRotPlan{};
  if (!state || lineBits < 0) return VLT_ERR_NOMEM;
  constexpr int32_t kMostRuns = 16;
  const int32_t words = (lineBits + 31) >> 5;
  int32_t runs = 1;
  const uint32_t* t = table;
  for (int32_t j = 0; j < words; ++j) {
    int32_t n = 0;
    for (;;) {
      const uint32_t m = *t++;
      n += m != 0;
      if (m & 1) {
        ++t;
        break;
      }
    }
    runs = std::max(runs, n);
  }
  if (runs > kMostRuns) return VLT_ERR_PARAM;
  const size_t entries = size_t(words) * size_t(runs);
  auto* block = static_cast<uint8_t*>(
      ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, entries * 8 + size_t(words) * 8 + 8, 1));
  if (!block) return VLT_ERR_NOMEM;
  plan->words = words;
  plan->runs = runs;
  plan->masks = reinterpret_cast<uint32_t*>(block);
  plan->lines = reinterpret_cast<int32_t*>(block + entries * 4);
  plan->nearest = plan->lines + entries;
  plan->farthest = plan->nearest + words;
  t = table;
  int32_t line = 0;
  for (int32_t j = 0; j < words; ++j) {
    int32_t n = 0;
    int32_t nearest = INT32_MIN, farthest = INT32_MAX;
    for (;;) {
      const uint32_t m = *t++;
      if (m) {
        plan->masks[size_t(j) * runs + n] = m;
        plan->lines[size_t(j) * runs + n] = line;
        nearest = std::max(nearest, line);
        farthest = std::min(farthest, line);
        ++n;
      }
      --line;
      if (m & 1) {
        if (*t++) ++line;
        break;
      }
    }
    // Empty runs read a line the word reads anyway.
    const int32_t pad = n ? plan->lines[size_t(j) * runs + n - 1] : 0;
    for (int32_t k = n; k < runs; ++k) plan->lines[size_t(j) * runs + k] = pad;
    plan->nearest[j] = n ? nearest : 0;
    plan->farthest[j] = n ? farthest : 0;
  }
  return VLT_OK;
}

void ip_freeNoInterpRotPlan(IPState* state, NoInterpRotPlan* plan) {
  if (!plan) return;
  ipcore::release(state, IP_SLOT_RECORDS, plan->masks);
  *plan = NoInterpRotPlan{};
}

void ip_rotateNoInterpLinePlanned(IPState*, const uint8_t* srcLine0, int32_t srcBpl, uint8_t* dstLine,
                                  int32_t lineBits, int32_t srcWord, int32_t srcLineIndex, int32_t bitOffset,
                                  const NoInterpRotPlan* plan, uint32_t background, uint32_t padMask,
                                  int32_t H) {
  const Source s{srcLine0, srcBpl, H, (lineBits + 31) >> 5, background, padMask};
  switch (plan->runs) {
    case 1: planned_line<1>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    case 2: planned_line<2>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    case 3: planned_line<3>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    case 4: planned_line<4>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    case 5: planned_line<5>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    case 6: planned_line<6>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    case 7: planned_line<7>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    case 8: planned_line<8>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
    default: planned_line<0>(s, dstLine, srcWord, srcLineIndex, bitOffset, plan); break;
  }
}

VltStatus ip_makeGrayRotationTable(IPState* state, uint32_t sizeInBytes, uint16_t** table) {
  return gray_table<8>(state, sizeInBytes, table);
}
VltStatus ip_make4bppGrayRotationTable(IPState* state, uint32_t sizeInBytes, uint16_t** table) {
  return gray_table<4>(state, sizeInBytes, table);
}

}  // extern "C"
