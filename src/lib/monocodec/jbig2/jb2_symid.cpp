#include "jb2_symid.h"

#include <cstring>

#include "checked_size.h"
#include "jb2_segment.h"
#include "jb2_tune.h"
#include "vlt_state.h"

namespace {

// Run codes of the symbol-ID code lengths: 0-31 a length, then three repeat codes with the
// number of extra bits that say how often.
enum : uint32_t { kRunCodes = 35, kRepeatLength = 32, kShortZeros = 33, kLongZeros = 34 };
constexpr int kExtraBits[kRunCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr uint32_t kRunLengthFieldMax = 15;

struct RunItem {
  uint8_t code;
  uint8_t extra;
};

// Splits the lengths into run codes; returns the number of items (at most n).
int32_t split_runs(const uint32_t* lengths, int32_t n, RunItem* items) {
  int32_t k = 0;
  for (int32_t i = 0; i < n;) {
    const uint32_t len = lengths[i];
    int32_t run = 1;
    while (i + run < n && lengths[i + run] == len) ++run;
    i += run;
    if (len > 0) {
      items[k++] = {static_cast<uint8_t>(len), 0};
      int32_t rest = run - 1;
      for (; rest > 5; rest -= 6) items[k++] = {kRepeatLength, 3};
      if (rest <= 2)
        for (; rest > 0; --rest) items[k++] = {static_cast<uint8_t>(len), 0};
      else
        items[k++] = {kRepeatLength, static_cast<uint8_t>(rest - 3)};
    } else {
      int32_t rest = run;
      for (; rest > 137; rest -= 138) items[k++] = {kLongZeros, 127};
      if (rest <= 2)
        for (; rest > 0; --rest) items[k++] = {0, 0};
      else if (rest <= 10)
        items[k++] = {kShortZeros, static_cast<uint8_t>(rest - 3)};
      else
        items[k++] = {kLongZeros, static_cast<uint8_t>(rest - 11)};
    }
  }
  return k;
}

// n lines, line i for value i with the given prefix lengths, codes assigned.
VltStatus make_id_table(JhtTable* t, int32_t n, const uint32_t* lengths, VltState* state) {
  if (n < 0) return VLT_ERR_ASSERT;
  size_t bytes = 0;
  if (!mono::checked_mul(static_cast<size_t>(n != 0 ? n : 1), sizeof(JhtLine), &bytes))
    return Vlt_report(state, VLT_ERR_NOMEM);
  auto* lines = static_cast<JhtLine*>(state->malloc(bytes));
  if (lines == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  for (int32_t i = 0; i < n; ++i) {
    if (lengths[i] > static_cast<uint32_t>(JHT_MAX_PREFLEN)) {
      state->free(lines);
      return Vlt_report(state, VLT_ERR_PARAM);
    }
    lines[i] = JhtLine{0, i, static_cast<uint8_t>(lengths[i]), 0, {0, 0}};
  }
  *t = JhtTable{};
  t->lineCount = n;
  t->lines = lines;
  if (const VltStatus st = jhtSetCodes(t, state); st != VLT_OK) {
    state->free(lines);
    t->lines = nullptr;
    return st;
  }
  return VLT_OK;
}

// The IAID context array: PREV runs from 1 below 2^codeLength.
uint8_t* new_iaid_contexts(int32_t codeLength, VltState* state) {
  if (codeLength > 30) return nullptr;
  return static_cast<uint8_t*>(state->calloc(size_t{1} << (codeLength + 1), 1));
}

uint32_t* copy_values(const uint32_t* values, int32_t n, VltState* state) {
  size_t bytes = 0;
  if (!mono::checked_mul(static_cast<size_t>(n != 0 ? n : 1), sizeof(uint32_t), &bytes)) return nullptr;
  auto* copy = static_cast<uint32_t*>(state->malloc(bytes));
  if (copy != nullptr && n > 0) std::memcpy(copy, values, static_cast<size_t>(n) * sizeof(uint32_t));
  return copy;
}

}  // namespace

VltStatus symEncoderHuffman(int32_t n, JbfFile* bits, const uint32_t* lengths, VltState* state, SymEncoder** out) {
  *out = nullptr;
  auto* e = static_cast<SymEncoder*>(state->calloc(1, sizeof(SymEncoder)));
  if (e == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  if (const VltStatus st = make_id_table(&e->table, n, lengths, state); st != VLT_OK) {
    state->free(e);
    return st;
  }
  e->kind = SYM_HUFFMAN;
  e->state = state;
  e->bits = bits;
  e->count = n;
  *out = e;
  return VLT_OK;
}

VltStatus symEncoderArith(int32_t n, MqEncoder* mq, VltState* state, SymEncoder** out) {
  *out = nullptr;
  if (n < 0) return VLT_ERR_ASSERT;
  auto* e = static_cast<SymEncoder*>(state->calloc(1, sizeof(SymEncoder)));
  const int32_t codeLength = static_cast<int32_t>(ceillog2(static_cast<uint32_t>(n)));
  uint8_t* contexts = e != nullptr ? new_iaid_contexts(codeLength, state) : nullptr;
  if (contexts == nullptr) {
    state->free(e);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  e->kind = SYM_MQ;
  e->state = state;
  e->mq = mq;
  e->count = n;
  e->codeLength = codeLength;
  e->contexts = contexts;
  *out = e;
  return VLT_OK;
}

VltStatus symEncode(SymEncoder* e, uint32_t id) {
  if (id >= static_cast<uint32_t>(e->count)) return VLT_ERR_ASSERT;
  if (e->kind == SYM_HUFFMAN) {
    const JhtLine& line = e->table.lines[id];
    if (line.prefLen == 0) return VLT_ERR_ASSERT;
    return jbfWriteBits(e->bits, line.code, line.prefLen);
  }
  uint32_t prev = 1;
  for (int32_t b = e->codeLength - 1; b >= 0; --b) {
    const int bit = static_cast<int>(id >> b & 1);
    if (!VltEncode_mqeEncode(e->mq, &e->contexts[prev], bit)) return Vlt_report(e->state, VLT_ERR_IO_WRITE);
    prev = prev << 1 | static_cast<uint32_t>(bit);
  }
  return VLT_OK;
}

void symEncoderFree(SymEncoder* e) {
  if (e == nullptr) return;
  VltState* state = e->state;
  state->free(e->table.lines);
  state->free(e->contexts);
  state->free(e);
}

VltStatus symDecoderHuffman(const uint32_t* values, int32_t n, JbfFile* bits, const uint32_t* lengths,
                            VltState* state, SymDecoder** out) {
  *out = nullptr;
  auto* d = static_cast<SymDecoder*>(state->calloc(1, sizeof(SymDecoder)));
  if (d == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  d->state = state;
  d->values = copy_values(values, n, state);
  if (d->values == nullptr) {
    state->free(d);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  VltStatus st = make_id_table(&d->table, n, lengths, state);
  if (st == VLT_OK) {
    size_t bytes = 0;
    void** pointers = mono::checked_mul(static_cast<size_t>(n != 0 ? n : 1), sizeof(void*), &bytes)
                          ? static_cast<void**>(state->malloc(bytes))
                          : nullptr;
    if (pointers == nullptr) {
      st = Vlt_report(state, VLT_ERR_NOMEM);
    } else {
      for (int32_t i = 0; i < n; ++i) pointers[i] = &d->values[i];
      st = jhtCompile(&d->table, pointers, state);
      state->free(pointers);
    }
  }
  if (st != VLT_OK) {
    symDecoderFree(d);
    return st;
  }
  d->kind = SYM_HUFFMAN;
  d->bits = bits;
  d->count = n;
  *out = d;
  return VLT_OK;
}

VltStatus symDecoderArith(const uint32_t* values, int32_t n, MqDecoder* mq, VltState* state, SymDecoder** out) {
  *out = nullptr;
  if (n < 0) return VLT_ERR_ASSERT;
  auto* d = static_cast<SymDecoder*>(state->calloc(1, sizeof(SymDecoder)));
  if (d == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  d->state = state;
  d->kind = SYM_MQ;
  d->codeLength = static_cast<int32_t>(ceillog2(static_cast<uint32_t>(n)));
  d->values = copy_values(values, n, state);
  d->contexts = d->values != nullptr ? new_iaid_contexts(d->codeLength, state) : nullptr;
  if (d->contexts == nullptr) {
    symDecoderFree(d);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  d->mq = mq;
  d->count = n;
  *out = d;
  return VLT_OK;
}

VltStatus symDecode(SymDecoder* d, uint32_t* value) {
  if (d->kind == SYM_HUFFMAN) {
    void* found = nullptr;
    if (const VltStatus st = jhtReadCode(&d->table, d->bits, d->state, &found); st != VLT_OK) return st;
    *value = *static_cast<const uint32_t*>(found);
    return VLT_OK;
  }
  uint32_t prev = 1;
  for (int32_t b = 0; b < d->codeLength; ++b)
    prev = prev << 1 | static_cast<uint32_t>(VltEncode_mqdDecode(d->mq, &d->contexts[prev]));
  const uint32_t index = prev - (uint32_t{1} << d->codeLength);
  *value = index < static_cast<uint32_t>(d->count) ? d->values[index] : 0;
  return VLT_OK;
}

void symDecoderFree(SymDecoder* d) {
  if (d == nullptr) return;
  VltState* state = d->state;
  jhtCleanup(&d->table, state);
  state->free(d->table.lines);
  state->free(d->values);
  state->free(d->contexts);
  state->free(d);
}

VltStatus symWriteHuffmanCode(JbfFile* bits, const uint32_t* usage, int32_t n, VltState* state, SymEncoder** out) {
  *out = nullptr;
  if (n < 0) return VLT_ERR_ASSERT;
  size_t lengthBytes = 0, itemBytes = 0;
  const size_t slots = static_cast<size_t>(n != 0 ? n : 1);
  auto* lengths = mono::checked_mul(slots, sizeof(uint32_t), &lengthBytes)
                      ? static_cast<uint32_t*>(state->malloc(lengthBytes))
                      : nullptr;
  auto* items = mono::checked_mul(slots, sizeof(RunItem), &itemBytes) ? static_cast<RunItem*>(state->malloc(itemBytes))
                                                                      : nullptr;
  SymEncoder* enc = nullptr;
  VltStatus st = lengths == nullptr || items == nullptr ? Vlt_report(state, VLT_ERR_NOMEM) : VLT_OK;
  if (st == VLT_OK) st = jhtGetCodeLengths(usage, lengths, n, state);
  if (st == VLT_OK) st = symEncoderHuffman(n, bits, lengths, state, &enc);
  int32_t itemCount = 0;
  uint32_t runCounts[kRunCodes] = {};
  uint32_t runLengths[kRunCodes] = {};
  JhtLine runLines[kRunCodes];
  JhtTable runTable{};
  if (st == VLT_OK) {
    itemCount = split_runs(lengths, n, items);
    for (int32_t i = 0; i < itemCount; ++i) ++runCounts[items[i].code];
    st = jhtGetCodeLengths(runCounts, runLengths, kRunCodes, state);
  }
  for (uint32_t i = 0; st == VLT_OK && i < kRunCodes; ++i)
    if (runLengths[i] > kRunLengthFieldMax) st = VLT_ERR_ASSERT;
  if (st == VLT_OK) {
    for (uint32_t i = 0; i < kRunCodes; ++i)
      runLines[i] = JhtLine{0, static_cast<int32_t>(i), static_cast<uint8_t>(runLengths[i]), 0, {0, 0}};
    runTable.lineCount = kRunCodes;
    runTable.lines = runLines;
    st = jhtSetCodes(&runTable, state);
  }
  for (uint32_t i = 0; st == VLT_OK && i < kRunCodes; ++i) st = jbfWriteBits(bits, runLengths[i], 4);
  for (int32_t i = 0; st == VLT_OK && i < itemCount; ++i) {
    const JhtLine& line = runLines[items[i].code];
    st = jbfWriteBits(bits, line.code, line.prefLen);
    if (st == VLT_OK && kExtraBits[items[i].code] != 0) st = jbfWriteBits(bits, items[i].extra, kExtraBits[items[i].code]);
  }
  if (st == VLT_OK) jbfFlushByte(bits);
  state->free(lengths);
  state->free(items);
  if (st != VLT_OK) {
    symEncoderFree(enc);
    return st;
  }
  *out = enc;
  return VLT_OK;
}
