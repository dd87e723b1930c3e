#include "jb2_page_reader.h"

#include <cstring>

#include "byteorder.h"
#include "vlt_blit.h"
#include "vlt_state.h"

namespace jb2test {

namespace {

VltStatus no_more(DataSource*, void*) { return VLT_OK; }

VltStatus fail(VltState* state, const char* message) {
  return Vlt_reportErrMsg(state->errState, VLT_ERR_CODEC, "%s", message);
}

// The page being assembled: a Packed image whose rows beyond `height` are spare room for pages
// that grow stripe by stripe.
struct Page {
  VltState* state;
  VltImage* image = nullptr;
  uint32_t height = 0;
  uint32_t capacity = 0;
  bool unknownHeight = false;
  bool untouched = true;  // every pixel still the default, nothing composed
  uint8_t defaultPixel = 0;
  uint64_t maxPixels = 0;

  ~Page() { VltImage_free(image); }

  // Rows past the height have not been written since the image was made (cleared).
  void fill_rows(uint32_t from, uint32_t to) const {
    if (!defaultPixel) return;
    const int32_t width = image->hdr.width;
    for (uint32_t y = from; y < to; ++y) {
      uint8_t* row = image->rows[y];
      for (int32_t k = 0; k < width / 32; ++k) mono::store_be32(row + 4 * k, ~0u);
      if (width % 32 != 0) mono::store_be32(row + 4 * (width / 32), mono::left_mask32(width % 32));
    }
  }

  VltStatus make(uint32_t width, uint32_t rows) {
    if (width > maxPixels || rows > maxPixels || uint64_t{width} * rows > maxPixels)
      return fail(state, "page too large");
    VltImage* im = nullptr;
    if (const VltStatus st = VltImage_new(state, VLT_IMAGE_PACKED, static_cast<int32_t>(width),
                                          static_cast<int32_t>(rows > 0 ? rows : 1), &im);
        st != VLT_OK)
      return st;
    if (image != nullptr) {
      for (uint32_t y = 0; y < height; ++y)
        std::memcpy(im->rows[y], image->rows[y], static_cast<size_t>(im->hdr.bytesPerLine));
      VltImage_free(image);
    }
    image = im;
    capacity = rows > 0 ? rows : 1;
    image->hdr.height = static_cast<int32_t>(height);
    return VLT_OK;
  }

  // Makes the page rows tall, filling new rows with the default pixel.
  VltStatus grow(uint64_t rows) {
    if (rows <= height) return VLT_OK;
    if (rows > maxPixels) return fail(state, "page too large");
    if (rows > capacity) {
      uint64_t want = uint64_t{capacity} * 2;
      if (want < rows) want = rows;
      if (want * static_cast<uint64_t>(image->hdr.width) > maxPixels) want = rows;
      if (const VltStatus st = make(static_cast<uint32_t>(image->hdr.width), static_cast<uint32_t>(want));
          st != VLT_OK)
        return st;
    }
    fill_rows(height, static_cast<uint32_t>(rows));
    height = static_cast<uint32_t>(rows);
    image->hdr.height = static_cast<int32_t>(height);
    return VLT_OK;
  }
};

VltStatus start_page(Page* page, const SegmentInfo* seg) {
  const Jb2PageInfo& info = seg->body.pageInfo;
  if (page->image != nullptr) return fail(page->state, "second page information for the page");
  page->defaultPixel = info.defaultPixel;
  if (info.width == 0) return fail(page->state, "empty page");
  if (info.height == 0xFFFFFFFFu) {
    if (!info.striped) return fail(page->state, "page of unknown height without stripes");
    page->unknownHeight = true;
    return page->make(info.width, info.maxStripe);
  }
  if (const VltStatus st = page->make(info.width, info.height); st != VLT_OK) return st;
  return page->grow(info.height);
}

bool immediate_region(uint8_t type) {
  return jb2IsRegionSegment(type) && (type & 3) != 0;
}

// What the loop does with one decoded segment of the page: 1 when the page is complete.
VltStatus act(Page* page, Jb2File* file, SegmentInfo* seg, bool* done) {
  VltState* state = page->state;
  if (seg->type == JB2_SEG_PAGE_INFO) return start_page(page, seg);
  if (seg->type == JB2_SEG_END_OF_PAGE || seg->type == JB2_SEG_END_OF_FILE) {
    *done = true;
    return VLT_OK;
  }
  if (page->image == nullptr) {
    return jb2IsRegionSegment(seg->type) || seg->type == JB2_SEG_END_OF_STRIPE
               ? fail(state, "page segment before the page information")
               : VLT_OK;
  }
  if (seg->type == JB2_SEG_END_OF_STRIPE && page->unknownHeight)
    return page->grow(uint64_t{seg->body.endOfStripe.endRow} + 1);
  if (!immediate_region(seg->type)) return VLT_OK;
  if (page->unknownHeight) {
    if (const VltStatus st = page->grow(uint64_t{seg->region.y} + seg->region.height); st != VLT_OK) return st;
  }
  const bool untouched = page->untouched;
  page->untouched = false;
  const Jb2RegionInfo& r = seg->region;
  // A white page that is one MQ-coded generic region ORed, XORed or put onto it is that region's
  // bitmap: it becomes the page, whose own rows are then never touched. (MMR ORed goes straight
  // into the page anyway.)
  if (untouched && !page->defaultPixel && !page->unknownHeight && r.x == 0 && r.y == 0 &&
      r.width == static_cast<uint32_t>(page->image->hdr.width) && r.height == page->height &&
      (seg->type == JB2_SEG_GENERIC_IMMEDIATE || seg->type == JB2_SEG_GENERIC_LOSSLESS) &&
      !seg->body.generic.mmr &&
      (r.combOp == JB2_COMBOP_OR || r.combOp == JB2_COMBOP_XOR || r.combOp == JB2_COMBOP_REPLACE)) {
    if (const VltStatus st = jb2RenderGenReg(file, seg); st != VLT_OK) return st;
    VltImage_free(page->image);
    page->image = seg->bitmap;
    page->capacity = page->height;
    seg->bitmap = nullptr;
    seg->hasBitmap = 0;
    return VLT_OK;
  }
  return jb2RenderRegionIntoPage(file, seg, page->image);
}

struct Loop {
  VltState* state;
  uint32_t pageNumber = 1;
  Jb2File* file = nullptr;
  VltAdtList* decoded = nullptr;

  ~Loop() {
    if (decoded != nullptr) {
      for (VltAdtListNode* n = decoded->first; n != nullptr; n = n->next) {
        auto* seg = static_cast<SegmentInfo*>(n->data);
        jb2FreeSegmentInfo(seg, state);
        state->free(seg);
      }
      VltAdt_liFree(decoded);
    }
    jb2FreeFile(file);
  }

  // A fresh record holding one header; kept in the decoded list from then on.
  VltStatus header(DataSource* source, SegmentInfo** out) {
    auto* seg = static_cast<SegmentInfo*>(state->calloc(1, sizeof(SegmentInfo)));
    if (seg == nullptr) return Vlt_report(state, VLT_ERR_NOMEM);
    VltStatus st = jb2DecodeSegmentHeader(file, source, seg);
    if (st == VLT_OK) st = VltAdt_liAdd(decoded, seg, nullptr);
    if (st != VLT_OK) {
      jb2FreeSegmentInfo(seg, state);
      state->free(seg);
      return st;
    }
    *out = seg;
    return VLT_OK;
  }

  VltStatus data(DataSource* source, SegmentInfo* seg, Page* page, bool* done) {
    SegmentInfo** referred = nullptr;
    // Records of the segments before this one: the list holds this one last.
    VltStatus st = jb2MarshalSegments(file, seg, decoded, &referred);
    if (st != VLT_OK) return st;
    st = jb2DecodeSegment(file, source, seg, referred);
    state->free(referred);
    if (st != VLT_OK) return st;
    // Regions that are only referred to never meet the page's bounds: hold them to its limit.
    if (jb2IsRegionSegment(seg->type) && uint64_t{seg->region.width} * seg->region.height > page->maxPixels)
      return fail(state, "region larger than a page may be");
    const bool mine = pageNumber == 0 ? seg->page != 0 : seg->page == pageNumber;
    if (mine || seg->type == JB2_SEG_END_OF_FILE) return act(page, file, seg, done);
    return VLT_OK;
  }
};

bool at_end(DataSource* source) {
  int next = -1;
  dsPeek(source, &next);
  return next < 0;
}

}  // namespace

void memory_source(DataSource* source, VltState* state, const uint8_t* data, size_t size) {
  *source = DataSource{data, static_cast<uint32_t>(size), 0, no_more, nullptr, state};
}

VltStatus read_page(VltState* state, DataSource* source, StreamForm form, VltImage** out,
                    uint64_t maxPixels, uint32_t pageNumber) {
  *out = nullptr;
  Loop loop{state};
  loop.pageNumber = pageNumber;
  Page page{state};
  page.maxPixels = maxPixels;
  VltStatus st = jb2CreateFile(nullptr, nullptr, state, &loop.file);
  // Every bitmap the segment decoders make is bound as the page is.
  if (st == VLT_OK) loop.file->maxPixels = maxPixels;
  if (st == VLT_OK) st = VltAdt_liNew(&loop.decoded, state);
  if (st != VLT_OK) return st;

  bool sequential = true;
  if (form == StreamForm::kFile) {
    static constexpr uint8_t kId[8] = {0x97, 'J', 'B', '2', 0x0D, 0x0A, 0x1A, 0x0A};
    uint8_t head[9];
    uint32_t got = 0;
    if ((st = dsRead(source, sizeof head, head, &got)) != VLT_OK) return st;
    if (std::memcmp(head, kId, sizeof kId) != 0) return fail(state, "not a JBIG2 file");
    if ((head[8] & 0xFC) != 0) return fail(state, "unsupported file header flags");
    sequential = (head[8] & 1) != 0;
    if ((head[8] & 2) == 0 && (st = dsRead(source, 4, head, &got)) != VLT_OK) return st;
  }

  bool done = false;
  if (sequential) {
    while (!done) {
      if (at_end(source)) {
        if (form == StreamForm::kFile) return fail(state, "stream ends before the end of the page");
        break;
      }
      SegmentInfo* seg = nullptr;
      if ((st = loop.header(source, &seg)) != VLT_OK) return st;
      if ((st = loop.data(source, seg, &page, &done)) != VLT_OK) return st;
    }
  } else {
    // All headers first, up to the end of file, then the data parts in the same order.
    for (;;) {
      if (at_end(source)) return fail(state, "stream ends before the end of the headers");
      SegmentInfo* seg = nullptr;
      if ((st = loop.header(source, &seg)) != VLT_OK) return st;
      if (seg->type == JB2_SEG_END_OF_FILE) break;
    }
    for (VltAdtListNode* n = loop.decoded->first; n != nullptr && !done; n = n->next) {
      auto* seg = static_cast<SegmentInfo*>(n->data);
      // Referred segments must come earlier: look them up among the ones before this.
      VltAdtListNode* after = n->next;
      n->next = nullptr;
      VltAdtListNode* last = loop.decoded->last;
      loop.decoded->last = n;
      st = loop.data(source, seg, &page, &done);
      n->next = after;
      loop.decoded->last = last;
      if (st != VLT_OK) return st;
    }
    if (!done) return fail(state, "stream ends before the end of the page");
  }
  if (page.image == nullptr) return fail(state, "no page information");
  if (page.height == 0) return fail(state, "empty page");
  *out = page.image;
  page.image = nullptr;
  return VLT_OK;
}

VltStatus read_pages(VltState* state, const uint8_t* data, size_t size, std::vector<VltImage*>* pages,
                     uint64_t maxPixels) {
  auto drop = [&](VltStatus st) {
    for (VltImage* im : *pages) VltImage_free(im);
    pages->clear();
    return st;
  };
  DataSource source;
  memory_source(&source, state, data, size);
  Loop loop{state};
  loop.pageNumber = 0;
  VltStatus st = jb2CreateFile(nullptr, nullptr, state, &loop.file);
  if (st == VLT_OK) loop.file->maxPixels = maxPixels;
  if (st == VLT_OK) st = VltAdt_liNew(&loop.decoded, state);
  if (st != VLT_OK) return st;
  static constexpr uint8_t kId[8] = {0x97, 'J', 'B', '2', 0x0D, 0x0A, 0x1A, 0x0A};
  uint8_t head[13];
  uint32_t got = 0;
  if ((st = dsRead(&source, 9, head, &got)) != VLT_OK) return st;
  if (std::memcmp(head, kId, sizeof kId) != 0 || (head[8] & 0xFD) != 1)
    return fail(state, "not a sequential JBIG2 file");
  if ((head[8] & 2) == 0 && (st = dsRead(&source, 4, head + 9, &got)) != VLT_OK) return st;
  for (bool end = false; !end && !at_end(&source);) {
    Page page{state};
    page.maxPixels = maxPixels;
    for (bool done = false; !done;) {
      if (at_end(&source)) return drop(fail(state, "stream ends before the end of the page"));
      SegmentInfo* seg = nullptr;
      if ((st = loop.header(&source, &seg)) != VLT_OK || (st = loop.data(&source, seg, &page, &done)) != VLT_OK)
        return drop(st);
      end = seg->type == JB2_SEG_END_OF_FILE;
    }
    if (page.image != nullptr) {
      pages->push_back(page.image);
      page.image = nullptr;
    }
  }
  return VLT_OK;
}

namespace {

struct Piece {
  size_t headerAt, headerLength;
  size_t dataAt, dataLength;
  uint8_t type;
  uint32_t page;
};

// One segment header at b[at]; false when it runs past the end.
bool parse_header(const uint8_t* b, size_t size, size_t at, Piece* p) {
  auto need = [&](size_t n) { return at + n <= size; };
  if (!need(6)) return false;
  const uint32_t number = mono::load_be32(b + at);
  const uint8_t flags = b[at + 4];
  size_t q = at + 5;
  uint64_t count = b[q] >> 5;
  if (count == 7) {
    if (q + 4 > size) return false;
    count = mono::load_be32(b + q) & 0x1FFFFFFFu;
    q += 4 + (count + 8) / 8;
  } else {
    q += 1;
  }
  const size_t width = number <= 256 ? 1 : number <= 65536 ? 2 : 4;
  q += count * width;
  const size_t pageBytes = (flags & 0x40) != 0 ? 4 : 1;
  if (q + pageBytes + 4 > size) return false;
  p->page = pageBytes == 4 ? mono::load_be32(b + q) : b[q];
  q += pageBytes;
  p->dataLength = mono::load_be32(b + q);
  q += 4;
  p->type = flags & 0x3F;
  p->headerAt = at;
  p->headerLength = q - at;
  p->dataAt = q;
  return true;
}

// A generic region of unknown length ends after its end sequence and the 4-byte row count.
bool unknown_length(const uint8_t* b, size_t size, Piece* p) {
  if (p->dataAt + 18 > size) return false;
  const bool mmr = (b[p->dataAt + 17] & 1) != 0;
  size_t q = p->dataAt + 18 + (mmr ? 0 : (b[p->dataAt + 17] & 6) == 0 ? 8 : 2);
  const uint8_t first = mmr ? 0x00 : 0xFF, second = mmr ? 0x00 : 0xAC;
  for (; q + 1 < size; ++q)
    if (b[q] == first && b[q + 1] == second) {
      p->dataLength = q + 2 + 4 - p->dataAt;
      return p->dataAt + p->dataLength <= size;
    }
  return false;
}

}  // namespace

bool split_file(const uint8_t* b, size_t size, SplitFile* out) {
  if (size < 9) return false;
  const bool sequential = (b[8] & 1) != 0;
  size_t at = (b[8] & 2) != 0 ? 9 : 13;
  std::vector<Piece> pieces;
  while (at < size) {
    Piece p;
    if (!parse_header(b, size, at, &p)) return false;
    if (sequential) {
      if (p.dataLength == 0xFFFFFFFFu && !unknown_length(b, size, &p)) return false;
      if (p.dataAt + p.dataLength > size) return false;
      at = p.dataAt + p.dataLength;
    } else {
      at = p.dataAt;
    }
    pieces.push_back(p);
    if (!sequential && p.type == JB2_SEG_END_OF_FILE) break;
  }
  if (!sequential) {
    for (Piece& p : pieces) {
      p.dataAt = at;
      if (at + p.dataLength > size) return false;
      at += p.dataLength;
    }
  }
  *out = SplitFile{};
  for (const Piece& p : pieces) {
    out->types.push_back(p.type);
    if ((p.page != 0 && p.page != 1) || p.type == JB2_SEG_END_OF_PAGE || p.type == JB2_SEG_END_OF_FILE)
      continue;
    out->boundaries.push_back(out->embedded.size());
    out->embedded.insert(out->embedded.end(), b + p.headerAt, b + p.headerAt + p.headerLength);
    out->embedded.insert(out->embedded.end(), b + p.dataAt, b + p.dataAt + p.dataLength);
  }
  out->boundaries.push_back(out->embedded.size());
  return true;
}

VltStatus read_page(VltState* state, const uint8_t* data, size_t size, StreamForm form,
                    VltImage** page, uint64_t maxPixels, uint32_t pageNumber) {
  DataSource source;
  memory_source(&source, state, data, size);
  return read_page(state, &source, form, page, maxPixels, pageNumber);
}

}  // namespace jb2test
