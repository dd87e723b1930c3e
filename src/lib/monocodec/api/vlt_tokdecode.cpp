// Embedded JBIG2 streams read back into dictionaries and page placements.

#include "vlt_tokdecode.h"

#include <algorithm>
#include <cstring>

#include "byteorder.h"
#include "checked_size.h"
#include "vlt_blit.h"

namespace {

VltStatus no_more(DataSource*, void*) { return VLT_OK; }

DataSource memory_source(const uint8_t* bytes, uint32_t length, VltState* state) {
  return DataSource{bytes, bytes != nullptr ? length : 0, 0, no_more, nullptr, state};
}

bool has_data(const DataSource& source) { return source.pos < source.size; }

void release(SegmentInfo* seg, VltState* state) {
  jb2FreeSegmentInfo(seg, state);
  state->free(seg);
}

// One segment: header, the records it refers to (all in the list already), data.
VltStatus segment_step(Jb2File* file, DataSource* source, const VltAdtList* list, SegmentInfo** out) {
  VltState* state = jb2GetFileVlt_State(file);
  auto* seg = static_cast<SegmentInfo*>(state->calloc(1, sizeof(SegmentInfo)));
  if (seg == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  SegmentInfo** referred = nullptr;
  VltStatus st = jb2DecodeSegmentHeader(file, source, seg);
  if (st == VLT_OK) st = jb2MarshalSegments(file, seg, list, &referred);
  if (st == VLT_OK) st = jb2DecodeSegment(file, source, seg, referred);
  state->free(referred);
  if (st != VLT_OK) {
    release(seg, state);
    return st;
  }
  *out = seg;
  return VLT_OK;
}

// A decoding context and a working list, released together.
struct Work {
  VltState* state;
  Jb2File* file = nullptr;
  VltAdtList* list = nullptr;

  explicit Work(VltState* s) : state(s) {}
  ~Work() {
    if (list != nullptr) {
      jb2_releaseTokSegments(list, nullptr, state);
      VltAdt_liFree(list);
    }
    jb2FreeFile(file);
  }
  VltStatus open() {
    VltStatus st = jb2CreateFile(nullptr, nullptr, state, &file);
    if (st == VLT_OK) st = VltAdt_liNew(&list, state);
    return st;
  }
};

// Reads segments up to the first symbol dictionary, which is taken out of the work.
VltStatus read_dictionary(Work* work, const uint8_t* bytes, uint32_t length, SegmentInfo** dict) {
  *dict = nullptr;
  DataSource source = memory_source(bytes, length, work->state);
  for (;;) {
    SegmentInfo* seg = nullptr;
    if (const VltStatus st = segment_step(work->file, &source, work->list, &seg); st != VLT_OK) return st;
    if (seg->type == JB2_SEG_SYMBOL_DICT) {
      *dict = seg;
      return VLT_OK;
    }
    if (const VltStatus st = VltAdt_liAdd(work->list, seg, nullptr); st != VLT_OK) {
      release(seg, work->state);
      return st;
    }
  }
}

const VltAdtListNode* first_after(const VltAdtList* list, const VltAdtListNode* last) {
  return last != nullptr ? last->next : list->first;
}

bool immediate_region(uint8_t type) { return jb2IsRegionSegment(type) && (type & 3) != 0; }

bool text_region(uint8_t type) {
  return type == JB2_SEG_TEXT_IMMEDIATE || type == JB2_SEG_TEXT_LOSSLESS;
}

// The page's size: its page information, else the clip window; a page of unknown height is as
// tall as the window.
struct PageSize {
  int64_t width;
  int64_t height;
  const Jb2PageInfo* info;
};

PageSize page_size(const VltAdtList* list, const VltAdtListNode* last, int32_t clipWidth, int32_t clipHeight) {
  for (const VltAdtListNode* n = first_after(list, last); n != nullptr; n = n->next) {
    const auto* seg = static_cast<const SegmentInfo*>(n->data);
    if (seg->type != JB2_SEG_PAGE_INFO) continue;
    const Jb2PageInfo& p = seg->body.pageInfo;
    return PageSize{p.width, p.height == 0xFFFFFFFFu ? clipHeight : int64_t{p.height}, &p};
  }
  return PageSize{clipWidth, clipHeight, nullptr};
}

// A T.88 decoder clips what it draws to the region, and the region to the page.
struct Window {
  int64_t left, top, right, bottom;
  bool empty() const { return left >= right || top >= bottom; }
};

Window region_window(const Jb2RegionInfo& r, int64_t width, int64_t height) {
  return Window{int64_t{r.x}, int64_t{r.y}, std::min<int64_t>(int64_t{r.x} + r.width, width),
                std::min<int64_t>(int64_t{r.y} + r.height, height)};
}

// Appends the placement unless nothing of it lies inside the window.
void place(Jb2TokPosition* out, int32_t* n, const Window& w, int64_t x, int64_t y, int32_t width, int32_t height,
           const uint8_t* bits, int32_t wordsPerRow) {
  if (w.empty() || bits == nullptr || width <= 0 || height <= 0) return;
  if (x >= w.right || y >= w.bottom || x + width <= w.left || y + height <= w.top) return;
  // Overlapping a window inside [0, 2^31) keeps x and y within 32 bits.
  out[(*n)++] = Jb2TokPosition{static_cast<int32_t>(x),      static_cast<int32_t>(y),     width,
                               height,                       bits,                        wordsPerRow,
                               static_cast<int32_t>(w.left), static_cast<int32_t>(w.top), static_cast<int32_t>(w.right),
                               static_cast<int32_t>(w.bottom)};
}

VltStatus header_walk_fail(VltState* state, VltStatus code, int32_t* count) {
  *count = -1;
  return Vlt_report(state, code);
}

// Skips a segment's data in a memory source; false when the data runs past the end.
bool skip_data(DataSource* source, uint32_t length) {
  if (length > source->size - source->pos) return false;
  source->pos += length;
  return true;
}

// Walks segment headers to the first whose type is accepted, leaving the source at its data.
template <typename Accept>
VltStatus find_header(Jb2File* file, DataSource* source, Accept accept, uint8_t* type, VltStatus missing) {
  VltState* state = jb2GetFileVlt_State(file);
  while (has_data(*source)) {
    SegmentInfo seg{};
    const VltStatus st = jb2DecodeSegmentHeader(file, source, &seg);
    state->free(seg.referred);
    state->free(seg.referredRetain);
    if (st != VLT_OK) return st;
    if (accept(seg.type)) {
      *type = seg.type;
      return VLT_OK;
    }
    if (!skip_data(source, seg.dataLength)) break;
  }
  return Vlt_report(state, missing);
}

// Reads n bytes of a data header; 2003 when they are not all there.
VltStatus read_field(DataSource* source, uint32_t n, uint8_t* out) {
  if (n > source->size - source->pos) return VLT_ERR_IO_LENGTH;
  std::memcpy(out, source->data + source->pos, n);
  source->pos += n;
  return VLT_OK;
}

}  // namespace

VltStatus jb2_decodeTokDictSeg(SegmentInfo** dict, const uint8_t* bytes, uint32_t length, VltState* state) {
  *dict = nullptr;
  Work work(state);
  if (const VltStatus st = work.open(); st != VLT_OK) return st;
  return read_dictionary(&work, bytes, length, dict);
}

VltStatus jb2_readTokPage(Jb2File* file, const uint8_t* bytes, uint32_t length, VltAdtList* list) {
  VltState* state = jb2GetFileVlt_State(file);
  VltAdtListNode* const entry = list->last;
  DataSource source = memory_source(bytes, length, state);
  VltStatus st = VLT_OK;
  while (st == VLT_OK && has_data(source)) {
    SegmentInfo* seg = nullptr;
    if ((st = segment_step(file, &source, list, &seg)) != VLT_OK) break;
    if (seg->type == JB2_SEG_END_OF_PAGE || seg->type == JB2_SEG_END_OF_FILE) {
      release(seg, state);
      break;
    }
    if ((st = VltAdt_liAdd(list, seg, nullptr)) != VLT_OK) release(seg, state);
  }
  if (st != VLT_OK) jb2_releaseTokSegments(list, entry, state);
  return st;
}

bool jb2_tokPlacementsExact(const VltAdtList* list, const VltAdtListNode* last) {
  for (const VltAdtListNode* n = first_after(list, last); n != nullptr; n = n->next) {
    const auto* seg = static_cast<const SegmentInfo*>(n->data);
    if (seg->type == JB2_SEG_PAGE_INFO && seg->body.pageInfo.defaultPixel != 0) return false;
    if (!jb2IsRegionSegment(seg->type)) continue;
    // Intermediate regions exist to be refined; refinement needs the composed page.
    if (!immediate_region(seg->type) || seg->type >= JB2_SEG_REFINE_INTERMEDIATE) return false;
    if (seg->region.combOp != JB2_COMBOP_OR) return false;
    if (text_region(seg->type) &&
        (seg->body.textRegion.combOp != JB2_COMBOP_OR || seg->body.textRegion.defaultPixel != 0))
      return false;
  }
  return true;
}

VltStatus jb2_tokPlacements(Jb2File* file, const VltAdtList* list, const VltAdtListNode* last, int32_t clipWidth,
                            int32_t clipHeight, Jb2TokPosition** positions, int32_t* count) {
  VltState* state = jb2GetFileVlt_State(file);
  *positions = nullptr;
  *count = 0;
  const PageSize page = page_size(list, last, clipWidth, clipHeight);
  const int64_t width = std::min<int64_t>(page.width, clipWidth), height = std::min<int64_t>(page.height, clipHeight);

  size_t total = 0;
  for (const VltAdtListNode* n = first_after(list, last); n != nullptr; n = n->next) {
    const auto* seg = static_cast<const SegmentInfo*>(n->data);
    if (!immediate_region(seg->type)) continue;
    const size_t add = text_region(seg->type) ? static_cast<size_t>(std::max(seg->body.textRegion.count, 0)) : 1;
    if (!mono::checked_add(total, add, &total)) return Vlt_report(state, VLT_ERR_NOMEM);
  }
  if (total == 0) return VLT_OK;
  size_t bytes = 0;
  if (total > INT32_MAX || !mono::checked_mul(total, sizeof(Jb2TokPosition), &bytes))
    return Vlt_report(state, VLT_ERR_NOMEM);
  auto* out = static_cast<Jb2TokPosition*>(state->malloc(bytes));
  if (out == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);

  int32_t n = 0;
  // Instances first, as they come; region bitmaps after them (OR makes the order immaterial).
  for (const VltAdtListNode* node = first_after(list, last); node != nullptr; node = node->next) {
    const auto* seg = static_cast<const SegmentInfo*>(node->data);
    if (!text_region(seg->type)) continue;
    const Window w = region_window(seg->region, width, height);
    const Jb2TextRegion& t = seg->body.textRegion;
    for (int32_t i = 0; i < t.count; ++i) {
      const Jb2Instance& in = t.instances[i];
      const int64_t x = int64_t{seg->region.x} + in.x, y = int64_t{seg->region.y} + in.y;
      if (in.refined != nullptr) {
        const Jb2RefinedBitmap& r = *in.refined;
        place(out, &n, w, x, y, r.width, r.height, r.bits, r.wordsPerRow);
      } else if (in.symbol != nullptr) {
        const Jb2Symbol& s = *in.symbol;
        place(out, &n, w, x, y, s.width, s.height, s.bits, s.wordsPerRow);
      }
    }
  }
  for (const VltAdtListNode* node = first_after(list, last); node != nullptr; node = node->next) {
    auto* seg = static_cast<SegmentInfo*>(node->data);
    if (!immediate_region(seg->type) || text_region(seg->type)) continue;
    if (seg->region.width == 0 || seg->region.height == 0) continue;
    if (const VltStatus st = jb2RenderRegion(file, seg); st != VLT_OK) {
      state->free(out);
      return st;
    }
    const VltImage* b = seg->bitmap;
    place(out, &n, region_window(seg->region, width, height), seg->region.x, seg->region.y, b->hdr.width,
          b->hdr.height, b->rows[0], b->hdr.bytesPerLine / 4);
  }
  if (n == 0) {
    state->free(out);
    return VLT_OK;
  }
  *positions = out;
  *count = n;
  return VLT_OK;
}

VltStatus jb2_composeTokPage(Jb2File* file, const VltAdtList* list, const VltAdtListNode* last, uint8_t* dst,
                             int32_t clipWidth, int32_t clipHeight, int32_t dstWords) {
  VltState* state = jb2GetFileVlt_State(file);
  const PageSize page = page_size(list, last, clipWidth, clipHeight);
  if (page.width <= 0 || page.height <= 0) return VLT_OK;
  if (page.width > INT32_MAX || page.height > INT32_MAX)
    return jb2Fail(file, VLT_ERR_CODEC, "page too large");
  if (const VltStatus st = jb2CheckRegionSize(file, static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height));
      st != VLT_OK)
    return st;
  VltImage* image = nullptr;
  if (const VltStatus st = VltImage_new(state, VLT_IMAGE_PACKED, static_cast<int32_t>(page.width),
                                        static_cast<int32_t>(page.height), &image);
      st != VLT_OK)
    return st;
  if (page.info != nullptr && page.info->defaultPixel != 0) VltBlat_blitFillPacked(image);
  VltStatus st = VLT_OK;
  for (const VltAdtListNode* n = first_after(list, last); n != nullptr && st == VLT_OK; n = n->next) {
    auto* seg = static_cast<SegmentInfo*>(n->data);
    if (immediate_region(seg->type)) st = jb2RenderRegionIntoPage(file, seg, image);
  }
  if (st == VLT_OK)
    st = VltBlat_blitBitsOp(dst, dstWords, 0, 0, clipWidth, clipHeight, image->rows[0], image->hdr.bytesPerLine / 4,
                            image->hdr.width, image->hdr.height, 0, 0, VLT_BLIT_OR);
  VltImage_free(image);
  return st;
}

void jb2_releaseTokSegments(VltAdtList* list, VltAdtListNode* last, VltState* state) {
  VltAdtListNode* n = last != nullptr ? last->next : list->first;
  while (n != nullptr) {
    release(static_cast<SegmentInfo*>(n->data), state);
    VltAdt_liRemAndNext(n, &n);
  }
}

VltStatus jb2_decodeTokPositions(Jb2TokPosition** positions, int32_t* count, const uint8_t* bytes, uint32_t length,
                                 VltAdtList* list, int32_t clipWidth, int32_t clipHeight, VltState* state) {
  *positions = nullptr;
  *count = 0;
  Jb2File* file = nullptr;
  VltStatus st = jb2CreateFile(nullptr, nullptr, state, &file);
  if (st != VLT_OK) return st;
  VltAdtListNode* const entry = list->last;
  st = jb2_readTokPage(file, bytes, length, list);
  if (st == VLT_OK) st = jb2_tokPlacements(file, list, entry, clipWidth, clipHeight, positions, count);
  if (st != VLT_OK) jb2_releaseTokSegments(list, entry, state);
  jb2FreeFile(file);
  return st;
}

VltStatus jb2_getTokenCount(const uint8_t* bytes, uint32_t length, VltState* state, int32_t* count) {
  *count = -1;
  Work work(state);
  if (const VltStatus st = work.open(); st != VLT_OK) return st;
  DataSource source = memory_source(bytes, length, state);
  uint8_t type = 0;
  const auto is_dict = [](uint8_t t) { return t == JB2_SEG_SYMBOL_DICT; };
  if (const VltStatus st = find_header(work.file, &source, is_dict, &type, VLT_ERR_OVERFLOW); st != VLT_OK) return st;
  uint8_t flags[2], skip[8], n[4];
  if (read_field(&source, 2, flags) != VLT_OK) return header_walk_fail(state, VLT_ERR_IO_LENGTH, count);
  const uint16_t f = mono::load_be16(flags);
  const bool huffman = (f & 1) != 0, refAgg = (f & 2) != 0;
  const uint32_t atBytes = huffman ? 0 : ((f >> 10) & 3) == 0 ? 8 : 2;
  const uint32_t ratBytes = refAgg && ((f >> 12) & 1) == 0 ? 4 : 0;
  if (read_field(&source, atBytes, skip) != VLT_OK || read_field(&source, ratBytes, skip) != VLT_OK ||
      read_field(&source, 4, n) != VLT_OK)
    return header_walk_fail(state, VLT_ERR_IO_LENGTH, count);
  *count = static_cast<int32_t>(mono::load_be32(n));
  return VLT_OK;
}

VltStatus jb2_getTokPosCount(const uint8_t* bytes, uint32_t length, VltState* state, int32_t* count) {
  *count = -1;
  Work work(state);
  if (const VltStatus st = work.open(); st != VLT_OK) return st;
  DataSource source = memory_source(bytes, length, state);
  uint8_t type = 0;
  const auto is_text = [](uint8_t t) { return t == JB2_SEG_TEXT_INTERMEDIATE || text_region(t); };
  if (const VltStatus st = find_header(work.file, &source, is_text, &type, VLT_ERR_OVERFLOW); st != VLT_OK) return st;
  uint8_t info[17], flags[2], skip[4], n[4];
  if (read_field(&source, 17, info) != VLT_OK || read_field(&source, 2, flags) != VLT_OK)
    return header_walk_fail(state, VLT_ERR_IO_LENGTH, count);
  const uint16_t f = mono::load_be16(flags);
  const bool huffman = (f & 1) != 0, refine = (f & 2) != 0;
  const uint32_t huffBytes = huffman ? 2 : 0;
  const uint32_t ratBytes = refine && ((f >> 15) & 1) == 0 ? 4 : 0;
  if (read_field(&source, huffBytes, skip) != VLT_OK || read_field(&source, ratBytes, skip) != VLT_OK ||
      read_field(&source, 4, n) != VLT_OK)
    return header_walk_fail(state, VLT_ERR_IO_LENGTH, count);
  *count = static_cast<int32_t>(mono::load_be32(n));
  return VLT_OK;
}

VltStatus jb2_decodeTokDict(VltTokenRecord* records, int32_t capacity, const uint8_t* bytes, uint32_t length,
                            VltState* state) {
  SegmentInfo* dict = nullptr;
  if (const VltStatus st = jb2_decodeTokDictSeg(&dict, bytes, length, state); st != VLT_OK) return st;
  Jb2SymbolDict& d = dict->body.symbolDict;
  if (d.count > capacity) {
    release(dict, state);
    return Vlt_report(state, VLT_ERR_PARAM);
  }
  for (int32_t k = 0; k < d.count; ++k) {
    Jb2Symbol& s = d.symbols[k];
    records[k] = VltTokenRecord{s.bits, nullptr, 0, static_cast<uint16_t>(s.width), static_cast<uint16_t>(s.height),
                                static_cast<uint16_t>(s.wordsPerRow), 0};
    s.bits = nullptr;
    s.owner = &records[k];
  }
  release(dict, state);
  return VLT_OK;
}

VltStatus jb2_decodeBinExtension(uint8_t** payload, uint32_t* payloadLength, uint32_t* type, const uint8_t* bytes,
                                 uint32_t length, VltState* state) {
  *payload = nullptr;
  *payloadLength = 0;
  *type = 0;
  Work work(state);
  if (const VltStatus st = work.open(); st != VLT_OK) return st;
  DataSource source = memory_source(bytes, length, state);
  while (has_data(source)) {
    SegmentInfo seg{};
    VltStatus st = jb2DecodeSegmentHeader(work.file, &source, &seg);
    if (st != VLT_OK) return st;
    if (seg.type == JB2_SEG_EXTENSION) {
      st = jb2DecodeSegment(work.file, &source, &seg, nullptr);
      if (st == VLT_OK) {
        *type = seg.body.extension.type;
        *payload = seg.body.extension.payload;
        *payloadLength = seg.body.extension.length;
        seg.body.extension.payload = nullptr;
      }
      jb2FreeSegmentInfo(&seg, state);
      return st;
    }
    jb2FreeSegmentInfo(&seg, state);
    if (seg.type == JB2_SEG_END_OF_PAGE || !skip_data(&source, seg.dataLength)) break;
  }
  return VLT_OK;
}
