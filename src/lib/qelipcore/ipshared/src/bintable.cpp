// Binarization tables: each entry is the permutation that puts the result of source pixel q of
// a gathered group at output pixel q.

#include "bintable.h"

#include <array>

#include "ip_internal.h"

namespace {

constexpr size_t kEntries = 256;
constexpr size_t kTableBytes = kEntries * sizeof(uint32_t);

using EntryRule = uint32_t (*)(unsigned table, unsigned index);

// 8 to 1 bpp: bit 7 - j of byte k is pixel 4j + k of the group.
constexpr uint32_t entry8To1(unsigned k, unsigned b) {
  uint32_t v = 0;
  for (unsigned i = 0; i < 8; ++i)
    if (b >> i & 1) v |= 1u << (4 * i + 3 - k);
  return v;
}

// 4 to 1 bpp: byte k holds nibbles 2k and 2k + 1; the bit of nibble q from word j is pixel 8j + q.
constexpr uint32_t entry4To1(unsigned k, unsigned b) {
  uint32_t v = 0;
  for (unsigned i = 0; i < 4; ++i)
    if (b >> i & 1) v |= 1u << (8 * i + 6 - 2 * k);
  for (unsigned i = 4; i < 8; ++i)
    if (b >> i & 1) v |= 1u << (8 * (i - 4) + 7 - 2 * k);
  return v;
}

// 2 to 1 bpp: the bit of 2-bit field q from word j is pixel 16j + q.
constexpr uint32_t entry2To1(unsigned k, unsigned b) {
  uint32_t v = 0;
  for (unsigned m = 0; m < 4; ++m) {
    if (b >> (2 * m + 1) & 1) v |= 1u << (28 - 4 * k + m);
    if (b >> (2 * m) & 1) v |= 1u << (12 - 4 * k + m);
  }
  return v;
}

// 8 to 2 bpp: the field of byte k from word j is output pixel 4j + k.
constexpr uint32_t entry8To2(unsigned k, unsigned b) {
  uint32_t v = 0;
  for (unsigned m = 0; m < 4; ++m) v |= uint32_t(b >> (2 * m) & 3) << (8 * m + 6 - 2 * k);
  return v;
}

// 4 to 2 bpp, one table: the field of nibble q from word j is output pixel 8j + q.
constexpr uint32_t entry4To2(unsigned, unsigned b) {
  constexpr std::array<unsigned, 4> kShift{12, 28, 14, 30};
  uint32_t v = 0;
  for (unsigned m = 0; m < 4; ++m) v |= uint32_t(b >> (2 * m) & 3) << kShift[m];
  return v;
}

using Set = std::array<std::array<uint32_t, kEntries>, 4>;

template <EntryRule Rule>
constexpr Set make_set() {
  Set set{};
  for (unsigned k = 0; k < 4; ++k)
    for (unsigned b = 0; b < kEntries; ++b) set[k][b] = Rule(k, b);
  return set;
}

// Built at compile time; a fill copies them (read backwards for the inverted sets).
template <EntryRule Rule>
constexpr Set kSet = make_set<Rule>();

template <EntryRule Rule, bool Inverted>
VltStatus fill_set(IPState* state, std::array<uint32_t*, 4> tables) {
  for (uint32_t* t : tables)
    if (!t) return IP_FAIL(state, VLT_ERR_NULL);
  for (unsigned k = 0; k < 4; ++k)
    for (unsigned b = 0; b < kEntries; ++b) tables[k][b] = kSet<Rule>[k][Inverted ? 255 - b : b];
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus i_getBinarizationTableSizes(IPState* state, int32_t srcDepth, int32_t dstDepth,
                                      int32_t, size_t* size) {
  const bool srcOk = srcDepth == 2 || srcDepth == 4 || srcDepth == 8;
  const bool dstOk = dstDepth == 1 || dstDepth == 2 || dstDepth == 4;
  if (!srcOk || !dstOk) return VLT_ERR_PARAM;
  if (!size) return IP_FAIL(state, VLT_ERR_NULL);
  *size = srcDepth == 8 && dstDepth == 4 ? 0 : kTableBytes;
  return VLT_OK;
}

VltStatus i_fillBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3) {
  return fill_set<entry8To1, false>(state, {t0, t1, t2, t3});
}
VltStatus i_fillInvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3) {
  return fill_set<entry8To1, true>(state, {t0, t1, t2, t3});
}
VltStatus i_fill4To1BinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3) {
  return fill_set<entry4To1, false>(state, {t0, t1, t2, t3});
}
VltStatus i_fill4To1InvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3) {
  return fill_set<entry4To1, true>(state, {t0, t1, t2, t3});
}
VltStatus i_fill2To1BinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3) {
  return fill_set<entry2To1, false>(state, {t0, t1, t2, t3});
}
VltStatus i_fill2To1InvBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3) {
  return fill_set<entry2To1, true>(state, {t0, t1, t2, t3});
}
VltStatus i_fill2bppBinarizationTables(IPState* state, uint32_t* t0, uint32_t* t1, uint32_t* t2, uint32_t* t3) {
  return fill_set<entry8To2, false>(state, {t0, t1, t2, t3});
}

VltStatus i_fill4To2bppBinarizationTable(IPState* state, uint32_t* t) {
  if (!t) return IP_FAIL(state, VLT_ERR_NULL);
  constexpr auto kTable = make_set<entry4To2>()[0];
  for (unsigned b = 0; b < kEntries; ++b) t[b] = kTable[b];
  return VLT_OK;
}

}  // extern "C"

namespace {

// Pixel p of a byte is bit 7 - p.
constexpr unsigned pixel(unsigned b, unsigned p) { return b >> (7 - p) & 1u; }

constexpr uint16_t permute_entry(unsigned b) {
  unsigned v = 0;
  for (unsigned i = 0; i < 4; ++i) {
    v |= pixel(b, 2 * i) << (11 - i);
    v |= pixel(b, 2 * i + 1) << (3 - i);
  }
  return static_cast<uint16_t>(v);
}

constexpr uint8_t permute4_entry(unsigned b) {
  unsigned v = 0;
  for (unsigned j = 0; j < 8; ++j) {
    const unsigned r = (j & 1) << 2 | (j & 2) | (j >> 2 & 1);
    v |= pixel(b, r) << (7 - j);
  }
  return static_cast<uint8_t>(v);
}

// Keep pixels 0, step, 2 step, ... packed into the low bits, the first in the highest.
template <unsigned Step>
constexpr uint8_t subsample_entry(unsigned b) {
  constexpr unsigned kept = 8 / Step;
  unsigned v = 0;
  for (unsigned i = 0; i < kept; ++i) v |= pixel(b, Step * i) << (kept - 1 - i);
  return static_cast<uint8_t>(v);
}

template <class T, T (*Rule)(unsigned)>
constexpr std::array<T, kEntries> make_lut() {
  std::array<T, kEntries> t{};
  for (unsigned b = 0; b < kEntries; ++b) t[b] = Rule(b);
  return t;
}

constexpr uint16_t inv_permute_entry(unsigned b) { return permute_entry(255 - b); }

constexpr auto kPermute = make_lut<uint16_t, permute_entry>();
constexpr auto kInvPermute = make_lut<uint16_t, inv_permute_entry>();
constexpr auto kPermute4 = make_lut<uint8_t, permute4_entry>();
constexpr auto kRed2 = make_lut<uint8_t, subsample_entry<2>>();
constexpr auto kRed4 = make_lut<uint8_t, subsample_entry<4>>();

static_assert(kPermute[0x55] == 0xF && kPermute[0xAA] == 0xF00 && kPermute[0xFF] == 0xF0F);
static_assert(kPermute4[0x02] == 0x10 && kPermute4[0x08] == 0x40 && kPermute4[0x81] == 0x81);
static_assert(kRed2[0xAA] == 0x0F && kRed4[0x88] == 0x03);

// The 16-bit tables are zero-filled on allocation, the byte tables not; every entry is written
// either way.
template <class T>
VltStatus hand_out(IPState* state, T** out, const std::array<T, kEntries>& lut, bool zeroed) {
  if (!out) return VLT_ERR_NULL;
  T* t = nullptr;
  if (state)
    t = static_cast<T*>(zeroed ? ipcore::alloc_zeroed(state, IP_SLOT_RECORDS, kEntries, sizeof(T))
                               : ipcore::alloc(state, IP_SLOT_RECORDS, kEntries * sizeof(T)));
  *out = t;
  if (!t) return VLT_ERR_NOMEM;
  for (size_t i = 0; i < kEntries; ++i) t[i] = lut[i];
  return VLT_OK;
}

}  // namespace

extern "C" {

VltStatus ip_makePermuteLUT(IPState* state, uint16_t** table) { return hand_out(state, table, kPermute, true); }
VltStatus ip_makeInvPermuteLUT(IPState* state, uint16_t** table) { return hand_out(state, table, kInvPermute, true); }
VltStatus ip_make4PermuteLUT(IPState* state, uint8_t** table) { return hand_out(state, table, kPermute4, true); }
VltStatus ip_makeRedLUT2(IPState* state, uint8_t** table) { return hand_out(state, table, kRed2, false); }
VltStatus ip_makeRedLUT4(IPState* state, uint8_t** table) { return hand_out(state, table, kRed4, false); }

}  // extern "C"
