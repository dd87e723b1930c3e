// Table tuning by counted cost and the code table segment writer.

#include "jb2_tune.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "jb2_encode.h"
#include "vlt_state.h"

namespace {

struct HuffNode {
  uint64_t count;
  int32_t tie;    // a leaf's line; a merged node's smaller tie of its two children
  int32_t left;   // children, -1 for a leaf
  int32_t right;
  int32_t next;   // the list of nodes still to merge, by ascending count
  uint32_t depth;
};

template <typename T>
T* alloc_array(VltState* state, size_t n) {
  size_t bytes = 0;
  if (!mono::checked_mul(n != 0 ? n : 1, sizeof(T), &bytes)) return nullptr;
  return static_cast<T*>(state->malloc(bytes));
}

// Huffman's construction with the tie rules that make the lengths the same on every host: leaves
// ordered by count then line, a merged node placed after the nodes that are smaller or equal
// with a tie index not greater, searching on from the node merged last while it is waiting.
VltStatus optimal_lengths(const uint32_t* counts, uint32_t* lengths, int32_t n, VltState* state) {
  for (int32_t i = 0; i < n; ++i) lengths[i] = 0;
  if (n <= 0) return VLT_OK;
  HuffNode* nodes = alloc_array<HuffNode>(state, 2 * static_cast<size_t>(n));
  if (nodes == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  int32_t leaves = 0;
  for (int32_t i = 0; i < n; ++i)
    if (counts[i] >= 1) nodes[leaves++] = HuffNode{counts[i], i, -1, -1, -1, 0};
  if (leaves == 1) lengths[nodes[0].tie] = 1;
  if (leaves <= 1) {
    state->free(nodes);
    return VLT_OK;
  }
  std::sort(nodes, nodes + leaves, [](const HuffNode& a, const HuffNode& b) {
    return a.count != b.count ? a.count < b.count : a.tie < b.tie;
  });
  for (int32_t k = 0; k + 1 < leaves; ++k) nodes[k].next = k + 1;
  int32_t head = 0, total = leaves, last = -1;
  while (nodes[head].next != -1) {
    const int32_t a = head, b = nodes[a].next;
    head = nodes[b].next;
    const int32_t c = total++;
    nodes[c] = HuffNode{nodes[a].count + nodes[b].count, std::min(nodes[a].tie, nodes[b].tie), a, b, -1, 0};
    int32_t pos = last != -1 && last != a && last != b ? last : -1;
    int32_t after = pos == -1 ? head : nodes[pos].next;
    while (after != -1 && (nodes[after].count < nodes[c].count ||
                           (nodes[after].count == nodes[c].count && nodes[after].tie <= nodes[c].tie))) {
      pos = after;
      after = nodes[after].next;
    }
    nodes[c].next = after;
    if (pos == -1)
      head = c;
    else
      nodes[pos].next = c;
    last = c;
  }
  // Children are made before their parents, so one pass downwards from the root gives depths.
  for (int32_t k = total - 1; k >= leaves; --k) nodes[nodes[k].left].depth = nodes[nodes[k].right].depth = nodes[k].depth + 1;
  for (int32_t k = 0; k < leaves; ++k) lengths[nodes[k].tie] = nodes[k].depth;
  state->free(nodes);
  return VLT_OK;
}

}  // namespace

VltStatus jhtLimitCodeLengths(const uint32_t* counts, uint32_t* lengths, int32_t n, uint32_t maxLen,
                              VltState* state) {
  uint32_t used = 0, longest = 0;
  for (int32_t i = 0; i < n; ++i)
    if (lengths[i] != 0) {
      ++used;
      longest = std::max(longest, lengths[i]);
    }
  const uint32_t limit = std::max(maxLen, ceillog2(used));
  if (longest <= limit) return VLT_OK;
  // perLength[l] = lines of length l; order = the used lines, most frequent first.
  uint32_t* perLength = alloc_array<uint32_t>(state, static_cast<size_t>(longest) + 1);
  int32_t* order = alloc_array<int32_t>(state, used);
  if (perLength == nullptr || order == nullptr) {
    state->free(perLength);
    state->free(order);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  std::fill(perLength, perLength + longest + 1, 0u);
  uint32_t k = 0;
  for (int32_t i = 0; i < n; ++i)
    if (lengths[i] != 0) {
      ++perLength[lengths[i]];
      order[k++] = i;
    }
  // The deepest codes of a complete code come in pairs: a pair becomes one code a level up, and
  // a shorter code splits in two one level down to make room. The code stays complete.
  for (uint32_t len = longest; len > limit; --len) {
    while (perLength[len] > 0) {
      uint32_t j = len - 2;
      while (j > 0 && perLength[j] == 0) --j;
      if (j == 0 || perLength[len] < 2) {
        state->free(perLength);
        state->free(order);
        return VLT_ERR_ASSERT;  // the lengths did not form a complete code
      }
      perLength[len] -= 2;
      perLength[len - 1] += 1;
      perLength[j + 1] += 2;
      perLength[j] -= 1;
    }
  }
  std::sort(order, order + used, [&](int32_t a, int32_t b) {
    if (counts[a] != counts[b]) return counts[a] > counts[b];
    if (lengths[a] != lengths[b]) return lengths[a] < lengths[b];
    return a < b;
  });
  uint32_t len = 1;
  for (uint32_t i = 0; i < used; ++i) {
    while (perLength[len] == 0) ++len;
    --perLength[len];
    lengths[order[i]] = len;
  }
  state->free(perLength);
  state->free(order);
  return VLT_OK;
}

VltStatus jhtGetCodeLengths(const uint32_t* counts, uint32_t* lengths, int32_t n, VltState* state) {
  if (const VltStatus st = optimal_lengths(counts, lengths, n, state); st != VLT_OK) return st;
  return jhtLimitCodeLengths(counts, lengths, n, JHT_TUNED_MAX_PREFLEN, state);
}

VltStatus jhtAllocTableInfo(const JhtTable* const* tables, uint32_t** lengths, uint32_t** counts,
                            EiEncoder** encoders, int32_t n, VltState* state) {
  for (int32_t i = 0; i < n; ++i) {
    const size_t lines = static_cast<size_t>(tables[i]->lineCount);
    lengths[i] = alloc_array<uint32_t>(state, lines);
    counts[i] = static_cast<uint32_t*>(state->calloc(lines != 0 ? lines : 1, sizeof(uint32_t)));
    VltStatus st = lengths[i] == nullptr || counts[i] == nullptr ? Vlt_report(state, VLT_ERR_NOMEM) : VLT_OK;
    if (st == VLT_OK) st = eiNewEncoder(tables[i], nullptr, state, &encoders[i]);
    if (st != VLT_OK) {
      jhtFreeTableInfo(lengths, counts, encoders, n, state);
      return st;
    }
  }
  return VLT_OK;
}

void jhtFreeTableInfo(uint32_t** lengths, uint32_t** counts, EiEncoder** encoders, int32_t n, VltState* state) {
  for (int32_t i = 0; i < n; ++i) {
    if (lengths[i] != nullptr) state->free(lengths[i]);
    if (counts[i] != nullptr) state->free(counts[i]);
    eiFreeEncoder(encoders[i]);
    lengths[i] = nullptr;
    counts[i] = nullptr;
    encoders[i] = nullptr;
  }
}

VltStatus jhtCountBits(const JhtTable* table, const uint32_t* counts, uint32_t* lengths,
                       uint64_t* standardBits, uint64_t* tunedBits, VltState* state) {
  if (const VltStatus st = jhtGetCodeLengths(counts, lengths, table->lineCount, state); st != VLT_OK) return st;
  uint64_t standard = 0, tuned = 0;
  for (int32_t i = 0; i < table->lineCount; ++i) {
    const JhtLine& l = table->lines[i];
    standard += uint64_t{counts[i]} * (l.prefLen + l.rangeLen);
    tuned += uint64_t{counts[i]} * (lengths[i] + l.rangeLen);
  }
  *standardBits = standard;
  *tunedBits = tuned;
  return VLT_OK;
}

VltStatus jhtTuneTable(JhtTable* table, const uint32_t* counts, const uint32_t* lengths, VltState* state) {
  uint32_t* own = nullptr;
  if (lengths == nullptr) {
    own = alloc_array<uint32_t>(state, static_cast<size_t>(table->lineCount));
    if (own == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    if (const VltStatus st = jhtGetCodeLengths(counts, own, table->lineCount, state); st != VLT_OK) {
      state->free(own);
      return st;
    }
    lengths = own;
  }
  VltStatus st = VLT_OK;
  for (int32_t i = 0; i < table->lineCount && st == VLT_OK; ++i)
    if (lengths[i] > static_cast<uint32_t>(JHT_MAX_PREFLEN)) st = Vlt_report(state, VLT_ERR_PARAM);
  if (st == VLT_OK) {
    jhtCleanup(table, state);
    for (int32_t i = 0; i < table->lineCount; ++i) table->lines[i].prefLen = static_cast<uint8_t>(lengths[i]);
    st = jhtSetCodes(table, state);
  }
  state->free(own);
  return st;
}

VltStatus jhtTuneNumericTable(JhtTable* table, const uint32_t* counts, const uint32_t* lengths, VltState* state) {
  if (const VltStatus st = jhtTuneTable(table, counts, lengths, state); st != VLT_OK) return st;
  void** values = alloc_array<void*>(state, static_cast<size_t>(table->lineCount));
  if (values == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  for (int32_t i = 0; i < table->lineCount; ++i) values[i] = &table->lines[i];
  const VltStatus st = jhtCompile(table, values, state);
  state->free(values);
  return st;
}

VltStatus jhtTuneStandardTable(const JhtTable* standard, const uint32_t* counts, const uint32_t* lengths,
                               VltState* state, JhtTable** out) {
  *out = nullptr;
  auto* t = static_cast<JhtTable*>(state->malloc(sizeof(JhtTable)));
  JhtLine* lines = alloc_array<JhtLine>(state, static_cast<size_t>(standard->lineCount));
  if (t == nullptr || lines == nullptr) {
    state->free(t);
    state->free(lines);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  *t = *standard;
  std::memcpy(lines, standard->lines, static_cast<size_t>(standard->lineCount) * sizeof(JhtLine));
  t->lines = lines;
  t->compiled = 0;
  for (auto& l : t->lookup) l = nullptr;
  if (const VltStatus st = jhtTuneNumericTable(t, counts, lengths, state); st != VLT_OK) {
    jhtFree(t, state);
    return st;
  }
  *out = t;
  return VLT_OK;
}

VltStatus jhtDecideTable(const JhtTable* const* tables, uint32_t* const* counts, uint32_t* const* lengths,
                         const uint64_t* standardBits, const uint64_t* tunedBits, uint8_t* tuned,
                         const JhtTable** out, int32_t n, uint8_t allowTuning, VltState* state,
                         int32_t* index) {
  if (n <= 0) return VLT_OK;
  int32_t chosen = 0;
  uint64_t best = standardBits[0];
  for (int32_t i = 1; i < n; ++i)
    if (standardBits[i] < best) {
      best = standardBits[i];
      chosen = i;
    }
  bool tune = false;
  if (allowTuning)
    for (int32_t i = 0; i < n; ++i) {
      // The tuned table travels as a segment of its own: its header and lines cost about this.
      const uint64_t cost = tunedBits[i] + 8 * static_cast<uint64_t>(tables[i]->lineCount) + 160;
      if (cost < best) {
        best = cost;
        chosen = i;
        tune = true;
      }
    }
  if (index != nullptr) *index = chosen;
  if (!tune) {
    *tuned = 0;
    *out = tables[chosen];
    return VLT_OK;
  }
  JhtTable* copy = nullptr;
  if (const VltStatus st = jhtTuneStandardTable(tables[chosen], counts[chosen], lengths[chosen], state, &copy);
      st != VLT_OK)
    return st;
  *tuned = 1;
  *out = copy;
  return VLT_OK;
}

VltStatus jb2EncodeHuffTable(Jb2File* file, SegmentInfo* seg) {
  seg->number = jb2FileNextSegmentNumber(file);
  seg->type = JB2_SEG_TABLES;
  seg->retain = 1;
  seg->deferred = 0;
  seg->referredCount = 0;
  const JhtTable& t = seg->body.codeTable;
  const int32_t normal = t.lineCount - (t.hasLower ? 1 : 0) - (t.hasUpper ? 1 : 0) - (t.hasOOB ? 1 : 0);
  if (normal < 0) return VLT_ERR_ASSERT;
  uint32_t maxPref = 0, maxRange = 0;
  for (int32_t i = 0; i < t.lineCount; ++i) {
    maxPref = std::max<uint32_t>(maxPref, t.lines[i].prefLen);
    if (i < normal) maxRange = std::max<uint32_t>(maxRange, t.lines[i].rangeLen);
  }
  const int htps = std::max(1, static_cast<int>(std::bit_width(maxPref)));
  const int htrs = std::max(1, static_cast<int>(std::bit_width(maxRange)));
  int32_t low = 0, high = 0;
  if (normal > 0) {
    const JhtLine& lastLine = t.lines[normal - 1];
    low = t.lines[0].rangeLow;
    high = static_cast<int32_t>(static_cast<uint32_t>(int64_t{lastLine.rangeLow} + (int64_t{1} << lastLine.rangeLen)));
  }
  if (const VltStatus st = jb2EncodeSegmentHeader(file, seg); st != VLT_OK) return st;
  DataSink* sink = file->dataSink;
  dsResetCount(sink);
  uint8_t head[9];
  head[0] = static_cast<uint8_t>((t.hasOOB ? 1u : 0u) | static_cast<uint32_t>(htps - 1) << 1 |
                                 static_cast<uint32_t>(htrs - 1) << 4);
  mono::store_be32(head + 1, static_cast<uint32_t>(low));
  mono::store_be32(head + 5, static_cast<uint32_t>(high));
  if (const VltStatus st = jb2WriteBytes(file, sink, head, sizeof head); st != VLT_OK) return st;
  JbfFile* bits = nullptr;
  if (const VltStatus st = jbfOpenFromDataSink(sink, &bits); st != VLT_OK) return st;
  VltStatus st = VLT_OK;
  for (int32_t i = 0; i < normal && st == VLT_OK; ++i) {
    st = jbfWriteBits(bits, t.lines[i].prefLen, htps);
    if (st == VLT_OK) st = jbfWriteBits(bits, t.lines[i].rangeLen, htrs);
  }
  // The range lines are always present in a table segment; an absent one gets no code.
  int32_t special = normal;
  const uint32_t lowerPref = t.hasLower ? t.lines[special++].prefLen : 0;
  const uint32_t upperPref = t.hasUpper ? t.lines[special++].prefLen : 0;
  if (st == VLT_OK) st = jbfWriteBits(bits, lowerPref, htps);
  if (st == VLT_OK) st = jbfWriteBits(bits, upperPref, htps);
  if (st == VLT_OK && t.hasOOB) st = jbfWriteBits(bits, t.lines[special].prefLen, htps);
  const VltStatus closed = jbfCloseFromDataSink(bits);
  if (st != VLT_OK) return st;
  if (closed != VLT_OK) return closed;
  // jbig2dec refuses a table whose last field ends exactly at the end of the data; a spare zero
  // byte costs nothing to decoders that read the fields up to where they end.
  const int64_t fieldBits = int64_t{normal} * (htps + htrs) + int64_t{htps} * (t.hasOOB ? 3 : 2);
  if (fieldBits % 8 == 0)
    if (const VltStatus pad = jb2WriteU8(file, sink, 0); pad != VLT_OK) return pad;
  seg->dataLength = dsCount(sink);
  return jb2EncodeSegmentHeaderDataLength(file, seg);
}

VltStatus jb2SendTunedTable(Jb2File* file, SegmentInfo* user, const JhtTable* table) {
  SegmentInfo seg{};
  seg.page = user->page;
  seg.body.codeTable = *table;
  if (const VltStatus st = jb2EncodeHuffTable(file, &seg); st != VLT_OK) return st;
  SegmentInfo* ref = &seg;
  return jb2AddReferencedSegments(file, user, &ref, 1);
}
