// Segment headers, the lookup of referred segments, the dispatch tables and the small pieces the
// segment decoders share.

#include <array>
#include <cstring>

#include "byteorder.h"
#include "jb2_decode.h"
#include "vlt_blit.h"
#include "vlt_state.h"

namespace {

const VltErrState* reporter(const Jb2File* file) {
  const VltState* st = jb2GetFileVlt_State(file);
  return st != nullptr ? st->errState : nullptr;
}

VltStatus read_exact(DataSource* source, uint32_t n, uint8_t* dest) {
  uint32_t got = 0;
  return dsRead(source, n, dest, &got);
}

VltStatus read_byte(DataSource* source, uint8_t* b) {
  if (source->pos < source->size) {
    *b = source->data[source->pos++];
    return VLT_OK;
  }
  return _dsGetc(source, b);
}

VltStatus read_u32(DataSource* source, uint32_t* v) {
  uint8_t b[4];
  const VltStatus st = read_exact(source, 4, b);
  if (st == VLT_OK) *v = mono::load_be32(b);
  return st;
}

// Makes sure the parent has unread bytes in its window; false when its data has ended.
bool parent_has_data(DataSource* p) {
  if (p->pos < p->size) return true;
  if (p->moredata == nullptr || p->moredata(p, nullptr) != VLT_OK) return false;
  return p->pos < p->size;
}

// The bounded view's refill: the next piece of the parent, never past the segment's end. At
// that end (or where the parent's data ends) the window stays empty, so readers meet the end of
// data; a parent that ended early is noticed again when the rest of the segment is skipped.
VltStatus bounded_more(DataSource* s, void*) {
  auto* b = static_cast<Jb2BoundedSource*>(s->context);
  s->pos = s->size;
  if (b->left == 0 || !parent_has_data(b->parent)) return VLT_OK;
  DataSource* p = b->parent;
  const uint32_t avail = p->size - p->pos;
  const uint32_t take = avail < b->left ? avail : b->left;
  s->data = p->data + p->pos;
  s->size = take;
  s->pos = 0;
  p->pos += take;
  b->left -= take;
  return VLT_OK;
}

// Grows an array of elements to hold at least need of them, doubling, never beyond limit.
template <typename T>
bool grow(VltState* state, T** array, uint32_t* capacity, uint32_t need, uint32_t limit) {
  if (need <= *capacity) return true;
  uint64_t cap = *capacity != 0 ? *capacity : 16;
  while (cap < need) cap *= 2;
  if (cap > limit) cap = limit;
  auto* p = static_cast<T*>(*array != nullptr ? state->realloc(*array, cap * sizeof(T))
                                              : state->malloc(cap * sizeof(T)));
  if (p == nullptr) return false;
  *array = p;
  *capacity = static_cast<uint32_t>(cap);
  return true;
}

void drop_referred(SegmentInfo* seg, VltState* state) {
  state->free(seg->referred);
  state->free(seg->referredRetain);
  seg->referred = nullptr;
  seg->referredRetain = nullptr;
}

// The long form's retention bits: bit 0 of the first byte is this segment's, then one bit per
// referred segment, least significant first. Read in pieces so the flags grow with the bytes.
VltStatus read_long_retention(Jb2File* file, DataSource* source, SegmentInfo* seg, uint32_t count) {
  VltState* state = jb2GetFileVlt_State(file);
  const uint64_t bytes = (uint64_t{count} + 8) / 8;
  uint32_t capacity = 0;
  uint32_t flags = 0;
  uint8_t piece[256];
  for (uint64_t done = 0; done < bytes;) {
    const uint32_t n = bytes - done < sizeof piece ? static_cast<uint32_t>(bytes - done) : sizeof piece;
    if (const VltStatus st = read_exact(source, n, piece); st != VLT_OK) return st;
    const uint32_t need = flags + 8 * n < count ? flags + 8 * n : count;
    if (!grow(state, &seg->referredRetain, &capacity, need, count)) return Vlt_report(state, VLT_ERR_NOMEM);
    for (uint32_t i = 0; i < n; ++i) {
      for (int bit = 0; bit < 8; ++bit) {
        const uint64_t index = (done + i) * 8 + static_cast<uint64_t>(bit);
        const uint8_t v = (piece[i] >> bit) & 1;
        if (index == 0)
          seg->retain = v;
        else if (index <= count)
          seg->referredRetain[flags++] = v;
      }
    }
    done += n;
  }
  return VLT_OK;
}

VltStatus read_referred_numbers(Jb2File* file, DataSource* source, SegmentInfo* seg, uint32_t count) {
  VltState* state = jb2GetFileVlt_State(file);
  const int width = seg->number <= 256 ? 1 : seg->number <= 65536 ? 2 : 4;
  uint32_t capacity = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!grow(state, &seg->referred, &capacity, i + 1, count)) return Vlt_report(state, VLT_ERR_NOMEM);
    uint8_t b[4];
    if (const VltStatus st = read_exact(source, static_cast<uint32_t>(width), b); st != VLT_OK) return st;
    const uint32_t r = width == 1 ? b[0] : width == 2 ? mono::load_be16(b) : mono::load_be32(b);
    if (r >= seg->number) return jb2Fail(file, VLT_ERR_CODEC, "bad referenced segment number");
    seg->referred[i] = r;
  }
  return VLT_OK;
}

constexpr auto make_decoders() {
  Jb2DecodeTable t{};
  t[0] = jb2DecodeSymDict;
  t[4] = t[6] = t[7] = jb2DecodeSymReg;
  t[16] = jb2DecodeHTDict;
  t[20] = t[22] = t[23] = jb2DecodeHTReg;
  t[36] = t[38] = t[39] = jb2DecodeGenReg;
  t[40] = t[42] = t[43] = jb2DecodeGenRefReg;
  t[48] = jb2DecodePageInfo;
  t[49] = jb2DecodeEOPage;
  t[50] = jb2DecodeEOStripe;
  t[51] = jb2DecodeEOFile;
  t[52] = jb2DecodeProfiles;
  t[53] = jb2DecodeHuffTable;
  t[62] = jb2DecodeExtension;
  return t;
}

constexpr auto make_renderers() {
  Jb2RenderTable t{};
  t[4] = t[6] = t[7] = jb2RenderSymReg;
  t[20] = t[22] = t[23] = jb2RenderHTReg;
  t[36] = t[38] = t[39] = jb2RenderGenReg;
  t[40] = t[42] = t[43] = jb2RenderGenRefReg;
  return t;
}

constexpr auto make_intorenderers() {
  Jb2RenderIntoTable t{};
  t[4] = t[6] = t[7] = jb2RenderSymRegIntoPage;
  t[20] = t[22] = t[23] = jb2RenderHTRegIntoPage;
  t[36] = t[38] = t[39] = jb2RenderGenRegIntoPage;
  t[40] = t[42] = t[43] = jb2RenderGenRefRegIntoPage;
  return t;
}

constexpr auto make_freeers() {
  Jb2FreeTable t{};
  t[0] = jb2FreeSymDictSegment;
  t[4] = t[6] = t[7] = jb2FreeSymRegSegment;
  t[16] = jb2FreeHTDictSegment;
  t[20] = t[22] = t[23] = jb2FreeHTRegSegment;
  t[36] = t[38] = t[39] = jb2FreeGenRegSegment;
  t[40] = t[42] = t[43] = jb2FreeGenRefRegSegment;
  t[53] = jb2FreeHuffTableSegment;
  t[62] = jb2FreeExtensionSegment;
  return t;
}

VltStatus bad_type(const Jb2File* file) { return jb2Fail(file, VLT_ERR_CODEC, "bad segment type"); }

}  // namespace

constexpr Jb2DecodeTable decoders = make_decoders();
constexpr Jb2RenderTable renderers = make_renderers();
constexpr Jb2RenderIntoTable intorenderers = make_intorenderers();
constexpr Jb2FreeTable freeers = make_freeers();

const uint32_t jb2Minterms[5] = {VLT_BLIT_OR, VLT_BLIT_AND, VLT_BLIT_XOR, VLT_BLIT_XNOR,
                                 VLT_BLIT_REPLACE};

// ---- Bounded sources -------------------------------------------------------------------------

void jb2BoundSource(Jb2BoundedSource* b, DataSource* parent, uint32_t length) {
  b->parent = parent;
  b->left = length;
  b->source = DataSource{parent->data, 0, 0, bounded_more, b, parent->state};
  const uint32_t avail = parent->pos < parent->size ? parent->size - parent->pos : 0;
  const uint32_t take = avail < length ? avail : length;
  b->source.data = parent->data + (avail != 0 ? parent->pos : 0);
  b->source.size = take;
  parent->pos += take;
  b->left -= take;
}

VltStatus jb2EndBoundedSource(Jb2BoundedSource* b) {
  b->source.pos = b->source.size;
  DataSource* p = b->parent;
  while (b->left > 0) {
    if (!parent_has_data(p)) return Vlt_report(p->state, VLT_ERR_IO_LENGTH);
    const uint32_t avail = p->size - p->pos;
    const uint32_t take = avail < b->left ? avail : b->left;
    p->pos += take;
    b->left -= take;
  }
  return VLT_OK;
}

// ---- Headers, references, dispatch -----------------------------------------------------------

VltStatus jb2DecodeSegmentHeader(Jb2File* file, DataSource* source, SegmentInfo* seg) {
  VltState* state = jb2GetFileVlt_State(file);
  seg->referred = nullptr;
  seg->referredRetain = nullptr;
  seg->referredCount = 0;
  seg->region = Jb2RegionInfo{};
  seg->hasBitmap = 0;
  seg->bitmap = nullptr;
  std::memset(&seg->body, 0, sizeof seg->body);

  uint8_t b[4];
  VltStatus st = read_exact(source, 4, b);
  if (st != VLT_OK) return st;
  seg->number = mono::load_be32(b);
  uint8_t flags = 0, countByte = 0;
  if ((st = read_byte(source, &flags)) != VLT_OK || (st = read_byte(source, &countByte)) != VLT_OK)
    return st;
  seg->type = flags & 0x3F;
  seg->deferred = (flags >> 7) & 1;

  uint32_t count = countByte >> 5;
  if (count == 7) {
    if ((st = read_exact(source, 3, b)) != VLT_OK) return st;
    count = static_cast<uint32_t>(countByte & 0x1F) << 24 | static_cast<uint32_t>(b[0]) << 16 |
            static_cast<uint32_t>(b[1]) << 8 | b[2];
    st = read_long_retention(file, source, seg, count);
  } else if (count == 5 || count == 6) {
    // The short form stops at four: bits 5 and 6 would be the count field itself.
    return jb2Fail(file, VLT_ERR_CODEC, "bad referred-to segment count");
  } else {
    seg->retain = countByte & 1;
    if (count != 0) {
      seg->referredRetain = static_cast<uint8_t*>(state->malloc(count));
      if (seg->referredRetain == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
      for (uint32_t i = 0; i < count; ++i) seg->referredRetain[i] = (countByte >> (i + 1)) & 1;
    }
  }
  if (st == VLT_OK) st = read_referred_numbers(file, source, seg, count);
  if (st == VLT_OK) st = (flags & 0x40) != 0 ? read_u32(source, &seg->page) : read_byte(source, b);
  if (st == VLT_OK && (flags & 0x40) == 0) seg->page = b[0];
  if (st == VLT_OK) st = read_u32(source, &seg->dataLength);
  if (st != VLT_OK) {
    drop_referred(seg, state);
    return st;
  }
  seg->referredCount = static_cast<int32_t>(count);
  return VLT_OK;
}

VltStatus jb2MarshalSegments(Jb2File* file, const SegmentInfo* seg, const VltAdtList* decoded,
                             SegmentInfo*** records) {
  VltState* state = jb2GetFileVlt_State(file);
  *records = nullptr;
  if (seg->referredCount <= 0) return VLT_OK;
  auto** out = static_cast<SegmentInfo**>(
      state->malloc(static_cast<size_t>(seg->referredCount) * sizeof(SegmentInfo*)));
  if (out == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
  // Referred numbers usually ascend: each search then goes on where the last one stopped.
  const VltAdtListNode* at = decoded != nullptr ? decoded->first : nullptr;
  for (int32_t i = 0; i < seg->referredCount; ++i) {
    const uint32_t want = seg->referred[i];
    if (i == 0 || want < seg->referred[i - 1]) at = decoded != nullptr ? decoded->first : nullptr;
    while (at != nullptr && static_cast<const SegmentInfo*>(at->data)->number != want) at = at->next;
    if (at == nullptr) {
      state->free(out);
      return Vlt_report(state, VLT_ERR_NULL);
    }
    out[i] = static_cast<SegmentInfo*>(at->data);
  }
  *records = out;
  return VLT_OK;
}

VltStatus jb2DecodeSegment(Jb2File* file, DataSource* source, SegmentInfo* seg,
                           SegmentInfo** referred) {
  const Jb2DecodeFn decode = decoders[seg->type & 0x3F];
  if (decode == nullptr) return bad_type(file);
  std::memset(&seg->body, 0, sizeof seg->body);
  if (seg->dataLength == JB2_UNKNOWN_LENGTH) {
    // Only a generic region finds its own end; it reads the stream itself.
    if (decode != jb2DecodeGenReg)
      return jb2Fail(file, VLT_ERR_CODEC, "segment of unknown data length");
    return decode(file, source, seg, referred);
  }
  Jb2BoundedSource view;
  jb2BoundSource(&view, source, seg->dataLength);
  // A segment that runs past the end of the stream can only fail, once its decoder has spent the
  // work its declared length pays for: a length of megabytes over a few bytes of data would buy
  // seconds of pixels decoded from nothing. It is refused before it is decoded. (Asking the
  // parent for its next window here relies on its refill leaving earlier windows readable, as
  // every source over a block of memory does.)
  if (view.left > 0 && !parent_has_data(source))
    return jb2Fail(file, VLT_ERR_IO_LENGTH, "segment data runs past the end of the stream");
  const VltStatus st = decode(file, &view.source, seg, referred);
  if (st != VLT_OK) return st;
  const VltStatus end = jb2EndBoundedSource(&view);
  if (end != VLT_OK) {
    if (const Jb2FreeFn f = freeers[seg->type & 0x3F]; f != nullptr) f(seg, jb2GetFileVlt_State(file));
    std::memset(&seg->body, 0, sizeof seg->body);
  }
  return end;
}

VltStatus jb2RenderRegion(Jb2File* file, SegmentInfo* seg) {
  const Jb2RenderFn render = renderers[seg->type & 0x3F];
  return render != nullptr ? render(file, seg) : bad_type(file);
}

VltStatus jb2RenderRegionIntoPage(Jb2File* file, SegmentInfo* seg, VltImage* page) {
  const Jb2RenderIntoFn render = intorenderers[seg->type & 0x3F];
  return render != nullptr ? render(file, seg, page) : bad_type(file);
}

void jb2FreeSegmentInfo(SegmentInfo* seg, VltState* state) {
  drop_referred(seg, state);
  if (jb2IsRegionSegment(seg->type) && seg->hasBitmap) VltImage_free(seg->bitmap);
  seg->hasBitmap = 0;
  seg->bitmap = nullptr;
  if (const Jb2FreeFn f = freeers[seg->type & 0x3F]; f != nullptr) f(seg, state);
  std::memset(&seg->body, 0, sizeof seg->body);
}

int jb2IsRegionSegment(uint8_t type) { return type < 48 && (type & 0x0C) != 0 ? 1 : 0; }

// ---- Shared pieces ---------------------------------------------------------------------------

VltStatus jb2Fail(const Jb2File* file, VltStatus code, const char* message) {
  return Vlt_reportErrMsg(reporter(file), code, "%s", message);
}

void jb2Warn(const Jb2File* file, const char* message) {
  Vlt_reportErrMsg(reporter(file), VLT_CODE_WARNING, "%s", message);
}

VltStatus jb2DecodeRegSegment(Jb2File* file, DataSource* source, Jb2RegionInfo* region) {
  uint8_t b[17];
  if (const VltStatus st = read_exact(source, sizeof b, b); st != VLT_OK) return st;
  if ((b[16] & 7) > JB2_COMBOP_REPLACE) return jb2Fail(file, VLT_ERR_CODEC, "bad combination operator");
  if ((b[16] & 0xF8) != 0) return jb2Fail(file, VLT_ERR_CODEC, "bad region flags");
  region->width = mono::load_be32(b);
  region->height = mono::load_be32(b + 4);
  region->x = mono::load_be32(b + 8);
  region->y = mono::load_be32(b + 12);
  region->combOp = b[16] & 7;
  return VLT_OK;
}

VltStatus jb2CheckRegionSize(Jb2File* file, uint32_t width, uint32_t height) {
  const uint64_t limit = file->maxPixels != 0 && file->maxPixels < JB2_MAX_REGION_PIXELS ? file->maxPixels
                                                                                         : JB2_MAX_REGION_PIXELS;
  if (width > limit || height > limit || uint64_t{width} * height > limit)
    return jb2Fail(file, VLT_ERR_CODEC, "region too large");
  return VLT_OK;
}

uint64_t jb2WorkBudget(const Jb2File* file, uint32_t dataLength) {
  const uint64_t paid = (uint64_t{dataLength} << JB2_WORK_PER_BYTE_LOG2) + file->workFloor;
  return paid < jb2MaxCodedPixels(dataLength) ? paid : jb2MaxCodedPixels(dataLength);
}

VltStatus jb2TakeWork(Jb2File* file, uint64_t* budget, uint64_t cost, const char* message) {
  if (cost > *budget) return jb2Fail(file, VLT_ERR_CODEC, message);
  *budget -= cost;
  file->workDone += cost;
  return VLT_OK;
}

void jb2SettleWork(Jb2File* file, uint32_t dataLength, uint64_t doneBefore) {
  const uint64_t done = file->workDone - doneBefore, paid = uint64_t{dataLength} << JB2_WORK_PER_BYTE_LOG2;
  if (done <= paid) return;
  file->workFloor -= done - paid < file->workFloor ? done - paid : file->workFloor;
}

uint32_t jb2InstanceBudget(const Jb2File* file, uint32_t dataLength) {
  const uint64_t paid = (uint64_t{dataLength} << JB2_INSTANCES_PER_BYTE_LOG2) + file->instanceFloor;
  return paid < JB2_MAX_INSTANCES ? static_cast<uint32_t>(paid) : JB2_MAX_INSTANCES;
}

void jb2SettleInstances(Jb2File* file, uint32_t dataLength, uint32_t count) {
  const uint64_t paid = uint64_t{dataLength} << JB2_INSTANCES_PER_BYTE_LOG2;
  if (count <= paid) return;
  file->instanceFloor -= count - paid < file->instanceFloor ? static_cast<uint32_t>(count - paid) : file->instanceFloor;
}

VltStatus jb2NewRegionBitmap(Jb2File* file, const Jb2RegionInfo& region, VltImage** bitmap) {
  if (const VltStatus st = jb2CheckRegionSize(file, region.width, region.height); st != VLT_OK) return st;
  return VltImage_new(jb2GetFileVlt_State(file), VLT_IMAGE_PACKED, static_cast<int32_t>(region.width),
                      static_cast<int32_t>(region.height), bitmap);
}

VltStatus findUserTables(JhtTable** slots, int32_t slotCount, SegmentInfo** referred,
                         int32_t referredCount, VltState* state) {
  int32_t found = 0;
  for (int32_t i = 0; i < referredCount; ++i) {
    if (referred[i]->type != JB2_SEG_TABLES) continue;
    if (found == slotCount) return Vlt_report(state, VLT_ERR_PARAM);
    slots[found++] = &referred[i]->body.codeTable;
  }
  return found == slotCount ? VLT_OK : Vlt_report(state, VLT_ERR_PARAM);
}

void jb2ReadoutBits(const uint8_t* src, uint32_t x, uint32_t srcWidth, uint32_t rows, uint8_t* dst,
                    uint32_t width) {
  const uint64_t srcWords = (uint64_t{srcWidth} + 31) / 32;
  const uint64_t dstWords = (uint64_t{width} + 31) / 32;
  const uint32_t tail = width % 32;
  for (uint32_t r = 0; r < rows; ++r) {
    const uint8_t* s = src + r * srcWords * 4;
    uint8_t* d = dst + r * dstWords * 4;
    for (uint64_t i = 0; i < dstWords; ++i) {
      const uint64_t bit = x + 32 * i;
      const uint64_t k = bit >> 5;
      const unsigned shift = static_cast<unsigned>(bit & 31);
      uint32_t v = k < srcWords ? mono::load_be32(s + 4 * k) << shift : 0;
      if (shift != 0 && k + 1 < srcWords) v |= mono::load_be32(s + 4 * (k + 1)) >> (32 - shift);
      if (i + 1 == dstWords && tail != 0) v &= mono::left_mask32(tail);
      mono::store_be32(d + 4 * i, v);
    }
  }
}

VltStatus jb2ReadBlock(Jb2File* file, DataSource* source, uint32_t n, uint8_t** block) {
  VltState* state = jb2GetFileVlt_State(file);
  *block = nullptr;
  if (n == 0) return VLT_OK;
  uint8_t* buf = nullptr;
  uint32_t capacity = 0, got = 0;
  while (got < n) {
    if (!grow(state, &buf, &capacity, got + (n - got < 65536 ? n - got : 65536), n)) {
      state->free(buf);
      return Vlt_report(state, VLT_ERR_NOMEM);
    }
    const uint32_t want = capacity - got;
    if (const VltStatus st = read_exact(source, want, buf + got); st != VLT_OK) {
      state->free(buf);
      return st;
    }
    got += want;
  }
  *block = buf;
  return VLT_OK;
}

VltStatus jb2DecodeProfiles(Jb2File*, DataSource*, SegmentInfo*, SegmentInfo**) { return VLT_OK; }
