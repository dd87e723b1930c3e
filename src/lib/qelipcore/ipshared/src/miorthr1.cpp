// Kernels of the orthogonal rotations: spread and reverse tables, strip-by-byte block
// transposes of the quarter turns and the line reversals of the half turn.

#include <array>
#include <cstring>

#include "byteorder.h"
#include "i_orthrot.h"
#include "ip_internal.h"

namespace {

// Spread tables put each pixel of a source byte into the lowest bits of its own field of a
// word, so that four (or two, or eight) lines' lookups shifted by one field position each
// interleave into one word per group of lines.
template <int Depth>
constexpr std::array<uint32_t, 256> make_spread() {
  constexpr int fields = 8 / Depth, fieldBits = 32 / fields;
  std::array<uint32_t, 256> t{};
  for (uint32_t b = 0; b < 256; ++b)
    for (int j = 0; j < fields; ++j) t[b] |= (b >> (Depth * j) & ((1u << Depth) - 1)) << (fieldBits * j);
  return t;
}
constexpr auto kSpread1 = make_spread<1>();
constexpr auto kSpread2 = make_spread<2>();
constexpr auto kSpread4 = make_spread<4>();

// The byte with the order of its pixels reversed, per depth.
template <int Depth>
constexpr std::array<uint8_t, 256> make_reverse() {
  constexpr int fields = 8 / Depth;
  std::array<uint8_t, 256> t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t r = 0;
    for (int j = 0; j < fields; ++j) r |= (b >> (Depth * j) & ((1u << Depth) - 1)) << (Depth * (fields - 1 - j));
    t[b] = static_cast<uint8_t>(r);
  }
  return t;
}
constexpr auto reverseByte = make_reverse<1>();
constexpr auto reverseByte2 = make_reverse<2>();
constexpr auto reverseByte4 = make_reverse<4>();
constexpr auto reverseByte8 = make_reverse<8>();

static_assert(kSpread1[0x81] == 0x10000001u && kSpread2[0xE4] == 0x03020100u && kSpread4[0x5A] == 0x00050000u + 0xA);
static_assert(reverseByte[0x01] == 0x80 && reverseByte2[0x1B] == 0xE4 && reverseByte4[0x5A] == 0xA5);

// Byte k of each of four words, most significant first: word k of a 4 x 4 byte transpose.
struct Transposed {
  uint32_t w[4];
};
inline Transposed transpose_bytes(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3) {
  // Exchange bytes between pairs, then half-words between the pairs of pairs.
  const uint32_t a0 = (x0 & 0xFF00FF00u) | ((x1 >> 8) & 0x00FF00FFu);
  const uint32_t a1 = ((x0 << 8) & 0xFF00FF00u) | (x1 & 0x00FF00FFu);
  const uint32_t a2 = (x2 & 0xFF00FF00u) | ((x3 >> 8) & 0x00FF00FFu);
  const uint32_t a3 = ((x2 << 8) & 0xFF00FF00u) | (x3 & 0x00FF00FFu);
  // a0: x0.b3 x1.b3 x0.b1 x1.b1; a1: x0.b2 x1.b2 x0.b0 x1.b0 (bytes from the most significant).
  Transposed t;
  t.w[3] = (a0 & 0xFFFF0000u) | (a2 >> 16);
  t.w[1] = (a0 << 16) | (a2 & 0xFFFFu);
  t.w[2] = (a1 & 0xFFFF0000u) | (a3 >> 16);
  t.w[0] = (a1 << 16) | (a3 & 0xFFFFu);
  return t;
}

// The destination words of one block: pixel p of s source bytes (b[0] from the first line
// read), the first line in the most significant bits.
template <int Depth>
inline void block_words(const uint32_t* b, const uint32_t* T, uint32_t* out) {
  if constexpr (Depth == 1) {
    uint32_t g[8];
    for (int k = 0; k < 8; ++k)
      g[k] = T[b[4 * k]] << 3 | T[b[4 * k + 1]] << 2 | T[b[4 * k + 2]] << 1 | T[b[4 * k + 3]];
    uint32_t A[4], B[4];
    for (int m = 0; m < 4; ++m) {
      A[m] = (g[2 * m] & 0xF0F0F0F0u) | ((g[2 * m + 1] >> 4) & 0x0F0F0F0Fu);
      B[m] = ((g[2 * m] & 0x0F0F0F0Fu) << 4) | (g[2 * m + 1] & 0x0F0F0F0Fu);
    }
    // Byte k of A holds pixel 6 - 2k of eight lines, byte k of B pixel 7 - 2k.
    const Transposed ta = transpose_bytes(A[0], A[1], A[2], A[3]);
    const Transposed tb = transpose_bytes(B[0], B[1], B[2], B[3]);
    for (int k = 0; k < 4; ++k) {
      out[6 - 2 * k] = ta.w[k];
      out[7 - 2 * k] = tb.w[k];
    }
  } else if constexpr (Depth == 2) {
    uint32_t g[4];
    for (int k = 0; k < 4; ++k)
      g[k] = T[b[4 * k]] << 6 | T[b[4 * k + 1]] << 4 | T[b[4 * k + 2]] << 2 | T[b[4 * k + 3]];
    // Byte j of each holds pixel 3 - j of four lines.
    const Transposed t = transpose_bytes(g[0], g[1], g[2], g[3]);
    for (int p = 0; p < 4; ++p) out[p] = t.w[3 - p];
  } else if constexpr (Depth == 4) {
    const uint32_t g0 = T[b[0]] << 12 | T[b[1]] << 8 | T[b[2]] << 4 | T[b[3]];
    const uint32_t g1 = T[b[4]] << 12 | T[b[5]] << 8 | T[b[6]] << 4 | T[b[7]];
    out[0] = (g0 & 0xFFFF0000u) | (g1 >> 16);
    out[1] = (g0 << 16) | (g1 & 0xFFFFu);
  } else {
    out[0] = b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3];
  }
}

// One strip of s lines (s x depth = 32) by byteCount bytes. lineStep leads from line i of a
// block to line i + 1; after the last line returnStep leads to line 0 of the next byte. The
// word for pixel p of a byte goes dstStep x p bytes from the byte's first destination word.
// Blank blocks, most of a page, are stored as zero words without lookups.
template <int Depth>
void transpose_strip(const uint8_t* src, ptrdiff_t lineStep, ptrdiff_t returnStep, uint8_t* dst,
                     ptrdiff_t dstStep, const uint32_t* T, int32_t byteCount) {
  constexpr int s = 32 / Depth, ppb = 8 / Depth;
  const auto store = [&](const uint32_t* out) {
    for (int p = 0; p < ppb; ++p) mono::store_be32(dst + p * dstStep, out[p]);
    dst += ppb * dstStep;
  };
  const auto block = [&](const uint32_t* b, uint32_t any) {
    uint32_t out[ppb] = {};
    if (any) block_words<Depth>(b, T, out);
    store(out);
  };
  const ptrdiff_t nextByte = (s - 1) * lineStep + returnStep;
  int32_t c = 0;
  // With the bytes of a line next to each other (as every caller lays them out), four byte
  // columns are read as one word per line.
  if (nextByte == 1)
    for (; c + 4 <= byteCount; c += 4, src += 4) {
      uint32_t w[s];
      uint32_t any = 0;
      for (int i = 0; i < s; ++i) {
        w[i] = mono::load_be32(src + i * lineStep);
        any |= w[i];
      }
      for (int k = 0; k < 4; ++k) {
        uint32_t b[s];
        uint32_t anyByte = 0;
        if (any)
          for (int i = 0; i < s; ++i) {
            b[i] = w[i] >> (24 - 8 * k) & 0xFF;
            anyByte |= b[i];
          }
        block(b, anyByte);
      }
    }
  for (; c < byteCount; ++c) {
    uint32_t b[s];
    uint32_t any = 0;
    for (int i = 0; i < s; ++i) {
      b[i] = src[i * lineStep];
      any |= b[i];
    }
    src += nextByte;
    block(b, any);
  }
}

void transpose(const uint8_t* src, ptrdiff_t lineStep, ptrdiff_t returnStep, uint8_t* dst,
               ptrdiff_t dstStep, const uint32_t* T, int32_t byteCount, int32_t depth) {
  switch (depth) {
    case 1: return transpose_strip<1>(src, lineStep, returnStep, dst, dstStep, T, byteCount);
    case 2: return transpose_strip<2>(src, lineStep, returnStep, dst, dstStep, T, byteCount);
    case 4: return transpose_strip<4>(src, lineStep, returnStep, dst, dstStep, T, byteCount);
    case 8: return transpose_strip<8>(src, lineStep, returnStep, dst, dstStep, T, byteCount);
    default: return;
  }
}

VltStatus make_table(IPState* state, uint32_t** table, const std::array<uint32_t, 256>& t) {
  uint32_t* p = state ? static_cast<uint32_t*>(ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, 256, 4)) : nullptr;
  *table = p;
  if (!p) return VLT_ERR_NOMEM;
  std::memcpy(p, t.data(), sizeof t);
  return VLT_OK;
}

// Half turn: words equal to 0 or all ones are their own reversal and need no lookups.
inline uint32_t reverse_word(uint32_t w, const uint8_t* R) {
  if (w == 0 || w == 0xFFFFFFFFu) return w;
  return uint32_t(R[w & 0xFF]) << 24 | uint32_t(R[w >> 8 & 0xFF]) << 16 |
         uint32_t(R[w >> 16 & 0xFF]) << 8 | R[w >> 24];
}

inline uint32_t word(const uint8_t* line, int32_t i) { return mono::load_be32(line + 4 * size_t(i)); }
inline void put(uint8_t* line, int32_t i, uint32_t v) { mono::store_be32(line + 4 * size_t(i), v); }

// Reverses one line into another: the reversed words in reverse order, moved t bits towards
// the line start so that the first pixel lands at bit 31 of the first word; the bits after the
// last pixel come out 0.
void reverse_into(const uint8_t* src, uint8_t* dst, int32_t w, int32_t t, const uint8_t* R) {
  if (t == 0) {
    for (int32_t i = 0; i < w; ++i) put(dst, w - 1 - i, reverse_word(word(src, i), R));
    return;
  }
  const int u = 32 - t;
  uint32_t prev = reverse_word(word(src, 0), R);
  put(dst, w - 1, prev << t);
  for (int32_t i = 1; i < w; ++i) {
    const uint32_t cur = reverse_word(word(src, i), R);
    put(dst, w - 1 - i, cur << t | prev >> u);
    prev = cur;
  }
}

// The same within one line: the words exchanged from both ends towards the middle, then the
// shift applied from the line start, where every word is read before it is written.
void reverse_within(uint8_t* line, int32_t w, int32_t t, const uint8_t* R) {
  for (int32_t i = 0; i < w / 2; ++i) {
    const uint32_t a = word(line, i), b = word(line, w - 1 - i);
    put(line, i, reverse_word(b, R));
    put(line, w - 1 - i, reverse_word(a, R));
  }
  if (w % 2) put(line, w / 2, reverse_word(word(line, w / 2), R));
  if (t == 0) return;
  const int u = 32 - t;
  for (int32_t j = 0; j + 1 < w; ++j) put(line, j, word(line, j) << t | word(line, j + 1) >> u);
  put(line, w - 1, word(line, w - 1) << t);
}

VltStatus reverse_copy(LineReversalRecord* r, int32_t t) {
  for (; r->linesLeft > 0; --r->linesLeft) {
    reverse_into(r->srcLine, r->dstLine, r->wordsPerLine, t, r->reverseTable);
    r->srcLine += r->srcBpl;
    r->dstLine -= r->dstBpl;
  }
  return VLT_OK;
}

VltStatus reverse_swap(LineReversalRecord* r, int32_t t) {
  const int32_t H = r->linesLeft, w = r->wordsPerLine;
  uint8_t* top = const_cast<uint8_t*>(r->srcLine);
  uint8_t* bottom = r->dstLine;
  for (int32_t i = 0; i < H / 2; ++i) {
    reverse_within(top, w, t, r->reverseTable);
    reverse_within(bottom, w, t, r->reverseTable);
    for (int32_t j = 0; j < w; ++j) {
      const uint32_t a = word(top, j);
      put(top, j, word(bottom, j));
      put(bottom, j, a);
    }
    top += r->srcBpl;
    bottom -= r->dstBpl;
  }
  if (H % 2) reverse_within(top, w, t, r->reverseTable);
  r->srcLine = top;
  r->dstLine = bottom;
  r->linesLeft = 0;
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus ip_make4bppRotTable(IPState* state, uint32_t** table) {
  if (!table) return VLT_ERR_NULL;
  return make_table(state, table, kSpread4);
}

VltStatus ip_makeRotTable(IPState* state, uint32_t** table, int32_t depth) {
  if (!table) return VLT_ERR_NULL;
  switch (depth) {
    case 1: return make_table(state, table, kSpread1);
    case 2: return make_table(state, table, kSpread2);
    case 4: return ip_make4bppRotTable(state, table);
    case 8: *table = nullptr; return VLT_OK;
    default: return VLT_ERR_DEPTH;
  }
}

void ip_rotateBlock90(IPState*, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                      const uint32_t* spreadTable, int32_t byteCount, ptrdiff_t returnStep, int32_t depth) {
  transpose(srcLine, -ptrdiff_t{srcBpl}, returnStep, dst, dstBpl, spreadTable, byteCount, depth);
}
void ip_rotateBlock270(IPState*, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst, int32_t dstBpl,
                       const uint32_t* spreadTable, int32_t byteCount, ptrdiff_t returnStep, int32_t depth) {
  transpose(srcLine, srcBpl, returnStep, dst, -ptrdiff_t{dstBpl}, spreadTable, byteCount, depth);
}
void ip_rotate48Block90(IPState* state, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst,
                        int32_t dstBpl, const uint32_t* spreadTable, int32_t byteCount,
                        ptrdiff_t returnStep, int32_t depth) {
  ip_rotateBlock90(state, srcLine, srcBpl, dst, dstBpl, spreadTable, byteCount, returnStep, depth);
}
void ip_rotate48Block270(IPState* state, const uint8_t* srcLine, int32_t srcBpl, uint8_t* dst,
                         int32_t dstBpl, const uint32_t* spreadTable, int32_t byteCount,
                         ptrdiff_t returnStep, int32_t depth) {
  ip_rotateBlock270(state, srcLine, srcBpl, dst, dstBpl, spreadTable, byteCount, returnStep, depth);
}

VltStatus ip_reverseLineNoShift(IPState*, LineReversalRecord* r) { return reverse_copy(r, 0); }
VltStatus ip_reverseLineShift(IPState*, LineReversalRecord* r) { return reverse_copy(r, r->leftShift); }
VltStatus ip_reverseLinesSwapNoShift(IPState*, LineReversalRecord* r) { return reverse_swap(r, 0); }
VltStatus ip_reverseLinesSwapShift(IPState*, LineReversalRecord* r) { return reverse_swap(r, r->leftShift); }

const uint8_t* ip_reverseTableForDepth(int32_t depth) {
  switch (depth) {
    case 1: return reverseByte.data();
    case 2: return reverseByte2.data();
    case 4: return reverseByte4.data();
    default: return reverseByte8.data();
  }
}

}  // extern "C"
