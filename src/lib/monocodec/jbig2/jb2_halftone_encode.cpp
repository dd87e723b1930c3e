// Grey areas of a page as JBIG2 halftones: a pattern dictionary of dot patterns, one per grey
// level, and a halftone region whose grey image picks a pattern for every cell of a straight grid.

#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "jb2_encode.h"
#include "pixr.h"
#include "pixr_ops.h"
#include "vlt_state.h"

namespace {

void free_pattern_bits(HalftonePattern* patterns, uint32_t count, VltState* state) {
  for (uint32_t i = 0; i < count; ++i) {
    state->free(patterns[i].bits);
    patterns[i].bits = nullptr;
  }
}

// The dot grows by one pixel per step; steps whose number is in the skip table make no pattern.
struct Spiral {
  VltImage* work;
  HalftonePattern* patterns;
  uint32_t count;
  uint32_t size;
  const uint32_t* skip;
  uint32_t skipCount;
  uint32_t next = 1;  // pattern the next kept step fills
  uint32_t step = 0;
  uint32_t skipAt = 0;

  void set(uint32_t x, uint32_t y) {
    VltImage_setPackedPixel(work, static_cast<int32_t>(x), static_cast<int32_t>(y), 1);
    ++step;
    if (skipCount > 0 && skip[skipAt] == step) {
      if (skipAt + 1 < skipCount) ++skipAt;
      return;
    }
    if (next < count) copy_to(patterns[next++]);
  }

  void copy_to(const HalftonePattern& p) const {
    const size_t workWords = (size + 31) / 32;
    for (uint32_t y = 0; y < size; ++y)
      std::memcpy(p.bits + size_t{y} * p.wordsPerRow * 4, work->rows[y], workWords * 4);
  }
};

}  // namespace

VltStatus makeSpiralHalftonePattern(VltState* state, uint32_t size, uint32_t count, int reverse,
                                    HalftonePattern* patterns) {
  const uint64_t area = uint64_t{size} * size;
  const uint32_t words = size / 32 + 1;
  if (size == 0 || count > area + 1 || count < 2 || patterns == nullptr || size > INT32_MAX || words > 0xFFFF)
    return VLT_ERR_ASSERT;
  size_t bytes = 0;
  if (!mono::checked_mul(size_t{size}, size_t{words} * 4, &bytes)) return VLT_ERR_ASSERT;
  VltImage* work = nullptr;
  if (const VltStatus st = VltImage_new(state, VLT_IMAGE_PACKED, static_cast<int32_t>(size),
                                        static_cast<int32_t>(size), &work);
      st != VLT_OK)
    return st;
  for (uint32_t i = 0; i < count; ++i) patterns[i].bits = nullptr;
  VltStatus st = VLT_OK;
  for (uint32_t i = 0; i < count && st == VLT_OK; ++i) {
    // The spare word beyond a row's pixels (cells a multiple of 32 wide) is left clear.
    patterns[i].bits = static_cast<uint8_t*>(state->calloc(bytes, 1));
    patterns[i].wordsPerRow = static_cast<uint16_t>(words);
    if (patterns[i].bits == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  }
  const auto skipCount = static_cast<uint32_t>(area - count + 1);
  uint32_t* skip = nullptr;
  if (st == VLT_OK && skipCount > 0) {
    skip = static_cast<uint32_t*>(state->malloc(size_t{skipCount} * sizeof(uint32_t)));
    if (skip == nullptr) st = Vlt_report(state, VLT_ERR_NOMEM);
  }
  if (st != VLT_OK) {
    free_pattern_bits(patterns, count, state);
    VltImage_free(work);
    return st;
  }
  // Skipped steps spread evenly over the growth, worked out in single precision.
  const float spacing = static_cast<float>(area) / static_cast<float>(skipCount + 1);
  for (uint32_t i = 0; i < skipCount; ++i) {
    const float at = static_cast<float>(i + 1) * spacing;
    skip[i] = static_cast<uint32_t>(static_cast<double>(at) + 0.5);
  }
  Spiral s{work, patterns, count, size, skip, skipCount};
  s.copy_to(patterns[0]);
  // Square rings around the centre, each filled on all four edges at once from the middle of the
  // edge outwards, alternating sides; the direction flag carries over from ring to ring.
  const bool odd = (size & 1) != 0;
  bool up = true;
  for (uint32_t r = odd ? 1 : 2; r <= size; r += 2) {
    const uint32_t a = (size - r) / 2, b = a + r - 1;
    if (r == 1) {
      s.set(a, a);
      continue;
    }
    int64_t h = odd ? (r - 1) / 2 : r / 2 - 1;
    for (uint32_t t = 1; t < r; ++t) {
      const auto o = static_cast<uint32_t>(h);
      s.set(a + o, a);
      s.set(b, a + o);
      s.set(b - o, b);
      s.set(a, b - o);
      h += up ? int64_t{t} : -int64_t{t};
      up = !up;
    }
  }
  if (reverse)
    for (uint32_t i = 0; i + 1 < count - i; ++i) {
      uint8_t* t = patterns[i].bits;
      patterns[i].bits = patterns[count - 1 - i].bits;
      patterns[count - 1 - i].bits = t;
    }
  state->free(skip);
  VltImage_free(work);
  return VLT_OK;
}

namespace {

// The grey image of one box as the region writer takes it: one 16-bit pattern index per cell.
VltStatus gray_image(VltState* state, const PIXR* pixr, VltImage** out) {
  IPWState* ipw = state->ipwState;
  int32_t width = 0, height = 0, depth = 0, frame = 0;
  VltStatus st = w_pixrGetWidth(ipw, pixr, &width);
  if (st == VLT_OK) st = w_pixrGetHeight(ipw, pixr, &height);
  if (st == VLT_OK) st = w_pixrGetDepth(ipw, pixr, &depth);
  if (st == VLT_OK) st = w_pixrGetFrame(ipw, pixr, &frame);
  if (st == VLT_OK) st = VltImage_new(state, VLT_IMAGE_SHORT, width, height, out);
  if (st != VLT_OK) return st;
  for (int32_t y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<int16_t*>((*out)->rows[y]);
    for (int32_t x = 0; x < width; ++x) {
      uint32_t v = 0;
      if ((st = w_pixrGetPixel(ipw, pixr, x, y, &v)) != VLT_OK) {
        VltImage_free(*out);
        *out = nullptr;
        return st;
      }
      row[x] = static_cast<int16_t>(v);
    }
  }
  return VLT_OK;
}

VltStatus encode_box(const HalftoneBox& box, const PIXR* pixr, Jb2File* file, uint32_t page, VltState* state) {
  VltImage* gray = nullptr;
  if (const VltStatus st = gray_image(state, pixr, &gray); st != VLT_OK) return st;
  const auto size = static_cast<uint32_t>(box.cellSize);
  if (box.levels < 2 || uint64_t(uint32_t(box.levels)) > uint64_t{size} * size + 1) {
    VltImage_free(gray);
    return VLT_ERR_ASSERT;
  }
  const auto levels = static_cast<uint32_t>(box.levels);
  auto* patterns = static_cast<HalftonePattern*>(state->malloc(size_t{levels} * sizeof(HalftonePattern)));
  if (patterns == nullptr) {
    VltImage_free(gray);
    return Vlt_report(state, VLT_ERR_NOMEM);
  }
  VltStatus st = makeSpiralHalftonePattern(state, size, levels, 1, patterns);
  SegmentInfo dict{};
  if (st == VLT_OK) {
    dict.page = page;
    dict.body.patternDict = Jb2PatternDict{box.levels, static_cast<uint16_t>(size), static_cast<uint16_t>(size), patterns};
    st = jb2EncodeHTDict(file, &dict);
    free_pattern_bits(patterns, levels, state);
  }
  state->free(patterns);
  dict.body.patternDict.patterns = nullptr;
  if (st == VLT_OK) {
    uint32_t referred = dict.number;
    uint8_t referredRetain = 0;
    SegmentInfo region{};
    region.page = page;
    region.referredCount = 1;
    region.referred = &referred;
    region.referredRetain = &referredRetain;
    region.type = JB2_SEG_HALFTONE_LOSSLESS;
    region.region = Jb2RegionInfo{static_cast<uint32_t>(box.width), static_cast<uint32_t>(box.height),
                                  static_cast<uint32_t>(box.x), static_cast<uint32_t>(box.y), JB2_COMBOP_OR};
    region.body.halftone = Jb2HalftoneRegion{gray, 0, 0, static_cast<int32_t>(size * 256), 0, JB2_COMBOP_OR, 0, &dict};
    SegmentInfo* refs[1] = {&dict};
    st = jb2EncodeHTRegion(file, &region, refs);
  }
  VltImage_free(gray);
  return st;
}

}  // namespace

VltStatus encodeHalftoneJBig2(VltAdtList* boxes, VltAdtList* greys, Jb2File* file, int32_t kind, uint32_t page,
                              VltState* state) {
  if (boxes == nullptr || greys == nullptr) return VLT_ERR_ASSERT;
  for (VltAdtListNode *b = boxes->first, *g = greys->first; b != nullptr && g != nullptr; b = b->next, g = g->next) {
    const auto* box = static_cast<const HalftoneBox*>(b->data);
    if (box->cellSize <= 0 || box->kind != kind) continue;
    if (g->data == nullptr) return VLT_ERR_ASSERT;
    if (const VltStatus st = encode_box(*box, static_cast<const PIXR*>(g->data), file, page, state); st != VLT_OK)
      return st;
  }
  return VLT_OK;
}
