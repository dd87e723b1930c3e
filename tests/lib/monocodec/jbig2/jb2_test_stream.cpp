#include "jb2_test_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <stdexcept>

#include "vlt_state.h"

namespace jb2test {

WindowSource::WindowSource(VltState* state, const std::vector<uint8_t>& b, std::vector<uint32_t> s)
    : bytes(&b), sizes(std::move(s)) {
  source.moredata = more;
  source.context = this;
  source.state = state;
}

VltStatus WindowSource::more(DataSource* s, void*) {
  auto* w = static_cast<WindowSource*>(s->context);
  ++w->calls;
  if (w->next >= w->bytes->size()) return VLT_ERR_IO_LENGTH;
  const uint32_t n = std::min<uint32_t>(w->sizes[w->turn++ % w->sizes.size()],
                                        static_cast<uint32_t>(w->bytes->size() - w->next));
  s->data = w->bytes->data() + w->next;
  s->size = n;
  s->pos = 0;
  w->next += n;
  return VLT_OK;
}

void check(VltStatus st, const std::string& what) {
  if (st != VLT_OK) throw std::runtime_error(what + " failed with status " + std::to_string(st));
}

Bytes join_chunks(VltAdtList* chunks, VltState* state) {
  Bytes out;
  for (VltAdtListNode* n = chunks->first; n != nullptr; n = n->next) {
    auto* c = static_cast<Jb2MemChunk*>(n->data);
    out.insert(out.end(), c->buffer, c->buffer + c->used);
    state->free(c->buffer);
    state->free(c);
  }
  VltAdt_liFree(chunks);
  return out;
}

MemoryStream::MemoryStream(VltState* state) : state_(state) {
  check(jb2NewMemoryDataSink(state, &sink_), "jb2NewMemoryDataSink");
  const VltStatus st = jb2CreateFile(sink_, sink_, state, &file_);
  if (st != VLT_OK) {
    VltAdtList* chunks = nullptr;
    jb2CloseMemoryDataSink(sink_, &chunks);
    join_chunks(chunks, state);
    check(st, "jb2CreateFile");
  }
}

MemoryStream::~MemoryStream() {
  if (sink_ != nullptr) finish();
  jb2FreeFile(file_);
}

Bytes MemoryStream::finish() {
  VltAdtList* chunks = nullptr;
  const VltStatus st = jb2CloseMemoryDataSink(sink_, &chunks);
  sink_ = nullptr;
  Bytes out = join_chunks(chunks, state_);
  check(st, "jb2CloseMemoryDataSink");
  return out;
}

Bytes t88_file(VltState* state, const PageSpec& page, const SegmentWriter& segments,
               const Jb2FileParams* params) {
  MemoryStream s(state);
  if (params != nullptr) jb2SetFileParams(s.file(), params);
  // File header: the identification string, sequential organisation, one page.
  static constexpr uint8_t kHeader[] = {0x97, 'J', 'B', '2', 0x0D, 0x0A, 0x1A, 0x0A, 0x01, 0, 0, 0, 1};
  check(jb2WriteBytes(s.file(), s.sink(), kHeader, sizeof kHeader), "file header");
  SegmentInfo info{};
  info.page = 1;
  info.body.pageInfo.width = page.width;
  info.body.pageInfo.height = page.height;
  info.body.pageInfo.xResolution = 11811;
  info.body.pageInfo.yResolution = 11811;
  info.body.pageInfo.eventuallyLossless = 1;
  info.body.pageInfo.defaultPixel = page.defaultPixel;
  check(jb2EncodePageInfo(s.file(), &info), "jb2EncodePageInfo");
  if (segments) check(segments(s.file()), "the page's segments");
  SegmentInfo eop{};
  eop.page = 1;
  check(jb2EncodeEOPage(s.file(), &eop), "jb2EncodeEOPage");
  SegmentInfo eof{};
  check(jb2EncodeEOFile(s.file(), &eof), "jb2EncodeEOFile");
  return s.finish();
}

VltImage* packed_image(VltState* state, const monotest::RefBitmap& bm, bool dirtyPadding) {
  VltImage* im = nullptr;
  check(VltImage_new(state, VLT_IMAGE_PACKED, bm.width, bm.height, &im), "VltImage_new");
  for (int y = 0; y < bm.height; ++y) {
    uint8_t* row = im->rows[y];
    std::memset(row, 0, static_cast<size_t>(im->hdr.bytesPerLine));
    std::memcpy(row, bm.row(y), bm.stride);
    if (dirtyPadding)
      for (int x = bm.width; x < im->hdr.bytesPerLine * 8; ++x) row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    else if (bm.width % 8 != 0)
      row[bm.width >> 3] &= static_cast<uint8_t>(0xFF00u >> (bm.width & 7));
  }
  return im;
}

monotest::RefBitmap ref_bitmap(const VltImage* image) {
  monotest::RefBitmap bm(image->hdr.width, image->hdr.height);
  for (int y = 0; y < bm.height; ++y)
    for (int x = 0; x < bm.width; ++x) bm.set(x, y, VltImage_getPackedPixel(image, x, y));
  return bm;
}

SegmentInfo generic_record(VltImage* bitmap, uint32_t x, uint32_t y, bool mmr,
                           const Jb2GenericParams& params) {
  SegmentInfo seg{};
  seg.page = 1;
  seg.type = JB2_SEG_GENERIC_IMMEDIATE;
  seg.region = Jb2RegionInfo{static_cast<uint32_t>(bitmap->hdr.width), static_cast<uint32_t>(bitmap->hdr.height),
                             x, y, JB2_COMBOP_OR};
  seg.hasBitmap = 1;
  seg.bitmap = bitmap;
  seg.body.generic.mmr = mmr ? 1 : 0;
  seg.body.generic.params = params;
  return seg;
}

}  // namespace jb2test
