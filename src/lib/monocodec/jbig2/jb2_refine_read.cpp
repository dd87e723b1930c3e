// Generic refinement: a bitmap coded relative to a reference (another region's bitmap or the page
// under the region). The template decoders keep the context as a running value: moving one pixel
// right shifts it, keeps the pixels that stay in the template and reads only those entering at
// its right edge, plus the adaptive pixels.

#include <bit>
#include <cstdint>
#include <cstring>

#include "jb2_decode.h"
#include "vlt_blit.h"
#include "vlt_mq_fast.h"
#include "vlt_state.h"

namespace {

// Only an intermediate region can be refined: of the known types 4, 20, 36 and 40.
bool intermediate_region(uint8_t t) {
  return !((t & 0x30) == 0x30 || (t & 0x0C) == 0 || (t & 0x02) != 0);
}

bool is_refinement(const SegmentInfo* s) {
  return s != nullptr && (s->type == JB2_SEG_REFINE_INTERMEDIATE || s->type == JB2_SEG_REFINE_IMMEDIATE ||
                          s->type == JB2_SEG_REFINE_LOSSLESS);
}

// A pixel of a Packed image, 0 outside it.
inline uint32_t px(const VltImage* im, int64_t x, int64_t y) {
  if (x < 0 || y < 0 || x >= im->hdr.width || y >= im->hdr.height) return 0;
  const uint8_t* row = im->rows[y];
  return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}

inline void set_px(VltImage* im, int64_t x, int64_t y) {
  im->rows[y][x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
}

// The 3 x 3 reference block around (rx, ry): three bits a row, rows ry-1 .. ry+1 from the low
// end, within a row x+1 lowest.
uint32_t block_at(const VltImage* ref, int64_t rx, int64_t ry) {
  uint32_t v = 0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) v |= px(ref, rx + 1 - c, ry - 1 + r) << (3 * r + c);
  return v;
}

// A column beyond every bitmap, far enough from overflow for the differences taken of it.
constexpr int64_t kNoBlack = int64_t{1} << 62;

// The first black pixel of row y at or after column from; kNoBlack when there is none (a row
// outside the image has none; bits past the width do not count).
int64_t next_black(const VltImage* im, int64_t y, int64_t from) {
  const int64_t width = im->hdr.width;
  if (from < 0) from = 0;
  // An empty image has no rows at all.
  if (y < 0 || y >= im->hdr.height || from >= width) return kNoBlack;
  const uint8_t* row = im->rows[y];
  const int64_t last = (width - 1) >> 3;
  int64_t at = from >> 3;
  uint32_t b = row[at] & (0xFFu >> (from & 7));
  while (b == 0) {
    // White rows are passed over eight bytes at a time (a zero test needs no byte order).
    while (at + 8 <= last) {
      uint64_t word;
      std::memcpy(&word, row + at + 1, sizeof word);
      if (word != 0) break;
      at += 8;
    }
    if (++at > last) return kNoBlack;
    b = row[at];
  }
  const int64_t x = at * 8 + std::countl_zero(static_cast<uint8_t>(b));
  return x < width ? x : kNoBlack;
}

// Where the next black pixel of a row lies, found again only once decoding has passed it.
struct BlackAhead {
  int64_t at = INT64_MIN;
  int64_t from(const VltImage* im, int64_t y, int64_t x) {
    if (at < x) at = next_black(im, y, x);
    return at;
  }
};

// False, the bitmap unfinished, once the decoder has made more decisions after meeting the end
// of its data than a conforming stream leaves there.
//
// White stretches, where every pixel of the template is white so the context stays 0, are taken
// at once: typical pixels (with typical prediction on) need no decision at all, others as many
// decisions of the white more probable symbol as the coder gives without renormalising. A page of
// white thus costs about what its coded bytes say, not a decision's full price a pixel.
template <int T>
bool refine(VltImage* dst, const VltImage* ref, int32_t dx, int32_t dy, const RefinementParams* p,
            uint8_t* cx, MqDecoder* mq) {
  const int32_t width = dst->hdr.width, height = dst->hdr.height;
  if (width <= 0 || height <= 0 || dst->rows == nullptr) return true;
  uint64_t tail = JB2_MQ_PIXELS_PAST_END;
  // Context bits of the three reference pixels entering at column x' + 1 of rows y'-1, y', y'+1,
  // and the bits kept when moving on.
  constexpr uint32_t keep = T == 0 ? 0x936u : 0x31Au;
  constexpr int prevBit = T == 0 ? 6 : 5;
  constexpr uint32_t sltp = T == 0 ? 0x10u : 0x08u;
  int ltp = 0;
  for (int32_t y = 0; y < height; ++y) {
    if (p->tpgron) {
      if (mq->mode != MQD_MODE_DATA && tail-- == 0) return false;
      ltp ^= VltEncode_mqdDecode(mq, &cx[sltp]);
    }
    const int64_t ry = int64_t{y} - dy;
    uint32_t ctx = 0, block = 0, prev = 0;
    bool whole = true;  // the template is made afresh at the row's start and after a stretch
    // The reference rows around the pixel, the row above it, and the rows of the adaptive pixels.
    BlackAhead refAbove, refLevel, refBelow, up, atRef, atDst;
    for (int32_t x = 0; x < width;) {
      const int64_t rx = int64_t{x} - dx;
      if (whole) {
        whole = false;
        // The whole template at the row's first pixel (and after a stretch), the rest incrementally.
        if constexpr (T == 0) {
          ctx = px(ref, rx + 1, ry + 1) | px(ref, rx, ry + 1) << 1 | px(ref, rx - 1, ry + 1) << 2 |
                px(ref, rx + 1, ry) << 3 | px(ref, rx, ry) << 4 | px(ref, rx - 1, ry) << 5 |
                px(ref, rx + 1, ry - 1) << 7 | px(ref, rx, ry - 1) << 8 | px(dst, x + 1, y - 1) << 10 |
                px(dst, x, y - 1) << 11;
        } else {
          ctx = px(ref, rx + 1, ry + 1) | px(ref, rx, ry + 1) << 1 | px(ref, rx + 1, ry) << 2 |
                px(ref, rx, ry) << 3 | px(ref, rx - 1, ry) << 4 | px(ref, rx, ry - 1) << 6 |
                px(dst, x + 1, y - 1) << 7 | px(dst, x, y - 1) << 8 | px(dst, int64_t{x} - 1, y - 1) << 9;
        }
        if (ltp) block = block_at(ref, rx, ry);
      } else {
        const uint32_t below = px(ref, rx + 1, ry + 1), level = px(ref, rx + 1, ry);
        uint32_t above = 0;
        if constexpr (T == 0) {
          above = px(ref, rx + 1, ry - 1);
          ctx = ((ctx << 1) & keep) | below | level << 3 | prev << prevBit | above << 7 |
                px(dst, x + 1, y - 1) << 10;
        } else {
          ctx = ((ctx << 1) & keep) | below | level << 2 | prev << prevBit | px(ref, rx, ry - 1) << 6 |
                px(dst, x + 1, y - 1) << 7;
          if (ltp) above = px(ref, rx + 1, ry - 1);
        }
        if (ltp) block = ((block << 1) & 0x1B6u) | above | level << 3 | below << 6;
      }
      uint32_t full = ctx;
      if constexpr (T == 0)
        full |= px(ref, rx + p->atx2, ry + p->aty2) << 9 | px(dst, int64_t{x} + p->atx1, int64_t{y} + p->aty1) << 12;
      if (full == 0 && (ltp ? block == 0 : (cx[0] & 0x80u) == 0)) {
        // The pixels from x on whose whole template is white while they decode white: the
        // reference's three rows over columns rx - 1 .. rx + k, and unless they are typical, the
        // row above over x .. x + k and the adaptive pixels' rows.
        int64_t k = int64_t{width} - x;
        const auto upto = [&](int64_t black, int64_t first) {
          if (black - first < k) k = black - first;
        };
        upto(refAbove.from(ref, ry - 1, rx - 1), rx + 1);
        upto(refLevel.from(ref, ry, rx - 1), rx + 1);
        upto(refBelow.from(ref, ry + 1, rx - 1), rx + 1);
        if (!ltp) {
          upto(up.from(dst, int64_t{y} - 1, x), int64_t{x} + 1);
          if constexpr (T == 0) {
            upto(atRef.from(ref, ry + p->aty2, rx + p->atx2), rx + p->atx2);
            upto(atDst.from(dst, int64_t{y} + p->aty1, int64_t{x} + p->atx1), int64_t{x} + p->atx1);
          }
        }
        if (k > 1) {
          int64_t n = k;
          if (!ltp) {
            vlt_mq::FastDecoder dec(mq);
            n = dec.run(&cx[0], static_cast<uint32_t>(k));
            dec.store();
            if (mq->mode != MQD_MODE_DATA) {
              if (tail < static_cast<uint64_t>(n)) return false;
              tail -= static_cast<uint64_t>(n);
            }
          }
          if (n > 0) {
            x += static_cast<int32_t>(n);
            prev = 0;
            whole = true;
            continue;
          }
        }
      }
      uint32_t bit;
      if (ltp && (block == 0 || block == 0x1FFu)) {
        bit = block != 0;
      } else {
        if (mq->mode != MQD_MODE_DATA && tail-- == 0) return false;
        bit = static_cast<uint32_t>(VltEncode_mqdDecode(mq, &cx[full]));
      }
      if (bit) {
        set_px(dst, x, y);
        // A black pixel in the row being decoded may lie before where its row was searched.
        atDst = BlackAhead{};
      }
      prev = bit;
      ++x;
    }
  }
  return true;
}

VltStatus ran_past_end(const MqDecoder* mq) {
  return Vlt_reportErrMsg(mq->state != nullptr ? mq->state->errState : nullptr, VLT_ERR_CODEC,
                          "arithmetic-coded data ends early");
}

// Decodes the refinement of seg against the bitmap of its reference, which is rendered already.
VltStatus render_one(Jb2File* file, SegmentInfo* seg) {
  VltState* state = jb2GetFileVlt_State(file);
  const Jb2RegionInfo& r = seg->region;
  const Jb2RefineRegion& g = seg->body.refinement;
  VltImage* bm = nullptr;
  VltStatus st = VltImage_new(state, VLT_IMAGE_PACKED, static_cast<int32_t>(r.width),
                              static_cast<int32_t>(r.height), &bm);
  if (st != VLT_OK) return st;
  auto* cx = static_cast<uint8_t*>(state->calloc(jb2RABContextsNeeded(&g.params), 1));
  if (cx == nullptr) {
    VltImage_free(bm);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  MqDecoder mq;
  VltEncode_mqdInit(&mq, g.data, static_cast<uint32_t>(g.dataLength), nullptr, nullptr, state);
  const VltImage* ref = g.reference->bitmap;
  st = g.params.grTemplate == 0 ? refineImageT13(bm, ref, 0, 0, &g.params, cx, &mq)
                                : refineImageT10(bm, ref, 0, 0, &g.params, cx, &mq);
  state->free(cx);
  if (st != VLT_OK) {
    VltImage_free(bm);
    return st;
  }
  seg->bitmap = bm;
  seg->hasBitmap = 1;
  return VLT_OK;
}

bool usable_reference(const SegmentInfo* seg) {
  const SegmentInfo* ref = seg->body.refinement.reference;
  return ref != nullptr && intermediate_region(ref->type);
}

}  // namespace

uint32_t jb2RABContextsNeeded(const RefinementParams* params) {
  return params->grTemplate == 0 ? 8192 : params->grTemplate == 1 ? 1024 : 1;
}

VltStatus jb2DecodeRABParams(Jb2File* file, DataSource* source, RefinementParams* p,
                             uint32_t* consumed) {
  p->atx1 = p->aty1 = p->atx2 = p->aty2 = 0;
  if (p->grTemplate == 0) {
    uint8_t b[4];
    uint32_t got = 0;
    const VltStatus st = dsRead(source, 4, b, &got);
    *consumed += got / 2 * 2;
    if (st != VLT_OK) return st;
    p->atx1 = static_cast<int8_t>(b[0]);
    p->aty1 = static_cast<int8_t>(b[1]);
    p->atx2 = static_cast<int8_t>(b[2]);
    p->aty2 = static_cast<int8_t>(b[3]);
    // The first adaptive pixel lies in the bitmap being decoded, so it must be decoded already.
    if (p->aty1 < 0 || (p->aty1 == 0 && p->atx1 < 0)) return VLT_OK;
  } else if (p->grTemplate == 1) {
    return VLT_OK;
  }
  return jb2Fail(file, VLT_ERR_PARAM, "bad RAT params");
}

VltStatus refineImageT13(VltImage* dst, const VltImage* ref, int32_t dx, int32_t dy,
                         const RefinementParams* params, uint8_t* contexts, MqDecoder* mq) {
  return refine<0>(dst, ref, dx, dy, params, contexts, mq) ? VLT_OK : ran_past_end(mq);
}

VltStatus refineImageT10(VltImage* dst, const VltImage* ref, int32_t dx, int32_t dy,
                         const RefinementParams* params, uint8_t* contexts, MqDecoder* mq) {
  return refine<1>(dst, ref, dx, dy, params, contexts, mq) ? VLT_OK : ran_past_end(mq);
}

VltStatus jb2ArithDecodeRefinement(uint8_t* dst, int32_t width, int32_t height, int32_t wordsPerRow,
                                   const uint8_t* ref, int32_t refWidth, int32_t refHeight,
                                   int32_t refWordsPerRow, int32_t dx, int32_t dy,
                                   const RefinementParams* params, uint8_t* contexts, Jb2File* file,
                                   MqDecoder* mq) {
  VltState* state = jb2GetFileVlt_State(file);
  if (params->grTemplate > 1) return jb2Fail(file, VLT_ERR_PARAM, "bad RAT params");
  VltImage* d = nullptr;
  VltImage* r = nullptr;
  VltStatus st = VltImage_wrap(state, dst, width, height, wordsPerRow, &d);
  if (st != VLT_OK) return st;
  // The reference is only read.
  st = VltImage_wrap(state, const_cast<uint8_t*>(ref), refWidth, refHeight, refWordsPerRow, &r);
  if (st != VLT_OK) {
    VltImage_unwrap(d, nullptr);
    return st;
  }
  uint8_t* own = nullptr;
  if (contexts == nullptr && (own = static_cast<uint8_t*>(state->calloc(jb2RABContextsNeeded(params), 1))) == nullptr) {
    st = Vlt_report(state, VLT_ERR_NOMEM);
  } else if (params->grTemplate == 0) {
    st = refineImageT13(d, r, dx, dy, params, contexts != nullptr ? contexts : own, mq);
  } else {
    st = refineImageT10(d, r, dx, dy, params, contexts != nullptr ? contexts : own, mq);
  }
  state->free(own);
  VltImage_unwrap(r, nullptr);
  VltImage_unwrap(d, nullptr);
  return st;
}

VltStatus jb2DecodeGenRefReg(Jb2File* file, DataSource* source, SegmentInfo* seg,
                             SegmentInfo** referred) {
  const int32_t count = seg->referredCount;
  if (seg->type == JB2_SEG_REFINE_INTERMEDIATE && count != 1)
    jb2Warn(file, "intermediate refinement refers to != 1 segments");
  else if (seg->type != JB2_SEG_REFINE_INTERMEDIATE && count >= 2)
    jb2Warn(file, "immediate refinement refers to != (0,1) segments");
  SegmentInfo* reference = nullptr;
  if (count == 1) {
    reference = referred[0];
    if (!intermediate_region(reference->type)) jb2Warn(file, "refinement refers to non-intermediate region segment");
  }
  VltStatus st = jb2DecodeRegSegment(file, source, &seg->region);
  if (st != VLT_OK) return st;
  if (reference != nullptr) {
    const Jb2RegionInfo& a = seg->region;
    const Jb2RegionInfo& b = reference->region;
    if (a.width != b.width || a.height != b.height || a.x != b.x || a.y != b.y || a.combOp != b.combOp)
      jb2Warn(file, "refinement segment doesn't match segment it's refining");
  }
  uint8_t flags;
  uint32_t got = 0;
  if (dsRead(source, 1, &flags, &got) != VLT_OK) return Vlt_report(jb2GetFileVlt_State(file), VLT_ERR_IO_LENGTH);
  Jb2RefineRegion& g = seg->body.refinement;
  g.params = RefinementParams{};
  g.params.grTemplate = flags & 1;
  g.params.tpgron = (flags >> 1) & 1;
  uint32_t consumed = 18;
  if ((st = jb2DecodeRABParams(file, source, &g.params, &consumed)) != VLT_OK) return st;
  if ((st = jb2CheckRegionSize(file, seg->region.width, seg->region.height)) != VLT_OK) return st;
  if (seg->dataLength < consumed) return jb2Fail(file, VLT_ERR_CODEC, "refinement region data too short");
  const uint32_t n = seg->dataLength - consumed;
  if (n > INT32_MAX) return jb2Fail(file, VLT_ERR_CODEC, "refinement region data too long");
  // Every pixel costs a decision, or with typical prediction at least every row does; an empty
  // region is not decoded at all.
  const uint64_t decisions = seg->region.width == 0 ? 0
                             : g.params.tpgron ? seg->region.height
                                              : uint64_t{seg->region.width} * seg->region.height;
  if (decisions > jb2MaxCodedPixels(n)) return jb2Fail(file, VLT_ERR_CODEC, "coded data too short for its size");
  if ((st = jb2ReadBlock(file, source, n, &g.data)) != VLT_OK) return st;
  g.dataLength = static_cast<int32_t>(n);
  g.reference = reference;
  return VLT_OK;
}

VltStatus jb2RenderGenRefReg(Jb2File* file, SegmentInfo* seg) {
  if (seg->hasBitmap) return VLT_OK;
  if (!usable_reference(seg)) return VLT_ERR_ASSERT;
  VltState* state = jb2GetFileVlt_State(file);
  // Refinements of refinements form a chain; render it from its far end, without recursion, so
  // the depth of a chain never matters.
  uint32_t depth = 0;
  for (SegmentInfo* s = seg; is_refinement(s) && !s->hasBitmap && usable_reference(s);
       s = s->body.refinement.reference)
    ++depth;
  auto** chain = static_cast<SegmentInfo**>(state->malloc(depth * sizeof(SegmentInfo*)));
  if (chain == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  SegmentInfo* s = seg;
  for (uint32_t i = 0; i < depth; ++i, s = s->body.refinement.reference) chain[i] = s;
  // s is now the first reference that is not an unrendered refinement.
  VltStatus st = is_refinement(s) && !s->hasBitmap ? VLT_ERR_ASSERT : jb2RenderRegion(file, s);
  for (uint32_t i = depth; i > 0 && st == VLT_OK; --i) st = render_one(file, chain[i - 1]);
  state->free(chain);
  return st;
}

VltStatus jb2RenderGenRefRegIntoPage(Jb2File* file, SegmentInfo* seg, VltImage* page) {
  const Jb2RegionInfo& r = seg->region;
  if (int64_t{r.x} + r.width > page->hdr.width || int64_t{r.y} + r.height > page->hdr.height)
    return jb2Fail(file, VLT_ERR_CODEC, "region extends off page");
  if (seg->type == JB2_SEG_REFINE_INTERMEDIATE) return VLT_ERR_ASSERT;
  const int32_t x = static_cast<int32_t>(r.x), y = static_cast<int32_t>(r.y);
  if (seg->referredCount != 0) {
    if (const VltStatus st = jb2RenderGenRefReg(file, seg); st != VLT_OK) return st;
    return VltBlat_blitPackedOp(page, seg->bitmap, x, y, static_cast<int32_t>(jb2Minterms[r.combOp]));
  }
  // The page itself is the reference.
  const Jb2RefineRegion& g = seg->body.refinement;
  if (g.reference != nullptr) return VLT_ERR_ASSERT;
  if (r.combOp != JB2_COMBOP_REPLACE) return jb2Fail(file, VLT_ERR_CODEC, "refinement segment applying to page needs REPLACE");
  if (r.width == 0 || r.height == 0) return VLT_OK;
  VltState* state = jb2GetFileVlt_State(file);
  const int32_t w = static_cast<int32_t>(r.width), h = static_cast<int32_t>(r.height);
  VltImage* under = nullptr;
  VltImage* result = nullptr;
  VltStatus st = VltImage_new(state, VLT_IMAGE_PACKED, w, h, &under);
  if (st == VLT_OK) st = VltImage_new(state, VLT_IMAGE_PACKED, w, h, &result);
  auto* cx = st == VLT_OK ? static_cast<uint8_t*>(state->calloc(jb2RABContextsNeeded(&g.params), 1)) : nullptr;
  if (st == VLT_OK && cx == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  if (st == VLT_OK) {
    VltBlat_blitPacked(under, page, -x, -y);
    MqDecoder mq;
    VltEncode_mqdInit(&mq, g.data, static_cast<uint32_t>(g.dataLength), nullptr, nullptr, state);
    st = g.params.grTemplate == 0 ? refineImageT13(result, under, 0, 0, &g.params, cx, &mq)
                                  : refineImageT10(result, under, 0, 0, &g.params, cx, &mq);
    if (st == VLT_OK) st = VltBlat_blitPackedOp(page, result, x, y, VLT_BLIT_REPLACE);
  }
  state->free(cx);
  VltImage_free(result);
  VltImage_free(under);
  return st;
}

void jb2FreeGenRefRegSegment(SegmentInfo* seg, VltState* state) {
  state->free(seg->body.refinement.data);
  seg->body.refinement.data = nullptr;
  seg->body.refinement.dataLength = 0;
}
