// Reduction line kernels and word reducers. A kernel masks each source word down to one result
// bit per block, gathers the f words under a destination word into one word (word j shifted
// right by j, or 2j for 16x) and puts the interleaved bits into pixel order with the
// binarization table of its factor.

#include <cstdint>

#include "byteorder.h"
#include "i_reduce.h"

namespace {

inline uint32_t word_at(const uint8_t* p) { return mono::load_be32(p); }

// Destination words from the last one (offset D) down to the first; source words beyond L are
// never read and count as 0. Only the last groups can be cut by L, so the rest run unchecked.
template <int F, int Shift, class Result, class Convert>
inline void reduce_line(const uint8_t* src, uint8_t* dst, int32_t D, int32_t L, Result result,
                        Convert convert) {
  int32_t d = D;
  for (; d >= 0 && F * d + 4 * (F - 1) > L; d -= 4) {
    uint32_t gathered = 0;
    for (int j = 0; j < F && F * d + 4 * j <= L; ++j) gathered |= result(src + F * d + 4 * j) >> (Shift * j);
    mono::store_be32(dst + d, convert(gathered));
  }
  for (; d >= 0; d -= 4) {
    uint32_t gathered = 0;
    for (int j = 0; j < F; ++j) gathered |= result(src + F * d + 4 * j) >> (Shift * j);
    mono::store_be32(dst + d, convert(gathered));
  }
}

// Table 3 of a set, its entries for bytes 2, 1 and 0 of the gathered word shifted left by one,
// two and three steps: tables 0 to 2 are table 3 shifted.
template <int Step>
inline uint32_t convert_by_table(const uint32_t* t, uint32_t g) {
  return t[g & 0xFF] | t[g >> 8 & 0xFF] << Step | t[g >> 16 & 0xFF] << (2 * Step) | t[g >> 24] << (3 * Step);
}

// 2x: u = either line ON, v = both ON, per column; the pair's result lands on its left column.
// Two source words side by side make one 64-bit row, so one step yields a whole destination word.
template <int Threshold>
inline uint64_t pair_result(uint64_t u, uint64_t v) {
  uint64_t r;
  if constexpr (Threshold == 1)
    r = u | u << 1;
  else if constexpr (Threshold == 2)
    r = (u & u << 1) | v | v << 1;
  else if constexpr (Threshold == 3)
    r = (u & u << 1) & (v | v << 1);
  else
    r = v & v << 1;
  return r & 0xAAAAAAAAAAAAAAAAull;
}

// One destination word from the rows a (upper line) and b; a blank block, the usual case on a
// page, is settled by one test: with no pixel ON no threshold is met, and thresholds 3 and 4
// need a column with both pixels ON. Otherwise the right word's results are moved next to the
// left word's, as the table expects them.
template <int Threshold>
inline uint32_t reduce2_word(uint64_t a, uint64_t b, const uint32_t* table) {
  const uint64_t u = a | b, v = a & b;
  if ((Threshold >= 3 ? v : u) == 0) return 0;
  const uint64_t r = pair_result<Threshold>(u, v);
  return convert_by_table<4>(table, static_cast<uint32_t>(r >> 32) | static_cast<uint32_t>(r) >> 1);
}

inline uint64_t row_at(const uint8_t* p) { return uint64_t{word_at(p)} << 32 | word_at(p + 4); }

template <int Threshold>
void reduce2_line(const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t L, const uint32_t* table) {
  int32_t d = D;
  // Groups reaching past L come first: their words beyond L count as 0.
  for (; d >= 0 && 2 * d + 4 > L; d -= 4) {
    uint64_t a = 0, b = 0;
    if (2 * d <= L) {
      a = uint64_t{word_at(src + 2 * d)} << 32;
      b = uint64_t{word_at(src + 2 * d + bpl)} << 32;
    }
    mono::store_be32(dst + d, reduce2_word<Threshold>(a, b, table));
  }
  for (; d >= 0; d -= 4)
    mono::store_be32(dst + d, reduce2_word<Threshold>(row_at(src + 2 * d), row_at(src + 2 * d + bpl), table));
}

// 4x: the 4 lines combined, then each nibble folded onto its top bit.
template <bool Any>
void reduce4_line(const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t L, const uint32_t* table) {
  reduce_line<4, 1>(
      src, dst, D, L,
      [bpl](const uint8_t* p) {
        uint32_t x = word_at(p);
        for (int i = 1; i < 4; ++i) x = Any ? x | word_at(p + i * bpl) : x & word_at(p + i * bpl);
        x = Any ? x | x << 1 : x & x << 1;
        x = Any ? x | x << 2 : x & x << 2;
        return x & 0x88888888u;
      },
      [table](uint32_t g) { return convert_by_table<2>(table, g); });
}

// The word in n lines combined, then folded within units of 2^folds bits onto each unit's top bit.
template <bool Any, int Lines, int Folds>
inline uint32_t fold_word(const uint8_t* p, int32_t bpl) {
  uint32_t x = word_at(p);
  for (int i = 1; i < Lines; ++i) x = Any ? x | word_at(p + i * bpl) : x & word_at(p + i * bpl);
  for (int s = 0; s < Folds; ++s) x = Any ? x | x << (1 << s) : x & x << (1 << s);
  return x;
}

}  // namespace

extern "C" {

void ip_reduceT1Line(IPState*, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t, int32_t L,
                     const uint32_t* table) {
  reduce2_line<1>(src, bpl, dst, D, L, table);
}
void ip_reduceT2Line(IPState*, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t, int32_t L,
                     const uint32_t* table) {
  reduce2_line<2>(src, bpl, dst, D, L, table);
}
void ip_reduceT3Line(IPState*, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t, int32_t L,
                     const uint32_t* table) {
  reduce2_line<3>(src, bpl, dst, D, L, table);
}
void ip_reduceT4Line(IPState*, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t, int32_t L,
                     const uint32_t* table) {
  reduce2_line<4>(src, bpl, dst, D, L, table);
}
void ip_reduce4T1Line(IPState*, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t, int32_t L,
                      const uint32_t* table) {
  reduce4_line<true>(src, bpl, dst, D, L, table);
}
void ip_reduce4T4Line(IPState*, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t, int32_t L,
                      const uint32_t* table) {
  reduce4_line<false>(src, bpl, dst, D, L, table);
}

void ip_reduce8Line(IPState* state, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t,
                    int32_t L, const uint32_t* table, IPWordReducer reducer) {
  reduce_line<8, 1>(
      src, dst, D, L, [=](const uint8_t* p) { return reducer(state, p, bpl); },
      [table](uint32_t g) { return convert_by_table<1>(table, g); });
}

void ip_reduce16Line(IPState* state, const uint8_t* src, int32_t bpl, uint8_t* dst, int32_t D, int32_t,
                     int32_t L, IPWordReducer reducer) {
  reduce_line<16, 2>(
      src, dst, D, L, [=](const uint8_t* p) { return reducer(state, p, bpl); }, [](uint32_t g) { return g; });
}

uint32_t ip_reduce8xT1(IPState*, const uint8_t* p, int32_t bpl) { return fold_word<true, 8, 3>(p, bpl) & 0x80808080u; }
uint32_t ip_reduce8xT4(IPState*, const uint8_t* p, int32_t bpl) { return fold_word<false, 8, 3>(p, bpl) & 0x80808080u; }

uint32_t ip_reduce16xT1(IPState*, const uint8_t* p, int32_t bpl) {
  const uint32_t x = fold_word<true, 16, 4>(p, bpl);
  return (x & 0x80000000u) | (x & 0x8000u) << 15;
}
uint32_t ip_reduce16xT4(IPState*, const uint8_t* p, int32_t bpl) {
  const uint32_t x = fold_word<false, 16, 4>(p, bpl);
  return (x & 0x80000000u) | (x & 0x8000u) << 15;
}

int32_t ip_longOpScaleLibLinked(IPState*) { return 0; }

void ip_reduceT1LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}
void ip_reduceT2LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}
void ip_reduceT3LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}
void ip_reduceT4LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}
void ip_reduce4T1LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}
void ip_reduce4T4LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}
void ip_reduce8T1LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}
void ip_reduce8T4LineLong(IPState*, const uint8_t*, int32_t, int32_t, uint8_t*, int32_t, int32_t, int32_t) {}

}  // extern "C"
