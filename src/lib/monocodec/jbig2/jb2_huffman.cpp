// Canonical prefix codes: codes of one length are consecutive in line order, and the first code
// of a length follows the last of the length before, doubled. The standard tables run the same
// assignment at build time, so their codes, bounds and lookups are constants.

#include "jb2_huffman.h"

#include <array>
#include <cstddef>
#include <utility>

#include "vlt_state.h"

namespace {

struct CodeSpace {
  uint32_t first[32];
  uint32_t last[32];
  int32_t minLength;
};

// Lays out the code space of the lines' prefix lengths; false when a prefix is longer than a
// table can hold or the lengths claim more codes than there are.
constexpr bool lay_out(const JhtLine* lines, int32_t n, CodeSpace* space) {
  uint32_t count[32] = {};
  for (int32_t i = 0; i < n; ++i) {
    if (lines[i].prefLen > JHT_MAX_PREFLEN) return false;
    if (lines[i].prefLen != 0) ++count[lines[i].prefLen];
  }
  CodeSpace s{};
  s.last[0] = ~0u;
  s.minLength = JHT_MAX_PREFLEN;
  for (int len = 1; len <= JHT_MAX_PREFLEN; ++len) {
    s.first[len] = len == 1 ? 0 : (s.first[len - 1] + count[len - 1]) << 1;
    s.last[len] = s.first[len] + count[len] - 1;
    // Every code of this length must fit in len bits; the earlier lengths passed the same test,
    // so the sums stay far below 2^32.
    if (count[len] != 0 && (s.last[len] >> len) != 0) return false;
    if (count[len] != 0 && len < s.minLength) s.minLength = len;
  }
  *space = s;
  return true;
}

constexpr void assign(JhtLine* lines, int32_t n, const CodeSpace& s) {
  uint32_t next[32] = {};
  for (int len = 0; len < 32; ++len) next[len] = s.first[len];
  for (int32_t i = 0; i < n; ++i)
    lines[i].code = lines[i].prefLen != 0 ? next[lines[i].prefLen]++ : 0;
}

constexpr uint32_t codes_of_length(const uint32_t* first, const uint32_t* last, int len) {
  return len == 0 ? 0 : last[len] - first[len] + 1;
}

// ---- Standard tables, built at compile time ---------------------------------------------

struct LineDef {
  int32_t low;
  uint8_t prefLen;
  uint8_t rangeLen;
};

template <size_t N>
struct StdDef {
  std::array<JhtLine, N> lines{};
  std::array<uint16_t, N> order{};  // line indices in code order
  CodeSpace space{};
  uint8_t lower = 0, upper = 0, oob = 0;
};

enum : uint8_t { kLower = 1, kUpper = 2, kOOB = 4 };

template <size_t N>
constexpr StdDef<N> define(const LineDef (&defs)[N], uint8_t extra) {
  StdDef<N> d;
  for (size_t i = 0; i < N; ++i)
    d.lines[i] = JhtLine{0, defs[i].low, defs[i].prefLen, defs[i].rangeLen, {0, 0}};
  if (!lay_out(d.lines.data(), N, &d.space))
    throw "the prefix lengths of a standard table do not form a code";
  assign(d.lines.data(), N, d.space);
  size_t k = 0;
  for (int len = 1; len < 32; ++len)
    for (size_t i = 0; i < N; ++i)
      if (d.lines[i].prefLen == len) d.order[k++] = static_cast<uint16_t>(i);
  d.lower = (extra & kLower) != 0;
  d.upper = (extra & kUpper) != 0;
  d.oob = (extra & kOOB) != 0;
  return d;
}

template <const auto& Def, size_t... I>
constexpr std::array<void*, sizeof...(I)> values_of(std::index_sequence<I...>) {
  return {{const_cast<JhtLine*>(&Def.lines[Def.order[I]])...}};
}

template <const auto& Def, const auto& Values>
constexpr JhtTable compiled_table() {
  JhtTable t{};
  t.hasLower = Def.lower;
  t.hasUpper = Def.upper;
  t.hasOOB = Def.oob;
  t.lineCount = static_cast<int32_t>(Def.lines.size());
  t.lines = const_cast<JhtLine*>(Def.lines.data());
  t.minLength = Def.space.minLength;
  t.compiled = 1;
  size_t at = 0;
  for (int len = 0; len < 32; ++len) {
    t.firstCode[len] = Def.space.first[len];
    t.lastCode[len] = Def.space.last[len];
    t.lookup[len] = Values.data() + at;
    at += codes_of_length(Def.space.first, Def.space.last, len);
  }
  return t;
}

constexpr auto kDefA = define({{0, 1, 4}, {16, 2, 8}, {272, 3, 16}, {65808, 3, 32}}, kUpper);
constexpr auto kDefDW1 = define(
    {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}, {3, 4, 3}, {11, 5, 6}, {75, 6, 32}, {0, 6, 0}},
    kUpper | kOOB);
constexpr auto kDefDW2 = define(
    {{-256, 8, 8}, {0, 1, 0}, {1, 2, 0}, {2, 3, 0}, {3, 4, 3}, {11, 5, 6}, {-257, 8, 32},
     {75, 7, 32}, {0, 6, 0}},
    kLower | kUpper | kOOB);
constexpr auto kDefDH1 = define(
    {{1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {4, 4, 3}, {12, 5, 6}, {76, 5, 32}},
    kUpper);
constexpr auto kDefDH2 = define(
    {{-255, 7, 8}, {1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {4, 4, 3}, {12, 5, 6}, {-256, 7, 32},
     {76, 6, 32}},
    kLower | kUpper);
constexpr auto kDefFS1 = define(
    {{-2048, 5, 10}, {-1024, 4, 9}, {-512, 4, 8}, {-256, 4, 7}, {-128, 5, 6}, {-64, 5, 5},
     {-32, 4, 5}, {0, 2, 7}, {128, 3, 7}, {256, 3, 8}, {512, 4, 9}, {1024, 4, 10}, {-2049, 6, 32},
     {2048, 6, 32}},
    kLower | kUpper);
constexpr auto kDefFS2 = define(
    {{-1024, 4, 9}, {-512, 3, 8}, {-256, 4, 7}, {-128, 5, 6}, {-64, 5, 5}, {-32, 4, 5}, {0, 4, 5},
     {32, 5, 5}, {64, 5, 6}, {128, 4, 7}, {256, 3, 8}, {512, 3, 9}, {1024, 3, 10}, {-1025, 5, 32},
     {2048, 5, 32}},
    kLower | kUpper);
constexpr auto kDefDS1 = define(
    {{-15, 8, 3}, {-7, 9, 1}, {-5, 8, 1}, {-3, 9, 0}, {-2, 7, 0}, {-1, 4, 0}, {0, 2, 1}, {2, 5, 0},
     {3, 6, 0}, {4, 3, 4}, {20, 6, 1}, {22, 4, 4}, {38, 4, 5}, {70, 5, 6}, {134, 5, 7}, {262, 6, 7},
     {390, 7, 8}, {646, 6, 10}, {-16, 9, 32}, {1670, 9, 32}, {0, 2, 0}},
    kLower | kUpper | kOOB);
constexpr auto kDefDS2 = define(
    {{-31, 8, 4}, {-15, 9, 2}, {-11, 8, 2}, {-7, 9, 1}, {-5, 7, 1}, {-3, 4, 1}, {-1, 3, 1},
     {1, 3, 1}, {3, 5, 1}, {5, 6, 1}, {7, 3, 5}, {39, 6, 2}, {43, 4, 5}, {75, 4, 6}, {139, 5, 7},
     {267, 5, 8}, {523, 6, 8}, {779, 7, 9}, {1291, 6, 11}, {-32, 9, 32}, {3339, 9, 32}, {0, 2, 0}},
    kLower | kUpper | kOOB);
constexpr auto kDefDS3 = define(
    {{-21, 7, 4}, {-5, 8, 0}, {-4, 7, 0}, {-3, 5, 0}, {-2, 2, 2}, {2, 5, 0}, {3, 6, 0}, {4, 7, 0},
     {5, 8, 0}, {6, 2, 6}, {70, 5, 5}, {102, 6, 5}, {134, 6, 6}, {198, 6, 7}, {326, 6, 8},
     {582, 6, 9}, {1094, 6, 10}, {2118, 7, 11}, {-22, 8, 32}, {4166, 8, 32}, {0, 2, 0}},
    kLower | kUpper | kOOB);
constexpr auto kDefDT1 = define(
    {{1, 1, 0}, {2, 2, 1}, {4, 4, 0}, {5, 4, 1}, {7, 5, 1}, {9, 5, 2}, {13, 6, 2}, {17, 7, 2},
     {21, 7, 3}, {29, 7, 4}, {45, 7, 5}, {77, 7, 6}, {141, 7, 32}},
    kUpper);
constexpr auto kDefDT2 = define(
    {{1, 1, 0}, {2, 2, 0}, {3, 3, 1}, {5, 5, 0}, {6, 5, 1}, {8, 6, 1}, {10, 7, 0}, {11, 7, 1},
     {13, 7, 2}, {17, 7, 3}, {25, 7, 4}, {41, 8, 5}, {73, 8, 32}},
    kUpper);
constexpr auto kDefDT3 = define(
    {{1, 1, 0}, {2, 3, 0}, {3, 4, 0}, {4, 5, 0}, {5, 4, 1}, {7, 3, 3}, {15, 6, 1}, {17, 6, 2},
     {21, 6, 3}, {29, 6, 4}, {45, 6, 5}, {77, 7, 6}, {141, 7, 32}},
    kUpper);
constexpr auto kDefDT3Neg = define(
    {{1, 2, 0}, {2, 3, 0}, {3, 4, 0}, {4, 5, 0}, {5, 4, 1}, {7, 3, 3}, {15, 6, 1}, {17, 6, 2},
     {21, 6, 3}, {29, 6, 4}, {45, 6, 5}, {77, 7, 6}, {0, 2, 32}, {141, 7, 32}},
    kLower | kUpper);
constexpr auto kDefRD1 = define({{-2, 3, 0}, {-1, 3, 0}, {0, 1, 0}, {1, 3, 0}, {2, 3, 0}}, 0);
constexpr auto kDefRD2 = define(
    {{-24, 7, 4}, {-8, 6, 2}, {-4, 5, 1}, {-2, 4, 0}, {-1, 3, 0}, {0, 1, 0}, {1, 3, 0}, {2, 4, 0},
     {3, 5, 1}, {5, 6, 2}, {9, 7, 4}, {-25, 7, 32}, {25, 7, 32}},
    kLower | kUpper);

#define JHT_VALUES(def) values_of<def>(std::make_index_sequence<def.lines.size()>())
constexpr auto kValA = JHT_VALUES(kDefA);
constexpr auto kValDW1 = JHT_VALUES(kDefDW1);
constexpr auto kValDW2 = JHT_VALUES(kDefDW2);
constexpr auto kValDH1 = JHT_VALUES(kDefDH1);
constexpr auto kValDH2 = JHT_VALUES(kDefDH2);
constexpr auto kValFS1 = JHT_VALUES(kDefFS1);
constexpr auto kValFS2 = JHT_VALUES(kDefFS2);
constexpr auto kValDS1 = JHT_VALUES(kDefDS1);
constexpr auto kValDS2 = JHT_VALUES(kDefDS2);
constexpr auto kValDS3 = JHT_VALUES(kDefDS3);
constexpr auto kValDT1 = JHT_VALUES(kDefDT1);
constexpr auto kValDT2 = JHT_VALUES(kDefDT2);
constexpr auto kValDT3 = JHT_VALUES(kDefDT3);
constexpr auto kValDT3Neg = JHT_VALUES(kDefDT3Neg);
constexpr auto kValRD1 = JHT_VALUES(kDefRD1);
constexpr auto kValRD2 = JHT_VALUES(kDefRD2);
#undef JHT_VALUES

}  // namespace

constexpr JhtTable stdhuffA = compiled_table<kDefA, kValA>();
constexpr JhtTable stdhuffDW1 = compiled_table<kDefDW1, kValDW1>();
constexpr JhtTable stdhuffDW2 = compiled_table<kDefDW2, kValDW2>();
constexpr JhtTable stdhuffDH1 = compiled_table<kDefDH1, kValDH1>();
constexpr JhtTable stdhuffDH2 = compiled_table<kDefDH2, kValDH2>();
constexpr JhtTable stdhuffFS1 = compiled_table<kDefFS1, kValFS1>();
constexpr JhtTable stdhuffFS2 = compiled_table<kDefFS2, kValFS2>();
constexpr JhtTable stdhuffDS1 = compiled_table<kDefDS1, kValDS1>();
constexpr JhtTable stdhuffDS2 = compiled_table<kDefDS2, kValDS2>();
constexpr JhtTable stdhuffDS3 = compiled_table<kDefDS3, kValDS3>();
constexpr JhtTable stdhuffDT1 = compiled_table<kDefDT1, kValDT1>();
constexpr JhtTable stdhuffDT2 = compiled_table<kDefDT2, kValDT2>();
constexpr JhtTable stdhuffDT3 = compiled_table<kDefDT3, kValDT3>();
constexpr JhtTable stdhuffDT3_neg = compiled_table<kDefDT3Neg, kValDT3Neg>();
constexpr JhtTable stdhuffRD1 = compiled_table<kDefRD1, kValRD1>();
constexpr JhtTable stdhuffRD2 = compiled_table<kDefRD2, kValRD2>();

const JhtTable* const dhtables[2] = {&stdhuffDH1, &stdhuffDH2};
const JhtTable* const dwtables[2] = {&stdhuffDW1, &stdhuffDW2};
const JhtTable* const fstables[2] = {&stdhuffFS1, &stdhuffFS2};
const JhtTable* const dstables[3] = {&stdhuffDS1, &stdhuffDS2, &stdhuffDS3};
const JhtTable* const dttables[4] = {&stdhuffDT1, &stdhuffDT2, &stdhuffDT3, &stdhuffDT3_neg};

VltStatus jhtSetCodes(JhtTable* table, VltState* state) {
  CodeSpace s{};
  if (table->lineCount < 0 || (table->lineCount > 0 && table->lines == nullptr) ||
      !lay_out(table->lines, table->lineCount, &s))
    return Vlt_report(state, VLT_ERR_PARAM);
  assign(table->lines, table->lineCount, s);
  for (int len = 0; len < 32; ++len) {
    table->firstCode[len] = s.first[len];
    table->lastCode[len] = s.last[len];
    table->lookup[len] = nullptr;
  }
  table->minLength = s.minLength;
  table->compiled = 0;
  return VLT_OK;
}

VltStatus jhtCompile(JhtTable* table, void* const* values, VltState* state) {
  if (table->compiled) return VLT_OK;
  const size_t n = table->lineCount > 0 ? static_cast<size_t>(table->lineCount) : 1;
  auto* store = static_cast<void**>(state->malloc(n * sizeof(void*)));
  if (store == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  size_t start[32];
  size_t at = 0;
  for (int len = 0; len < 32; ++len) {
    start[len] = at;
    table->lookup[len] = store + at;
    at += codes_of_length(table->firstCode, table->lastCode, len);
  }
  for (int32_t i = 0; i < table->lineCount; ++i) {
    const JhtLine& l = table->lines[i];
    if (l.prefLen != 0)
      store[start[l.prefLen] + (l.code - table->firstCode[l.prefLen])] = values[i];
  }
  table->compiled = 1;
  return VLT_OK;
}

VltStatus jhtReadCode(const JhtTable* t, JbfFile* bits, VltState* state, void** value) {
  auto found = [&](int len, uint32_t code) {
    *value = t->lookup[len][code - t->firstCode[len]];
    return VLT_OK;
  };
  if (!t->compiled) return VLT_ERR_ASSERT;
  int len = t->minLength;
  // A table without any code would otherwise "match" with an empty length class.
  if (codes_of_length(t->firstCode, t->lastCode, len) == 0)
    return Vlt_reportErrMsg(state != nullptr ? state->errState : nullptr, VLT_ERR_CODEC,
                            "the Huffman table has no codes");
  uint32_t code = 0;
  if (const VltStatus st = jbfReadBits(bits, len, &code); st != VLT_OK) return st;
  for (;;) {
    if (code <= t->lastCode[len]) return found(len, code);
    if (len >= JHT_MAX_PREFLEN) break;
    const int32_t peek = jbfPeek(bits);
    if (peek >= 0 && len + 8 <= JHT_MAX_PREFLEN) {
      const uint32_t wide = code << 8 | static_cast<uint32_t>(peek);
      if (wide > t->lastCode[len + 8]) {
        // No code ends within these eight bits.
        uint32_t skipped;
        if (const VltStatus st = jbfReadBits(bits, 8, &skipped); st != VLT_OK) return st;
        code = wide;
        len += 8;
        continue;
      }
      // Whether a code has ended by k more bits is false up to some k and true from there on:
      // find that k by halving.
      int lo = 1, hi = 8;
      while (lo < hi) {
        const int k = (lo + hi) / 2;
        if ((wide >> (8 - k)) <= t->lastCode[len + k])
          hi = k;
        else
          lo = k + 1;
      }
      uint32_t taken;
      if (const VltStatus st = jbfReadBits(bits, lo, &taken); st != VLT_OK) return st;
      return found(len + lo, wide >> (8 - lo));
    }
    uint32_t bit;
    if (const VltStatus st = jbfReadBits(bits, 1, &bit); st != VLT_OK) return st;
    code = code << 1 | bit;
    ++len;
  }
  return Vlt_reportErrMsg(state != nullptr ? state->errState : nullptr, VLT_ERR_CODEC,
                          "no Huffman code matches the data");
}

void jhtCleanup(JhtTable* table, VltState* state) {
  if (!table->compiled) return;
  state->free(const_cast<void**>(table->lookup[0]));
  for (auto& l : table->lookup) l = nullptr;
  table->compiled = 0;
}

void jhtFree(JhtTable* table, VltState* state) {
  if (table == nullptr) return;
  jhtCleanup(table, state);
  state->free(table->lines);
  state->free(table);
}
