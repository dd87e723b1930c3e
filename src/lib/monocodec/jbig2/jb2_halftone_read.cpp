// Pattern dictionaries and halftone regions. The dictionary is decoded into its patterns at
// once; the region into its grey-scale image (Gray-coded bit planes), which selects one pattern
// per grid cell when the region is rendered.
//
// Grid positions are worked out in 64 bits and every pattern is clipped before it reaches the
// blitter, so no grid, however far it reaches, can wrap a coordinate.

#include <algorithm>
#include <cstring>

#include "byteorder.h"
#include "jb2_decode.h"
#include "vlt_blit.h"
#include "vlt_state.h"

namespace {

VltStatus bad(const Jb2File* file, const char* message) { return jb2Fail(file, VLT_ERR_CODEC, message); }

// The most cells a grey-scale image may have: 16 bits each, so 32 MiB of it.
constexpr uint64_t kMaxGrayCells = uint64_t{1} << 24;
// The most patterns grey values of fifteen planes (the most a region decodes) can choose among.
constexpr uint64_t kMaxPatterns = uint64_t{1} << 15;

// Pattern dictionary fields and the fixed fields of a halftone region before their coded data.
constexpr uint32_t kDictHeader = 7;
constexpr uint32_t kRegionHeader = 38;

// Top-left pixel of cell (m, n) of the grid, in region coordinates.
void cell_origin(const Jb2HalftoneRegion& h, int64_t m, int64_t n, int64_t* x, int64_t* y) {
  *x = (int64_t{h.gridX} + m * h.vectorY + n * h.vectorX) >> 8;
  *y = (int64_t{h.gridY} + m * h.vectorX - n * h.vectorY) >> 8;
}

bool outside(int64_t x, int64_t y, int64_t w, int64_t h, int64_t width, int64_t height) {
  return x + w <= 0 || x >= width || y + h <= 0 || y >= height;
}

void free_patterns(HalftonePattern* patterns, int32_t count, VltState* state) {
  if (patterns == nullptr) return;
  for (int32_t i = 0; i < count; ++i) state->free(patterns[i].bits);
  state->free(patterns);
}

struct RegionWork {
  VltState* state;
  VltImage** planes = nullptr;
  uint32_t planeCount = 0;
  VltImage* skip = nullptr;
  VltImage* gray = nullptr;
  uint8_t* block = nullptr;
  uint8_t* contexts = nullptr;

  ~RegionWork() {
    for (uint32_t i = 0; planes != nullptr && i < planeCount; ++i) VltImage_free(planes[i]);
    state->free(planes);
    VltImage_free(skip);
    VltImage_free(gray);
    state->free(block);
    state->free(contexts);
  }
};

}  // namespace

VltStatus jb2DecodeHTDict(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo**) {
  VltState* state = jb2GetFileVlt_State(file);
  uint8_t b[7];
  uint32_t got = 0;
  VltStatus st = dsRead(source, sizeof b, b, &got);
  if (st != VLT_OK) return st;
  const uint8_t mmr = b[0] & 1;
  const uint8_t tmpl = (b[0] >> 1) & 3;
  if (mmr && tmpl != 0) return bad(file, "MMR halftone dictionary has non-zero template");
  if ((b[0] & 0xF8) != 0) return bad(file, "reserved bits in halftone dictionary flags aren't zero");
  const uint32_t pw = b[1], ph = b[2];
  const uint64_t count = uint64_t{mono::load_be32(b + 3)} + 1;
  if (pw == 0 || ph == 0) return bad(file, "bad halftone pattern size");
  const uint64_t width = count * pw;
  if (count > INT32_MAX || width > JB2_MAX_REGION_PIXELS || width * ph > JB2_MAX_REGION_PIXELS)
    return bad(file, "halftone dictionary too large");
  // More patterns are of no use, and a few bytes of MMR could ask for a billion of them.
  if (count > kMaxPatterns) return bad(file, "too many halftone patterns");
  // The first adaptive pixel sits one pattern to the left, as far as a signed byte reaches.
  if (!mmr && pw > 128) return bad(file, "halftone pattern too wide for arithmetic coding");
  uint64_t budget = jb2WorkBudget(file, seg->dataLength);
  const uint64_t doneBefore = file->workDone;
  if (!mmr && (st = jb2TakeWork(file, &budget, width * ph, "coded data too short for its size")) != VLT_OK) return st;
  jb2SettleWork(file, seg->dataLength, doneBefore);
  const uint32_t wpr = static_cast<uint32_t>((width + 31) / 32);
  auto* all = static_cast<uint8_t*>(state->calloc(size_t{wpr} * ph * 4, 1));
  if (all == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  if (mmr) {
    st = seg->dataLength < kDictHeader
             ? Vlt_report(state, VLT_ERR_IO_LENGTH)
             : jb2MMRDecodeImage(all, static_cast<int32_t>(width), static_cast<int32_t>(ph), static_cast<int32_t>(wpr), 0,
                                 static_cast<int32_t>(width) - 1, static_cast<int32_t>(ph) - 1, file, source,
                                 seg->dataLength - kDictHeader);
  } else {
    Jb2GenericParams params{};
    params.gbTemplate = tmpl;
    params.atx[0] = static_cast<int8_t>(-static_cast<int32_t>(pw));
    if (tmpl == 0) {
      params.atx[1] = -3;
      params.aty[1] = -1;
      params.atx[2] = 2;
      params.aty[2] = -2;
      params.atx[3] = -2;
      params.aty[3] = -2;
    }
    MqDecoder mq;
    dsInitVltEncode_MQDecoder(source, &mq);
    st = jb2ArithDecodeImage(all, static_cast<int32_t>(width), static_cast<int32_t>(ph), static_cast<int32_t>(wpr),
                             &params, nullptr, file, &mq);
  }
  const auto n = static_cast<int32_t>(count);
  HalftonePattern* patterns = nullptr;
  if (st == VLT_OK) {
    patterns = static_cast<HalftonePattern*>(state->calloc(static_cast<size_t>(n), sizeof(HalftonePattern)));
    if (patterns == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  }
  const uint32_t patternWords = (pw + 31) / 32;
  for (int32_t i = 0; st == VLT_OK && i < n; ++i) {
    patterns[i].wordsPerRow = static_cast<uint16_t>(patternWords);
    patterns[i].bits = static_cast<uint8_t*>(state->calloc(size_t{patternWords} * ph * 4, 1));
    if (patterns[i].bits == nullptr) {
      st = Vlt_report(state, VLT_ERR_NOMEM);
      break;
    }
    jb2ReadoutBits(all, static_cast<uint32_t>(i) * pw, static_cast<uint32_t>(width), ph, patterns[i].bits, pw);
  }
  state->free(all);
  if (st != VLT_OK) {
    free_patterns(patterns, n, state);
    return st;
  }
  seg->body.patternDict = Jb2PatternDict{n, static_cast<uint16_t>(pw), static_cast<uint16_t>(ph), patterns};
  return VLT_OK;
}

void jb2FreeHTDictSegment(SegmentInfo* seg, VltState* state) {
  Jb2PatternDict& d = seg->body.patternDict;
  free_patterns(d.patterns, d.count, state);
  d = Jb2PatternDict{};
}

VltStatus jb2DecodeHTReg(Jb2File* file, DataSource* source, SegmentInfo* seg, SegmentInfo** referred) {
  VltState* state = jb2GetFileVlt_State(file);
  if (seg->referredCount != 1 || referred[0]->type != JB2_SEG_PATTERN_DICT)
    return bad(file, "bad reference list for halftone region");
  const Jb2PatternDict& dict = referred[0]->body.patternDict;
  const uint32_t planes = ceillog2(static_cast<uint32_t>(dict.count));
  VltStatus st = jb2DecodeRegSegment(file, source, &seg->region);
  if (st != VLT_OK) return st;
  uint8_t b[21];
  uint32_t got = 0;
  if ((st = dsRead(source, 1, b, &got)) != VLT_OK) return st;
  const uint8_t mmr = b[0] & 1;
  const uint8_t tmpl = (b[0] >> 1) & 3;
  const uint8_t enableSkip = (b[0] >> 3) & 1;
  const uint8_t combOp = (b[0] >> 4) & 7;
  if (mmr && tmpl != 0) return bad(file, "non-zero template in MMR halftone region segment");
  if (mmr && enableSkip) return bad(file, "skip enabled in MMR halftone region segment");
  if (combOp > JB2_COMBOP_REPLACE) return bad(file, "bad combination operator in halftone region segment");
  if ((st = dsRead(source, 20, b + 1, &got)) != VLT_OK) return st;
  Jb2HalftoneRegion& h = seg->body.halftone;
  const uint32_t gw = mono::load_be32(b + 1), gh = mono::load_be32(b + 5);
  const Jb2HalftoneRegion grid{nullptr,
                               static_cast<int32_t>(mono::load_be32(b + 9)),
                               static_cast<int32_t>(mono::load_be32(b + 13)),
                               mono::load_be16(b + 17),
                               mono::load_be16(b + 19),
                               combOp,
                               static_cast<uint8_t>(b[0] >> 7),
                               referred[0]};
  if (planes >= 16) return bad(file, "unimplemented number of planes");
  if (gw > kMaxGrayCells || gh > kMaxGrayCells || uint64_t{gw} * gh > kMaxGrayCells)
    return bad(file, "halftone grid too large");
  if ((st = jb2CheckRegionSize(file, seg->region.width, seg->region.height)) != VLT_OK) return st;

  uint64_t budget = jb2WorkBudget(file, seg->dataLength);
  const uint64_t doneBefore = file->workDone;
  if (!mmr && (st = jb2TakeWork(file, &budget, uint64_t{planes} * gw * gh, "coded data too short for its size")) != VLT_OK)
    return st;
  jb2SettleWork(file, seg->dataLength, doneBefore);

  RegionWork w{state};
  const auto gridW = static_cast<int32_t>(gw), gridH = static_cast<int32_t>(gh);
  w.planes = static_cast<VltImage**>(state->calloc(planes != 0 ? planes : 1, sizeof(VltImage*)));
  if (w.planes == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  w.planeCount = planes;
  uint32_t left = 0;
  MqDecoder mq;
  Jb2GenericParams params{};
  if (mmr) {
    if (seg->dataLength < kRegionHeader) return Vlt_report(state, VLT_ERR_IO_LENGTH);
    left = seg->dataLength - kRegionHeader;
    if ((st = jb2ReadBlock(file, source, left, &w.block)) != VLT_OK) return st;
  } else {
    params.gbTemplate = tmpl;
    params.atx[0] = tmpl <= 1 ? 3 : 2;
    params.aty[0] = -1;
    if (tmpl == 0) {
      params.atx[1] = -3;
      params.aty[1] = -1;
      params.atx[2] = 2;
      params.aty[2] = -2;
      params.atx[3] = -2;
      params.aty[3] = -2;
    }
    w.contexts = static_cast<uint8_t*>(state->calloc(jb2ABContextsNeeded(&params), 1));
    if (w.contexts == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    dsInitVltEncode_MQDecoder(source, &mq);
    if (enableSkip && gw != 0 && gh != 0) {
      if ((st = VltImage_new(state, VLT_IMAGE_PACKED, gridW, gridH, &w.skip)) != VLT_OK) return st;
      const int64_t rw = seg->region.width, rh = seg->region.height;
      for (int32_t m = 0; m < gridH; ++m)
        for (int32_t n = 0; n < gridW; ++n) {
          int64_t x, y;
          cell_origin(grid, m, n, &x, &y);
          if (outside(x, y, dict.width, dict.height, rw, rh)) VltImage_setPackedPixel(w.skip, n, m, 1);
        }
    }
  }
  uint64_t pastEnd = 0;  // cells decoded after the MQ data ended
  for (uint32_t j = planes; j-- > 0;) {
    if (!mmr && jb2MqPastEnd(&mq) && (pastEnd += uint64_t{gw} * gh) > JB2_MQ_PIXELS_PAST_END)
      return bad(file, "arithmetic-coded data ends early");
    if ((st = VltImage_new(state, VLT_IMAGE_PACKED, gridW, gridH, &w.planes[j])) != VLT_OK) return st;
    VltImage* plane = w.planes[j];
    if (plane->rows == nullptr) continue;
    if (mmr) {
      st = jb2MMRDecodeImageMemory(plane->rows[0], gridW, gridH, plane->hdr.bytesPerLine / 4, 0, gridW - 1, gridH - 1,
                                   w.block + (seg->dataLength - kRegionHeader - left), &left, state);
      if (st != VLT_OK) return st;
    } else if ((st = jb2ArithDecodeImagePacked(plane, &params, w.contexts, &mq, w.skip)) != VLT_OK) {
      return st;
    }
  }
  if ((st = VltImage_new(state, VLT_IMAGE_SHORT, gridW, gridH, &w.gray)) != VLT_OK) return st;
  // Gray decoding, a plane at a time from the most significant: bit j is plane j's pixel XOR
  // bit j + 1.
  for (int32_t m = 0; m < gridH && w.gray->rows != nullptr; ++m) {
    auto* row = reinterpret_cast<int16_t*>(w.gray->rows[m]);
    std::memset(row, 0, sizeof(int16_t) * static_cast<size_t>(gridW));
    for (uint32_t j = planes; j-- > 0;) {
      const uint8_t* bits = w.planes[j]->rows[m];
      for (int32_t n = 0; n < gridW; ++n) {
        const auto v = static_cast<uint32_t>(static_cast<uint16_t>(row[n]));
        const uint32_t bit = ((bits[n >> 3] >> (7 - (n & 7))) & 1u) ^ ((v >> (j + 1)) & 1u);
        row[n] = static_cast<int16_t>(v | bit << j);
      }
    }
  }
  h = grid;
  h.gray = w.gray;
  w.gray = nullptr;
  return VLT_OK;
}

VltStatus jb2RenderHTReg(Jb2File* file, SegmentInfo* seg) {
  if (seg->hasBitmap) return VLT_OK;
  const Jb2RegionInfo& r = seg->region;
  VltImage* bm = nullptr;
  if (const VltStatus st = jb2NewRegionBitmap(file, r, &bm); st != VLT_OK) return st;
  const Jb2HalftoneRegion& h = seg->body.halftone;
  const Jb2PatternDict& dict = h.patternDict->body.patternDict;
  if (bm->rows != nullptr && h.defaultPixel) VltBlat_blitFillPacked(bm);
  const int32_t op = static_cast<int32_t>(jb2Minterms[h.combOp]);
  const int32_t gw = h.gray->hdr.width, gh = h.gray->hdr.height;
  // Cells of large patterns on a fine grid overlap: what they would draw is counted first.
  const uint64_t budget = jb2DrawBudget(uint64_t{r.width} * r.height);
  uint64_t drawn = 0;
  for (int32_t m = 0; m < gh && h.gray->rows != nullptr && bm->rows != nullptr; ++m)
    for (int32_t n = 0; n < gw; ++n) {
      int64_t x, y;
      cell_origin(h, m, n, &x, &y);
      if (outside(x, y, dict.width, dict.height, r.width, r.height)) continue;
      const int64_t cw = std::min<int64_t>(x + dict.width, r.width) - std::max<int64_t>(x, 0);
      const int64_t ch = std::min<int64_t>(y + dict.height, r.height) - std::max<int64_t>(y, 0);
      drawn += static_cast<uint64_t>(cw) * static_cast<uint64_t>(ch);
      if (drawn > budget) {
        VltImage_free(bm);
        return bad(file, "halftone cells cover their region too many times over");
      }
    }
  for (int32_t m = 0; m < gh && h.gray->rows != nullptr; ++m) {
    const auto* row = reinterpret_cast<const int16_t*>(h.gray->rows[m]);
    for (int32_t n = 0; n < gw; ++n) {
      const int16_t v = row[n];
      if (v < 0 || v >= dict.count) {
        VltImage_free(bm);
        return bad(file, "bad halftone index");
      }
      int64_t x, y;
      cell_origin(h, m, n, &x, &y);
      if (bm->rows == nullptr || outside(x, y, dict.width, dict.height, r.width, r.height)) continue;
      const HalftonePattern& p = dict.patterns[v];
      VltBlat_blitBitsOp(bm->rows[0], bm->hdr.bytesPerLine / 4, 0, 0, bm->hdr.width, bm->hdr.height, p.bits,
                         p.wordsPerRow, dict.width, dict.height, static_cast<int32_t>(x), static_cast<int32_t>(y), op);
    }
  }
  seg->bitmap = bm;
  seg->hasBitmap = 1;
  return VLT_OK;
}

VltStatus jb2RenderHTRegIntoPage(Jb2File* file, SegmentInfo* seg, VltImage* page) {
  if (seg->type == JB2_SEG_HALFTONE_INTERMEDIATE) return VLT_ERR_ASSERT;
  const Jb2RegionInfo& r = seg->region;
  if (uint64_t{r.x} + r.width > static_cast<uint64_t>(page->hdr.width) ||
      uint64_t{r.y} + r.height > static_cast<uint64_t>(page->hdr.height))
    return bad(file, "region extends off page");
  if (const VltStatus st = jb2RenderHTReg(file, seg); st != VLT_OK) return st;
  return VltBlat_blitPackedOp(page, seg->bitmap, static_cast<int32_t>(r.x), static_cast<int32_t>(r.y),
                              static_cast<int32_t>(jb2Minterms[r.combOp]));
}

void jb2FreeHTRegSegment(SegmentInfo* seg, VltState*) {
  VltImage_free(seg->body.halftone.gray);
  seg->body.halftone = Jb2HalftoneRegion{};
}
