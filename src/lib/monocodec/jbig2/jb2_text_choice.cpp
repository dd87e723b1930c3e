// What a text region leaves to the encoder: the layout comes from cheap estimates over the
// placements, the Huffman tables from an exact count of the values the writer will code.

#include <algorithm>
#include <cstring>

#include "checked_size.h"
#include "jb2_encode.h"
#include "jb2_text_walk.h"
#include "jb2_tune.h"
#include "vlt_state.h"

namespace {

using jb2text::Placement;

// Coordinates and sizes the writer's arithmetic handles without overflow.
constexpr int32_t kCoordLimit = 1 << 28;

struct Record {
  Placement p;
  int32_t index;
};

// Bands of eight rows, then along S; the extent and then the index break ties.
bool instCmp(const Record& a, const Record& b) {
  if ((a.p.t >> 3) != (b.p.t >> 3)) return (a.p.t >> 3) < (b.p.t >> 3);
  if (a.p.s != b.p.s) return a.p.s < b.p.s;
  if (a.p.extent != b.p.extent) return a.p.extent < b.p.extent;
  return a.index < b.index;
}

// The coding order, over records whose T has been shifted down to the strip index: strip by
// strip, along S within a strip, the index breaking ties. One comparator serves every strip
// size and both transpositions, since the placement already holds the right T and S.
bool instGT(const Record& a, const Record& b) {
  if (a.p.t != b.p.t) return a.p.t < b.p.t;
  if (a.p.s != b.p.s) return a.p.s < b.p.s;
  return a.index < b.index;
}

template <typename T>
T* alloc_array(VltState* state, int32_t n) {
  size_t bytes = 0;
  if (!mono::checked_mul(static_cast<size_t>(n > 0 ? n : 1), sizeof(T), &bytes)) return nullptr;
  return static_cast<T*>(state->malloc(bytes));
}

// The most instances sharing one value among those in [0, limit).
int32_t largest_share(int32_t* keys, int32_t n, uint32_t limit) {
  int32_t k = 0;
  for (int32_t i = 0; i < n; ++i)
    if (keys[i] >= 0 && static_cast<uint32_t>(keys[i]) < limit) keys[k++] = keys[i];
  std::sort(keys, keys + k);
  int32_t best = 0;
  for (int32_t i = 0, j = 0; i < k; i = j) {
    while (j < k && keys[j] == keys[i]) ++j;
    best = std::max(best, j - i);
  }
  return best;
}

// Transposed when more instances share a left column than share a bottom row.
bool prefer_transposed(const Jb2TextRegion& tr, const Jb2RegionInfo& region, int32_t* keys) {
  for (int32_t i = 0; i < tr.count; ++i) keys[i] = tr.instances[i].x;
  const int32_t columns = largest_share(keys, tr.count, region.width);
  for (int32_t i = 0; i < tr.count; ++i) keys[i] = tr.instances[i].y + tr.instances[i].symbol->height - 1;
  const int32_t rows = largest_share(keys, tr.count, region.height);
  return columns > rows;
}

// The gap between neighbours on one text line that occurs most often (smallest on ties).
int32_t choose_ds_offset(const Record* r, int32_t n) {
  int32_t histogram[32] = {};
  bool any = false;
  for (int32_t i = 1; i < n; ++i) {
    if ((r[i].p.t >> 3) != (r[i - 1].p.t >> 3)) continue;
    const int32_t gap = r[i].p.s - (r[i - 1].p.s + r[i - 1].p.extent - 1);
    if (gap >= -16 && gap <= 15) {
      ++histogram[gap + 16];
      any = true;
    }
  }
  if (!any) return -16;
  int32_t best = 0;
  for (int32_t g = 1; g < 32; ++g)
    if (histogram[g] > histogram[best]) best = g;
  return best - 16;
}

// Estimated bits of each strip size 2^k over the records sorted by band (T >> 3) and S; the
// cheapest wins, the smaller size on ties.
int32_t choose_log_strips(const Record* r, int32_t n, int32_t minT, int32_t dsOffset) {
  uint64_t cost[4] = {};
  for (int k = 0; k < 4; ++k) {
    const int strips = 8 >> k;
    int32_t current = minT >> k;
    int32_t prevFirstS = 0;
    for (int32_t start = 0, end = 0; start < n; start = end) {
      const int32_t band = r[start].p.t >> 3;
      while (end < n && (r[end].p.t >> 3) == band) ++end;
      bool seen[8] = {};
      int32_t firstS[8] = {}, lastS[8] = {}, lastExtent[8] = {};
      for (int32_t i = start; i < end; ++i) {
        const Placement& p = r[i].p;
        const int strip = (p.t - band * 8) >> k;
        if (seen[strip]) {
          const int64_t d = int64_t{p.s} - (int64_t{lastS[strip]} + lastExtent[strip] - 1) - dsOffset;
          cost[k] += d < -4 ? 12 : d < 0 ? 8 : d <= 3 ? 4 : d <= 127 ? 8 : 12;
        } else {
          seen[strip] = true;
          firstS[strip] = p.s;
        }
        lastS[strip] = p.s;
        lastExtent[strip] = p.extent;
      }
      for (int strip = 0; strip < strips; ++strip) {
        if (!seen[strip]) continue;
        const int32_t a = (band << (3 - k)) + strip;
        const int64_t dt = int64_t{a} - current;
        cost[k] += dt == 1 ? 1 : dt <= 4 ? 3 : dt <= 8 ? 5 : 8;
        current = a;
        const int64_t dfs = int64_t{firstS[strip]} - prevFirstS;
        prevFirstS = firstS[strip];
        cost[k] += dfs >= -32 && dfs <= 32 ? 8 : 12;
        cost[k] += 2;
      }
    }
  }
  int best = 0;
  for (int k = 1; k < 4; ++k)
    if (cost[k] < cost[best]) best = k;
  return best;
}

// Counts every DT, DS and FS value on every candidate table.
struct Counter {
  EiEncoder* const* dt;  // four: B.11, B.12, B.13 and the extended B.13
  uint32_t* const* dtCounts;
  EiEncoder* const* ds;
  uint32_t* const* dsCounts;
  EiEncoder* const* fs;
  uint32_t* const* fsCounts;
  bool negative = false;

  VltStatus codeDT(int32_t v, bool) {
    // Once a strip steps backwards only the extended table can code the region.
    if (v < 0) negative = true;
    for (int i = negative ? 3 : 0; i < 4; ++i) eiCount(dt[i], v, 0, dtCounts[i]);
    return VLT_OK;
  }
  VltStatus codeDS(int32_t v) {
    for (int i = 0; i < 3; ++i) eiCount(ds[i], v, 0, dsCounts[i]);
    return VLT_OK;
  }
  VltStatus codeOOB() {
    for (int i = 0; i < 3; ++i) eiCount(ds[i], 0, 1, dsCounts[i]);
    return VLT_OK;
  }
  VltStatus codeFS(int32_t v) {
    for (int i = 0; i < 2; ++i) eiCount(fs[i], v, 0, fsCounts[i]);
    return VLT_OK;
  }
  VltStatus codeCurT(int32_t) { return VLT_OK; }
  VltStatus codeID(const Jb2Instance&) { return VLT_OK; }
};

uint8_t selector_of(const JhtTable* table, uint8_t tuned, const JhtTable* const* group, int n) {
  if (tuned) return 3;
  for (int i = 0; i < n; ++i)
    if (group[i] == table) return static_cast<uint8_t>(i);
  return 3;
}

VltStatus choose_tables(const Jb2FileParams* params, const SegmentInfo* seg, Jb2TextChoice* c, VltState* state) {
  uint32_t* lengths[9] = {};
  uint32_t* counts[9] = {};
  EiEncoder* encoders[9] = {};
  uint64_t standard[9] = {}, tuned[9] = {};
  const JhtTable* candidates[9] = {dttables[0], dttables[1], dttables[2], dttables[3],
                                   dstables[0], dstables[1], dstables[2], fstables[0], fstables[1]};
  if (const VltStatus st = jhtAllocTableInfo(candidates, lengths, counts, encoders, 9, state); st != VLT_OK) return st;
  Counter counter{encoders, counts, encoders + 4, counts + 4, encoders + 7, counts + 7};
  VltStatus st = jb2text::walk(*c, seg->body.textRegion.count, counter);
  for (int i = 0; i < 9 && st == VLT_OK; ++i)
    if (i >= 3 || !counter.negative) st = jhtCountBits(candidates[i], counts[i], lengths[i], &standard[i], &tuned[i], state);
  int32_t chosen[3] = {0, 0, 0};
  if (st == VLT_OK && params->trFixedTables) {
    if (counter.negative) {
      st = Vlt_report(state, VLT_ERR_PARAM);
    } else {
      c->tables[JB2_TEXT_DT] = &stdhuffDT1;
      c->tables[JB2_TEXT_DS] = &stdhuffDS1;
      c->tables[JB2_TEXT_FS] = &stdhuffFS1;
    }
  } else if (st == VLT_OK) {
    const uint8_t allow = params->trAllowTuned;
    if (counter.negative) {
      JhtTable* copy = nullptr;
      st = jhtTuneStandardTable(&stdhuffDT3_neg, counts[3], lengths[3], state, &copy);
      c->tables[JB2_TEXT_DT] = copy;
      c->tuned[JB2_TEXT_DT] = copy != nullptr ? 1 : 0;
      chosen[JB2_TEXT_DT] = 3;
    } else {
      st = jhtDecideTable(candidates, counts, lengths, standard, tuned, &c->tuned[JB2_TEXT_DT],
                          &c->tables[JB2_TEXT_DT], 3, allow, state, &chosen[JB2_TEXT_DT]);
    }
    if (st == VLT_OK)
      st = jhtDecideTable(candidates + 4, counts + 4, lengths + 4, standard + 4, tuned + 4, &c->tuned[JB2_TEXT_DS],
                          &c->tables[JB2_TEXT_DS], 3, allow, state, &chosen[JB2_TEXT_DS]);
    if (st == VLT_OK)
      st = jhtDecideTable(candidates + 7, counts + 7, lengths + 7, standard + 7, tuned + 7, &c->tuned[JB2_TEXT_FS],
                          &c->tables[JB2_TEXT_FS], 2, allow, state, &chosen[JB2_TEXT_FS]);
  }
  if (st == VLT_OK) {
    const int base[3] = {0, 4, 7};
    for (int f = 0; f < 3; ++f) {
      const int i = base[f] + chosen[f];
      c->countedBits[f] = c->tuned[f] ? tuned[i] : standard[i];
    }
    c->selector[JB2_TEXT_DT] = selector_of(c->tables[JB2_TEXT_DT], c->tuned[JB2_TEXT_DT], dttables, 3);
    c->selector[JB2_TEXT_DS] = selector_of(c->tables[JB2_TEXT_DS], c->tuned[JB2_TEXT_DS], dstables, 3);
    c->selector[JB2_TEXT_FS] = selector_of(c->tables[JB2_TEXT_FS], c->tuned[JB2_TEXT_FS], fstables, 2);
  }
  jhtFreeTableInfo(lengths, counts, encoders, 9, state);
  return st;
}

}  // namespace

void jb2FreeTextChoice(Jb2TextChoice* c, VltState* state) {
  state->free(c->order);
  for (int f = 0; f < 3; ++f)
    if (c->tuned[f]) jhtFree(const_cast<JhtTable*>(c->tables[f]), state);
  *c = Jb2TextChoice{};
}

VltStatus decideSREncoding(const Jb2FileParams* params, const SegmentInfo* seg, int keepOrder, Jb2TextChoice* c,
                           VltState* state) {
  *c = Jb2TextChoice{};
  const Jb2TextRegion& tr = seg->body.textRegion;
  const int32_t n = tr.count;
  if (n < 0 || (n > 0 && tr.instances == nullptr)) return VLT_ERR_ASSERT;
  for (int32_t i = 0; i < n; ++i) {
    const Jb2Instance& in = tr.instances[i];
    if (in.symbol == nullptr) return VLT_ERR_ASSERT;
    if (in.x < -kCoordLimit || in.x > kCoordLimit || in.y < -kCoordLimit || in.y > kCoordLimit ||
        in.symbol->width < 0 || in.symbol->width > kCoordLimit || in.symbol->height < 0 ||
        in.symbol->height > kCoordLimit)
      return Vlt_report(state, VLT_ERR_PARAM);
  }

  Record* records = alloc_array<Record>(state, n);
  c->order = alloc_array<Jb2Instance*>(state, n);
  if (records == nullptr || c->order == nullptr) {
    state->free(records);
    jb2FreeTextChoice(c, state);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  VltStatus st = VLT_OK;
  if (!keepOrder && !params->trNoTranspose && n > 0) {
    int32_t* keys = alloc_array<int32_t>(state, n);
    if (keys == nullptr) {
      state->free(records);
      jb2FreeTextChoice(c, state);
      return Vlt_report(state, VLT_ERR_NOMEM);
    }
    c->transposed = prefer_transposed(tr, seg->region, keys) ? 1 : 0;
    state->free(keys);
  }
  if (c->transposed) {
    if (params->trNoTopLeft) st = VLT_ERR_ASSERT;
    c->refCorner = JB2_CORNER_TOPLEFT;
  } else if (keepOrder) {
    if (params->trNoTopLeft) st = Vlt_report(state, VLT_ERR_PARAM);
    c->refCorner = JB2_CORNER_TOPLEFT;
  } else {
    c->refCorner = JB2_CORNER_BOTTOMLEFT;
  }
  if (st != VLT_OK) {
    state->free(records);
    jb2FreeTextChoice(c, state);
    return st;
  }

  int32_t minT = 0;
  for (int32_t i = 0; i < n; ++i) {
    records[i] = Record{jb2text::place(tr.instances[i], c->transposed, c->refCorner), i};
    minT = std::min(minT, records[i].p.t);
  }
  if (!keepOrder) {
    std::sort(records, records + n, instCmp);
  }
  c->dsOffset = choose_ds_offset(records, n);
  if (!keepOrder) {
    c->logSbStrips = choose_log_strips(records, n, minT, c->dsOffset);
    c->sbStrips = 1 << c->logSbStrips;
    c->firstStrip = (minT >> c->logSbStrips) - 1;
    // Strip by strip, along S within a strip; the records are reused as sort keys.
    const int log = c->logSbStrips;
    for (int32_t i = 0; i < n; ++i) records[i].p.t >>= log;
    std::sort(records, records + n, instGT);
    for (int32_t i = 0; i < n; ++i) c->order[i] = &tr.instances[records[i].index];
  } else {
    c->sbStrips = 1;
    c->logSbStrips = 0;
    c->firstStrip = minT - 1;
    for (int32_t i = 0; i < n; ++i) c->order[i] = &tr.instances[i];
  }
  state->free(records);

  if (!params->trArith) st = choose_tables(params, seg, c, state);
  if (st != VLT_OK) jb2FreeTextChoice(c, state);
  return st;
}
